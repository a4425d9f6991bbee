#include "frontend/import_input.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "digest/password_digest.h"
#include "tests/memory_input.h"

namespace {

const char* const kWhat[] = {"no-colon", "name",  "password", "too-long", "too-many",
                             "read",     "again", "exists",   "missing"};

// What got into the batch: applied to a list that holds only "gone", with
// the salt "AAAAAA==" for every new user.
std::string Applied(UserBatch& batch) {
  UserList list;
  list.records.emplace_back("gone", "s", "d");
  if (!batch.Check(list).empty()) return "<faults>";
  RandomSalts salts([](std::uint64_t* bits) { return *bits = 0, true; });
  UserBatch::Counts counts;
  if (!batch.Apply(list, salts, counts)) return "<no salt>";
  std::string shown;
  for (const UserRecord& record : list.records) {
    RecordFields r = list.FieldsOf(record);
    shown += std::string(r.userName) + (r.salt == "s" ? "" : "|" + std::string(r.digest)) + "\n";
  }
  return shown;
}
std::string Added(const std::string& name, const std::string& password) {
  return name + "|" + ComputeDigest(name, "AAAAAA==", password) + "\n";
}

TEST(ImportInputTest, Lines) {
  const std::string sixteen = "sixteen-bytes-16";
  struct Case {
    const char* name;
    std::string input;
    bool removals;
    std::string problems;  // "line:what "
    std::string applied;   // what the valid lines make of a list of "gone"
    std::size_t errorAt = std::string::npos;
  } cases[] = {
      {"CR LF, blank lines, a colon in a password, no last line feed",
       "\r\na:pw\r\n\n\r\nb:p:w:\nc:x", false, "",
       "gone\n" + Added("a", "pw") + Added("b", "p:w:") + Added("c", "x")},
      {"the largest name and password, and a byte more",
       sixteen + ":" + sixteen + "\r\n" + sixteen + "7:pw\nn:" + sixteen + "7\n", false,
       "2:name 3:password ", "gone\n" + Added(sixteen, sixteen)},
      {"every invalid line", "a\n:pw\na:\n:\na?:pw\nb%:pw\nc:p?\nd:%\ne\rf\n", false,
       "1:no-colon 2:name 3:password 4:name 4:password 5:name 6:name 7:password 8:password "
       "9:no-colon ",
       "gone\n"},
      // The digest stops at a zero byte: "a\0x" would be "a" to it.
      {"a zero byte in a name or a password", std::string("a\0x:pw\nb:p\0w\n", 13), false,
       "1:name 2:password ", "gone\n"},
      {"removals mixed with adds", "gone\r\nx:pw\nbad?\n", true, "3:name ", Added("x", "pw")},
      {"a line too long ends the reading", "a:pw\n" + sixteen + ":" + sixteen + "xx\nb:pw\n", false,
       "2:too-long ", "gone\n" + Added("a", "pw")},
      {"a line without an end", "a:pw\n" + std::string(1 << 20, 'x'), false, "2:too-long ",
       "gone\n" + Added("a", "pw")},
      {"a read error ends the reading", "a:pw\nb:pw\nc:pw\n", false, "3:read ",
       "gone\n" + Added("a", "pw") + Added("b", "pw"), 12},
      {"the last line allowed", std::string(kMaxImportLines - 1, '\n') + "a:pw\n", false, "",
       "gone\n" + Added("a", "pw")},
      {"one line too many", std::string(kMaxImportLines, '\n') + "a:pw", false,
       std::to_string(kMaxImportLines + 1) + ":too-many ", "gone\n"},
  };
  for (const Case& c : cases) {
    // Small inputs also come a few bytes a read, which puts every line
    // across the ends of reads.
    for (std::size_t chunk = 0; chunk <= (c.input.size() < 1000 ? 7 : 0); ++chunk) {
      SCOPED_TRACE(std::string(c.name) + ", chunk " + std::to_string(chunk));
      UserBatch batch(false);
      std::vector<Problem> problems;
      ReadImport(MemoryInput(c.input, chunk, c.errorAt), c.removals, batch, problems);
      std::string shown;
      for (const Problem& p : problems) {
        shown += std::to_string(p.line) + ":" + kWhat[static_cast<int>(p.what)] + " ";
      }
      EXPECT_EQ(shown, c.problems);
      EXPECT_EQ(Applied(batch), c.applied);
    }
  }
}

}  // namespace
