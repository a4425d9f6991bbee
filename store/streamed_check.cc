#include "store/streamed_check.h"

#include <optional>

#include "digest/password_digest.h"
#include "platform/platform.h"
#include "safe_file/held_file.h"
#include "store/line_reader.h"
#include "store/record_lines.h"
#include "store/user_list.h"

namespace {

using Answer = StreamedCheck::Answer;
using Failure = StreamedCheck::Failure;

// What an unknown name is checked against, so that it costs what a known
// one does: a salt and a digest of the lengths the program makes.
constexpr std::string_view kNoSalt = "AAAAAA==";
constexpr std::string_view kNoDigest = "AAAAAAAAAAAAAAAAAAAAAA==";

Failure FailureOf(safe_file::HeldFile::Failure failure) {
  using Held = safe_file::HeldFile::Failure;
  switch (failure) {
    case Held::kMissing:
      return Failure::kMissing;
    case Held::kDenied:
      return Failure::kDenied;
    case Held::kLinkRefused:
      return Failure::kLinkRefused;
    case Held::kNotRegular:
      return Failure::kNotRegular;
    case Held::kBusy:
      return Failure::kBusy;
    case Held::kNone:
    case Held::kIo:
      break;
  }
  return Failure::kIo;
}

// The user's salt and digest, when the file has the user; or why the file
// could not be read.
struct Found {
  bool known = false;
  std::string salt;
  std::string digest;
  Failure failure = Failure::kNone;
};

Found Scan(const std::string& path, std::string_view userName, platform::System& system) {
  Found found;
  safe_file::HeldFile file(system);
  if (file.Open(path, safe_file::HeldFile::Purpose::kRead) != safe_file::HeldFile::Outcome::kOpen) {
    found.failure = FailureOf(file.failure());
    return found;
  }
  bool malformed = false;
  // The load's rule: a line of no field is skipped, one of three is a
  // record, any other spoils the file.
  auto take = [&](std::string_view, std::size_t, const UserList::Fields& fields) {
    if (fields.count != 3) {
      malformed = fields.count != 0;
      return !malformed;
    }
    if (!found.known && fields.first[0] == userName) {
      found.known = true;
      found.salt = fields.first[1];
      found.digest = fields.first[2];
    }
    return true;
  };
  LineReader reader(
      [&file](char* buffer, std::size_t capacity) { return file.Read(buffer, capacity); },
      file.SizeHint());
  std::size_t searched = 0;
  bool read = reader.ForEachBlock(
      [&](std::string_view bytes, std::size_t& begin) {
        return ForEachRecordLineSoFar(bytes, begin, searched, take);
      },
      [&](std::string_view line) { return TakeLastLine(line, 0, take); });
  // A file written while it was read was not read as any one state of it.
  if (!read || !file.Unchanged()) {
    found.known = false;
    found.failure = malformed ? Failure::kMalformed : Failure::kIo;
  }
  return found;
}

}  // namespace

StreamedCheck CheckInFile(const std::string& path, std::string_view userName,
                          std::string_view password, platform::System& system) {
  Found found = Scan(path, userName, system);
  if (found.failure != Failure::kNone) return {Answer::kUnavailable, found.failure};
  // The same work for a name the file lacks.
  std::string computed = ComputeDigest(userName, found.known ? found.salt : kNoSalt, password);
  bool equal = DigestsEqual(computed, found.known ? std::string_view(found.digest) : kNoDigest);
  platform::Wipe(computed);
  if (!found.known) return {Answer::kUnknownUser, Failure::kNone};
  // The program never stores an empty password; a file edited to hold the
  // digest of one must not let anyone in without one.
  return {equal && !password.empty() ? Answer::kMatch : Answer::kNoMatch, Failure::kNone};
}

StreamedCheck FindInFile(const std::string& path, std::string_view userName,
                         platform::System& system) {
  Found found = Scan(path, userName, system);
  if (found.failure != Failure::kNone) return {Answer::kUnavailable, found.failure};
  return {found.known ? Answer::kMatch : Answer::kUnknownUser, Failure::kNone};
}
