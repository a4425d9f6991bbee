#ifndef USERS_STORE_FILE_SNAPSHOT_H_
#define USERS_STORE_FILE_SNAPSHOT_H_

#include <cstddef>
#include <functional>
#include <string_view>

// The bytes of a password file as one load read them, in memory of their
// own that never changes after the read: what another program does to the
// file afterwards cannot change them, and any number of threads may read
// them. A large file's memory asks for large pages, as the arena's blocks do.
class FileSnapshot {
 public:
  // Reads up to `capacity` bytes into `buffer`: the count, 0 at the end, -1
  // on a read error.
  using ReadFunction = std::function<std::ptrdiff_t(char* buffer, std::size_t capacity)>;

  FileSnapshot() = default;
  FileSnapshot(FileSnapshot&& other) noexcept;
  FileSnapshot& operator=(FileSnapshot&& other) noexcept;
  FileSnapshot(const FileSnapshot&) = delete;
  FileSnapshot& operator=(const FileSnapshot&) = delete;
  ~FileSnapshot() { Free(); }

  // Reads the input until its end or until `limit` bytes, never further.
  // `sizeHint`, the input's expected size, sizes the memory at first (in
  // full when it is also the limit, as a file's size is); it grows, twice
  // its size each time, for an input that is larger. False on a read error.
  // Called once, before the bytes are read. `taken`, if given, gets the
  // bytes read so far after each read of at most kChunk bytes, while they are
  // still in the processor's cache; it returning false ends the read, false.
  using TakeFunction = std::function<bool(std::string_view soFar)>;
  bool Read(const ReadFunction& read, std::size_t sizeHint, std::size_t limit,
            const TakeFunction& taken = {});
  static constexpr std::size_t kChunk = std::size_t{128} << 10;

  std::string_view bytes() const { return {data_, size_}; }

 private:
  void Reserve(std::size_t capacity);
  void Free();

  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

#endif  // USERS_STORE_FILE_SNAPSHOT_H_
