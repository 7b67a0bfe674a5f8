// The headless backend: no window system. The test sets the clock, the keys
// and the focus, injects display loss and failing calls, and reads every
// flipped frame (converted to B,G,R rows when it is read) and every message box.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/backend.h"
#include "platform/headless.h"
#include "platform/kernel.h"

uint32_t BackendFailures;
const bool BackendStartsInForeground = true;

namespace {

constexpr int32_t BoxesKept = 256;
constexpr int32_t DesktopWidth = 1024, DesktopHeight = 768, DesktopDepth = 32;

struct HeadlessState {
  DWORD clock;
  uint8_t keys[256];
  void (*pollHook)(uint64_t, void*);
  void* pollUser;
  uint64_t polls;
  void (*flipHook)(const HeadlessFrame&, void*);
  void* flipUser;
  int32_t maxWidth, maxHeight;
  bool modeSet;
  int32_t modeWidth, modeHeight, modeDepth;
  uint8_t* frame;
  size_t frameCapacity;
  HeadlessFrame last;  // bgr null until the frame is converted
  // The presented pixels not yet converted (null once converted or dropped).
  const uint8_t* pending;
  int32_t pendingPitch, pendingDepth;
  uint64_t flipsSinceMode;
  uint64_t flips;
  uint64_t refreshWaits;
  HeadlessMessageBox boxes[BoxesKept];
  int32_t boxCount;
  bool echo;
  HeadlessCapture capture;
  int32_t answer;
  void (*boxHook)(const HeadlessMessageBox&, void*);
  void* boxUser;
};
HeadlessState Headless;

void Defaults() {
  Headless.maxWidth = 16384;
  Headless.maxHeight = 16384;
  Headless.answer = IDOK;
}

DWORD HeadlessTick() { return Headless.clock; }

void HeadlessPresentedChanging();

__attribute__((constructor)) void HeadlessStart() {
  Defaults();
  KernelSetTickSource(HeadlessTick);
  DDrawSetPresentedChanging(HeadlessPresentedChanging);
}

// 5- and 6-bit channels widened by repeating their top bits: full is 255.
inline uint8_t Widen5(uint32_t v) { return (uint8_t)(v << 3 | v >> 2); }
inline uint8_t Widen6(uint32_t v) { return (uint8_t)(v << 2 | v >> 4); }

void CopyBounded(char* out, size_t size, const char* text) {
  size_t n = std::strlen(text);
  if (n >= size) {
    n = size - 1;
    while (n > 0 && ((uint8_t)text[n] & 0xC0) == 0x80) n--;  // whole UTF-8 characters only
  }
  std::memcpy(out, text, n);
  out[n] = 0;
}

// Converts the pending presented pixels into B,G,R rows, once.
void HeadlessConvert() {
  const uint8_t* pixels = Headless.pending;
  if (!pixels) return;
  Headless.pending = nullptr;
  const int32_t width = Headless.last.width, height = Headless.last.height;
  const int32_t pitch = Headless.pendingPitch, depth = Headless.pendingDepth;
  const size_t bytes = (size_t)width * height * 3;
  if (bytes > Headless.frameCapacity) {
    uint8_t* grown = (uint8_t*)std::realloc(Headless.frame, bytes);
    if (!grown) return;
    Headless.frame = grown;
    Headless.frameCapacity = bytes;
  }
  for (int32_t y = 0; y < height; y++) {
    const uint8_t* s = pixels + (intptr_t)y * pitch;
    uint8_t* d = Headless.frame + (size_t)y * width * 3;
    if (depth == 32 || depth == 24) {
      const int32_t step = depth / 8;
      for (int32_t x = 0; x < width; x++, d += 3, s += step) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
      }
      continue;
    }
    for (int32_t x = 0; x < width; x++, d += 3) {
      uint16_t p;
      std::memcpy(&p, s + 2 * x, 2);
      if (depth == 16) {
        d[0] = Widen5(p & 31);
        d[1] = Widen6(p >> 5 & 63);
        d[2] = Widen5(p >> 11 & 31);
      } else {
        d[0] = Widen5(p & 31);
        d[1] = Widen5(p >> 5 & 31);
        d[2] = Widen5(p >> 10 & 31);
      }
    }
  }
  Headless.last.bgr = Headless.frame;
}

// The display is about to change or free the presented pixels: a frame that
// may still be read is converted now, while it is what was shown.
void HeadlessPresentedChanging() {
  if (Headless.capture == HeadlessCaptureNone)
    Headless.pending = nullptr;
  else
    HeadlessConvert();
}

}  // namespace

// ---- the backend contract ----

void BackendPumpEvents() {}

void BackendMaxMode(int32_t* width, int32_t* height) {
  *width = Headless.maxWidth;
  *height = Headless.maxHeight;
}

void BackendDesktopMode(int32_t* width, int32_t* height, int32_t* depth) {
  *width = DesktopWidth;
  *height = DesktopHeight;
  *depth = DesktopDepth;
}

bool BackendSetMode(int32_t width, int32_t height, int32_t depth) {
  if (!Headless.modeSet || width != Headless.modeWidth || height != Headless.modeHeight || depth != Headless.modeDepth)
    Headless.flipsSinceMode = 0;
  Headless.modeSet = true;
  Headless.modeWidth = width;
  Headless.modeHeight = height;
  Headless.modeDepth = depth;
  return true;
}

