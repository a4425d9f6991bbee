// Runs the built program on a scratch password file and checks its output,
// its exit status and the file's bytes afterwards.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <initializer_list>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "digest/password_digest.h"
#include "library/libusers.h"
#include "store/user_list.h"
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
  kUntouched,  // same bytes, inode and modification time: never written
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
      {"replace by the same password writes nothing",
       file,
       {"add", "-r", "-u", "bob", "-p", "pw"},
       "Operation Successful:  Existing user entry updated.\n",
       0},
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

// A file's inode and modification time, which a write would change.
struct Identity {
  ino_t inode = 0;
  long long modified = 0;  // ns
  bool operator==(const Identity&) const = default;
};
Identity Inode(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return {};
  return {info.st_ino, info.st_mtim.tv_sec * 1'000'000'000LL + info.st_mtim.tv_nsec};
}

using NewUsers = std::vector<std::pair<std::string, std::string>>;  // names and passwords

// The password file after a run: as it was (`file`, null for none), exactly
// `expected`, or `expected` and a line for each new user, each with a salt
// of its own making.
void ExpectFile(const std::string& path, const char* file, Identity before, After after,
                const std::string& expected, const NewUsers& newUsers) {
  std::string bytes = ReadFile(path);
  switch (after) {
    case After::kUntouched:
      EXPECT_EQ(bytes, file != nullptr ? file : "<missing>");
      EXPECT_EQ(Inode(path), before);
      break;
    case After::kExactly:
      EXPECT_EQ(bytes, expected);
      break;
    case After::kAppended: {
      ASSERT_EQ(bytes.substr(0, expected.size()), expected);
      std::size_t at = expected.size();
      for (const auto& [name, password] : newUsers) {
        std::string line = bytes.substr(at, bytes.find('\n', at) + 1 - at);
        std::string prefix = name + ":";
        ASSERT_EQ(line.substr(0, prefix.size()), prefix);
        std::string salt = line.substr(prefix.size(), 8);
        EXPECT_EQ(line, prefix + salt + ":" + ComputeDigest(name, salt, password) + "\n");
        EXPECT_EQ(salt.substr(3), "AAA==");
        at += line.size();
      }
      EXPECT_EQ(at, bytes.size());
      break;
    }
  }
}

TEST(CommandTest, EveryOutcome) {
  for (const Row& row : Rows()) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    Program program(dir);
    if (row.file != nullptr) WriteFile(program.passwordFile(), row.file);
    Identity before = Inode(program.passwordFile());

    ChildResult result = program.Run(row.arguments);
    EXPECT_EQ(result.output, row.output);
    EXPECT_EQ(result.exitStatus, row.exitStatus);
    EXPECT_EQ(result.errors, "");
    ExpectFile(program.passwordFile(), row.file, before, row.after, row.expected,
               {{row.newUser, row.newPassword}});
  }
}

const std::string kImportUsage =
    "users-import - add, replace or remove many users of a password file\n"
    "Usage: users-import FILE [-r] [-d] [--exact] [-n]\n"
    "Reads standard input, one user a line:\n"
    "  name:password   adds the user; with -r, replaces the password of one who exists\n"
    "  name            with -d, removes the user\n"
    "--exact: the file is to hold just these users, with these passwords (not with -d).\n"
    "-n: checks and counts as ever, and writes nothing.\n"
    "Nothing is written unless every line can be applied, nor when nothing changes.\n";
const std::string kNothingWritten = "Import failed: 1 problem, nothing written.\n";

std::string Imported(int added, int updated, int removed, int unchanged = 0, bool written = true) {
  return "Import successful: " + std::to_string(added) + " added, " + std::to_string(updated) +
         " updated, " + std::to_string(removed) + " removed, " + std::to_string(unchanged) +
         " unchanged" + (written ? ".\n" : ", nothing written.\n");
}

