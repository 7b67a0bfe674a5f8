// user stand-in: window classes and windows (records of this process, and for
// tests one window of another process that can hold the foreground),
// the message queue with WM_PAINT made on demand, the foreground, window
// enumeration and enabling, the cursor counter and message boxes. Window-
// system events reach the queue through the backend's BackendPumpEvents.
#include <cstdio>
#include <cstring>

#include "platform/backend.h"
#include "platform/kernel.h"

extern const bool PlatformModulesLinked;

namespace {

// Linking the window stand-ins links the built-in module table with them, so
// that every program with a window finds "DDRAW.DLL" and "DINPUT.DLL".
__attribute__((used)) const bool* const ModulesAnchor = &PlatformModulesLinked;

constexpr int32_t ClassMax = 16;
constexpr int32_t WindowMax = 32;
constexpr int32_t QueueMax = 256;

struct WindowClass {
  bool used;
  char16_t name[64];
  WNDPROC proc;
  UINT style;
};

struct Window {
  bool live;
  bool visible;
  bool enabled;
  bool needsPaint;
  WNDPROC proc;
  DWORD style;
  DWORD exStyle;
  DWORD thread;
  DWORD process;  // 0: this process
  RECT rect;
};

struct UserState {
  WindowClass classes[ClassMax];
  Window windows[WindowMax];
  MSG queue[QueueMax];
  int32_t head;
  int32_t count;
  bool processForeground;
  bool foregroundKnown;  // processForeground has been set
  HWND foreign;  // the window of another process that a test made, or null
  int32_t cursorCount;
};
UserState User;

bool SameName(const char16_t* a, const char16_t* b) {
  for (;; a++, b++) {
    char16_t x = *a, y = *b;
    if (x >= 'a' && x <= 'z') x -= 32;
    if (y >= 'a' && y <= 'z') y -= 32;
    if (x != y) return false;
    if (!x) return true;
  }
}

Window* WindowOf(HWND hwnd) {
  const uintptr_t p = (uintptr_t)hwnd, base = (uintptr_t)&User.windows[0];
  if (p < base || p >= base + sizeof User.windows || (p - base) % sizeof(Window)) return nullptr;
  Window* w = (Window*)p;
  return w->live ? w : nullptr;
}

HWND HandleOf(Window* w) { return (HWND)w; }

bool ProcessForeground() {
  if (!User.foregroundKnown) {
    User.processForeground = BackendStartsInForeground;
    User.foregroundKnown = true;
  }
  return User.processForeground;
}

bool Post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (User.count == QueueMax) return false;
  MSG& m = User.queue[(User.head + User.count) % QueueMax];
  m = {hwnd, message, wParam, lParam, GetTickCount(), {0, 0}};
  User.count++;
  return true;
}

bool Matches(const MSG& m, HWND hwnd, UINT low, UINT high) {
  if (hwnd && m.hwnd != hwnd) return false;
  if (low == 0 && high == 0) return true;
  return m.message >= low && m.message <= high;
}

bool DeactivationQueued() {
  for (int32_t i = 0; i < User.count; i++) {
    const MSG& m = User.queue[(User.head + i) % QueueMax];
    if (m.message == WM_ACTIVATE && LOWORD(m.wParam) == WA_INACTIVE) return true;
  }
  return false;
}

// UTF-16 to UTF-8 into a bounded buffer, cut at a whole character.
void ToUtf8(const char16_t* text, char* out, size_t size) {
  size_t n = 0;
  if (text)
    for (size_t i = 0; text[i]; i++) {
      uint32_t c = text[i];
      if (c >= 0xD800 && c <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
        i++;
      } else if (c >= 0xD800 && c <= 0xDFFF) {
        c = 0xFFFD;
      }
      char b[4];
      size_t k;
      if (c < 0x80) {
        b[0] = (char)c;
        k = 1;
      } else if (c < 0x800) {
        b[0] = (char)(0xC0 | c >> 6);
        b[1] = (char)(0x80 | (c & 0x3F));
        k = 2;
      } else if (c < 0x10000) {
        b[0] = (char)(0xE0 | c >> 12);
        b[1] = (char)(0x80 | ((c >> 6) & 0x3F));
        b[2] = (char)(0x80 | (c & 0x3F));
        k = 3;
      } else {
        b[0] = (char)(0xF0 | c >> 18);
        b[1] = (char)(0x80 | ((c >> 12) & 0x3F));
        b[2] = (char)(0x80 | ((c >> 6) & 0x3F));
        b[3] = (char)(0x80 | (c & 0x3F));
        k = 4;
      }
      if (n + k >= size) break;
      std::memcpy(out + n, b, k);
      n += k;
    }
  out[n] = 0;
}

