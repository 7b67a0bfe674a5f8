// Controls of the headless backend, for tests and tools: no window system;
// the test sets the clock, the keys and the focus, injects display loss and
// failing calls, and reads every presented frame and every message box.
#pragma once

#include <cstdint>

#include "platform/win32.h"

// One presented frame, exactly as flipped: 8-bit B,G,R per pixel in rows of
// width * 3 bytes, top row first, whatever the display depth.
struct HeadlessFrame {
  int32_t width;
  int32_t height;
  const uint8_t* bgr;
  uint64_t number;  // flips counted since the display mode was set, from 1
};

struct HeadlessMessageBox {
  char caption[256];  // UTF-8
  char text[1024];    // UTF-8
  HWND owner;
  uint32_t type;
};

// Calls that a test can make fail.
enum HeadlessFailure : uint32_t {
  HeadlessFailDirectDrawCreate = 1u << 0,
  HeadlessFailDirectInputCreate = 1u << 1,
  HeadlessFailCreateDevice = 1u << 2,
  HeadlessFailSetDataFormat = 1u << 3,
  HeadlessFailSetDisplayMode = 1u << 4,
  HeadlessFailCreateSurface = 1u << 5,  // every CreateSurface
  HeadlessFailCreatePrimary = 1u << 6,  // the primary flipping chain only
  HeadlessFailGetAttached = 1u << 7,
  HeadlessFailGetDC = 1u << 8,
  HeadlessFailLock = 1u << 9,
  HeadlessFailRegisterClass = 1u << 10,
  HeadlessFailCreateWindow = 1u << 11,
  HeadlessFailSetCooperativeLevel = 1u << 12,  // IDirectDraw7's
};

// Back to the initial state: clock 0, no keys, no hooks, window in the
// foreground, no failures, maximum mode 16384 x 16384, no recorded boxes or
// frames, an empty message queue, box echo off and IDOK as every box's answer.
// Windows, classes and DirectDraw objects that exist stay as they are, except
// a window of another process, which goes.
void HeadlessReset();
void HeadlessSetFailures(uint32_t failures);

// The clock GetTickCount reads.
void HeadlessSetClock(DWORD milliseconds);
DWORD HeadlessClock();

// Key state in the DIK numbering, as the next GetDeviceState delivers it.
void HeadlessSetKey(int32_t scanCode, bool down);
void HeadlessClearKeys();

// Called at the start of every GetDeviceState (the once-per-frame keyboard
// poll) with the number of polls before this one; a script sets the clock and
// the keys there.
void HeadlessSetPollHook(void (*hook)(uint64_t poll, void* user), void* user);

// Moves the window into or out of the foreground: queues WM_ACTIVATE (and,
// while exclusive, takes the display away on leaving: every video-memory
// surface is lost and its pixels are gone). The display goes once the window
// has been handed that WM_ACTIVATE, so that it can save what it needs first;
// GetDeviceState of a foreground device fails at once.
void HeadlessSetForeground(bool foreground);
// A visible, enabled window of another process (with a thread of its own)
// takes the foreground (true): as HeadlessSetForeground(false), and
// GetForegroundWindow then names that window. False, or HeadlessReset,
// removes it.
void HeadlessSetForeignForeground(bool foreign);
// Takes the display away without a focus change.
void HeadlessLoseDisplay();
// Queues a key-up message for a virtual key (VK_TAB, VK_MENU ...) to the window.
void HeadlessPostKeyUp(UINT virtualKey, bool system);
// Queues WM_CLOSE to the window.
void HeadlessPostClose();

// Largest display size SetDisplayMode accepts (default 16384 x 16384).
void HeadlessSetMaxMode(int32_t width, int32_t height);

// Called after every flip with the frame that became visible (its pixels
// only while every frame is captured, bgr null otherwise). Frame numbers
// start again at 1 when SetDisplayMode changes the mode (setting the same
// mode again, as a recovery does, keeps counting).
void HeadlessSetFlipHook(void (*hook)(const HeadlessFrame& frame, void* user), void* user);
// Which presented frames can be read. A frame is converted to B,G,R only
// when it is read (or, while it may still be read, just before the display
// changes or frees its pixels), so frames nobody reads cost nothing.
enum HeadlessCapture : int32_t {
  HeadlessCaptureEvery,  // the default: HeadlessLastFrame and the flip hook's frame carry the pixels
  HeadlessCaptureLast,   // only HeadlessLastFrame carries them (a tool writing the last frame)
  HeadlessCaptureNone,   // frames are counted, never converted: bgr is always null (benchmarks)
};
void HeadlessSetCapture(HeadlessCapture capture);
// true: HeadlessCaptureEvery, false: HeadlessCaptureNone.
void HeadlessSetCapture(bool capture);
// The last presented frame (width 0 when none), converted on first reading.
HeadlessFrame HeadlessLastFrame();
uint64_t HeadlessFlipCount();
// Waits for a display refresh without a flip (IDirectDraw7::WaitForVerticalBlank);
// they take no time here.
uint64_t HeadlessRefreshWaits();

// Message boxes shown so far (the first 256 are kept); the answer every box
// gives (IDOK by default).
int32_t HeadlessMessageBoxCount();
const HeadlessMessageBox* HeadlessMessageBoxAt(int32_t index);
// When set, every box also prints one line "CAPTION: TEXT" on standard output.
void HeadlessSetMessageBoxEcho(bool echo);
// The button every later box answers with (IDOK after HeadlessReset).
void HeadlessSetMessageBoxAnswer(int32_t answer);
// Called while each box is "shown" (after it was recorded, before it
// answers): a test can look at the windows' state at that moment.
void HeadlessSetMessageBoxHook(void (*hook)(const HeadlessMessageBox& box, void* user), void* user);
