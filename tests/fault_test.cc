// Faults around a save: each gives its decided output and exit status, and
// the old bytes survive wherever the save did not succeed.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

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
  std::function<void(const TempDir&)> meanwhile = nullptr;  // runs while the program runs
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

// The argument vector of the running process started as `argv0`, as the
// process list shows it; empty while there is none.
std::string ShownArguments(const std::string& argv0) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    std::string shown = ReadFile(entry.path() / "cmdline");
    if (shown.starts_with(argv0 + '\0')) return shown;
  }
  return "";
}

// While another process holds the lock, the run that waits for it shows
// its user name but no longer its password ("pw": two zero bytes).
void ExpectPasswordHiddenWhileWaiting(const TempDir& dir, int lock) {
  const std::string hidden = std::string("\0-u\0newcomer\0-p\0", 16) + std::string(3, '\0');
  std::string shown;
  if (std::filesystem::exists("/proc/self/cmdline")) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!(shown = ShownArguments(dir.File("users"))).ends_with(hidden) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(shown.ends_with(hidden)) << "shown: " << shown;
    EXPECT_EQ(ReadFile(dir.File("users.dat")), OldContent()) << "the run did not wait";
  }
  ::close(lock);
}

TEST(FaultTest, SaveFaults) {
  auto none = [](const TempDir&) {};
  int lock = -1;
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
      // Held as the program takes it, until the password was seen hidden.
      {"lock held by another process",
       [&lock](const TempDir& dir) {
         lock = ::open(dir.File("users.dat").c_str(), O_RDONLY | O_CLOEXEC);
         ASSERT_EQ(::flock(lock, LOCK_EX), 0);
       },
       {}, kAdded, 0, true,
       [&lock](const TempDir& dir) { ExpectPasswordHiddenWhileWaiting(dir, lock); }},
  };
  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.name);
    TempDir dir;
    Program program(dir);
    const std::string old = OldContent();
    WriteFile(program.passwordFile(), old);
    fault.prepare(dir);

    std::thread beside;
    if (fault.meanwhile) beside = std::thread(fault.meanwhile, std::cref(dir));
    ChildResult result = program.Run({"add", "-u", "newcomer", "-p", "pw"}, fault.setup);
    if (beside.joinable()) beside.join();
    ::chmod(dir.path().c_str(), 0777);
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
