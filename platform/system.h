#ifndef USERS_PLATFORM_SYSTEM_H_
#define USERS_PLATFORM_SYSTEM_H_

// What holding and saving the password file take from the system: file
// calls, random bytes, the user, a clock, and the signals that end a run.
// Each system implements them (platform/posix/, platform/windows/), and so
// do the tests, to fail any call; every decision about what to call, and
// what a failure means, is taken once, above them, in safe_file/. A call
// does one thing, says how it failed, and never retries, waits or falls
// back on its own, except to repeat a system call that a signal interrupted.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// An open file or directory, or a held turn; what it is differs by system.
using Handle = std::intptr_t;
inline constexpr Handle kNoHandle = -1;

// How a call failed, in the kinds that the decisions above tell apart.
enum class Error {
  kNone,
  kMissing,      // no such file or directory
  kExists,       // a new file's name is taken
  kDenied,       // permissions, ownership or a policy refuse it
  kReadOnly,     // the file system is mounted read-only
  kBusy,         // another process holds it, or a lock, in the way
  kCrossDevice,  // the two names lie on different file systems or mounts
  kTooLong,      // the name or path is too long for the system
  kNoSpace,      // the disk, a quota or the file-size limit is full
  kUnsupported,  // this file system cannot do it at all
  kIo,           // anything else: a device error, a system that went away
};

// kRegular is a file whose content a file system stores. A file of a file
// system whose content is the kernel's (proc, sysfs and the like) is kOther,
// as is a device.
enum class FileType { kRegular, kDirectory, kLink, kOther };

// The bits of FileInfo::permissions that the decisions above read, numbered
// as POSIX numbers them.
inline constexpr std::uint32_t kOtherWrite = 0002, kOtherRead = 0004, kGroupWrite = 0020,
                               kGroupRead = 0040, kSticky = 01000;

// The user whom permissions do not stop.
inline constexpr std::uint64_t kSuperuser = 0;

struct FileInfo {
  FileType type = FileType::kOther;
  // Together, the file's identity: two names with the same identity are
  // one file.
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  std::uint64_t size = 0;
  std::uint64_t links = 0;  // names the file has
  // When the content last changed, in nanoseconds since 1970: with identity
  // and size, what tells a reader that the file changed since it read it.
  std::int64_t modified = 0;
  // Who owns it, and who may do what with it. Where a system has no such
  // numbers (Windows) they are all 0: every file is the running user's, and
  // no directory is shared.
  std::uint64_t owner = 0;
  std::uint64_t group = 0;
  std::uint32_t permissions = 0;
};

inline bool SameFile(const FileInfo& a, const FileInfo& b) {
  return a.volume == b.volume && a.index == b.index;
}

// Whether a symbolic link is followed: not at all, wherever it leads, or
// only to what the link's own owner owns.
enum class LinkLimit { kRefuse, kFollow, kToItsOwnersOwn };

enum class Access { kRead, kReadWrite };

// A lock on a file's content, which readers take shared and an in-place
// rewrite exclusive; kUnlock lets it go.
enum class ContentLock { kUnlock, kShared, kExclusive };

// What a new file is given from the old one, in the order a save asks.
enum class Attributes {
  kOwnership,  // group and owner
  kExtended,   // extended attributes and access-control lists
  kMode,       // permission bits, or the system's file attributes
};

// Which of the signals that end a process are held off: none, those that
// end it from outside, or every one that can be held.
enum class SignalHold { kNone, kEnding, kAll };

class System {
 public:
  virtual ~System() = default;

  // Whether, and how far, a symbolic link `link` found in `directory` may
  // be followed.
  using LinkRule = std::function<LinkLimit(const FileInfo& directory, const FileInfo& link)>;

  // Walks `path` one name at a time from where it starts, following each
  // symbolic link on the way (a directory's or the last name's) that
  // `mayFollow` allows, until the last name is no link or names nothing;
  // opens that name's directory as `*directory` and gives the name in it as
  // `*name`. kDenied when `mayFollow` refused a link, or when a link allowed
  // only to its owner's own led to something of another's. The one place
  // where a path is taken; every other call names files within an open
  // directory.
  // Windows lets the system follow what the path names, as its own calls
  // do, and asks nothing.
  virtual Error OpenDirectory(const std::string& path, const LinkRule& mayFollow, Handle* directory,
                              std::string* name) = 0;

  // Opens the directory that holds `directory` (its ".."), to be described;
  // kUnsupported where a system cannot.
  virtual Error OpenParent(Handle directory, Handle* parent) = 0;

