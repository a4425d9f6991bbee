#ifndef USERS_PLATFORM_WINDOWS_ARGUMENTS_H_
#define USERS_PLATFORM_WINDOWS_ARGUMENTS_H_

// The argument vector that the program parses, made from the wide one that
// wmain receives; not part of the platform interface.

#include <string>
#include <vector>

namespace platform::windows {

// The program's own path comes as UTF-8, so that the password file beside
// it may lie in any folder. Every other argument comes in the ANSI code
// page, the bytes that user names and password digests have always been
// made of, but exactly: a character the code page cannot hold becomes "?",
// which the command line refuses, and never a look-alike ("Ł" as "L"); or,
// for a program whose arguments are all paths, as UTF-8 too.
class Arguments {
 public:
  Arguments(int argc, wchar_t** argv, bool allUtf8 = false);
  Arguments(const Arguments&) = delete;
  Arguments& operator=(const Arguments&) = delete;
  ~Arguments();

  int count() const { return static_cast<int>(strings_.size()); }
  char** values() { return pointers_.data(); }

 private:
  std::vector<std::string> strings_;
  std::vector<char*> pointers_;
};

// Overwrites wide argument `index` as wmain received it.
void WipeWideArgument(int index);

}  // namespace platform::windows

#endif  // USERS_PLATFORM_WINDOWS_ARGUMENTS_H_
