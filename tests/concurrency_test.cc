// Many runs against one password file at the same moment lose nothing.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "digest/password_digest.h"
#include "tests/child_process.h"
#include "tests/program.h"
#include "tests/temp_dir.h"

namespace {

constexpr int kAdds = 50;
constexpr int kRemoves = 20;
constexpr int kKept = 30;  // users present before, never touched

std::set<std::string> Names(const std::string& file) {
  std::set<std::string> names;
  std::istringstream lines(file);
  for (std::string line; std::getline(lines, line);) names.insert(line.substr(0, line.find(':')));
  return names;
}

TEST(ConcurrencyTest, SimultaneousAddsAndRemovesAllLand) {
  TempDir dir;
  Program program(dir);
  std::string initial;
  for (int i = 0; i < kRemoves; ++i) initial += "old" + std::to_string(i) + ":AAAAAA==:d\n";
  for (int i = 0; i < kKept; ++i) initial += "kept" + std::to_string(i) + ":AAAAAA==:d\n";
  WriteFile(program.passwordFile(), initial);

  // Every child waits on the pipe, so that all start when it closes.
  int gate[2];
  ASSERT_EQ(::pipe(gate), 0);
  std::vector<pid_t> children;
  for (int i = 0; i < kAdds + kRemoves; ++i) {
    std::vector<std::string> arguments =
        i < kAdds ? std::vector<std::string>{"add", "-u", "new" + std::to_string(i), "-p", "pw"}
                  : std::vector<std::string>{"remove", "-u", "old" + std::to_string(i - kAdds)};
    pid_t pid = ::fork();
    if (pid == 0) {
      ::close(gate[1]);
      char byte;
      while (::read(gate[0], &byte, 1) < 0) {
      }
      ChildResult result = program.Run(arguments);
      bool ok = result.exitStatus == 0 && result.errors.empty() &&
                result.output.rfind("Operation Successful:  ", 0) == 0;
      std::_Exit(ok ? 0 : 1);
    }
    children.push_back(pid);
  }
  ::close(gate[0]);
  ::close(gate[1]);

  int failed = 0;
  for (pid_t pid : children) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failed;
  }
  EXPECT_EQ(failed, 0);

  std::set<std::string> expected;
  for (int i = 0; i < kAdds; ++i) expected.insert("new" + std::to_string(i));
  for (int i = 0; i < kKept; ++i) expected.insert("kept" + std::to_string(i));
  std::string file = ReadFile(program.passwordFile());
  EXPECT_EQ(Names(file), expected);
  EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), kAdds + kKept);
  EXPECT_EQ(file.substr(0, file.find("new")), initial.substr(initial.find("kept")))
      << "untouched users keep their lines and order";
}

// While a run rewrites the file in place it holds a write lock on it; a
// reader waits for the lock instead of reading half-written lines, and then
// reads the file as the rewrite left it.
TEST(ConcurrencyTest, ReaderWaitsOutAnInPlaceRewrite) {
  TempDir dir;
  Program program(dir);
  WriteFile(program.passwordFile(), "bob:AAAAAA==:d\n");
  int fd = ::open(program.passwordFile().c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_TRUE(LockWholeFile(fd, F_WRLCK));

  std::atomic<bool> done = false;
  ChildResult result;
  std::thread reader([&] {
    result = program.Run({"check", "-u", "bob", "-p", "pw"});
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(done) << "the check read the file while it was being rewritten";
  const std::string rewritten = "bob:AAAAAA==:" + ComputeDigest("bob", "AAAAAA==", "pw") + "\n";
  ASSERT_EQ(::pwrite(fd, rewritten.data(), rewritten.size(), 0),
            static_cast<ssize_t>(rewritten.size()));
  ::close(fd);
  reader.join();
  EXPECT_EQ(result.output, "Operation Successful:  Username and password match.\n");
}

}  // namespace
