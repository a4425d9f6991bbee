#include "frontend/import_run.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "digest/salt.h"
#include "frontend/command_line.h"
#include "frontend/console.h"
#include "frontend/import_input.h"
#include "platform/platform.h"
#include "platform/system.h"
#include "store/user_batch.h"
#include "store/user_list.h"

namespace {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;

struct ImportCommand {
  ParseOutcome outcome = ParseOutcome::kUsageError;
  std::string path;
  bool replace = false;
  bool removals = false;
};

// FILE first, then -r and -d in any order, each once; -h or -? wherever
// parsing reaches it. A FILE that begins with '-' is a usage error, so that
// a misplaced option is never taken for a file: "./-r" names such a file.
ImportCommand ParseImportCommandLine(int argc, const char* const* argv) {
  ImportCommand command;
  if (argc <= 1 || argv == nullptr) {
    command.outcome = ParseOutcome::kNoArguments;
    return command;
  }
  for (int i = 1; i < argc; ++i) {
    std::string_view argument = argv[i] != nullptr ? argv[i] : "";
    if (argument == "-h" || argument == "-?") {
      command.outcome = ParseOutcome::kHelp;
      return command;
    }
    bool* flag = argument == "-r"   ? &command.replace
                 : argument == "-d" ? &command.removals
                                    : nullptr;
    if (i == 1 && !argument.empty() && argument[0] != '-') {
      command.path = argument;
    } else if (i == 1 || flag == nullptr || *flag) {
      return command;
    } else {
      *flag = true;
    }
  }
  command.outcome = ParseOutcome::kRun;
  return command;
}

void PrintImportUsage() {
  static constexpr std::string_view kUsage[] = {
      "users-import - add, replace or remove many users of a password file",
      "Usage: users-import FILE [-r] [-d]",
      "Reads standard input, one user a line:",
      "  name:password   adds the user; with -r, replaces the password of one who exists",
      "  name            with -d, removes the user",
      "Nothing is written unless every line can be applied.",
  };
  for (std::string_view line : kUsage) WriteLine(line);
}

// Standard input goes through this buffer, so that what the C library held
// of it can be wiped as well.
char inputBuffer[4096];

std::ptrdiff_t ReadStandardInput(char* buffer, std::size_t capacity) {
  std::size_t count = std::fread(buffer, 1, capacity, stdin);
  if (count == 0 && std::ferror(stdin) != 0) return -1;
  return static_cast<std::ptrdiff_t>(count);
}

// How an import ends, told once the file is let go.
enum class Ending { kImported, kProblems, kBusy, kUnableToLoad, kNoSalt, kUnableToSave };

// The list's scope: the writers' turn from before the load until after the
// save, and gone before any output. A batch that cannot be applied is
// checked against the file all the same, read only, so that every problem
// is told in one run.
Ending Import(const std::string& path, UserBatch& batch, std::vector<Problem>& problems,
              UserBatch::Counts& counts) {
  UserList list;
  bool changes = problems.empty() && batch.size() > 0;
  if (changes && !list.Lock(path)) return Ending::kBusy;
  if (!list.Load(path)) return Ending::kUnableToLoad;
  std::vector<UserBatch::Fault> faults = batch.Check(list);
  for (const UserBatch::Fault& fault : faults) {
    LineProblem what = fault.problem == UserBatch::Problem::kNameTwice ? LineProblem::kNameTwice
                       : fault.problem == UserBatch::Problem::kExists  ? LineProblem::kExists
                                                                       : LineProblem::kMissing;
    problems.push_back({fault.line, what, fault.earlierLine});
  }
  if (!problems.empty()) return Ending::kProblems;
  if (!changes) return Ending::kImported;
  // From the system's random source: users made within one second do not
  // share one salt.
  RandomSalts salts([](std::uint64_t* bits) {
    return platform::NativeSystem().Random(bits) == platform::Error::kNone;
  });
  if (!batch.Apply(list, salts, counts)) return Ending::kNoSalt;
  return list.Save(path) ? Ending::kImported : Ending::kUnableToSave;
}

// Reads the changes and makes them; the passwords are wiped before it
// returns.
Ending ReadAndImport(const ImportCommand& command, std::vector<Problem>& problems,
                     UserBatch::Counts& counts) {
  UserBatch batch(command.replace);
  std::setvbuf(stdin, inputBuffer, _IOFBF, sizeof inputBuffer);
  ReadImport(ReadStandardInput, command.removals, batch, problems);
  platform::Wipe(inputBuffer, sizeof inputBuffer);
  Ending ending = Import(command.path, batch, problems, counts);
  // Problems of one line stand in the order found.
  std::stable_sort(problems.begin(), problems.end(),
                   [](const Problem& a, const Problem& b) { return a.line < b.line; });
  return ending;
}

std::string ProblemLine(const Problem& problem) {
  std::string line = "Line " + std::to_string(problem.line) + ": ";
  switch (problem.what) {
    case LineProblem::kNoColon:
      return line + "no ':' between user name and password.";
    case LineProblem::kInvalidName:
      return line + "invalid user name.";
    case LineProblem::kInvalidPassword:
      return line + "invalid password.";
    case LineProblem::kTooLong:
      return line + "too long; the input was not read further.";
    case LineProblem::kTooManyLines:
      return line + "more than " + std::to_string(kMaxImportLines) +
             " lines; the input was not read further.";
    case LineProblem::kReadError:
      return line + "read error; the input was not read further.";
    case LineProblem::kNameTwice:
      return line + "user also on line " + std::to_string(problem.earlierLine) + ".";
    case LineProblem::kExists:
      return line + "user already exists.";
    case LineProblem::kMissing:
      return line + "user not found.";
  }
  return line;
}

}  // namespace

int RunImport(int argc, char** argv) {
  ImportCommand command = ParseImportCommandLine(argc, argv);
  switch (command.outcome) {
    case ParseOutcome::kNoArguments:
      PrintImportUsage();
      return kFailure;
    case ParseOutcome::kHelp:
      PrintImportUsage();
      return kSuccess;
    case ParseOutcome::kUsageError:
      WriteLine("Invalid Usage:");
      PrintImportUsage();
      return kFailure;
    case ParseOutcome::kRun:
      break;
  }

  std::vector<Problem> problems;
  UserBatch::Counts counts;
  Ending ending = ReadAndImport(command, problems, counts);
  for (const Problem& problem : problems) WriteLine(ProblemLine(problem));
  switch (ending) {
    case Ending::kImported:
      WriteLine("Import successful: " + std::to_string(counts.added) + " added, " +
                std::to_string(counts.updated) + " updated, " + std::to_string(counts.removed) +
                " removed.");
      return kSuccess;
    case Ending::kProblems:
      WriteLine("Import failed: " + std::to_string(problems.size()) +
                (problems.size() == 1 ? " problem" : " problems") + ", nothing written.");
      break;
    case Ending::kBusy:
      WriteLine("Import failed: the password file is busy, nothing written.");
      break;
    case Ending::kUnableToLoad:
      WriteLine("Import failed: unable to load the password file, nothing written.");
      break;
    case Ending::kNoSalt:
      WriteLine("Import failed: no random salt, nothing written.");
      break;
    case Ending::kUnableToSave:
      WriteLine("Import failed: unable to update the password file, nothing written.");
      break;
  }
  return kFailure;
}
