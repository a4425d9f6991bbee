// The system's calls on POSIX systems, as Linux has them: everything
// relative to an open directory, nothing through a link, record locks of
// the open file. Every call that a test may fail goes through a Calls table.

#include "platform/system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <deque>
#include <utility>
#include <vector>

#include "platform/posix/calls.h"
#include "platform/posix/signals.h"

namespace platform {

using posix::Calls;

namespace {

// Symbolic links followed before giving up, as the kernel does.
constexpr int kMaxLinkHops = 40;
// Far past any password file, and within every file system's offsets: the
// writers' turn is a lock on this byte, the content everything before it.
// The locks are the open file's (F_OFD_SETLK), so that no other descriptor
// of the process lets them go.
constexpr off_t kTurnByte = off_t{1} << 62;

int Fd(Handle handle) { return static_cast<int>(handle); }

Error FromErrno(int error) {
  static constexpr struct {
    Error error;
    int codes[4];
  } kKinds[] = {
      // ELOOP: a link where a file was expected.
      {Error::kMissing, {ENOENT, ENOTDIR, ELOOP}},
      {Error::kExists, {EEXIST}},
      // EBUSY: a mount point, with no process to wait for.
      {Error::kDenied, {EACCES, EPERM, EBUSY, ETXTBSY}},
      {Error::kReadOnly, {EROFS}},
      {Error::kCrossDevice, {EXDEV}},
      {Error::kTooLong, {ENAMETOOLONG}},
      {Error::kNoSpace, {ENOSPC, EDQUOT, EFBIG}},
      {Error::kUnsupported, {ENOTSUP, EOPNOTSUPP, ENOSYS, ENOLCK}},
  };
  if (error == 0) return Error::kNone;
  for (const auto& kind : kKinds) {
    for (int code : kind.codes) {
      if (code == error) return kind.error;
    }
  }
  return Error::kIo;
}

// The result of a system call that returns -1 on failure, repeated while a
// signal interrupts it.
template <typename Call>
Error Checked(Call call) {
  for (;;) {
    if (call() >= 0) return Error::kNone;
    if (errno != EINTR) return FromErrno(errno);
  }
}

FileInfo InfoOf(const struct stat& status) {
  FileInfo info;
  info.type = S_ISREG(status.st_mode)   ? FileType::kRegular
              : S_ISDIR(status.st_mode) ? FileType::kDirectory
              : S_ISLNK(status.st_mode) ? FileType::kLink
                                        : FileType::kOther;
  info.volume = static_cast<std::uint64_t>(status.st_dev);
  info.index = static_cast<std::uint64_t>(status.st_ino);
  info.size = static_cast<std::uint64_t>(status.st_size);
  info.links = static_cast<std::uint64_t>(status.st_nlink);
  info.modified = std::int64_t{status.st_mtim.tv_sec} * 1000000000 + status.st_mtim.tv_nsec;
  info.owner = status.st_uid;
  info.group = status.st_gid;
  info.permissions = status.st_mode & 07777;
  return info;
}

// What `status` tells, a regular file counted as one only when `fd` (the
// file or its directory) lies on a file system that stores files: proc,
// sysfs and the like hold the kernel's settings, and writing them acts.
Error Described(const Calls& sys, const struct stat& status, int fd, FileInfo* info) {
  static constexpr unsigned long kPseudo[] = {
      0x9fa0,      // proc
      0x62656572,  // sysfs
      0x64626720,  // debugfs
      0x74726163,  // tracefs
      0x73636673,  // securityfs
      0x62656570,  // configfs
      0x27e0eb,    // cgroup
      0x63677270,  // cgroup2
      0xde5e81e4,  // efivarfs
      0xcafe4a11,  // bpf
      0x6165676c,  // pstore
      0x1cd1,      // devpts
  };
  *info = InfoOf(status);
  struct statfs system;
  if (info->type != FileType::kRegular) return Error::kNone;
  if (sys.fstatfs(fd, &system) != 0) return FromErrno(errno);
  if (std::find(std::begin(kPseudo), std::end(kPseudo),
                static_cast<unsigned long>(system.f_type)) != std::end(kPseudo)) {
    info->type = FileType::kOther;
  }
  return Error::kNone;
}

// Puts the names of `path`, in order, in front of those in `names`.
void PrependNames(const std::string& path, std::deque<std::string>* names) {
  std::deque<std::string> parts;
  for (std::string::size_type at = 0; at <= path.size();) {
    std::string::size_type slash = std::min(path.find('/', at), path.size());
    // "a//b" and "a/./b" name what "a/b" does.
    if (slash > at && path.compare(at, slash - at, ".") != 0) {
      parts.push_back(path.substr(at, slash - at));
    }
    at = slash + 1;
  }
  names->insert(names->begin(), parts.begin(), parts.end());
}

// The target of the symbolic link open as `link` (by O_PATH) in `directory`,
// found to be `status`, when `mayFollow` lets this run follow it; `*limit`
// is how far.
Error FollowedLink(const Calls& sys, int directory, int link, const struct stat& status,
                   const System::LinkRule& mayFollow, LinkLimit* limit, std::string* target) {
  struct stat here;
  if (sys.fstat(directory, &here) != 0) return FromErrno(errno);
  *limit = mayFollow(InfoOf(here), InfoOf(status));
  if (*limit == LinkLimit::kRefuse) return Error::kDenied;
  target->assign(static_cast<std::size_t>(status.st_size) + 1, '\0');
  ssize_t length = sys.readlinkat(link, "", target->data(), target->size());
  if (length < 0) return FromErrno(errno);
  // Empty, or not the size it had: no name to go on with.
  if (length == 0 || static_cast<std::size_t>(length) >= target->size()) return Error::kMissing;
  target->resize(static_cast<std::size_t>(length));
  return Error::kNone;
}

// Where `path` starts: the root, or the working directory.
Error OpenStart(const Calls& sys, const std::string& path, int* fd) {
  const char* start = !path.empty() && path[0] == '/' ? "/" : ".";
  return Checked(
      [&] { return *fd = sys.openat(AT_FDCWD, start, O_PATH | O_DIRECTORY | O_CLOEXEC, 0); });
}

Error LockRange(const Calls& sys, Handle file, short type, off_t start, off_t length) {
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = start;
  lock.l_len = length;
  if (sys.lock(Fd(file), &lock) == 0) return Error::kNone;
  if (errno == EACCES || errno == EAGAIN || errno == EINTR) return Error::kBusy;
  // No record locks here (ENOLCK), a kernel without locks of the open file
  // (EINVAL), or a descriptor not open for writing (EBADF).
  return Error::kUnsupported;
}

// The names of the file's extended attributes, each ended by a zero byte.
// A file system without them has none.
bool AttributeNames(const Calls& sys, int fd, std::string* names) {
  ssize_t size = sys.flistxattr(fd, nullptr, 0);
  if (size < 0) {
    names->clear();
    return errno == ENOTSUP;
  }
  names->resize(static_cast<std::size_t>(size));
  size = sys.flistxattr(fd, names->data(), names->size());
  if (size < 0) return false;
  names->resize(static_cast<std::size_t>(size));
  return true;
}

// False when the file has no attribute `name` or it cannot be read.
bool AttributeValue(const Calls& sys, int fd, const char* name, std::string* value) {
  ssize_t size = sys.fgetxattr(fd, name, nullptr, 0);
  if (size < 0) return false;
  value->resize(static_cast<std::size_t>(size));
  size = sys.fgetxattr(fd, name, value->data(), value->size());
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
// alone, so that a security label the system gave both needs no privilege.
bool CopyExtendedAttributes(const Calls& sys, int from, int to) {
  std::string oldNames, newNames, oldValue, newValue;
  if (!AttributeNames(sys, from, &oldNames) || !AttributeNames(sys, to, &newNames)) return false;
  for (std::size_t at = 0; at < newNames.size(); at = newNames.find('\0', at) + 1) {
    const char* name = newNames.c_str() + at;
    if (!Contains(oldNames, name) && sys.fremovexattr(to, name) != 0) return false;
  }
  for (std::size_t at = 0; at < oldNames.size(); at = oldNames.find('\0', at) + 1) {
    const char* name = oldNames.c_str() + at;
    if (!AttributeValue(sys, from, name, &oldValue)) return false;
    if (AttributeValue(sys, to, name, &newValue) && newValue == oldValue) continue;
    if (sys.fsetxattr(to, name, oldValue.data(), oldValue.size(), 0) != 0) return false;
  }
  return true;
}

class PosixSystem final : public System {
 public:
  explicit PosixSystem(const Calls& calls) : sys_(calls) {}

  Error OpenDirectory(const std::string& path, const LinkRule& mayFollow, Handle* directory,
                      std::string* name) override {
    // Name by name, so that the kernel follows no link: each one is judged
    // here, in the directory it was found in. Each name is held open as
    // what it is, so that what is judged is what is followed.
    int at = -1;
    if (Error error = OpenStart(sys_, path, &at); error != Error::kNone) return error;
    std::deque<std::string> names;
    PrependNames(path, &names);
    // Links followed only to their owner's own: where each one's names end
    // (the count of names still to walk then), and that owner.
    std::vector<std::pair<std::size_t, uid_t>> owned;
    Error error = Error::kMissing;  // a path of no names names no file
    bool named = false;
    for (int hops = 0; !names.empty();) {
      std::string part = std::move(names.front());
      names.pop_front();
      int fd = -1;
      struct stat found;
      error = Checked(
          [&] { return fd = sys_.openat(at, part.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC, 0); });
      if (error == Error::kNone && sys_.fstat(fd, &found) != 0) error = FromErrno(errno);
      if (error == Error::kNone && S_ISLNK(found.st_mode)) {
        std::string target;
        LinkLimit limit = LinkLimit::kRefuse;
        error = ++hops > kMaxLinkHops
                    ? Error::kMissing
                    : FollowedLink(sys_, at, fd, found, mayFollow, &limit, &target);
        ::close(fd);
        if (error != Error::kNone) break;
        const std::size_t rest = names.size();
        PrependNames(target, &names);
        if (limit == LinkLimit::kToItsOwnersOwn) owned.emplace_back(rest, found.st_uid);
        if (target[0] == '/') {
          ::close(at);
          if ((error = OpenStart(sys_, target, &at)) != Error::kNone) return error;
        }
        // A link to where it starts ("/", "."), with no name of its own, led
        // to the directory the walk is in, and so did every link whose names
        // ended with it.
        if (names.size() == rest && (error = OwnedAsLinked(at, &owned, rest)) != Error::kNone) {
          break;
        }
        continue;
      }
      // What a link led to, once its last name is reached, must be its
      // owner's. A last name that names nothing is the caller's to find
      // missing.
      if (error == Error::kNone) error = OwnedAsLinked(fd, &owned, names.size());
      if (names.empty()) {
        if (error == Error::kMissing) error = Error::kNone;
        if (error == Error::kNone) {
          *name = std::move(part);
          named = true;
        }
      } else if (error == Error::kNone && !S_ISDIR(found.st_mode)) {
        error = Error::kMissing;
      }
      if (error != Error::kNone || names.empty()) {
        if (fd >= 0) ::close(fd);
        break;
      }
      ::close(at);
      at = fd;
    }
    // A path that ended on a link to a directory names no file in it.
    if (error == Error::kNone && !named) error = Error::kMissing;
    // The directory itself, open for what a save does in it (list it, sync
    // it); where this user may search it but not read it, for the rest.
    int fd = -1;
    auto openDirectory = [&](int access) {
      return Checked(
          [&] { return fd = sys_.openat(at, ".", access | O_DIRECTORY | O_CLOEXEC, 0); });
    };
    if (error == Error::kNone && (error = openDirectory(O_RDONLY)) == Error::kDenied) {
      error = openDirectory(O_PATH);
    }
    ::close(at);
    *directory = fd;
    return error;
  }

  // Checks what `fd` is against the links of `*owned` whose names end where
  // `rest` names are still to walk: each must be its link's owner's.
  Error OwnedAsLinked(int fd, std::vector<std::pair<std::size_t, uid_t>>* owned, std::size_t rest) {
    for (; !owned->empty() && owned->back().first == rest; owned->pop_back()) {
      struct stat status;
      if (sys_.fstat(fd, &status) != 0) return FromErrno(errno);
      if (status.st_uid != owned->back().second) return Error::kDenied;
    }
    return Error::kNone;
  }

  Error OpenParent(Handle directory, Handle* parent) override {
    int fd = -1;
    Error error = Checked(
        [&] { return fd = sys_.openat(Fd(directory), "..", O_PATH | O_DIRECTORY | O_CLOEXEC, 0); });
    *parent = fd;
    return error;
  }

  Error Inspect(Handle directory, const std::string& name, FileInfo* info) override {
    struct stat status;
    if (sys_.fstatat(Fd(directory), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
      return FromErrno(errno);
    }
    return Described(sys_, status, Fd(directory), info);
  }

  Error Open(Handle directory, const std::string& name, Access access, Handle* file) override {
    *file = kNoHandle;
    // The name held as what it is now, and opened only if that is a regular
    // file, through what is held: a FIFO or device swapped in after the
    // look is never opened.
    int held = -1;
    Error error = Checked([&] {
      return held = sys_.openat(Fd(directory), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC, 0);
    });
    if (error != Error::kNone) return error;
    struct stat status;
    if (sys_.fstat(held, &status) != 0) {
      error = FromErrno(errno);
    } else if (!S_ISREG(status.st_mode)) {
      error = S_ISLNK(status.st_mode) ? Error::kMissing : Error::kDenied;
    }
    const int flags =
        (access == Access::kRead ? O_RDONLY : O_RDWR) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = -1;
    if (error == Error::kNone) {
      const std::string reopen = "/proc/self/fd/" + std::to_string(held);
      error = Checked([&] { return fd = sys_.openat(AT_FDCWD, reopen.c_str(), flags, 0); });
      if (error == Error::kMissing || error == Error::kDenied) {
        // No /proc here, or none this process may search (one that is not
        // dumpable, as a service that changed its user): the name again,
        // and only the file that was held.
        error = Checked(
            [&] { return fd = sys_.openat(Fd(directory), name.c_str(), flags | O_NOFOLLOW, 0); });
        struct stat opened;
        if (error == Error::kNone &&
            (sys_.fstat(fd, &opened) != 0 || opened.st_dev != status.st_dev ||
             opened.st_ino != status.st_ino)) {
          ::close(fd);
          fd = -1;
          error = Error::kMissing;  // renamed meanwhile: looked at again
        }
      }
    }
    ::close(held);
    *file = fd;
    return error;
  }

  Error Describe(Handle file, FileInfo* info) override {
    struct stat status;
    if (sys_.fstat(Fd(file), &status) != 0) return FromErrno(errno);
    return Described(sys_, status, Fd(file), info);
  }

  Error LockContent(Handle file, ContentLock lock) override {
    int type = lock == ContentLock::kShared      ? F_RDLCK
               : lock == ContentLock::kExclusive ? F_WRLCK
                                                 : F_UNLCK;
    return LockRange(sys_, file, static_cast<short>(type), 0, kTurnByte);
  }

  Error TakeTurn(Handle file, Handle* turn) override {
    *turn = kNoHandle;
    return LockRange(sys_, file, F_WRLCK, kTurnByte, 1);
  }

  Error ReadAt(Handle file, std::uint64_t offset, char* buffer, std::size_t capacity,
               std::size_t* count) override {
    ssize_t n = 0;
    Error error = Checked(
        [&] { return n = sys_.pread(Fd(file), buffer, capacity, static_cast<off_t>(offset)); });
    *count = error == Error::kNone ? static_cast<std::size_t>(n) : 0;
    return error;
  }

  Error WriteAt(Handle file, std::uint64_t offset, std::string_view bytes) override {
    while (!bytes.empty()) {
      ssize_t n = 0;
      Error error = Checked([&] {
        return n = sys_.pwrite(Fd(file), bytes.data(), bytes.size(), static_cast<off_t>(offset));
      });
      if (error != Error::kNone) return error;
      bytes.remove_prefix(static_cast<std::size_t>(n));
      offset += static_cast<std::uint64_t>(n);
    }
    return Error::kNone;
  }

  Error Truncate(Handle file, std::uint64_t size) override {
    return Checked([&] { return sys_.ftruncate(Fd(file), static_cast<off_t>(size)); });
  }

  Error Reserve([[maybe_unused]] Handle file, std::uint64_t size) override {
    rlimit limit;
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        static_cast<rlim_t>(size) > limit.rlim_cur) {
      return Error::kNoSpace;
    }
    if (size == 0) return Error::kNone;
    return Checked(
        [&] { return sys_.fallocate(Fd(file), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)); });
  }

  Error Sync(Handle file) override {
    return Checked([&] { return sys_.fsync(Fd(file)); });
  }

  Error SyncDirectory(Handle directory) override { return Sync(directory); }

  Error Create(Handle directory, const std::string& name, Handle, Handle* file) override {
    int fd = -1;
    Error error = Checked([&] {
      return fd = sys_.openat(Fd(directory), name.c_str(),
                              O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
    });
    *file = fd;
    if (error != Error::kNone) return error;
    // Locked while it lives, so that no other save takes it for a leftover;
    // where it cannot be, it is not kept.
    error = LockContent(fd, ContentLock::kExclusive);
    if (error == Error::kNone || error == Error::kUnsupported) return Error::kNone;
    sys_.unlinkat(Fd(directory), name.c_str(), 0);
    ::close(fd);
    *file = kNoHandle;
    return error;
  }

  Error CopyAttributes(Handle from, Handle to, Attributes what) override {
    struct stat old, now;
    if (sys_.fstat(Fd(from), &old) != 0 || sys_.fstat(Fd(to), &now) != 0) return FromErrno(errno);
    switch (what) {
      case Attributes::kOwnership:
        // The group on its own first: a member of the group may set it
        // where only root may set the owner.
        if (now.st_gid != old.st_gid && sys_.fchown(Fd(to), static_cast<uid_t>(-1), old.st_gid)) {
          return FromErrno(errno);
        }
        if (now.st_uid != old.st_uid && sys_.fchown(Fd(to), old.st_uid, static_cast<gid_t>(-1))) {
          return FromErrno(errno);
        }
        return Error::kNone;
      case Attributes::kExtended:
        return CopyExtendedAttributes(sys_, Fd(from), Fd(to)) ? Error::kNone : FromErrno(errno);
      case Attributes::kMode:
        return Checked([&] { return sys_.fchmod(Fd(to), old.st_mode & 07777); });
    }
    return Error::kIo;
  }

  Error Rename(Handle directory, const std::string& from, Handle, const std::string& to) override {
    return Checked(
        [&] { return sys_.renameat(Fd(directory), from.c_str(), Fd(directory), to.c_str()); });
  }

  Error Remove(Handle directory, const std::string& name, Handle) override {
    return Checked([&] { return sys_.unlinkat(Fd(directory), name.c_str(), 0); });
  }

  Error RemoveUnused(Handle directory, const std::string& name) override {
    FileInfo named;
    if (Error error = Inspect(directory, name, &named); error != Error::kNone) return error;
    if (named.type == FileType::kRegular) {
      // A live save holds its new file locked; a shared lock is had only
      // where none does.
      Handle file = kNoHandle;
      if (Error error = Open(directory, name, Access::kRead, &file); error != Error::kNone) {
        return error;
      }
      FileInfo opened;
      Error error = Describe(file, &opened);
      if (error == Error::kNone && !SameFile(opened, named)) error = Error::kBusy;
      if (error == Error::kNone) error = LockContent(file, ContentLock::kShared);
      Close(file);
      if (error != Error::kNone && error != Error::kUnsupported) return error;
    } else if (named.type != FileType::kLink) {
      return Error::kDenied;
    }
    return Remove(directory, name, kNoHandle);
  }

  Error List(Handle directory, std::vector<std::string>* names) override {
    names->clear();
    int fd = sys_.dup(Fd(directory));
    DIR* listing = fd < 0 ? nullptr : ::fdopendir(fd);
    if (listing == nullptr) {
      Error error = FromErrno(errno);
      if (fd >= 0) ::close(fd);
      return error;
    }
    // The copy shares its position with the directory's descriptor.
    ::rewinddir(listing);
    while (const dirent* entry = ::readdir(listing)) names->push_back(entry->d_name);
    ::closedir(listing);
    return Error::kNone;
  }

  std::size_t NameMax(Handle directory) override {
    long nameMax = ::fpathconf(Fd(directory), _PC_NAME_MAX);
    return nameMax > 0 ? static_cast<std::size_t>(nameMax) : NAME_MAX;
  }

  Error Random(std::uint64_t* value) override {
    return sys_.getentropy(value, sizeof *value) == 0 ? Error::kNone : FromErrno(errno);
  }

  std::uint64_t User() override { return ::geteuid(); }

  std::int64_t Now() override {
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1000000 + now.tv_nsec / 1000;
  }

  void Sleep(std::int64_t microseconds) override {
    timespec pause{static_cast<time_t>(microseconds / 1000000),
                   static_cast<long>(microseconds % 1000000 * 1000)};
    while (::nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
  }

  void Close(Handle handle) override { ::close(Fd(handle)); }

  void HoldSignals(SignalHold hold) override { posix::HoldSignals(hold); }

  void RemoveOnSignal(Handle directory, const std::string& name, Handle) override {
    posix::SetFileToRemove(Fd(directory), name);
  }

 private:
  const Calls& sys_;
};

}  // namespace

namespace posix {

constexpr Calls kSystemCalls = {
    .openat = [](int at, const char* name, int flags,
                 mode_t mode) { return ::openat(at, name, flags, mode); },
    .fstatat = ::fstatat,
    .fstat = ::fstat,
    .fstatfs = ::fstatfs,
    .readlinkat = ::readlinkat,
    .lock = [](int fd, struct flock* lock) { return ::fcntl(fd, F_OFD_SETLK, lock); },
    .pread = ::pread,
    .pwrite = ::pwrite,
    .ftruncate = ::ftruncate,
    .fallocate = ::fallocate,
    .fsync = ::fsync,
    .fchown = ::fchown,
    .fchmod = ::fchmod,
    .flistxattr = ::flistxattr,
    .fgetxattr = ::fgetxattr,
    .fsetxattr = ::fsetxattr,
    .fremovexattr = ::fremovexattr,
    .renameat = ::renameat,
    .unlinkat = ::unlinkat,
    .dup = ::dup,
    .getentropy = ::getentropy,
};

std::unique_ptr<System> MakeSystem(const Calls& calls) {
  return std::make_unique<PosixSystem>(calls);
}

}  // namespace posix

System& NativeSystem() {
  static PosixSystem system(posix::kSystemCalls);
  return system;
}

}  // namespace platform
