// Binary file reading under numbers: a table of FileRecords, typed reads
// through a 4096-byte read-ahead buffer per file, UTF-8 text lines into the
// StringBuffer, and closing of every open file at the end of the run.
#include "runtime/files.h"

#include <cstring>

#include "platform/kernel.h"
#include "runtime/objects.h"
#include "runtime/runtime.h"
#include "runtime/strings.h"

ObjectTable* FileTable;

namespace {

constexpr int32_t FileBufferSize = 4096;

FileRecord* RecordOf(int32_t number) { return static_cast<FileRecord*>(ObjectGet(FileTable, number)); }

// The open file under a numbered slot, looked up in place: the typed reads
// run once per value of a map file, so they skip the call into the table.
inline FileRecord* RecordFast(int32_t number) {
  ObjectTable* table = FileTable;
  if (table && number >= 0 && number < table->slotCount) {
    FileRecord* record = reinterpret_cast<FileRecord*>(table->slots + int64_t(number) * table->recordSize);
    return record->handle ? record : nullptr;
  }
  return RecordOf(number);
}

// The next n bytes of a read-mode buffer when it holds them all, else null
// (the caller then goes through FileBufferRead).
inline const uint8_t* TakeBuffered(FileRecord* record, int32_t n) {
  if (record->mode != 1 || record->count < n || !record->buffer) return nullptr;
  const uint8_t* from = record->buffer + (record->valid - record->count);
  record->count -= n;
  return from;
}

int32_t ReadStraight(HANDLE handle, void* destination, int32_t bytes) {
  DWORD got = 0;
  ReadFile(handle, destination, DWORD(bytes), &got, nullptr);
  return int32_t(got);
}

// Refills an empty buffer; the number of bytes placed in it.
int32_t Refill(FileRecord* record) {
  int32_t got = ReadStraight(record->handle, record->buffer, record->capacity);
  record->valid = got;
  record->count = got;
  return got;
}

}  // namespace

ObjectTable* FileTableCreate() {
  FileTable = ObjectTableCreate(sizeof(FileRecord), 16, FileClose);
  return FileTable;
}

// Opens a file under a number in access mode 1-4 (an open file under that
// number is closed first once the new open succeeded); 0 on failure, else the
// handle, or for number -1 the number chosen.
intptr_t FileOpen(int32_t number, const char16_t* name, int32_t mode) {
  if (!FileTable || !name) return 0;
  HANDLE handle = INVALID_HANDLE_VALUE;
  switch (mode) {
    case 1:
      handle = CreateFileW(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      break;
    case 2:
      handle = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
      break;
    case 3:
      handle = CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (handle == INVALID_HANDLE_VALUE)
        handle = CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, TRUNCATE_EXISTING, 0, nullptr);
      break;
    case 4:
      handle = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      break;
    default:
      return 0;
  }
  if (handle == INVALID_HANDLE_VALUE || !handle) return 0;
  int32_t chosen = number;
  FileRecord* record = static_cast<FileRecord*>(ObjectNew(FileTable, number, &chosen));
  if (!record) {
    CloseHandle(handle);
    return 0;
  }
  record->handle = handle;
  record->buffer = static_cast<uint8_t*>(HeapAlloc(MainHeap, 0, FileBufferSize));
  record->capacity = FileBufferSize;
  record->count = 0;
  record->valid = 0;
  record->mode = 1;
  return number == -1 ? intptr_t(chosen) : reinterpret_cast<intptr_t>(handle);
}

intptr_t FileOpenRead(int32_t number, const char16_t* name) { return FileOpen(number, name, 1); }

intptr_t FileOpenUpdate(int32_t number, const char16_t* name) { return FileOpen(number, name, 2); }

intptr_t FileOpenWrite(int32_t number, const char16_t* name) { return FileOpen(number, name, 3); }

intptr_t FileOpenExclusive(int32_t number, const char16_t* name) { return FileOpen(number, name, 4); }

// The buffered read behind every typed read: the bytes delivered (fewer at
// the end of the file). A record without a buffer reads straight from the file.
int32_t FileBufferRead(FileRecord* record, void* destination, int32_t bytes) {
  if (bytes <= 0) return 0;
  if (!record->buffer) return ReadStraight(record->handle, destination, bytes);
  if (record->mode == 0) {
    FileFlush(record);
    record->mode = 1;
    record->count = 0;
  }
  uint8_t* out = static_cast<uint8_t*>(destination);
  if (record->count >= bytes) {
    const uint8_t* from = record->buffer + (record->valid - record->count);
    record->count -= bytes;
    // The small typed reads move as one value.
    switch (bytes) {
      case 1: *out = *from; break;
      case 2: std::memcpy(out, from, 2); break;
      case 4: std::memcpy(out, from, 4); break;
      default: std::memcpy(out, from, size_t(bytes)); break;
    }
    return bytes;
  }
  int32_t taken = record->count;
  if (taken > 0) std::memcpy(out, record->buffer + (record->valid - taken), size_t(taken));
  record->count = 0;
  int32_t need = bytes - taken;
  if (need >= record->capacity) return taken + ReadStraight(record->handle, out + taken, need);
  int32_t got = Refill(record);
  int32_t take = need < got ? need : got;
  std::memcpy(out + taken, record->buffer, size_t(take));
  record->count -= take;
  return taken + take;
}

