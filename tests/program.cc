#include "tests/program.h"

#include <fcntl.h>

#include <filesystem>

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

namespace {

const std::string& ReachableCopy() {
  static const TempDir dir(TempDir::Use::kPrograms);
  static const std::string copy = [] {
    std::string path = dir.File("users");
    std::filesystem::copy_file(USERS_BINARY, path);
    std::filesystem::permissions(path, std::filesystem::perms{0755});
    return path;
  }();
  return copy;
}

}  // namespace

std::string WhyNobodyCannotRun() {
  if (!RunningAsRoot()) return "";
  if (!TempDir::OthersCanReach(TempDir::Use::kPrograms)) {
    return "no scratch directory that user nobody can enter and run programs in: "
           "set TMPDIR to one";
  }
  return "";
}

bool LockWholeFile(int fd, short type) {
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

ChildResult Program::Run(const std::vector<std::string>& arguments, const ChildSetup& setup) const {
  std::vector<std::string> argv{argv0_};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  bool dropsRoot = setup.asNobody && RunningAsRoot();
  return RunProgram(dropsRoot ? ReachableCopy() : std::string(USERS_BINARY), argv, setup);
}
