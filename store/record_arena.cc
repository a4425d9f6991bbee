#include "store/record_arena.h"

#include <new>

#include "platform/platform.h"

namespace {

constexpr std::size_t kLargePage = std::size_t{2} << 20;
// Blocks from this size on are worth a large page: each small page costs a
// fault, and faults are far dearer than clearing one large page.
constexpr std::size_t kLargeBlock = std::size_t{256} << 10;
constexpr std::size_t kFirstBlock = std::size_t{4} << 10;

}  // namespace

void* RecordArena::AllocateInNewBlock(std::size_t bytes, std::size_t alignment) {
  // Each block is twice the one before, so that there are few of them and
  // the memory not yet used stays below what is.
  std::size_t size = sizeof(Block) + alignment + bytes;
  if (last_ != nullptr && size < last_->size * 2) size = last_->size * 2;
  if (size < kFirstBlock) size = kFirstBlock;
  void* memory;
  if (size >= kLargeBlock) {
    size = (size + kLargePage - 1) / kLargePage * kLargePage;
    memory = ::operator new(size, std::align_val_t{kLargePage});
    platform::AdviseLargePages(memory, size);
  } else {
    memory = ::operator new(size);
  }
  last_ = new (memory) Block{last_, size};
  next_ = reinterpret_cast<std::uintptr_t>(last_ + 1);
  limit_ = reinterpret_cast<std::uintptr_t>(memory) + size;
  return Allocate(bytes, alignment);
}

RecordArena::~RecordArena() {
  while (last_ != nullptr) {
    Block* block = last_;
    last_ = block->previous;
    if (block->size >= kLargeBlock) {
      ::operator delete(block, std::align_val_t{kLargePage});
    } else {
      ::operator delete(block);
    }
  }
}