// users-import FILE ..., with `input` on its standard input.
ChildResult RunImport(const std::string& file, std::vector<std::string> arguments,
                      const std::string& input) {
  TempDir inputDir;
  WriteFile(inputDir.File("input"), input);
  ChildSetup setup;
  setup.standardInput = inputDir.File("input");
  for (std::string& argument : arguments) {
    if (argument == "FILE") argument = file;
  }
  arguments.insert(arguments.begin(), "users-import");
  return RunProgram(USERS_IMPORT_BINARY, arguments, setup);
}

TEST(CommandTest, EveryImportOutcome) {
  const char* file = kFile.c_str();
  const std::string sixteen = "sixteen-bytes-16";
  const std::string beforeExact = "alice:4hsAAA==:old\ndave:s:d\n" + kBob;
  const std::string malformed = kAlice + "\nbob:x\n" + kBob;
  struct ImportRow {
    const char* name;
    const char* file;                    // null: no password file
    std::vector<std::string> arguments;  // "FILE": the password file
    std::string input;
    std::string output;
    int exitStatus;
    After after = After::kUntouched;
    std::string expected = "";
    NewUsers newUsers = {};
    bool turnHeld = false;  // by another run for a second, which then adds erin
  } rows[] = {
      {"no argument", file, {}, "", kImportUsage, 1},
      {"help", nullptr, {"FILE", "-?"}, "", kImportUsage, 0},
      {"an option first", file, {"-r", "FILE"}, "", "Invalid Usage:\n" + kImportUsage, 1},
      {"add",
       file,
       {"FILE"},
       "carol:secret\ndave:p w:x\n",
       Imported(2, 0, 0),
       0,
       After::kAppended,
       kFile,
       {{"carol", "secret"}, {"dave", "p w:x"}}},
      {"replace keeps salt and place",
       "alice:4hsAAA==:old\nbob:s:d\n",
       {"FILE", "-r"},
       "alice:new\n",
       Imported(0, 1, 0),
       0,
       After::kExactly,
       kAlice + "bob:s:d\n"},
      {"remove", file, {"FILE", "-d"}, "alice\n", Imported(0, 0, 1), 0, After::kExactly, kBob},
      {"mixed, CR LF and blank lines",
       "alice:4hsAAA==:old\nbob:s:d\n",
       {"FILE", "-d", "-r"},
       "\r\nbob\r\n\nalice:new\r\ncarol:pw\r\n\r\n",
       Imported(1, 1, 1),
       0,
       After::kAppended,
       kAlice,
       {{"carol", "pw"}}},
      {"the largest name and password",
       "",
       {"FILE"},
       sixteen + ":" + sixteen + "\r\n",
       Imported(1, 0, 0),
       0,
       After::kAppended,
       "",
       {{sixteen, sixteen}}},
      {"a name a byte longer",
       file,
       {"FILE"},
       "carol:pw\n" + sixteen + "7:pw\n",
       "Line 2: invalid user name.\n" + kNothingWritten,
       1},
      {"a missing user with -d",
       file,
       {"FILE", "-d"},
       "alice\ncarol\n",
       "Line 2: user not found.\n" + kNothingWritten,
       1},
      {"every problem, by line",
       file,
       {"FILE"},
       "bob:pw\n:x\ncarol:\nbob:x\ndave\n" + std::string(40, 'x') + "\nerin:pw\n",
       "Line 1: user already exists.\nLine 2: invalid user name.\nLine 3: invalid password.\n"
       "Line 4: user also on line 1.\nLine 4: user already exists.\n"
       "Line 5: no ':' between user name and password.\n"
       "Line 6: too long; the input was not read further.\n"
       "Import failed: 7 problems, nothing written.\n",
       1},
      {"nothing to do", file, {"FILE"}, "\n", Imported(0, 0, 0, 0, false), 0},
      {"exact: adds, updates, removes and keeps at once",
       beforeExact.c_str(),
       {"FILE", "--exact"},
       "bob:pw\nalice:new\nerin:pw\n",
       Imported(1, 1, 1, 1),
       0,
       After::kAppended,
       kFile,
       {{"erin", "pw"}}},
      {"exact again: nothing written",
       file,
       {"FILE", "--exact"},
       "bob:pw\nalice:new\n",
       Imported(0, 0, 0, 2, false),
       0},
      {"-n counts and writes nothing",
       file,
       {"FILE", "--exact", "-n"},
       "alice:other\ncarol:pw\n",
       Imported(1, 1, 1, 0, false),
       0},
      {"-n with a problem",
       file,
       {"FILE", "-n"},
       "carol:pw\nbob:x\n",
       "Line 2: user already exists.\n" + kNothingWritten,
       1},
      {"exact with -d", file, {"FILE", "-d", "--exact"}, "", "Invalid Usage:\n" + kImportUsage, 1},
      {"a malformed line of the file, named by number",
       malformed.c_str(),
       {"FILE", "-r"},
       "alice:new\n",
       "Password file line 3: not a record of three fields.\n"
       "Import failed: unable to load the password file, nothing written.\n",
       1},
      {"the file missing",
       nullptr,
       {"FILE"},
       "carol:pw\n",
       "Import failed: unable to load the password file, nothing written.\n",
       1},
      {"a second run waits for the writers' turn",
       file,
       {"FILE"},
       "carol:pw\n",
       Imported(1, 0, 0),
       0,
       After::kAppended,
       kFile,
       {{"erin", "pw"}, {"carol", "pw"}},
       true},
  };
  for (const ImportRow& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    std::string path = dir.File("users.dat");
    if (row.file != nullptr) WriteFile(path, row.file);
    Identity before = Inode(path);

    UserList holder;
    if (row.turnHeld) {
      ASSERT_TRUE(holder.Lock(path) && holder.Load(path));
    }
    auto start = std::chrono::steady_clock::now();
    std::thread release([&] {
      if (!row.turnHeld) return;
      std::this_thread::sleep_for(std::chrono::seconds(1));
      std::string message;
      EXPECT_TRUE(holder.AddUser("erin", "pw", false, message));
    });
    ChildResult result = RunImport(path, row.arguments, row.input);
    release.join();
    if (row.turnHeld) {
      EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    }
    EXPECT_EQ(result.output, row.output);
    EXPECT_EQ(result.exitStatus, row.exitStatus);
    EXPECT_EQ(result.errors, "");
    ExpectFile(path, row.file, before, row.after, row.expected, row.newUsers);
  }
}

