// Command-line parameters, handed out one at a time by rescanning the line of
// GetCommandLineW, and the working directory with a closing backslash.
#include "runtime/args.h"

#include "platform/kernel.h"
#include "runtime/runtime.h"
#include "runtime/strings.h"

namespace {

// The parameter cursor: its counter is the index the next ArgNext returns.
struct ArgCursorRecord {
  int32_t counter;
};
ArgCursorRecord* ArgCursor;

struct ArgFound {
  const char16_t* start;
  int32_t length;
  bool found;
};

// Selecting mode (counting false): the parameter whose index equals the
// counter. Counting mode: the number of parameters after the program name.
int32_t ArgScan(bool counting, ArgFound* result) {
  const char16_t* p = GetCommandLineW();
  int32_t counter = ArgCursor ? ArgCursor->counter : 0;
  int32_t index = -1;
  result->found = false;
  while (p && *p) {
    while (*p == u' ') p++;
    const char16_t* start = nullptr;
    const char16_t* end = nullptr;
    if (*p == u'"') {
      start = ++p;
      while (*p && *p != u'"') p++;
      end = p;
      if (*p) p++;  // past the closing quote; what follows starts the next parameter
    } else if (*p) {
      start = p;
      while (*p && *p != u' ') p++;
      end = p;
      if (*p) p++;
    }
    if (!counting && index == counter) {
      // Also reached in a pass that found only trailing spaces.
      if (start) {
        result->start = start;
        result->length = int32_t(end - start);
        result->found = true;
      }
      return index;
    }
    if (start) index++;
  }
  return index;
}

}  // namespace

void ArgCursorCreate() {
  ArgCursor = static_cast<ArgCursorRecord*>(HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, sizeof(ArgCursorRecord)));
  if (!ArgCursor) RuntimeOutOfMemory("the MainHeap cannot supply the parameter cursor");
}

// Appends the next parameter (empty past the last) and advances the counter.
void ArgNext(int32_t position) {
  ArgFound arg;
  ArgScan(false, &arg);
  int32_t length = arg.found ? arg.length : 0;
  char16_t* out = StrReserve(length, position);
  for (int32_t i = 0; i < length; i++) out[i] = arg.start[i];
  out[length] = 0;
  if (arg.found && ArgCursor) ArgCursor->counter++;
}

// Sets the counter to index when it is 0 or more, then as ArgNext.
void ArgAt(int32_t index, int32_t position) {
  if (index >= 0 && ArgCursor) ArgCursor->counter = index;
  ArgNext(position);
}

int32_t ArgCount() {
  ArgFound arg;
  return ArgScan(true, &arg);
}

// Appends the current directory ending in a backslash; empty when it cannot be
// read. The length is asked for first, so a directory of any length fits.
void WorkingDirectory(int32_t position) {
  DWORD room = GetCurrentDirectoryW(0, nullptr);
  int32_t reserved = 0;
  DWORD n = 0;
  char16_t* out = nullptr;
  // The directory may change between the two queries; ask again until it fits.
  while (room > 0 && room < 0x3FFFFFFF) {
    reserved = int32_t(room);
    StringBufferFill = position;
    out = StrReserve(reserved, position);
    n = GetCurrentDirectoryW(room, out);
    if (n < room) break;
    room = n;
  }
  if (!out || n >= DWORD(reserved)) {
    out = StrReserve(0, position);
    reserved = 0;
    n = 0;
  }
  // room counts the terminator, so there is space for the backslash.
  if (n != 0 && out[n - 1] != u'\\') out[n++] = u'\\';
  out[n] = 0;
  StrGiveBack(reserved - int32_t(n));
}
