#include "frontend/run.h"
#include "platform/platform.h"

#ifdef _WIN32
#include "platform/windows/arguments.h"

// From the wide arguments: the narrow ones that Windows would make hold
// look-alikes of the characters the code page lacks.
int wmain(int argc, wchar_t** argv) {
  platform::PrepareProcess();
  platform::windows::Arguments arguments(argc, argv);
  return Run(arguments.count(), arguments.values());
}
#else
int main(int argc, char** argv) {
  platform::PrepareProcess();
  return Run(argc, argv);
}
#endif
