#include "frontend/import_run.h"
#include "platform/platform.h"

#ifdef _WIN32
#include <string>
#include <vector>

#include "platform/windows/wide.h"

// Every argument is a path or an option, none a name or a password: all are
// taken as UTF-8, as the program holds paths, so that the file may lie in a
// folder of any name.
int wmain(int argc, wchar_t** argv) {
  platform::PrepareProcess();
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(platform::windows::Narrow(argv[i]));
  std::vector<char*> values;
  for (std::string& argument : arguments) values.push_back(argument.data());
  values.push_back(nullptr);
  return RunImport(argc, values.data());
}
#else
int main(int argc, char** argv) {
  platform::PrepareProcess();
  return RunImport(argc, argv);
}
#endif
