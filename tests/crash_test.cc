// A run ended by a signal at any moment of its save leaves the old or the
// new file, whole, and no temporary file that outlives the next save.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/child_process.h"
#include "tests/program.h"
#include "tests/temp_dir.h"

namespace {

constexpr int kRecords = 200000;
// Kills spread over a run, and fewer of each signal that cleans up.
constexpr int kKills = 40;
constexpr int kCleanEnds = 15;

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

  // Every catchable signal that ends a process cleans up after itself; a
  // kill cannot, and what it leaves the next save removes. A rewrite in
  // place (taken for a file with a second name) holds every signal off until
  // it is done; only a kill could cut it short.
  struct Phase {
    int signal;
    int kills;
    bool inPlace;
  } phases[] = {
      {SIGINT, kCleanEnds, false},  {SIGHUP, kCleanEnds, false},  {SIGTERM, kCleanEnds, false},
      {SIGUSR1, kCleanEnds, false}, {SIGALRM, kCleanEnds, false}, {SIGABRT, kCleanEnds, false},
      {SIGKILL, kKills, false},     {SIGINT, kCleanEnds, true},   {SIGTERM, kCleanEnds, true},
      {SIGUSR1, kCleanEnds, true},  {SIGUSR2, kCleanEnds, true},  {SIGALRM, kCleanEnds, true}};
  int oldSeen = 0, newSeen = 0, leftBehind = 0, leftovers = 0, round = 0;
  for (const auto& [signal, kills, inPlace] : phases) {
    if (inPlace && !std::filesystem::exists(dir.File("other.dat"))) {
      // The last save removed what the kills left.
      ASSERT_EQ(program.Run({"add", "-u", "after", "-p", "pw"}).exitStatus, 0);
      content = ReadFile(program.passwordFile());
      ASSERT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                              std::filesystem::directory_iterator()),
                1);
      std::filesystem::create_hard_link(program.passwordFile(), dir.File("other.dat"));
    }
    for (int kill = 0; kill < kills; ++kill, ++round) {
      // An add keeps the old bytes where they are, so an in-place rewrite is
      // checked with a remove of the first user, which moves every byte.
      std::string name = "killed" + std::to_string(round);
      std::string first = content.substr(0, content.find(':'));
      std::vector<std::string> arguments = {dir.File("users"), "add", "-u", name, "-p", "pw"};
      if (inPlace) arguments = {dir.File("users"), "remove", "-u", first};
      pid_t pid = ::fork();
      if (pid == 0) {
        // As a shell starts a command in the foreground.
        for (int reset : {SIGINT, SIGHUP, SIGTERM}) ::signal(reset, SIG_DFL);
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        ::execv(USERS_BINARY, argv.data());
        std::_Exit(127);
      }
      // An in-place rewrite comes at the end of a run: aim the kills there.
      auto firstKill = inPlace ? runTime * 2 / 3 : runTime * 0;
      std::this_thread::sleep_for(firstKill + (runTime - firstKill) * kill / kills);
      ::kill(pid, signal);
      int status;
      ::waitpid(pid, &status, 0);
      SCOPED_TRACE("signal " + std::to_string(signal) + ", kill " + std::to_string(kill));
      ASSERT_TRUE(WIFSIGNALED(status) ? WTERMSIG(status) == signal : WEXITSTATUS(status) == 0);

      std::string after = ReadFile(program.passwordFile());
      if (after == content) {
        ++oldSeen;
      } else if (inPlace) {
        ASSERT_EQ(after, content.substr(content.find('\n') + 1)) << "only " << first << " gone";
        content = after;
        ++newSeen;
      } else {
        // The new content: the old lines and one more for the new user.
        ASSERT_EQ(after.substr(0, content.size()), content);
        std::string added = after.substr(content.size());
        ASSERT_EQ(added.rfind(name + ":", 0), 0u);
        ASSERT_EQ(added.size(), name.size() + 1 + 8 + 1 + 24 + 1);
        content = after;
        ++newSeen;
      }
      int left = 0;
      for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        std::string file = entry.path().filename().string();
        if (file == "users.dat" || file == "other.dat") continue;
        ASSERT_EQ(file.rfind("users.dat.tmp-", 0), 0u) << file;
        ++left;
      }
      if (signal != SIGKILL) {
        ASSERT_EQ(left, 0);
      }
      if (signal == SIGKILL) {
        if (left > leftovers) ++leftBehind;
        leftovers = left;
      }
    }
  }
  EXPECT_EQ(ReadFile(program.passwordFile()), content);
  EXPECT_EQ(ReadFile(dir.File("other.dat")), content);
  EXPECT_EQ(program.Run({"check", "-u", "timing", "-p", "pw"}).exitStatus, 0);
  std::printf(
      "crash runs: %d signalled, %d left the old file, %d the new; %d kills left a "
      "temporary file, %d stayed after the last one, none after the next save\n",
      round, oldSeen, newSeen, leftBehind, leftovers);
}

}  // namespace
