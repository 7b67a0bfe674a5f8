// Runtime start-up and shutdown, the four heaps and the memory blocks of
// BlockAlloc. Calls the start-up and shutdown steps of the other modules in
// their fixed order.
#include "runtime/runtime.h"

#include <cstdio>
#include <cstring>

#include "errors/errors.h"
#include "input/keyboard.h"
#include "platform/kernel.h"
#include "runtime/args.h"
#include "runtime/files.h"
#include "runtime/strings.h"
#include "screen/decoders.h"
#include "screen/draw.h"
#include "screen/screen.h"

int32_t CurrentLine;
HANDLE MainHeap;
HANDLE ObjectListHeap;
HANDLE BlockHeap;
HANDLE StringHeap;
HINSTANCE InstanceHandle;

void RuntimeOutOfMemory(const char* what) {
  std::fprintf(stderr, "tessel: out of memory: %s\n", what ? what : "allocation failed");
  ExitProcess(RUNTIME_EXIT_OUT_OF_MEMORY);
}

HANDLE RuntimeHeapCreate(DWORD options, size_t initialSize, const char* name) {
  HANDLE heap = HeapCreate(options, initialSize, 0);
  if (!heap) {
    char what[96];
    std::snprintf(what, sizeof what, "the %s cannot be created", name);
    RuntimeOutOfMemory(what);
  }
  return heap;
}

// Sets every runtime module up, in the order the rest of the system relies on.
void RuntimeStart() {
  CurrentLine = 0;
  MainHeap = nullptr;
  ObjectListHeap = nullptr;
  BlockHeap = nullptr;
  StringHeap = nullptr;
  InstanceHandle = GetModuleHandleW(nullptr);
  MainHeap = RuntimeHeapCreate(0, 4096, "MainHeap");
  ObjectListHeap = RuntimeHeapCreate(0, 1024, "ObjectListHeap");
  DrawSystemInit();
  FileTableCreate();
  ImageDecoderReset();
  BlockHeap = RuntimeHeapCreate(0, 4096, "BlockHeap");
  ErrorHandlerInstall();
  ArgCursorCreate();
  InitCommonControls();
  StringSystemInit();
}

// Shuts every module down, closes the open files and exits with code 0.
void RuntimeEnd() {
  ScreenSystemEnd();
  ErrorHandlerRemove();
  KeyboardRelease();
  FileCloseAll();
  HeapDestroy(ObjectListHeap);
  ObjectListHeap = nullptr;
  HeapDestroy(MainHeap);
  MainHeap = nullptr;
  ExitProcess(0);
}

// A zeroed block, or null for a size of 0 or less or when the heap is exhausted.
void* BlockAlloc(int32_t size) {
  if (size <= 0) return nullptr;
  return HeapAlloc(BlockHeap, HEAP_ZERO_MEMORY, size_t(size));
}

uint32_t BlockSize(const void* block) {
  if (!block) return 0;
  return uint32_t(HeapSize(BlockHeap, 0, block));
}

// Releases one block, or every block at once for BLOCK_ALL by replacing the heap.
void BlockFree(void* block) {
  if (block == BLOCK_ALL) {
    HeapDestroy(BlockHeap);
    BlockHeap = RuntimeHeapCreate(0, 4096, "BlockHeap");
    return;
  }
  if (block) HeapFree(BlockHeap, 0, block);
}

int32_t BlockPeekWord(const void* address) {
  int16_t value;
  std::memcpy(&value, address, sizeof value);  // cell blocks need not be aligned
  return value;
}
