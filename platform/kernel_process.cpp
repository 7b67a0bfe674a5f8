// Process stand-ins: module handle, exit with its hooks, ids, the command line
// rebuilt from argv, the current directory, the tick clock, the version and
// run-time loading over the table of built-in modules.
#include <fcntl.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/kernel.h"
#include "platform/kernel_text.h"

namespace {

struct KernelModule {
  char name[64];  // upper case
  const KernelExport* exports;
  int32_t loads;
};

constexpr int MaxModules = 16;
constexpr int MaxExitHooks = 8;

struct ProcessState {
  std::u16string commandLine;
  bool commandLineBuilt;
  bool commandLineFixed;  // set verbatim by a test
  void (*exitHooks[MaxExitHooks])();
  int exitHookCount;
  KernelModule modules[MaxModules];
  int moduleCount;
  bool builtinsRegistered;
  std::atomic<DWORD (*)()> tickSource;
  bool windowsFamily;  // a test asks GetVersionExA for the other platform family
  char instance;  // its address is the program's module handle
};
ProcessState Process;

// Appends one argv item as the platform's command line writes it.
void AppendItem(std::u16string& line, const char* item) {
  std::u16string wide = KernelUtf8ToWide(item);
  if (!line.empty()) line += u' ';
  if (wide.empty() || wide.find(u' ') != std::u16string::npos)
    line += u'"' + wide + u'"';
  else
    line += wide;
}

// Without KernelSetArguments (tests with their own main) the arguments come
// from the process itself.
void BuildFromProc() {
  Process.commandLine.clear();
  int fd = open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  std::string all;
  char chunk[4096];
  for (;;) {
    ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    all.append(chunk, size_t(got));
  }
  close(fd);
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    AppendItem(Process.commandLine, all.substr(start, end - start).c_str());
    start = end + 1;
  }
}

char Upper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }

// The module file name as the table keeps it: the last path component, upper
// case, with ".DLL" added when it has no extension.
bool ModuleKey(const std::string& name, char* key) {
  size_t slash = name.find_last_of("\\/");
  std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
  if (!base.empty() && base.back() == '.')
    base.pop_back();
  else if (base.find('.') == std::string::npos)
    base += ".DLL";
  if (base.empty() || base.size() >= sizeof(KernelModule::name)) return false;
  for (size_t i = 0; i < base.size(); i++) key[i] = Upper(base[i]);
  key[base.size()] = 0;
  return true;
}

KernelModule* FindModule(const char* key) {
  for (int i = 0; i < Process.moduleCount; i++)
    if (std::strcmp(Process.modules[i].name, key) == 0) return &Process.modules[i];
  return nullptr;
}

KernelModule* ModuleOf(HMODULE handle) {
  uintptr_t p = reinterpret_cast<uintptr_t>(handle);
  uintptr_t first = reinterpret_cast<uintptr_t>(&Process.modules[0]);
  uintptr_t end = reinterpret_cast<uintptr_t>(&Process.modules[Process.moduleCount]);
  if (p < first || p >= end || (p - first) % sizeof(KernelModule) != 0) return nullptr;
  return reinterpret_cast<KernelModule*>(handle);
}

DWORD SystemTicks() {
  timespec now;
  if (clock_gettime(CLOCK_BOOTTIME, &now) != 0) clock_gettime(CLOCK_MONOTONIC, &now);
  // Wraps after 2^32 ms, as the platform's tick count does.
  return DWORD(uint64_t(now.tv_sec) * 1000u + uint64_t(now.tv_nsec) / 1000000u);
}

}  // namespace

// The program's own module for a null name; else a loaded built-in module, or null.
HMODULE GetModuleHandleW(LPCWSTR name) {
  if (!name) return reinterpret_cast<HMODULE>(&Process.instance);
  char key[sizeof(KernelModule::name)];
  if (!ModuleKey(KernelUtf16ToUtf8(name), key)) return nullptr;
  KernelModule* module = FindModule(key);
  return (module && module->loads > 0) ? reinterpret_cast<HMODULE>(module) : nullptr;
}

// Runs the exit hooks newest first, flushes stdio and ends the process.
void ExitProcess(UINT exitCode) {
  while (Process.exitHookCount > 0) {
    // Taken off before it runs, so a hook that exits again does not loop.
    void (*hook)() = Process.exitHooks[--Process.exitHookCount];
    hook();
  }
  std::fflush(nullptr);
  _exit(int(exitCode));
}

