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

// A table of recordSize-byte records with slotCount numbered slots to start
// with and the kind's release routine, which ObjectNew runs before it reuses a
// number. Null when no memory.
ObjectTable* ObjectTableCreate(int32_t recordSize, int32_t slotCount, ObjectReleaseRoutine release);
// The record under number once the table's release routine has run for it
// (slots grow to hold the number; a negative serial must name a listed
// object); for -1 a new zeroed listed record under a fresh serial, given in
// *chosen. Null when no memory or the serial names nothing.
void* ObjectNew(ObjectTable* table, int32_t number, int32_t* chosen = nullptr);
// The record under number only while it is present (first field non-zero); else null.
void* ObjectGet(ObjectTable* table, int32_t number);
// As ObjectGet for slots, but a listed object's record is found whether or
// not it is present (for release routines and half-made objects); else null.
void* ObjectFind(ObjectTable* table, int32_t number);
// Clears a slot or unlinks a listed object, without calling the release
// routine; 0 when the number names nothing.
int32_t ObjectRelease(ObjectTable* table, int32_t number);
// Starts an enumeration: present slots ascending, then every listed object oldest first.
void ObjectEnumStart(ObjectTable* table);
// The next record of the enumeration (its number in *number), or null at the
// end; it has moved past it, so the caller may release it.
void* ObjectEnumNext(ObjectTable* table, int32_t* number);
// Calls visitor in the enumeration's order until it returns 0 (it may release
// the object it is given); 0 when a visitor stopped the walk, else 1.
int32_t ObjectForEach(ObjectTable* table, ObjectVisitor visitor, void* user);
// Plain lists (also used by the message box's DisabledWindowList): nodes come
// from the ObjectListHeap; ObjectListAdd gives the new record zeroed, or null.
void* ObjectListAdd(ObjectNode** head, int32_t recordSize);
void ObjectListRemove(ObjectNode** head, void* record);
