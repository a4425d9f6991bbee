#ifndef USERS_STORE_USER_BATCH_H_
#define USERS_STORE_USER_BATCH_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "digest/salt.h"
#include "platform/platform.h"
#include "store/large_page_allocator.h"
#include "store/user_list.h"

// Changes to many users of one list, made all or none: every change is
// looked up and checked before any is made, then all are made in memory,
// for one save. A name may come once. The batch's names are found through
// a hash table of their own, in one walk over the list: no walk per change,
// and for the usual batch, far smaller than its list, a table that stays in
// the processor's cache where one of the whole list would cost more than
// its load.
//
// An add of a user who has that password already changes nothing: it is
// counted unchanged, and a batch of nothing else leaves its list as it was.
class UserBatch {
 public:
  // `replace`: an add of a user who exists replaces the password, keeping
  // salt and place, as `add -r` does; without it such an add is refused.
  // `exact`: the list is to hold the batch's users and no others. It
  // replaces, and removes every record of a name the batch lacks, and every
  // record of a name but the first, which alone a lookup ever finds.
  explicit UserBatch(bool replace, bool exact = false)
      : replace_(replace || exact), exact_(exact) {}
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
  // the batch, in line order: nothing when it can be applied. With
  // replace, it compares the password of each user who exists with the one
  // stored, a digest each; when nothing stands in the way, it counts what
  // Apply would make.
  std::vector<Fault> Check(UserList& list);

  struct Counts {
    std::size_t added = 0;
    std::size_t updated = 0;
    std::size_t removed = 0;
    std::size_t unchanged = 0;  // users who keep their record as it is
    // Whether the list would differ at all.
    bool Changes() const { return added + updated + removed > 0; }
  };
  // What the last Check that found nothing counted; Apply makes just that.
  const Counts& planned() const { return planned_; }

  // Makes every change in `list`, which the last Check found nothing
  // against and which has not changed since: adds at the end in order, with
  // salts from `salts`. False, with nothing changed, when the last Check
  // found something; false when `salts` failed: the list then holds part of
  // the changes and must not be saved. Adds planned() to `counts`.
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
    T* allocate(std::size_t n) { return LargePageAllocator<T>().allocate(n); }
    void deallocate(T* p, std::size_t n) {
      platform::Wipe(p, n * sizeof(T));
      LargePageAllocator<T>().deallocate(p, n);
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

  bool replace_;
  bool exact_;
  // The names one after the other, in the order of their changes.
  std::string names_;
  template <typename T>
  using LargeVector = std::vector<T, LargePageAllocator<T>>;
  LargeVector<Change> changes_;
  std::vector<char, WipingAllocator<char>> passwords_;
  LargeVector<UserList::Records::iterator> found_;  // by the last Check
  // What an exact batch removes besides its changes.
  LargeVector<UserList::Records::iterator> others_;
  // The records that get a new password, in the list's order, and their
  // changes; and how many users have theirs already.
  std::vector<std::pair<UserList::Records::iterator, std::size_t>> updates_;
  std::size_t unchanged_ = 0;
  Counts planned_;
  bool checked_ = false;  // it found nothing
};

#endif  // USERS_STORE_USER_BATCH_H_
