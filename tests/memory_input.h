#ifndef USERS_TESTS_MEMORY_INPUT_H_
#define USERS_TESTS_MEMORY_INPUT_H_

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

// Bytes in memory as the input of a LineReader::ReadFunction, for the tests
// and the fuzzer of the reader: each read hands out at most `chunk` bytes
// (0: as many as fit), and every read from `errorAt` on fails. Header-only,
// so that the fuzzer takes it without the test libraries.
class MemoryInput {
 public:
  explicit MemoryInput(std::string_view bytes, std::size_t chunk = 0,
                       std::size_t errorAt = std::string_view::npos)
      : bytes_(bytes), chunk_(chunk == 0 ? bytes.size() : chunk), errorAt_(errorAt) {}

  std::ptrdiff_t operator()(char* buffer, std::size_t capacity) {
    if (position_ >= errorAt_) return -1;
    std::size_t n = std::min({capacity, bytes_.size() - position_, chunk_, errorAt_ - position_});
    if (n > 0) std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += n;
    return static_cast<std::ptrdiff_t>(n);
  }

 private:
  std::string_view bytes_;
  std::size_t chunk_;
  std::size_t errorAt_;
  std::size_t position_ = 0;
};

#endif  // USERS_TESTS_MEMORY_INPUT_H_
