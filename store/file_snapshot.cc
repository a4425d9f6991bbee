#include "store/file_snapshot.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "store/large_page_allocator.h"

namespace {

constexpr std::size_t kSmallest = std::size_t{4} << 10;
// A size hint that is not also the limit is believed up to this much at
// first: a guess is no reason to take memory before the bytes are read.
constexpr std::size_t kLargestGuess = std::size_t{16} << 20;

}  // namespace

FileSnapshot::FileSnapshot(FileSnapshot&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

FileSnapshot& FileSnapshot::operator=(FileSnapshot&& other) noexcept {
  if (this != &other) {
    Free();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

void FileSnapshot::Free() {
  if (data_ != nullptr) large_pages::Free(data_, capacity_);
  data_ = nullptr;
  capacity_ = 0;
}

void FileSnapshot::Reserve(std::size_t capacity) {
  char* data = static_cast<char*>(large_pages::Allocate(&capacity));
  if (size_ > 0) std::memcpy(data, data_, size_);
  std::size_t size = size_;
  Free();
  data_ = data;
  size_ = size;
  capacity_ = capacity;
}

bool FileSnapshot::Read(const ReadFunction& read, std::size_t sizeHint, std::size_t limit,
                        const TakeFunction& taken) {
  // One byte beyond the hint, so that the end of an input of that size is
  // read without growing; none beyond the limit.
  std::size_t first = sizeHint == limit ? limit : std::min({sizeHint, kLargestGuess, limit});
  Reserve(std::max(first < limit ? first + 1 : first, kSmallest));
  while (size_ < limit) {
    if (size_ == capacity_) Reserve(std::min(capacity_ * 2, limit));
    std::ptrdiff_t count =
        read(data_ + size_, std::min({capacity_, limit, size_ + kChunk}) - size_);
    if (count < 0) return false;
    if (count == 0) break;
    size_ += static_cast<std::size_t>(count);
    if (taken && !taken(bytes())) return false;
  }
  return true;
}