// Virtual-key codes by DIK code (0: the key has none).
const uint8_t VirtualKeys[256] = {
    // 0x00-0x0F: -, Esc, 1-0, - =, Back, Tab
    0, 0x1B, '1', '2', '3', '4', '5', '6', '7', '8', '9', '0', 0xBD, 0xBB, 0x08, 0x09,
    // 0x10-0x1F: Q-P, [ ], Return, LControl, A S
    'Q', 'W', 'E', 'R', 'T', 'Y', 'U', 'I', 'O', 'P', 0xDB, 0xDD, 0x0D, 0x11, 'A', 'S',
    // 0x20-0x2F: D-L, ; ' `, LShift, \, Z X C V
    'D', 'F', 'G', 'H', 'J', 'K', 'L', 0xBA, 0xDE, 0xC0, 0x10, 0xDC, 'Z', 'X', 'C', 'V',
    // 0x30-0x3F: B N M , . /, RShift, Num*, LAlt, Space, Caps, F1-F5
    'B', 'N', 'M', 0xBC, 0xBE, 0xBF, 0x10, 0x6A, 0x12, 0x20, 0x14, 0x70, 0x71, 0x72, 0x73, 0x74,
    // 0x40-0x4F: F6-F10, NumLock, Scroll, Num7 8 9, Num-, Num4 5 6, Num+, Num1
    0x75, 0x76, 0x77, 0x78, 0x79, 0x90, 0x91, 0x67, 0x68, 0x69, 0x6D, 0x64, 0x65, 0x66, 0x6B, 0x61,
    // 0x50-0x5F: Num2 3 0 ., -, -, OEM_102, F11, F12
    0x62, 0x63, 0x60, 0x6E, 0, 0, 0xE2, 0x7A, 0x7B, 0, 0, 0, 0, 0, 0, 0,
    // 0x60-0x6F: F13 F14 F15 at 0x64-0x66
    0, 0, 0, 0, 0x7C, 0x7D, 0x7E, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // 0x70-0x7F: Kana 0x70, Convert 0x79, NoConvert 0x7B
    0x15, 0, 0, 0xC1, 0, 0, 0, 0, 0, 0x1C, 0, 0x1D, 0, 0, 0xC2, 0,
    // 0x80-0x8F: Num= at 0x8D
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x92, 0, 0,
    // 0x90-0x9F: PrevTrack 0x90, NextTrack 0x99, NumEnter 0x9C, RControl 0x9D
    0xB1, 0, 0, 0, 0, 0, 0, 0, 0, 0xB0, 0, 0, 0x0D, 0x11, 0, 0,
    // 0xA0-0xAF: Mute, Calculator, PlayPause, -, Stop, ..., VolumeDown 0xAE
    0xAD, 0xB7, 0xB3, 0, 0xB2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xAE, 0,
    // 0xB0-0xBF: VolumeUp, -, WebHome, NumComma, -, Num/, -, SysRq, RAlt
    0xAF, 0, 0xAC, 0x6C, 0, 0x6F, 0, 0x2C, 0x12, 0, 0, 0, 0, 0, 0, 0,
    // 0xC0-0xCF: Pause 0xC5, Home 0xC7, Up, PageUp, -, Left, -, Right, -, End
    0, 0, 0, 0, 0, 0x13, 0, 0x24, 0x26, 0x21, 0, 0x25, 0, 0x27, 0, 0x23,
    // 0xD0-0xDF: Down, PageDown, Insert, Delete, ..., LWin 0xDB, RWin, Apps, Power, Sleep
    0x28, 0x22, 0x2D, 0x2E, 0, 0, 0, 0, 0, 0, 0, 0x5B, 0x5C, 0x5D, 0, 0x5F,
    // 0xE0-0xEF: Wake 0xE3, WebSearch 0xE5 ... Mail 0xEC, MediaSelect 0xED
    0, 0, 0, 0, 0, 0xAA, 0xAB, 0xA8, 0xA9, 0xA7, 0xA6, 0, 0xB4, 0xB5, 0, 0,
    // 0xF0-0xFF
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
};

}  // namespace

