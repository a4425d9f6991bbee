// A run ended by a signal at any moment of its save leaves the old or the
// new file, whole, and no temporary file that outlives the next save.

#include <fcntl.h>
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

#include "digest/password_digest.h"
#include "tests/child_process.h"
#include "tests/program.h"
#include "tests/temp_dir.h"

namespace {

constexpr int kRecords = 200000;
// Kills spread over a run, and fewer of each signal that cleans up.
constexpr int kKills = 40;
constexpr int kCleanEnds = 15;
// Users an import adds at once.
constexpr int kImported = 100;

TEST(CrashTest, KilledSavesLeaveAWholeFile) {
  TempDir dir;
  Program program(dir);
  // Every user's password is "pw", as for those the runs add, so that an
  // exact import of the file's users keeps their lines.
  std::string content;
  for (int i = 0; i < kRecords; ++i) {
    std::string name = "user" + std::to_string(i);
    content += name + ":AAAAAA==:" + ComputeDigest(name, "AAAAAA==", "pw") + "\n";
  }
  WriteFile(program.passwordFile(), content);
  TempDir inputDir;  // beside, so that the password file's directory holds only what saves make
  // The input of an exact import: the file's users but the first.
  auto exactList = [&content] {
    std::string list;
    for (std::size_t at = content.find('\n') + 1; at < content.size();
         at = content.find('\n', at) + 1) {
      list += content.substr(at, content.find(':', at) - at) + ":pw\n";
    }
    return list;
  };

  // How long a whole run takes, so that the kills spread over it.
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(program.Run({"add", "-u", "timing", "-p", "pw"}).exitStatus, 0);
  auto runTime = std::chrono::steady_clock::now() - start;
  content = ReadFile(program.passwordFile());
  // An exact import adds a digest a user to a run: timed by one that
  // removes the first user.
  WriteFile(inputDir.File("input"), exactList());
  start = std::chrono::steady_clock::now();
  ChildSetup fromInput;
  fromInput.standardInput = inputDir.File("input");
  ASSERT_EQ(RunProgram(USERS_IMPORT_BINARY, {"users-import", program.passwordFile(), "--exact"},
                       fromInput)
                .exitStatus,
            0);
  auto exactTime = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(ReadFile(program.passwordFile()), content.substr(content.find('\n') + 1));
  content = ReadFile(program.passwordFile());

  // Every catchable signal that ends a process cleans up after itself; a
  // kill cannot, and what it leaves the next save removes. A rewrite in
  // place (taken for a file with a second name) holds every signal off until
  // it is done; only a kill could cut it short. An import of many users
  // takes the same save, and an exact one, which removes the first user and
  // adds the new, its own. What kills leave, only a save removes, so the
  // kills come after the other signals of their way of saving.
  struct Phase {
    int signal;
    int kills;
    bool inPlace;
    bool import = false;
    bool exact = false;
  } phases[] = {{SIGINT, kCleanEnds, false},        {SIGHUP, kCleanEnds, false},
                {SIGTERM, kCleanEnds, false},       {SIGUSR1, kCleanEnds, false},
                {SIGALRM, kCleanEnds, false},       {SIGABRT, kCleanEnds, false},
                {SIGTERM, kCleanEnds, false, true}, {SIGKILL, kKills, false},
                {SIGKILL, kKills / 2, false, true}, {SIGKILL, kKills / 2, false, true, true},
                {SIGINT, kCleanEnds, true},         {SIGTERM, kCleanEnds, true},
                {SIGUSR1, kCleanEnds, true},        {SIGUSR2, kCleanEnds, true},
                {SIGALRM, kCleanEnds, true},        {SIGTERM, kCleanEnds, true, true}};
  int oldSeen = 0, newSeen = 0, leftBehind = 0, leftovers = 0, round = 0, exactNew = 0;
  for (const auto& [signal, kills, inPlace, import, exact] : phases) {
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
      std::string first = content.substr(0, content.find(':'));
      std::vector<std::string> newNames, arguments;
      if (import) {
        std::string input = inPlace ? first + "\n" : exact ? exactList() : "";
        for (int i = 0; i < kImported; ++i) {
          newNames.push_back("killed" + std::to_string(round) + "_" + std::to_string(i));
          input += newNames.back() + ":pw\n";
        }
        WriteFile(inputDir.File("input"), input);
        arguments = {"users-import", program.passwordFile(), exact ? "--exact" : "-d"};
      } else if (inPlace) {
        arguments = {dir.File("users"), "remove", "-u", first};
      } else {
        newNames = {"killed" + std::to_string(round)};
        arguments = {dir.File("users"), "add", "-u", newNames[0], "-p", "pw"};
      }
      pid_t pid = ::fork();
      if (pid == 0) {
        // As a shell starts a command in the foreground.
        for (int reset : {SIGINT, SIGHUP, SIGTERM}) ::signal(reset, SIG_DFL);
        if (import) {
          int input = ::open(inputDir.File("input").c_str(), O_RDONLY);
          if (input < 0 || ::dup2(input, 0) < 0) std::_Exit(125);
        }
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        ::execv(import ? USERS_IMPORT_BINARY : USERS_BINARY, argv.data());
        std::_Exit(127);
      }
      // An in-place rewrite comes at the end of a run: aim the kills there.
      // Exact imports vary the most: some of their kills come after the end.
      auto span = exact ? exactTime * 3 / 2 : runTime;
      auto firstKill = inPlace ? span * 2 / 3 : span * 0;
      std::this_thread::sleep_for(firstKill + (span - firstKill) * kill / kills);
      ::kill(pid, signal);
      int status;
      ::waitpid(pid, &status, 0);
      SCOPED_TRACE("signal " + std::to_string(signal) + ", kill " + std::to_string(kill) +
                   (exact    ? ", exact import"
                    : import ? ", import"
                             : ""));
      ASSERT_TRUE(WIFSIGNALED(status) ? WTERMSIG(status) == signal : WEXITSTATUS(status) == 0);

      // The old content, or the new: without the first user for a change
      // in place, and one line for each new user, all of them.
      std::string after = ReadFile(program.passwordFile());
      if (after == content) {
        ++oldSeen;
      } else {
        std::string kept = inPlace || exact ? content.substr(content.find('\n') + 1) : content;
        ASSERT_EQ(after.substr(0, kept.size()), kept) << "only " << first << " gone";
        std::size_t at = kept.size();
        for (const std::string& name : newNames) {
          ASSERT_EQ(after.compare(at, name.size() + 1, name + ":"), 0) << name;
          at += name.size() + 1 + 8 + 1 + 24;
          ASSERT_EQ(after.compare(at, 1, "\n"), 0) << name;
          ++at;
        }
        ASSERT_EQ(at, after.size());
        content = after;
        ++newSeen;
        exactNew += exact;
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
      "crash runs: %d signalled, %d left the old file, %d the new (%d of them exact imports); "
      "%d kills left a temporary file, %d stayed after the last one, none after the next save\n",
      round, oldSeen, newSeen, exactNew, leftBehind, leftovers);
}

}  // namespace
