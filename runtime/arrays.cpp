// Dynamic arrays of records: one MainHeap block holding an ArrayHeader and the
// elements right behind it; the array variable points at element 0. String
// fields are released through the element type's StringFieldTable.
#include "runtime/arrays.h"

#include <cstring>

#include "platform/kernel.h"
#include "runtime/runtime.h"
#include "runtime/strings.h"

namespace {

ArrayHeader* HeaderOf(void* elements) { return reinterpret_cast<ArrayHeader*>(elements) - 1; }

constexpr int64_t ArrayBytesMax = int64_t(UINT32_MAX) - int64_t(sizeof(ArrayHeader));

}  // namespace

// A zeroed array of count elements plus one spare, stored in *variable and
// returned; null (also stored) when the heap is exhausted or the sizes are
// negative. Count -1 (upper bound -2) is the valid empty array: no elements,
// the spare only, so that a caller can tell it from an exhausted heap.
void* ArrayAlloc(int32_t count, int32_t recordSize, const StringFieldEntry* stringFields, void** variable,
                 int32_t typeCode) {
  void* elements = nullptr;
  int64_t bytes = (int64_t(count) + 1) * int64_t(recordSize);
  if (count >= -1 && recordSize >= 0 && bytes <= ArrayBytesMax) {
    ArrayHeader* header = static_cast<ArrayHeader*>(
        HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, sizeof(ArrayHeader) + size_t(bytes)));
    if (header) {
      header->recordSize = recordSize;
      header->stringFields = stringFields;
      header->owner = variable;
      header->count = count;
      header->typeCode = typeCode;
      elements = header + 1;
    }
  }
  if (variable) *variable = elements;
  return elements;
}

// Releases every element's strings, then the array; null does nothing.
void ArrayFree(void* elements) {
  if (!elements) return;
  ArrayHeader* header = HeaderOf(elements);
  if (header->stringFields) {
    unsigned char* record = static_cast<unsigned char*>(elements);
    for (int32_t i = 0; i < header->count; i++)
      RecordStringsFree(record + int64_t(i) * header->recordSize, header->stringFields);
  }
  HeapFree(MainHeap, 0, header);
}

// Releases the array without looking at its elements; null does nothing.
void ArrayFreeRaw(void* elements) {
  if (elements) HeapFree(MainHeap, 0, HeaderOf(elements));
}

// Changes the element count keeping the elements; gained ones read as zeros,
// dropped ones have their strings released first. An unallocated array or a
// negative count is refused. When the block cannot grow the array stays as it
// was; when it cannot shrink it keeps its block with the smaller count.
void ArrayResize(int32_t count, void** variable) {
  if (!variable || !*variable || count < 0) return;
  ArrayHeader* header = HeaderOf(*variable);
  if (count == header->count) return;
  int64_t bytes = int64_t(count) * int64_t(header->recordSize);
  if (bytes > ArrayBytesMax) return;
  if (count < header->count && header->stringFields) {
    unsigned char* record = static_cast<unsigned char*>(*variable);
    for (int32_t i = count; i < header->count; i++)
      RecordStringsFree(record + int64_t(i) * header->recordSize, header->stringFields);
  }
  ArrayHeader* moved =
      static_cast<ArrayHeader*>(HeapReAlloc(MainHeap, HEAP_ZERO_MEMORY, header, sizeof(ArrayHeader) + size_t(bytes)));
  if (!moved) {
    // The dropped elements' strings are gone already; they must not be reachable.
    if (count < header->count) header->count = count;
    return;
  }
  moved->count = count;
  *variable = moved + 1;
}

// Releases the string variables of one record, nested sub-record arrays included.
void RecordStringsFree(void* record, const StringFieldEntry* stringFields) {
  if (!record || !stringFields) return;
  unsigned char* base = static_cast<unsigned char*>(record);
  for (const StringFieldEntry* entry = stringFields; *entry != -1; entry++) {
    if (*entry == -2) {
      intptr_t count = entry[1], offset = entry[2], stride = entry[3];
      const StringFieldEntry* nested = reinterpret_cast<const StringFieldEntry*>(entry[4]);
      for (intptr_t i = 0; i < count; i++) RecordStringsFree(base + offset + i * stride, nested);
      entry += 4;
    } else if (*entry >= 0) {
      char16_t* text;
      std::memcpy(&text, base + *entry, sizeof text);  // records need not be aligned
      StrFree(text);
    }
  }
}