  // What `name` in `directory` is, without opening it and without following
  // a link it may be.
  virtual Error Inspect(Handle directory, const std::string& name, FileInfo* info) = 0;

  // Opens the existing regular file `name` in `directory`, letting other
  // processes read, write and rename it meanwhile. Anything else is
  // refused, kMissing for a link, kDenied for a device, a FIFO or the like,
  // and never opened (only where Linux's /proc is missing may one swapped
  // in at that moment be opened without waiting, before it is refused).
  virtual Error Open(Handle directory, const std::string& name, Access access, Handle* file) = 0;

  // What the open file is.
  virtual Error Describe(Handle file, FileInfo* info) = 0;

  // Takes or lets go of a lock on the content of `file` without waiting:
  // kBusy when another open file holds one in the way.
  virtual Error LockContent(Handle file, ContentLock lock) = 0;

  // Takes, without waiting, the turn that runs changing the file of `file`
  // (open for writing) take one at a time. It goes with `*turn` when that is
  // closed, and with `file` when `*turn` is kNoHandle. kBusy while another
  // process holds it.
  virtual Error TakeTurn(Handle file, Handle* turn) = 0;

  // Reads up to `capacity` bytes at `offset`; `*count` is 0 at the end.
  virtual Error ReadAt(Handle file, std::uint64_t offset, char* buffer, std::size_t capacity,
                       std::size_t* count) = 0;

  // Writes all of `bytes` at `offset`.
  virtual Error WriteAt(Handle file, std::uint64_t offset, std::string_view bytes) = 0;

  // Cuts or extends the file to `size` bytes.
  virtual Error Truncate(Handle file, std::uint64_t size) = 0;

  // Makes sure the file can hold `size` bytes without changing its size or
  // content: kNoSpace when the disk, a quota or the file-size limit would
  // refuse them, kUnsupported where nothing can be reserved.
  virtual Error Reserve(Handle file, std::uint64_t size) = 0;

  // Makes what was written to the file durable.
  virtual Error Sync(Handle file) = 0;

  // Makes the names changed in `directory` durable.
  virtual Error SyncDirectory(Handle directory) = 0;

  // Creates the new file `name` in `directory`, open for reading and
  // writing, that no other process can write while it is open and that
  // RemoveUnused leaves alone while it is. Only this user can open it;
  // where a system can give a file the security of `model` only at its
  // creation, it does so here, and those the old file lets in may read it.
  virtual Error Create(Handle directory, const std::string& name, Handle model, Handle* file) = 0;

  // Gives the new file `to` one kind of what the file `from` has.
  virtual Error CopyAttributes(Handle from, Handle to, Attributes what) = 0;

  // Puts the new file `from` (open as `file`) in the place of `to`, in one
  // step: the name never names nothing and never part of either.
  virtual Error Rename(Handle directory, const std::string& from, Handle file,
                       const std::string& to) = 0;

  // Removes the new file `name` (open as `file`).
  virtual Error Remove(Handle directory, const std::string& name, Handle file) = 0;

  // Removes `name` unless it is a directory or a file that a live process
  // holds open from Create.
  virtual Error RemoveUnused(Handle directory, const std::string& name) = 0;

  // The names in `directory`.
  virtual Error List(Handle directory, std::vector<std::string>* names) = 0;

  // The longest name that `directory` can hold.
  virtual std::size_t NameMax(Handle directory) = 0;

  // Bytes from the system's random source.
  virtual Error Random(std::uint64_t* value) = 0;

  // The user the run acts as (its effective user); 0 where FileInfo has no
  // owners.
  virtual std::uint64_t User() = 0;

  // A steady clock, in microseconds from any start, and a pause of the
  // calling thread: how long a run waits is measured with them, so that
  // tests can wait on a clock of their own.
  virtual std::int64_t Now() = 0;
  virtual void Sleep(std::int64_t microseconds) = 0;

  virtual void Close(Handle handle) = 0;

  // Holds off the signals that `hold` names until the next call, which
  // lets them go with kNone; one that came meanwhile acts then. Holds do
  // not nest.
  virtual void HoldSignals(SignalHold hold) = 0;

  // The new file that a signal ending the process removes first: `name` in
  // `directory`, open as `file`; an empty name for none. Called while
  // kEnding signals are held.
  virtual void RemoveOnSignal(Handle directory, const std::string& name, Handle file) = 0;
};

// The system the program runs on.
System& NativeSystem();

}  // namespace platform

#endif  // USERS_PLATFORM_SYSTEM_H_
