// Saving where the system's file permissions and processes come in.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/posix/calls.h"
#include "store/user_list.h"
#include "tests/child_process.h"
#include "tests/temp_dir.h"

namespace {

TEST(PasswordFilePosixTest, SaveKeepsPermissionBitsAndSymbolicLinks) {
  TempDir dir;
  std::string target = dir.File("real.dat");
  std::string link = dir.File("users.dat");
  WriteFile(target, "old:s:d\n");
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  ASSERT_EQ(::symlink("real.dat", link.c_str()), 0);

  UserList list;
  list.records.emplace_back("new", "s", "d");
  ASSERT_TRUE(list.Save(link));

  struct stat info;
  ASSERT_EQ(::lstat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  ASSERT_EQ(::stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(ReadFile(target), "new:s:d\n");
}

// Saves that cannot finish leave the old bytes and no temporary file.
TEST(PasswordFilePosixTest, FailedSaveLeavesTheOldFileWhole) {
  TempDir dir;
  std::string path = dir.File("users.dat");
  const std::string old = "keep:me:safe\n";
  WriteFile(path, old);

  ChildSetup diskFull, nobody;
  diskFull.fileSizeLimit = 4096;
  nobody.asNobody = true;
  struct Case {
    const char* name;
    ChildSetup setup;
    mode_t mode;
  } cases[] = {
      {"disk full", diskFull, 0644},
      {"read-only file", nobody, 0444},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
    ChildResult result = RunInChild(
        [&] {
          platform::PrepareProcess();  // as the program starts
          UserList list;
          for (int i = 0; i < 10000; ++i) list.records.emplace_back("user", "salt", "digest");
          return list.Save(path) ? 0 : 1;
        },
        c.setup);
    EXPECT_EQ(result.exitStatus, 1) << c.name;
    EXPECT_EQ(ReadFile(path), old) << c.name;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1)
        << c.name << ": no temporary file stays behind";
  }
}

// Another program cuts the file in half while a run holds it: during the
// load, between the load and the operation, or during the save. A load that
// reads a changed file fails; what was loaded answers a check whatever
// happens to the file after; a change is not saved over a file that is no
// longer as loaded. The file stays as the other program left it.
struct Cut {
  std::string path;
  std::string call;       // "pread" or "pwrite"; "" for between load and operation
  int at = 0;             // which of those calls it comes before
  bool failRead = false;  // instead of cutting, the next read fails
  int seen = 0;
  bool failing = false;
  // Whether the call `made` fails.
  bool Before(const char* made) {
    if (made == call && ++seen == at) {
      if (!failRead) {
        ::truncate(path.c_str(), static_cast<off_t>(std::filesystem::file_size(path) / 2));
      }
      failing = failRead;
    }
    if (!failing || std::string_view(made) != "pread") return false;
    failing = false;
    errno = EIO;
    return true;
  }
};
Cut* cut = nullptr;

TEST(PasswordFilePosixTest, FileCutUnderARun) {
  using platform::posix::kSystemCalls;
  platform::posix::Calls calls = kSystemCalls;
  calls.pread = [](int fd, void* buffer, std::size_t size, off_t offset) {
    return cut->Before("pread") ? ssize_t{-1} : kSystemCalls.pread(fd, buffer, size, offset);
  };
  calls.pwrite = [](int fd, const void* bytes, std::size_t size, off_t offset) {
    cut->Before("pwrite");
    return kSystemCalls.pwrite(fd, bytes, size, offset);
  };
  std::unique_ptr<platform::System> system = platform::posix::MakeSystem(calls);
  std::string content;
  for (int i = 0; i < 3000; ++i) content += "user" + std::to_string(i) + ":AAAAAA==:digest\n";

  enum Outcome { kUnableToLoad, kSaveFailed, kAnsweredAsLoaded };
  struct Row {
    const char* operation;
    const char* call;
    int at;
    Outcome outcome;
    bool failRead = false;
  } rows[] = {
      {"check", "pread", 1, kUnableToLoad},
      {"check", "pread", 1, kUnableToLoad, true},
      {"check", "", 1, kAnsweredAsLoaded},
      {"add", "pread", 1, kUnableToLoad},
      {"add", "", 1, kSaveFailed},
      {"add", "pwrite", 1, kSaveFailed},
      {"remove", "", 1, kSaveFailed},
      {"remove", "pwrite", 1, kSaveFailed},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.operation) +
                 (row.failRead ? ", the load's read failing"
                  : *row.call
                      ? ", cut before " + std::string(row.call) + " " + std::to_string(row.at)
                      : ", cut before the operation"));
    TempDir dir;
    Cut rowCut{dir.File("users.dat"), row.call, row.at, row.failRead};
    cut = &rowCut;
    WriteFile(rowCut.path, content);
    std::string operation = row.operation, message;
    UserList list(*system);
    bool loaded = (operation == "check" || list.Lock(rowCut.path)) && list.Load(rowCut.path);
    EXPECT_EQ(loaded, row.outcome != kUnableToLoad);
    if (loaded) {
      if (rowCut.call.empty()) rowCut.Before("");
      // user2999 stands in the half cut off.
      bool done = operation == "check" ? list.CheckUser("user2999", "pw", message)
                  : operation == "add" ? list.AddUser("newcomer", "pw", false, message)
                                       : list.RemoveUser("user2999", message);
      EXPECT_FALSE(done);
      EXPECT_EQ(message, row.outcome == kSaveFailed ? UserList::kSaveFailed
                                                    : " Username and password do not match.");
    }
    EXPECT_EQ(ReadFile(rowCut.path),
              row.failRead ? content : content.substr(0, content.size() / 2));
  }
  cut = nullptr;
}

}  // namespace
