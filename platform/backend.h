// The contract inside platform/: what the common stand-ins (ddraw, dinput,
// user, gdi) ask of the backend chosen at link time (sdl or headless), and
// what the stand-ins offer the backends and each other. Nothing outside
// platform/ includes this header.
#pragma once

#include <cstdint>

#include "platform/ddraw.h"
#include "platform/headless.h"
#include "platform/user.h"

// ---- Implemented by each backend. ----

// Calls that fail on purpose (HeadlessFailure bits); always 0 in the product.
extern uint32_t BackendFailures;
// Whether the process starts with the foreground (before any window is shown).
extern const bool BackendStartsInForeground;

// Turns pending window-system events into queued messages and focus changes.
void BackendPumpEvents();
// Largest display mode SetDisplayMode accepts, and the desktop's own mode.
void BackendMaxMode(int32_t* width, int32_t* height);
void BackendDesktopMode(int32_t* width, int32_t* height, int32_t* depth);
// Shows the display at this mode; false when it cannot be had.
bool BackendSetMode(int32_t width, int32_t height, int32_t depth);
// Gives the display back to the desktop (exclusive mode ends).
void BackendReleaseMode();
// Makes a frame visible and waits for it to be shown (the frame pace).
// Rows are `pitch` bytes apart; pixels are in the formats of the surfaces.
// They stay unchanged until the next present, or until the hook set with
// DDrawSetPresentedChanging has been called, so a backend may read them late.
void BackendPresent(const uint8_t* pixels, int32_t pitch, int32_t width, int32_t height, int32_t depth);
// Waits about one display refresh, as a flip would, for a frame that is not
// shown.
void BackendWaitRefresh();
// The held keys, 0x80 per held key in the DIK numbering (all 256 written).
void BackendReadKeys(uint8_t keys[256]);
// The one window (the first created) was shown or hidden, or retitled.
void BackendShowWindow(bool show);
void BackendSetTitle(const char* utf8);
void BackendShowCursor(bool show);
// Shows a message box; the button pushed (IDOK ...), 0 when none could be shown.
int32_t BackendMessageBox(HWND owner, const char* captionUtf8, const char* textUtf8, UINT type);

// ---- Implemented by the common stand-ins. ----

// The process gains or loses the foreground: queues WM_ACTIVATE to the
// window, and on leaving while exclusive the display is taken away once the
// window has handled that message.
void UserSetForeground(bool foreground);
// A window of another process takes the foreground (true): the process leaves
// it as with UserSetForeground(false), and GetForegroundWindow names that
// window, which EnumWindows visits too. False removes that window.
void UserSetForeignForeground(bool foreign);
// Silently sets the foreground state (for resets) without any message.
void UserResetForeground(bool foreground);
// A key went down or up (DIK code); queues WM_KEYDOWN/WM_KEYUP, or the
// WM_SYS... forms while Alt is held or for Alt itself.
void UserPostKey(int32_t dik, bool down, bool altHeld);
// Queues WM_KEYUP / WM_SYSKEYUP for a virtual key to the window.
void UserPostKeyUp(UINT virtualKey, bool system);
// Queues WM_CLOSE to the window (a close request from the window system).
void UserPostClose();
// Marks the window as needing WM_PAINT.
void UserInvalidate();
// Empties the message queue.
void UserClearQueue();
// The first window created, or null.
HWND UserMainWindow();
bool UserIsWindow(HWND window);
// The virtual-key code of a DIK code (0 when the key has none).
UINT UserVirtualKey(int32_t dik);

// The entry points the built-in modules export.
FARPROC DDrawCreateEntry();
FARPROC DInputCreateEntry();

// Takes the display away now: every video-memory surface is lost.
void DDrawLoseDisplay();
// The foreground left the process: while exclusive, the display goes away
// once the WM_ACTIVATE that tells the window has been dispatched.
void DDrawForegroundLost();
// Applies a pending loss (after the deactivation message was handled).
void DDrawApplyPendingLoss();
// Forgets a pending loss and the flip numbering (headless reset).
void DDrawReset();
// Sets the routine called once before the pixels last presented are changed
// or freed (a blit, lock, device context, restore or release of the shown
// surface); null for none.
void DDrawSetPresentedChanging(void (*changing)());

// The pixels of a surface, as the device contexts draw on them.
struct SurfaceBits {
  uint8_t* pixels;
  int32_t pitch;
  int32_t width;
  int32_t height;
  int32_t depth;  // 15, 16, 24 or 32
};
bool DDrawSurfaceBits(IDirectDrawSurface7* surface, SurfaceBits* bits);

// A device context over a surface (GetDC) and its release (ReleaseDC); null
// when no context is left.
HDC GdiCreateSurfaceDC(IDirectDrawSurface7* surface);
void GdiReleaseSurfaceDC(HDC dc);
