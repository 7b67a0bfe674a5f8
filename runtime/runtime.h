// Runtime start-up and shutdown, the four heaps, memory blocks, and the
// current-line global that the Map runner sets before every statement.
#pragma once

#include <cstdint>

#include "platform/win32.h"

// The source line of the Map runner statement running now; read only by the
// exception filter.
extern int32_t CurrentLine;

extern HANDLE MainHeap;        // tables, arrays, file buffers, sprite data
extern HANDLE ObjectListHeap;  // nodes of dynamically numbered objects
extern HANDLE BlockHeap;       // blocks of BlockAlloc
extern HANDLE StringHeap;      // the StringBuffer and string variables (unserialised)
extern HINSTANCE InstanceHandle;

// Exit code of a process ended by RuntimeOutOfMemory.
#define RUNTIME_EXIT_OUT_OF_MEMORY 3

// Ends the process at once: a heap that cannot be created, or the StringHeap
// that cannot supply a block. Prints "tessel: out of memory: <what>" on
// standard error and exits with RUNTIME_EXIT_OUT_OF_MEMORY.
[[noreturn]] void RuntimeOutOfMemory(const char* what);
// HeapCreate, or RuntimeOutOfMemory naming the heap when it fails.
HANDLE RuntimeHeapCreate(DWORD options, size_t initialSize, const char* name);

// Sets the runtime up; the first thing the program does.
void RuntimeStart();
// Shuts every module down and ends the process with exit code 0.
[[noreturn]] void RuntimeEnd();

// The address that asks BlockFree to release every block at once.
#define BLOCK_ALL ((void*)(intptr_t)-1)

// A zeroed block of size bytes, or null (also for a size of 0 or less).
void* BlockAlloc(int32_t size);
// The size of a block; 0 for null.
uint32_t BlockSize(const void* block);
// Releases one block, or every block for BLOCK_ALL; null frees nothing.
void BlockFree(void* block);
// The signed 16-bit value at the address, sign-extended; no check of any kind.
int32_t BlockPeekWord(const void* address);
