// Windows: the kernel's heaps, process, files, clock and module loading are
// the real kernel32 calls; only the calls that take or give wide text are
// bridged, under the names the Parts call.
#pragma once

#include "platform/win32.h"

// The program entry hands over its arguments on Linux; Windows keeps its own
// command line, so there is nothing to do.
inline void KernelSetArguments(int, char**) {}

inline char16_t* WinGetCommandLineW() { return reinterpret_cast<char16_t*>(::GetCommandLineW()); }
inline DWORD WinGetCurrentDirectoryW(DWORD length, char16_t* buffer) {
  return ::GetCurrentDirectoryW(length, WinWide(buffer));
}
inline HMODULE WinGetModuleHandleW(const char16_t* name) { return ::GetModuleHandleW(WinWide(name)); }
inline HMODULE WinLoadLibraryW(const char16_t* name) { return ::LoadLibraryW(WinWide(name)); }
inline HANDLE WinCreateFileW(const char16_t* name, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                             DWORD disposition, DWORD attributes, HANDLE templateFile) {
  return ::CreateFileW(WinWide(name), access, share, security, disposition, attributes, templateFile);
}
// The tick clock; a test build may put a routine of its own in front of it.
extern DWORD (*WinTickHook)();
inline DWORD WinGetTickCount() { return WinTickHook ? WinTickHook() : ::GetTickCount(); }

inline int WinMultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int bytes, char16_t* wide, int wideChars) {
  return ::MultiByteToWideChar(codePage, flags, text, bytes, WinWide(wide), wideChars);
}

// SetConsoleCtrlHandler with the Parts' routine, which on i686 has the default
// convention where the headers' is __stdcall. One routine at a time is
// bridged (the program sets one); removing it takes it away.
typedef BOOL (*WinPartsCtrlHandler)(DWORD type);
BOOL WinSetConsoleCtrlHandler(WinPartsCtrlHandler handler, BOOL add);

#define SetConsoleCtrlHandler WinSetConsoleCtrlHandler
#define GetTickCount WinGetTickCount
#define MultiByteToWideChar WinMultiByteToWideChar
#define GetCommandLineW WinGetCommandLineW
#define GetCurrentDirectoryW WinGetCurrentDirectoryW
#define GetModuleHandleW WinGetModuleHandleW
#define LoadLibraryW WinLoadLibraryW
#define CreateFileW WinCreateFileW

// comctl32's InitCommonControls: nothing the program shows needs it.
inline void InitCommonControls() {}
