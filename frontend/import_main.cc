#include "frontend/import_run.h"
#include "platform/entry.h"

int platform::ProgramMain(int argc, char** argv) { return RunImport(argc, argv); }

// Every argument is a path or an option, none a name or a password.
const platform::ArgumentBytes platform::kArgumentBytes = platform::ArgumentBytes::kUtf8;