// Every user of a large import checks out, the salts of one second are
// many, and users reads what users-import wrote. The file is read with the
// list, its index and the digest comparison that users check rests on, as
// running `users check` ten thousand times would take long.
TEST(CommandTest, ImportedUsersCheckOut) {
  constexpr int kUsers = 10000;
  TempDir dir;
  Program program(dir);
  WriteFile(program.passwordFile(), kFile);
  std::string input;
  for (int i = 0; i < kUsers; ++i) {
    input += "user" + std::to_string(i) + ":pw" + std::to_string(i * 7919) + "\n";
  }
  ASSERT_EQ(RunImport(program.passwordFile(), {"FILE"}, input).output, Imported(kUsers, 0, 0));

  // Each checks out through the library, as a service checks it.
  users_file* file = nullptr;
  ASSERT_EQ(users_open(program.passwordFile().c_str(), &file), USERS_OK);
  for (int i = 0; i < kUsers; ++i) {
    std::string name = "user" + std::to_string(i), password = "pw" + std::to_string(i * 7919);
    EXPECT_EQ(users_check(file, name.c_str(), password.c_str()), USERS_OK) << i;
  }
  users_close(file);
  UserList list;
  ASSERT_TRUE(list.Load(program.passwordFile()));
  ASSERT_EQ(list.records.size(), kUsers + 2u);
  std::set<std::string> salts;
  for (const UserRecord& record : list.records)
    salts.insert(std::string(list.FieldsOf(record).salt));
  // Of 32768 salts, 10,000 draws give about 8,600 distinct ones.
  EXPECT_GT(salts.size(), 8000u);
  for (int i : {0, kUsers - 1}) {
    EXPECT_EQ(
        program
            .Run({"check", "-u", "user" + std::to_string(i), "-p", "pw" + std::to_string(i * 7919)})
            .output,
        "Operation Successful:  Username and password match.\n");
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
