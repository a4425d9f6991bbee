#include "frontend/console.h"

#include <cstdio>
#include <string>

void WriteLine(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void PrintUsage() {
  static constexpr std::string_view kUsage[] = {
      "users - password file utility",
      "Usage: ",
      "  users add [-r] -u <username> -p <password>",
      "  users remove -u <username>",
      "  users check -u <username> -p <password>",
      "",
      "Note:",
      " - Username and password cannot be blank or more than 16 character long.",
      " - Username and password cannot contain special character like '?', or '%', etc.",
      // One line, too long for one literal.
      // NOLINTNEXTLINE(bugprone-suspicious-missing-comma)
      " - [-r] option: While adding user, if the optional -r flag is specified it will silently "
      "replace an existing entry.",
      "",
  };
  for (std::string_view line : kUsage) WriteLine(line);
}

void PrintResult(bool succeeded, std::string_view message) {
  std::string line(succeeded ? "Operation Successful: " : "Operation failed: ");
  line.append(message);
  WriteLine(line);
}
