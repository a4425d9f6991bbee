#ifndef USERS_STORE_USER_INDEX_H_
#define USERS_STORE_USER_INDEX_H_

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "store/large_page_allocator.h"
#include "store/user_list.h"

// Finds users among many without walking the list: built once over a
// list's records, it answers as UserList::Find does, with the first record
// of a name. For those who look up many names in one list (a service that
// checks passwords, a bulk change). It holds iterators into the list: it
// stays valid while records are changed in place, and is built again after
// a record is added or removed. Find reads only memory, so many threads may
// call it at once.
//
// Names are hashed with a key of each index's own, from the system's random
// source, so that nobody can choose names that fill one run of slots and
// make every lookup walk it.
class UserIndex {
 public:
  // The key of a hash: 128 bits.
  struct Key {
    std::uint64_t k0 = 0, k1 = 0;
  };

  explicit UserIndex(const UserList& list, platform::System& system = platform::NativeSystem());

  // The first record whose user name equals `userName` byte for byte, or
  // the list's end.
  UserList::Records::const_iterator Find(std::string_view userName) const;

  const Key& key() const { return key_; }

  // A new key from the system's random source.
  static Key MakeKey(platform::System& system = platform::NativeSystem());
  // SipHash-1-3 of `name` under `key`.
  static std::uint64_t Hash(std::string_view name, const Key& key);

 private:
  Key key_;
  const UserList& list_;
  UserList::Records::const_iterator end_;
  // Open addressing with linear probing. Each slot keeps part of its name's
  // hash (0: empty), so that a probe reads a record only when that matches.
  std::vector<UserList::Records::const_iterator,
              LargePageAllocator<UserList::Records::const_iterator>>
      slots_;
  std::vector<std::uint32_t, LargePageAllocator<std::uint32_t>> tags_;
  std::size_t mask_ = 0;
};

#endif  // USERS_STORE_USER_INDEX_H_
