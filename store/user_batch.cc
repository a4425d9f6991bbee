#include "store/user_batch.h"

#include <algorithm>
#include <numeric>

#include "store/user_index.h"

void UserBatch::Add(std::uint64_t line, std::string_view userName, std::string_view password) {
  names_.append(userName);
  passwords_.insert(passwords_.end(), password.begin(), password.end());
  changes_.push_back({line, names_.size(), passwords_.size(), false});
}

void UserBatch::Remove(std::uint64_t line, std::string_view userName) {
  names_.append(userName);
  changes_.push_back({line, names_.size(), passwords_.size(), true});
}

std::string_view UserBatch::Name(std::size_t i) const {
  std::size_t begin = i == 0 ? 0 : changes_[i - 1].nameEnd;
  return std::string_view(names_).substr(begin, changes_[i].nameEnd - begin);
}

std::string_view UserBatch::Password(std::size_t i) const {
  std::size_t begin = i == 0 ? 0 : changes_[i - 1].passwordEnd;
  return {passwords_.data() + begin, changes_[i].passwordEnd - begin};
}

std::vector<UserBatch::Fault> UserBatch::Check(UserList& list) {
  std::vector<Fault> faults;
  // Sorted by name, the changes of one name stand together, the first first.
  std::vector<std::size_t> order(changes_.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [this](std::size_t a, std::size_t b) { return Name(a) < Name(b); });
  for (std::size_t i = 1, first = 0; i < order.size(); ++i) {
    if (Name(order[i]) != Name(order[first])) {
      first = i;
    } else {
      faults.push_back({changes_[order[i]].line, Problem::kNameTwice, changes_[order[first]].line});
    }
  }

  found_.clear();
  if (!changes_.empty()) {
    UserIndex index(list.records);
    found_.reserve(changes_.size());
    for (std::size_t i = 0; i < changes_.size(); ++i) {
      found_.push_back(index.Find(Name(i)));
      bool exists = found_.back() != list.records.end();
      if (changes_[i].remove && !exists) faults.push_back({changes_[i].line, Problem::kMissing, 0});
      if (!changes_[i].remove && exists && !replace_) {
        faults.push_back({changes_[i].line, Problem::kExists, 0});
      }
    }
  }
  std::stable_sort(faults.begin(), faults.end(),
                   [](const Fault& a, const Fault& b) { return a.line < b.line; });
  return faults;
}

bool UserBatch::Apply(UserList& list, RandomSalts& salts, Counts& counts) {
  // Each record is found by one change at most, as each name comes once:
  // erasing one leaves the others found.
  std::string salt;
  for (std::size_t i = 0; i < changes_.size(); ++i) {
    UserList::Records::iterator record = found_[i];
    if (changes_[i].remove) {
      list.records.erase(record);
      ++counts.removed;
    } else if (record != list.records.end()) {
      list.SetPassword(record, Password(i));
      ++counts.updated;
    } else {
      if (!salts.Next(salt)) return false;
      list.AppendUser(Name(i), salt, Password(i));
      ++counts.added;
    }
  }
  found_.clear();
  return true;
}
