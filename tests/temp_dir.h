#ifndef USERS_TESTS_TEMP_DIR_H_
#define USERS_TESTS_TEMP_DIR_H_

#include <string>

// A new directory that is removed with all it holds when the object ends.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Whole-file helpers; ReadFile gives "<missing>" for a file that is not there.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

#endif  // USERS_TESTS_TEMP_DIR_H_
