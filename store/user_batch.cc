#include "store/user_batch.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include "digest/password_digest.h"
#include "store/user_index.h"

void UserBatch::Add(std::uint64_t line, std::string_view userName, std::string_view password) {
  passwords_.insert(passwords_.end(), password.begin(), password.end());
  Append(line, userName, false);
}

void UserBatch::Remove(std::uint64_t line, std::string_view userName) {
  Append(line, userName, true);
}

void UserBatch::Append(std::uint64_t line, std::string_view userName, bool remove) {
  std::string number = std::to_string(changes_.size());
  names_.records.emplace_back(userName, number, std::string_view());
  changes_.push_back({line, remove, passwords_.size()});
}

std::string_view UserBatch::Password(std::size_t change) const {
  std::size_t begin = change == 0 ? 0 : changes_[change - 1].passwordEnd;
  return {passwords_.data() + begin, changes_[change].passwordEnd - begin};
}

std::size_t UserBatch::ChangeOf(UserList::Records::const_iterator name) const {
  std::string_view number = names_.FieldsOf(*name).salt;
  std::size_t change = 0;
  std::from_chars(number.data(), number.data() + number.size(), change);
  return change;
}

std::vector<UserBatch::Fault> UserBatch::Check(UserList& list) {
  std::vector<Fault> faults;
  UserIndex index(names_);
  // One walk finds the first record of each name, for the first change of
  // the name, which the index gives.
  found_.assign(changes_.size(), list.records.end());
  others_.clear();
  for (auto record = list.records.begin(); record != list.records.end(); ++record) {
    auto name = index.Find(list.FieldsOf(*record).userName);
    if (name == names_.records.end()) {
      if (exact_) others_.push_back(record);
      continue;
    }
    std::size_t change = ChangeOf(name);
    if (found_[change] == list.records.end()) {
      found_[change] = record;
    } else if (exact_) {
      others_.push_back(record);
    }
  }
  std::size_t change = 0;
  for (auto name = names_.records.begin(); name != names_.records.end(); ++name, ++change) {
    const Change& c = changes_[change];
    std::size_t first = ChangeOf(index.Find(names_.FieldsOf(*name).userName));
    if (first != change) {
      faults.push_back({c.line, Problem::kNameTwice, changes_[first].line});
      found_[change] = found_[first];
    }
    bool exists = found_[change] != list.records.end();
    if (c.remove && !exists) faults.push_back({c.line, Problem::kMissing, 0});
    if (!c.remove && exists && !replace_) faults.push_back({c.line, Problem::kExists, 0});
  }
  std::stable_sort(faults.begin(), faults.end(),
                   [](const Fault& a, const Fault& b) { return a.line < b.line; });
  checked_ = faults.empty();
  if (checked_) Plan(list);
  return faults;
}

void UserBatch::Plan(UserList& list) {
  planned_ = Counts();
  planned_.removed = others_.size();
  same_.assign(changes_.size(), false);
  std::size_t change = 0;
  for (auto name = names_.records.begin(); name != names_.records.end(); ++name, ++change) {
    UserList::Records::iterator record = found_[change];
    if (changes_[change].remove) {
      ++planned_.removed;
    } else if (record == list.records.end()) {
      ++planned_.added;
    } else {
      // The stored salt is kept, so the same password gives the same digest.
      // Fields read from the file last until the next read: the digest is
      // made before it.
      std::string_view userName = names_.FieldsOf(*name).userName;
      RecordFields stored = list.FieldsOf(*record);
      same_[change] = !stored.userName.empty() &&
                      DigestsEqual(UserList::ComputeDigest(userName, stored.salt, Password(change)),
                                   stored.digest);
      ++(same_[change] ? planned_.unchanged : planned_.updated);
    }
  }
}

bool UserBatch::Apply(UserList& list, RandomSalts& salts, Counts& counts) {
  // A batch with faults may name one record twice.
  if (!std::exchange(checked_, false)) return false;
  // Each record is found by one change at most, as each name comes once:
  // erasing one leaves the others found.
  std::string salt;
  std::size_t change = 0;
  for (auto name = names_.records.begin(); name != names_.records.end(); ++name, ++change) {
    UserList::Records::iterator record = found_[change];
    if (changes_[change].remove) {
      list.records.erase(record);
    } else if (record == list.records.end()) {
      if (!salts.Next(salt)) return false;
      list.AppendUser(names_.FieldsOf(*name).userName, salt, Password(change));
    } else if (!same_[change]) {
      list.SetPassword(record, Password(change));
    }
  }
  // None of these is found by a change.
  for (UserList::Records::iterator record : others_) list.records.erase(record);
  found_.clear();
  others_.clear();
  counts.added += planned_.added;
  counts.updated += planned_.updated;
  counts.removed += planned_.removed;
  counts.unchanged += planned_.unchanged;
  return true;
}
