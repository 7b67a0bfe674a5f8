// The screen on the headless backend: opening and refusing sizes, pixel
// formats and colour conversion, clearing, the drawing target, the window
// procedure, deactivation and the recovery of a lost display.
#include "screen_fixture.h"

#include <cstdio>
#include <string>

#include "platform/user.h"
#include "platform/winmm.h"
#include "runtime/objects.h"
#include "screen/sprites.h"

namespace {

int SaveCalls;
void CountSave() { SaveCalls++; }

// Opens a screen and counts sprite saves instead of saving.
void OpenCounting(int32_t width, int32_t height) {
  ASSERT_EQ(ScreenOpen(width, height, 32, u"Tessel"), 1);
  EXPECT_EQ(SpriteSaveHook, &SpriteSaveAll);
  SaveCalls = 0;
  SpriteSaveHook = CountSave;
}

// Passes every call on to the real interface and writes down the ones that
// the recovery of a lost display makes.
struct RecordingDirectDraw final : IDirectDraw7 {
  IDirectDraw7* real;
  std::string log;

  explicit RecordingDirectDraw(IDirectDraw7* real) : real(real) {}
  uint32_t Release() override { return real->Release(); }
  HRESULT CreateSurface(DDSURFACEDESC2* desc, IDirectDrawSurface7** surface, IUnknown* outer) override {
    log += "CreateSurface ";
    return real->CreateSurface(desc, surface, outer);
  }
  HRESULT RestoreAllSurfaces() override {
    log += "RestoreAllSurfaces ";
    return real->RestoreAllSurfaces();
  }
  HRESULT SetCooperativeLevel(HWND window, DWORD flags) override {
    char text[64];
    std::snprintf(text, sizeof text, "SetCooperativeLevel(%s, 0x%X) ", window == ScreenWindow ? "screen" : "other",
                  flags);
    log += text;
    return real->SetCooperativeLevel(window, flags);
  }
  HRESULT SetDisplayMode(DWORD width, DWORD height, DWORD depth, DWORD refresh, DWORD flags) override {
    char text[64];
    std::snprintf(text, sizeof text, "SetDisplayMode(%u, %u, %u, %u, %u) ", width, height, depth, refresh, flags);
    log += text;
    return real->SetDisplayMode(width, height, depth, refresh, flags);
  }
  HRESULT WaitForVerticalBlank(DWORD flags, HANDLE event) override {
    log += "WaitForVerticalBlank ";
    return real->WaitForVerticalBlank(flags, event);
  }
};

void ExpectReleased() {
  EXPECT_EQ(PrimarySurface, nullptr);
  EXPECT_EQ(BackBuffer, nullptr);
  EXPECT_EQ(TargetSurface, nullptr);
  EXPECT_EQ(DisplayActive, 0);
  EXPECT_EQ(ScreenWindow, ScreenWindowHome);
  EXPECT_NE(ScreenWindow, nullptr);
}

}  // namespace

TEST_F(ScreenTest, PixelFormatAndColourAt32And24Bits) {
  ASSERT_EQ(ScreenOpen(64, 48, 32, u"Tessel"), 1);
  EXPECT_EQ(DisplayDepth, 32);
  EXPECT_EQ(ScreenPixelFormat, 7);  // red mask 0x00FF0000
  EXPECT_EQ(ScreenColorToPixel(255, 0, 0), 0x00FF0000u);
  EXPECT_EQ(ScreenColorToPixel(0, 0, 255), 0x000000FFu);
  EXPECT_EQ(ScreenColorToPixel(0x12, 0x34, 0x56), 0x00123456u);
  // Red in the lowest byte.
  ScreenPixelFormat = 6;
  EXPECT_EQ(ScreenColorToPixel(255, 0, 0), 0x000000FFu);
  EXPECT_EQ(ScreenColorToPixel(0, 0, 255), 0x00FF0000u);

  ASSERT_EQ(ScreenOpen(64, 48, 24, u"Tessel"), 1);
  EXPECT_EQ(ScreenPixelFormat, 5);
  EXPECT_EQ(ScreenColorToPixel(255, 0, 0), 0x00FF0000u);
  ScreenPixelFormat = 4;
  EXPECT_EQ(ScreenColorToPixel(255, 0, 0), 0x000000FFu);
}