// ---- the stand-ins ----

WORD RegisterClassExW(const WNDCLASSEXW* wc) {
  // The platform's 32-bit record is 48 bytes; either size is accepted.
  if (!wc || (wc->cbSize != sizeof(WNDCLASSEXW) && wc->cbSize != 48) || !wc->lpfnWndProc || !wc->lpszClassName)
    return 0;
  if (BackendFailures & HeadlessFailRegisterClass) return 0;
  size_t length = 0;
  while (wc->lpszClassName[length]) length++;
  if (length == 0 || length >= 64) return 0;
  int32_t free = -1;
  for (int32_t i = 0; i < ClassMax; i++) {
    if (User.classes[i].used && SameName(User.classes[i].name, wc->lpszClassName)) return 0;
    if (!User.classes[i].used && free < 0) free = i;
  }
  if (free < 0) return 0;
  WindowClass& c = User.classes[free];
  c.used = true;
  std::memcpy(c.name, wc->lpszClassName, (length + 1) * sizeof(char16_t));
  c.proc = wc->lpfnWndProc;
  c.style = wc->style;
  return (WORD)(0xC000 + free);
}

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND, HMENU, HINSTANCE, void*) {
  if (!className || (BackendFailures & HeadlessFailCreateWindow)) return nullptr;
  const WindowClass* c = nullptr;
  for (int32_t i = 0; i < ClassMax; i++)
    if (User.classes[i].used && SameName(User.classes[i].name, className)) c = &User.classes[i];
  if (!c) return nullptr;
  for (int32_t i = 0; i < WindowMax; i++) {
    Window& w = User.windows[i];
    if (w.live) continue;
    w = {};
    w.live = true;
    w.enabled = !(style & WS_DISABLED);
    w.visible = (style & WS_VISIBLE) != 0;
    w.proc = c->proc;
    w.style = style;
    w.exStyle = exStyle;
    w.thread = GetCurrentThreadId();
    w.rect = {x, y, x + width, y + height};
    w.needsPaint = w.visible;
    HWND hwnd = HandleOf(&w);
    if (hwnd == UserMainWindow() && windowName) SetWindowTextW(hwnd, windowName);
    return hwnd;
  }
  return nullptr;
}

BOOL SetWindowTextW(HWND hwnd, LPCWSTR text) {
  if (!WindowOf(hwnd)) return FALSE;
  if (hwnd == UserMainWindow()) {
    char utf8[512];
    ToUtf8(text, utf8, sizeof utf8);
    BackendSetTitle(utf8);
  }
  return TRUE;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) {
  Window* w = WindowOf(hwnd);
  if (!w) return FALSE;
  w->rect = {x, y, x + width, y + height};
  if (repaint && w->visible) w->needsPaint = true;
  return TRUE;
}

BOOL ShowWindow(HWND hwnd, int command) {
  Window* w = WindowOf(hwnd);
  if (!w) return FALSE;
  const bool was = w->visible;
  w->visible = command != SW_HIDE;
  if (w->visible && !was) w->needsPaint = true;
  if (hwnd == UserMainWindow()) BackendShowWindow(w->visible);
  return was;
}

int ShowCursor(BOOL show) {
  const bool wasShown = User.cursorCount >= 0;
  User.cursorCount += show ? 1 : -1;
  if ((User.cursorCount >= 0) != wasShown) BackendShowCursor(User.cursorCount >= 0);
  return User.cursorCount;
}

