#ifndef USERS_STORE_RECORD_ARENA_H_
#define USERS_STORE_RECORD_ARENA_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

// The memory of a user list's records: handed out in order from blocks that
// grow with what is used, and freed all at once when the arena is destroyed,
// which makes loading a large file cheap. Freeing one allocation does nothing.
class RecordArena {
 public:
  // Gives a standard container the arena's memory, and itself to the
  // elements it builds that take an allocator.
  template <typename T>
  struct Allocator {
    using value_type = T;

    explicit Allocator(RecordArena* owner) : arena(owner) {}
    template <typename U>
    Allocator(const Allocator<U>& other) : arena(other.arena) {}

    T* allocate(std::size_t n) {
      return static_cast<T*>(arena->Allocate(n * sizeof(T), alignof(T)));
    }
    void deallocate(T*, std::size_t) {}
    template <typename U, typename... Args>
    void construct(U* place, Args&&... args) {
      std::uninitialized_construct_using_allocator(place, *this, std::forward<Args>(args)...);
    }
    template <typename U>
    bool operator==(const Allocator<U>& other) const {
      return arena == other.arena;
    }

    RecordArena* arena;
  };

  RecordArena() = default;
  RecordArena(const RecordArena&) = delete;
  RecordArena& operator=(const RecordArena&) = delete;
  ~RecordArena();

  void* Allocate(std::size_t bytes, std::size_t alignment) {
    std::uintptr_t start = (next_ + alignment - 1) & ~(std::uintptr_t{alignment} - 1);
    if (start + bytes > limit_ || start < next_) return AllocateInNewBlock(bytes, alignment);
    next_ = start + bytes;
    return reinterpret_cast<void*>(start);
  }

 private:
  void* AllocateInNewBlock(std::size_t bytes, std::size_t alignment);

  struct Block {
    Block* previous;
    std::size_t size;  // of the whole block, this header included
  }* last_ = nullptr;
  std::uintptr_t next_ = 0;   // first free byte of the last block
  std::uintptr_t limit_ = 0;  // end of the last block
};

#endif  // USERS_STORE_RECORD_ARENA_H_
