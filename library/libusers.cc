// The C interface: every call is a boundary that no exception crosses, and
// every failure, running out of memory included, answers USERS_UNAVAILABLE
// with errno saying why.

#include "library/libusers.h"

#include <cerrno>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "library/loaded_users.h"
#include "library/path_writers.h"
#include "store/streamed_check.h"

namespace {

// The users of a handle as one load left them: never changed once made, so
// that checks read them without a lock while a reload makes the next.
struct Loaded {
  LoadedUsers users;
  int failure = 0;  // errno when the file could not be loaded
};

int ErrnoOf(StreamedCheck::Failure failure) {
  using Failure = StreamedCheck::Failure;
  switch (failure) {
    case Failure::kMissing:
      return ENOENT;
    case Failure::kDenied:
      return EACCES;
    case Failure::kLinkRefused:
      return ELOOP;
    case Failure::kNotRegular:
      return ENODEV;
    case Failure::kMalformed:
      return EBADMSG;
    case Failure::kBusy:
      return EBUSY;
    case Failure::kNone:
    case Failure::kIo:
      break;
  }
  return EIO;
}

users_result Unavailable(int reason) {
  errno = reason;
  return USERS_UNAVAILABLE;
}

users_result ResultOf(const StreamedCheck& check) {
  switch (check.answer) {
    case StreamedCheck::Answer::kMatch:
      return USERS_OK;
    case StreamedCheck::Answer::kNoMatch:
      return USERS_NO_MATCH;
    case StreamedCheck::Answer::kUnknownUser:
      return USERS_UNKNOWN_USER;
    case StreamedCheck::Answer::kUnavailable:
      break;
  }
  return Unavailable(ErrnoOf(check.failure));
}

std::shared_ptr<const Loaded> Load(const std::string& path) {
  auto loaded = std::make_shared<Loaded>();
  if (!loaded->users.Load(path)) {
    // The load says only that it failed: one pass over the file says why.
    // Read well this time, it was changed meanwhile.
    StreamedCheck again = FindInFile(path, std::string_view());
    loaded->failure =
        again.answer == StreamedCheck::Answer::kUnavailable ? ErrnoOf(again.failure) : EIO;
  }
  return loaded;
}

}  // namespace

struct users_file {
  std::string path;
  std::mutex reloading;  // one reload at a time
  // The users now: a check takes its own reference, so that a reload may
  // put others in their place meanwhile. Null after memory ran out.
  mutable std::mutex swapping;
  std::shared_ptr<const Loaded> loaded;

  std::shared_ptr<const Loaded> Now() const {
    std::lock_guard<std::mutex> guard(swapping);
    return loaded;
  }
  void Replace(std::shared_ptr<const Loaded> next) {
    std::lock_guard<std::mutex> guard(swapping);
    loaded.swap(next);
    // The old users go here, outside the lock, or with the last check.
  }
};

users_result users_open(const char* path, users_file** file) {
  if (file == nullptr) return Unavailable(EINVAL);
  *file = nullptr;
  if (path == nullptr) return Unavailable(EINVAL);
  try {
    auto opened = std::make_unique<users_file>();
    opened->path = path;
    opened->loaded = Load(opened->path);
    if (opened->loaded->failure != 0) return Unavailable(opened->loaded->failure);
    *file = opened.release();
    return USERS_OK;
  } catch (...) {
    return Unavailable(ENOMEM);
  }
}

users_result users_check(const users_file* file, const char* name, const char* password) {
  if (file == nullptr || name == nullptr || password == nullptr) return Unavailable(EINVAL);
  try {
    std::shared_ptr<const Loaded> loaded = file->Now();
    if (loaded == nullptr) return Unavailable(ENOMEM);
    if (loaded->failure != 0) return Unavailable(loaded->failure);
    return loaded->users.Check(name, password);
  } catch (...) {
    return Unavailable(ENOMEM);
  }
}

users_result users_find(const users_file* file, const char* name) {
  if (file == nullptr || name == nullptr) return Unavailable(EINVAL);
  try {
    std::shared_ptr<const Loaded> loaded = file->Now();
    if (loaded == nullptr) return Unavailable(ENOMEM);
    if (loaded->failure != 0) return Unavailable(loaded->failure);
    return loaded->users.Find(name);
  } catch (...) {
    return Unavailable(ENOMEM);
  }
}

users_result users_reload(users_file* file) {
  if (file == nullptr) return Unavailable(EINVAL);
  try {
    std::lock_guard<std::mutex> turn(file->reloading);
    std::shared_ptr<const Loaded> now = file->Now();
    if (now != nullptr && now->failure == 0 && now->users.Current()) return USERS_OK;
    now.reset();
    std::shared_ptr<const Loaded> next = Load(file->path);
    int failure = next->failure;
    file->Replace(std::move(next));
    return failure == 0 ? USERS_OK : Unavailable(failure);
  } catch (...) {
    // The file changed, and what the handle holds is not it: fail closed
    // until a reload succeeds. Dropping a reference allocates nothing.
    file->Replace(nullptr);
    return Unavailable(ENOMEM);
  }
}

void users_close(users_file* file) { delete file; }

users_result users_check_file(const char* path, const char* name, const char* password) {
  if (path == nullptr || name == nullptr || password == nullptr) return Unavailable(EINVAL);
  try {
    return ResultOf(CheckInFile(path, name, password));
  } catch (...) {
    return Unavailable(ENOMEM);
  }
}

users_result users_find_file(const char* path, const char* name) {
  if (path == nullptr || name == nullptr) return Unavailable(EINVAL);
  try {
    return ResultOf(FindInFile(path, name));
  } catch (...) {
    return Unavailable(ENOMEM);
  }
}

users_result users_check_path(const char* path) {
  if (path == nullptr) return Unavailable(EINVAL);
  try {
    switch (WhoMayWrite(path)) {
      case PathWriters::kOwners:
        return USERS_OK;
      case PathWriters::kOthers:
        return Unavailable(EPERM);
      case PathWriters::kMissing:
        return Unavailable(ENOENT);
      case PathWriters::kDenied:
        return Unavailable(EACCES);
      case PathWriters::kUnknown:
        break;
    }
    return Unavailable(EIO);
  } catch (...) {
    return Unavailable(ENOMEM);
  }
}
