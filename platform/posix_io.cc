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

bool LockWholeFile(int fd, short type) {
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
#ifdef F_OFD_SETLK
  // A lock of the open file rather than of the process, so that closing
  // another descriptor of the same file cannot let it go.
  int command = F_OFD_SETLK;
#else
  int command = F_SETLK;
#endif
  bool locked = false;
  bool waited = WaitFor([&] {
    if (::fcntl(fd, command, &lock) == 0) return locked = true;
    if (errno == EACCES || errno == EAGAIN || errno == EINTR) return false;
    if (errno == EINVAL && command != F_SETLK) {
      command = F_SETLK;  // a kernel without open file locks
      return false;
    }
    // No record locks on this file system (ENOLCK, for instance): going on
    // unlocked is as safe as it was before they existed.
    locked = errno == ENOLCK;
    return true;
  });
  return waited && locked;
}

}  // namespace platform::posix
