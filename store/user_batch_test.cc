#include "store/user_batch.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "digest/password_digest.h"
#include "tests/memory_input.h"

namespace {

struct Change {
  std::uint64_t line;
  const char* name;
  const char* password;  // null: a removal
};

// The faults as "line:what", or the records as "name|salt|digest" lines.
std::string Show(const std::vector<UserBatch::Fault>& faults) {
  std::string shown;
  for (const UserBatch::Fault& f : faults) {
    shown += std::to_string(f.line) + ":";
    switch (f.problem) {
      case UserBatch::Problem::kNameTwice:
        shown += "again(" + std::to_string(f.earlierLine) + ") ";
        break;
      case UserBatch::Problem::kExists:
        shown += "exists ";
        break;
      case UserBatch::Problem::kMissing:
        shown += "missing ";
        break;
    }
  }
  return shown;
}
std::string Show(const UserList& list) {
  std::string shown;
  for (const UserRecord& r : list.records) {
    shown +=
        std::string(r.userName) + "|" + std::string(r.salt) + "|" + std::string(r.digest) + "\n";
  }
  return shown;
}
std::string Record(const std::string& name, const std::string& salt, const std::string& password) {
  return name + "|" + salt + "|" + ComputeDigest(name, salt, password) + "\n";
}

TEST(UserBatchTest, CheckThenApply) {
  struct Case {
    const char* name;
    const char* file;
    bool replace;
    std::vector<Change> changes;
    std::string faults;
    std::string records;  // after Apply, when there is no fault
  } cases[] = {
      {"each kind on a file with a name twice: the first record counts",
       "a:1:x\nb:2:y\na:3:z\nc:4:w\n",
       true,
       {{1, "a", "pw"}, {2, "c", nullptr}, {5, "d", "new"}, {6, "b", nullptr}, {7, "e", "e"}},
       "",
       Record("a", "1", "pw") + "a|3|z\n" + Record("d", "AAAAAA==", "new") +
           Record("e", "/38AAA==", "e")},
      {"every fault, in line order, a line's own in the order found",
       "a:1:x\n",
       false,
       {{2, "b", "p"}, {4, "a", "p"}, {5, "b", nullptr}, {7, "z", nullptr}, {9, "b", "q"}},
       "4:exists 5:again(2) 5:missing 7:missing 9:again(2) ",
       ""},
      {"names differ by case and by length",
       "a:1:x\n",
       false,
       {{1, "A", "p"}, {2, "a ", "p"}, {3, "a", nullptr}},
       "",
       Record("A", "AAAAAA==", "p") + Record("a ", "/38AAA==", "p")},
      {"nothing to do", "a:1:x\n", false, {}, "", "a|1|x\n"},
  };
  for (const Case& c : cases) {
    UserList list;
    ASSERT_TRUE(list.ReadRecords(MemoryInput(c.file))) << c.name;
    UserBatch batch(c.replace);
    for (const Change& change : c.changes) {
      if (change.password == nullptr) {
        batch.Remove(change.line, change.name);
      } else {
        batch.Add(change.line, change.name, change.password);
      }
    }
    EXPECT_EQ(Show(batch.Check(list)), c.faults) << c.name;
    if (!c.faults.empty()) continue;
    // Salts from a source that gives 0 and 32767 in turn.
    std::uint64_t draw = 0x7fff'0000'7fff'0000u;
    RandomSalts salts([&](std::uint64_t* bits) { return *bits = draw, true; });
    UserBatch::Counts counts;
    ASSERT_TRUE(batch.Apply(list, salts, counts)) << c.name;
    EXPECT_EQ(Show(list), c.records) << c.name;
  }
}

TEST(UserBatchTest, ApplyStopsWhenTheSaltsFail) {
  UserList list;
  UserBatch batch(false);
  batch.Add(1, "a", "pw");
  ASSERT_EQ(Show(batch.Check(list)), "");
  RandomSalts salts([](std::uint64_t*) { return false; });
  UserBatch::Counts counts;
  EXPECT_FALSE(batch.Apply(list, salts, counts));
  EXPECT_EQ(counts.added, 0u);
}

}  // namespace
