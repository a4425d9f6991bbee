#ifndef USERS_STORE_LARGE_PAGE_ALLOCATOR_H_
#define USERS_STORE_LARGE_PAGE_ALLOCATOR_H_

#include <cstddef>
#include <new>

#include "platform/platform.h"

// For the large arrays of a change to many users: an allocation from
// kLargePage on is aligned to it and backed by large pages where the system
// has them. Each small page of fresh memory costs a fault, and on a virtual
// machine the faults of a few arrays of a million entries cost more than
// the work done in them.
template <typename T>
struct LargePageAllocator {
  using value_type = T;
  static constexpr std::size_t kLargePage = std::size_t{2} << 20;

  LargePageAllocator() = default;
  template <typename U>
  LargePageAllocator(const LargePageAllocator<U>&) {}

  T* allocate(std::size_t n) {
    std::size_t bytes = n * sizeof(T);
    if (bytes < kLargePage) return static_cast<T*>(::operator new(bytes));
    void* memory = ::operator new (bytes, std::align_val_t{kLargePage});
    platform::AdviseLargePages(memory, bytes);
    return static_cast<T*>(memory);
  }
  void deallocate(T* p, std::size_t n) {
    if (n * sizeof(T) < kLargePage) {
      ::operator delete(p);
    } else {
      ::operator delete (p, std::align_val_t{kLargePage});
    }
  }
  template <typename U>
  bool operator==(const LargePageAllocator<U>&) const {
    return true;
  }
};

#endif  // USERS_STORE_LARGE_PAGE_ALLOCATOR_H_
