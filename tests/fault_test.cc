// Faults around a save: each gives its decided output and exit status, and
// the old bytes survive wherever the save did not succeed.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "tests/program.h"

namespace {

const std::string kDenied = "Operation failed:  Access Denied : Unable to update password file.\n";
const std::string kAdded = "Operation Successful:  New user entry added.\n";

std::string OldContent() {
  std::string content;
  for (int i = 0; i < 200; ++i) content += "user" + std::to_string(i) + ":AAAAAA==:digest==\n";
  return content;
}

struct Fault {
  const char* name;
  std::function<void(const TempDir&)> prepare;  // after the password file was written
  ChildSetup setup;
  std::string output;
  int exitStatus;
  bool saved;  // the new user reached the file
};

ChildSetup DiskFull() {
  ChildSetup setup;
  setup.fileSizeLimit = 4096;
  return setup;
}
ChildSetup AsNobody() {
  ChildSetup setup;
  setup.asNobody = true;
  return setup;
}
ChildSetup Stdout(ChildSetup::Stdout mode) {
  ChildSetup setup;
  setup.stdoutMode = mode;
  return setup;
}

TEST(FaultTest, SaveFaults) {
  if (std::string why = WhyNobodyCannotRun(); !why.empty()) GTEST_SKIP() << why;
  auto none = [](const TempDir&) {};
  const Fault faults[] = {
      {"full disk", none, DiskFull(), kDenied, 1, false},
      {"read-only password file",
       [](const TempDir& dir) { ::chmod(dir.File("users.dat").c_str(), 0444); }, AsNobody(),
       kDenied, 1, false},
      // No new file can be made beside it, so it is rewritten where it lies.
      {"read-only directory",
       [](const TempDir& dir) {
         ::chmod(dir.File("users.dat").c_str(), 0666);
         ::chmod(dir.path().c_str(), 0555);
       },
       AsNobody(), kAdded, 0, true},
      {"closed standard output", none, Stdout(ChildSetup::Stdout::kClosed), "", 0, true},
      {"broken pipe", none, Stdout(ChildSetup::Stdout::kBrokenPipe), "", 0, true},
  };
  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.name);
    TempDir dir;
    Program program(dir);
    const std::string old = OldContent();
    WriteFile(program.passwordFile(), old);
    fault.prepare(dir);

    ChildResult result = program.Run({"add", "-u", "newcomer", "-p", "pw"}, fault.setup);
    ::chmod(dir.path().c_str(), 0755);
    EXPECT_EQ(result.output, fault.output);
    EXPECT_EQ(result.exitStatus, fault.exitStatus);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.errors, "");
    std::string after = ReadFile(program.passwordFile());
    EXPECT_EQ(after.substr(0, old.size()), old);
    EXPECT_EQ(after.size() > old.size(), fault.saved);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1)
        << "no temporary file stays behind";
  }
}

TEST(FaultTest, RemoveThatCannotSaveKeepsTheUser) {
  TempDir dir;
  Program program(dir);
  WriteFile(program.passwordFile(), OldContent());
  ChildResult result = program.Run({"remove", "-u", "user0"}, DiskFull());
  EXPECT_EQ(result.output, kDenied);
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(ReadFile(program.passwordFile()), OldContent());
}

TEST(FaultTest, SymbolicLinkStaysAndItsFileIsReplaced) {
  TempDir dir;
  Program program(dir);
  std::filesystem::create_directory(dir.File("real"));
  WriteFile(dir.File("real/passwords"), OldContent());
  std::filesystem::create_symlink("real/passwords", program.passwordFile());

  EXPECT_EQ(program.Run({"add", "-u", "newcomer", "-p", "pw"}).output, kAdded);
  EXPECT_TRUE(std::filesystem::is_symlink(program.passwordFile()));
  EXPECT_EQ(ReadFile(dir.File("real/passwords")).size(), OldContent().size() + 43);
  EXPECT_EQ(program.Run({"remove", "-u", "newcomer"}).exitStatus, 0);
  EXPECT_EQ(ReadFile(dir.File("real/passwords")), OldContent());
}

TEST(FaultTest, EmptyArgumentVectorPrintsTheUsage) {
  ChildResult result = RunProgram(USERS_BINARY, {});
  EXPECT_EQ(result.output, kUsage);
  EXPECT_EQ(result.exitStatus, 1);
}

}  // namespace
