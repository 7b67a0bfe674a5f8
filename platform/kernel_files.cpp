// File stand-ins over POSIX descriptors. Names take '\' or '/' as separators;
// a name that does not exist as written is looked up component by component
// ignoring ASCII case. Sharing is enforced among this process's own handles,
// the way the platform refuses an open that conflicts with another handle.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/kernel.h"
#include "platform/kernel_text.h"

namespace {

struct KernelFile {
  int fd;  // -1: free entry
  dev_t device;
  ino_t inode;
  DWORD access;
  DWORD share;
};

// Handles are (index + 1) * 4: never null, never INVALID_HANDLE_VALUE, and
// checkable without following a pointer.
struct FileState {
  std::vector<KernelFile> files;
};
FileState Files;
// The name the last CreateFileW was given, for KernelLastFileName.
static std::u16string LastFileName;
thread_local DWORD LastError;
// Handles of the standard streams, made at their first GetStdHandle.
HANDLE StdHandles[3];
// The real standard error while KernelQuietBegin has put /dev/null in its place.
int QuietSaved = -1;
int QuietDepth;

KernelFile* FileOf(HANDLE handle) {
  uintptr_t h = reinterpret_cast<uintptr_t>(handle);
  if (h == 0 || h % 4 != 0) return nullptr;
  size_t index = h / 4 - 1;
  if (index >= Files.files.size() || Files.files[index].fd < 0) return nullptr;
  return &Files.files[index];
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

bool SameIgnoringCase(const char* a, const std::string& b) {
  size_t i = 0;
  for (; a[i] && i < b.size(); i++) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x + 32);
    if (y >= 'A' && y <= 'Z') y = char(y + 32);
    if (x != y) return false;
  }
  return a[i] == 0 && i == b.size();
}

// The entry of directory dir whose name matches name ignoring case, or "".
std::string FindIgnoringCase(const std::string& dir, const std::string& name) {
  DIR* d = opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return std::string();
  std::string found;
  while (dirent* e = readdir(d)) {
    if (SameIgnoringCase(e->d_name, name)) {
      found = e->d_name;
      break;
    }
  }
  closedir(d);
  return found;
}

// The path with '\' mapped to '/' and, where it does not exist as written,
// each missing component replaced by a case-insensitive match. A missing last
// component is kept as written (the file may be about to be created).
std::string ResolvePath(const char16_t* name) {
  std::string path = KernelUtf16ToUtf8(name);
  for (char& c : path)
    if (c == '\\') c = '/';
  if (path.empty() || Exists(path)) return path;
  std::string result = path[0] == '/' ? "/" : "";
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    bool last = end == path.size();
    if (!part.empty()) {
      std::string candidate = (result.empty() || result.back() == '/') ? result + part : result + "/" + part;
      if (part != "." && part != ".." && !Exists(candidate)) {
        std::string match = FindIgnoringCase(result, part);
        if (!match.empty())
          candidate = (result.empty() || result.back() == '/') ? result + match : result + "/" + match;
        else if (!last)
          return path;  // a missing folder: the open fails as written
      }
      result = candidate;
    }
    if (last) break;
    start = end + 1;
  }
  if (!path.empty() && path.back() == '/' && (result.empty() || result.back() != '/')) result += '/';
  return result;
}

// True when an open with this access and sharing conflicts with an open handle.
bool ShareConflict(dev_t device, ino_t inode, DWORD access, DWORD share) {
  for (const KernelFile& f : Files.files) {
    if (f.fd < 0 || f.device != device || f.inode != inode) continue;
    if ((access & GENERIC_READ) && !(f.share & FILE_SHARE_READ)) return true;
    if ((access & GENERIC_WRITE) && !(f.share & FILE_SHARE_WRITE)) return true;
    if ((f.access & GENERIC_READ) && !(share & FILE_SHARE_READ)) return true;
    if ((f.access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE)) return true;
  }
  return false;
}

