#ifndef USERS_STORE_RECORD_ARENA_H_
#define USERS_STORE_RECORD_ARENA_H_

#include <cstddef>
#include <memory_resource>
#include <optional>

// The memory of a user list's records: handed out in order from large
// blocks and freed all at once, which makes loading a large file cheap.
class RecordArena : public std::pmr::memory_resource {
 public:
  RecordArena() { pool_.emplace(&blocks_); }

  // Frees every block and makes room for about `expectedBytes` in one
  // block. Only while nothing allocated from the arena is in use.
  void Reset(std::size_t expectedBytes);

 private:
  // Where the pool's blocks come from: large ones are aligned to and backed
  // by large pages, so that a million records cost a few hundred page
  // faults instead of tens of thousands.
  class BlockSource : public std::pmr::memory_resource {
    void* do_allocate(std::size_t bytes, std::size_t alignment) override;
    void do_deallocate(void* block, std::size_t bytes, std::size_t alignment) override;
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
      return this == &other;
    }
  };

  void* do_allocate(std::size_t bytes, std::size_t alignment) override;
  void do_deallocate(void*, std::size_t, std::size_t) override {}
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
    return this == &other;
  }

  BlockSource blocks_;
  std::optional<std::pmr::monotonic_buffer_resource> pool_;
};

#endif  // USERS_STORE_RECORD_ARENA_H_
