// Shared set-up of the screen tests: the runtime started once per process,
// the headless backend reset and the screen system initialised per test.
#pragma once

#include <gtest/gtest.h>

#include "input/keyboard.h"
#include "platform/headless.h"
#include "runtime/runtime.h"
#include "screen/screen.h"

inline void ScreenTestRuntimeOnce() {
  static bool started = false;
  if (!started) {
    started = true;
    RuntimeStart();
  }
}

class ScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ScreenTestRuntimeOnce();
    HeadlessReset();
    ASSERT_NE(ScreenSystemInit(), nullptr);
  }
  void TearDown() override {
    ScreenClose();
    ScreenSystemEnd();
    KeyboardRelease();
    HeadlessReset();
  }
};

struct Bgr {
  uint8_t b, g, r;
  bool operator==(const Bgr&) const = default;
};

inline Bgr FramePixel(const HeadlessFrame& frame, int32_t x, int32_t y) {
  const uint8_t* p = frame.bgr + (static_cast<size_t>(y) * frame.width + x) * 3;
  return {p[0], p[1], p[2]};
}

inline void PrintTo(const Bgr& c, std::ostream* out) {
  *out << "bgr(" << int(c.b) << "," << int(c.g) << "," << int(c.r) << ")";
}
