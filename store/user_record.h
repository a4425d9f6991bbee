#ifndef USERS_STORE_USER_RECORD_H_
#define USERS_STORE_USER_RECORD_H_

#include <memory_resource>
#include <string>
#include <string_view>

// One user of the password file. Its strings come from the allocator of the
// list that holds it, so that a large file's records share one arena.
struct UserRecord {
  using allocator_type = std::pmr::polymorphic_allocator<char>;

  UserRecord() = default;
  UserRecord(std::string_view userName, std::string_view salt, std::string_view digest,
             const allocator_type& allocator = {})
      : userName(userName, allocator), salt(salt, allocator), digest(digest, allocator) {}
  UserRecord(const UserRecord& other, const allocator_type& allocator)
      : UserRecord(other.userName, other.salt, other.digest, allocator) {}
  UserRecord(const UserRecord& other) = default;

  bool operator==(const UserRecord& other) const = default;

  std::pmr::string userName;
  std::pmr::string salt;
  std::pmr::string digest;
};

#endif  // USERS_STORE_USER_RECORD_H_