void KernelOnExit(void (*hook)()) {
  if (hook && Process.exitHookCount < MaxExitHooks) Process.exitHooks[Process.exitHookCount++] = hook;
}

DWORD GetCurrentThreadId() { return DWORD(syscall(SYS_gettid)); }

DWORD GetCurrentProcessId() { return DWORD(getpid()); }

void KernelSetArguments(int argc, char** argv) {
  Process.commandLine.clear();
  for (int i = 0; i < argc; i++)
    if (argv && argv[i]) AppendItem(Process.commandLine, argv[i]);
  Process.commandLineBuilt = true;
  Process.commandLineFixed = false;
}

void KernelSetCommandLine(const char16_t* line) {
  if (line) {
    Process.commandLine = line;
    Process.commandLineFixed = true;
    Process.commandLineBuilt = true;
  } else {
    Process.commandLineFixed = false;
    Process.commandLineBuilt = false;
  }
}

// The command line; never null.
LPWSTR GetCommandLineW() {
  if (!Process.commandLineBuilt) {
    BuildFromProc();
    Process.commandLineBuilt = true;
  }
  return Process.commandLine.data();
}

DWORD GetCurrentDirectoryW(DWORD bufferLength, LPWSTR buffer) {
  std::string cwd(256, '\0');
  while (!getcwd(cwd.data(), cwd.size())) {
    if (errno != ERANGE || cwd.size() > (1u << 24)) return 0;
    cwd.resize(cwd.size() * 2);
  }
  cwd.resize(std::strlen(cwd.c_str()));
  std::u16string wide = KernelUtf8ToWide(cwd);
  for (char16_t& c : wide)
    if (c == u'/') c = u'\\';
  DWORD n = DWORD(wide.size());
  if (!buffer || bufferLength <= n) return n + 1;
  std::memcpy(buffer, wide.data(), n * sizeof(char16_t));
  buffer[n] = 0;
  return n;
}

DWORD GetTickCount() {
  DWORD (*source)() = Process.tickSource.load();
  return source ? source() : SystemTicks();
}

void KernelSetTickSource(DWORD (*source)()) { Process.tickSource.store(source); }

void KernelSetWindowsFamily(bool windows) { Process.windowsFamily = windows; }

void InitCommonControls() {}

// Reports an NT-family system (or, for a test, the other family); the caller
// sets dwOSVersionInfoSize first.
BOOL GetVersionExA(OSVERSIONINFOA* info) {
  if (!info || info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA)) return FALSE;
  const bool windows = Process.windowsFamily;
  info->dwMajorVersion = windows ? 4 : 5;
  info->dwMinorVersion = windows ? 10 : 1;
  info->dwBuildNumber = windows ? 2222 : 2600;
  info->dwPlatformId = windows ? VER_PLATFORM_WIN32_WINDOWS : VER_PLATFORM_WIN32_NT;
  std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
  return TRUE;
}

void KernelRegisterModule(const char* fileName, const KernelExport* exports) {
  char key[sizeof(KernelModule::name)];
  if (!fileName || !ModuleKey(fileName, key)) return;
  KernelModule* module = FindModule(key);
  if (!module) {
    if (Process.moduleCount >= MaxModules) return;
    module = &Process.modules[Process.moduleCount++];
    std::memcpy(module->name, key, sizeof key);
    module->loads = 0;
  }
  module->exports = exports;
}

// A built-in module by file name (case-insensitive), or null.
HMODULE LoadLibraryW(LPCWSTR name) {
  if (!Process.builtinsRegistered) {
    Process.builtinsRegistered = true;
    PlatformBuiltinModules();
  }
  if (!name) return nullptr;
  char key[sizeof(KernelModule::name)];
  if (!ModuleKey(KernelUtf16ToUtf8(name), key)) return nullptr;
  KernelModule* module = FindModule(key);
  if (!module) return nullptr;
  module->loads++;
  return reinterpret_cast<HMODULE>(module);
}

// An exported routine by name, or null (ordinals are not exported).
FARPROC GetProcAddress(HMODULE handle, LPCSTR procName) {
  KernelModule* module = ModuleOf(handle);
  if (!module || !module->exports || reinterpret_cast<uintptr_t>(procName) < 0x10000) return nullptr;
  for (const KernelExport* e = module->exports; e->name; e++)
    if (std::strcmp(e->name, procName) == 0) return e->routine;
  return nullptr;
}

BOOL FreeLibrary(HMODULE handle) {
  KernelModule* module = ModuleOf(handle);
  if (!module || module->loads <= 0) return FALSE;
  module->loads--;
  return TRUE;
}
