// winmm stand-in: the system timer period. Linux timers need no period, so
// this keeps the platform's bookkeeping: every begin must be matched by an
// end of the same period.
#include "platform/winmm.h"

namespace {

constexpr UINT PeriodMax = 1000000;
constexpr int32_t Slots = 16;

struct TimerPeriods {
  UINT period[Slots];
  uint32_t count[Slots];
};
TimerPeriods Timer;

}  // namespace

UINT timeBeginPeriod(UINT period) {
  if (period == 0 || period > PeriodMax) return TIMERR_NOCANDO;
  int32_t free = -1;
  for (int32_t i = 0; i < Slots; i++) {
    if (Timer.count[i] && Timer.period[i] == period) {
      Timer.count[i]++;
      return TIMERR_NOERROR;
    }
    if (!Timer.count[i] && free < 0) free = i;
  }
  if (free < 0) return TIMERR_NOCANDO;
  Timer.period[free] = period;
  Timer.count[free] = 1;
  return TIMERR_NOERROR;
}

UINT timeEndPeriod(UINT period) {
  for (int32_t i = 0; i < Slots; i++)
    if (Timer.count[i] && Timer.period[i] == period) {
      Timer.count[i]--;
      return TIMERR_NOERROR;
    }
  return TIMERR_NOCANDO;
}
