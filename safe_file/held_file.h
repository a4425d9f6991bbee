#ifndef USERS_SAFE_FILE_HELD_FILE_H_
#define USERS_SAFE_FILE_HELD_FILE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/system.h"

namespace safe_file {

// The password file of one run, from before its load to after its save.
// Its path is resolved once, at Open; from then on the file is reached only
// through its open directory and its name there, and known by its identity.
// So the file that is locked is the file that is loaded and the one that a
// save replaces or rewrites, whoever renames what in the directory meanwhile.
//
// Where others control a directory on the way, the rules of
// directory_rules.h decide which links are followed and whether the file
// may be changed, whatever the system's own settings.
class HeldFile {
 public:
  enum class Purpose {
    kRead,    // a shared lock on the content, which waits out an in-place rewrite
    kChange,  // the writers' turn, held until Close
  };
  enum class Outcome {
    kOpen,
    kUnavailable,  // missing, not a regular file, or not readable
    kBusy,         // another run held the turn, or the content, for all of the wait
  };
  // Why the last Open did not open, for those who tell it.
  enum class Failure {
    kNone,
    kMissing,      // no such file, or a directory on the path is missing
    kDenied,       // permissions refuse it
    kLinkRefused,  // a link that those rules do not follow
    kNotRegular,   // a directory, a device, a FIFO, a file of the kernel's
    kBusy,         // as Outcome::kBusy
    kIo,           // anything else
  };

  // How long one run waits in all, from its first wait, for what others
  // hold: the turn, the content, a file they hold unshared.
  static constexpr std::int64_t kWaitMicroseconds = 30'000'000;

  explicit HeldFile(platform::System& system) : system_(system) {}
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  ~HeldFile() { Close(); }

  // Opens the file that `path` names now, following only the links that
  // those rules let it. Only a regular file that a file system stores
  // is opened. For a change, one that this user cannot write, or may not
  // by those rules, is opened for reading only: its save then fails
  // without writing anything. A file opened for reading is held under the
  // readers' lock; one opened for a change, under the writers' turn.
  Outcome Open(const std::string& path, Purpose purpose);
  void Close();
  Failure failure() const { return failure_; }

  // What `path` names now, reached as Open reaches it, without opening it:
  // false when it reaches nothing, or a file that Open would not open.
  bool Look(const std::string& path, platform::FileInfo* info) const;

  bool IsOpen() const { return handle_ != platform::kNoHandle; }
  bool HeldForChange() const { return IsOpen() && purpose_ == Purpose::kChange; }
  const std::string& path() const { return path_; }

  // Reads the next bytes: the count, 0 at the end, -1 on a read error. The
  // end is the size the file had when it was opened.
  std::ptrdiff_t Read(char* buffer, std::size_t capacity);
  // Reads bytes at `offset`, as Read does.
  std::ptrdiff_t ReadAt(std::uint64_t offset, char* buffer, std::size_t capacity) const;
  // Makes the next Read start at the beginning.
  void Rewind() { readOffset_ = 0; }
  // The file's size when it was opened.
  std::size_t SizeHint() const { return static_cast<std::size_t>(info_.size); }

  // Whether the name still names the file that was opened, of the size it
  // had then: only a writer that does not take turns could have cut it
  // meanwhile, and then a save must not write what it loaded before.
  bool StillNamed() const;
  // Whether the open file still has the size and the time it had when
  // opened, which any write gives it.
  bool Unchanged() const;

  // Whether the file may be changed now: held for a change and writable,
  // still named, and allowed by those rules as it stands now; `*now` is
  // what the file is now.
  bool MayStillChange(platform::FileInfo* now) const;

  // Whether a save may remove `leftover`, a file named as a save names its
  // new file: only the running user's or the held file's owner's.
  bool MayRemove(const platform::FileInfo& leftover) const;

  // Repeats `call` while it fails with kBusy, until the run has waited
  // kWaitMicroseconds in all; its last result.
  platform::Error WaitWhileBusy(const std::function<platform::Error()>& call);

  // For the save of the file.
  platform::System& system() const { return system_; }
  platform::Handle directory() const { return directory_; }
  const std::string& name() const { return name_; }
  platform::Handle handle() const { return handle_; }
  const platform::FileInfo& info() const { return info_; }

 private:
  // Opens the directory of what `path` names, following the links the rule
  // above lets it, as `*directory`, and gives the name in it.
  // `*refused`, if given, tells whether the rule refused a link.
  platform::Error OpenDirectory(const std::string& path, platform::Handle* directory,
                                std::string* name, bool* refused = nullptr) const;
  Outcome OpenNamed(Purpose purpose);
  // The writers' turn where the file system has no record locks.
  platform::Error TakeLockFile();
  // Outcome::kUnavailable, keeping why.
  Outcome Unavailable(Failure failure);
  Outcome FailedWith(platform::Error error);
  // Closes the file and its turn; the directory stays open.
  void CloseFile();

  platform::System& system_;
  std::string path_;
  Purpose purpose_ = Purpose::kRead;
  platform::Handle directory_ = platform::kNoHandle;
  std::string name_;
  platform::Handle handle_ = platform::kNoHandle;
  platform::Handle turn_ = platform::kNoHandle;
  platform::Handle lockFile_ = platform::kNoHandle;  // the turn, without record locks
  std::string lockName_;
  platform::FileInfo info_;
  bool writable_ = false;
  Failure failure_ = Failure::kNone;
  std::uint64_t readOffset_ = 0;
  std::int64_t waitingSince_ = -1;  // when the run first waited; -1: not yet
};

}  // namespace safe_file

#endif  // USERS_SAFE_FILE_HELD_FILE_H_
