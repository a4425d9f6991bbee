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
  // An update keeps the salt and the place of the record.
  record->digest =
      RecordField(ComputeDigest(record->userName, record->salt, password), records.get_allocator());
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
    SetPassword(found, password);
    message.append(" Existing user entry updated.");
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
  if (DigestsEqual(ComputeDigest(userName, found->salt, password), found->digest)) {
    message.append(" Username and password match.");
    return true;
  }
  message.append(" Username and password do not match.");
  return false;
}
