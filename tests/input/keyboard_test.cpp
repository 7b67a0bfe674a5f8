// The keyboard on the headless backend: phases, use count, failed polls,
// the any-key scan and the data format handed to the device.
#include <gtest/gtest.h>

#include "input/keyboard.h"
#include "platform/headless.h"
#include "platform/user.h"
#include "runtime/runtime.h"
#include "screen/screen.h"

namespace {

LRESULT TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(window, message, wParam, lParam);
}

// The device follows the foreground state of ScreenWindow; a plain window
// stands in for the screen's here.
void MakeScreenWindow() {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = TestWindowProc;
  windowClass.lpszClassName = u"KeyboardTest Class";
  ASSERT_NE(RegisterClassExW(&windowClass), 0);
  ScreenWindow = CreateWindowExW(0, u"KeyboardTest Class", u"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                 nullptr, nullptr);
  ASSERT_NE(ScreenWindow, nullptr);
}

class KeyboardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static bool started = false;
    if (!started) {
      started = true;
      RuntimeStart();
      MakeScreenWindow();
    }
    HeadlessReset();
  }
  void TearDown() override {
    // Gives back every use a test took; extra releases do nothing.
    for (int i = 0; i < 4; i++) KeyboardRelease();
    HeadlessReset();
  }
};

}  // namespace

// Defined first: it needs a process in which nothing opened the keyboard yet.
TEST_F(KeyboardTest, ReleaseAndPollWithoutInitDoNothing) {
  KeyboardRelease();
  EXPECT_EQ(KeyboardPhase, 0);
  HeadlessSetKey(DIK_ESCAPE, true);
  EXPECT_EQ(KeyboardPoll(), 0);
  EXPECT_EQ(KeyDown(DIK_ESCAPE), 0);
  EXPECT_EQ(KeyDown(-1), 0);
  EXPECT_EQ(KeyState[DIK_ESCAPE], 0);
}

TEST_F(KeyboardTest, PhasesFromInitThroughPollToRelease) {
  ASSERT_NE(KeyboardInit(), 0);
  EXPECT_EQ(KeyboardPhase, 1);
  HeadlessSetKey(DIK_ESCAPE, true);
  EXPECT_EQ(KeyDown(DIK_ESCAPE), 0);  // not polled yet
  EXPECT_EQ(KeyboardPoll(), 1);
  EXPECT_EQ(KeyboardPhase, 2);
  EXPECT_EQ(KeyDown(DIK_ESCAPE), 128);
  EXPECT_EQ(KeyDown(DIK_RIGHT), 0);
  EXPECT_EQ(KeyDown(-1), 1);
  HeadlessSetKey(DIK_ESCAPE, false);
  HeadlessSetKey(DIK_RIGHT, true);
  EXPECT_EQ(KeyDown(DIK_ESCAPE), 128);  // the snapshot, not the live state
  EXPECT_EQ(KeyboardPoll(), 1);
  EXPECT_EQ(KeyDown(DIK_ESCAPE), 0);
  EXPECT_EQ(KeyDown(DIK_RIGHT), 128);
  HeadlessClearKeys();
  EXPECT_EQ(KeyboardPoll(), 1);
  EXPECT_EQ(KeyDown(-1), 0);

  KeyboardRelease();
  EXPECT_EQ(KeyboardPhase, 0);
  HeadlessSetKey(DIK_ESCAPE, true);
  EXPECT_EQ(KeyboardPoll(), 0);
  EXPECT_EQ(KeyDown(DIK_ESCAPE), 0);
  // Opened again after the last use was given back.
  ASSERT_NE(KeyboardInit(), 0);
  EXPECT_EQ(KeyboardPoll(), 1);
  EXPECT_EQ(KeyDown(DIK_ESCAPE), 128);
}

