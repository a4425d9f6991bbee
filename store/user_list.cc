#include "store/user_list.h"

UserList::Records::iterator UserList::Find(std::string_view userName) {
  for (auto it = records.begin(); it != records.end(); ++it) {
    if (std::string_view(it->userName) == userName) return it;
  }
  return records.end();
}
