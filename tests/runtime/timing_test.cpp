// The millisecond clock and IntFromFloat.
#include <gtest/gtest.h>

#include <cfenv>
#include <chrono>
#include <cmath>
#include <limits>
#include <thread>

#include "platform/kernel.h"
#include "runtime/timing.h"

namespace {

DWORD FixedTicks() { return 0xFFFFFFF0u; }

TEST(Timing, MillisecondsFollowTheTickCount) {
  KernelSetTickSource(FixedTicks);
  EXPECT_EQ(TimerMilliseconds(), 0xFFFFFFF0u);
  KernelSetTickSource(nullptr);
  uint32_t before = TimerMilliseconds();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  uint32_t elapsed = TimerMilliseconds() - before;
  EXPECT_GE(elapsed, 195u);
  EXPECT_LT(elapsed, 1000u);
}

TEST(Timing, IntFromFloatTruncatesAndGivesIndefiniteOutOfRange) {
  EXPECT_EQ(IntFromFloat(2.9), 2);
  EXPECT_EQ(IntFromFloat(-2.9), -2);
  EXPECT_EQ(IntFromFloat(-0.5), 0);
  EXPECT_EQ(IntFromFloat(7.0), 7);
  EXPECT_EQ(IntFromFloat(2147483647.9), 2147483647);
  EXPECT_EQ(IntFromFloat(-2147483648.9), INT32_MIN);
  EXPECT_EQ(IntFromFloat(2147483648.0), INT32_MIN);
  EXPECT_EQ(IntFromFloat(1e10), INT32_MIN);
  EXPECT_EQ(IntFromFloat(-1e300), INT32_MIN);
  EXPECT_EQ(IntFromFloat(std::numeric_limits<double>::quiet_NaN()), INT32_MIN);
  EXPECT_EQ(IntFromFloat(std::numeric_limits<double>::infinity()), INT32_MIN);
  EXPECT_EQ(IntFromFloat(-std::numeric_limits<double>::infinity()), INT32_MIN);
}

TEST(Timing, IntFromFloatRestoresTheCallersRoundingMode) {
  for (int mode : {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
    std::fesetround(mode);
    EXPECT_EQ(IntFromFloat(-2.5), -2);
    EXPECT_EQ(IntFromFloat(2.5), 2);
    EXPECT_EQ(std::fegetround(), mode);
    // Still in force for the caller's own arithmetic.
    volatile double x = 2.5;
    long rounded = std::lrint(x);
    std::fesetround(FE_TONEAREST);
    long expected = mode == FE_UPWARD ? 3 : 2;
    EXPECT_EQ(rounded, expected) << mode;
  }
  std::feclearexcept(FE_ALL_EXCEPT);
  IntFromFloat(std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(std::fetestexcept(FE_INVALID), 0);  // the caller's flags are theirs too
}

}  // namespace
