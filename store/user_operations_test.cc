#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "digest/password_digest.h"
#include "platform/platform.h"
#include "store/user_list.h"
#include "store/user_record.h"
#include "tests/temp_dir.h"

namespace {

// A list loaded from a file of `lines` in a fresh directory; Reload loads
// the file again, as the next run would.
class UserOperationsTest : public ::testing::Test {
 protected:
  void Load(const std::string& lines) {
    WriteFile(dir_.File("users.dat"), lines);
    Reload();
  }
  void Reload() {
    list_ = std::make_unique<UserList>();
    ASSERT_TRUE(list_->Load(dir_.File("users.dat")));
  }
  // The file's bytes with this platform's line ends shown as "\n".
  std::string File() {
    std::string bytes = ReadFile(dir_.File("users.dat"));
    if (platform::kFileLineEnd != "\n") std::erase(bytes, '\r');
    return bytes;
  }
  static std::string Line(const std::string& name, const std::string& salt,
                          const std::string& password) {
    return name + ":" + salt + ":" + ComputeDigest(name, salt, password) + "\n";
  }

  TempDir dir_;
  std::unique_ptr<UserList> list_;
  std::string message_ = "left over";
};

TEST_F(UserOperationsTest, AddAppendsANewUserWithAFreshSalt) {
  Load("bob:AAAAAA==:x\n");
  EXPECT_TRUE(list_->AddUser("Bob", "pw", false, message_));
  EXPECT_EQ(message_, " New user entry added.");
  const UserRecord& added = list_->records.back();
  std::string salt(list_->FieldsOf(added).salt);
  EXPECT_EQ(salt.size(), 8u);
  EXPECT_EQ(File(), "bob:AAAAAA==:x\n" + Line("Bob", salt, "pw"));
  // The list saved answers as the file it wrote.
  EXPECT_TRUE(list_->CheckUser("Bob", "pw", message_));
  EXPECT_TRUE(list_->AddUser("Bob", "pw2", true, message_));
  EXPECT_TRUE(list_->CheckUser("Bob", "pw2", message_));
  EXPECT_EQ(File(), "bob:AAAAAA==:x\n" + Line("Bob", salt, "pw2"));
}

TEST_F(UserOperationsTest, ReplaceKeepsSaltAndPlaceAndTouchesTheFirstOnly) {
  const std::string tail = "c:s:d\nalice:AAAAAA==:dup\n";
  Load("alice:4hsAAA==:old\n" + tail);
  EXPECT_TRUE(list_->AddUser("alice", "new", true, message_));
  EXPECT_EQ(message_, " Existing user entry updated.");
  EXPECT_EQ(File(), "alice:4hsAAA==:9O5WqgNDt1hxrwP0OBQOIA==\n" + tail);
}

TEST_F(UserOperationsTest, ReplaceOfAMissingUserAddsIt) {
  Load("");
  EXPECT_TRUE(list_->AddUser("a", "pw", true, message_));
  EXPECT_EQ(message_, " New user entry added.");
  EXPECT_EQ(list_->records.size(), 1u);
}

TEST_F(UserOperationsTest, AddOfAnExistingUserChangesNothing) {
  Load("a:s:d\n");
  EXPECT_FALSE(list_->AddUser("a", "pw", false, message_));
  EXPECT_EQ(message_, " User entry already exists.");
  EXPECT_EQ(File(), "a:s:d\n");
}

TEST_F(UserOperationsTest, RemoveTakesOutTheFirstOfTwo) {
  Load("a:1:x\nb:2:y\na:3:z\n");
  EXPECT_TRUE(list_->RemoveUser("a", message_));
  EXPECT_EQ(message_, " User entry removed.");
  EXPECT_EQ(File(), "b:2:y\na:3:z\n");
  Reload();
  EXPECT_TRUE(list_->RemoveUser("a", message_));
  EXPECT_EQ(File(), "b:2:y\n");
  Reload();
  EXPECT_FALSE(list_->RemoveUser("a", message_));
  EXPECT_EQ(message_, " User entry not found.");
}

TEST_F(UserOperationsTest, CheckComparesWithTheFirstRecord) {
  // b's and c's stored digests are one byte longer and one byte shorter
  // than the right one, which a comparison of the common bytes would pass.
  const std::string longer = Line("b", "AAAAAA==", "pw"), shorter = Line("c", "AAAAAA==", "pw");
  Load(Line("a", "AAAAAA==", "one") + Line("a", "AAAAAA==", "two") +
       longer.substr(0, longer.size() - 1) + "=\n" + shorter.substr(0, shorter.size() - 2) + "\n");
  struct Case {
    const char* name;
    const char* password;
    bool matches;
    const char* message;
  } cases[] = {
      {"a", "one", true, " Username and password match."},
      {"a", "two", false, " Username and password do not match."},
      {"a", "one ", false, " Username and password do not match."},
      {"A", "one", false, " User entry not found."},
      {"b", "pw", false, " Username and password do not match."},
      {"c", "pw", false, " Username and password do not match."},
  };
  const std::string before = File();
  for (const Case& c : cases) {
    EXPECT_EQ(list_->CheckUser(c.name, c.password, message_), c.matches) << c.password;
    EXPECT_EQ(message_, c.message) << c.password;
  }
  EXPECT_EQ(File(), before);
}

TEST_F(UserOperationsTest, FailedSaveReplacesTheMessage) {
  Load("a:s:d\n");
  list_->path = dir_.File("gone/users.dat");
  EXPECT_FALSE(list_->AddUser("b", "pw", false, message_));
  EXPECT_EQ(message_, " Access Denied : Unable to update password file.");
  Reload();
  list_->path = dir_.File("gone/users.dat");
  EXPECT_FALSE(list_->RemoveUser("a", message_));
  EXPECT_EQ(message_, " Access Denied : Unable to update password file.");
  EXPECT_EQ(File(), "a:s:d\n");
}

}  // namespace
