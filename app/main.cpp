// Process entry of tessel: answers --help and --version, says on the terminal
// what is wrong with the parameters, hands the arguments to the kernel
// stand-in, sets the runtime up and runs the Map runner, which ends the
// process itself.
#include "app/runner.h"
#include "app/terminal.h"
#include "platform/kernel.h"
#include "runtime/runtime.h"

int main(int argc, char** argv) {
  if (TerminalStart(argc, argv)) return 0;
  KernelSetArguments(argc, argv);
  RuntimeStart();
  MapRunnerMain();
}
