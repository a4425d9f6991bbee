#include "frontend/run.h"

#include <new>
#include <string>
#include <string_view>

#include "frontend/command_line.h"
#include "frontend/console.h"
#include "platform/platform.h"
#include "store/user_list.h"

namespace {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;

int UsageError(std::string_view line) {
  WriteLine(line);
  PrintUsage();
  return kFailure;
}

// How a run with the password file ends, told once the file is let go.
enum class Ending { kOperation, kUnableToLoad, kNeedUserAndPassword, kNeedUser };

// Loads the file and runs the one operation. The list holds the file, and a
// changing run the turn of the runs that change it, from before its load
// until after its save, so that runs at the same time cannot undo each
// other's change; and it is gone before any output, so that a console that
// stalls a write holds up no other run. The wait for the turn is bounded: a
// run that holds it for longer, or a reader of the file that takes it, costs
// this run a failure, not a hang.
Ending RunOperation(const CommandLine& command, const std::string& path, bool& succeeded,
                    std::string& message) {
  UserList list;
  bool changes = command.operation == Operation::kAdd || command.operation == Operation::kRemove;
  if (changes && !list.Lock(path)) {
    message = UserList::kSaveFailed;
    return Ending::kOperation;
  }
  // Out of memory ends a run as the step that ran out fails: the load, or
  // the change and its save. The list lets the file go on the way out, and
  // a save's new file goes with it, so nothing is written.
  try {
    if (!list.Load(path)) return Ending::kUnableToLoad;
  } catch (const std::bad_alloc&) {
    return Ending::kUnableToLoad;
  }
  bool namesBoth = !command.userName.empty() && !command.password.empty();
  if (command.operation == Operation::kRemove ? command.userName.empty() : !namesBoth) {
    return command.operation == Operation::kRemove ? Ending::kNeedUser
                                                   : Ending::kNeedUserAndPassword;
  }
  try {
    switch (command.operation) {
      case Operation::kAdd:
        succeeded = list.AddUser(command.userName, command.password, command.replace, message);
        break;
      case Operation::kRemove:
        succeeded = list.RemoveUser(command.userName, message);
        break;
      case Operation::kCheck:
        succeeded = list.CheckUser(command.userName, command.password, message);
        break;
      case Operation::kNone:
        break;
    }
  } catch (const std::bad_alloc&) {
    if (command.operation == Operation::kCheck) return Ending::kUnableToLoad;
    succeeded = false;
    message = UserList::kSaveFailed;
  }
  return Ending::kOperation;
}

}  // namespace

int Run(int argc, char** argv) {
  CommandLine command = ParseCommandLine(argc, argv);
  // A run that waits for the lock would show it for as long as it waits.
  platform::HideArgument(argc, argv, command.passwordArgument);
  switch (command.outcome) {
    case ParseOutcome::kNoArguments:
      PrintUsage();
      return kFailure;
    case ParseOutcome::kHelp:
      PrintUsage();
      return kSuccess;
    case ParseOutcome::kUsageError:
      return UsageError("Invalid Usage:");
    case ParseOutcome::kRun:
      break;
  }

  std::string path = PasswordFilePath(argv[0] != nullptr ? argv[0] : "");
  bool succeeded = false;
  std::string message;
  switch (RunOperation(command, path, succeeded, message)) {
    case Ending::kUnableToLoad:
      WriteLine("Unable to load password file 'users.dat'");
      return kFailure;
    case Ending::kNeedUserAndPassword:
      return UsageError("Invalid Usage: need to specify username and password for this operation.");
    case Ending::kNeedUser:
      return UsageError("Invalid Usage: need to specify username for this operation.");
    case Ending::kOperation:
      break;
  }
  PrintResult(succeeded, message);
  return succeeded ? kSuccess : kFailure;
}
