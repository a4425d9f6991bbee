#ifndef USERS_STORE_RECORD_ARENA_H_
#define USERS_STORE_RECORD_ARENA_H_

#include <cstddef>
#include <cstdint>
#include <memory_resource>

// The memory of a user list's records: handed out in order from blocks that
// grow with what is used, and freed all at once when the arena is destroyed,
// which makes loading a large file cheap. Freeing one allocation does nothing.
class RecordArena : public std::pmr::memory_resource {
 public:
  RecordArena() = default;
  RecordArena(const RecordArena&) = delete;
  RecordArena& operator=(const RecordArena&) = delete;
  ~RecordArena() override;

 private:
  struct Block {
    Block* previous;
    std::size_t size;  // of the whole block, this header included
  };

  void* do_allocate(std::size_t bytes, std::size_t alignment) override {
    std::uintptr_t start = (next_ + alignment - 1) & ~(std::uintptr_t{alignment} - 1);
    if (start + bytes > limit_ || start < next_) return AllocateInNewBlock(bytes, alignment);
    next_ = start + bytes;
    return reinterpret_cast<void*>(start);
  }
  void do_deallocate(void*, std::size_t, std::size_t) override {}
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
    return this == &other;
  }

  void* AllocateInNewBlock(std::size_t bytes, std::size_t alignment);

  Block* last_ = nullptr;
  std::uintptr_t next_ = 0;   // first free byte of the last block
  std::uintptr_t limit_ = 0;  // end of the last block
};

#endif  // USERS_STORE_RECORD_ARENA_H_
