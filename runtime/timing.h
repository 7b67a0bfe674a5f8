// The millisecond clock and float-to-integer conversion.
#pragma once

#include <cstdint>

uint32_t TimerMilliseconds();
// Rounded toward zero; out of range, infinity or NaN give -2147483648. The
// caller's rounding mode is saved and restored.
int32_t IntFromFloat(double value);
