// How a save decides, on every system: replace or rewrite in place, what a
// refusal is, which leftovers go, the order attributes are copied in, how a
// failed rewrite is undone, and when signals are held off.

#include "safe_file/file_replacement.h"

#include <cstdio>

namespace safe_file {

using platform::Attributes;
using platform::ContentLock;
using platform::Error;
using platform::FileInfo;
using platform::Handle;
using platform::kNoHandle;
using platform::SignalHold;
using platform::System;

namespace {

// A save names its new file "<stem>.tmp-", eight random letters or digits
// that make it unique, and four more that a hash of all before them gives.
// The stem is the old file's name, so that what a killed run left is known
// by its name; the four check it in full, so that no name a person gives a
// file (a "users.dat.tmp-backup") is ever taken for a leftover.
constexpr std::size_t kRandomLength = 8, kCheckLength = 4;
constexpr std::size_t kUniqueLength = kRandomLength + kCheckLength;

constexpr std::string_view kMark = ".tmp-";
constexpr std::string_view kSymbols =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
// "~" and eight hexadecimal digits.
constexpr std::size_t kHashLength = 9;

std::uint32_t Hash(std::string_view bytes) {
  std::uint32_t hash = 2166136261u;
  for (char byte : bytes) hash = (hash ^ static_cast<unsigned char>(byte)) * 16777619u;
  return hash;
}

// `count` symbols for `value`.
std::string Symbols(std::uint64_t value, std::size_t count) {
  std::string symbols;
  for (std::size_t i = 0; i < count; ++i, value /= kSymbols.size()) {
    symbols += kSymbols[value % kSymbols.size()];
  }
  return symbols;
}

// The stem for the file named `name` where names hold at most `nameMax`
// bytes: the name itself, or for a name too long to leave room behind it,
// its start and a hash of the whole name.
std::string TemporaryStem(std::string_view name, std::size_t nameMax) {
  std::size_t room = nameMax - kMark.size() - kUniqueLength;
  if (name.size() <= room) return std::string(name);
  char tail[kHashLength + 1];
  std::snprintf(tail, sizeof tail, "~%08x", static_cast<unsigned>(Hash(name)));
  return std::string(name.substr(0, room - kHashLength)) + tail;
}

// "<stem>.tmp-", the random part made from `seed`, and its check.
std::string TemporaryName(std::string_view stem, std::uint64_t seed) {
  std::string name = std::string(stem) + std::string(kMark) + Symbols(seed, kRandomLength);
  return name + Symbols(Hash(name), kCheckLength);
}

// Whether `candidate` is a name that TemporaryName gives for `stem`.
bool IsTemporaryName(std::string_view candidate, std::string_view stem) {
  if (candidate.size() != stem.size() + kMark.size() + kUniqueLength ||
      candidate.substr(0, stem.size()) != stem ||
      candidate.substr(stem.size(), kMark.size()) != kMark) {
    return false;
  }
  std::string_view checked = candidate.substr(0, candidate.size() - kCheckLength);
  return checked.substr(stem.size() + kMark.size()).find_first_not_of(kSymbols) ==
             std::string_view::npos &&
         candidate.substr(checked.size()) == Symbols(Hash(checked), kCheckLength);
}

// Tries at a unique name before giving up on a new file. The names are
// random, so only chance, not someone who plants names, makes one taken.
constexpr int kUniqueNameTries = 100;

// Failures that say a new file, or its rename, cannot be had here at all,
// rather than that something went wrong: the file may still be rewritten.
bool IsRefusal(Error error) {
  return error == Error::kDenied || error == Error::kReadOnly || error == Error::kBusy ||
         error == Error::kCrossDevice || error == Error::kTooLong;
}

// Holds off signals while it lives.
class SignalsHeld {
 public:
  SignalsHeld(System& system, SignalHold hold) : system_(system) { system_.HoldSignals(hold); }
  ~SignalsHeld() { system_.HoldSignals(SignalHold::kNone); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  System& system_;
};

// Replaces `bytes` with the whole content of `file`. False on a read error.
bool ReadAll(System& system, Handle file, std::string* bytes) {
  constexpr std::size_t kChunk = 1 << 16;
  bytes->clear();
  for (;;) {
    std::size_t done = bytes->size(), count = 0;
    bytes->resize(done + kChunk);
    Error error = system.ReadAt(file, done, bytes->data() + done, kChunk, &count);
    bytes->resize(done + count);
    if (error != Error::kNone) return false;
    if (count == 0) return true;
  }
}

}  // namespace

bool FileReplacement::Begin() {
  // Read-only means "do not change", although a rename would get around it;
  // a name that holds another file now is someone else's doing; and a
  // second name may have been added since the file was opened.
  FileInfo now;
  if (!file_.MayStillChange(&now)) return false;
  // A rename would leave the file's other names with the old content.
  if (now.links > 1) return inPlace_ = true;
  Error error = MakeNewFile();
  if (error == Error::kNone) return true;
  inPlace_ = IsRefusal(error);
  return inPlace_;
}

Error FileReplacement::MakeNewFile() {
  const Handle directory = file_.directory();
  std::string stem = TemporaryStem(file_.name(), system_.NameMax(directory));
  RemoveLeftovers(stem);
  Error error = Error::kExists;
  for (int attempt = 0; error == Error::kExists && attempt < kUniqueNameTries; ++attempt) {
    std::uint64_t random = 0;
    if ((error = system_.Random(&random)) != Error::kNone) break;
    std::string name = TemporaryName(stem, random);
    // Held off until the new file is known to the handlers, which remove it.
    SignalsHeld held(system_, SignalHold::kEnding);
    error = system_.Create(directory, name, file_.handle(), &handle_);
    if (error == Error::kNone) {
      temporary_ = name;
      system_.RemoveOnSignal(directory, name, handle_);
    }
  }
  if (error != Error::kNone) return error;
  // While the new file is still this user's alone. The mode goes last: with
  // an ACL the group bits are its mask, so a mode set before the ACL would
  // open the file to the owning group until the ACL came.
  for (Attributes what : {Attributes::kOwnership, Attributes::kExtended, Attributes::kMode}) {
    if (system_.CopyAttributes(file_.handle(), handle_, what) != Error::kNone) {
      Discard();
      return Error::kDenied;  // the new file cannot have what the old one has
    }
  }
  return Error::kNone;
}

// Removes the new files that runs killed during a save of the same file
// left: those named exactly as a save names its own, which no live save
// holds, and which are the running user's or the file owner's: a file of
// someone else's that only looks like one stays.
void FileReplacement::RemoveLeftovers(const std::string& stem) {
  std::vector<std::string> names;
  if (system_.List(file_.directory(), &names) != Error::kNone) return;
  for (const std::string& name : names) {
    FileInfo leftover;
    if (IsTemporaryName(name, stem) &&
        system_.Inspect(file_.directory(), name, &leftover) == Error::kNone &&
        file_.MayRemove(leftover)) {
      system_.RemoveUnused(file_.directory(), name);
    }
  }
}

bool FileReplacement::Write(std::string_view bytes) {
  if (failed_) return false;
  if (inPlace_) {
    // Written over the old content only once it is whole, at Commit.
    content_.append(bytes);
    return true;
  }
  if (handle_ == kNoHandle || system_.WriteAt(handle_, written_, bytes) != Error::kNone) {
    failed_ = true;
    return false;
  }
  written_ += bytes.size();
  return true;
}

bool FileReplacement::Commit() {
  if (failed_) return false;
  if (inPlace_) return CommitInPlace();
  if (handle_ == kNoHandle || system_.Sync(handle_) != Error::kNone || !file_.StillNamed()) {
    return false;
  }
  const Handle directory = file_.directory();
  Error error = file_.WaitWhileBusy([&] {
    SignalsHeld held(system_, SignalHold::kEnding);
    Error renamed = system_.Rename(directory, temporary_, handle_, file_.name());
    if (renamed == Error::kNone) {
      system_.RemoveOnSignal(directory, "", kNoHandle);
      temporary_.clear();
    }
    return renamed;
  });
  if (error == Error::kNone) {
    Discard();
    // The rename is done; a directory that cannot be synced (some file
    // systems refuse) does not undo it.
    system_.SyncDirectory(directory);
    return true;
  }
  // The file cannot be replaced (a file mounted over the name, another
  // user's file in a sticky directory) but may still be rewritten.
  if (!IsRefusal(error) || !ReadAll(system_, handle_, &content_)) return false;
  Discard();
  inPlace_ = true;
  return CommitInPlace();
}

bool FileReplacement::CommitInPlace() {
  const Handle file = file_.handle();
  // The exclusive lock keeps readers out until the new content is whole.
  Error locked =
      file_.WaitWhileBusy([&] { return system_.LockContent(file, ContentLock::kExclusive); });
  if (locked != Error::kNone && locked != Error::kUnsupported) return false;
  // The old content, to be put back if a write fails; and the room for the
  // new, so that a full disk, quota or size limit fails before any write.
  std::string old;
  Error reserved = Error::kIo;
  bool written = false;
  if (ReadAll(system_, file, &old) &&
      ((reserved = system_.Reserve(file, content_.size())) == Error::kNone ||
       reserved == Error::kUnsupported) &&
      file_.StillNamed()) {
    // From the first write to the sync, a signal would leave the file
    // neither old nor new.
    SignalsHeld held(system_, SignalHold::kAll);
    written = system_.WriteAt(file, 0, content_) == Error::kNone &&
              system_.Truncate(file, content_.size()) == Error::kNone &&
              system_.Sync(file) == Error::kNone;
    if (!written) {
      system_.WriteAt(file, 0, old);
      system_.Truncate(file, old.size());
      system_.Sync(file);
    }
  }
  system_.LockContent(file, ContentLock::kUnlock);
  return written;
}

void FileReplacement::Discard() {
  if (handle_ == kNoHandle) return;
  if (!temporary_.empty()) {
    SignalsHeld held(system_, SignalHold::kEnding);
    system_.Remove(file_.directory(), temporary_, handle_);
    system_.RemoveOnSignal(file_.directory(), "", kNoHandle);
    temporary_.clear();
  }
  system_.Close(handle_);
  handle_ = kNoHandle;
}

}  // namespace safe_file
