// The process-wide calls on Windows.

#include "platform/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/windows/arguments.h"

namespace platform {

const std::string_view kFileLineEnd = "\r\n";

namespace {

// The span [begin, end) of argument `index` in a command line, split as the
// C runtime splits it into argv. False when there are fewer arguments.
template <typename Char>
bool FindArgument(const Char* line, int index, std::size_t* begin, std::size_t* end) {
  auto blank = [](Char c) { return c == Char(' ') || c == Char('\t'); };
  const Char quote = Char('"'), backslash = Char('\\');
  std::size_t i = 0;
  // The program's name: quotes group, backslashes are plain.
  bool quoted = false;
  for (; line[i] != 0 && (quoted || !blank(line[i])); ++i) {
    if (line[i] == quote) quoted = !quoted;
  }
  for (int argument = 1;; ++argument) {
    while (line[i] != 0 && blank(line[i])) ++i;
    if (line[i] == 0) return false;
    std::size_t start = i;
    quoted = false;
    while (line[i] != 0 && (quoted || !blank(line[i]))) {
      std::size_t backslashes = 0;
      for (; line[i] == backslash; ++i) ++backslashes;
      if (line[i] != quote) {
        if (backslashes == 0) ++i;
        continue;
      }
      // An even run of backslashes lets the quote through as a delimiter; a
      // doubled quote inside quotes is a literal one.
      if (backslashes % 2 == 0) {
        if (quoted && line[i + 1] == quote) {
          ++i;
        } else {
          quoted = !quoted;
        }
      }
      ++i;
    }
    if (argument == index) {
      *begin = start;
      *end = i;
      return true;
    }
  }
}

// Blanks out argument `index` of the command line that `line` holds.
template <typename Char>
void BlankArgument(Char* line, int index) {
  std::size_t begin, end;
  if (line == nullptr || !FindArgument<Char>(line, index, &begin, &end)) return;
  for (std::size_t i = begin; i < end; ++i) line[i] = Char(' ');
}

}  // namespace

void Wipe(void* data, std::size_t size) { ::SecureZeroMemory(data, size); }

void HideArgument(int argc, char** argv, int index) {
  if (argv == nullptr || index <= 0 || index >= argc || argv[index] == nullptr) return;
  Wipe(argv[index], std::strlen(argv[index]));
  windows::WipeWideArgument(index);
  // Other processes read the command line from the process's own block,
  // which GetCommandLineW returns; GetCommandLineA is a copy made at start.
  // What the system recorded when the process was created stays as it was.
  BlankArgument(::GetCommandLineW(), index);
  BlankArgument(::GetCommandLineA(), index);
}

// Writes to a closed console or pipe fail quietly here, and there is no
// file-size signal; Ctrl-C during a save is handled from its first new file.
void PrepareProcess() {}

void* AllocatePages(std::size_t size, std::size_t) {
  // Always aligned to 64 KiB, which is all the store asks of large blocks
  // here: Windows gives large pages only to a process with a privilege.
  return ::VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void FreePages(void* address, std::size_t) { ::VirtualFree(address, 0, MEM_RELEASE); }

}  // namespace platform
