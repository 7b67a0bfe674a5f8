// Windows: the window class and window enumeration bridges of platform/user.h.
#include "platform/user.h"

// This file calls the real ones.
#undef RegisterClassExW
#undef EnumWindows

namespace {

struct WinUserModule {
  WinPartsWindowProc windowProc;  // the Parts' procedure behind WinWindowProc (i686)
};
WinUserModule WinUser;

struct WinEnumCall {
  WinPartsEnumProc visit;
  LPARAM lParam;
};

BOOL CALLBACK WinEnumVisit(HWND window, LPARAM call) {
  const WinEnumCall* enumCall = reinterpret_cast<const WinEnumCall*>(call);
  return enumCall->visit(window, enumCall->lParam);
}

#if defined(__i386__)
LRESULT CALLBACK WinWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return WinUser.windowProc(window, message, wParam, lParam);
}
#endif

}  // namespace

WORD WinRegisterClassExW(const WinWindowClass* windowClass) {
  if (!windowClass) return 0;
  ::tagWNDCLASSEXW real = {};
  real.cbSize = sizeof real;
  real.style = windowClass->style;
#if defined(__i386__)
  if (WinUser.windowProc && WinUser.windowProc != windowClass->lpfnWndProc) return 0;
  WinUser.windowProc = windowClass->lpfnWndProc;
  real.lpfnWndProc = WinWindowProc;
#else
  WinUser.windowProc = windowClass->lpfnWndProc;
  real.lpfnWndProc = windowClass->lpfnWndProc;
#endif
  real.cbClsExtra = windowClass->cbClsExtra;
  real.cbWndExtra = windowClass->cbWndExtra;
  real.hInstance = windowClass->hInstance;
  real.hIcon = windowClass->hIcon;
  real.hCursor = windowClass->hCursor;
  real.hbrBackground = windowClass->hbrBackground;
  real.lpszMenuName = WinWide(windowClass->lpszMenuName);
  real.lpszClassName = WinWide(windowClass->lpszClassName);
  real.hIconSm = windowClass->hIconSm;
  return ::RegisterClassExW(&real);
}

BOOL WinEnumWindows(WinPartsEnumProc visit, LPARAM lParam) {
  if (!visit) return FALSE;
  WinEnumCall call = {visit, lParam};
  return ::EnumWindows(WinEnumVisit, reinterpret_cast<LPARAM>(&call));
}
