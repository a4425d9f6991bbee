// Saving where the system's file permissions and processes come in.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "platform/platform.h"
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

}  // namespace
