// Heap stand-ins. A heap keeps its blocks in an intrusive doubly linked list
// (a header in front of every block) so that HeapDestroy can release them all
// at once and HeapSize can give the exact size asked for.
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/kernel.h"

namespace {

constexpr uint32_t HeapMagic = 0x48454150;   // "HEAP"
constexpr uint32_t BlockMagic = 0x424C4F4B;  // "BLOK"

struct KernelHeap;

// 32 bytes, so the block behind it keeps malloc's 16-byte alignment.
struct alignas(16) BlockHeader {
  BlockHeader* prev;
  BlockHeader* next;
  KernelHeap* heap;
  uint32_t size;  // sizes above 4 GiB are refused
  uint32_t magic;
};
static_assert(sizeof(BlockHeader) == 32, "block header keeps 16-byte alignment");

struct KernelHeap {
  uint32_t magic;
  DWORD options;
  BlockHeader* head;
  std::mutex lock;
};

struct HeapState {
  std::atomic<uint64_t> allocations;
  std::atomic<int64_t> failAfter;  // -1: never fail
  std::atomic<bool> failCreate;
};
HeapState Heaps = {{0}, {-1}, {false}};

// Takes the lock of a serialised heap for the length of one call.
struct HeapGuard {
  KernelHeap* heap;
  explicit HeapGuard(KernelHeap* h, DWORD flags) : heap(nullptr) {
    if (!((h->options | flags) & HEAP_NO_SERIALIZE)) {
      heap = h;
      heap->lock.lock();
    }
  }
  ~HeapGuard() {
    if (heap) heap->lock.unlock();
  }
};

KernelHeap* HeapOf(HANDLE handle) {
  KernelHeap* heap = static_cast<KernelHeap*>(handle);
  if (!heap || heap->magic != HeapMagic) return nullptr;
  return heap;
}

BlockHeader* HeaderOf(KernelHeap* heap, const void* block) {
  if (!block) return nullptr;
  BlockHeader* header = reinterpret_cast<BlockHeader*>(const_cast<void*>(block)) - 1;
  if (header->magic != BlockMagic || header->heap != heap) return nullptr;
  return header;
}

// Counts an allocation; false when a test asked this one to fail.
bool AllocationAllowed() {
  int64_t left = Heaps.failAfter.load();
  if (left == 0) return false;
  if (left > 0) Heaps.failAfter.fetch_sub(1);
  Heaps.allocations.fetch_add(1);
  return true;
}

void Link(KernelHeap* heap, BlockHeader* header) {
  header->prev = nullptr;
  header->next = heap->head;
  if (heap->head) heap->head->prev = header;
  heap->head = header;
}

void Unlink(KernelHeap* heap, BlockHeader* header) {
  if (header->prev)
    header->prev->next = header->next;
  else
    heap->head = header->next;
  if (header->next) header->next->prev = header->prev;
}

}  // namespace

// A new, empty heap; null when it cannot be made. Sizes are only hints.
HANDLE HeapCreate(DWORD options, size_t initialSize, size_t maximumSize) {
  (void)initialSize;
  (void)maximumSize;
  if (Heaps.failCreate.load()) return nullptr;
  KernelHeap* heap = new (std::nothrow) KernelHeap;
  if (!heap) return nullptr;
  heap->magic = HeapMagic;
  heap->options = options;
  heap->head = nullptr;
  return heap;
}

// Releases every block of the heap and the heap itself.
BOOL HeapDestroy(HANDLE handle) {
  KernelHeap* heap = HeapOf(handle);
  if (!heap) return FALSE;
  BlockHeader* header = heap->head;
  while (header) {
    BlockHeader* next = header->next;
    header->magic = 0;
    std::free(header);
    header = next;
  }
  heap->magic = 0;
  delete heap;
  return TRUE;
}

// A block of exactly bytes bytes (zeroed with HEAP_ZERO_MEMORY), or null.
void* HeapAlloc(HANDLE handle, DWORD flags, size_t bytes) {
  KernelHeap* heap = HeapOf(handle);
  if (!heap || bytes > UINT32_MAX) return nullptr;
  if (!AllocationAllowed()) return nullptr;
  BlockHeader* header = static_cast<BlockHeader*>(
      (flags & HEAP_ZERO_MEMORY) ? std::calloc(1, sizeof(BlockHeader) + bytes)
                                 : std::malloc(sizeof(BlockHeader) + bytes));
  if (!header) return nullptr;
  header->heap = heap;
  header->size = uint32_t(bytes);
  header->magic = BlockMagic;
  HeapGuard guard(heap, flags);
  Link(heap, header);
  return header + 1;
}

// Resizes a block keeping its content (it may move); with HEAP_ZERO_MEMORY the
// bytes gained read as zero. Null on failure, the old block then untouched.
void* HeapReAlloc(HANDLE handle, DWORD flags, void* block, size_t bytes) {
  KernelHeap* heap = HeapOf(handle);
  if (!heap || bytes > UINT32_MAX) return nullptr;
  HeapGuard guard(heap, flags);
  BlockHeader* header = HeaderOf(heap, block);
  if (!header) return nullptr;
  if (!AllocationAllowed()) return nullptr;
  size_t old = header->size;
  BlockHeader* prev = header->prev;
  BlockHeader* next = header->next;
  BlockHeader* moved = static_cast<BlockHeader*>(std::realloc(header, sizeof(BlockHeader) + bytes));
  if (!moved) return nullptr;
  // The neighbours still point at the old address.
  if (prev)
    prev->next = moved;
  else
    heap->head = moved;
  if (next) next->prev = moved;
  moved->size = uint32_t(bytes);
  if ((flags & HEAP_ZERO_MEMORY) && bytes > old) std::memset(reinterpret_cast<char*>(moved + 1) + old, 0, bytes - old);
  return moved + 1;
}

// Returns a block to its heap; a null block is accepted and frees nothing.
BOOL HeapFree(HANDLE handle, DWORD flags, void* block) {
  KernelHeap* heap = HeapOf(handle);
  if (!heap) return FALSE;
  if (!block) return TRUE;
  HeapGuard guard(heap, flags);
  BlockHeader* header = HeaderOf(heap, block);
  if (!header) return FALSE;
  Unlink(heap, header);
  header->magic = 0;
  std::free(header);
  return TRUE;
}

size_t HeapSize(HANDLE handle, DWORD flags, const void* block) {
  KernelHeap* heap = HeapOf(handle);
  if (!heap) return size_t(-1);
  HeapGuard guard(heap, flags);
  BlockHeader* header = HeaderOf(heap, block);
  return header ? header->size : size_t(-1);
}

uint64_t KernelHeapAllocations() { return Heaps.allocations.load(); }

uint64_t KernelHeapBlockCount(HANDLE handle) {
  KernelHeap* heap = HeapOf(handle);
  if (!heap) return 0;
  HeapGuard guard(heap, 0);
  uint64_t count = 0;
  for (BlockHeader* header = heap->head; header; header = header->next) count++;
  return count;
}

void KernelHeapFailAfter(int64_t allowed) { Heaps.failAfter.store(allowed < 0 ? -1 : allowed); }

void KernelHeapCreateFail(bool fail) { Heaps.failCreate.store(fail); }