// Writes the bytes waiting in a write-mode buffer; the number written.
int32_t FileFlush(FileRecord* record) {
  if (record->mode != 0 || !record->buffer) return 0;
  int32_t pending = record->capacity - record->count;
  DWORD written = 0;
  if (pending > 0) WriteFile(record->handle, record->buffer, DWORD(pending), &written, nullptr);
  record->count = record->capacity;
  return int32_t(written);
}

// The next byte as a signed 8-bit value; 0 past the end or for a closed number.
int32_t FileReadByte(int32_t number) {
  FileRecord* record = RecordFast(number);
  if (!record) return 0;
  if (const uint8_t* from = TakeBuffered(record, 1)) return int8_t(*from);
  int8_t value = 0;
  FileBufferRead(record, &value, 1);
  return value;
}

// The next two bytes, little-endian, as a signed 16-bit value; missing bytes read 0.
int32_t FileReadWord(int32_t number) {
  FileRecord* record = RecordFast(number);
  if (!record) return 0;
  uint8_t bytes[2] = {0, 0};
  if (const uint8_t* from = TakeBuffered(record, 2))
    std::memcpy(bytes, from, 2);
  else
    FileBufferRead(record, bytes, 2);
  return int16_t(uint16_t(bytes[0] | (bytes[1] << 8)));
}

// The next four bytes as a single-precision float; missing bytes read 0.
float FileReadFloat(int32_t number) {
  uint8_t bytes[4] = {0, 0, 0, 0};
  FileRecord* record = RecordFast(number);
  if (record) FileBufferRead(record, bytes, 4);
  uint32_t bits = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// Up to bytes bytes into destination; the number delivered, 0 for a closed number.
int32_t FileReadBlock(int32_t number, void* destination, int32_t bytes) {
  FileRecord* record = RecordOf(number);
  if (!record || !destination) return 0;
  return FileBufferRead(record, destination, bytes);
}

// Appends the next text line (ended by CR LF, LF, CR, a zero byte or the end
// of the file), converted from UTF-8, at position (the fill position). A
// MainHeap that cannot hold the line ends the run: a line cut short or left
// empty would be read as other map data.
void FileReadLine(int32_t number, int32_t position) {
  int64_t size = FileBufferSize;
  uint8_t* text = static_cast<uint8_t*>(HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, size_t(size)));
  if (!text) RuntimeOutOfMemory("the MainHeap cannot supply a text line's buffer");
  FileRecord* record = RecordOf(number);
  if (record) {
    int64_t length = 0;
    uint8_t byte = 0;
    for (;;) {
      byte = 0;
      if (FileBufferRead(record, &byte, 1) == 0 || byte == 0 || byte == 13 || byte == 10) break;
      text[length++] = byte;
      // Kept one byte short of full so the text stays zero-terminated; the
      // buffer doubles, so a long line costs linear time.
      if (length == size - 1) {
        if (size > INT32_MAX / 2) RuntimeOutOfMemory("a text line exceeds 1 GiB");
        uint8_t* larger = static_cast<uint8_t*>(HeapReAlloc(MainHeap, HEAP_ZERO_MEMORY, text, size_t(size) * 2));
        if (!larger) RuntimeOutOfMemory("the MainHeap cannot grow a text line's buffer");
        text = larger;
        size *= 2;
      }
    }
    if (byte == 13) {
      uint8_t next = 0;
      if (FileBufferRead(record, &next, 1) == 1 && next != 10) {
        // Not part of this line: the next read delivers it again.
        if (record->buffer)
          record->count += 1;
        else
          SetFilePointer(record->handle, -1, nullptr, FILE_CURRENT);
      }
    }
  }
  const char* bytes = reinterpret_cast<const char*>(text);
  int n = MultiByteToWideChar(CP_UTF8, 0, bytes, -1, nullptr, 0);
  char16_t* out = StrReserve(n > 0 ? n - 1 : 0, position);
  if (n <= 0 || MultiByteToWideChar(CP_UTF8, 0, bytes, -1, out, n) != n) {
    StringBufferFill = position;
    *out = 0;
  }
  HeapFree(MainHeap, 0, text);
}

// Flushes and closes the file under number; a number not open does nothing.
void FileClose(int32_t number) {
  if (number == -1) return;
  FileRecord* record = RecordOf(number);
  if (!record) return;
  if (record->buffer) {
    FileFlush(record);
    HeapFree(MainHeap, 0, record->buffer);
  }
  CloseHandle(record->handle);
  ObjectRelease(FileTable, number);
}

void FileCloseAll() {
  if (!FileTable) return;
  ObjectEnumStart(FileTable);
  int32_t number = 0;
  while (ObjectEnumNext(FileTable, &number)) FileClose(number);
}
