// Object tables: slot growth, the release routine, dynamically numbered
// objects, enumeration, ObjectForEach and list removal.
#include <gtest/gtest.h>

#include <vector>

#include "runtime/objects.h"
#include "support.h"

namespace {

struct Thing {
  void* handle;  // present while non-zero
  int32_t value;
};

ObjectTable* Released;  // the table the release routine below empties
std::vector<int32_t> ReleaseCalls;

void ReleaseThing(int32_t number) {
  ReleaseCalls.push_back(number);
  if (ObjectGet(Released, number)) ObjectRelease(Released, number);
}

class Objects : public ::testing::Test {
 protected:
  void SetUp() override {
    FreshRuntime();
    ReleaseCalls.clear();
    table = ObjectTableCreate(sizeof(Thing), 16, ReleaseThing);
    Released = table;
  }
  Thing* Make(int32_t number, int32_t value, int32_t* chosen = nullptr) {
    Thing* t = static_cast<Thing*>(ObjectNew(table, number, chosen));
    t->handle = t;
    t->value = value;
    return t;
  }
  ObjectTable* table;
};

TEST_F(Objects, SlotsGrowByTheCreationCount) {
  ASSERT_EQ(table->slotCount, 16);
  Make(3, 3);
  Make(20, 20);
  EXPECT_EQ(table->slotCount, 36);
  for (int32_t n = 16; n < 36; n++)
    if (n != 20) {
      EXPECT_EQ(ObjectGet(table, n), nullptr) << n;
    }
  ASSERT_NE(ObjectGet(table, 3), nullptr);
  EXPECT_EQ(static_cast<Thing*>(ObjectGet(table, 3))->value, 3);
  EXPECT_EQ(static_cast<Thing*>(ObjectGet(table, 20))->value, 20);
}

TEST_F(Objects, ReusingANumberReleasesTheOldObjectFirst) {
  Make(4, 1);
  EXPECT_EQ(ReleaseCalls, std::vector<int32_t>({4}));
  Thing* second = static_cast<Thing*>(ObjectNew(table, 4));
  EXPECT_EQ(ReleaseCalls, std::vector<int32_t>({4, 4}));
  EXPECT_EQ(second->handle, nullptr);  // the release routine emptied the slot
  EXPECT_EQ(ObjectGet(table, 4), nullptr);
  EXPECT_EQ(ObjectRelease(table, 4), 1);  // an empty slot is just cleared again
}

TEST_F(Objects, DynamicNumbersNeverMeetSlotsAndNameNothingElse) {
  int32_t a = 0, b = 0;
  Make(-1, 10, &a);
  Make(-1, 11, &b);
  EXPECT_TRUE(ReleaseCalls.empty());
  EXPECT_NE(a, b);
  EXPECT_LE(a, -2);
  EXPECT_LE(b, -2);
  Make(500, 1);  // growth does not reach them
  EXPECT_EQ(static_cast<Thing*>(ObjectGet(table, a))->value, 10);
  EXPECT_EQ(static_cast<Thing*>(ObjectGet(table, b))->value, 11);
  // Numbers that name nothing are looked up, never followed as addresses.
  EXPECT_EQ(ObjectGet(table, -999), nullptr);
  EXPECT_EQ(ObjectGet(table, 0x12345678), nullptr);
  EXPECT_EQ(ObjectGet(table, -1), nullptr);
  EXPECT_EQ(ObjectRelease(table, -999), 0);
  EXPECT_EQ(ObjectRelease(table, 0x7FFFFFF0), 0);
  EXPECT_EQ(ObjectNew(table, -5), nullptr);
  // Asking again for a dynamic number in use releases its object first.
  ReleaseCalls.clear();
  Thing* again = static_cast<Thing*>(ObjectNew(table, b));
  EXPECT_EQ(ReleaseCalls, std::vector<int32_t>({b}));
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->handle, nullptr);
  again->handle = again;
  again->value = 12;
  EXPECT_EQ(static_cast<Thing*>(ObjectGet(table, b))->value, 12);
  // ObjectFind ignores the first field of listed objects; ObjectGet does not.
  static_cast<Thing*>(ObjectGet(table, a))->handle = nullptr;
  EXPECT_EQ(ObjectGet(table, a), nullptr);
  EXPECT_NE(ObjectFind(table, a), nullptr);
  EXPECT_EQ(ObjectRelease(table, a), 1);
  EXPECT_EQ(ObjectFind(table, a), nullptr);
  EXPECT_EQ(KernelHeapBlockCount(ObjectListHeap), 1u);
}

TEST_F(Objects, DynamicNumbersSkipThoseInUseAfterWrapping) {
  int32_t first = 0;
  Make(-1, 1, &first);
  ASSERT_EQ(first, -2);
  table->nextNumber = INT32_MIN;
  int32_t last = 0, wrapped = 0;
  Make(-1, 2, &last);
  Make(-1, 3, &wrapped);
  EXPECT_EQ(last, INT32_MIN);
  EXPECT_EQ(wrapped, -3);  // -2 is still in use
  EXPECT_EQ(static_cast<Thing*>(ObjectGet(table, -2))->value, 1);
  EXPECT_EQ(static_cast<Thing*>(ObjectGet(table, -3))->value, 3);
}

