#ifndef USERS_FRONTEND_COMMAND_LINE_H_
#define USERS_FRONTEND_COMMAND_LINE_H_

#include <cstddef>
#include <string>
#include <string_view>

enum class Operation { kNone, kAdd, kRemove, kCheck };

// How the run goes on after the arguments were read.
enum class ParseOutcome {
  kRun,          // an operation was accepted
  kHelp,         // -h or -?: the usage text, exit 0
  kNoArguments,  // nothing but the program's path: the usage text, exit 1
  kUsageError,   // "Invalid Usage:", the usage text, exit 1
};

// The parsed arguments. The password is wiped when the object ends.
struct CommandLine {
  CommandLine() = default;
  CommandLine(const CommandLine&) = default;
  CommandLine& operator=(const CommandLine&) = default;
  ~CommandLine();

  ParseOutcome outcome = ParseOutcome::kUsageError;
  Operation operation = Operation::kNone;
  bool replace = false;
  std::string userName;
  std::string password;
  // The index in argv of the argument behind -p, valid or not; 0 for none.
  int passwordArgument = 0;
};

// The rules for user names and passwords, wherever they come from: at most
// 16 bytes, no '?' or '%' (nor a zero byte, which no argument can hold but
// other input may); a name also no ':' or line feed, which the password
// file cannot carry. An empty value passes: whoever needs one
// says so.
constexpr std::size_t kMaxValueLength = 16;
bool ValidUserName(std::string_view value);
bool ValidPassword(std::string_view value);

// Reads and validates the arguments: the operation word only as the first
// argument, then -r, -u NAME, -p PASSWORD in any order. Names and passwords
// are at most 16 bytes and hold no '?' or '%'; a name also no ':' or line
// feed, which the password file cannot carry. A value is copied only once
// it has passed these checks. Never touches a file.
CommandLine ParseCommandLine(int argc, const char* const* argv);

// The password file's path: the program's path with its last ".exe" and all
// behind it cut off, and ".dat" appended.
std::string PasswordFilePath(std::string_view programPath);

#endif  // USERS_FRONTEND_COMMAND_LINE_H_
