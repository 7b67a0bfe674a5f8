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

ObjectTable* FileTableCreate();
// 0 on failure; the handle on success, or for number -1 the number chosen.
intptr_t FileOpen(int32_t number, const char16_t* name, int32_t mode);
intptr_t FileOpenRead(int32_t number, const char16_t* name);
// Mode 2: read and write, created when missing.
intptr_t FileOpenUpdate(int32_t number, const char16_t* name);
// Mode 3: write, created or emptied.
intptr_t FileOpenWrite(int32_t number, const char16_t* name);
// Mode 4: read and write an existing file, shared with no other open.
intptr_t FileOpenExclusive(int32_t number, const char16_t* name);
int32_t FileReadByte(int32_t number);
int32_t FileReadWord(int32_t number);
float FileReadFloat(int32_t number);
int32_t FileReadBlock(int32_t number, void* destination, int32_t bytes);
void FileReadLine(int32_t number, int32_t position);
void FileClose(int32_t number);
int32_t FileBufferRead(FileRecord* record, void* destination, int32_t bytes);
int32_t FileFlush(FileRecord* record);
void FileCloseAll();