// The platform's code for a failed open(2): a missing folder on the way is
// another code than a missing file.
DWORD ErrorOfOpen(int error, const std::string& path) {
  switch (error) {
    case ENOENT: {
      size_t slash = path.find_last_of('/');
      if (slash == std::string::npos || slash == 0) return ERROR_FILE_NOT_FOUND;
      struct stat st;
      return stat(path.substr(0, slash).c_str(), &st) == 0 ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    }
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case EISDIR: return ERROR_DIRECTORY;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ENXIO: return ERROR_BAD_FILE_TYPE;  // a FIFO without a writer, a socket
    default: return ERROR_OPEN_FAILED;
  }
}

// A file-table entry over a descriptor of our own; null when none can be made.
HANDLE FileAdopt(int fd, DWORD access) {
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    if (fd >= 0) close(fd);
    return nullptr;
  }
  size_t index = 0;
  while (index < Files.files.size() && Files.files[index].fd >= 0) index++;
  if (index == Files.files.size()) Files.files.push_back(KernelFile());
  Files.files[index] = KernelFile{fd, st.st_dev, st.st_ino, access, FILE_SHARE_READ | FILE_SHARE_WRITE};
  return reinterpret_cast<HANDLE>((index + 1) * 4);
}

}  // namespace

DWORD GetLastError() { return LastError; }

void SetLastError(DWORD code) { LastError = code; }

// A duplicate of the stream's descriptor, made once: it stays the real stream
// while KernelQuietBegin has standard error pointing nowhere.
HANDLE GetStdHandle(DWORD which) {
  const int stream = which == STD_INPUT_HANDLE ? 0 : which == STD_OUTPUT_HANDLE ? 1 : which == STD_ERROR_HANDLE ? 2 : -1;
  if (stream < 0) return INVALID_HANDLE_VALUE;
  if (StdHandles[stream] && FileOf(StdHandles[stream])) return StdHandles[stream];
  const int source = stream == 2 && QuietSaved >= 0 ? QuietSaved : stream;
  StdHandles[stream] = FileAdopt(fcntl(source, F_DUPFD_CLOEXEC, 3), stream == 0 ? GENERIC_READ : GENERIC_WRITE);
  return StdHandles[stream];
}

void KernelQuietBegin() {
  if (QuietDepth++ > 0) return;
  GetStdHandle(STD_ERROR_HANDLE);
  int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  QuietSaved = null >= 0 ? fcntl(2, F_DUPFD_CLOEXEC, 3) : -1;
  if (QuietSaved >= 0) dup2(null, 2);
  if (null >= 0) close(null);
}

void KernelQuietEnd() {
  if (QuietDepth <= 0 || --QuietDepth > 0) return;
  if (QuietSaved < 0) return;
  dup2(QuietSaved, 2);
  close(QuietSaved);
  QuietSaved = -1;
}

// Opens or creates a regular file; INVALID_HANDLE_VALUE on failure (missing
// file, folder, FIFO, device or socket, sharing conflict, unknown disposition).
HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, void* security, DWORD disposition,
                   DWORD attributes, HANDLE templateFile) {
  (void)security;
  (void)attributes;
  (void)templateFile;
  if (!name || !name[0]) {
    LastError = ERROR_INVALID_NAME;
    return INVALID_HANDLE_VALUE;
  }
  LastFileName = name;
  LastError = ERROR_OPEN_FAILED;
  int flags = O_CLOEXEC;
  if ((access & GENERIC_READ) && (access & GENERIC_WRITE))
    flags |= O_RDWR;
  else if (access & GENERIC_WRITE)
    flags |= O_WRONLY;
  else
    flags |= O_RDONLY;
  bool truncate = false;
  switch (disposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT; truncate = true; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING:
      if (!(access & GENERIC_WRITE)) {
        LastError = ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
      }
      truncate = true;
      break;
    default:
      LastError = ERROR_INVALID_PARAMETER;
      return INVALID_HANDLE_VALUE;
  }
  std::string path = ResolvePath(name);
  // Opened without blocking: a FIFO or a device would otherwise wait for good
  // in open or read. Only regular files are files here; anything else is refused.
  int fd;
  do fd = open(path.c_str(), flags | O_NONBLOCK, 0666);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    LastError = ErrorOfOpen(errno, path);
    return INVALID_HANDLE_VALUE;
  }
  struct stat st;
  // Truncation waits until sharing is known to allow the open.
  const bool known = fstat(fd, &st) == 0;
  if (!known || !S_ISREG(st.st_mode) || ShareConflict(st.st_dev, st.st_ino, access, share) ||
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0 || (truncate && ftruncate(fd, 0) != 0)) {
    LastError = !known                    ? ERROR_OPEN_FAILED
                : S_ISDIR(st.st_mode)     ? ERROR_DIRECTORY
                : !S_ISREG(st.st_mode)    ? ERROR_BAD_FILE_TYPE
                : ShareConflict(st.st_dev, st.st_ino, access, share) ? ERROR_SHARING_VIOLATION
                                          : ERROR_ACCESS_DENIED;
    close(fd);
    return INVALID_HANDLE_VALUE;
  }
  size_t index = 0;
  while (index < Files.files.size() && Files.files[index].fd >= 0) index++;
  if (index == Files.files.size()) Files.files.push_back(KernelFile());
  Files.files[index] = KernelFile{fd, st.st_dev, st.st_ino, access, share};
  LastError = ERROR_SUCCESS;
  return reinterpret_cast<HANDLE>((index + 1) * 4);
}

