#include "frontend/import_run.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <new>
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
  bool exact = false;
  bool dryRun = false;
};

// FILE first, then -r, -d, --exact and -n in any order, each once; -h or
// -? wherever parsing reaches it. A FILE that begins with '-' is a usage
// error, so that a misplaced option is never taken for a file: "./-r" names
// such a file. --exact removes whom the list lacks, so a removal line means
// nothing beside it.
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
    bool* flag = argument == "-r"        ? &command.replace
                 : argument == "-d"      ? &command.removals
                 : argument == "--exact" ? &command.exact
                 : argument == "-n"      ? &command.dryRun
                                         : nullptr;
    if (i == 1 && !argument.empty() && argument[0] != '-') {
      command.path = argument;
    } else if (i == 1 || flag == nullptr || *flag) {
      return command;
    } else {
      *flag = true;
    }
  }
  if (!(command.exact && command.removals)) command.outcome = ParseOutcome::kRun;
  return command;
}

void PrintImportUsage() {
  static constexpr std::string_view kUsage[] = {
      "users-import - add, replace or remove many users of a password file",
      "Usage: users-import FILE [-r] [-d] [--exact] [-n]",
      "Reads standard input, one user a line:",
      "  name:password   adds the user; with -r, replaces the password of one who exists",
      "  name            with -d, removes the user",
      "--exact: the file is to hold just these users, with these passwords (not with -d).",
      "-n: checks and counts as ever, and writes nothing.",
      "Nothing is written unless every line can be applied, nor when nothing changes.",
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

// What the last line tells besides.
struct Report {
  UserBatch::Counts counts;
  bool written = false;
  std::uint64_t invalidFileLine = 0;  // of a file that could not be loaded for it
};

// The batch checked against the loaded file, and applied and saved where
// it changes the file and is not a dry run.
Ending CheckAndApply(const ImportCommand& command, UserList& list, UserBatch& batch,
                     std::vector<Problem>& problems, Report& report, bool changes) {
  std::vector<UserBatch::Fault> faults = batch.Check(list);
  for (const UserBatch::Fault& fault : faults) {
    LineProblem what = fault.problem == UserBatch::Problem::kNameTwice ? LineProblem::kNameTwice
                       : fault.problem == UserBatch::Problem::kExists  ? LineProblem::kExists
                                                                       : LineProblem::kMissing;
    problems.push_back({fault.line, what, fault.earlierLine});
  }
  if (!problems.empty()) return Ending::kProblems;
  if (!changes) return Ending::kImported;
  if (command.dryRun || !batch.planned().Changes()) {
    report.counts = batch.planned();
    return Ending::kImported;
  }
  // From the system's random source: users made within one second do not
  // share one salt.
  RandomSalts salts([](std::uint64_t* bits) {
    return platform::NativeSystem().Random(bits) == platform::Error::kNone;
  });
  if (!batch.Apply(list, salts, report.counts)) return Ending::kNoSalt;
  if (!list.Save(command.path)) return Ending::kUnableToSave;
  report.written = true;
  return Ending::kImported;
}

// The list's scope: the writers' turn from before the load until after the
// save, and gone before any output. A batch that cannot be applied is
// checked against the file all the same, read only, so that every problem
// is told in one run. A run that would leave the file as it is, or only
// tells (-n), still takes the turn, so that it tells of the file as it is,
// and then writes nothing.
Ending Import(const ImportCommand& command, UserBatch& batch, std::vector<Problem>& problems,
              Report& report) {
  UserList list;
  bool changes = problems.empty() && (batch.size() > 0 || command.exact);
  if (changes && !list.Lock(command.path)) return Ending::kBusy;
  // Out of memory ends an import as the step that ran out fails, with
  // nothing written: the list and a save's new file go on the way out.
  try {
    if (!list.Load(command.path)) {
      report.invalidFileLine = list.invalidLine();
      return Ending::kUnableToLoad;
    }
  } catch (const std::bad_alloc&) {
    return Ending::kUnableToLoad;
  }
  try {
    return CheckAndApply(command, list, batch, problems, report, changes);
  } catch (const std::bad_alloc&) {
    return Ending::kUnableToSave;
  }
}

// Reads the changes and makes them; the passwords are wiped before it
// returns.
Ending ReadAndImport(const ImportCommand& command, std::vector<Problem>& problems, Report& report) {
  UserBatch batch(command.replace, command.exact);
  std::setvbuf(stdin, inputBuffer, _IOFBF, sizeof inputBuffer);
  ReadImport(ReadStandardInput, command.removals, batch, problems);
  platform::Wipe(inputBuffer, sizeof inputBuffer);
  Ending ending = Import(command, batch, problems, report);
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

// A tool that applies a list tells from this line whether the file changed:
// it did unless the line ends in ", nothing written.".
std::string SummaryLine(const Report& report) {
  const UserBatch::Counts& counts = report.counts;
  return "Import successful: " + std::to_string(counts.added) + " added, " +
         std::to_string(counts.updated) + " updated, " + std::to_string(counts.removed) +
         " removed, " + std::to_string(counts.unchanged) + " unchanged" +
         (report.written ? "." : ", nothing written.");
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
  Report report;
  Ending ending = ReadAndImport(command, problems, report);
  for (const Problem& problem : problems) WriteLine(ProblemLine(problem));
  switch (ending) {
    case Ending::kImported:
      WriteLine(SummaryLine(report));
      return kSuccess;
    case Ending::kProblems:
      WriteLine("Import failed: " + std::to_string(problems.size()) +
                (problems.size() == 1 ? " problem" : " problems") + ", nothing written.");
      break;
    case Ending::kBusy:
      WriteLine("Import failed: the password file is busy, nothing written.");
      break;
    case Ending::kUnableToLoad:
      // By number only: the line holds a digest.
      if (report.invalidFileLine != 0) {
        WriteLine("Password file line " + std::to_string(report.invalidFileLine) +
                  ": not a record of three fields.");
      }
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
