// Object tables: numbered slots that grow on demand, and a list of
// dynamically numbered objects (newest at the head) known by serial numbers
// -2, -3, ... kept in their nodes. A number is never used as an address.
#include "runtime/objects.h"

#include <cstddef>
#include <cstring>

#include "platform/kernel.h"
#include "runtime/runtime.h"

namespace {

ObjectNode* NodeOf(void* record) {
  return reinterpret_cast<ObjectNode*>(static_cast<unsigned char*>(record) - offsetof(ObjectNode, record));
}

unsigned char* Slot(ObjectTable* table, int32_t number) {
  return table->slots + int64_t(number) * table->recordSize;
}

bool InSlots(ObjectTable* table, int32_t number) { return number >= 0 && number < table->slotCount; }

// Present while the first pointer-sized field (or the whole of a shorter record) is not zero.
bool Present(ObjectTable* table, const unsigned char* record) {
  uintptr_t first = 0;
  if (table->recordSize >= int32_t(sizeof first)) {
    std::memcpy(&first, record, sizeof first);  // a fixed size: no call on the drawing path
  } else {
    std::memcpy(&first, record, size_t(table->recordSize));
  }
  return first != 0;
}

ObjectNode* FindNode(ObjectTable* table, int32_t number) {
  if (number >= -1) return nullptr;
  for (ObjectNode* node = table->listHead; node; node = node->older)
    if (node->number == number) return node;
  return nullptr;
}

ObjectNode* Oldest(ObjectNode* head) {
  if (!head) return nullptr;
  while (head->older) head = head->older;
  return head;
}

// The next free dynamic number. After 2^31 - 2 of them the serials restart at
// -2 and skip the ones still in use.
int32_t NextDynamicNumber(ObjectTable* table) {
  for (;;) {
    int32_t number = table->nextNumber;
    if (number == INT32_MIN) {
      table->nextNumber = -2;
      table->numbersWrapped = 1;
    } else {
      table->nextNumber = number - 1;
    }
    if (!table->numbersWrapped || !FindNode(table, number)) return number;
  }
}

}  // namespace

// A table of slotCount zeroed slots of recordSize bytes; null when the MainHeap is exhausted.
ObjectTable* ObjectTableCreate(int32_t recordSize, int32_t slotCount, ObjectReleaseRoutine release) {
  if (recordSize <= 0 || slotCount < 0) return nullptr;
  ObjectTable* table = static_cast<ObjectTable*>(HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, sizeof(ObjectTable)));
  if (!table) return nullptr;
  table->slots = static_cast<unsigned char*>(
      HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, size_t(int64_t(slotCount) * recordSize)));
  if (!table->slots) {
    HeapFree(MainHeap, 0, table);
    return nullptr;
  }
  table->recordSize = recordSize;
  table->growthStep = slotCount > 0 ? slotCount : 1;
  table->slotCount = slotCount;
  table->release = release;
  table->nextNumber = -2;
  return table;
}

// The record for number (growing the slots, releasing the object that holds
// the number first), or a new dynamically numbered record for -1 with its
// number in *chosen. Null for a negative number that names no listed object
// or when memory runs out.
void* ObjectNew(ObjectTable* table, int32_t number, int32_t* chosen) {
  if (!table) return nullptr;
  if (number == -1) {
    void* record = ObjectListAdd(&table->listHead, table->recordSize);
    if (!record) return nullptr;
    ObjectNode* node = NodeOf(record);
    node->number = NextDynamicNumber(table);
    if (chosen) *chosen = node->number;
    return record;
  }
  if (number < -1) {
    // A dynamic number is reused like a slot number: its object is released
    // first and the number then names a fresh record. A number that names
    // nothing is refused.
    if (!FindNode(table, number)) return nullptr;
    if (table->release) table->release(number);
    ObjectNode* node = FindNode(table, number);
    if (!node) {
      void* record = ObjectListAdd(&table->listHead, table->recordSize);
      if (!record) return nullptr;
      node = NodeOf(record);
      node->number = number;
    }
    if (chosen) *chosen = number;
    return node->record;
  }
  if (number >= table->slotCount) {
    int64_t count = int64_t(number) + table->growthStep;
    int64_t bytes = count * table->recordSize;
    if (count > INT32_MAX || bytes > int64_t(UINT32_MAX)) return nullptr;
    void* slots = HeapReAlloc(MainHeap, HEAP_ZERO_MEMORY, table->slots, size_t(bytes));
    if (!slots) return nullptr;
    table->slots = static_cast<unsigned char*>(slots);
    table->slotCount = int32_t(count);
  }
  if (table->release) table->release(number);
  return Slot(table, number);
}

