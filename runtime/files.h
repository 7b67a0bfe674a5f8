// Binary file reading under numbers, through a 4096-byte read-ahead buffer.
#pragma once

#include <cstdint>

#include "platform/win32.h"

struct ObjectTable;

struct FileRecord {
  HANDLE handle;  // non-zero in every record in use
  uint8_t* buffer;
  int32_t capacity;
  int32_t count;
  int32_t valid;
  int32_t mode;  // 1 read, 0 write
};

extern ObjectTable* FileTable;

// Creates the file table (16 numbered slots; FileClose releases); null when no memory.
ObjectTable* FileTableCreate();
// Opens name under number in mode 1-4 (an open file under that number is
// closed once the new open has succeeded); 0 on failure, the handle on
// success, or for number -1 the number chosen.
intptr_t FileOpen(int32_t number, const char16_t* name, int32_t mode);
// Mode 1: read an existing file, shared with readers.
intptr_t FileOpenRead(int32_t number, const char16_t* name);
// Mode 2: read and write, created when missing.
intptr_t FileOpenUpdate(int32_t number, const char16_t* name);
// Mode 3: write, created or emptied.
intptr_t FileOpenWrite(int32_t number, const char16_t* name);
// Mode 4: read and write an existing file, shared with no other open.
intptr_t FileOpenExclusive(int32_t number, const char16_t* name);
// The next byte as a signed 8-bit value; 0 past the end or for a number not open.
int32_t FileReadByte(int32_t number);
// The next two bytes, little-endian, as a signed 16-bit value; missing bytes read 0.
int32_t FileReadWord(int32_t number);
// The next four bytes as a single-precision float; missing bytes read 0.
float FileReadFloat(int32_t number);
// Up to bytes bytes into destination; the number delivered (fewer at the end), 0 for a number not open.
int32_t FileReadBlock(int32_t number, void* destination, int32_t bytes);
// Appends the next text line (ended by CR LF, LF, CR, a zero byte or the end),
// converted from UTF-8, at position; nothing for a number not open. Ends the
// run through RuntimeOutOfMemory when the line cannot be held.
void FileReadLine(int32_t number, int32_t position);
// Flushes and closes the file under number; a number not open does nothing.
void FileClose(int32_t number);
// The buffered read behind the typed reads: the bytes delivered (fewer at the end).
int32_t FileBufferRead(FileRecord* record, void* destination, int32_t bytes);
// Writes what a write-mode buffer holds; the number of bytes written.
int32_t FileFlush(FileRecord* record);
// Closes every open file (RuntimeEnd).
void FileCloseAll();
