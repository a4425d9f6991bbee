#ifndef USERS_STORE_LARGE_PAGE_ALLOCATOR_H_
#define USERS_STORE_LARGE_PAGE_ALLOCATOR_H_

#include <cstddef>
#include <cstdint>
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

// Under AddressSanitizer every piece comes from the heap, which it watches.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kFromTheSystem = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kFromTheSystem = false;
#else
inline constexpr bool kFromTheSystem = true;
#endif
#else
inline constexpr bool kFromTheSystem = true;
#endif

// At least `*bytes`, which it may round up: Free takes either size. Large
// pieces come straight from the system and go back to it when freed, so
// that a library that loads a file again and again does not keep them.
inline void* Allocate(std::size_t* bytes) {
  if (*bytes < kLargeBlock || !kFromTheSystem) return ::operator new(*bytes);
  if (*bytes > SIZE_MAX - kPage) throw std::bad_alloc();
  *bytes = (*bytes + kPage - 1) / kPage * kPage;
  void* memory = platform::AllocatePages(*bytes, kPage);
  if (memory == nullptr) throw std::bad_alloc();
  return memory;
}

inline void Free(void* memory, std::size_t bytes) {
  if (bytes < kLargeBlock || !kFromTheSystem) {
    ::operator delete(memory);
  } else {
    platform::FreePages(memory, (bytes + kPage - 1) / kPage * kPage);
  }
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
