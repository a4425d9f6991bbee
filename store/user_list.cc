#include "store/user_list.h"

UserList::Records::iterator UserList::Find(std::string_view userName) {
  // A record in the snapshot is read there only when its name's tag
  // matches: the walk touches the nodes alone.
  const std::uint32_t tag = UserRecord::NameTag(userName);
  for (auto it = records.begin(); it != records.end(); ++it) {
    if (it->inSnapshot() ? it->nameTag() == tag && RecordFields::NameIs(TextOf(*it), userName)
                         : RecordFields::NameIs(it->text(), userName)) {
      return it;
    }
  }
  return records.end();
}

std::string_view UserList::TextOf(const UserRecord& record) const {
  if (!record.inSnapshot()) return record.text();
  return snapshot_.substr(static_cast<std::size_t>(record.offset()), record.length());
}

RecordFields UserList::FieldsOf(const UserRecord& record) const {
  return RecordFields::Of(TextOf(record));
}
