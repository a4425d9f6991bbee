#include "library/loaded_users.h"

#include <chrono>

#include "digest/password_digest.h"
#include "platform/platform.h"

namespace {

// What an unknown name is checked against, so that it costs what a known
// one does: a salt and a digest of the lengths the program makes.
constexpr std::string_view kNoSalt = "AAAAAA==";
constexpr std::string_view kNoDigest = "AAAAAAAAAAAAAAAAAAAAAA==";

// A file written less than one step of its file system's time stamps
// before its load may have been written again since with the same size and
// the same time. Times with fractions of a second come in clock ticks; times
// in whole seconds may be two seconds apart (FAT).
std::int64_t TimeStampStep(std::int64_t modified) {
  constexpr std::int64_t kSecond = 1'000'000'000;
  return modified % kSecond != 0 ? kSecond / 20 : 2 * kSecond;
}

std::int64_t Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

bool LoadedUsers::Load(const std::string& path) {
  // What was loaded goes first: never two files in memory at once, and
  // nothing left to answer from should this load fail.
  index_.reset();
  list_.reset();
  loadStarted_ = Now();
  auto list = std::make_unique<UserList>();
  if (!list->Load(path)) return false;
  index_.emplace(*list);
  list_ = std::move(list);
  return true;
}

bool LoadedUsers::Current() const {
  return list_ != nullptr && list_->StillLoaded() &&
         list_->loadedFile().modified < loadStarted_ - TimeStampStep(list_->loadedFile().modified);
}

users_result LoadedUsers::Check(std::string_view name, std::string_view password) const {
  if (list_ == nullptr) return USERS_UNAVAILABLE;
  auto record = index_->Find(name);
  bool known = record != list_->records.end();
  // The list's snapshot is read only: checks from many threads read it at
  // once, and none reads the file.
  RecordFields fields = known ? list_->FieldsOf(*record) : RecordFields{name, kNoSalt, kNoDigest};
  std::string computed = ComputeDigest(name, fields.salt, password);
  bool equal = DigestsEqual(computed, fields.digest);
  platform::Wipe(computed);
  if (!known) return USERS_UNKNOWN_USER;
  // The program never stores an empty password; a file edited to hold the
  // digest of one must not let anyone in without one.
  return equal && !password.empty() ? USERS_OK : USERS_NO_MATCH;
}

users_result LoadedUsers::Find(std::string_view name) const {
  if (list_ == nullptr) return USERS_UNAVAILABLE;
  return index_->Find(name) != list_->records.end() ? USERS_OK : USERS_UNKNOWN_USER;
}
