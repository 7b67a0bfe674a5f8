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

// Flushes a file to the disk.
inline int WinToolFsync(int fd) { return _commit(fd); }
#define fsync WinToolFsync

// The tool's own main; the program's main (platform/windows/tools/main.cpp)
// hands it the arguments with backslash separators written as '/', the way the
// tool takes paths apart (the C runtime takes both).
#define main WinToolMain
