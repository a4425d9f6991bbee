#include "store/user_batch.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "digest/password_digest.h"
#include "tests/memory_input.h"

namespace {

std::string Record(const std::string& name, const std::string& salt, const std::string& password) {
  return name + ":" + salt + ":" + ComputeDigest(name, salt, password) + "\n";
}

// The faults are told by the program's own tests; these rows are about what
// the changes make of a list.
TEST(UserBatchTest, ChangesMadeInOnePass) {
  struct Change {
    std::uint64_t line;
    const char* name;
    const char* password;  // null: a removal
  };
  // Forty users of one password, in the file and, backwards, in a batch
  // that gives the last a new one.
  std::string forty, fortyAfter;
  std::vector<Change> fortyChanges;
  std::vector<std::string> names;
  for (int i = 0; i < 40; ++i) names.push_back("user" + std::to_string(i));
  for (int i = 0; i < 40; ++i) {
    forty += Record(names[i], "AAAAAA==", "pw");
    fortyAfter += Record(names[i], "AAAAAA==", i == 39 ? "new" : "pw");
    fortyChanges.push_back({std::uint64_t(i + 1), names[39 - i].c_str(), i == 0 ? "new" : "pw"});
  }
  struct Case {
    const char* name;
    std::string file;
    std::vector<Change> changes;
    std::string after;
    bool exact = false;
    UserBatch::Counts counts = {};
  } cases[] = {
      {"each kind on a file with a name twice: the first record counts",
       "a:1:x\nb:2:y\na:3:z\nc:4:w\n",
       {{1, "a", "pw"}, {2, "c", nullptr}, {5, "d", "new"}, {6, "b", nullptr}, {7, "e", "e"}},
       Record("a", "1", "pw") + "a:3:z\n" + Record("d", "AAAAAA==", "new") +
           Record("e", "/38AAA==", "e")},
      {"names that differ by case and by length are new",
       "a:1:x\n",
       {{1, "A", "p"}, {2, "a ", "p"}, {3, "a", nullptr}},
       Record("A", "AAAAAA==", "p") + Record("a ", "/38AAA==", "p")},
      {"exact: a user kept, one replaced, one added; the others and a name's later record go",
       Record("a", "1", "pw") + "b:2:y\na:3:z\n" + Record("c", "4", "old"),
       {{1, "c", "new"}, {2, "d", "d"}, {3, "a", "pw"}},
       Record("a", "1", "pw") + Record("c", "4", "new") + Record("d", "AAAAAA==", "d"),
       true,
       {1, 1, 2, 1}},
      {"exact, nothing in the batch: every user goes",
       "a:1:x\nb:2:y\n",
       {},
       "",
       true,
       {0, 0, 2, 0}},
      {"more names than are looked up at once, in another order",
       forty,
       fortyChanges,
       fortyAfter,
       true,
       {0, 1, 0, 39}},
  };
  for (const Case& c : cases) {
    UserList list;
    ASSERT_TRUE(list.ReadRecords(MemoryInput(c.file))) << c.name;
    UserBatch batch(true, c.exact);
    for (const Change& change : c.changes) {
      if (change.password == nullptr) {
        batch.Remove(change.line, change.name);
      } else {
        batch.Add(change.line, change.name, change.password);
      }
    }
    ASSERT_TRUE(batch.Check(list).empty()) << c.name;
    // Salts from a source that gives 0 and 32767 in turn.
    RandomSalts salts([](std::uint64_t* bits) { return *bits = 0x7fff'0000'7fff'0000u, true; });
    UserBatch::Counts counts;
    ASSERT_TRUE(batch.Apply(list, salts, counts)) << c.name;
    if (c.exact) {
      EXPECT_EQ(
          std::vector({counts.added, counts.updated, counts.removed, counts.unchanged}),
          std::vector({c.counts.added, c.counts.updated, c.counts.removed, c.counts.unchanged}))
          << c.name;
    }
    std::string after;
    list.WriteRecords([&after](std::string_view bytes) { return after.append(bytes), true; });
    if (platform::kFileLineEnd != "\n") std::erase(after, '\r');
    EXPECT_EQ(after, c.after) << c.name;
  }

  UserList list;
  UserBatch batch(false);
  batch.Add(1, "a", "pw");
  ASSERT_TRUE(batch.Check(list).empty());
  RandomSalts failing([](std::uint64_t*) { return false; });
  UserBatch::Counts counts;
  EXPECT_FALSE(batch.Apply(list, failing, counts)) << "no salt, no user";
}

}  // namespace
