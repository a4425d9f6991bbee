#include "store/user_index.h"

#include <bit>
#include <chrono>
#include <cstring>

namespace {

// The slot's tag for a hash: never 0, which marks an empty slot.
std::uint32_t Tag(std::uint64_t hash) { return static_cast<std::uint32_t>(hash >> 32) | 1; }

}  // namespace

UserIndex::Key UserIndex::MakeKey(platform::System& system) {
  Key key;
  if (system.Random(&key.k0) == platform::Error::kNone &&
      system.Random(&key.k1) == platform::Error::kNone) {
    return key;
  }
  // Where the system's random source fails, a key that at least differs
  // from one run and one key to the next.
  key.k0 ^= static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  key.k1 ^= reinterpret_cast<std::uintptr_t>(&key);
  return key;
}

UserIndex::UserIndex(const UserList& list, platform::System& system)
    : key_(MakeKey(system)), list_(list), end_(list.records.end()) {
  // At most half full, so that a probe ends after a few slots.
  std::size_t size = std::bit_ceil(list.records.size() * 2 + 2);
  slots_.assign(size, list.records.end());
  tags_.assign(size, 0);
  mask_ = size - 1;
  for (auto record = list.records.begin(); record != list.records.end(); ++record) {
    std::string_view name = list.FieldsOf(*record).userName;
    std::uint64_t hash = Hash(name, key_);
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
  std::uint64_t hash = Hash(userName, key_);
  for (std::size_t slot = hash & mask_; tags_[slot] != 0; slot = (slot + 1) & mask_) {
    if (tags_[slot] == Tag(hash) && list_.FieldsOf(*slots_[slot]).userName == userName) {
      return slots_[slot];
    }
  }
  return end_;
}

std::uint64_t UserIndex::Hash(std::string_view name, const Key& key) {
  // SipHash-1-3: short names hash fast, and without the key nobody can tell
  // which names share a slot.
  std::uint64_t v0 = key.k0 ^ 0x736f6d6570736575u, v1 = key.k1 ^ 0x646f72616e646f6du,
                v2 = key.k0 ^ 0x6c7967656e657261u, v3 = key.k1 ^ 0x7465646279746573u;
  auto round = [&] {
    v0 += v1;
    v1 = std::rotl(v1, 13) ^ v0;
    v0 = std::rotl(v0, 32);
    v2 += v3;
    v3 = std::rotl(v3, 16) ^ v2;
    v0 += v3;
    v3 = std::rotl(v3, 21) ^ v0;
    v2 += v1;
    v1 = std::rotl(v1, 17) ^ v2;
    v2 = std::rotl(v2, 32);
  };
  auto compress = [&](std::uint64_t word) {
    v3 ^= word;
    round();
    v0 ^= word;
  };
  const char* bytes = name.data();
  std::size_t left = name.size();
  for (; left >= 8; left -= 8, bytes += 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes, 8);
    compress(word);
  }
  std::uint64_t last = std::uint64_t{name.size() & 0xff} << 56;
  for (std::size_t i = 0; i < left; ++i) {
    last |= std::uint64_t{static_cast<unsigned char>(bytes[i])} << (8 * i);
  }
  compress(last);
  v2 ^= 0xff;
  round();
  round();
  round();
  return v0 ^ v1 ^ v2 ^ v3;
}
