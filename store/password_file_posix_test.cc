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
// load, between the load and the operation, or during the save. The run
// never uses what it did not load: a check ends as a file that cannot be
// loaded, a change as one that cannot be saved, and the file stays as the
// other program left it.
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

  struct Row {
    const char* operation;
    const char* call;
    int at;
    bool failRead = false;
  } rows[] = {
      {"check", "pread", 1},
      {"check", "", 1},
      {"add", "pread", 1},
      {"add", "", 1},
      {"add", "pwrite", 1},
      {"remove", "", 1},
      {"remove", "pwrite", 1},
      {"remove", "pread", 1},
      // Not cut, but one read fails after the load, the lookup's: a record
      // not read back must not go into a save ("add" of a user who is
      // there, "add -r").
      {"add", "", 1, true},
      {"add -r", "", 1, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.operation) +
                 (row.failRead ? ", a read failing after the load"
                  : *row.call
                      ? ", cut before " + std::string(row.call) + " " + std::to_string(row.at)
                      : ", cut before the operation"));
    TempDir dir;
    Cut rowCut{dir.File("users.dat"), row.call, row.at, row.failRead};
    cut = &rowCut;
    WriteFile(rowCut.path, content);
    std::string operation = row.operation, message;
    UserList list(*system, UserList::Keeping::kPlaces);
    bool failed = (operation != "check" && !list.Lock(rowCut.path)) || !list.Load(rowCut.path);
    if (!failed) {
      if (rowCut.call.empty()) rowCut.Before("");
      bool done = operation == "check" ? list.CheckUser("user2999", "pw", message)
                  : operation == "add"
                      ? list.AddUser(row.failRead ? "user2999" : "newcomer", "pw", false, message)
                  : operation == "add -r" ? list.AddUser("user2999", "pw", true, message)
                                          : list.RemoveUser("user2999", message);
      // As the program ends it: a save that failed, or an outcome read from
      // a file that is not the one loaded any more.
      failed = !done && (message == UserList::kSaveFailed || !list.Intact());
    }
    EXPECT_TRUE(failed);
    EXPECT_EQ(ReadFile(rowCut.path),
              row.failRead ? content : content.substr(0, content.size() / 2));
  }
  cut = nullptr;
}

}  // namespace