void BackendReleaseMode() { Headless.modeSet = false; }

void BackendPresent(const uint8_t* pixels, int32_t pitch, int32_t width, int32_t height, int32_t depth) {
  Headless.flips++;
  Headless.last = {width, height, nullptr, ++Headless.flipsSinceMode};
  // Kept unconverted: the display promises these pixels stay as they are
  // until the next present or until it calls HeadlessPresentedChanging.
  Headless.pending = Headless.capture == HeadlessCaptureNone ? nullptr : pixels;
  Headless.pendingPitch = pitch;
  Headless.pendingDepth = depth;
  if (!Headless.flipHook) return;
  if (Headless.capture == HeadlessCaptureEvery) HeadlessConvert();
  Headless.flipHook(Headless.last, Headless.flipUser);
}

void BackendWaitRefresh() { Headless.refreshWaits += 1; }

void BackendReadKeys(uint8_t keys[256]) {
  const uint64_t poll = Headless.polls++;
  if (Headless.pollHook) Headless.pollHook(poll, Headless.pollUser);
  std::memcpy(keys, Headless.keys, 256);
}

void BackendShowWindow(bool) {}
void BackendSetTitle(const char*) {}
void BackendShowCursor(bool) {}

int32_t BackendMessageBox(HWND owner, const char* caption, const char* text, UINT type) {
  HeadlessMessageBox box;
  CopyBounded(box.caption, sizeof box.caption, caption);
  CopyBounded(box.text, sizeof box.text, text);
  box.owner = owner;
  box.type = type;
  if (Headless.boxCount < BoxesKept) Headless.boxes[Headless.boxCount] = box;
  Headless.boxCount++;
  if (Headless.echo) {
    std::printf("%s: %s\n", caption, text);
    std::fflush(stdout);
  }
  if (Headless.boxHook) Headless.boxHook(box, Headless.boxUser);
  return Headless.answer;
}

// ---- the test controls ----

void HeadlessReset() {
  std::free(Headless.frame);
  Headless = {};
  Defaults();
  BackendFailures = 0;
  KernelSetTickSource(HeadlessTick);
  UserSetForeignForeground(false);
  UserResetForeground(true);
  UserClearQueue();
  DDrawReset();
}

void HeadlessSetFailures(uint32_t failures) { BackendFailures = failures; }

void HeadlessSetClock(DWORD milliseconds) {
  Headless.clock = milliseconds;
  KernelSetTickSource(HeadlessTick);
}
DWORD HeadlessClock() { return Headless.clock; }

void HeadlessSetKey(int32_t scanCode, bool down) {
  if (scanCode >= 0 && scanCode < 256) Headless.keys[scanCode] = down ? 0x80 : 0;
}
void HeadlessClearKeys() { std::memset(Headless.keys, 0, sizeof Headless.keys); }

void HeadlessSetPollHook(void (*hook)(uint64_t, void*), void* user) {
  Headless.pollHook = hook;
  Headless.pollUser = user;
}

void HeadlessSetForeground(bool foreground) { UserSetForeground(foreground); }
void HeadlessSetForeignForeground(bool foreign) { UserSetForeignForeground(foreign); }
void HeadlessLoseDisplay() { DDrawLoseDisplay(); }
void HeadlessPostKeyUp(UINT virtualKey, bool system) { UserPostKeyUp(virtualKey, system); }
void HeadlessPostClose() { UserPostClose(); }

void HeadlessSetMaxMode(int32_t width, int32_t height) {
  Headless.maxWidth = width;
  Headless.maxHeight = height;
}

void HeadlessSetFlipHook(void (*hook)(const HeadlessFrame&, void*), void* user) {
  Headless.flipHook = hook;
  Headless.flipUser = user;
}
void HeadlessSetCapture(HeadlessCapture capture) {
  Headless.capture = capture;
  if (capture == HeadlessCaptureNone) Headless.pending = nullptr;
}
void HeadlessSetCapture(bool capture) { HeadlessSetCapture(capture ? HeadlessCaptureEvery : HeadlessCaptureNone); }
HeadlessFrame HeadlessLastFrame() {
  HeadlessConvert();
  return Headless.last;
}
uint64_t HeadlessFlipCount() { return Headless.flips; }
uint64_t HeadlessRefreshWaits() { return Headless.refreshWaits; }

int32_t HeadlessMessageBoxCount() { return Headless.boxCount; }
const HeadlessMessageBox* HeadlessMessageBoxAt(int32_t index) {
  if (index < 0 || index >= Headless.boxCount || index >= BoxesKept) return nullptr;
  return &Headless.boxes[index];
}
void HeadlessSetMessageBoxEcho(bool echo) { Headless.echo = echo; }
void HeadlessSetMessageBoxAnswer(int32_t answer) { Headless.answer = answer; }
void HeadlessSetMessageBoxHook(void (*hook)(const HeadlessMessageBox&, void*), void* user) {
  Headless.boxHook = hook;
  Headless.boxUser = user;
}
