#include "store/user_batch.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#include "store/user_index.h"

namespace {

// The batch's names, each found as its first change. A slot is 8 bytes,
// 32 bits of the name's hash beside the change, so that a lookup costs one
// slot and reads a name only when the hash matches: a batch as large as its
// list (a whole list to apply exactly) is looked up once for each of its
// records, and an index of the names' records cost three reads of memory a
// lookup, three quarters of such a run.
class NameTable {
 public:
  static constexpr std::size_t kNone = ~std::size_t{0};

  // `names` by change, fewer than 2^32; `twice` gets each change of a name
  // that an earlier one has, with that earlier one, in order.
  NameTable(const std::vector<std::string_view, LargePageAllocator<std::string_view>>& names,
            std::vector<std::pair<std::size_t, std::size_t>>& twice)
      : names_(names) {
    // At most half full, so that a probe ends after a few slots.
    std::size_t size = std::bit_ceil(names.size() * 2 + 2);
    slots_.assign(size, 0);
    mask_ = size - 1;
    // The hash of each name is made, and its slot asked for, kAhead names
    // before it is put in.
    std::uint64_t hashes[kAhead];
    for (std::size_t ahead = 0; ahead < names.size() + kAhead; ++ahead) {
      std::uint64_t& hash = hashes[ahead % kAhead];
      if (ahead >= kAhead) {
        std::size_t change = ahead - kAhead;
        std::size_t slot = Probe(names[change], hash);
        if (slots_[slot] == 0) slots_[slot] = Tag(hash) | change;
        if (slots_[slot] != (Tag(hash) | change))
          twice.emplace_back(change, slots_[slot] & 0xffff'ffffu);
      }
      if (ahead < names.size()) Prefetch(hash = Hash(names[ahead]));
    }
  }

  // Lookups come in groups: the slots of the next are asked for while
  // these are looked up, so that the reads of memory overlap.
  static constexpr std::size_t kAhead = 16;
  // Keyed, as UserIndex is, so that nobody can choose names that fill one
  // run of slots.
  std::uint64_t Hash(std::string_view name) const { return UserIndex::Hash(name, key_); }
  void Prefetch(std::uint64_t hash) const { __builtin_prefetch(&slots_[hash & mask_]); }
  std::size_t Find(std::string_view name, std::uint64_t hash) const {
    std::uint64_t slot = slots_[Probe(name, hash)];
    return slot == 0 ? kNone : slot & 0xffff'ffffu;
  }

 private:
  // The slot of `name`, or the empty one where it would go.
  std::size_t Probe(std::string_view name, std::uint64_t hash) const {
    std::size_t slot = hash & mask_;
    for (; slots_[slot] != 0; slot = (slot + 1) & mask_) {
      if ((slots_[slot] & ~std::uint64_t{0xffff'ffffu}) == Tag(hash) &&
          names_[slots_[slot] & 0xffff'ffffu] == name) {
        break;
      }
    }
    return slot;
  }
  // Never 0, which marks an empty slot.
  static std::uint64_t Tag(std::uint64_t hash) { return (hash | 1) << 32; }

  const UserIndex::Key key_ = UserIndex::MakeKey();
  const std::vector<std::string_view, LargePageAllocator<std::string_view>>& names_;
  std::vector<std::uint64_t, LargePageAllocator<std::uint64_t>> slots_;
  std::size_t mask_ = 0;
};

}  // namespace

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

std::vector<UserBatch::Fault> UserBatch::Check(UserList& list) {
  std::vector<Fault> faults;
  std::vector<std::string_view, LargePageAllocator<std::string_view>> names;
  names.reserve(changes_.size());
  for (std::size_t change = 0; change < changes_.size(); ++change) names.push_back(Name(change));
  std::vector<std::pair<std::size_t, std::size_t>> twice;
  NameTable table(names, twice);
  // One walk finds the first record of each name, for the first change of
  // the name, which the table gives.
  found_.assign(changes_.size(), list.records.end());
  others_.clear();
  updates_.clear();
  unchanged_ = 0;
  RecordFields fields[NameTable::kAhead];
  std::uint64_t hashes[NameTable::kAhead];
  for (auto record = list.records.begin(); record != list.records.end();) {
    auto first = record;
    std::size_t count = 0;
    for (; count < NameTable::kAhead && record != list.records.end(); ++count, ++record) {
      fields[count] = list.FieldsOf(*record);
      table.Prefetch(hashes[count] = table.Hash(fields[count].userName));
    }
    record = first;
    for (std::size_t i = 0; i < count; ++i, ++record) {
      std::string_view name = fields[i].userName;
      std::size_t change = table.Find(name, hashes[i]);
      if (change == NameTable::kNone) {
        if (exact_) others_.push_back(record);
      } else if (found_[change] == list.records.end()) {
        found_[change] = record;
        // The salt is kept, so the same password gives the stored digest.
        // Compared here, in the list's order, in which its records are read
        // at the least cost; and so are those that change, by Apply. Not in
        // constant time, which costs a tenth of a run of a million: the
        // outcome is told anyway, as the count of users unchanged.
        if (replace_ && !changes_[change].remove) {
          bool same =
              !name.empty() &&
              UserList::ComputeDigest(name, fields[i].salt, Password(change)) == fields[i].digest;
          if (same) {
            ++unchanged_;
          } else {
            updates_.emplace_back(record, change);
          }
        }
      } else if (exact_) {
        others_.push_back(record);
      }
    }
  }
  auto again = twice.begin();
  for (std::size_t change = 0; change < changes_.size(); ++change) {
    const Change& c = changes_[change];
    if (again != twice.end() && again->first == change) {
      std::size_t first = (again++)->second;
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
  if (checked_) {
    planned_ = Counts();
    planned_.removed = others_.size();
    planned_.updated = updates_.size();
    planned_.unchanged = unchanged_;
    for (std::size_t change = 0; change < changes_.size(); ++change) {
      if (changes_[change].remove) {
        ++planned_.removed;
      } else if (found_[change] == list.records.end()) {
        ++planned_.added;
      }
    }
  }
  return faults;
}

bool UserBatch::Apply(UserList& list, RandomSalts& salts, Counts& counts) {
  // A batch with faults may name one record twice.
  if (!std::exchange(checked_, false)) return false;
  // Each record is found by one change at most, as each name comes once:
  // erasing one leaves the others found.
  for (const auto& [record, change] : updates_) list.SetPassword(record, Password(change));
  std::string salt;
  for (std::size_t change = 0; change < changes_.size(); ++change) {
    UserList::Records::iterator record = found_[change];
    if (changes_[change].remove) {
      list.records.erase(record);
    } else if (record == list.records.end()) {
      if (!salts.Next(salt)) return false;
      list.AppendUser(Name(change), salt, Password(change));
    }
  }
  // None of these is found by a change.
  for (UserList::Records::iterator record : others_) list.records.erase(record);
  found_.clear();
  others_.clear();
  updates_.clear();
  counts.added += planned_.added;
  counts.updated += planned_.updated;
  counts.removed += planned_.removed;
  counts.unchanged += planned_.unchanged;
  return true;
}
