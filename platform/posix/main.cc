#include "platform/entry.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  platform::PrepareProcess();
  return platform::ProgramMain(argc, argv);
}
