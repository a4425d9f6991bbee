#include "store/user_index.h"

#include <bit>
#include <cstdint>

UserIndex::UserIndex(UserList::Records& records) : end_(records.end()) {
  // At most half full, so that a probe ends after a few slots.
  slots_.assign(std::bit_ceil(records.size() * 2 + 2), end_);
  mask_ = slots_.size() - 1;
  for (auto record = records.begin(); record != records.end(); ++record) {
    std::string_view name = record->userName;
    std::size_t slot = Hash(name) & mask_;
    while (slots_[slot] != end_ && slots_[slot]->userName != name) slot = (slot + 1) & mask_;
    // A later record of the same name is never found, as in the list.
    if (slots_[slot] == end_) slots_[slot] = record;
  }
}

UserList::Records::iterator UserIndex::Find(std::string_view userName) const {
  for (std::size_t slot = Hash(userName) & mask_;; slot = (slot + 1) & mask_) {
    if (slots_[slot] == end_ || slots_[slot]->userName == userName) return slots_[slot];
  }
}

std::size_t UserIndex::Hash(std::string_view name) {
  // FNV-1a: names are short, and the file's own names fill the table.
  std::uint64_t hash = 14695981039346656037u;
  for (char byte : name) hash = (hash ^ static_cast<unsigned char>(byte)) * 1099511628211u;
  return static_cast<std::size_t>(hash ^ (hash >> 32));
}
