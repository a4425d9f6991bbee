#ifndef USERS_FRONTEND_IMPORT_INPUT_H_
#define USERS_FRONTEND_IMPORT_INPUT_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "frontend/command_line.h"
#include "store/line_reader.h"
#include "store/user_batch.h"

// What is wrong with a line of the input of users-import.
enum class LineProblem {
  kNoColon,          // no ':' between name and password (a bare name only removes, with -d)
  kInvalidName,      // not a name that `users` takes
  kInvalidPassword,  // not a password that `users` takes
  kTooLong,          // longer than any valid line: the input was not read further
  kTooManyLines,     // the input was not read further
  kReadError,        // the input could not be read further
  kNameTwice,        // the name of an earlier line
  kExists,           // an add of a user who exists, without -r
  kMissing,          // a removal of a user who does not exist
};

struct Problem {
  std::uint64_t line;
  LineProblem what;
  std::uint64_t earlierLine = 0;  // for kNameTwice
};

// The longest line that can be valid: a name, ':', a password and a CR.
constexpr std::size_t kMaxImportLineLength = 2 * kMaxValueLength + 2;
// More lines than this end the reading: an endless input gets an answer.
constexpr std::uint64_t kMaxImportLines = 10'000'000;

// Reads the input of users-import, one change a line: "name:password"
// (split at the first ':') adds the user, or with the batch's replace sets
// the password of one who exists; with `removals`, a bare "name" removes
// the user. Names and passwords follow the rules of `users`. A line may end
// in CR LF; an empty line is skipped. Each valid line goes to `batch`, each
// fault of a line to `problems`, in line order. Reading stops at a line too
// long to be valid (so that a line without an end costs bounded memory),
// at line kMaxImportLines + 1, or at a read error. The bytes read are
// wiped.
void ReadImport(const LineReader::ReadFunction& read, bool removals, UserBatch& batch,
                std::vector<Problem>& problems);

#endif  // USERS_FRONTEND_IMPORT_INPUT_H_
