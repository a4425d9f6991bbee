#include "platform/held_file.h"

#include "platform/wait.h"

namespace platform {

namespace {

// A name that another run renames between a look at it and its open is
// looked at again, a bounded number of times.
constexpr int kOpenTries = 100;

HeldFile::Outcome FailedWith(Error error) {
  return error == Error::kBusy ? HeldFile::Outcome::kBusy : HeldFile::Outcome::kUnavailable;
}

}  // namespace

HeldFile::Outcome HeldFile::Open(const std::string& path, Purpose purpose) {
  Close();
  path_ = path;
  purpose_ = purpose;
  Outcome outcome = Outcome::kUnavailable;
  if (files_.OpenDirectory(path, &directory_, &name_) == Error::kNone) outcome = OpenNamed(purpose);
  if (outcome != Outcome::kOpen) Close();
  return outcome;
}

HeldFile::Outcome HeldFile::OpenNamed(Purpose purpose) {
  for (int attempt = 0; attempt < kOpenTries; ++attempt) {
    // The type first, without opening: a device may act on an open.
    FileInfo named;
    if (files_.Inspect(directory_, name_, &named) != Error::kNone ||
        named.type != FileType::kRegular) {
      return Outcome::kUnavailable;
    }
    writable_ = purpose == Purpose::kChange;
    auto open = [&](Access access) {
      return WaitWhileBusy([&] { return files_.Open(directory_, name_, access, &handle_); });
    };
    Error error = open(writable_ ? Access::kReadWrite : Access::kRead);
    if (writable_ && (error == Error::kDenied || error == Error::kReadOnly)) {
      // Loaded all the same; its save then fails with nothing written.
      writable_ = false;
      error = open(Access::kRead);
    }
    if (error == Error::kMissing) continue;  // renamed away since the look
    if (error != Error::kNone) return FailedWith(error);
    if (files_.Describe(handle_, &info_) != Error::kNone) return Outcome::kUnavailable;
    if (info_.type != FileType::kRegular || !SameFile(info_, named)) {
      CloseFile();
      continue;
    }

    if (purpose == Purpose::kRead) {
      error = WaitWhileBusy([&] { return files_.LockContent(handle_, ContentLock::kShared); });
    } else if (writable_) {
      error = WaitWhileBusy([&] { return files_.TakeTurn(handle_, &turn_); });
    }
    // Without locks on this file system, runs go on unlocked, as they must.
    if (error == Error::kUnsupported) error = Error::kNone;
    if (error != Error::kNone) return FailedWith(error);
    // A run that held the turn before may have replaced the file: then the
    // turn is taken again, on the file that the name holds now.
    if (purpose == Purpose::kRead || StillNamed()) return Outcome::kOpen;
    CloseFile();
  }
  return Outcome::kUnavailable;
}

void HeldFile::Close() {
  CloseFile();
  if (directory_ != kNoHandle) files_.Close(directory_);
  directory_ = kNoHandle;
}

void HeldFile::CloseFile() {
  for (Handle* handle : {&turn_, &handle_}) {
    if (*handle != kNoHandle) files_.Close(*handle);
    *handle = kNoHandle;
  }
  info_ = FileInfo();
  readOffset_ = 0;
}

std::ptrdiff_t HeldFile::Read(char* buffer, std::size_t capacity) {
  std::size_t count = 0;
  if (files_.ReadAt(handle_, readOffset_, buffer, capacity, &count) != Error::kNone) return -1;
  readOffset_ += count;
  return static_cast<std::ptrdiff_t>(count);
}

bool HeldFile::StillNamed() const {
  FileInfo named;
  return files_.Inspect(directory_, name_, &named) == Error::kNone &&
         named.type == FileType::kRegular && SameFile(named, info_);
}

}  // namespace platform
