#include "tests/program.h"

const char* const kUsage =
    "users - password file utility\n"
    "Usage: \n"
    "  users add [-r] -u <username> -p <password>\n"
    "  users remove -u <username>\n"
    "  users check -u <username> -p <password>\n"
    "\n"
    "Note:\n"
    " - Username and password cannot be blank or more than 16 character long.\n"
    " - Username and password cannot contain special character like '?', or '%', etc.\n"
    " - [-r] option: While adding user, if the optional -r flag is specified it will silently "
    "replace an existing entry.\n"
    "\n";

ChildResult Program::Run(const std::vector<std::string>& arguments, const ChildSetup& setup) const {
  std::vector<std::string> argv{argv0_};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return RunProgram(USERS_BINARY, argv, setup);
}
