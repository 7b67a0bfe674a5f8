// Windows: the state behind the kernel bridges of platform/kernel.h.
#include "platform/kernel.h"

// The real call, under the name the bridge takes for itself.
#undef SetConsoleCtrlHandler

DWORD (*WinTickHook)();

namespace {

WinPartsCtrlHandler WinCtrlHandler;

BOOL WINAPI WinCtrlThunk(DWORD type) { return WinCtrlHandler ? WinCtrlHandler(type) : FALSE; }

}  // namespace

BOOL WinSetConsoleCtrlHandler(WinPartsCtrlHandler handler, BOOL add) {
  if (!handler) return ::SetConsoleCtrlHandler(nullptr, add);
  if (add) {
    if (WinCtrlHandler && WinCtrlHandler != handler) {
      ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return FALSE;
    }
    WinCtrlHandler = handler;
    return ::SetConsoleCtrlHandler(WinCtrlThunk, TRUE);
  }
  if (handler != WinCtrlHandler) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  WinCtrlHandler = nullptr;
  return ::SetConsoleCtrlHandler(WinCtrlThunk, FALSE);
}
