#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <list>
#include <memory>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "store/user_list.h"
#include "store/user_record.h"
#include "tests/memory_input.h"
#include "tests/temp_dir.h"

namespace {

// Loads `bytes` read `chunk` bytes at a time (0: all at once), the read
// failing at `errorAt`.
bool ReadBytes(UserList& list, const std::string& bytes, std::size_t chunk = 0,
               std::size_t errorAt = std::string::npos, std::size_t sizeHint = 0) {
  return list.ReadRecords(MemoryInput(bytes, chunk, errorAt), sizeHint);
}

// The process's resident memory in KiB, or -1 where the system does not say.
long ResidentKilobytes() {
  std::ifstream status("/proc/self/status");
  for (std::string word; status >> word;) {
    if (word == "VmRSS:" && status >> word) return std::stol(word);
  }
  return -1;
}

// The records as "name|salt|digest" lines, so that a test shows them whole.
std::string Show(const UserList& list) {
  std::string shown;
  for (const UserRecord& record : list.records) {
    RecordFields r = list.FieldsOf(record);
    shown +=
        std::string(r.userName) + "|" + std::string(r.salt) + "|" + std::string(r.digest) + "\n";
  }
  return shown;
}

struct ReaderCase {
  const char* name;
  std::string bytes;
  bool loads;
  std::string records;  // after the load, whether it succeeded or not
};

const ReaderCase kReaderCases[] = {
    {"empty file", "", true, ""},
    {"empty lines only", "\n\n\r\n\n", true, ""},
    {"one record", "a:s:d\n", true, "a|s|d\n"},
    {"last line without line feed", "a:s:d\nb:t:e", true, "a|s|d\nb|t|e\n"},
    {"CR LF ends", "a:s:d\r\nb:t:e\r\n", true, "a|s|d\nb|t|e\n"},
    {"only one CR is dropped", "a:s:d\r\r\n", true, "a|s|d\r\n"},
    {"lone CR ends make one line, one record", "a:s:d\r", true, "a|s|d\n"},
    {"lone CR ends make one line, too many fields", "a:s:d\rb:t:e\r", false, ""},
    {"separators only are skipped", "a:s:d\n:::\n::\nb:t:e\n", true, "a|s|d\nb|t|e\n"},
    {"runs of separators yield no empty field", "::a:::s:d:\n", true, "a|s|d\n"},
    {"a stray separator behind or between fields", "a:s:d:\nb::t:e\n", true, "a|s|d\nb|t|e\n"},
    {"blanks belong to fields", " a : s :d\t\n", true, " a | s |d\t\n"},
    {"a single blank is one field", "a:s:d\n \n", false, "a|s|d\n"},
    {"two fields", "a:s:d\nb:t:e\nc:f\nd:g:h\n", false, "a|s|d\nb|t|e\n"},
    {"four fields", "a:s:d:x\n", false, ""},
    {"one field", "abc\n", false, ""},
    {"duplicates kept in order", "a:1:x\nb:2:y\na:3:z\n", true, "a|1|x\nb|2|y\na|3|z\n"},
    {"foreign forms load as they stand", "a-name-of-more-than-16?:salt:!!\n", true,
     "a-name-of-more-than-16?|salt|!!\n"},
    {"zero and high bytes are field bytes", std::string("\xff\x00:s:d\n", 7), true,
     std::string("\xff\x00|s|d\n", 7)},
    {"fields of 127 and 128 bytes",
     std::string(127, 'n') + ":s:d\n" + "n:" + std::string(128, 's') + ":d\n", true,
     std::string(127, 'n') + "|s|d\n" + "n|" + std::string(128, 's') + "|d\n"},
    // The longest line a record refers to in place, and one byte more.
    {"lines of 255 and 256 bytes, CR LF",
     std::string(251, 'n') + ":s:d\r\n" + std::string(252, 'n') + ":s:d\r\n", true,
     std::string(251, 'n') + "|s|d\n" + std::string(252, 'n') + "|s|d\n"},
    {"lines of 255 and 256 bytes, the last without line end",
     std::string(251, 'n') + ":s:d\n" + std::string(252, 'n') + ":s:d", true,
     std::string(251, 'n') + "|s|d\n" + std::string(252, 'n') + "|s|d\n"},
};

// The records of `list` as the writer writes them.
std::string Written(const UserList& list) {
  std::string written;
  EXPECT_TRUE(list.WriteRecords([&written](std::string_view bytes) {
    written.append(bytes);
    return true;
  }));
  return written;
}

// What loads is written back as its records' fields, joined by single ':',
// each line ending as this system's lines end.
TEST(PasswordFileTest, ReaderRules) {
  for (const ReaderCase& c : kReaderCases) {
    UserList list;
    EXPECT_EQ(ReadBytes(list, c.bytes), c.loads) << c.name;
    EXPECT_EQ(Show(list), c.records) << c.name;
    if (!c.loads) continue;
    std::string lines;
    for (char byte : c.records) {
      lines += byte == '|' ? std::string(":") : byte == '\n' ? std::string(platform::kFileLineEnd) : std::string(1, byte);
    }
    EXPECT_EQ(Written(list), lines) << c.name;
  }
}

TEST(PasswordFileTest, ReadingInAnyChunkSizeGivesTheSameRecords) {
  for (const ReaderCase& c : kReaderCases) {
    UserList whole;
    bool loads = ReadBytes(whole, c.bytes);
    for (std::size_t chunk = 1; chunk <= 7; ++chunk) {
      UserList list;
      EXPECT_EQ(ReadBytes(list, c.bytes, chunk), loads) << c.name << ", chunk " << chunk;
      EXPECT_EQ(Show(list), Show(whole)) << c.name << ", chunk " << chunk;
    }
  }
}

TEST(PasswordFileTest, LongLinesGrowTheBuffer) {
  std::string name(3 << 20, 'n');
  UserList list;
  ASSERT_TRUE(ReadBytes(list, "a:s:d\n" + name + ":salt:digest\nb:t:e"));
  ASSERT_EQ(list.records.size(), 3u);
  EXPECT_EQ(list.FieldsOf(*list.records.begin()).userName, "a");
  EXPECT_EQ(list.FieldsOf(*std::next(list.records.begin())).userName.size(), name.size());
  EXPECT_EQ(list.FieldsOf(list.records.back()).userName, "b");
}

// A valid file cut at every length never crashes the reader and keeps the
// records of the whole lines before the cut; a cut that falls on a line end
// loads exactly those.
TEST(PasswordFileTest, TruncatedFilesLoadOrFailCleanly) {
  const struct {
    std::string bytes, records;
  } lines[] = {
      {"alice:4hsAAA==:9O5WqgNDt1hxrwP0OBQOIA==\r\n", "alice|4hsAAA==|9O5WqgNDt1hxrwP0OBQOIA==\n"},
      {"bob:AAAAAA==:x\n", "bob|AAAAAA==|x\n"},
      {"\n", ""},
      {":c:d:e\n", "c|d|e\n"},
  };
  std::string before, records;  // the whole lines so far, and what they load
  for (const auto& line : lines) {
    for (std::size_t cut = 0; cut < line.bytes.size(); ++cut) {
      UserList list;
      bool loads = ReadBytes(list, before + line.bytes.substr(0, cut));
      std::string shown = Show(list);
      EXPECT_EQ(shown.substr(0, records.size()), records) << before.size() + cut;
      if (cut == 0) {
        EXPECT_TRUE(loads) << before.size();
        EXPECT_EQ(shown, records) << before.size();
      }
    }
    before += line.bytes;
    records += line.records;
  }
  UserList list;
  EXPECT_TRUE(ReadBytes(list, before));
  EXPECT_EQ(Show(list), records);
}

TEST(PasswordFileTest, ReadErrorFailsTheLoad) {
  std::string bytes;
  for (int i = 0; i < 1000; ++i) bytes += "user" + std::to_string(i) + ":salt:digest\n";
  UserList list;
  EXPECT_FALSE(ReadBytes(list, bytes, 64, bytes.size() / 2));
}

// Memory is the input's bytes and 24 bytes a record: a size hint that is
// not the input's (a sparse file's is huge) takes none of its own.
TEST(PasswordFileTest, MemoryFollowsTheInput) {
  struct Case {
    const char* name;
    std::size_t blankLines, records, sizeHint;
  } cases[] = {
      {"one record behind blank lines, hinted as a sparse file", 8 << 20, 1, std::size_t{1} << 40},
      {"250,000 records, hinted at their size as a load is", 0, 250000, 0},
  };
  for (const Case& c : cases) {
    std::string bytes(c.blankLines, '\n');
    for (std::size_t i = 0; i < c.records; ++i) {
      bytes += "user" + std::to_string(1000000 + i) + ":AAAAAA==:9O5WqgNDt1hxrwP0OBQOIA==\n";
    }
    long before = ResidentKilobytes();
    if (before < 0) GTEST_SKIP() << "the system does not report resident memory";
    UserList list;
    std::size_t hint = c.sizeHint != 0 ? c.sizeHint : bytes.size();
    ASSERT_TRUE(ReadBytes(list, bytes, 0, std::string::npos, hint)) << c.name;
    EXPECT_EQ(list.records.size(), c.records) << c.name;
    // Beyond the bytes and the nodes: a large page, a sanitizer's shadow.
    std::size_t limit = bytes.size() + 24 * c.records + (8 << 20);
    EXPECT_LE(ResidentKilobytes() - before, static_cast<long>(limit >> 10)) << c.name;
  }
}

TEST(PasswordFileTest, LoadReplacesRecordsAndKeepsThePath) {
  TempDir dir;
  UserList list;
  list.records.emplace_back("old", "s", "d");

  EXPECT_FALSE(list.Load(dir.File("missing.dat")));
  EXPECT_EQ(list.path, dir.File("missing.dat"));
  EXPECT_EQ(Show(list), "old|s|d\n");

  EXPECT_FALSE(list.Load(dir.path())) << "a directory cannot be read";
  EXPECT_EQ(list.path, dir.path());

  WriteFile(dir.File("users.dat"), "a:s:d\n");
  EXPECT_TRUE(list.Load(dir.File("users.dat")));
  EXPECT_EQ(Show(list), "a|s|d\n");
  // What a reader that reloads on a change asks.
  EXPECT_TRUE(list.StillLoaded());
  WriteFile(dir.File("users.dat"), "a:s:d\nb:s:d\n");
  EXPECT_FALSE(list.StillLoaded());
}

TEST(PasswordFileTest, SaveThenLoadRoundTrips) {
  TempDir dir;
  std::string path = dir.File("users.dat");
  WriteFile(path, std::string(10000, 'x'));
  UserList list;
  list.records.emplace_back("alice", "4hsAAA==", "9O5WqgNDt1hxrwP0OBQOIA==");
  list.records.emplace_back(" b b ", "s", std::string(3000, 'd'));
  list.records.emplace_back("alice", "AAAAAA==", "x\r");  // never made, yet written back
  ASSERT_TRUE(list.Save(path));
  const std::string end(platform::kFileLineEnd);
  EXPECT_EQ(ReadFile(path), "alice:4hsAAA==:9O5WqgNDt1hxrwP0OBQOIA==" + end + " b b :s:" +
                                std::string(3000, 'd') + end + "alice:AAAAAA==:x\r" + end);
  UserList loaded;
  ASSERT_TRUE(loaded.Load(path));
  EXPECT_EQ(loaded.FieldsOf(*std::next(loaded.records.begin(), 1)).digest.size(), 3000u);
  EXPECT_EQ(loaded.records.size(), 3u);

  UserList empty;
  ASSERT_TRUE(empty.Save(path));
  EXPECT_EQ(ReadFile(path), "");
  EXPECT_EQ(std::filesystem::directory_iterator(dir.path())->path().filename(), "users.dat")
      << "no temporary file stays behind";
}

TEST(PasswordFileTest, SaveToAMissingDirectoryFailsAndMakesNothing) {
  TempDir dir;
  UserList list;
  EXPECT_FALSE(list.Save(dir.File("no/users.dat")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("no")));
}

}  // namespace
