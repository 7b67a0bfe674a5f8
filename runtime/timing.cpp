// The millisecond clock and the float-to-integer conversion of the Map
// runner's integer divisions.
#include "runtime/timing.h"

#include <cfenv>
#include <cmath>

#include "platform/kernel.h"

// Milliseconds since the system started; wraps after 2^32 ms (about 49.7 days).
uint32_t TimerMilliseconds() { return GetTickCount(); }

int32_t IntFromFloat(double value) {
  std::fenv_t saved;
  std::fegetenv(&saved);
  std::fesetround(FE_TOWARDZERO);
  // volatile keeps the conversion between the mode change and the restore:
  // without it the compiler may treat lrint as independent of the mode.
  volatile double in = value;
  volatile long converted = std::lrint(in);
  std::fesetenv(&saved);
  long result = converted;
  // Out of range, infinities and NaN give the processor's integer-indefinite value.
  if (std::isnan(value) || result < INT32_MIN || result > INT32_MAX || value >= 9.3e18 || value <= -9.3e18)
    return INT32_MIN;
  return int32_t(result);
}
