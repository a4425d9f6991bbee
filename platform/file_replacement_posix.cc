// Saving a file on POSIX systems: a new file renamed over the old one, and
// the careful in-place rewrite for where that cannot be done.

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/xattr.h>
#endif

#include <cerrno>
#include <climits>
#include <cstdint>
#include <ctime>

#include "platform/platform.h"
#include "platform/posix_io.h"
#include "platform/posix_signals.h"
#include "platform/temporary_name.h"

namespace platform {

namespace {

using posix::OpenRetrying;

// Creation mode of a new file when none is inherited; the umask applies.
constexpr mode_t kNewFileMode = 0666;
// Symbolic links followed before giving up, as the kernel does.
constexpr int kMaxLinkHops = 40;
// Tries at a unique name before giving up on a new file.
constexpr int kUniqueNameTries = 100;

int Fd(std::intptr_t handle) { return static_cast<int>(handle); }

std::string DirectoryOf(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
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

// The stem of the names of `target`'s new files.
std::string StemFor(const std::string& target) {
  long nameMax = ::pathconf(DirectoryOf(target).c_str(), _PC_NAME_MAX);
  return TemporaryStem(NameOf(target), nameMax > 0 ? static_cast<std::size_t>(nameMax) : NAME_MAX);
}

// Removes the new files that runs killed during a save of the same file
// left: regular files named exactly as this save names its own, which no
// live save holds locked.
void RemoveLeftovers(const std::string& directory, const std::string& stem) {
  DIR* listing = ::opendir(directory.c_str());
  if (listing == nullptr) return;
  while (const dirent* entry = ::readdir(listing)) {
    if (!IsTemporaryName(entry->d_name, stem)) continue;
    int fd = ::openat(::dirfd(listing), entry->d_name,
                      O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat info;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        posix::LockRecords(fd, F_WRLCK, posix::LockRange::kContent, false) ==
            posix::LockResult::kLocked) {
      ::unlinkat(::dirfd(listing), entry->d_name, 0);
    }
    ::close(fd);
  }
  ::closedir(listing);
}

bool SyncDirectory(const std::string& directory) {
  int fd = OpenRetrying(directory.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return false;
  bool synced = ::fsync(fd) == 0;
  ::close(fd);
  return synced;
}

#ifdef __linux__
// The names of the file's extended attributes, each ended by a zero byte.
// A file system without them has none.
bool AttributeNames(int fd, std::string* names) {
  ssize_t size = ::flistxattr(fd, nullptr, 0);
  if (size < 0) {
    names->clear();
    return errno == ENOTSUP;
  }
  names->resize(static_cast<std::size_t>(size));
  size = ::flistxattr(fd, names->data(), names->size());
  if (size < 0) return false;
  names->resize(static_cast<std::size_t>(size));
  return true;
}

// False when the file has no attribute `name` or it cannot be read.
bool AttributeValue(int fd, const char* name, std::string* value) {
  ssize_t size = ::fgetxattr(fd, name, nullptr, 0);
  if (size < 0) return false;
  value->resize(static_cast<std::size_t>(size));
  size = ::fgetxattr(fd, name, value->data(), value->size());
  if (size < 0) return false;
  value->resize(static_cast<std::size_t>(size));
  return true;
}

bool Contains(const std::string& names, std::string_view name) {
  for (std::size_t at = 0; at < names.size(); at = names.find('\0', at) + 1) {
    if (std::string_view(names.c_str() + at) == name) return true;
  }
  return false;
}

// Gives `to` exactly the extended attributes of `from`, its POSIX ACL
// (system.posix_acl_access) among them. Values that already match are left
// alone, so that a security label the system gave both need no privilege.
bool CopyExtendedAttributes(int from, int to) {
  std::string oldNames, newNames, oldValue, newValue;
  if (!AttributeNames(from, &oldNames) || !AttributeNames(to, &newNames)) return false;
  for (std::size_t at = 0; at < newNames.size(); at = newNames.find('\0', at) + 1) {
    const char* name = newNames.c_str() + at;
    if (!Contains(oldNames, name) && ::fremovexattr(to, name) != 0) return false;
  }
  for (std::size_t at = 0; at < oldNames.size(); at = oldNames.find('\0', at) + 1) {
    const char* name = oldNames.c_str() + at;
    if (!AttributeValue(from, name, &oldValue)) return false;
    if (AttributeValue(to, name, &newValue) && newValue == oldValue) continue;
    if (::fsetxattr(to, name, oldValue.data(), oldValue.size(), 0) != 0) return false;
  }
  return true;
}
#else
bool CopyExtendedAttributes(int, int) { return true; }
#endif

// Gives the new file `to` what the old file `from` has: group, owner, mode,
// ACL and extended attributes. The group goes first and on its own, since a
// member of the group may set it where only root may set the owner.
bool CopyAttributes(int from, int to) {
  struct stat old, now;
  if (::fstat(from, &old) != 0 || ::fstat(to, &now) != 0) return false;
  if (now.st_gid != old.st_gid && ::fchown(to, static_cast<uid_t>(-1), old.st_gid) != 0) {
    return false;
  }
  if (now.st_uid != old.st_uid && ::fchown(to, old.st_uid, static_cast<gid_t>(-1)) != 0) {
    return false;
  }
  // After the owner, whose change clears the set-user-ID and set-group-ID bits.
  if (::fchmod(to, old.st_mode & 07777) != 0) return false;
  return CopyExtendedAttributes(from, to);
}

bool NewFileMode(int fd) {
  mode_t mask = ::umask(0);
  ::umask(mask);
  return ::fchmod(fd, kNewFileMode & ~mask) == 0;
}

// Errors of making a new file, or renaming it over the old one, that say
// this cannot be done here at all rather than that something went wrong.
bool IsRefusal(int error) {
  return error == EACCES || error == EPERM || error == EROFS || error == EBUSY ||
         error == EXDEV;
}

// Makes sure the file can grow to `size` bytes before anything is written:
// within the file-size limit, and with the disk space taken (where the file
// system can reserve it) without changing the file's size or content.
bool ReserveRoom([[maybe_unused]] int fd, off_t size) {
  rlimit limit;
  if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      static_cast<rlim_t>(size) > limit.rlim_cur) {
    return false;
  }
#ifdef FALLOC_FL_KEEP_SIZE
  if (size > 0 && ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, size) != 0) {
    // Without reservations, a write that fails is undone afterwards.
    return errno == EOPNOTSUPP || errno == ENOSYS;
  }
#endif
  return true;
}

}  // namespace

FileReplacement::~FileReplacement() { Discard(); }

void FileReplacement::Discard() {
  if (handle_ >= 0) ::close(Fd(handle_));
  handle_ = -1;
  if (!temporary_.empty()) {
    posix::SignalHold hold;
    ::unlink(temporary_.c_str());
    posix::SetTemporaryToRemove(nullptr);
    temporary_.clear();
  }
}

bool FileReplacement::Begin(const std::string& path) {
  if (!ResolveLinks(path, &target_)) return false;

  // The file must be writable as it is, even though a rename would get
  // around a read-only file: read-only means "do not change".
  int old = OpenRetrying(target_.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY);
  if (old < 0 && errno != ENOENT) return false;
  struct stat info;
  if (old >= 0 && (::fstat(old, &info) != 0 || !S_ISREG(info.st_mode))) {
    ::close(old);
    return false;
  }

  std::string directory = DirectoryOf(target_);
  std::string stem = StemFor(target_);
  RemoveLeftovers(directory, stem);
  std::uint64_t seed = static_cast<std::uint64_t>(::getpid()) * 2654435761u +
                       static_cast<std::uint64_t>(std::time(nullptr));
  int fd = -1;
  int error = EEXIST;
  for (int attempt = 0; fd < 0 && error == EEXIST && attempt < kUniqueNameTries; ++attempt) {
    seed = seed * 6364136223846793005u + 1442695040888963407u;
    std::string name = directory + "/" + TemporaryName(stem, seed >> 16);
    // Held off until the new file is known to the handlers, which remove it.
    posix::SignalHold hold;
    fd = OpenRetrying(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOCTTY, 0600);
    error = errno;
    if (fd >= 0) {
      handle_ = fd;
      temporary_ = name;
      posix::SetTemporaryToRemove(temporary_.c_str());
    }
  }
  // Locked for as long as it lives, so that no other save takes it for a
  // leftover. The old file's other names (hard links) would keep the old
  // content after a rename.
  bool matched = fd >= 0 &&
                 posix::LockRecords(fd, F_WRLCK, posix::LockRange::kContent, false) !=
                     posix::LockResult::kBusy &&
                 (old >= 0 ? info.st_nlink == 1 && CopyAttributes(old, fd) : NewFileMode(fd));
  if (old >= 0) ::close(old);
  if (matched) return true;
  Discard();
  // The directory refuses a new file, or the new file cannot have what the
  // old one has: then the old file itself is rewritten, with care.
  inPlace_ = old >= 0 && (fd >= 0 || IsRefusal(error));
  return inPlace_;
}

bool FileReplacement::WriteAt(std::string_view bytes, unsigned long long offset) {
  return posix::WriteAllAt(Fd(handle_), bytes, static_cast<off_t>(offset));
}

bool FileReplacement::Commit() {
  if (failed_) return false;
  if (inPlace_) return CommitInPlace();
  if (handle_ < 0) return false;
  int fd = Fd(handle_);
  if (::fsync(fd) != 0) return false;
  int error;
  {
    posix::SignalHold hold;
    if (::rename(temporary_.c_str(), target_.c_str()) == 0) {
      posix::SetTemporaryToRemove(nullptr);
      temporary_.clear();
      Discard();
      // The rename is done; a directory that cannot be synced (some file
      // systems refuse) does not undo it.
      SyncDirectory(DirectoryOf(target_));
      return true;
    }
    error = errno;
  }
  // The file cannot be replaced (a file mounted over the name, or another
  // user's file in a sticky directory) but may still be written.
  if (!IsRefusal(error) || !posix::ReadAll(fd, &content_)) return false;
  Discard();
  inPlace_ = true;
  return CommitInPlace();
}

bool FileReplacement::CommitInPlace() {
  int fd = OpenRetrying(target_.c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0) return false;
  handle_ = fd;
  // The write lock keeps readers out until the new content is whole; the
  // old content is kept to be put back if a write fails.
  std::string old;
  if (posix::LockRecords(fd, F_WRLCK, posix::LockRange::kContent) == posix::LockResult::kBusy ||
      !posix::ReadAll(fd, &old) ||
      !ReserveRoom(fd, static_cast<off_t>(content_.size()))) {
    return false;
  }
  posix::SignalHold hold;
  bool written = posix::WriteAllAt(fd, content_, 0) &&
                 ::ftruncate(fd, static_cast<off_t>(content_.size())) == 0 && ::fsync(fd) == 0;
  if (!written) {
    posix::WriteAllAt(fd, old, 0);
    ::ftruncate(fd, static_cast<off_t>(old.size()));
    ::fsync(fd);
  }
  ::close(fd);
  handle_ = -1;
  return written;
}

}  // namespace platform
