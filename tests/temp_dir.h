#ifndef USERS_TESTS_TEMP_DIR_H_
#define USERS_TESTS_TEMP_DIR_H_

#include <string>

// A new directory that is removed with all it holds when the object ends.
// Only its owner may write in it (mode 0755), so that no other user can
// plant a file or a link there while the tests run.
//
// It lies in $TMPDIR (or /tmp), except in a run as root: then the
// unprivileged child of a test must reach it too, so it lies in the first
// of $TMPDIR, /tmp, /var/tmp and /dev/shm that every user can enter.
class TempDir {
 public:
  // kPrograms: every user must also be able to start a program kept in it.
  enum class Use { kFiles, kPrograms };

  explicit TempDir(Use use = Use::kFiles);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

  // False when a run as root found no such place for `use`; a TempDir then
  // lies in $TMPDIR all the same, where other users may not reach it.
  static bool OthersCanReach(Use use);

 private:
  std::string path_;
};

// Whole-file helpers; ReadFile gives "<missing>" for a file that is not there.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

#endif  // USERS_TESTS_TEMP_DIR_H_
