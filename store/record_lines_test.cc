#include "store/record_lines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

struct Taken {
  std::string line;
  std::size_t offset;
  std::size_t count;
  std::vector<std::string> fields;
  bool joined;
  bool operator==(const Taken&) const = default;
};

Taken Describe(std::string_view line, std::size_t offset, const UserList::Fields& fields) {
  Taken taken{std::string(line), offset, fields.count, {}, fields.joinedBySingleColons};
  for (std::size_t i = 0; i < std::min<std::size_t>(fields.count, 3); ++i) {
    taken.fields.emplace_back(fields.first[i]);
  }
  return taken;
}

// The plain way: each line found by its line feed, then split.
std::vector<Taken> Plainly(const std::string& bytes, std::size_t& begin) {
  std::vector<Taken> taken;
  for (std::size_t end; (end = bytes.find('\n', begin)) != std::string::npos; begin = end + 1) {
    std::string_view line(bytes.data() + begin, end - begin);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    taken.push_back(Describe(line, begin, UserList::SplitFields(line)));
  }
  return taken;
}

template <typename Marks>
std::vector<Taken> InOnePass(const std::string& bytes, std::size_t& begin) {
  std::vector<Taken> taken;
  EXPECT_TRUE(ForEachRecordLine<Marks>(bytes, begin, [&](auto line, auto offset, auto& fields) {
    taken.push_back(Describe(line, offset, fields));
    return true;
  }));
  return taken;
}

// Lines of every length about the widths of a finder, with ':', CR and
// bytes that differ from a mark by one bit, and a last line left unfinished.
std::string RandomLines(std::mt19937& random) {
  static constexpr char kBytes[] = {'a', ':', ':', '\n', '\r', ';', '\x0b', '\x8a', '\xba', '\0'};
  std::string bytes(random() % 120, 'x');
  for (char& byte : bytes) byte = kBytes[random() % sizeof kBytes];
  return bytes;
}

template <typename Marks>
void ExpectAsPlain(const char* finder) {
  std::mt19937 random(7);
  for (int i = 0; i < 20000; ++i) {
    std::string bytes = RandomLines(random);
    const std::size_t from = bytes.empty() ? 0 : random() % bytes.size();
    std::size_t plainBegin = from, begin = from;
    ASSERT_EQ(InOnePass<Marks>(bytes, begin), Plainly(bytes, plainBegin)) << finder << ' ' << bytes;
    EXPECT_EQ(begin, plainBegin) << finder;
  }
}

TEST(RecordLinesTest, FindsTheLinesAndFieldsThatAPlainSplitFinds) {
  ExpectAsPlain<record_lines::WordMarks>("word");
  ExpectAsPlain<record_lines::NativeMarks>("native");
}

}  // namespace
