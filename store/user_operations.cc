// The three things the program exists for: add, remove and check a user.

#include <list>
#include <string>
#include <string_view>

#include "digest/password_digest.h"
#include "digest/salt.h"
#include "store/user_list.h"
#include "store/user_record.h"

std::string UserList::ComputeDigest(std::string_view userName, std::string_view salt,
                                    std::string_view password) {
  return ::ComputeDigest(userName, salt, password);
}

void UserList::SetPassword(Records::iterator record, std::string_view password) {
  // An update keeps the salt and the place of the record in the list; its
  // line is made anew, in the arena.
  RecordFields fields = FieldsOf(*record);
  std::string digest = ComputeDigest(fields.userName, fields.salt, password);
  *record = UserRecord(fields.userName, fields.salt, digest, records.get_allocator());
}

void UserList::AppendUser(std::string_view userName, std::string_view salt,
                          std::string_view password) {
  records.emplace_back(userName, salt, ComputeDigest(userName, salt, password));
}

bool UserList::AddUser(const std::string& userName, const std::string& password, bool replace,
                       std::string& message) {
  message.clear();
  auto found = Find(userName);
  if (found != records.end()) {
    if (!replace) {
      message.append(" User entry already exists.");
      return false;
    }
    message.append(" Existing user entry updated.");
    // The salt is kept, so the same password gives the stored digest: the
    // file would come out byte for byte as it is, and is left alone. A file
    // changed since its load goes on to the save, which refuses it.
    RecordFields fields = FieldsOf(*found);
    if (!fields.userName.empty() &&
        DigestsEqual(ComputeDigest(userName, fields.salt, password), fields.digest) &&
        StillLoaded()) {
      return true;
    }
    SetPassword(found, password);
  } else {
    AppendUser(userName, MakeSalt(), password);
    message.append(" New user entry added.");
  }
  if (!Save(path)) {
    message = kSaveFailed;
    return false;
  }
  return true;
}

bool UserList::RemoveUser(const std::string& userName, std::string& message) {
  message.clear();
  auto found = Find(userName);
  if (found == records.end()) {
    message.append(" User entry not found.");
    return false;
  }
  records.erase(found);
  message.append(" User entry removed.");
  if (!Save(path)) {
    message = kSaveFailed;
    return false;
  }
  return true;
}

bool UserList::CheckUser(const std::string& userName, const std::string& password,
                         std::string& message) {
  message.clear();
  auto found = Find(userName);
  if (found == records.end()) {
    message.append(" User entry not found.");
    return false;
  }
  RecordFields fields = FieldsOf(*found);
  if (DigestsEqual(ComputeDigest(userName, fields.salt, password), fields.digest)) {
    message.append(" Username and password match.");
    return true;
  }
  message.append(" Username and password do not match.");
  return false;
}
