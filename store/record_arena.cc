#include "store/record_arena.h"

#include <algorithm>
#include <new>

#include "platform/platform.h"

namespace {

constexpr std::size_t kLargePage = std::size_t{2} << 20;
// Blocks from this size on are worth a large page: each small page costs a
// fault, and faults are far dearer than clearing one large page.
constexpr std::size_t kLargeBlock = std::size_t{256} << 10;
constexpr std::size_t kFirstBlock = std::size_t{4} << 10;

std::align_val_t BlockAlignment(std::size_t size) {
  return std::align_val_t{size >= kLargeBlock ? kLargePage : alignof(std::max_align_t)};
}

}  // namespace

void* RecordArena::AllocateInNewBlock(std::size_t bytes, std::size_t alignment) {
  // Each block is twice the one before, so that there are few of them and
  // the memory not yet used stays below what is.
  std::size_t size = std::max(
      {sizeof(Block) + alignment + bytes, kFirstBlock, last_ != nullptr ? last_->size * 2 : 0});
  if (size >= kLargeBlock) size = (size + kLargePage - 1) / kLargePage * kLargePage;
  void* memory = ::operator new(size, BlockAlignment(size));
  if (size >= kLargeBlock) platform::AdviseLargePages(memory, size);
  last_ = new (memory) Block{last_, size};
  next_ = reinterpret_cast<std::uintptr_t>(last_ + 1);
  limit_ = reinterpret_cast<std::uintptr_t>(memory) + size;
  return Allocate(bytes, alignment);
}

RecordArena::~RecordArena() {
  while (Block* block = last_) {
    last_ = block->previous;
    ::operator delete(block, BlockAlignment(block->size));
  }
}
