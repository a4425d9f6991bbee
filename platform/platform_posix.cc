#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
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

namespace platform {

const std::string_view kFileLineEnd = "\n";

namespace {

// Creation mode of a new file when none is inherited; the umask applies.
constexpr mode_t kNewFileMode = 0666;
// Symbolic links followed before giving up, as the kernel does.
constexpr int kMaxLinkHops = 40;

int Fd(std::intptr_t handle) { return static_cast<int>(handle); }

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

std::string DirectoryOf(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Follows symbolic links so that the file they name is replaced and the
// links stay. A path that names nothing is returned as it is.
bool ResolveLinks(const std::string& path, std::string* target) {
  std::string current = path;
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat info;
    if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
      *target = current;
      return true;
    }
    std::string link(static_cast<std::size_t>(info.st_size) + 1, '\0');
    ssize_t length = ::readlink(current.c_str(), link.data(), link.size());
    if (length < 0 || static_cast<std::size_t>(length) >= link.size()) return false;
    link.resize(static_cast<std::size_t>(length));
    if (link.empty() || link[0] == '/') {
      current = link;
    } else {
      current = DirectoryOf(current) + "/" + link;
    }
  }
  return false;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool SyncDirectory(const std::string& directory) {
  int fd = OpenRetrying(directory.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return false;
  bool synced = ::fsync(fd) == 0;
  ::close(fd);
  return synced;
}

}  // namespace

void PrepareProcess() {
  ::signal(SIGPIPE, SIG_IGN);
  // A standard stream that was closed by the caller would otherwise hand its
  // number to the next file opened, and output meant for the console could
  // end up in the password file.
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
      int null = OpenRetrying("/dev/null", O_RDWR);
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
  int fd = OpenRetrying(path.c_str(), O_RDONLY | O_NONBLOCK);
  if (fd < 0) return false;
  handle_ = fd;
  struct stat info;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    sizeHint_ = static_cast<std::size_t>(info.st_size);
  }
  return true;
}

std::ptrdiff_t InputFile::Read(char* buffer, std::size_t capacity) {
  for (;;) {
    ssize_t n = ::read(Fd(handle_), buffer, capacity);
    if (n >= 0 || errno != EINTR) return n;
  }
}

FileReplacement::~FileReplacement() { Discard(); }

void FileReplacement::Discard() {
  if (handle_ >= 0) ::close(Fd(handle_));
  handle_ = -1;
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
  temporary_.clear();
}

bool FileReplacement::Begin(const std::string& path) {
  if (!ResolveLinks(path, &target_)) return false;

  // The file must be writable as it is, even though a rename would get
  // around a read-only file: read-only means "do not change".
  struct stat old;
  bool exists = false;
  int probe = OpenRetrying(target_.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY);
  if (probe >= 0) {
    exists = ::fstat(probe, &old) == 0;
    ::close(probe);
    if (!exists) return false;
  } else if (errno != ENOENT) {
    return false;
  }

  if (!exists || S_ISREG(old.st_mode)) {
    std::string name = target_ + ".tmp-XXXXXX";
    int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) {
      handle_ = fd;
      temporary_ = name;
      if (exists) {
        // Best effort: only root may give the file to another owner.
        if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
        }
        if (::fchmod(fd, old.st_mode & 07777) != 0) {
          Discard();
          return false;
        }
      } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        if (::fchmod(fd, kNewFileMode & ~mask) != 0) {
          Discard();
          return false;
        }
      }
      return true;
    }
  }

  // No new file can be made beside it (a read-only directory): rewrite the
  // file where it lies, which is the best that can be done there.
  int fd = OpenRetrying(target_.c_str(), O_WRONLY | O_CREAT | O_NOCTTY, kNewFileMode);
  if (fd < 0) return false;
  handle_ = fd;
  inPlace_ = true;
  return true;
}

bool FileReplacement::Write(std::string_view bytes) {
  if (handle_ < 0 || failed_) return false;
  if (!WriteAll(Fd(handle_), bytes)) {
    failed_ = true;
    return false;
  }
  written_ += bytes.size();
  return true;
}

bool FileReplacement::Commit() {
  if (handle_ < 0 || failed_) return false;
  int fd = Fd(handle_);
  if (inPlace_) {
    bool ok = ::ftruncate(fd, static_cast<off_t>(written_)) == 0 && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    handle_ = -1;
    return ok;
  }
  bool ok = ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  handle_ = -1;
  if (!ok || ::rename(temporary_.c_str(), target_.c_str()) != 0) {
    Discard();
    return false;
  }
  temporary_.clear();
  // The rename is done; a directory that cannot be synced (some file
  // systems refuse) does not undo it.
  SyncDirectory(DirectoryOf(target_));
  return true;
}

FileLock::~FileLock() { Release(); }

void FileLock::Release() {
  if (handle_ >= 0) ::close(Fd(handle_));
  handle_ = -1;
}

bool FileLock::Acquire(const std::string& path) {
  for (;;) {
    int fd = OpenRetrying(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    int locked;
    do {
      locked = ::flock(fd, LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    // A run that held the lock before may have replaced the file; then the
    // lock is on the old one and must be taken again on the new one.
    struct stat held, named;
    if (locked == 0 && ::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      handle_ = fd;
      return true;
    }
    ::close(fd);
    if (locked != 0) return false;
  }
}

}  // namespace platform
