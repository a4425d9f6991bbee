#include "platform/entry.h"
#include "platform/platform.h"
#include "platform/windows/arguments.h"

// From the wide arguments: the narrow ones that Windows would make hold
// look-alikes of the characters the code page lacks.
int wmain(int argc, wchar_t** argv) {
  platform::PrepareProcess();
  platform::windows::Arguments arguments(
      argc, argv, platform::kArgumentBytes == platform::ArgumentBytes::kUtf8);
  return platform::ProgramMain(arguments.count(), arguments.values());
}
