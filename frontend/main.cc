#include "frontend/run.h"
#include "platform/entry.h"

int platform::ProgramMain(int argc, char** argv) { return Run(argc, argv); }

// User names and passwords are the code page's bytes, as they always were.
const platform::ArgumentBytes platform::kArgumentBytes = platform::ArgumentBytes::kCodePage;
