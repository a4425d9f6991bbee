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
  struct Case {
    const char* name;
    const char* file;
    std::vector<Change> changes;
    std::string after;
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
  };
  for (const Case& c : cases) {
    UserList list;
    ASSERT_TRUE(list.ReadRecords(MemoryInput(c.file))) << c.name;
    UserBatch batch(true);
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