HICON LoadIconW(HINSTANCE, LPCWSTR name) {
  // The platform's application icon only: the program has no icon resource,
  // so its resource 1 is not found (null), as on the platform.
  static int icon;
  const uintptr_t id = (uintptr_t)name;
  return id == 32512 ? (HICON)&icon : nullptr;
}

BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT low, UINT high, UINT remove) {
  if (!msg) return FALSE;
  // A deactivation taken off the queue without being dispatched still ends
  // the display's stay.
  if (!DeactivationQueued()) DDrawApplyPendingLoss();
  for (int pass = 0; pass < 2; pass++) {
    for (int32_t i = 0; i < User.count; i++) {
      const int32_t at = (User.head + i) % QueueMax;
      if (!Matches(User.queue[at], hwnd, low, high)) continue;
      *msg = User.queue[at];
      if (remove & PM_REMOVE) {
        for (int32_t j = i; j > 0; j--)
          User.queue[(User.head + j) % QueueMax] = User.queue[(User.head + j - 1) % QueueMax];
        User.head = (User.head + 1) % QueueMax;
        User.count--;
      }
      return TRUE;
    }
    if (pass == 0) BackendPumpEvents();
  }
  // WM_PAINT comes last, made while a window needs painting.
  if (low == 0 && high == 0 ? true : (WM_PAINT >= low && WM_PAINT <= high))
    for (int32_t i = 0; i < WindowMax; i++) {
      Window& w = User.windows[i];
      if (!w.live || !w.needsPaint || !w.visible || (hwnd && hwnd != HandleOf(&w))) continue;
      *msg = {HandleOf(&w), WM_PAINT, 0, 0, GetTickCount(), {0, 0}};
      return TRUE;
    }
  return FALSE;
}

BOOL TranslateMessage(const MSG* msg) {
  return msg && (msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN);
}

LRESULT DispatchMessageA(const MSG* msg) {
  if (!msg) return 0;
  Window* w = WindowOf(msg->hwnd);
  if (!w || !w->proc) return 0;  // another process's window is not ours to run
  LRESULT result = w->proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
  // A window procedure that leaves WM_PAINT unanswered must not keep the
  // pump busy forever.
  if (msg->message == WM_PAINT && (w = WindowOf(msg->hwnd))) w->needsPaint = false;
  if (msg->message == WM_ACTIVATE && LOWORD(msg->wParam) == WA_INACTIVE) DDrawApplyPendingLoss();
  return result;
}

LRESULT DefWindowProcW(HWND hwnd, UINT message, WPARAM, LPARAM) {
  Window* w = WindowOf(hwnd);
  if (!w) return 0;
  if (message == WM_PAINT) w->needsPaint = false;
  if (message == WM_ERASEBKGND) return 1;
  return 0;
}

HDC BeginPaint(HWND hwnd, PAINTSTRUCT* paint) {
  Window* w = WindowOf(hwnd);
  if (!w || !paint) return nullptr;
  w->needsPaint = false;
  std::memset(paint, 0, sizeof *paint);
  paint->rcPaint = {0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
  paint->hdc = GdiCreateSurfaceDC(nullptr);
  return paint->hdc;
}

BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* paint) {
  if (!WindowOf(hwnd) || !paint) return FALSE;
  if (paint->hdc) GdiReleaseSurfaceDC(paint->hdc);
  return TRUE;
}

BOOL EnumWindows(WNDENUMPROC visit, LPARAM lParam) {
  if (!visit) return FALSE;
  for (int32_t i = 0; i < WindowMax; i++)
    if (User.windows[i].live && !visit(HandleOf(&User.windows[i]), lParam)) return FALSE;
  return TRUE;
}

DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* processId) {
  Window* w = WindowOf(hwnd);
  if (!w) return 0;
  if (processId) *processId = w->process ? w->process : GetCurrentProcessId();
  return w->thread;
}

BOOL IsWindowVisible(HWND hwnd) {
  Window* w = WindowOf(hwnd);
  return w && w->visible;
}

