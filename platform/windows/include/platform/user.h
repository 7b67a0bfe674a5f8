// Windows: user32 and gdi32 as they are. Bridged: the calls that take wide
// text, the window class record (its names are wide text and, on i686, the
// headers' window procedure is __stdcall while the Parts' is the default
// convention) and the EnumWindows routine (the same convention question).
#pragma once

#include "platform/win32.h"

typedef LRESULT (*WinPartsWindowProc)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
typedef BOOL (*WinPartsEnumProc)(HWND window, LPARAM lParam);

// The real WNDCLASSEXW field for field, with char16_t names and the Parts'
// window procedure.
struct WinWindowClass {
  UINT cbSize;
  UINT style;
  WinPartsWindowProc lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  const char16_t* lpszMenuName;
  const char16_t* lpszClassName;
  HICON hIconSm;
};
static_assert(sizeof(WinWindowClass) == sizeof(::tagWNDCLASSEXW), "the window class record keeps its layout");

// RegisterClassExW with the Parts' record; 0 on failure. On i686 one window
// procedure at a time is bridged (the program registers one class); a second,
// different one is refused.
WORD WinRegisterClassExW(const WinWindowClass* windowClass);
// EnumWindows with the Parts' routine.
BOOL WinEnumWindows(WinPartsEnumProc visit, LPARAM lParam);

inline HWND WinCreateWindowExW(DWORD exStyle, const char16_t* className, const char16_t* windowName, DWORD style,
                               int x, int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                               void* param) {
  return ::CreateWindowExW(exStyle, WinWide(className), WinWide(windowName), style, x, y, width, height, parent,
                           menu, instance, param);
}
inline BOOL WinSetWindowTextW(HWND window, const char16_t* text) { return ::SetWindowTextW(window, WinWide(text)); }
inline int WinMessageBoxW(HWND owner, const char16_t* text, const char16_t* caption, UINT type) {
  return ::MessageBoxW(owner, WinWide(text), WinWide(caption), type);
}
inline BOOL WinTextOutW(HDC dc, int x, int y, const char16_t* text, int length) {
  return ::TextOutW(dc, x, y, WinWide(text), length);
}

#define WNDCLASSEXW WinWindowClass
#define RegisterClassExW WinRegisterClassExW
#define EnumWindows WinEnumWindows
#define CreateWindowExW WinCreateWindowExW
#define SetWindowTextW WinSetWindowTextW
#define MessageBoxW WinMessageBoxW
#define TextOutW WinTextOutW
