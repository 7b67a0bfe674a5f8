// The test build of tessel for the tests under Wine: tessel with two
// processor faults. The first comes right after the runtime's start, before
// the runner selects its error exit: the filter skips it, and the program
// says so on standard output. The second comes inside the frame loop, at
// the TESSEL_FAULT_TICK-th reading of the clock (default 60): the runner's
// error exit shows error 9.
#include <cstdio>
#include <cstdlib>

#include "app/runner.h"
#include "platform/kernel.h"
#include "runtime/runtime.h"

namespace {

int* volatile NullAddress;
long FaultTick = 60;
long Ticks;

// A store to address 0: the processor fault a bad map could cause.
void Fault() { *NullAddress = 1; }

DWORD FaultingTickCount() {
  if (++Ticks == FaultTick) Fault();
  return ::GetTickCount();
}

}  // namespace

int main(int argc, char** argv) {
  if (const char* tick = std::getenv("TESSEL_FAULT_TICK")) FaultTick = std::strtol(tick, nullptr, 10);
  KernelSetArguments(argc, argv);
  RuntimeStart();
  Fault();
  std::printf("fault before the error exit: skipped\n");
  std::fflush(stdout);
  WinTickHook = FaultingTickCount;
  MapRunnerMain();
}
