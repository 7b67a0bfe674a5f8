// The exception filter: records a fault, then skips the instruction, calls the
// application's error exit, or shows the crash report.
#pragma once

#include <cstdint>

#include "platform/seh.h"

enum ErrorMode : uint32_t { ErrorModeSkip = 0, ErrorModeExit = 1, ErrorModeReport = 2 };

struct ErrorRecord {
  uint32_t mode;
  uint32_t code;
  uintptr_t address;
  void (*errorExit)();
  LPTOP_LEVEL_EXCEPTION_FILTER previousFilter;
  uint64_t eax, ebx, ecx, edx, ebp, esi, edi;  // rax ... rdi
  uint32_t cs;
  uint32_t eflags;
  uint64_t esp;
  uint32_t ss;
  int32_t line;
  int32_t errorLine;
  uint32_t breakpointStep;
};

extern ErrorRecord ErrorInfo;

int32_t ErrorHandlerInstall();
int32_t ErrorHandlerRemove();
void (*ErrorExitSet(void (*routine)()))();
int32_t ErrorReportSet();
LONG ErrorFilter(EXCEPTION_POINTERS* pointers);
