// The exception filter: records a fault, then skips the instruction, calls the
// application's error exit, or shows the crash report.
//
// Where the faulting instruction cannot be measured (unreadable, refused by
// the decoder), Skip ends the process as Report does, and Exit calls the error
// exit and, should it return, ends the same way. The error exit runs on the
// faulting thread after the signal handler has returned, never inside it.
#pragma once

#include <cstdint>

#include "platform/seh.h"

enum ErrorMode : uint32_t { ErrorModeSkip = 0, ErrorModeExit = 1, ErrorModeReport = 2 };

// The last exception; one process-wide instance, zero at start.
struct ErrorRecord {
  uint32_t mode;      // ErrorMode
  uint32_t code;      // exception code
  uintptr_t address;  // faulting instruction; for a breakpoint advanced by BreakpointStep
  void (*errorExit)();
  LPTOP_LEVEL_EXCEPTION_FILTER previousFilter;
  uint64_t eax, ebx, ecx, edx, ebp, esi, edi;  // rax ... rdi
  uint32_t cs;
  uint32_t eflags;
  uint64_t esp;
  uint32_t ss;
  int32_t line;       // CurrentLine at the exception
  int32_t errorLine;  // the same, stored a second time
  uint32_t BreakpointStep;  // 1 unless the platform is VER_PLATFORM_WIN32_WINDOWS
};

extern ErrorRecord ErrorInfo;

// Installs ErrorFilter in Skip mode, keeping the filter it replaces; 0.
int32_t ErrorHandlerInstall();
// Installs the kept filter again and keeps the one it replaces; 0.
int32_t ErrorHandlerRemove();
// Selects Exit with the routine (no arguments, not expected to return); returns the routine.
void (*ErrorExitSet(void (*routine)()))();
// Selects Report; 0.
int32_t ErrorReportSet();
// The platform's filter: EXCEPTION_CONTINUE_EXECUTION or EXCEPTION_EXECUTE_HANDLER.
LONG ErrorFilter(EXCEPTION_POINTERS* pointers);
