#ifndef USERS_STORE_USER_INDEX_H_
#define USERS_STORE_USER_INDEX_H_

#include <cstddef>
#include <string_view>
#include <vector>

#include "store/user_list.h"

// Finds users among many without walking the list: built once over a
// list's records, it answers as UserList::Find does, with the first record
// of a name. For those who look up many names in one list (a service that
// checks passwords, a bulk change). It holds iterators into the list: it
// stays valid while records are changed in place, and is built again after
// a record is added or removed.
class UserIndex {
 public:
  explicit UserIndex(UserList::Records& records);

  // The first record whose user name equals `userName` byte for byte, or
  // the list's end.
  UserList::Records::iterator Find(std::string_view userName) const;

 private:
  static std::size_t Hash(std::string_view name);

  // Open addressing with linear probing; an empty slot holds end_.
  std::vector<UserList::Records::iterator> slots_;
  UserList::Records::iterator end_;
  std::size_t mask_ = 0;
};

#endif  // USERS_STORE_USER_INDEX_H_
