#include "store/user_batch.h"

#include <algorithm>
#include <bit>
#include <utility>

#include "store/user_index.h"

void UserBatch::Add(std::uint64_t line, std::string_view userName, std::string_view password) {
  passwords_.insert(passwords_.end(), password.begin(), password.end());
  Append(line, userName, false);
}

void UserBatch::Remove(std::uint64_t line, std::string_view userName) {
  Append(line, userName, true);
}

void UserBatch::Append(std::uint64_t line, std::string_view userName, bool remove) {
  names_.append(userName);
  changes_.push_back({line, remove, names_.size(), passwords_.size()});
}

std::string_view UserBatch::Name(std::size_t change) const {
  std::size_t begin = change == 0 ? 0 : changes_[change - 1].nameEnd;
  return std::string_view(names_).substr(begin, changes_[change].nameEnd - begin);
}

std::string_view UserBatch::Password(std::size_t change) const {
  std::size_t begin = change == 0 ? 0 : changes_[change - 1].passwordEnd;
  return {passwords_.data() + begin, changes_[change].passwordEnd - begin};
}

// Open addressing with linear probing, a slot holding its change's number
// + 1 (0: empty).
class UserBatch::NameTable {
 public:
  explicit NameTable(const UserBatch& batch);
  // The first change of `userName`, or kNone.
  std::size_t Find(std::string_view userName) const;
  static constexpr std::size_t kNone = ~std::size_t{0};

 private:
  const UserBatch& batch_;
  std::vector<std::size_t> slots_;
  std::size_t mask_;
};

UserBatch::NameTable::NameTable(const UserBatch& batch) : batch_(batch) {
  // At most half full, so that a probe ends after a few slots.
  std::size_t size = std::bit_ceil(batch.changes_.size() * 2 + 2);
  slots_.assign(size, 0);
  mask_ = size - 1;
  for (std::size_t change = 0; change < batch.changes_.size(); ++change) {
    std::string_view name = batch.Name(change);
    std::size_t slot = UserIndex::Hash(name) & mask_;
    while (slots_[slot] != 0 && batch.Name(slots_[slot] - 1) != name) slot = (slot + 1) & mask_;
    if (slots_[slot] == 0) slots_[slot] = change + 1;
  }
}

std::size_t UserBatch::NameTable::Find(std::string_view userName) const {
  for (std::size_t slot = UserIndex::Hash(userName) & mask_; slots_[slot] != 0;
       slot = (slot + 1) & mask_) {
    if (batch_.Name(slots_[slot] - 1) == userName) return slots_[slot] - 1;
  }
  return kNone;
}

std::vector<UserBatch::Fault> UserBatch::Check(UserList& list) {
  std::vector<Fault> faults;
  NameTable table(*this);
  // One walk finds the first record of each name, for the first change of
  // the name, which the table gives.
  found_.assign(changes_.size(), list.records.end());
  for (auto record = list.records.begin(); record != list.records.end(); ++record) {
    std::size_t change = table.Find(list.FieldsOf(*record).userName);
    if (change != NameTable::kNone && found_[change] == list.records.end()) {
      found_[change] = record;
    }
  }
  for (std::size_t change = 0; change < changes_.size(); ++change) {
    const Change& c = changes_[change];
    std::size_t first = table.Find(Name(change));
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
  return faults;
}

bool UserBatch::Apply(UserList& list, RandomSalts& salts, Counts& counts) {
  // A batch with faults may name one record twice.
  if (!std::exchange(checked_, false)) return false;
  // Each record is found by one change at most, as each name comes once:
  // erasing one leaves the others found.
  std::string salt;
  for (std::size_t change = 0; change < changes_.size(); ++change) {
    UserList::Records::iterator record = found_[change];
    if (changes_[change].remove) {
      list.records.erase(record);
      ++counts.removed;
    } else if (record != list.records.end()) {
      list.SetPassword(record, Password(change));
      ++counts.updated;
    } else {
      if (!salts.Next(salt)) return false;
      list.AppendUser(Name(change), salt, Password(change));
      ++counts.added;
    }
  }
  found_.clear();
  return true;
}
