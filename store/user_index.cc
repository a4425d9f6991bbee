#include "store/user_index.h"

#include <bit>

namespace {

// The slot's tag for a hash: never 0, which marks an empty slot.
std::uint32_t Tag(std::uint64_t hash) { return static_cast<std::uint32_t>(hash >> 32) | 1; }

}  // namespace

UserIndex::UserIndex(const UserList& list) : list_(list), end_(list.records.end()) {
  // At most half full, so that a probe ends after a few slots.
  std::size_t size = std::bit_ceil(list.records.size() * 2 + 2);
  slots_.assign(size, list.records.end());
  tags_.assign(size, 0);
  mask_ = size - 1;
  for (auto record = list.records.begin(); record != list.records.end(); ++record) {
    std::string_view name = list.FieldsOf(*record).userName;
    std::uint64_t hash = Hash(name);
    std::size_t slot = hash & mask_;
    for (; tags_[slot] != 0; slot = (slot + 1) & mask_) {
      if (tags_[slot] != Tag(hash)) continue;
      // A later record of the same name is never found, as in the list.
      if (list.FieldsOf(*slots_[slot]).userName == name) break;
    }
    if (tags_[slot] == 0) {
      tags_[slot] = Tag(hash);
      slots_[slot] = record;
    }
  }
}

UserList::Records::const_iterator UserIndex::Find(std::string_view userName) const {
  std::uint64_t hash = Hash(userName);
  for (std::size_t slot = hash & mask_; tags_[slot] != 0; slot = (slot + 1) & mask_) {
    if (tags_[slot] == Tag(hash) && list_.FieldsOf(*slots_[slot]).userName == userName) {
      return slots_[slot];
    }
  }
  return end_;
}

std::uint64_t UserIndex::Hash(std::string_view name) {
  // FNV-1a: names are short, and the file's own names fill the table.
  std::uint64_t hash = 14695981039346656037u;
  for (char byte : name) hash = (hash ^ static_cast<unsigned char>(byte)) * 1099511628211u;
  return hash ^ (hash >> 29);
}
