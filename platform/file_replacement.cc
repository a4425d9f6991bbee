// How a save decides, on every system: replace or rewrite in place, what a
// refusal is, which leftovers go, the order attributes are copied in, how a
// failed rewrite is undone, and when signals are held off.

#include "platform/file_replacement.h"

#include "platform/temporary_name.h"

namespace platform {

namespace {

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
  SignalsHeld(FileSystem& files, SignalHold hold) : files_(files) { files_.HoldSignals(hold); }
  ~SignalsHeld() { files_.HoldSignals(SignalHold::kNone); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  FileSystem& files_;
};

// Replaces `bytes` with the whole content of `file`. False on a read error.
bool ReadAll(FileSystem& files, Handle file, std::string* bytes) {
  constexpr std::size_t kChunk = 1 << 16;
  bytes->clear();
  for (;;) {
    std::size_t done = bytes->size(), count = 0;
    bytes->resize(done + kChunk);
    Error error = files.ReadAt(file, done, bytes->data() + done, kChunk, &count);
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
  std::string stem = TemporaryStem(file_.name(), files_.NameMax(directory));
  RemoveLeftovers(stem);
  Error error = Error::kExists;
  for (int attempt = 0; error == Error::kExists && attempt < kUniqueNameTries; ++attempt) {
    std::uint64_t random = 0;
    if ((error = files_.Random(&random)) != Error::kNone) break;
    std::string name = TemporaryName(stem, random);
    // Held off until the new file is known to the handlers, which remove it.
    SignalsHeld held(files_, SignalHold::kEnding);
    error = files_.Create(directory, name, file_.handle(), &handle_);
    if (error == Error::kNone) {
      temporary_ = name;
      files_.RemoveOnSignal(directory, name, handle_);
    }
  }
  if (error != Error::kNone) return error;
  // While the new file is still this user's alone. The mode goes last: with
  // an ACL the group bits are its mask, so a mode set before the ACL would
  // open the file to the owning group until the ACL came.
  for (Attributes what : {Attributes::kOwnership, Attributes::kExtended, Attributes::kMode}) {
    if (files_.CopyAttributes(file_.handle(), handle_, what) != Error::kNone) {
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
  if (files_.List(file_.directory(), &names) != Error::kNone) return;
  for (const std::string& name : names) {
    FileInfo leftover;
    if (IsTemporaryName(name, stem) &&
        files_.Inspect(file_.directory(), name, &leftover) == Error::kNone &&
        file_.MayRemove(leftover)) {
      files_.RemoveUnused(file_.directory(), name);
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
  if (handle_ == kNoHandle || files_.WriteAt(handle_, written_, bytes) != Error::kNone) {
    failed_ = true;
    return false;
  }
  written_ += bytes.size();
  return true;
}

bool FileReplacement::Commit() {
  if (failed_) return false;
  if (inPlace_) return CommitInPlace();
  if (handle_ == kNoHandle || files_.Sync(handle_) != Error::kNone || !file_.StillNamed()) {
    return false;
  }
  const Handle directory = file_.directory();
  Error error = file_.WaitWhileBusy([&] {
    SignalsHeld held(files_, SignalHold::kEnding);
    Error renamed = files_.Rename(directory, temporary_, handle_, file_.name());
    if (renamed == Error::kNone) {
      files_.RemoveOnSignal(directory, "", kNoHandle);
      temporary_.clear();
    }
    return renamed;
  });
  if (error == Error::kNone) {
    Discard();
    // The rename is done; a directory that cannot be synced (some file
    // systems refuse) does not undo it.
    files_.SyncDirectory(directory);
    return true;
  }
  // The file cannot be replaced (a file mounted over the name, another
  // user's file in a sticky directory) but may still be rewritten.
  if (!IsRefusal(error) || !ReadAll(files_, handle_, &content_)) return false;
  Discard();
  inPlace_ = true;
  return CommitInPlace();
}

bool FileReplacement::CommitInPlace() {
  const Handle file = file_.handle();
  // The exclusive lock keeps readers out until the new content is whole.
  Error locked =
      file_.WaitWhileBusy([&] { return files_.LockContent(file, ContentLock::kExclusive); });
  if (locked != Error::kNone && locked != Error::kUnsupported) return false;
  // The old content, to be put back if a write fails; and the room for the
  // new, so that a full disk, quota or size limit fails before any write.
  std::string old;
  Error reserved = Error::kIo;
  bool written = false;
  if (ReadAll(files_, file, &old) &&
      ((reserved = files_.Reserve(file, content_.size())) == Error::kNone ||
       reserved == Error::kUnsupported) &&
      file_.StillNamed()) {
    // From the first write to the sync, a signal would leave the file
    // neither old nor new.
    SignalsHeld held(files_, SignalHold::kAll);
    written = files_.WriteAt(file, 0, content_) == Error::kNone &&
              files_.Truncate(file, content_.size()) == Error::kNone &&
              files_.Sync(file) == Error::kNone;
    if (!written) {
      files_.WriteAt(file, 0, old);
      files_.Truncate(file, old.size());
      files_.Sync(file);
    }
  }
  files_.LockContent(file, ContentLock::kUnlock);
  return written;
}

void FileReplacement::Discard() {
  if (handle_ == kNoHandle) return;
  if (!temporary_.empty()) {
    SignalsHeld held(files_, SignalHold::kEnding);
    files_.Remove(file_.directory(), temporary_, handle_);
    files_.RemoveOnSignal(file_.directory(), "", kNoHandle);
    temporary_.clear();
  }
  files_.Close(handle_);
  handle_ = kNoHandle;
}

}  // namespace platform
