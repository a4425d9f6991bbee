#include "platform/posix_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/wait.h"

namespace platform::posix {

int OpenRetrying(const char* path, int flags, mode_t mode) {
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool WriteAllAt(int fd, std::string_view bytes, off_t offset) {
  while (!bytes.empty()) {
    ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
    offset += n;
  }
  return true;
}

bool ReadAll(int fd, std::string* bytes) {
  struct stat info;
  if (::fstat(fd, &info) != 0) return false;
  bytes->resize(static_cast<std::size_t>(info.st_size));
  std::size_t done = 0;
  for (;;) {
    if (done == bytes->size()) bytes->resize(bytes->size() + 4096);
    ssize_t n = ::pread(fd, bytes->data() + done, bytes->size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  bytes->resize(done);
  return true;
}

namespace {

#ifdef F_OFD_SETLK
constexpr int kSetLock = F_OFD_SETLK;
#else
// Locks of the process instead: closing any descriptor of the file then
// lets them go, the turn too.
constexpr int kSetLock = F_SETLK;
#endif

}  // namespace

LockResult LockRecords(int fd, short type, LockRange range, bool wait) {
  // Far past any password file, and within every file system's offsets.
  constexpr off_t kTurnByte = off_t{1} << 62;
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = range == LockRange::kTurn ? kTurnByte : 0;
  lock.l_len = range == LockRange::kTurn ? 1 : kTurnByte;
  LockResult result = LockResult::kBusy;
  auto tryOnce = [&] {
    if (::fcntl(fd, kSetLock, &lock) == 0) {
      result = LockResult::kLocked;
    } else if (errno != EACCES && errno != EAGAIN && errno != EINTR) {
      // No record locks here (ENOLCK), or a kernel without locks of the
      // open file (EINVAL): going on unlocked is as safe as it was before.
      result = LockResult::kUnsupported;
    }
    return result != LockResult::kBusy;
  };
  if (wait) {
    WaitFor(tryOnce);
  } else {
    tryOnce();
  }
  return result;
}

}  // namespace platform::posix