TEST_F(ScreenTest, PixelFormatAndColourAt16And15Bits) {
  ASSERT_EQ(ScreenOpen(64, 48, 16, u"Tessel"), 1);
  EXPECT_EQ(ScreenPixelFormat, 3);  // green mask 0x07E0
  EXPECT_EQ(ScreenColorToPixel(255, 255, 255), 0xFFFFu);
  EXPECT_EQ(ScreenColorToPixel(255, 0, 0), 0xF800u);
  EXPECT_EQ(ScreenColorToPixel(0, 255, 0), 0x07E0u);
  // 5-6-5 whatever the detected code says.
  ScreenPixelFormat = 2;
  EXPECT_EQ(ScreenColorToPixel(255, 255, 255), 0xFFFFu);

  ASSERT_EQ(ScreenOpen(64, 48, 15, u"Tessel"), 1);
  EXPECT_EQ(ScreenPixelFormat, 1);  // no code of its own for depth 15
  EXPECT_EQ(ScreenColorToPixel(255, 255, 255), 0x7FFFu);
  EXPECT_EQ(ScreenColorToPixel(255, 0, 0), 0x7C00u);
  EXPECT_EQ(ScreenColorToPixel(7, 7, 7), 0u);  // divisions truncate

  DisplayDepth = 8;
  EXPECT_EQ(ScreenColorToPixel(255, 255, 255), 0u);
}

TEST_F(ScreenTest, FailedLockKeepsThePreviousFormat) {
  ASSERT_EQ(ScreenOpen(64, 48, 16, u"Tessel"), 1);
  ASSERT_EQ(ScreenPixelFormat, 3);
  HeadlessSetFailures(HeadlessFailLock);
  ASSERT_EQ(ScreenOpen(64, 48, 32, u"Tessel"), 1);
  EXPECT_EQ(ScreenPixelFormat, 3);
}

TEST_F(ScreenTest, ClearFillsTheBackBuffer) {
  ASSERT_EQ(ScreenOpen(64, 48, 32, u"Tessel"), 1);
  EXPECT_EQ(ScreenClear(0x00FF8040), DD_OK);  // blue FF, green 80, red 40
  ScreenPresent();
  HeadlessFrame frame = HeadlessLastFrame();
  ASSERT_EQ(frame.width, 64);
  ASSERT_EQ(frame.height, 48);
  EXPECT_EQ(FramePixel(frame, 0, 0), (Bgr{0xFF, 0x80, 0x40}));
  EXPECT_EQ(FramePixel(frame, 63, 47), (Bgr{0xFF, 0x80, 0x40}));
  EXPECT_EQ(FramePixel(frame, 31, 20), (Bgr{0xFF, 0x80, 0x40}));

  ASSERT_EQ(ScreenOpen(32, 16, 16, u"Tessel"), 1);
  EXPECT_EQ(ScreenClear(0x0000FF), DD_OK);  // red
  ScreenPresent();
  frame = HeadlessLastFrame();
  ASSERT_EQ(frame.width, 32);
  Bgr pixel = FramePixel(frame, 5, 5);
  EXPECT_GE(pixel.r, 0xF0);
  EXPECT_EQ(pixel.g, 0);
  EXPECT_EQ(pixel.b, 0);
}

TEST_F(ScreenTest, OpenTruncatesSizesTo16Bits) {
  ASSERT_EQ(ScreenOpen(65536 + 64, 65536 + 48, 65536 + 32, u"Tessel"), 1);
  EXPECT_EQ(DisplayWidth, 64);
  EXPECT_EQ(DisplayHeight, 48);
  EXPECT_EQ(DisplayDepth, 32);
}

