#include "frontend/run.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  platform::PrepareProcess();
  return Run(argc, argv);
}
