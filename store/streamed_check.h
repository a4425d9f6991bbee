#ifndef USERS_STORE_STREAMED_CHECK_H_
#define USERS_STORE_STREAMED_CHECK_H_

#include <string>
#include <string_view>

#include "platform/system.h"

// One check of a name, and a password, against the password file, for those
// who open, check and close: the file is read once, front to back, through
// one buffer of a fixed size (larger only for a line longer than it), so
// that memory does not follow the file. Every line is judged by the load's
// rule and the first line of a name is the user's, so the answer is the one
// a load and a lookup would give: a malformed line anywhere makes the file
// unavailable.
struct StreamedCheck {
  enum class Answer { kMatch, kNoMatch, kUnknownUser, kUnavailable };
  // Why the file is unavailable.
  enum class Failure {
    kNone,
    kMissing,
    kDenied,
    kLinkRefused,
    kNotRegular,
    kMalformed,
    kBusy,
    kIo
  };

  Answer answer = Answer::kUnavailable;
  Failure failure = Failure::kNone;
};

// Checks `password` for `userName` in the file at `path`, reached as a load
// reaches it, under the readers' lock. An unknown name costs the digest work
// of a known one; an empty password never matches. Every byte made from the
// password is wiped before it returns.
StreamedCheck CheckInFile(const std::string& path, std::string_view userName,
                          std::string_view password,
                          platform::System& system = platform::NativeSystem());

// Whether `userName` is in the file: kMatch, kUnknownUser or kUnavailable.
StreamedCheck FindInFile(const std::string& path, std::string_view userName,
                         platform::System& system = platform::NativeSystem());

#endif  // USERS_STORE_STREAMED_CHECK_H_
