#ifndef USERS_PLATFORM_POSIX_CALLS_H_
#define USERS_PLATFORM_POSIX_CALLS_H_

// The system calls that the POSIX System makes, as a table, so that a test
// can fail any one of them, with an error that the call can give, and see
// what the code above makes of it; not part of the platform interface.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/vfs.h>

#include <cstddef>
#include <memory>

#include "platform/system.h"

namespace platform::posix {

struct Calls {
  int (*openat)(int directory, const char* name, int flags, mode_t mode);
  int (*fstatat)(int directory, const char* name, struct stat* status, int flags);
  int (*fstat)(int fd, struct stat* status);
  int (*fstatfs)(int fd, struct statfs* system);
  ssize_t (*readlinkat)(int directory, const char* name, char* target, std::size_t size);
  int (*lock)(int fd, struct flock* lock);  // fcntl, taking or letting go of a record lock
  ssize_t (*pread)(int fd, void* buffer, std::size_t size, off_t offset);
  ssize_t (*pwrite)(int fd, const void* bytes, std::size_t size, off_t offset);
  int (*ftruncate)(int fd, off_t size);
  int (*fallocate)(int fd, int mode, off_t offset, off_t size);
  int (*fsync)(int fd);
  int (*fchown)(int fd, uid_t owner, gid_t group);
  int (*fchmod)(int fd, mode_t mode);
  ssize_t (*flistxattr)(int fd, char* names, std::size_t size);
  ssize_t (*fgetxattr)(int fd, const char* name, void* value, std::size_t size);
  int (*fsetxattr)(int fd, const char* name, const void* value, std::size_t size, int flags);
  int (*fremovexattr)(int fd, const char* name);
  int (*renameat)(int from, const char* fromName, int to, const char* toName);
  int (*unlinkat)(int directory, const char* name, int flags);
  int (*dup)(int fd);
  int (*getentropy)(void* bytes, std::size_t size);
};

// The calls as the system makes them.
extern const Calls kSystemCalls;

// A System that makes its calls through `calls`, which must outlive it.
std::unique_ptr<System> MakeSystem(const Calls& calls);

}  // namespace platform::posix

#endif  // USERS_PLATFORM_POSIX_CALLS_H_
