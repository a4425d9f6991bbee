// Runs the built program on a scratch password file and checks its output,
// its exit status and the file's bytes afterwards.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "digest/password_digest.h"
#include "tests/child_process.h"
#include "tests/program.h"
#include "tests/temp_dir.h"

namespace {

const std::string kInvalid = std::string("Invalid Usage:\n") + kUsage;
const std::string kNeedBoth =
    std::string("Invalid Usage: need to specify username and password for this operation.\n") +
    kUsage;
const std::string kNeedName =
    std::string("Invalid Usage: need to specify username for this operation.\n") + kUsage;
const std::string kUnableToLoad = "Unable to load password file 'users.dat'\n";

// alice's password is "new", bob's is "pw"; both digests were computed
// independently: base64(md5(name + salt + password)).
const std::string kAlice = "alice:4hsAAA==:9O5WqgNDt1hxrwP0OBQOIA==\n";
const std::string kBob = "bob:AAAAAA==:" + ComputeDigest("bob", "AAAAAA==", "pw") + "\n";
const std::string kFile = kAlice + kBob;

enum class After {
  kUntouched,  // same bytes, same inode: never rewritten
  kExactly,    // rewritten to `after`
  kAppended,   // `after` followed by a new record for `newUser`
};

struct Row {
  const char* name;
  const char* file;  // null: no password file
  std::vector<std::string> arguments;
  std::string output;
  int exitStatus;
  After after = After::kUntouched;
  std::string expected = "";
  std::string newUser = "", newPassword = "";
};

std::vector<Row> Rows() {
  const char* file = kFile.c_str();
  return {
      {"no argument", file, {}, kUsage, 1},
      {"help", nullptr, {"-h"}, kUsage, 0},
      {"help behind values", nullptr, {"add", "-u", "a", "-?", "junk"}, kUsage, 0},
      {"help behind an error", file, {"junk", "-h"}, kInvalid, 1},
      {"operation not first", file, {"-r", "add", "-u", "a", "-p", "b"}, kInvalid, 1},
      {"capital operation", file, {"ADD", "-u", "a", "-p", "b"}, kInvalid, 1},
      {"name of 17 bytes", file, {"add", "-u", "seventeen-bytes17", "-p", "b"}, kInvalid, 1},
      {"name with a colon", file, {"add", "-u", "a:b", "-p", "b"}, kInvalid, 1},
      {"name with a line feed", file, {"add", "-u", "a\nb", "-p", "b"}, kInvalid, 1},
      {"password with a percent", file, {"check", "-u", "a", "-p", "50%"}, kInvalid, 1},
      {"remove with a password", file, {"remove", "-u", "bob", "-p", "pw"}, kInvalid, 1},
      {"check with -r", file, {"check", "-r", "-u", "bob", "-p", "pw"}, kInvalid, 1},
      {"no operation", file, {"-u", "bob"}, kInvalid, 1},
      {"missing file", nullptr, {"check", "-u", "bob", "-p", "pw"}, kUnableToLoad, 1},
      {"add to a missing file", nullptr, {"add", "-u", "bob", "-p", "pw"}, kUnableToLoad, 1},
      {"add without password, missing file", nullptr, {"add", "-u", "bob"}, kUnableToLoad, 1},
      {"invalid file", "a:b\n", {"check", "-u", "a", "-p", "b"}, kUnableToLoad, 1},
      {"add without password", file, {"add", "-u", "bob"}, kNeedBoth, 1},
      {"check without name", file, {"check", "-p", "pw"}, kNeedBoth, 1},
      {"remove without name", file, {"remove"}, kNeedName, 1},
      {"remove with empty name", file, {"remove", "-u", ""}, kNeedName, 1},
      {"check matches",
       file,
       {"check", "-u", "bob", "-p", "pw"},
       "Operation Successful:  Username and password match.\n",
       0},
      {"check does not match",
       file,
       {"check", "-u", "bob", "-p", "PW"},
       "Operation failed:  Username and password do not match.\n",
       1},
      {"check of a missing user",
       file,
       {"check", "-u", "carol", "-p", "pw"},
       "Operation failed:  User entry not found.\n",
       1},
      {"remove",
       file,
       {"remove", "-u", "alice"},
       "Operation Successful:  User entry removed.\n",
       0,
       After::kExactly,
       kBob},
      {"remove with an empty password",
       file,
       {"remove", "-u", "bob", "-p", ""},
       "Operation Successful:  User entry removed.\n",
       0,
       After::kExactly,
       kAlice},
      {"remove of a missing user",
       file,
       {"remove", "-u", "Bob"},
       "Operation failed:  User entry not found.\n",
       1},
      {"add of an existing user",
       file,
       {"add", "-u", "bob", "-p", "x"},
       "Operation failed:  User entry already exists.\n",
       1},
      {"replace keeps salt and place",
       "alice:4hsAAA==:old\nbob:s:d\n",
       {"add", "-u", "alice", "-r", "-p", "new"},
       "Operation Successful:  Existing user entry updated.\n",
       0,
       After::kExactly,
       kAlice + "bob:s:d\n"},
      {"replace by the same password still saves",
       file,
       {"add", "-r", "-u", "bob", "-p", "pw"},
       "Operation Successful:  Existing user entry updated.\n",
       0,
       After::kExactly,
       kFile},
      {"add",
       file,
       {"add", "-u", "carol", "-p", "secret"},
       "Operation Successful:  New user entry added.\n",
       0,
       After::kAppended,
       kFile,
       "carol",
       "secret"},
      {"add to an empty file",
       "",
       {"add", "-u", "a b", "-p", "p:w"},
       "Operation Successful:  New user entry added.\n",
       0,
       After::kAppended,
       "",
       "a b",
       "p:w"},
      {"replace of a missing user adds it",
       file,
       {"add", "-r", "-u", "Bob", "-p", "pw"},
       "Operation Successful:  New user entry added.\n",
       0,
       After::kAppended,
       kFile,
       "Bob",
       "pw"},
  };
}

ino_t Inode(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

TEST(CommandTest, EveryOutcome) {
  for (const Row& row : Rows()) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    Program program(dir);
    if (row.file != nullptr) WriteFile(program.passwordFile(), row.file);
    ino_t before = Inode(program.passwordFile());

    ChildResult result = program.Run(row.arguments);
    EXPECT_EQ(result.output, row.output);
    EXPECT_EQ(result.exitStatus, row.exitStatus);
    EXPECT_EQ(result.errors, "");

    std::string after = ReadFile(program.passwordFile());
    switch (row.after) {
      case After::kUntouched:
        EXPECT_EQ(after, row.file != nullptr ? row.file : "<missing>");
        EXPECT_EQ(Inode(program.passwordFile()), before);
        break;
      case After::kExactly:
        EXPECT_EQ(after, row.expected);
        break;
      case After::kAppended: {
        ASSERT_EQ(after.substr(0, row.expected.size()), row.expected);
        std::string line = after.substr(row.expected.size());
        std::string prefix = row.newUser + ":";
        ASSERT_EQ(line.substr(0, prefix.size()), prefix);
        std::string salt = line.substr(prefix.size(), 8);
        EXPECT_EQ(line,
                  prefix + salt + ":" + ComputeDigest(row.newUser, salt, row.newPassword) + "\n");
        EXPECT_EQ(salt.substr(3), "AAA==");
        break;
      }
    }
  }
}

TEST(CommandTest, AddedUserChecksOut) {
  TempDir dir;
  Program program(dir);
  WriteFile(program.passwordFile(), "");
  EXPECT_EQ(program.Run({"add", "-u", "sixteen-bytes-16", "-p", "p a s s:w o r d"}).exitStatus, 0);
  EXPECT_EQ(program.Run({"check", "-u", "sixteen-bytes-16", "-p", "p a s s:w o r d"}).exitStatus,
            0);
  EXPECT_EQ(program.Run({"check", "-u", "sixteen-bytes-16", "-p", "p a s s:w o r "}).exitStatus, 1);
}

// The password file lies beside the program when it is started by a path,
// and in the current directory when it is started by its bare name.
TEST(CommandTest, PasswordFileFollowsTheProgramPath) {
  TempDir dir;
  WriteFile(dir.File("users.dat"), kFile);
  const std::vector<std::string> check{"check", "-u", "bob", "-p", "pw"};
  const std::string match = "Operation Successful:  Username and password match.\n";

  ChildSetup inDir;
  inDir.workingDirectory = dir.path();
  for (const std::string& argv0 : {dir.File("users.exe"), std::string("users"),
                                   std::string("./users.exe"), dir.File("users")}) {
    std::vector<std::string> argv{argv0};
    argv.insert(argv.end(), check.begin(), check.end());
    EXPECT_EQ(RunProgram(USERS_BINARY, argv, inDir).output, match) << argv0;
  }
  std::vector<std::string> argv{dir.File("USERS.EXE")};
  argv.insert(argv.end(), check.begin(), check.end());
  EXPECT_EQ(RunProgram(USERS_BINARY, argv).output, kUnableToLoad);
}

}  // namespace
