// The C interface: every call is a boundary that no exception crosses, and
// every failure, running out of memory included, answers USERS_UNAVAILABLE.

#include "library/libusers.h"

#include <memory>
#include <string>

#include "library/loaded_users.h"

struct users_file {
  std::string path;
  LoadedUsers users;
};

users_result users_open(const char* path, users_file** file) {
  if (file == nullptr) return USERS_UNAVAILABLE;
  *file = nullptr;
  if (path == nullptr) return USERS_UNAVAILABLE;
  try {
    auto opened = std::make_unique<users_file>();
    opened->path = path;
    if (!opened->users.Load(opened->path)) return USERS_UNAVAILABLE;
    *file = opened.release();
    return USERS_OK;
  } catch (...) {
    return USERS_UNAVAILABLE;
  }
}

users_result users_check(const users_file* file, const char* name, const char* password) {
  if (file == nullptr || name == nullptr || password == nullptr) return USERS_UNAVAILABLE;
  try {
    return file->users.Check(name, password);
  } catch (...) {
    return USERS_UNAVAILABLE;
  }
}

users_result users_find(const users_file* file, const char* name) {
  if (file == nullptr || name == nullptr) return USERS_UNAVAILABLE;
  return file->users.Find(name);
}

users_result users_reload(users_file* file) {
  if (file == nullptr) return USERS_UNAVAILABLE;
  try {
    if (file->users.Current()) return USERS_OK;
    return file->users.Load(file->path) ? USERS_OK : USERS_UNAVAILABLE;
  } catch (...) {
    // A load that ran out of memory has already let go of the old users.
    return USERS_UNAVAILABLE;
  }
}

void users_close(users_file* file) { delete file; }
