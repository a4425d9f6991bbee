#include "frontend/run.h"

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

  // A changing run holds the file from before its load until after its
  // save, so that runs at the same time cannot undo each other's change.
  // A missing file is left to the load to report. The lock is let go before
  // any output, so that a console that stalls a write holds up no other run.
  // The wait for the lock is bounded: a run that holds it for longer, or a
  // reader of the file that takes it, costs this run a failure, not a hang.
  platform::FileLock lock;
  if ((command.operation == Operation::kAdd || command.operation == Operation::kRemove) &&
      lock.Acquire(path) == platform::FileLock::Outcome::kBusy) {
    PrintResult(false, UserList::kSaveFailed);
    return kFailure;
  }

  UserList list;
  if (!list.Load(path)) {
    lock.Release();
    WriteLine("Unable to load password file 'users.dat'");
    return kFailure;
  }

  std::string message;
  bool succeeded = false;
  switch (command.operation) {
    case Operation::kAdd:
      if (command.userName.empty() || command.password.empty()) {
        lock.Release();
        return UsageError(
            "Invalid Usage: need to specify username and password for this operation.");
      }
      succeeded = list.AddUser(command.userName, command.password, command.replace, message);
      break;
    case Operation::kRemove:
      if (command.userName.empty()) {
        lock.Release();
        return UsageError("Invalid Usage: need to specify username for this operation.");
      }
      succeeded = list.RemoveUser(command.userName, message);
      break;
    case Operation::kCheck:
      if (command.userName.empty() || command.password.empty()) {
        return UsageError(
            "Invalid Usage: need to specify username and password for this operation.");
      }
      succeeded = list.CheckUser(command.userName, command.password, message);
      break;
    case Operation::kNone:
      break;
  }
  lock.Release();
  PrintResult(succeeded, message);
  return succeeded ? kSuccess : kFailure;
}
