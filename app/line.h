// The statement prefix of the Map runner: every statement first records its
// source line in CurrentLine, which the exception filter reads after a fault.
// Include last: L is a one-token macro.
#pragma once

#include "runtime/runtime.h"

// The store is volatile and fenced for signals so the compiler neither merges
// it with the next statement's nor moves the statement's memory accesses
// across it: after a fault the recorded line is the faulting statement's.
#define L                                                  \
  *(volatile int32_t*)&CurrentLine = __LINE__;             \
  __atomic_signal_fence(__ATOMIC_SEQ_CST);
