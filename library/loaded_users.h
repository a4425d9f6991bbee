#ifndef USERS_LIBRARY_LOADED_USERS_H_
#define USERS_LIBRARY_LOADED_USERS_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "library/libusers.h"
#include "store/user_index.h"
#include "store/user_list.h"

// The users of one password file as a service sees them: loaded once, into
// the list's snapshot of the file, then looked up through an index of the
// records' places there, many times and from many threads; loaded again
// when the file changed.
class LoadedUsers {
 public:
  // Loads the file at `path`; false when it cannot be, and the object then
  // answers USERS_UNAVAILABLE.
  bool Load(const std::string& path);

  // Whether what is loaded is certainly the file as the path names it now.
  bool Current() const;

  users_result Check(std::string_view name, std::string_view password) const;
  users_result Find(std::string_view name) const;

  // What is loaded, for those who compare it with another load; null when
  // nothing is.
  const UserList* list() const { return list_.get(); }

 private:
  std::unique_ptr<UserList> list_;
  std::optional<UserIndex> index_;
  // The clock when the load began, in nanoseconds since 1970, as the file
  // system's modification times count.
  std::int64_t loadStarted_ = 0;
};

#endif  // USERS_LIBRARY_LOADED_USERS_H_
