#include "store/user_list.h"

UserList::Records::iterator UserList::Find(std::string_view userName) {
  // A record in the file is read there only when its name's tag matches.
  const std::uint32_t tag = UserRecord::NameTag(userName);
  for (auto it = records.begin(); it != records.end(); ++it) {
    if (it->inFile() ? it->nameTag() == tag && FieldsOf(*it).userName == userName
                     : RecordFields::NameIs(it->text(), userName)) {
      return it;
    }
  }
  return records.end();
}
