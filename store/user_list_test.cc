#include "store/user_list.h"

#include <gtest/gtest.h>

#include "store/user_index.h"

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
  // The index answers as the walk does.
  UserIndex index(list);
  for (const Case& c : cases) {
    for (auto found : {list.Find(c.name), index.Find(c.name)}) {
      if (c.salt == nullptr) {
        EXPECT_EQ(found, list.records.end()) << c.name;
      } else {
        ASSERT_NE(found, list.records.end()) << c.name;
        EXPECT_EQ(list.FieldsOf(*found).salt, c.salt) << c.name;
      }
    }
  }
}

// Enough names that probes collide and wrap around the table.
TEST(UserListTest, IndexFindsEveryNameOfALargeList) {
  UserList list;
  for (int i = 0; i < 5000; ++i)
    list.records.emplace_back("u" + std::to_string(i % 4000), "s", std::to_string(i));
  UserIndex index(list);
  for (int i = 0; i < 4000; ++i) {
    auto found = index.Find("u" + std::to_string(i));
    ASSERT_NE(found, list.records.end());
    EXPECT_EQ(list.FieldsOf(*found).digest, std::to_string(i));
  }
  EXPECT_EQ(index.Find("u4000"), list.records.end());
}

TEST(UserListTest, EmptyListFindsNothing) {
  UserList list;
  EXPECT_EQ(list.Find("alice"), list.records.end());
  EXPECT_EQ(UserIndex(list).Find("alice"), list.records.end());
  EXPECT_TRUE(list.path.empty());
}

}  // namespace
