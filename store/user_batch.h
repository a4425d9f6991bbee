#ifndef USERS_STORE_USER_BATCH_H_
#define USERS_STORE_USER_BATCH_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "digest/salt.h"
#include "platform/platform.h"
#include "store/user_list.h"

// Changes to many users of one list, made all or none: every change is
// looked up and checked before any is made, then all are made in memory,
// for one save. A name may come once. The batch's names are found through
// a table of their own, in one walk over the list: no walk per change,
// and for the usual batch, far smaller than its list, a table that stays in
// the processor's cache where one of the whole list would cost more than
// its load.
class UserBatch {
 public:
  // `replace`: an add of a user who exists replaces the password, keeping
  // salt and place, as `add -r` does; without it such an add is refused.
  explicit UserBatch(bool replace) : replace_(replace) {}
  UserBatch(const UserBatch&) = delete;
  UserBatch& operator=(const UserBatch&) = delete;

  // `line` numbers the change in its problems. The password is copied.
  void Add(std::uint64_t line, std::string_view userName, std::string_view password);
  void Remove(std::uint64_t line, std::string_view userName);
  std::size_t size() const { return changes_.size(); }

  enum class Problem {
    kNameTwice,  // the name of an earlier change
    kExists,     // an add of a user who exists, without replace
    kMissing,    // a removal of a user who does not exist
  };
  struct Fault {
    std::uint64_t line;
    Problem problem;
    std::uint64_t earlierLine;  // for kNameTwice: the first change of the name
  };

  // Looks every change up in `list` and returns what stands in the way of
  // the batch, in line order: nothing when it can be applied.
  std::vector<Fault> Check(UserList& list);

  struct Counts {
    std::size_t added = 0;
    std::size_t updated = 0;
    std::size_t removed = 0;
  };
  // Makes every change in `list`, which the last Check found nothing
  // against and which has not changed since: adds at the end in order, with
  // salts from `salts`. False, with nothing changed, when the last Check
  // found something; false when `salts` failed: the list then holds part of
  // the changes and must not be saved.
  bool Apply(UserList& list, RandomSalts& salts, Counts& counts);

 private:
  // Memory wiped before it is given back, so that a password buffer that
  // grows leaves no copy behind.
  template <typename T>
  struct WipingAllocator {
    using value_type = T;
    WipingAllocator() = default;
    template <typename U>
    WipingAllocator(const WipingAllocator<U>&) {}
    T* allocate(std::size_t n) { return std::allocator<T>().allocate(n); }
    void deallocate(T* p, std::size_t n) {
      platform::Wipe(p, n * sizeof(T));
      std::allocator<T>().deallocate(p, n);
    }
    template <typename U>
    bool operator==(const WipingAllocator<U>&) const {
      return true;
    }
  };

  // Names stand one after the other in names_, passwords in passwords_; a
  // change keeps where its own end.
  struct Change {
    std::uint64_t line : 63;
    std::uint64_t remove : 1;
    std::size_t nameEnd;
    std::size_t passwordEnd;
  };
  void Append(std::uint64_t line, std::string_view userName, bool remove);
  std::string_view Name(std::size_t change) const;
  std::string_view Password(std::size_t change) const;

  // The batch's names, each to its first change (user_batch.cc).
  class NameTable;

  bool replace_;
  std::string names_;
  std::vector<Change> changes_;
  std::vector<char, WipingAllocator<char>> passwords_;
  std::vector<UserList::Records::iterator> found_;  // by the last Check
  bool checked_ = false;                            // it found nothing
};

#endif  // USERS_STORE_USER_BATCH_H_
