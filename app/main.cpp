// Process entry of tessel: hands the arguments to the kernel stand-in, sets the
// runtime up and runs the Map runner, which ends the process itself.
#include "app/runner.h"
#include "platform/kernel.h"
#include "runtime/runtime.h"

int main(int argc, char** argv) {
  KernelSetArguments(argc, argv);
  RuntimeStart();
  MapRunnerMain();
}
