#ifndef USERS_TESTS_PROGRAM_H_
#define USERS_TESTS_PROGRAM_H_

#include <string>
#include <utility>
#include <vector>

#include "tests/child_process.h"
#include "tests/temp_dir.h"

// The built program, started as "<dir>/<name>" so that its password file is
// "<dir>/<name>.dat".
class Program {
 public:
  explicit Program(const TempDir& dir, const std::string& name = "users")
      : argv0_(dir.File(name)), file_(dir.File(name + ".dat")) {}
  // Started as "users", so that its file is "users.dat" in the working
  // directory, which the run must then set to `dir`.
  static Program ByBareName(const TempDir& dir) { return Program("users", dir.File("users.dat")); }

  // A child that drops root's rights (ChildSetup::asNobody) runs a copy of
  // the program that every user can start: the build may lie below a
  // directory that only its owner can enter.
  ChildResult Run(const std::vector<std::string>& arguments, const ChildSetup& setup = {}) const;

  const std::string& passwordFile() const { return file_; }

 private:
  Program(std::string argv0, std::string file) : argv0_(std::move(argv0)), file_(std::move(file)) {}

  std::string argv0_;
  std::string file_;
};

// Empty when a run with ChildSetup::asNobody can reach the program and the
// files of a TempDir; otherwise why it cannot, for GTEST_SKIP().
std::string WhyNobodyCannotRun();

// Locks the whole file open as `fd` (F_RDLCK or F_WRLCK, without waiting)
// as another program might, in the program's way both of readers and of
// runs that change it. The lock goes when `fd` is closed.
bool LockWholeFile(int fd, short type);

// The usage text, byte for byte.
extern const char* const kUsage;

#endif  // USERS_TESTS_PROGRAM_H_
