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

// The record locks of a password file. Changing runs take turns by locking
// one byte far past any content; readers lock the content before it shared,
// and an in-place rewrite exclusively, so the two kinds never meet.
enum class LockRange { kContent, kTurn };
enum class LockResult {
  kLocked,
  kBusy,         // another open file holds a lock in the way
  kUnsupported,  // the file system has no record locks
};

// Takes a lock of `type` (F_RDLCK, or F_WRLCK on a descriptor open for
// writing) on `range`. It is a lock of the open file, not of the process,
// and goes when the descriptor is closed. With `wait`, a lock in the way is
// waited for as WaitFor does.
LockResult LockRecords(int fd, short type, LockRange range, bool wait = true);

}  // namespace platform::posix

#endif  // USERS_PLATFORM_POSIX_IO_H_
