// Kernel stand-ins: heaps, process, command line, current directory, code
// pages, the tick clock, files and the table of built-in modules.
#pragma once

#include "platform/win32.h"

// Heaps.
#define HEAP_NO_SERIALIZE 0x00000001
#define HEAP_ZERO_MEMORY 0x00000008

HANDLE HeapCreate(DWORD options, size_t initialSize, size_t maximumSize);
BOOL HeapDestroy(HANDLE heap);
void* HeapAlloc(HANDLE heap, DWORD flags, size_t bytes);
void* HeapReAlloc(HANDLE heap, DWORD flags, void* block, size_t bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, void* block);
// The exact size requested for the block; (size_t)-1 for a block not of this heap.
size_t HeapSize(HANDLE heap, DWORD flags, const void* block);

// Process.
HMODULE GetModuleHandleW(LPCWSTR name);
[[noreturn]] void ExitProcess(UINT exitCode);
DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();

// The command line as the platform would hand it over, rebuilt from argv:
// items holding a space, or empty, are put in double quotes.
LPWSTR GetCommandLineW();
// Directory with '\' separators; result as the platform's: characters written
// (without the terminator), or the size needed (with it) when the buffer is
// too small, 0 on failure.
DWORD GetCurrentDirectoryW(DWORD bufferLength, LPWSTR buffer);

#define CP_ACP 0
#define CP_UTF8 65001
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int bytes, LPWSTR wide, int wideChars);

// Milliseconds since the system started (the headless backend sets it).
DWORD GetTickCount();

// Files.
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2
#define INVALID_FILE_SIZE 0xFFFFFFFFu
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, void* security, DWORD disposition,
                   DWORD attributes, HANDLE templateFile);
BOOL ReadFile(HANDLE file, void* buffer, DWORD bytes, DWORD* bytesRead, void* overlapped);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytes, DWORD* bytesWritten, void* overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method);
DWORD GetFileSize(HANDLE file, DWORD* sizeHigh);
BOOL CloseHandle(HANDLE object);

// Why the last failing call of this thread failed (CreateFileW sets it).
#define ERROR_SUCCESS 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_ACCESS_DENIED 5
#define ERROR_SHARING_VIOLATION 32
#define ERROR_INVALID_PARAMETER 87
#define ERROR_OPEN_FAILED 110
#define ERROR_INVALID_NAME 123
#define ERROR_FILENAME_EXCED_RANGE 206
#define ERROR_BAD_FILE_TYPE 222
#define ERROR_DIRECTORY 267
DWORD GetLastError();
void SetLastError(DWORD code);

// The standard streams as file handles for WriteFile; null where the process
// has none (the stream is closed).
#define STD_INPUT_HANDLE ((DWORD)-10)
#define STD_OUTPUT_HANDLE ((DWORD)-11)
#define STD_ERROR_HANDLE ((DWORD)-12)
HANDLE GetStdHandle(DWORD which);

// Stop requests from the terminal: Ctrl+C (SIGINT) arrives as CTRL_C_EVENT, a
// termination request (SIGTERM) as CTRL_CLOSE_EVENT. A handler that returns
// TRUE has taken the request and the process goes on; it runs inside the
// signal handler (on the platform, on a thread of its own), so it may only set
// a flag. Without a handler taking it, the request ends the process as the
// system would. FALSE for a null handler.
#define CTRL_C_EVENT 0
#define CTRL_CLOSE_EVENT 2
typedef BOOL (*PHANDLER_ROUTINE)(DWORD type);
BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add);

// Run-time loading over the built-in stand-in modules ("DDRAW.DLL", "DINPUT.DLL").
HMODULE LoadLibraryW(LPCWSTR name);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
BOOL FreeLibrary(HMODULE module);

void InitCommonControls();

#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2
struct OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  char szCSDVersion[128];
};
BOOL GetVersionExA(OSVERSIONINFOA* info);

// ---- Platform-internal: used by the program entry, backends and tests. ----

// Hands the process arguments to GetCommandLineW.
void KernelSetArguments(int argc, char** argv);
// One exported routine of a built-in module.
struct KernelExport {
  const char* name;
  FARPROC routine;
};
// Registers a built-in module under its file name (matched case-insensitively);
// the export list ends with a null name. Later registrations of a name replace it.
void KernelRegisterModule(const char* fileName, const KernelExport* exports);
// Replaces the tick source (the headless backend's test clock); null restores
// the system's monotonic clock.
void KernelSetTickSource(DWORD (*source)());
// Tests: GetVersionExA reports VER_PLATFORM_WIN32_WINDOWS (true) or, as
// always otherwise, VER_PLATFORM_WIN32_NT (false).
void KernelSetWindowsFamily(bool windows);
// Registers the built-in stand-in modules; LoadLibraryW calls it once before
// its first lookup (defined with the display and input stand-ins).
void PlatformBuiltinModules();
// Runs at ExitProcess before the process ends, newest first (a backend gives
// the display back here). At most 8 hooks.
void KernelOnExit(void (*hook)());
// Number of heap allocations (HeapAlloc/HeapReAlloc) made so far, for tests.
uint64_t KernelHeapAllocations();
// Tests: the number of live blocks of a heap (0 for a handle that is no heap).
uint64_t KernelHeapBlockCount(HANDLE heap);
// Tests: after `allowed` more successful HeapAlloc/HeapReAlloc calls every
// further one fails (returns null); a negative value lets them succeed again.
void KernelHeapFailAfter(int64_t allowed);
// Tests: while set, every HeapCreate fails.
void KernelHeapCreateFail(bool fail);
// Tools: the path of the file the last CreateFileW was asked to open ("" when
// none was), which is the one a failed load could not read.
const char* KernelLastFileName();
// Backends: standard error goes nowhere from the first call until the
// matching KernelQuietEnd, so that libraries' own warnings (on a missing
// XDG_RUNTIME_DIR, say) do not reach the person at the terminal; Tessel's own
// lines go through GetStdHandle(STD_ERROR_HANDLE), which keeps the real stream.
void KernelQuietBegin();
void KernelQuietEnd();
// Tests: the command line GetCommandLineW hands out, verbatim; null goes back
// to the one rebuilt from the arguments.
void KernelSetCommandLine(const char16_t* line);
