// The statement prefix of the Map runner: every statement first records its
// source line in CurrentLine, which the exception filter reads after a fault.
// Include last: L is a one-token macro.
#pragma once

#include "runtime/runtime.h"

#define L CurrentLine = __LINE__;
