#ifndef USERS_PLATFORM_POSIX_IO_H_
#define USERS_PLATFORM_POSIX_IO_H_

// File helpers that the POSIX implementation files share; not part of the
// platform interface.

#include <sys/types.h>

#include <string>
#include <string_view>

namespace platform::posix {

// open(2) with O_CLOEXEC, retried when a signal interrupts it.
int OpenRetrying(const char* path, int flags, mode_t mode = 0);

// Writes all of `bytes` from `offset` on. Returns false on a write error.
bool WriteAllAt(int fd, std::string_view bytes, off_t offset);

// Replaces `bytes` with the whole content of the file. Returns false on a
// read error.
bool ReadAll(int fd, std::string* bytes);

// Takes a record lock of `type` (F_RDLCK, or F_WRLCK on a descriptor open
// for writing) over the whole file, waiting as WaitFor does. The lock goes
// with the descriptor. Returns false when the wait ran out or the lock was
// refused; a file system without record locks counts as locked.
bool LockWholeFile(int fd, short type);

}  // namespace platform::posix

#endif  // USERS_PLATFORM_POSIX_IO_H_
