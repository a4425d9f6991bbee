#include "store/user_list.h"

UserList::Records::iterator UserList::Find(std::string_view userName) {
  for (auto it = records.begin(); it != records.end(); ++it) {
    if (it->userName == userName) return it;
  }
  return records.end();
}
