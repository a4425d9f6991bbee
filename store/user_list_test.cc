#include "store/user_list.h"

#include <gtest/gtest.h>

namespace {

TEST(UserListTest, FindTakesTheFirstExactlyEqualName) {
  UserList list;
  list.records.emplace_back("alice", "s1", "d1");
  list.records.emplace_back("Alice", "s2", "d2");
  list.records.emplace_back("alice", "s3", "d3");
  list.records.emplace_back("bob", "s4", "d4");

  struct Case {
    const char* name;
    const char* salt;  // of the record found, or null
  } cases[] = {
      {"alice", "s1"},  {"Alice", "s2"},     {"bob", "s4"},      {"ALICE", nullptr},
      {"ali", nullptr}, {"alice ", nullptr}, {"bobby", nullptr}, {"", nullptr},
  };
  for (const Case& c : cases) {
    auto found = list.Find(c.name);
    if (c.salt == nullptr) {
      EXPECT_EQ(found, list.records.end()) << c.name;
    } else {
      ASSERT_NE(found, list.records.end()) << c.name;
      EXPECT_EQ(found->salt, c.salt) << c.name;
    }
  }
}

TEST(UserListTest, EmptyListFindsNothing) {
  UserList list;
  EXPECT_EQ(list.Find("alice"), list.records.end());
  EXPECT_TRUE(list.path.empty());
}

}  // namespace