BOOL IsWindowEnabled(HWND hwnd) {
  Window* w = WindowOf(hwnd);
  return w && w->enabled;
}

// Out of the foreground, the window of another process holds it if a test made one.
HWND GetForegroundWindow() { return ProcessForeground() ? UserMainWindow() : User.foreign; }

BOOL EnableWindow(HWND hwnd, BOOL enable) {
  Window* w = WindowOf(hwnd);
  if (!w) return FALSE;
  const bool wasDisabled = !w->enabled;
  w->enabled = enable != FALSE;
  return wasDisabled;
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  if (owner && !WindowOf(owner)) return 0;
  return BackendMessageBox(owner, caption ? caption : "Error", text ? text : "", type);
}

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  if (owner && !WindowOf(owner)) return 0;
  static char captionUtf8[1024], textUtf8[8192];
  ToUtf8(caption ? caption : u"Error", captionUtf8, sizeof captionUtf8);
  ToUtf8(text, textUtf8, sizeof textUtf8);
  return BackendMessageBox(owner, captionUtf8, textUtf8, type);
}

// ---- for the backends ----

HWND UserMainWindow() {
  return User.windows[0].live ? HandleOf(&User.windows[0]) : nullptr;
}

bool UserIsWindow(HWND hwnd) { return WindowOf(hwnd) != nullptr; }

UINT UserVirtualKey(int32_t dik) { return (dik >= 0 && dik < 256) ? VirtualKeys[dik] : 0; }

void UserSetForeground(bool foreground) {
  if (ProcessForeground() == foreground) return;
  User.processForeground = foreground;
  if (HWND main = UserMainWindow()) Post(main, WM_ACTIVATE, foreground ? WA_ACTIVE : WA_INACTIVE, 0);
  if (!foreground) DDrawForegroundLost();
}

void UserSetForeignForeground(bool foreign) {
  if (!foreign) {
    if (Window* w = WindowOf(User.foreign)) *w = {};
    User.foreign = nullptr;
    return;
  }
  if (!User.foreign) {
    // The last free slot, so that it never becomes the first window created.
    for (int32_t i = WindowMax - 1; i >= 0 && !User.foreign; i--) {
      Window& w = User.windows[i];
      if (w.live) continue;
      w = {};
      w.live = w.visible = w.enabled = true;
      w.style = WS_POPUP | WS_VISIBLE;
      w.thread = ~GetCurrentThreadId();
      w.process = GetCurrentProcessId() + 1;
      User.foreign = HandleOf(&w);
    }
  }
  UserSetForeground(false);
}

void UserResetForeground(bool foreground) {
  User.processForeground = foreground;
  User.foregroundKnown = true;
}

void UserPostKey(int32_t dik, bool down, bool altHeld) {
  HWND main = UserMainWindow();
  const UINT vk = UserVirtualKey(dik);
  if (!main || !vk) return;
  const bool alt = dik == 0x38 || dik == 0xB8;
  const bool system = altHeld || alt || vk == 0x79;  // Alt, or F10
  const bool extended = dik >= 0x80;
  LPARAM l = 1 | (LPARAM)(dik & 0x7F) << 16 | (LPARAM)extended << 24 | (LPARAM)(altHeld ? 1 : 0) << 29;
  if (!down) l |= (LPARAM)3 << 30;
  Post(main, down ? (system ? WM_SYSKEYDOWN : WM_KEYDOWN) : (system ? WM_SYSKEYUP : WM_KEYUP), vk, l);
}

void UserPostKeyUp(UINT virtualKey, bool system) {
  if (HWND main = UserMainWindow())
    Post(main, system ? WM_SYSKEYUP : WM_KEYUP, virtualKey, (LPARAM)1 | (LPARAM)3 << 30);
}

void UserPostClose() {
  if (HWND main = UserMainWindow()) Post(main, WM_CLOSE, 0, 0);
}

void UserInvalidate() {
  if (Window* w = WindowOf(UserMainWindow())) w->needsPaint = true;
}

void UserClearQueue() {
  User.head = 0;
  User.count = 0;
}
