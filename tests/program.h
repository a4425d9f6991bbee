#ifndef USERS_TESTS_PROGRAM_H_
#define USERS_TESTS_PROGRAM_H_

#include <string>
#include <vector>

#include "tests/child_process.h"
#include "tests/temp_dir.h"

// The built program, started as "<dir>/users" so that its password file is
// "<dir>/users.dat".
class Program {
 public:
  explicit Program(const TempDir& dir) : argv0_(dir.File("users")), file_(dir.File("users.dat")) {}

  ChildResult Run(const std::vector<std::string>& arguments, const ChildSetup& setup = {}) const;

  const std::string& passwordFile() const { return file_; }

 private:
  std::string argv0_;
  std::string file_;
};

// The usage text, byte for byte.
extern const char* const kUsage;

#endif  // USERS_TESTS_PROGRAM_H_