// Reads up to bytes bytes; at the end of the file fewer (0 included) with TRUE.
BOOL ReadFile(HANDLE file, void* buffer, DWORD bytes, DWORD* bytesRead, void* overlapped) {
  (void)overlapped;
  if (bytesRead) *bytesRead = 0;
  KernelFile* f = FileOf(file);
  if (!f || (!buffer && bytes)) return FALSE;
  DWORD done = 0;
  while (done < bytes) {
    ssize_t got = read(f->fd, static_cast<char*>(buffer) + done, bytes - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      if (bytesRead) *bytesRead = done;
      return FALSE;
    }
    if (got == 0) break;
    done += DWORD(got);
  }
  if (bytesRead) *bytesRead = done;
  return TRUE;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytes, DWORD* bytesWritten, void* overlapped) {
  (void)overlapped;
  if (bytesWritten) *bytesWritten = 0;
  KernelFile* f = FileOf(file);
  if (!f || (!buffer && bytes)) return FALSE;
  DWORD done = 0;
  while (done < bytes) {
    ssize_t put = write(f->fd, static_cast<const char*>(buffer) + done, bytes - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      if (bytesWritten) *bytesWritten = done;
      return FALSE;
    }
    done += DWORD(put);
  }
  if (bytesWritten) *bytesWritten = done;
  return TRUE;
}

// Moves the file position; the low 32 bits of the new position, or
// INVALID_SET_FILE_POINTER. With distanceHigh the distance is 64-bit.
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method) {
  KernelFile* f = FileOf(file);
  if (!f) return INVALID_SET_FILE_POINTER;
  int64_t offset = distanceHigh ? int64_t((uint64_t(uint32_t(*distanceHigh)) << 32) | uint32_t(distance))
                                : int64_t(distance);
  int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : method == FILE_END ? SEEK_END : -1;
  if (whence < 0) return INVALID_SET_FILE_POINTER;
  off_t at = lseek(f->fd, off_t(offset), whence);
  if (at < 0) return INVALID_SET_FILE_POINTER;
  if (distanceHigh) *distanceHigh = LONG(uint64_t(at) >> 32);
  return DWORD(uint64_t(at));
}

DWORD GetFileSize(HANDLE file, DWORD* sizeHigh) {
  KernelFile* f = FileOf(file);
  struct stat st;
  if (!f || fstat(f->fd, &st) != 0) return INVALID_FILE_SIZE;
  if (sizeHigh) *sizeHigh = DWORD(uint64_t(st.st_size) >> 32);
  return DWORD(uint64_t(st.st_size));
}

// Closes a file handle; FALSE for a handle that is not open.
BOOL CloseHandle(HANDLE object) {
  KernelFile* f = FileOf(object);
  if (!f) return FALSE;
  close(f->fd);
  f->fd = -1;
  return TRUE;
}

const char* KernelLastFileName() {
  static std::string path;
  path = LastFileName.empty() ? std::string() : ResolvePath(LastFileName.c_str());
  return path.c_str();
}
