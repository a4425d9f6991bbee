#include "safe_file/held_file.h"

#include <algorithm>

#include "safe_file/directory_rules.h"

namespace safe_file {

using platform::Access;
using platform::ContentLock;
using platform::Error;
using platform::FileInfo;
using platform::FileType;
using platform::Handle;
using platform::kNoHandle;
using platform::SameFile;

namespace {

// A name that another run renames between a look at it and its open is
// looked at again, a bounded number of times.
constexpr int kOpenTries = 100;

// Pauses between tries: short at first, so that a hold of a moment costs
// little, then longer, so that a long wait costs no processor time.
constexpr std::int64_t kFirstPause = 1000, kLongestPause = 32000;

}  // namespace

HeldFile::Outcome HeldFile::Open(const std::string& path, Purpose purpose) {
  Close();
  path_ = path;
  purpose_ = purpose;
  failure_ = Failure::kNone;
  bool refused = false;
  Error error = OpenDirectory(path, &directory_, &name_, &refused);
  Outcome outcome = error != Error::kNone ? FailedWith(error) : OpenNamed(purpose);
  if (refused) failure_ = Failure::kLinkRefused;
  if (outcome != Outcome::kOpen) Close();
  return outcome;
}

HeldFile::Outcome HeldFile::Unavailable(Failure failure) {
  failure_ = failure;
  return Outcome::kUnavailable;
}

HeldFile::Outcome HeldFile::FailedWith(Error error) {
  switch (error) {
    case Error::kBusy:
      failure_ = Failure::kBusy;
      return Outcome::kBusy;
    case Error::kMissing:
    case Error::kTooLong:
      return Unavailable(Failure::kMissing);
    case Error::kDenied:
      return Unavailable(Failure::kDenied);
    default:
      return Unavailable(Failure::kIo);
  }
}

bool HeldFile::Look(const std::string& path, FileInfo* info) const {
  Handle directory = kNoHandle;
  std::string name;
  if (OpenDirectory(path, &directory, &name) != Error::kNone) return false;
  bool found =
      system_.Inspect(directory, name, info) == Error::kNone && info->type == FileType::kRegular;
  system_.Close(directory);
  return found;
}

Error HeldFile::OpenDirectory(const std::string& path, Handle* directory, std::string* name,
                              bool* refused) const {
  const std::uint64_t user = system_.User();
  bool refusedOne = false, limitedOne = false;
  // `unlimited`: a link followed only to its owner's own is followed
  // wherever it leads.
  auto walk = [&](bool unlimited, Handle* opened, std::string* named) {
    return system_.OpenDirectory(
        path,
        [&](const FileInfo& inDirectory, const FileInfo& link) {
          platform::LinkLimit limit = MayFollow(inDirectory, link, user);
          refusedOne = refusedOne || limit == platform::LinkLimit::kRefuse;
          limitedOne = limitedOne || limit == platform::LinkLimit::kToItsOwnersOwn;
          return unlimited && limit == platform::LinkLimit::kToItsOwnersOwn
                     ? platform::LinkLimit::kFollow
                     : limit;
        },
        opened, named);
  };
  Error error = walk(false, directory, name);
  if (refused == nullptr) return error;
  *refused = refusedOne;
  // Denied after a link limited to its owner's own: the limit refused it
  // only if the same walk without the limit is not denied too. Only asked,
  // to tell why; nothing it opens is used.
  if (!refusedOne && limitedOne && error == Error::kDenied) {
    Handle probe = kNoHandle;
    std::string probeName;
    *refused = walk(true, &probe, &probeName) != Error::kDenied || refusedOne;
    if (probe != kNoHandle) system_.Close(probe);
  }
  return error;
}

HeldFile::Outcome HeldFile::OpenNamed(Purpose purpose) {
  for (int attempt = 0; attempt < kOpenTries; ++attempt) {
    // The type first, without opening: a device may act on an open.
    FileInfo named, directory;
    Error error = system_.Inspect(directory_, name_, &named);
    if (error != Error::kNone) return FailedWith(error);
    if (named.type != FileType::kRegular) return Unavailable(Failure::kNotRegular);
    if (system_.Describe(directory_, &directory) != Error::kNone) return Unavailable(Failure::kIo);
    writable_ = purpose == Purpose::kChange && MayChange(directory, named, system_.User());
    auto open = [&](Access access) {
      return WaitWhileBusy([&] { return system_.Open(directory_, name_, access, &handle_); });
    };
    error = open(writable_ ? Access::kReadWrite : Access::kRead);
    if (writable_ && (error == Error::kDenied || error == Error::kReadOnly)) {
      // Loaded all the same; its save then fails with nothing written.
      writable_ = false;
      error = open(Access::kRead);
    }
    if (error == Error::kMissing) continue;  // renamed away since the look
    if (error != Error::kNone) return FailedWith(error);
    if (system_.Describe(handle_, &info_) != Error::kNone) return Unavailable(Failure::kIo);
    if (info_.type != FileType::kRegular || !SameFile(info_, named)) {
      CloseFile();
      continue;
    }

    // A run that will write takes the writers' turn; any other reads under
    // the readers' lock, which waits out an in-place rewrite.
    error = WaitWhileBusy([&] {
      return writable_ ? system_.TakeTurn(handle_, &turn_)
                       : system_.LockContent(handle_, ContentLock::kShared);
    });
    if (error == Error::kUnsupported) error = writable_ ? TakeLockFile() : Error::kNone;
    if (error != Error::kNone) return FailedWith(error);
    // What it waited for may have rewritten the file in place: it is known
    // as it is now that it is held.
    if (system_.Describe(handle_, &info_) != Error::kNone) return Unavailable(Failure::kIo);
    // A run that held the turn before may have replaced the file: then the
    // turn is taken again, on the file that the name holds now.
    if (!writable_ || StillNamed()) return Outcome::kOpen;
    CloseFile();
  }
  // Renamed away at every try.
  return Unavailable(Failure::kMissing);
}

// A file system without record locks: the writers' turn is a file beside
// the password file, made only where none is, as git makes its lock files,
// and removed at Close. Where none can be made at all, runs go on unlocked,
// as they must; one that a killed run left is waited for, and then stands
// in every run's way until someone removes it.
Error HeldFile::TakeLockFile() {
  const std::string name = name_ + ".lock";
  Error error = WaitWhileBusy([&] {
    Error made = system_.Create(directory_, name, handle_, &lockFile_);
    return made == Error::kExists ? Error::kBusy : made;
  });
  if (error == Error::kNone) lockName_ = name;
  return error == Error::kBusy || error == Error::kNone ? error : Error::kNone;
}

void HeldFile::Close() {
  CloseFile();
  if (directory_ != kNoHandle) system_.Close(directory_);
  directory_ = kNoHandle;
}

void HeldFile::CloseFile() {
  if (lockFile_ != kNoHandle) {
    system_.Remove(directory_, lockName_, lockFile_);
    system_.Close(lockFile_);
    lockFile_ = kNoHandle;
  }
  for (Handle* handle : {&turn_, &handle_}) {
    if (*handle != kNoHandle) system_.Close(*handle);
    *handle = kNoHandle;
  }
  info_ = FileInfo();
  readOffset_ = 0;
}

std::ptrdiff_t HeldFile::Read(char* buffer, std::size_t capacity) {
  std::ptrdiff_t count = ReadAt(readOffset_, buffer, capacity);
  if (count > 0) readOffset_ += static_cast<std::uint64_t>(count);
  return count;
}

std::ptrdiff_t HeldFile::ReadAt(std::uint64_t offset, char* buffer, std::size_t capacity) const {
  // No further than the size the file had when it was opened: a file that
  // someone keeps writing ends all the same, and then fails Unchanged.
  if (offset >= info_.size) return 0;
  capacity = static_cast<std::size_t>(std::min<std::uint64_t>(capacity, info_.size - offset));
  std::size_t count = 0;
  if (system_.ReadAt(handle_, offset, buffer, capacity, &count) != Error::kNone) return -1;
  return static_cast<std::ptrdiff_t>(count);
}

bool HeldFile::StillNamed() const {
  FileInfo named;
  return system_.Inspect(directory_, name_, &named) == Error::kNone &&
         named.type == FileType::kRegular && SameFile(named, info_) && named.size == info_.size;
}

bool HeldFile::Unchanged() const {
  FileInfo now;
  return IsOpen() && system_.Describe(handle_, &now) == Error::kNone && SameFile(now, info_) &&
         now.size == info_.size && now.modified == info_.modified;
}

bool HeldFile::MayStillChange(FileInfo* now) const {
  FileInfo directory;
  return HeldForChange() && writable_ && StillNamed() &&
         system_.Describe(handle_, now) == Error::kNone &&
         system_.Describe(directory_, &directory) == Error::kNone &&
         MayChange(directory, *now, system_.User());
}

bool HeldFile::MayRemove(const FileInfo& leftover) const {
  return leftover.owner == system_.User() || leftover.owner == info_.owner;
}

Error HeldFile::WaitWhileBusy(const std::function<Error()>& call) {
  for (std::int64_t pause = kFirstPause;; pause = std::min(pause * 2, kLongestPause)) {
    Error error = call();
    if (error != Error::kBusy) return error;
    const std::int64_t now = system_.Now();
    if (waitingSince_ < 0) waitingSince_ = now;
    if (now - waitingSince_ >= kWaitMicroseconds) return error;
    system_.Sleep(std::min(pause, waitingSince_ + kWaitMicroseconds - now));
  }
}

}  // namespace safe_file
