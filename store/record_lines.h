#ifndef USERS_STORE_RECORD_LINES_H_
#define USERS_STORE_RECORD_LINES_H_

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "store/user_list.h"

namespace record_lines {

// Where the line feeds and ':' are in the next kWidth bytes: bit i of the
// mask for byte i. Two ways to tell, giving the same masks: one word of
// eight bytes in any C++, and sixteen bytes at once where the processor
// compares that many (every x86-64 does).
struct WordMarks {
  static constexpr std::size_t kWidth = 8;
  static unsigned Find(const char* bytes);
};
#if defined(__SSE2__)
struct VectorMarks {
  static constexpr std::size_t kWidth = 16;
  static unsigned Find(const char* bytes) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(
        _mm_cmpeq_epi8(v, _mm_set1_epi8('\n')), _mm_cmpeq_epi8(v, _mm_set1_epi8(':')))));
  }
};
using NativeMarks = VectorMarks;
#else
using NativeMarks = WordMarks;
#endif

// The same mask for the last `count` bytes, fewer than a finder's width.
inline unsigned TailMarks(const char* bytes, std::size_t count) {
  unsigned marks = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (bytes[i] == '\n' || bytes[i] == ':') marks |= 1u << i;
  }
  return marks;
}

inline unsigned WordMarks::Find(const char* bytes) {
  // Byte i at bits 8i to 8i+7, whatever the processor's byte order.
  std::uint64_t word = 0;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&word, bytes, 8);
  } else {
    for (unsigned i = 0; i < 8; ++i) {
      word |= std::uint64_t{static_cast<unsigned char>(bytes[i])} << (8 * i);
    }
  }
  constexpr std::uint64_t kEachByte = 0x0101010101010101;
  constexpr std::uint64_t kLow7 = 0x7f * kEachByte;
  // The high bit of each byte that equals `byte`, and no other bit.
  auto equal = [word](unsigned char byte) {
    const std::uint64_t x = word ^ (byte * kEachByte);
    return ~(((x & kLow7) + kLow7) | x | kLow7);
  };
  // Bit 8i of byte i moves to bit 56 + i: the products never overlap.
  return static_cast<unsigned>((((equal('\n') | equal(':')) >> 7) * 0x0102040810204080) >> 56);
}

}  // namespace record_lines

// Takes the lines of a password file apart in one pass over its bytes, many
// at a time, finding each line feed and each ':' as it goes. A load or a
// streamed check spends most of its time here: a search for each line end
// and then for each field's end cost a third more in all.
//
// Calls `take(line, offset, fields)` for each line of `bytes` from `begin`
// that ends with a line feed, in order: the line without its line feed and a
// CR before it, the offset of its first byte in `bytes`, and its fields as
// UserList::SplitFields gives them. Moves `begin` past each line taken, so
// that it ends at the first byte of an unfinished line. Returns false as
// soon as `take` does, with `begin` at the start of the line it refused.
template <typename Marks = record_lines::NativeMarks, typename Take>
bool ForEachRecordLine(std::string_view bytes, std::size_t& begin, Take take) {
  const char* const data = bytes.data();
  const std::size_t size = bytes.size();
  std::size_t lineStart = begin;
  // The first two ':' of the line, and how many there are: a line of
  // exactly two, between three fields, is the common case.
  std::size_t colon[2] = {0, 0};
  std::size_t colons = 0;
  auto atMark = [&](std::size_t at) {
    if (data[at] == ':') {
      if (colons < 2) colon[colons] = at;
      ++colons;
      return true;
    }
    std::size_t end = at;
    if (end > lineStart && data[end - 1] == '\r') --end;
    const std::string_view line(data + lineStart, end - lineStart);
    UserList::Fields fields;
    if (colons == 2 && colon[0] > lineStart && colon[1] > colon[0] + 1 && end > colon[1] + 1) {
      fields.count = 3;
      fields.first[0] = {data + lineStart, colon[0] - lineStart};
      fields.first[1] = {data + colon[0] + 1, colon[1] - colon[0] - 1};
      fields.first[2] = {data + colon[1] + 1, end - colon[1] - 1};
      fields.joinedBySingleColons = true;
    } else {
      fields = UserList::SplitFields(line);
    }
    if (!take(line, lineStart, fields)) return false;
    lineStart = at + 1;
    colons = 0;
    return true;
  };
  for (std::size_t at = lineStart; at < size; at += Marks::kWidth) {
    // One loop for the last few bytes too, so that the work at a mark is
    // inlined once.
    unsigned marks = size - at >= Marks::kWidth ? Marks::Find(data + at)
                                                : record_lines::TailMarks(data + at, size - at);
    for (; marks != 0; marks &= marks - 1) {
      if (!atMark(at + static_cast<unsigned>(std::countr_zero(marks)))) {
        begin = lineStart;
        return false;
      }
    }
  }
  begin = lineStart;
  return true;
}

// ForEachRecordLine over an input that arrives in parts, each call given
// all of it read so far from the same `begin`: `searched`, 0 at first, keeps
// how many bytes from `begin` hold no line feed, and they are not scanned
// again. A line longer than many parts then costs its length once, not once
// a part.
template <typename Take>
bool ForEachRecordLineSoFar(std::string_view bytes, std::size_t& begin, std::size_t& searched,
                            Take take) {
  const std::size_t from = begin + searched;
  if (from >= bytes.size() ||
      std::memchr(bytes.data() + from, '\n', bytes.size() - from) == nullptr) {
    searched = bytes.size() - begin;
    return true;
  }
  const bool taken = ForEachRecordLine(bytes, begin, take);
  searched = bytes.size() - begin;
  return taken;
}

// Takes the last line of some bytes, one that no line feed ends, as
// ForEachRecordLine takes the others: `offset` is where it starts.
template <typename Take>
bool TakeLastLine(std::string_view line, std::size_t offset, Take take) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return take(line, offset, UserList::SplitFields(line));
}

#endif  // USERS_STORE_RECORD_LINES_H_