TEST_F(Objects, EnumerationYieldsSlotsAscendingThenListOldestFirst) {
  int32_t a = 0, b = 0;
  Make(5, 5);
  Make(-1, 100, &a);
  Make(2, 2);
  Make(-1, 200, &b);
  ObjectEnumStart(table);
  std::vector<int32_t> numbers;
  int32_t number = 0;
  while (ObjectEnumNext(table, &number)) numbers.push_back(number);
  EXPECT_EQ(numbers, std::vector<int32_t>({2, 5, a, b}));
  // Restart gives the same again.
  ObjectEnumStart(table);
  EXPECT_NE(ObjectEnumNext(table, &number), nullptr);
  EXPECT_EQ(number, 2);
}

TEST_F(Objects, ReleasingEachEnumeratedObjectEmptiesTheTable) {
  for (int32_t n : {0, 1, 7, 15}) Make(n, n);
  for (int i = 0; i < 3; i++) Make(-1, i);
  ObjectEnumStart(table);
  int32_t number = 0, seen = 0;
  while (ObjectEnumNext(table, &number)) {
    ObjectRelease(table, number);
    seen++;
  }
  EXPECT_EQ(seen, 7);
  EXPECT_EQ(table->listHead, nullptr);
  ObjectEnumStart(table);
  EXPECT_EQ(ObjectEnumNext(table, &number), nullptr);
}

TEST_F(Objects, ReleasingTheObjectAheadOfTheEnumerationIsSafe) {
  int32_t a = 0, b = 0, c = 0;
  Make(-1, 1, &a);
  Make(-1, 2, &b);
  Make(-1, 3, &c);
  ObjectEnumStart(table);
  int32_t number = 0;
  ASSERT_NE(ObjectEnumNext(table, &number), nullptr);
  EXPECT_EQ(number, a);
  ObjectRelease(table, b);  // the enumeration's next node
  ASSERT_NE(ObjectEnumNext(table, &number), nullptr);
  EXPECT_EQ(number, c);
  EXPECT_EQ(ObjectEnumNext(table, &number), nullptr);
}

int32_t StopAtThree(int32_t number, void* record, void* user) {
  auto* visited = static_cast<std::vector<int32_t>*>(user);
  visited->push_back(static_cast<Thing*>(record)->value);
  (void)number;
  return static_cast<Thing*>(record)->value == 3 ? 0 : 1;
}

TEST_F(Objects, ForEachStopsAtFirstZeroAndVisitsInOrder) {
  Make(1, 1);
  Make(3, 3);
  Make(9, 9);
  Make(-1, 10);
  std::vector<int32_t> visited;
  EXPECT_EQ(ObjectForEach(table, StopAtThree, &visited), 0);
  EXPECT_EQ(visited, std::vector<int32_t>({1, 3}));
  ObjectRelease(table, 3);
  visited.clear();
  EXPECT_NE(ObjectForEach(table, StopAtThree, &visited), 0);
  EXPECT_EQ(visited, std::vector<int32_t>({1, 9, 10}));
}

// The list from the head (newest) along the older links, checking the newer
// links on the way back.
std::vector<int32_t> ListValues(ObjectNode* head) {
  std::vector<int32_t> values;
  ObjectNode* last = nullptr;
  for (ObjectNode* node = head; node; node = node->older) {
    values.push_back(*reinterpret_cast<int32_t*>(node->record));
    last = node;
  }
  if (head) {
    EXPECT_EQ(head->newer, nullptr);
  }
  size_t back = 0;
  for (ObjectNode* node = last; node; node = node->newer) back++;
  EXPECT_EQ(back, values.size());
  return values;
}

TEST_F(Objects, ListRemovalKeepsBothDirectionsLinked) {
  ObjectNode* head = nullptr;
  int32_t* records[5];
  for (int32_t i = 0; i < 5; i++) {
    records[i] = static_cast<int32_t*>(ObjectListAdd(&head, sizeof(int32_t)));
    ASSERT_NE(records[i], nullptr);
    EXPECT_EQ(*records[i], 0);
    *records[i] = i;
  }
  EXPECT_EQ(ListValues(head), std::vector<int32_t>({4, 3, 2, 1, 0}));
  ObjectListRemove(&head, records[4]);  // newest
  EXPECT_EQ(ListValues(head), std::vector<int32_t>({3, 2, 1, 0}));
  ObjectListRemove(&head, records[2]);  // middle
  EXPECT_EQ(ListValues(head), std::vector<int32_t>({3, 1, 0}));
  ObjectListRemove(&head, records[0]);  // oldest
  EXPECT_EQ(ListValues(head), std::vector<int32_t>({3, 1}));
  ObjectListRemove(&head, records[3]);
  ObjectListRemove(&head, records[1]);
  EXPECT_EQ(head, nullptr);
  EXPECT_EQ(KernelHeapBlockCount(ObjectListHeap), 0u);
}

TEST_F(Objects, FailedNodeAllocationLeavesListUnchanged) {
  int32_t a = 0;
  Make(-1, 1, &a);
  ObjectNode* head = table->listHead;
  KernelHeapFailAfter(0);
  EXPECT_EQ(ObjectNew(table, -1), nullptr);
  EXPECT_EQ(ObjectNew(table, 100), nullptr);  // the slots cannot grow either
  KernelHeapFailAfter(-1);
  EXPECT_EQ(table->listHead, head);
  EXPECT_EQ(table->slotCount, 16);
  EXPECT_NE(ObjectGet(table, a), nullptr);
}

}  // namespace
