// Windows: what the map tools' file handling takes from POSIX, on the C
// runtime that mingw-w64 links. Included ahead of every source of
// tessel-map.exe by the Windows build (cmake/windows-tools.cmake).
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>

#include <cerrno>
// Before the names below are defined: <cstdio> undefines a macro named rename.
#include <cstdio>

// mkdir takes no mode here, and a folder that is there already (a drive,
// "C:") may be refused with another error than POSIX's EEXIST.
inline int WinToolMkdir(const char* path, int) {
  if (_mkdir(path) == 0) return 0;
  DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) errno = EEXIST;
  return -1;
}
#define mkdir WinToolMkdir

// The C runtime's stat does not find a bare drive ("C:"), the first folder
// of every absolute path; its root ("C:/") is asked instead.
inline int WinToolStat(const char* path, struct stat* st) {
  if (path[0] && path[1] == ':' && path[2] == 0) {
    const char root[] = {path[0], ':', '/', 0};
    return (stat)(root, st);
  }
  return (stat)(path, st);
}
#define stat(path, st) WinToolStat(path, st)

// POSIX rename replaces an existing file in one step; the C runtime's refuses
// to, so a map imported a second time could not be written.
inline int WinToolRename(const char* from, const char* to) {
  if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING)) return 0;
  errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : ENOENT;
  return -1;
}
#define rename WinToolRename

// There are no symbolic links to tell apart from what they name.
#define lstat(path, st) WinToolStat(path, st)

// Files are read as bytes (the C runtime would take them as text, ending at a
// ^Z and folding CR LF); there are no FIFOs to keep an open from waiting on,
// and a handle is kept from child processes by _O_NOINHERIT.
inline int WinToolOpen(const char* path, int flags, int mode = 0) { return _open(path, flags | _O_BINARY, mode); }
#define open(...) WinToolOpen(__VA_ARGS__)
#ifndef O_NONBLOCK
#define O_NONBLOCK 0
#endif
#ifndef O_CLOEXEC
#define O_CLOEXEC _O_NOINHERIT
#endif

// A hard link, with the errors the tool tells apart: EEXIST when the name is
// taken, EXDEV for anything else (a file system without links), after which
// it renames instead.
inline int WinToolLink(const char* from, const char* to) {
  if (CreateHardLinkA(to, from, nullptr)) return 0;
  DWORD error = GetLastError();
  errno = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? EEXIST : EXDEV;
  return -1;
}
#define link WinToolLink

// kill(pid, 0), the question whether a process still runs: ESRCH when it has
// ended or never was.
inline int WinToolKill(long long pid, int) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, (DWORD)pid);
  if (!process) {
    errno = GetLastError() == ERROR_ACCESS_DENIED ? EPERM : ESRCH;
    return -1;
  }
  DWORD code = 0;
  bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  CloseHandle(process);
  if (running) return 0;
  errno = ESRCH;
  return -1;
}
#define kill WinToolKill

// realpath: the full path of a file that exists, with '/' separators as the
// tool writes paths.
#ifndef PATH_MAX
#define PATH_MAX _MAX_PATH
#endif
inline char* WinToolRealpath(const char* path, char* resolved) {
  struct stat st;
  if (WinToolStat(path, &st) != 0 || !_fullpath(resolved, path, PATH_MAX)) return nullptr;
  for (char* c = resolved; *c; c++)
    if (*c == '\\') *c = '/';
  return resolved;
}
#define realpath WinToolRealpath

// Flushes a file to the disk.
inline int WinToolFsync(int fd) { return _commit(fd); }
#define fsync WinToolFsync

// The tool's own main; the program's main (platform/windows/tools/main.cpp)
// hands it the arguments with backslash separators written as '/', the way the
// tool takes paths apart (the C runtime takes both).
#define main WinToolMain
