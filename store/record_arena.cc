#include "store/record_arena.h"

#include <new>

#include "platform/platform.h"

namespace {

constexpr std::size_t kLargePage = std::size_t{2} << 20;
// Blocks from this size on are worth a large page: each small page costs a
// fault, and faults are far dearer than clearing one large page.
constexpr std::size_t kLargeBlock = std::size_t{256} << 10;

}  // namespace

void RecordArena::Reset(std::size_t expectedBytes) {
  pool_.reset();
  // A block that is never touched costs address space only, so a generous
  // size is cheap; a block that is too small just means more blocks.
  if (expectedBytes > 0) {
    pool_.emplace(expectedBytes, &blocks_);
  } else {
    pool_.emplace(&blocks_);
  }
}

void* RecordArena::do_allocate(std::size_t bytes, std::size_t alignment) {
  return pool_->allocate(bytes, alignment);
}

void* RecordArena::BlockSource::do_allocate(std::size_t bytes, std::size_t alignment) {
  if (bytes < kLargeBlock) return std::pmr::new_delete_resource()->allocate(bytes, alignment);
  std::size_t rounded = (bytes + kLargePage - 1) / kLargePage * kLargePage;
  void* block = ::operator new (rounded, std::align_val_t{kLargePage});
  platform::AdviseLargePages(block, rounded);
  return block;
}

void RecordArena::BlockSource::do_deallocate(void* block, std::size_t bytes,
                                             std::size_t alignment) {
  if (bytes < kLargeBlock) {
    std::pmr::new_delete_resource()->deallocate(block, bytes, alignment);
  } else {
    ::operator delete (block, std::align_val_t{kLargePage});
  }
}
