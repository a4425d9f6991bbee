#include "store/user_list.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "store/user_index.h"
#include "store/user_record.h"
#include "tests/memory_input.h"

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
    for (UserList::Records::const_iterator found : {UserList::Records::const_iterator(list.Find(c.name)), index.Find(c.name)}) {
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

// Two names of one tag, found at run time: a lookup that trusted the tag
// would take one for the other.
TEST(UserListTest, NamesThatShareATagAreTold) {
  std::map<std::uint32_t, std::string> byTag;
  std::string first, second;
  for (int i = 0; second.empty(); ++i) {
    std::string name = "u" + std::to_string(i);
    auto [it, added] = byTag.emplace(UserRecord::NameTag(name), name);
    if (!added) first = it->second, second = name;
  }
  UserList list;
  ASSERT_TRUE(list.ReadRecords(MemoryInput(first + ":1:a\n" + second + ":2:b\n")));
  UserIndex index(list);
  for (const auto& [name, salt] : {std::pair{first, "1"}, std::pair{second, "2"}}) {
    for (UserList::Records::const_iterator found : {UserList::Records::const_iterator(list.Find(name)), index.Find(name)}) {
      ASSERT_NE(found, list.records.end()) << name;
      EXPECT_EQ(list.FieldsOf(*found).salt, salt) << name;
    }
  }
}

// A record's fields stay what they were for the life of the list: through
// reads of other records, changes, erasures and a second load.
TEST(UserListTest, FieldsStayValid) {
  UserList list;
  ASSERT_TRUE(list.ReadRecords(MemoryInput("first:s1:d1\nlast:s2:d2\n")));
  RecordFields first = list.FieldsOf(list.records.front());
  RecordFields last = list.FieldsOf(list.records.back());
  list.SetPassword(list.records.begin(), "pw");
  RecordFields changed = list.FieldsOf(list.records.front());
  list.records.pop_front();
  ASSERT_TRUE(list.ReadRecords(MemoryInput("other:s3:d3\n")));
  EXPECT_EQ(first, (RecordFields{"first", "s1", "d1"}));
  EXPECT_EQ(last, (RecordFields{"last", "s2", "d2"}));
  EXPECT_EQ(changed.userName, "first");
  EXPECT_EQ(list.FieldsOf(list.records.front()).userName, "other");
}

TEST(UserListTest, EmptyListFindsNothing) {
  UserList list;
  EXPECT_EQ(list.Find("alice"), list.records.end());
  EXPECT_EQ(UserIndex(list).Find("alice"), list.records.end());
  EXPECT_TRUE(list.path.empty());
}

}  // namespace
