#include "store/record_arena.h"

void RecordArena::Reset(std::size_t expectedBytes) {
  pool_.reset();
  // A block that is never touched costs address space only, so a generous
  // size is cheap; a block that is too small just means more blocks.
  if (expectedBytes > 0) {
    pool_.emplace(expectedBytes);
  } else {
    pool_.emplace();
  }
}

void* RecordArena::do_allocate(std::size_t bytes, std::size_t alignment) {
  return pool_->allocate(bytes, alignment);
}
