// A run killed at any moment of its save leaves the old or the new file,
// whole, and any temporary file it leaves is recognisable by name.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/program.h"

namespace {

constexpr int kRecords = 200000;
constexpr int kKills = 40;

TEST(CrashTest, KilledSavesLeaveAWholeFile) {
  TempDir dir;
  Program program(dir);
  std::string content;
  for (int i = 0; i < kRecords; ++i) {
    content += "user" + std::to_string(i) + ":AAAAAA==:0123456789abcdefghijkl==\n";
  }
  WriteFile(program.passwordFile(), content);

  // How long a whole run takes, so that the kills spread over it.
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(program.Run({"add", "-u", "timing", "-p", "pw"}).exitStatus, 0);
  auto runTime = std::chrono::steady_clock::now() - start;
  content = ReadFile(program.passwordFile());

  int oldSeen = 0, newSeen = 0, leftovers = 0;
  for (int kill = 0; kill < kKills; ++kill) {
    std::string name = "killed" + std::to_string(kill);
    pid_t pid = ::fork();
    if (pid == 0) {
      std::string argv0 = dir.File("users");
      ::execl(USERS_BINARY, argv0.c_str(), "add", "-u", name.c_str(), "-p", "pw", nullptr);
      std::_Exit(127);
    }
    std::this_thread::sleep_for(runTime * kill / kKills);
    ::kill(pid, SIGKILL);
    int status;
    ::waitpid(pid, &status, 0);

    std::string after = ReadFile(program.passwordFile());
    if (after == content) {
      ++oldSeen;
    } else {
      // The new content: the old lines and one more for the new user.
      ASSERT_EQ(after.substr(0, content.size()), content) << "kill " << kill;
      std::string added = after.substr(content.size());
      ASSERT_EQ(added.rfind(name + ":", 0), 0u) << "kill " << kill;
      ASSERT_EQ(added.size(), name.size() + 1 + 8 + 1 + 24 + 1) << "kill " << kill;
      content = after;
      ++newSeen;
    }
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      std::string file = entry.path().filename().string();
      if (file == "users.dat") continue;
      ASSERT_EQ(file.rfind("users.dat.tmp-", 0), 0u) << file;
      std::filesystem::remove(entry.path());
      ++leftovers;
    }
  }
  EXPECT_EQ(ReadFile(program.passwordFile()), content);
  EXPECT_EQ(program.Run({"check", "-u", "timing", "-p", "pw"}).exitStatus, 0);
  std::printf("crash runs: %d killed, %d left the old file, %d the new, %d temporary files\n",
              kKills, oldSeen, newSeen, leftovers);
}

}  // namespace
