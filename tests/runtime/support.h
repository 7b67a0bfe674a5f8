// Shared helpers of the runtime tests: a fresh runtime per test, the text of
// the StringBuffer, wide-string conversion and a scratch folder.
#pragma once

#include <filesystem>
#include <string>

#include "errors/errors.h"
#include "platform/kernel.h"
#include "runtime/runtime.h"
#include "runtime/strings.h"

// Throws the previous runtime's heaps away and starts a new one. The fault
// filter is taken out again so that test failures are reported as usual.
inline void FreshRuntime() {
  HANDLE heaps[4] = {MainHeap, ObjectListHeap, BlockHeap, StringHeap};
  for (HANDLE heap : heaps)
    if (heap) HeapDestroy(heap);
  KernelHeapFailAfter(-1);
  KernelHeapCreateFail(false);
  KernelSetCommandLine(nullptr);
  RuntimeStart();
  ErrorHandlerRemove();
}

// The StringBuffer text from a byte position to the fill position.
inline std::u16string BufferText(int32_t start) {
  const char16_t* p = reinterpret_cast<const char16_t*>(reinterpret_cast<const char*>(StringBufferBase) + start);
  return std::u16string(p, size_t(StringBufferFill - start) / 2);
}

inline std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// An empty folder of its own for one test, removed again by the destructor.
struct ScratchDir {
  std::filesystem::path path;
  std::filesystem::path previous;
  explicit ScratchDir(const char* name) {
    previous = std::filesystem::current_path();
    // Named per process: other builds may run the same tests at the same time.
    path = std::filesystem::temp_directory_path() /
           (std::string("tessel-runtime-") + name + "-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
  }
  ~ScratchDir() {
    std::filesystem::current_path(previous);
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::u16string WidePath(const std::string& relative) const {
    std::string p = (path / relative).string();
    return std::u16string(p.begin(), p.end());
  }
};
