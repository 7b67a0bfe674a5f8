// Start-up and shutdown of the runtime, and the memory blocks.
#include <gtest/gtest.h>

#include <fstream>

#include "runtime/files.h"
#include "runtime/objects.h"
#include "support.h"

namespace {

class Runtime : public ::testing::Test {
 protected:
  void SetUp() override { FreshRuntime(); }
};

TEST_F(Runtime, StartCreatesHeapsTablesAndBuffer) {
  EXPECT_NE(InstanceHandle, nullptr);
  EXPECT_EQ(InstanceHandle, GetModuleHandleW(nullptr));
  EXPECT_NE(MainHeap, nullptr);
  EXPECT_NE(ObjectListHeap, nullptr);
  EXPECT_NE(BlockHeap, nullptr);
  EXPECT_NE(StringHeap, nullptr);
  ASSERT_NE(FileTable, nullptr);
  EXPECT_EQ(FileTable->slotCount, 16);
  EXPECT_EQ(FileTable->recordSize, int32_t(sizeof(FileRecord)));
  EXPECT_EQ(StringBufferFill, 0);
  EXPECT_EQ(StringBufferCapacity, 16);
  EXPECT_EQ(CurrentLine, 0);
}

TEST_F(Runtime, BlocksAreZeroedExactAndRefusedForNoSize) {
  uint64_t before = KernelHeapAllocations();
  EXPECT_EQ(BlockAlloc(0), nullptr);
  EXPECT_EQ(BlockAlloc(-5), nullptr);
  EXPECT_EQ(KernelHeapAllocations(), before);
  unsigned char* block = static_cast<unsigned char*>(BlockAlloc(10));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 10; i++) EXPECT_EQ(block[i], 0);
  EXPECT_EQ(BlockSize(block), 10u);
  EXPECT_EQ(BlockSize(nullptr), 0u);
  BlockFree(block);
  BlockFree(nullptr);
  EXPECT_EQ(KernelHeapBlockCount(BlockHeap), 0u);
}

TEST_F(Runtime, FreeingAllBlocksStartsAFreshHeap) {
  for (int i = 0; i < 5; i++) static_cast<char*>(BlockAlloc(100))[0] = 1;
  HANDLE old = BlockHeap;
  BlockFree(BLOCK_ALL);
  EXPECT_NE(BlockHeap, nullptr);
  EXPECT_EQ(KernelHeapBlockCount(BlockHeap), 0u);
  (void)old;
  unsigned char* block = static_cast<unsigned char*>(BlockAlloc(100));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 100; i++) EXPECT_EQ(block[i], 0);
}

TEST_F(Runtime, PeekWordIsSignedLittleEndianAtAnyAddress) {
  unsigned char bytes[5] = {0xFF, 0xFF, 0x34, 0x12, 0x00};
  EXPECT_EQ(BlockPeekWord(bytes), -1);
  EXPECT_EQ(BlockPeekWord(bytes + 2), 4660);
  EXPECT_EQ(BlockPeekWord(bytes + 1), 0x34FF);
}

TEST(RuntimeDeath, EndFlushesOpenFilesAndExitsWithZero) {
  ScratchDir dir("end");
  std::u16string name = dir.WidePath("pending.bin");
  EXPECT_EXIT(
      {
        FreshRuntime();
        FileOpenWrite(7, name.c_str());
        FileRecord* record = static_cast<FileRecord*>(ObjectGet(FileTable, 7));
        record->mode = 0;
        record->buffer[0] = 'o';
        record->buffer[1] = 'k';
        record->count = record->capacity - 2;
        RuntimeEnd();
      },
      ::testing::ExitedWithCode(0), "");
  std::ifstream in(dir.path / "pending.bin", std::ios::binary);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "ok");
}

TEST(RuntimeDeath, HeapThatCannotBeCreatedEndsWithMessage) {
  EXPECT_EXIT(
      {
        KernelHeapCreateFail(true);
        RuntimeStart();
      },
      ::testing::ExitedWithCode(RUNTIME_EXIT_OUT_OF_MEMORY), "tessel: out of memory: the MainHeap cannot be created");
}

}  // namespace