TEST_F(ScreenTest, OpenRefusesEmptyNegativeAndOversizedScreens) {
  struct Case {
    int32_t width, height;
  } cases[] = {{0, 0}, {0, 480}, {640, 0}, {-5, 480}, {640, -1}, {40000, 480}, {640, 0x18000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
    EXPECT_EQ(ScreenOpen(c.width, c.height, 32, u"Tessel"), 0);
    ExpectReleased();
    ScreenPresent();  // nothing to flip, nothing to crash on
    EXPECT_EQ(ScreenClear(0), DDERR_GENERIC);
    EXPECT_EQ(ScreenTarget(), nullptr);
  }
  HeadlessSetMaxMode(800, 600);
  EXPECT_EQ(ScreenOpen(801, 600, 32, u"Tessel"), 0);
  ExpectReleased();
  EXPECT_EQ(ScreenOpen(800, 601, 32, u"Tessel"), 0);
  ExpectReleased();
  EXPECT_EQ(ScreenOpen(640, 480, 8, u"Tessel"), 0);  // no such depth
  ExpectReleased();
  // A refused size leaves nothing behind that stops the next open.
  EXPECT_EQ(ScreenOpen(800, 600, 32, u"Tessel"), 1);
  EXPECT_NE(PrimarySurface, nullptr);
}

TEST_F(ScreenTest, OpenReleasesTheScreenWhenAStepIsRefused) {
  const uint32_t failures[] = {HeadlessFailSetCooperativeLevel, HeadlessFailSetDisplayMode,
                               HeadlessFailCreatePrimary, HeadlessFailCreateSurface, HeadlessFailGetAttached};
  for (uint32_t failure : failures) {
    SCOPED_TRACE(failure);
    ASSERT_EQ(ScreenOpen(64, 48, 32, u"Tessel"), 1);
    HeadlessSetFailures(failure);
    EXPECT_EQ(ScreenOpen(64, 48, 32, u"Tessel"), 0);
    ExpectReleased();
    EXPECT_EQ(DisplayWidth, 64);  // the requested size is kept
    uint64_t flips = HeadlessFlipCount();
    ScreenPresent();
    EXPECT_EQ(HeadlessFlipCount(), flips);
    HeadlessSetFailures(0);
  }
  // A refused device context only skips the black fill.
  HeadlessSetFailures(HeadlessFailGetDC);
  EXPECT_EQ(ScreenOpen(64, 48, 32, u"Tessel"), 1);
}

TEST_F(ScreenTest, TargetIsHandedOutOnceUntilReleased) {
  EXPECT_EQ(ScreenTarget(), nullptr);  // no screen yet
  ASSERT_EQ(ScreenOpen(64, 48, 32, u"Tessel"), 1);
  DrawTarget* target = ScreenTarget();
  ASSERT_NE(target, nullptr);
  EXPECT_EQ(target, &ScreenDrawTarget);
  EXPECT_EQ(target->kind, 7);
  EXPECT_NE(target->dc, nullptr);
  EXPECT_EQ(target->dc, BackBufferDC);
  EXPECT_EQ(target->release, &ScreenTargetRelease);
  EXPECT_EQ(ScreenTarget(), nullptr);
  ScreenTargetRelease();
  EXPECT_EQ(BackBufferDC, nullptr);
  ASSERT_NE(ScreenTarget(), nullptr);
  // The next present gives a context still held back.
  ScreenPresent();
  EXPECT_EQ(BackBufferDC, nullptr);
  EXPECT_NE(ScreenTarget(), nullptr);
  ScreenTargetRelease();
  HeadlessSetFailures(HeadlessFailGetDC);
  EXPECT_EQ(ScreenTarget(), nullptr);
  EXPECT_EQ(BackBufferDC, nullptr);
}

TEST_F(ScreenTest, CloseWithTheContextHeldGivesItBack) {
  ASSERT_EQ(ScreenOpen(64, 48, 32, u"Tessel"), 1);
  ASSERT_NE(ScreenTarget(), nullptr);
  ScreenClose();
  EXPECT_EQ(BackBufferDC, nullptr);
  EXPECT_EQ(DisplayWidth, 0);
  ExpectReleased();
  ScreenTargetRelease();
  ScreenClose();  // closing twice does nothing
}

TEST_F(ScreenTest, CloseMessageIsIgnored) {
  OpenCounting(64, 48);
  HeadlessPostClose();
  uint64_t flips = HeadlessFlipCount();
  ScreenPresent();
  ScreenPresent();
  EXPECT_EQ(HeadlessFlipCount(), flips + 2);
  EXPECT_EQ(DisplayWidth, 64);
  EXPECT_EQ(DisplayActive, 1);
  EXPECT_NE(PrimarySurface, nullptr);
  EXPECT_EQ(ScreenWindowProc(ScreenWindow, WM_CLOSE, 0, 0), 0);
}

TEST_F(ScreenTest, TabOrAltReleaseSavesSpritesOnce) {
  OpenCounting(64, 48);
  HeadlessPostKeyUp(VK_RETURN, false);
  ScreenPresent();
  EXPECT_EQ(SaveCalls, 0);
  HeadlessPostKeyUp(VK_TAB, false);
  uint64_t flips = HeadlessFlipCount();
  ScreenPresent();
  EXPECT_EQ(SaveCalls, 1);
  EXPECT_EQ(SpritesSaved, 1);
  EXPECT_EQ(HeadlessFlipCount(), flips + 1);  // still open and flipping
  HeadlessPostKeyUp(VK_MENU, true);
  HeadlessPostKeyUp(VK_TAB, false);
  ScreenPresent();
  EXPECT_EQ(SaveCalls, 1);
  // Activation clears the flag; the next release saves again.
  EXPECT_EQ(ScreenWindowProc(ScreenWindow, WM_ACTIVATE, WA_ACTIVE, 0), 0);
  EXPECT_EQ(SpritesSaved, 0);
  HeadlessPostKeyUp(VK_MENU, true);
  ScreenPresent();
  EXPECT_EQ(SaveCalls, 2);
}

TEST_F(ScreenTest, NoSaveBeforeTheFirstOpen) {
  SpriteSaveHook = nullptr;
  SpritesSaved = 0;
  EXPECT_EQ(ScreenWindowProc(ScreenWindow, WM_ACTIVATE, WA_INACTIVE, 0), 0);
  EXPECT_EQ(SpritesSaved, 0);
  EXPECT_EQ(DisplayActive, 0);
  EXPECT_EQ(ScreenWindowProc(ScreenWindow, WM_KEYUP, VK_TAB, 0), 0);
  EXPECT_EQ(SpritesSaved, 0);
}

TEST_F(ScreenTest, BackgroundStopsFlipsAndForegroundRecovers) {
  OpenCounting(64, 48);
  ScreenClear(0x0000FF);
  ScreenPresent();
  uint64_t flips = HeadlessFlipCount();

  EXPECT_EQ(HeadlessRefreshWaits(), 0u) << "a shown frame is paced by its flip alone";

  HeadlessSetForeground(false);
  ScreenPresent();
  EXPECT_EQ(SaveCalls, 1);
  EXPECT_EQ(DisplayActive, 0);
  EXPECT_EQ(HeadlessFlipCount(), flips);
  // Still pumping while in the background: a Tab release finds the pixels saved.
  HeadlessPostKeyUp(VK_TAB, false);
  ScreenPresent();
  ScreenPresent();
  EXPECT_EQ(SaveCalls, 1);
  EXPECT_EQ(HeadlessFlipCount(), flips);
  EXPECT_EQ(TargetSurface, BackBuffer);
  // Nothing flipped, so each frame waits one refresh instead of spinning.
  EXPECT_EQ(HeadlessRefreshWaits(), 3u);

  // Back in front: the first flip finds the display lost and recovers it.
  HeadlessSetForeground(true);
  ScreenPresent();
  EXPECT_EQ(DisplayActive, 1);
  EXPECT_EQ(SpritesSaved, 0);
  ScreenClear(0x00FF00);
  ScreenPresent();
  HeadlessFrame frame = HeadlessLastFrame();
  EXPECT_GT(HeadlessFlipCount(), flips);
  EXPECT_EQ(frame.width, 64);
  EXPECT_EQ(FramePixel(frame, 10, 10), (Bgr{0, 0xFF, 0}));
}

TEST_F(ScreenTest, LostFlipRecoversInOrder) {
  OpenCounting(64, 48);
  ScreenPresent();
  RecordingDirectDraw recorder(DirectDrawInterface);
  DirectDrawInterface = &recorder;
  HeadlessLoseDisplay();
  uint64_t flips = HeadlessFlipCount();
  ScreenPresent();  // reports the loss; the lost frame is not flipped again
  DirectDrawInterface = recorder.real;
  EXPECT_EQ(HeadlessFlipCount(), flips);
  // The frame that was not shown waits for a refresh like a flip would.
  EXPECT_EQ(recorder.log,
            "SetCooperativeLevel(screen, 0x11) SetDisplayMode(64, 48, 32, 0, 0) RestoreAllSurfaces WaitForVerticalBlank ");
  EXPECT_EQ(SaveCalls, 0);
  ScreenClear(0xFFFFFF);
  ScreenPresent();
  EXPECT_EQ(HeadlessFlipCount(), flips + 1);
  EXPECT_EQ(FramePixel(HeadlessLastFrame(), 0, 0), (Bgr{0xFF, 0xFF, 0xFF}));
}

TEST_F(ScreenTest, ActivationWhileClosedDoesNotFlip) {
  ASSERT_EQ(ScreenOpen(64, 48, 32, u"Tessel"), 1);
  ScreenClose();
  EXPECT_EQ(ScreenWindowProc(ScreenWindow, WM_ACTIVATE, WA_ACTIVE, 0), 0);
  uint64_t flips = HeadlessFlipCount();
  ScreenPresent();
  EXPECT_EQ(HeadlessFlipCount(), flips);
  EXPECT_EQ(ScreenClear(0), DDERR_GENERIC);
}

TEST_F(ScreenTest, DisplayInterfaceIsCountedAndReleasedOnce) {
  EXPECT_EQ(DirectDrawUses, 1);
  EXPECT_NE(DirectDrawInterface, nullptr);
  ScreenSystemEnd();
  EXPECT_EQ(DirectDrawUses, 0);
  EXPECT_EQ(DirectDrawInterface, nullptr);
  EXPECT_EQ(DirectDrawLibrary, nullptr);
  ScreenSystemEnd();  // a second end gives back nothing
  EXPECT_EQ(DirectDrawUses, 0);
  KeyboardRelease();

  HeadlessSetFailures(HeadlessFailDirectDrawCreate);
  EXPECT_EQ(ScreenSystemInit(), nullptr);
  EXPECT_EQ(DirectDrawInterface, nullptr);
  EXPECT_EQ(DirectDrawUses, 1);  // the failed request still counts
  EXPECT_EQ(ScreenOpen(64, 48, 32, u"Tessel"), 0);
  ScreenSystemEnd();
  EXPECT_EQ(DirectDrawUses, 0);
  EXPECT_EQ(ScreenWindow, ScreenWindowHome);
  EXPECT_NE(ScreenWindow, nullptr);
  KeyboardRelease();
  HeadlessSetFailures(0);
  ASSERT_NE(ScreenSystemInit(), nullptr);  // for the tear-down
}

namespace {

// The cursor counter as it stands (ShowCursor returns the new count).
int CursorCount() {
  int count = ShowCursor(TRUE) - 1;
  ShowCursor(FALSE);
  return count;
}

// Whether a 1 ms timer period is held: ending one succeeds only then.
bool TimerPeriodHeld() {
  if (timeEndPeriod(1) != TIMERR_NOERROR) return false;
  timeBeginPeriod(1);
  return true;
}

}  // namespace

TEST_F(ScreenTest, CursorAndTimerPeriodAreGivenBackExactlyOnce) {
  int shown = CursorCount();
  ASSERT_FALSE(TimerPeriodHeld());
  ASSERT_EQ(ScreenOpen(64, 48, 32, u"Tessel"), 1);
  EXPECT_EQ(CursorCount(), shown - 1);
  EXPECT_TRUE(TimerPeriodHeld());
  ASSERT_EQ(ScreenOpen(64, 48, 32, u"Tessel"), 1);  // passes through Closed
  EXPECT_EQ(CursorCount(), shown - 1);
  EXPECT_EQ(ScreenOpen(-64, 48, 32, u"Tessel"), 0);
  EXPECT_EQ(CursorCount(), shown);
  EXPECT_FALSE(TimerPeriodHeld());
  HeadlessSetFailures(HeadlessFailSetDisplayMode);
  EXPECT_EQ(ScreenOpen(64, 48, 32, u"Tessel"), 0);
  EXPECT_EQ(CursorCount(), shown);
  // The failed open keeps its size, so closing runs again: nothing to give back twice.
  ScreenClose();
  EXPECT_EQ(CursorCount(), shown);
  EXPECT_FALSE(TimerPeriodHeld());
  HeadlessSetFailures(0);
  ASSERT_EQ(ScreenOpen(64, 48, 32, u"Tessel"), 1);
  ScreenSystemEnd();  // leaves the period to the next close
  EXPECT_EQ(CursorCount(), shown);
  ScreenClose();
  EXPECT_FALSE(TimerPeriodHeld());
  ASSERT_NE(ScreenSystemInit(), nullptr);  // for the tear-down
  KeyboardRelease();
}
