// Object tables: fixed-size records under caller-chosen numbers (slots that
// grow on demand) and dynamically numbered objects in a linked list.
// An object is present while the first pointer-sized field of its record is
// not zero. Dynamically numbered objects are known by serial numbers from -2
// downwards: never 0, never -1, never inside a slot range.
#pragma once

#include <cstdint>

struct ObjectNode {
  ObjectNode* older;
  ObjectNode* newer;
  int32_t number;  // the object's number for table lists; 0 in plain lists
  int32_t spare;
  // the record follows, aligned to 16 bytes
  alignas(16) unsigned char record[];
};

typedef void (*ObjectReleaseRoutine)(int32_t number);
// Returns non-zero to continue the walk, 0 to stop it.
typedef int32_t (*ObjectVisitor)(int32_t number, void* record, void* user);

struct ObjectTable {
  int32_t recordSize;
  int32_t growthStep;
  int32_t slotCount;
  ObjectNode* listHead;
  ObjectReleaseRoutine release;
  int32_t enumIndex;
  ObjectNode* enumCursor;
  unsigned char* slots;
  int32_t nextNumber;      // the next dynamic number to hand out (-2, -3, ...)
  int32_t numbersWrapped;  // non-zero once the numbers ran past INT32_MIN and restarted at -2
};

ObjectTable* ObjectTableCreate(int32_t recordSize, int32_t slotCount, ObjectReleaseRoutine release);
// For number -1, *chosen (when given) receives the new object's number.
void* ObjectNew(ObjectTable* table, int32_t number, int32_t* chosen = nullptr);
void* ObjectGet(ObjectTable* table, int32_t number);
void* ObjectFind(ObjectTable* table, int32_t number);
int32_t ObjectRelease(ObjectTable* table, int32_t number);
void ObjectEnumStart(ObjectTable* table);
void* ObjectEnumNext(ObjectTable* table, int32_t* number);
int32_t ObjectForEach(ObjectTable* table, ObjectVisitor visitor, void* user);
// Plain lists (also used by the message box's DisabledWindowList): nodes come
// from the ObjectListHeap; ObjectListAdd gives the new record zeroed, or null.
void* ObjectListAdd(ObjectNode** head, int32_t recordSize);
void ObjectListRemove(ObjectNode** head, void* record);