TEST_F(KeyboardTest, FailedPollMakesEveryKeyFreeUntilAPollSucceeds) {
  ASSERT_NE(KeyboardInit(), 0);
  HeadlessSetKey(DIK_LEFT, true);
  ASSERT_EQ(KeyboardPoll(), 1);
  ASSERT_EQ(KeyDown(DIK_LEFT), 128);
  HeadlessSetForeground(false);
  EXPECT_EQ(KeyboardPoll(), 0);
  EXPECT_EQ(KeyboardPhase, 1);
  EXPECT_EQ(KeyState[DIK_LEFT] & 0x80, 0x80);  // not cleared, only not read
  EXPECT_EQ(KeyDown(DIK_LEFT), 0);
  EXPECT_EQ(KeyDown(-1), 0);
  EXPECT_EQ(KeyboardPoll(), 0);  // acquired again, still refused
  HeadlessSetForeground(true);
  EXPECT_EQ(KeyboardPoll(), 1);
  EXPECT_EQ(KeyboardPhase, 2);
  EXPECT_EQ(KeyDown(DIK_LEFT), 128);
}

TEST_F(KeyboardTest, AnyKeyScanStopsBeforeEntry255) {
  ASSERT_NE(KeyboardInit(), 0);
  HeadlessSetKey(255, true);
  ASSERT_EQ(KeyboardPoll(), 1);
  EXPECT_EQ(KeyDown(255), 128);
  EXPECT_EQ(KeyDown(-1), 0);
  HeadlessSetKey(254, true);
  ASSERT_EQ(KeyboardPoll(), 1);
  EXPECT_EQ(KeyDown(-1), 1);
  HeadlessClearKeys();
  HeadlessSetKey(0, true);
  ASSERT_EQ(KeyboardPoll(), 1);
  EXPECT_EQ(KeyDown(-1), 1);
  // Codes outside 0-255 and other than -1 are never held.
  EXPECT_EQ(KeyDown(256), 0);
  EXPECT_EQ(KeyDown(-2), 0);
}

TEST_F(KeyboardTest, SecondInitOnlyCountsAUse) {
  ASSERT_NE(KeyboardInit(), 0);
  ASSERT_EQ(KeyboardPoll(), 1);
  HeadlessSetFailures(HeadlessFailCreateDevice | HeadlessFailDirectInputCreate);
  EXPECT_NE(KeyboardInit(), 0);  // neither creates anything again
  EXPECT_EQ(KeyboardPhase, 2);
  HeadlessSetFailures(0);
  // Two uses: the first release closes the device, the interface stays.
  KeyboardRelease();
  EXPECT_EQ(KeyboardPhase, 0);
  HeadlessSetFailures(HeadlessFailDirectInputCreate);
  EXPECT_NE(KeyboardInit(), 0);  // device made again on the kept interface
  EXPECT_EQ(KeyboardPhase, 1);
}

TEST_F(KeyboardTest, InitFailures) {
  HeadlessSetFailures(HeadlessFailDirectInputCreate);
  EXPECT_EQ(KeyboardInit(), 0);
  EXPECT_EQ(KeyboardPhase, 0);
  KeyboardRelease();

  HeadlessSetFailures(HeadlessFailCreateDevice);
  EXPECT_EQ(KeyboardInit(), 0);
  EXPECT_EQ(KeyboardPhase, 0);
  EXPECT_EQ(KeyboardPoll(), 0);
  KeyboardRelease();

  HeadlessSetFailures(HeadlessFailSetDataFormat);
  EXPECT_EQ(KeyboardInit(), 0);
  EXPECT_EQ(KeyboardPhase, 0);
  EXPECT_EQ(KeyboardPoll(), 0);
  // The refused device is not kept: the next call makes a working one.
  HeadlessSetFailures(0);
  EXPECT_NE(KeyboardInit(), 0);
  HeadlessSetKey(DIK_DOWN, true);
  EXPECT_EQ(KeyboardPoll(), 1);
  EXPECT_EQ(KeyDown(DIK_DOWN), 128);
}
