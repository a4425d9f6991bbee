#ifndef USERS_STORE_LARGE_PAGE_ALLOCATOR_H_
#define USERS_STORE_LARGE_PAGE_ALLOCATOR_H_

#include <cstddef>
#include <new>

#include "platform/platform.h"

// Memory that the store takes in large pieces (the file's snapshot, the
// records' blocks, the large arrays of a change to many users): from
// kLargeBlock on, rounded up to whole large pages, aligned to them and backed
// by them where the system has them. Each small page of fresh memory costs a
// fault, and faults are far dearer than clearing one large page; on a
// virtual machine the faults of a few arrays of a million entries cost more
// than the work done in them.
namespace large_pages {

inline constexpr std::size_t kPage = std::size_t{2} << 20;
inline constexpr std::size_t kLargeBlock = std::size_t{256} << 10;

inline std::align_val_t AlignmentFor(std::size_t bytes) {
  return std::align_val_t{bytes >= kLargeBlock ? kPage : alignof(std::max_align_t)};
}

// At least `*bytes`, which it may round up: Free takes either size.
inline void* Allocate(std::size_t* bytes) {
  if (*bytes >= kLargeBlock) *bytes = (*bytes + kPage - 1) / kPage * kPage;
  void* memory = ::operator new(*bytes, AlignmentFor(*bytes));
  if (*bytes >= kLargeBlock) platform::AdviseLargePages(memory, *bytes);
  return memory;
}

inline void Free(void* memory, std::size_t bytes) {
  ::operator delete(memory, AlignmentFor(bytes));
}

}  // namespace large_pages

// A standard allocator over those pieces, for the store's large vectors.
template <typename T>
struct LargePageAllocator {
  using value_type = T;

  LargePageAllocator() = default;
  template <typename U>
  LargePageAllocator(const LargePageAllocator<U>&) {}

  T* allocate(std::size_t n) {
    std::size_t bytes = n * sizeof(T);
    return static_cast<T*>(large_pages::Allocate(&bytes));
  }
  void deallocate(T* p, std::size_t n) { large_pages::Free(p, n * sizeof(T)); }
  template <typename U>
  bool operator==(const LargePageAllocator<U>&) const {
    return true;
  }
};

#endif  // USERS_STORE_LARGE_PAGE_ALLOCATOR_H_
