// Dynamic arrays of records: an ArrayHeader directly in front of element 0.
#pragma once

#include <cstdint>

// A StringFieldTable: entries n >= 0 name a string field at byte offset n;
// -2 is followed by count, offset, stride and the address of a nested table;
// -1 ends the table. Entries are pointer-wide so a nested table fits.
typedef intptr_t StringFieldEntry;

struct ArrayHeader {
  int32_t recordSize;
  const StringFieldEntry* stringFields;
  void* owner;
  int32_t count;
  int32_t typeCode;
};

void* ArrayAlloc(int32_t count, int32_t recordSize, const StringFieldEntry* stringFields, void** variable,
                 int32_t typeCode);
void ArrayFree(void* elements);
void ArrayFreeRaw(void* elements);
void ArrayResize(int32_t count, void** variable);
void RecordStringsFree(void* record, const StringFieldEntry* stringFields);
