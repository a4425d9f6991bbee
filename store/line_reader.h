#ifndef USERS_STORE_LINE_READER_H_
#define USERS_STORE_LINE_READER_H_

#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>

// Splits an input into lines at each line feed, reading it block by block
// into one reused buffer that only grows for a line longer than itself. The
// bytes behind the last line feed are a last line.
class LineReader {
 public:
  // Reads up to `capacity` bytes into `buffer`: the count, 0 at the end,
  // -1 on a read error.
  using ReadFunction = std::function<std::ptrdiff_t(char* buffer, std::size_t capacity)>;

  // `sizeHint`, the input's expected size, only sizes the first buffer.
  explicit LineReader(ReadFunction read, std::size_t sizeHint = 0);
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // Points `line` at the next line, without its line feed; the view is valid
  // until the next call. Returns false at the end of the input or once a
  // read has failed.
  bool Next(std::string_view& line) {
    // Inline: most calls find their line in the buffer.
    const char* data = buffer_.data();
    if (const void* found = std::memchr(data + begin_, '\n', end_ - begin_)) {
      std::size_t lineEnd = static_cast<std::size_t>(static_cast<const char*>(found) - data);
      line = std::string_view(data + begin_, lineEnd - begin_);
      begin_ = lineEnd + 1;
      return true;
    }
    return ReadMore(line);
  }

  // Whether Next returned false for a read error rather than the end.
  bool Failed() const { return failed_; }

 private:
  // Next's way when no whole line is left in the buffer.
  bool ReadMore(std::string_view& line);

  ReadFunction read_;
  std::string buffer_;
  std::size_t begin_ = 0;  // first byte of the line not yet handed out
  std::size_t end_ = 0;    // end of the bytes read
  bool ended_ = false;     // read has returned 0 or -1
  bool failed_ = false;
};

#endif  // USERS_STORE_LINE_READER_H_