// The present object's record, or null.
void* ObjectGet(ObjectTable* table, int32_t number) {
  if (!table) return nullptr;
  unsigned char* record;
  if (InSlots(table, number)) {
    record = Slot(table, number);
  } else {
    ObjectNode* node = FindNode(table, number);
    if (!node) return nullptr;
    record = node->record;
  }
  return Present(table, record) ? record : nullptr;
}

// Like ObjectGet, but a listed object is found whatever its first field holds.
void* ObjectFind(ObjectTable* table, int32_t number) {
  if (!table) return nullptr;
  if (InSlots(table, number)) return ObjectGet(table, number);
  ObjectNode* node = FindNode(table, number);
  return node ? node->record : nullptr;
}

// Clears a numbered slot or removes a listed object; 0 when the number names nothing.
int32_t ObjectRelease(ObjectTable* table, int32_t number) {
  if (!table) return 0;
  if (InSlots(table, number)) {
    std::memset(Slot(table, number), 0, size_t(table->recordSize));
    return 1;
  }
  ObjectNode* node = FindNode(table, number);
  if (!node) return 0;
  // An enumeration waiting on this node moves on instead of reading freed memory.
  if (table->enumCursor == node) table->enumCursor = node->newer;
  ObjectListRemove(&table->listHead, node->record);
  return 1;
}

void ObjectEnumStart(ObjectTable* table) {
  if (!table) return;
  table->enumIndex = 0;
  table->enumCursor = Oldest(table->listHead);
}

// The next present object (slots ascending, then the list oldest first) with
// its number in *number; null at the end. Moves past it before returning, so
// the caller may release it.
void* ObjectEnumNext(ObjectTable* table, int32_t* number) {
  if (!table) return nullptr;
  while (table->enumIndex >= 0 && table->enumIndex < table->slotCount) {
    int32_t index = table->enumIndex++;
    unsigned char* record = Slot(table, index);
    if (Present(table, record)) {
      if (number) *number = index;
      return record;
    }
  }
  ObjectNode* node = table->enumCursor;
  if (!node) return nullptr;
  table->enumCursor = node->newer;
  if (number) *number = node->number;
  return node->record;
}

// Calls the visitor for every present slot, then every listed object oldest
// first; 0 when a visitor stopped the walk, 1 otherwise.
int32_t ObjectForEach(ObjectTable* table, ObjectVisitor visitor, void* user) {
  if (!table || !visitor) return 1;
  for (int32_t index = 0; index < table->slotCount; index++) {
    unsigned char* record = Slot(table, index);
    if (Present(table, record) && !visitor(index, record, user)) return 0;
  }
  ObjectNode* node = Oldest(table->listHead);
  while (node) {
    ObjectNode* newer = node->newer;  // the visitor may release this object
    if (!visitor(node->number, node->record, user)) return 0;
    node = newer;
  }
  return 1;
}

// Adds a zeroed node as the new head; its record's address, or null.
void* ObjectListAdd(ObjectNode** head, int32_t recordSize) {
  if (!head || recordSize < 0) return nullptr;
  ObjectNode* node = static_cast<ObjectNode*>(
      HeapAlloc(ObjectListHeap, HEAP_ZERO_MEMORY, offsetof(ObjectNode, record) + size_t(recordSize)));
  if (!node) return nullptr;
  if (*head) {
    (*head)->newer = node;
    node->older = *head;
  }
  *head = node;
  return node->record;
}

// Unlinks the node holding the record and frees it.
void ObjectListRemove(ObjectNode** head, void* record) {
  if (!head || !record) return;
  ObjectNode* node = NodeOf(record);
  if (node == *head) {
    *head = node->older;
    if (*head) (*head)->newer = nullptr;
  } else {
    if (node->newer) node->newer->older = node->older;
    if (node->older) node->older->newer = node->newer;
  }
  HeapFree(ObjectListHeap, 0, node);
}
