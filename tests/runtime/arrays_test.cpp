// Dynamic arrays: layout, declaration and release, resizing, and the release
// of string fields through StringFieldTables (nested ones included).
#include <gtest/gtest.h>

#include <cstring>

#include "runtime/arrays.h"
#include "support.h"

namespace {

const StringFieldEntry NameOnly[] = {0, -1};

// A 45-byte record with its string at offset 0, as the map layers have:
// element 1 starts at an odd address.
constexpr int32_t LayerSize = 45;

char16_t* MakeString(const char16_t* text) {
  StringVariable v = nullptr;
  StrInit(&v, text);
  return v;
}

void PutString(void* elements, int32_t recordSize, int32_t index, int32_t offset, const char16_t* text) {
  char16_t* v = MakeString(text);
  std::memcpy(static_cast<char*>(elements) + index * recordSize + offset, &v, sizeof v);
}

class Arrays : public ::testing::Test {
 protected:
  void SetUp() override { FreshRuntime(); }
};

TEST_F(Arrays, AllocLaysOutHeaderZeroedElementsAndSpare) {
  void* array = nullptr;
  void* elements = ArrayAlloc(3, 8, nullptr, &array, 7);
  ASSERT_NE(elements, nullptr);
  EXPECT_EQ(array, elements);
  ArrayHeader* header = static_cast<ArrayHeader*>(elements) - 1;
  EXPECT_EQ(header->recordSize, 8);
  EXPECT_EQ(header->count, 3);
  EXPECT_EQ(header->typeCode, 7);
  EXPECT_EQ(header->owner, &array);
  EXPECT_EQ(HeapSize(MainHeap, 0, header), sizeof(ArrayHeader) + 4 * 8);
  for (int i = 0; i < 32; i++) EXPECT_EQ(static_cast<unsigned char*>(elements)[i], 0);
  ArrayFreeRaw(elements);
  ArrayFree(nullptr);
  ArrayFreeRaw(nullptr);
  EXPECT_EQ(ArrayAlloc(-2, 8, nullptr, &array, 7), nullptr);
  EXPECT_EQ(array, nullptr);
}

TEST_F(Arrays, RedeclarationReleasesEveryElementString) {
  void* layers = nullptr;
  ArrayAlloc(3, LayerSize, NameOnly, &layers, 7);
  uint64_t before = KernelHeapBlockCount(StringHeap);
  for (int i = 0; i < 3; i++) PutString(layers, LayerSize, i, 0, u"layer");
  EXPECT_EQ(KernelHeapBlockCount(StringHeap), before + 3);
  ArrayFree(layers);
  ArrayAlloc(1, LayerSize, NameOnly, &layers, 7);
  EXPECT_EQ(KernelHeapBlockCount(StringHeap), before);
  char16_t* name;
  std::memcpy(&name, layers, sizeof name);
  EXPECT_EQ(name, nullptr);
  ArrayFree(layers);
}

TEST_F(Arrays, UpperBoundMinusOneGivesAnEmptyArray) {
  void* array = nullptr;
  ArrayAlloc(0, LayerSize, NameOnly, &array, 7);
  ASSERT_NE(array, nullptr);
  EXPECT_EQ((static_cast<ArrayHeader*>(array) - 1)->count, 0);
  PutString(array, LayerSize, 0, 0, u"spare");  // the spare element is not an element
  uint64_t before = KernelHeapBlockCount(StringHeap);
  ArrayFree(array);
  EXPECT_EQ(KernelHeapBlockCount(StringHeap), before);

  // Upper bound -2: count -1, a valid array of no elements (null would read
  // as an exhausted heap); it can be released and grown like any other.
  array = nullptr;
  ASSERT_NE(ArrayAlloc(-1, LayerSize, NameOnly, &array, 7), nullptr);
  ASSERT_NE(array, nullptr);
  ArrayHeader* header = static_cast<ArrayHeader*>(array) - 1;
  EXPECT_EQ(header->count, -1);
  EXPECT_EQ(HeapSize(MainHeap, 0, header), sizeof(ArrayHeader));
  ArrayResize(2, &array);
  EXPECT_EQ((static_cast<ArrayHeader*>(array) - 1)->count, 2);
  ArrayFree(array);
}

TEST_F(Arrays, ResizeKeepsZeroesAndReleases) {
  void* array = nullptr;
  ArrayAlloc(2, LayerSize, NameOnly, &array, 7);
  PutString(array, LayerSize, 0, 0, u"zero");
  PutString(array, LayerSize, 1, 0, u"one");
  static_cast<char*>(array)[LayerSize + 44] = 9;

  ArrayResize(200, &array);
  ArrayHeader* header = static_cast<ArrayHeader*>(array) - 1;
  EXPECT_EQ(header->count, 200);
  EXPECT_EQ(header->recordSize, LayerSize);
  EXPECT_EQ(header->stringFields, NameOnly);
  EXPECT_EQ(header->typeCode, 7);
  char16_t* name;
  std::memcpy(&name, static_cast<char*>(array) + LayerSize, sizeof name);
  EXPECT_EQ(std::u16string(name), u"one");
  EXPECT_EQ(static_cast<char*>(array)[LayerSize + 44], 9);
  for (int i = 2 * LayerSize; i < 200 * LayerSize; i++) ASSERT_EQ(static_cast<char*>(array)[i], 0) << i;

  void* same = array;
  ArrayResize(200, &array);
  EXPECT_EQ(array, same);

  uint64_t before = KernelHeapBlockCount(StringHeap);
  ArrayResize(1, &array);
  EXPECT_EQ(KernelHeapBlockCount(StringHeap), before - 1);  // "one" went with element 1
  EXPECT_EQ(HeapSize(MainHeap, 0, static_cast<ArrayHeader*>(array) - 1), sizeof(ArrayHeader) + LayerSize);
  std::memcpy(&name, array, sizeof name);
  EXPECT_EQ(std::u16string(name), u"zero");

  void* none = nullptr;
  ArrayResize(5, &none);  // an unallocated array is refused
  EXPECT_EQ(none, nullptr);
  ArrayFree(array);
}

TEST_F(Arrays, NestedTablesReleaseStringsOfSubRecords) {
  // Record: a string at 0, then three 24-byte sub-records at offset 16, each
  // with strings at 0 and 8.
  static const StringFieldEntry Sub[] = {0, 8, -1};
  static const StringFieldEntry Outer[] = {0, -2, 3, 16, 24, reinterpret_cast<StringFieldEntry>(Sub), -1};
  constexpr int32_t Size = 16 + 3 * 24;
  void* array = nullptr;
  ArrayAlloc(2, Size, Outer, &array, 7);
  uint64_t before = KernelHeapBlockCount(StringHeap);
  for (int e = 0; e < 2; e++) {
    PutString(array, Size, e, 0, u"outer");
    for (int s = 0; s < 3; s++) {
      PutString(array, Size, e, 16 + s * 24, u"a");
      if (s != 1) PutString(array, Size, e, 16 + s * 24 + 8, u"b");
    }
  }
  EXPECT_EQ(KernelHeapBlockCount(StringHeap), before + 12);
  RecordStringsFree(static_cast<char*>(array) + Size, Outer);
  EXPECT_EQ(KernelHeapBlockCount(StringHeap), before + 6);
  std::memset(static_cast<char*>(array) + Size, 0, Size);  // the fields are not cleared
  ArrayFree(array);
  EXPECT_EQ(KernelHeapBlockCount(StringHeap), before);
}

}  // namespace
