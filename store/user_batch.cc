#include "store/user_batch.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#include "digest/password_digest.h"

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

  // `names` by change, fewer than 2^32; `firsts` gets, by change, the first
  // change of its name.
  NameTable(const std::vector<std::string_view, LargePageAllocator<std::string_view>>& names,
            std::vector<std::size_t, LargePageAllocator<std::size_t>>& firsts)
      : names_(names) {
    // At most half full, so that a probe ends after a few slots.
    std::size_t size = std::bit_ceil(names.size() * 2 + 2);
    slots_.assign(size, 0);
    mask_ = size - 1;
    firsts.resize(names.size());
    // The hash of each name is made, and its slot asked for, kAhead names
    // before it is put in.
    std::uint64_t hashes[kAhead];
    for (std::size_t ahead = 0; ahead < names.size() + kAhead; ++ahead) {
      std::uint64_t& hash = hashes[ahead % kAhead];
      if (ahead >= kAhead) {
        std::size_t change = ahead - kAhead;
        std::size_t slot = Probe(names[change], hash);
        if (slots_[slot] == 0) slots_[slot] = Tag(hash) | change;
        firsts[change] = slots_[slot] & 0xffff'ffffu;
      }
      if (ahead < names.size()) Prefetch(hash = Hash(names[ahead]));
    }
  }

  // Lookups come in groups: the slots of the next are asked for while
  // these are looked up, so that the reads of memory overlap.
  static constexpr std::size_t kAhead = 16;
  static std::uint64_t Hash(std::string_view name) {
    // Eight bytes a step: names are short.
    std::uint64_t hash = name.size() * 0x9e3779b97f4a7c15u;
    for (std::size_t at = 0; at < name.size(); at += 8) {
      std::uint64_t word = 0;
      std::memcpy(&word, name.data() + at, std::min<std::size_t>(8, name.size() - at));
      hash = (hash ^ word) * 0xc2b2ae3d27d4eb4fu;
      hash ^= hash >> 29;
    }
    return hash * 0x94d049bb133111ebu ^ (hash >> 32);
  }
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
  std::string number = std::to_string(changes_.size());
  names_.records.emplace_back(userName, number, std::string_view());
  changes_.push_back({line, remove, passwords_.size()});
}

std::string_view UserBatch::Password(std::size_t change) const {
  std::size_t begin = change == 0 ? 0 : changes_[change - 1].passwordEnd;
  return {passwords_.data() + begin, changes_[change].passwordEnd - begin};
}

std::vector<UserBatch::Fault> UserBatch::Check(UserList& list) {
  std::vector<Fault> faults;
  // The names stay where they are, in the batch's own list.
  std::vector<std::string_view, LargePageAllocator<std::string_view>> names;
  names.reserve(changes_.size());
  for (const UserRecord& name : names_.records) names.push_back(names_.FieldsOf(name).userName);
  std::vector<std::size_t, LargePageAllocator<std::size_t>> firsts;
  NameTable table(names, firsts);
  // One walk finds the first record of each name, for the first change of
  // the name, which the table gives.
  found_.assign(changes_.size(), list.records.end());
  others_.clear();
  // A group's names are copied, as a name read from the file lasts only
  // until the next is read.
  std::string group;
  std::size_t ends[NameTable::kAhead];
  std::uint64_t hashes[NameTable::kAhead];
  for (auto record = list.records.begin(); record != list.records.end();) {
    auto first = record;
    group.clear();
    std::size_t count = 0;
    for (; count < NameTable::kAhead && record != list.records.end(); ++count, ++record) {
      std::string_view name = list.FieldsOf(*record).userName;
      group.append(name);
      ends[count] = group.size();
      table.Prefetch(hashes[count] = NameTable::Hash(name));
    }
    record = first;
    for (std::size_t i = 0; i < count; ++i, ++record) {
      std::size_t begin = i == 0 ? 0 : ends[i - 1];
      std::size_t change =
          table.Find(std::string_view(group).substr(begin, ends[i] - begin), hashes[i]);
      if (change == NameTable::kNone) {
        if (exact_) others_.push_back(record);
      } else if (found_[change] == list.records.end()) {
        found_[change] = record;
      } else if (exact_) {
        others_.push_back(record);
      }
    }
  }
  for (std::size_t change = 0; change < changes_.size(); ++change) {
    const Change& c = changes_[change];
    std::size_t first = firsts[change];
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
