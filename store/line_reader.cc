#include "store/line_reader.h"

#include <utility>

#include "platform/platform.h"

namespace {

// Large enough that a big file takes few system calls, small enough that
// the reused buffer stays in the processor's cache.
constexpr std::size_t kBlockSize = 128 << 10;
// The first block for an input of unknown or small size.
constexpr std::size_t kSmallBlockSize = 4 << 10;

}  // namespace

LineReader::LineReader(ReadFunction read, std::size_t sizeHint, std::size_t maxLineLength)
    : read_(std::move(read)), maxLineLength_(maxLineLength) {
  std::size_t size = kSmallBlockSize;
  // Room for a line one byte too long, so that it is known before the
  // buffer would have to grow.
  while (size <= maxLineLength || (size < kBlockSize && size <= sizeHint)) size *= 2;
  buffer_.resize(size);
}

LineReader::~LineReader() { platform::Wipe(buffer_); }

std::ptrdiff_t LineReader::ReadMore() {
  // A line longer than the buffer doubles it.
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);
  std::ptrdiff_t count = read_(buffer_.data() + end_, buffer_.size() - end_);
  if (count > 0) end_ += static_cast<std::size_t>(count);
  return count;
}
