#include "store/record_arena.h"

#include <algorithm>
#include <new>

#include "store/large_page_allocator.h"

namespace {

constexpr std::size_t kFirstBlock = std::size_t{4} << 10;

}  // namespace

void* RecordArena::AllocateInNewBlock(std::size_t bytes, std::size_t alignment) {
  // Each block is twice the one before, so that there are few of them and
  // the memory not yet used stays below what is.
  std::size_t size = std::max(
      {sizeof(Block) + alignment + bytes, kFirstBlock, last_ != nullptr ? last_->size * 2 : 0});
  void* memory = large_pages::Allocate(&size);
  last_ = new (memory) Block{last_, size};
  next_ = reinterpret_cast<std::uintptr_t>(last_ + 1);
  limit_ = reinterpret_cast<std::uintptr_t>(memory) + size;
  return Allocate(bytes, alignment);
}

RecordArena::~RecordArena() {
  while (Block* block = last_) {
    last_ = block->previous;
    large_pages::Free(block, block->size);
  }
}
