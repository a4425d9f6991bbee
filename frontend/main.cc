#include "frontend/run.h"
#include "platform/entry.h"

int platform::ProgramMain(int argc, char** argv) { return Run(argc, argv); }
