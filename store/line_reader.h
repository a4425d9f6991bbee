#ifndef USERS_STORE_LINE_READER_H_
#define USERS_STORE_LINE_READER_H_

#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>

// Splits an input into lines at each line feed, reading it block by block
// into one reused buffer that only grows for a line longer than itself. The
// bytes behind the last line feed are a last line. The buffer is wiped when
// the reader ends, as its input may hold passwords.
class LineReader {
 public:
  // Reads up to `capacity` bytes into `buffer`: the count, 0 at the end,
  // -1 on a read error.
  using ReadFunction = std::function<std::ptrdiff_t(char* buffer, std::size_t capacity)>;

  // `sizeHint`, the input's expected size, only sizes the first buffer.
  // `maxLineLength`, if not 0, bounds the memory that an input whose lines
  // have no end can take: the buffer then never grows.
  explicit LineReader(ReadFunction read, std::size_t sizeHint = 0, std::size_t maxLineLength = 0);
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;
  ~LineReader();

  // Reads the input to its end, calling `take(line)` for each line in order,
  // without its line feed; the view is valid during the call. Returns true
  // at the end, false as soon as `take` returns false or a read fails: a
  // read error must not pass for the end, or the caller would take the
  // lines so far for all of them. A line whose end is still unread after
  // `maxLineLength` bytes ends the reading: `take` gets its first
  // maxLineLength + 1 bytes, and the result is false.
  template <typename TakeLine>
  bool ForEachLine(TakeLine take);

  // The same reading, but for `maxLineLength`, for a caller that splits
  // lines its own way: after each
  // read, `takeLines(bytes, begin)` gets the bytes read so far, of which it
  // takes the whole lines from `begin` on, moving `begin` past each; it
  // returns false to end the reading, false. At the end, `takeLast(line)`
  // gets the bytes behind the last line feed, if there are any.
  template <typename TakeLines, typename TakeLast>
  bool ForEachBlock(TakeLines takeLines, TakeLast takeLast);

 private:
  // Keeps the unfinished line, makes room behind it and reads: the count
  // read, 0 at the end, -1 on a read error.
  std::ptrdiff_t ReadMore();

  ReadFunction read_;
  std::size_t maxLineLength_;
  std::string buffer_;
  std::size_t begin_ = 0;  // first byte of the line not yet taken
  std::size_t end_ = 0;    // end of the bytes read
};

// In the header, so that the scan of each block runs in the caller with its
// place in registers.
template <typename TakeLines, typename TakeLast>
bool LineReader::ForEachBlock(TakeLines takeLines, TakeLast takeLast) {
  for (;;) {
    std::size_t begin = begin_;
    const bool more = takeLines(std::string_view(buffer_.data(), end_), begin);
    begin_ = begin;
    if (!more) return false;
    std::ptrdiff_t count = ReadMore();
    if (count < 0) return false;
    if (count == 0) {
      return begin_ == end_ || takeLast(std::string_view(buffer_.data() + begin_, end_ - begin_));
    }
  }
}

template <typename TakeLine>
bool LineReader::ForEachLine(TakeLine take) {
  return ForEachBlock(
      [&](std::string_view bytes, std::size_t& begin) {
        const char* data = bytes.data();
        while (const void* found = std::memchr(data + begin, '\n', bytes.size() - begin)) {
          std::size_t lineEnd = static_cast<std::size_t>(static_cast<const char*>(found) - data);
          if (!take(bytes.substr(begin, lineEnd - begin))) return false;
          begin = lineEnd + 1;
        }
        if (maxLineLength_ != 0 && bytes.size() - begin > maxLineLength_) {
          take(bytes.substr(begin, maxLineLength_ + 1));
          return false;
        }
        return true;
      },
      take);
}

#endif  // USERS_STORE_LINE_READER_H_
