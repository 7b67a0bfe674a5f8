// winmm stand-in: the system timer period.
#pragma once

#include "platform/win32.h"

#define TIMERR_NOERROR 0
#define TIMERR_NOCANDO 97

UINT timeBeginPeriod(UINT period);
UINT timeEndPeriod(UINT period);
