#include "frontend/command_line.h"

#include <cstddef>

#include "platform/platform.h"

namespace {

bool ValidValue(std::string_view value, std::string_view refused) {
  return value.size() <= kMaxValueLength && value.find_first_of(refused) == std::string_view::npos;
}

// Takes the value behind -u or -p. False for a usage error. The value is
// checked before it is copied, so that a refused password leaves no copy.
bool TakeValue(int argc, const char* const* argv, int& i, std::string& value,
               bool (*valid)(std::string_view)) {
  if (i + 1 >= argc || !value.empty()) return false;
  ++i;
  std::string_view argument = argv[i] != nullptr ? argv[i] : "";
  if (!valid(argument)) return false;
  value = argument;
  return true;
}

// False for a usage error; `help` is set for -h and -?.
bool ParseArguments(int argc, const char* const* argv, CommandLine& command, bool& help) {
  for (int i = 1; i < argc; ++i) {
    std::string_view argument = argv[i] != nullptr ? argv[i] : "";
    if (i == 1 && argument == "add") {
      command.operation = Operation::kAdd;
    } else if (i == 1 && argument == "remove") {
      command.operation = Operation::kRemove;
    } else if (i == 1 && argument == "check") {
      command.operation = Operation::kCheck;
    } else if (argument == "-r") {
      if (command.replace) return false;
      command.replace = true;
    } else if (argument == "-u") {
      if (!TakeValue(argc, argv, i, command.userName, ValidUserName)) return false;
    } else if (argument == "-p") {
      if (i + 1 < argc) command.passwordArgument = i + 1;
      if (!TakeValue(argc, argv, i, command.password, ValidPassword)) return false;
    } else if (argument == "-?" || argument == "-h") {
      help = true;
      return true;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

bool ValidUserName(std::string_view value) {
  // ':' separates the fields of the password file and a line feed its
  // lines; a name that holds either could never be read back. A zero byte,
  // which no argument holds but other input may, would end the digest's
  // input there.
  return ValidValue(value, std::string_view("?%:\n\0", 5));
}

bool ValidPassword(std::string_view value) {
  return ValidValue(value, std::string_view("?%\0", 3));
}

CommandLine::~CommandLine() { platform::Wipe(password); }

CommandLine ParseCommandLine(int argc, const char* const* argv) {
  CommandLine command;
  // An empty vector (a start through exec without arguments) counts as a
  // start without arguments.
  if (argc <= 1 || argv == nullptr) {
    command.outcome = ParseOutcome::kNoArguments;
    return command;
  }
  bool help = false;
  bool parsed = ParseArguments(argc, argv, command, help);
  if (help) {
    command.outcome = ParseOutcome::kHelp;
  } else if (!parsed || command.operation == Operation::kNone ||
             (command.operation == Operation::kRemove &&
              (command.replace || !command.password.empty())) ||
             (command.operation == Operation::kCheck && command.replace)) {
    command.outcome = ParseOutcome::kUsageError;
  } else {
    command.outcome = ParseOutcome::kRun;
  }
  return command;
}

std::string PasswordFilePath(std::string_view programPath) {
  std::string path(programPath);
  std::string::size_type extension = path.rfind(".exe");
  if (extension != std::string::npos) path.erase(extension);
  return path + ".dat";
}
