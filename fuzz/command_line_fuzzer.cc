// Any argument vector, split from the input at zero bytes: parsing never
// crashes and what it accepts keeps every rule of the command line.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "frontend/command_line.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

bool ValidValue(const std::string& value, const char* refused) {
  return value.size() <= 16 && value.find_first_of(refused) == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> arguments;
  std::string current;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      arguments.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (size > 0) arguments.push_back(current);
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  argv.push_back(nullptr);

  CommandLine command = ParseCommandLine(static_cast<int>(arguments.size()), argv.data());
  switch (command.outcome) {
    case ParseOutcome::kNoArguments:
      Require(arguments.size() <= 1);
      break;
    case ParseOutcome::kHelp:
    case ParseOutcome::kUsageError:
      break;
    case ParseOutcome::kRun: {
      Require(arguments.size() >= 2 && command.operation != Operation::kNone);
      Require(arguments[1] == "add" || arguments[1] == "remove" || arguments[1] == "check");
      Require(ValidValue(command.userName, std::string("?%:\n", 4).c_str()));
      Require(ValidValue(command.password, "?%"));
      Require(!command.replace || command.operation == Operation::kAdd);
      Require(command.operation != Operation::kRemove || command.password.empty());
      std::string path = PasswordFilePath(arguments[0]);
      Require(path.size() >= 4 && path.compare(path.size() - 4, 4, ".dat") == 0);
      Require(path.size() - 4 <= arguments[0].size());
      break;
    }
  }
  return 0;
}
