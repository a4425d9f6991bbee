#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix_io.h"
#include "platform/posix_signals.h"

namespace platform {

const std::string_view kFileLineEnd = "\n";

namespace {

int Fd(std::intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

void PrepareProcess() {
  ::signal(SIGPIPE, SIG_IGN);
  // Past the file-size limit a write then fails with EFBIG, which a save
  // reports, instead of killing the run halfway through it.
  ::signal(SIGXFSZ, SIG_IGN);
  posix::RemoveTemporaryOnSignals();
  // A standard stream that was closed by the caller would otherwise hand its
  // number to the next file opened, and output meant for the console could
  // end up in the password file.
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
      int null = posix::OpenRetrying("/dev/null", O_RDWR);
      if (null >= 0 && null != fd) {
        ::dup2(null, fd);
        ::close(null);
      }
    }
  }
  // A core dump would hold the password; so would the memory of a process
  // that another one of the same user attaches to.
#ifdef __linux__
  ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
  rlimit noCore{0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);
}

void Wipe(void* data, std::size_t size) {
#ifdef __GLIBC__
  ::explicit_bzero(data, size);
#else
  volatile unsigned char* bytes = static_cast<volatile unsigned char*>(data);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = 0;
#endif
}

void HideArgument(int argc, char** argv, int index) {
  if (argv == nullptr || index <= 0 || index >= argc || argv[index] == nullptr) return;
  // The process list reads the argument area itself; zeros leave the
  // argument there, empty.
  Wipe(argv[index], std::strlen(argv[index]));
}

void AdviseLargePages(void* address, std::size_t size) {
#ifdef MADV_HUGEPAGE
  ::madvise(address, size, MADV_HUGEPAGE);
#else
  (void)address;
  (void)size;
#endif
}

InputFile::~InputFile() {
  if (handle_ >= 0) ::close(Fd(handle_));
}

bool InputFile::Open(const std::string& path) {
  // Non-blocking, so that a FIFO without a writer cannot hang the run.
  int fd = posix::OpenRetrying(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return false;
  handle_ = fd;
  // A device or a FIFO would never end (/dev/zero) or always be empty
  // (/dev/null, and a save would then store nothing).
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  // Waits out an in-place rewrite, which holds the write lock.
  if (posix::LockRecords(fd, F_RDLCK, posix::LockRange::kContent) == posix::LockResult::kBusy) {
    return false;
  }
  sizeHint_ = static_cast<std::size_t>(info.st_size);
  return true;
}

std::ptrdiff_t InputFile::Read(char* buffer, std::size_t capacity) {
  for (;;) {
    ssize_t n = ::read(Fd(handle_), buffer, capacity);
    if (n >= 0 || errno != EINTR) return n;
  }
}

FileLock::~FileLock() { Release(); }

void FileLock::Release() {
  if (handle_ >= 0) ::close(Fd(handle_));
  handle_ = -1;
}

FileLock::Outcome FileLock::Acquire(const std::string& path) {
  for (;;) {
    // Open for writing, as a write lock needs.
    int fd = posix::OpenRetrying(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return Outcome::kNone;
    posix::LockResult locked = posix::LockRecords(fd, F_WRLCK, posix::LockRange::kTurn);
    if (locked != posix::LockResult::kLocked) {
      ::close(fd);
      return locked == posix::LockResult::kBusy ? Outcome::kBusy : Outcome::kNone;
    }
    // A run that held the lock before may have replaced the file; then the
    // lock is on the old one and must be taken again on the new one.
    struct stat held, named;
    if (::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      handle_ = fd;
      return Outcome::kHeld;
    }
    ::close(fd);
  }
}

}  // namespace platform
