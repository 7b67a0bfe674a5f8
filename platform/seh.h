// The unhandled-exception filter over POSIX signals (SIGSEGV, SIGBUS, SIGFPE,
// SIGILL, SIGTRAP), handled on an alternate signal stack. The context carries
// the x86-64 registers; the filter may change them and Rip before continuing.
#pragma once

#include "platform/win32.h"

#define EXCEPTION_ACCESS_VIOLATION 0xC0000005u
#define EXCEPTION_INT_DIVIDE_BY_ZERO 0xC0000094u
#define EXCEPTION_INT_OVERFLOW 0xC0000095u
#define EXCEPTION_ILLEGAL_INSTRUCTION 0xC000001Du
#define EXCEPTION_PRIV_INSTRUCTION 0xC0000096u
#define EXCEPTION_BREAKPOINT 0x80000003u
#define EXCEPTION_SINGLE_STEP 0x80000004u
#define EXCEPTION_IN_PAGE_ERROR 0xC0000006u
#define EXCEPTION_FLT_DIVIDE_BY_ZERO 0xC000008Eu
#define EXCEPTION_FLT_INVALID_OPERATION 0xC0000090u
#define EXCEPTION_FLT_INEXACT_RESULT 0xC000008Fu
#define EXCEPTION_FLT_OVERFLOW 0xC0000091u
#define EXCEPTION_FLT_UNDERFLOW 0xC0000093u
#define EXCEPTION_ARRAY_BOUNDS_EXCEEDED 0xC000008Cu

#define EXCEPTION_EXECUTE_HANDLER 1
#define EXCEPTION_CONTINUE_SEARCH 0
#define EXCEPTION_CONTINUE_EXECUTION (-1)

struct EXCEPTION_RECORD {
  DWORD ExceptionCode;
  DWORD ExceptionFlags;
  EXCEPTION_RECORD* ExceptionRecord;
  void* ExceptionAddress;
  DWORD NumberParameters;
  uintptr_t ExceptionInformation[15];
};

// The x86-64 thread context (the fields the filter reads and writes).
struct CONTEXT {
  uint64_t Rax, Rbx, Rcx, Rdx, Rbp, Rsi, Rdi, Rsp;
  uint64_t R8, R9, R10, R11, R12, R13, R14, R15;
  uint64_t Rip;
  DWORD EFlags;
  WORD SegCs, SegSs;
};

struct EXCEPTION_POINTERS {
  EXCEPTION_RECORD* ExceptionRecord;
  CONTEXT* ContextRecord;
};

typedef LONG (*LPTOP_LEVEL_EXCEPTION_FILTER)(EXCEPTION_POINTERS* pointers);

// Installs the process-wide filter; returns the one installed before. Null
// removes the signal handlers and gives back the dispositions found before.
// The alternate signal stack is set for the calling thread.
//
// What the filter's result does: EXCEPTION_CONTINUE_EXECUTION resumes at the
// context's Rip with its registers; EXCEPTION_EXECUTE_HANDLER ends the process
// with ExitProcess(exception code); EXCEPTION_CONTINUE_SEARCH hands the signal
// to the handler that was there before, or to the default action (the process
// dies of the signal). A fault while a filter is handling one ends the process
// at once with _exit(exception code). Signals sent by a process, not raised by
// an instruction, are never handed to the filter.
LPTOP_LEVEL_EXCEPTION_FILTER SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter);

// ---- Platform-internal: used by the exception filter and tests. ----

// Only from inside a filter that then returns EXCEPTION_CONTINUE_EXECUTION: the
// faulting thread leaves the signal handler and calls routine on its own stack
// (below the faulting frame and its red zone, 16-byte aligned; on a spare stack
// when that one is unusable). Until routine returns, a further fault counts as
// a fault inside the filter. Should routine return, the thread resumes at the
// context's Rip with the context's registers and its whole extended state
// (x87, SSE, AVX and every other component the system has enabled) as at the
// fault. Ignored outside a filter.
void SehCallOnResume(void (*routine)());
// Copies the bytes at address that can be read without a fault, up to bytes
// (at most 64), into buffer; returns how many were copied (0: none readable).
size_t SehRead(uintptr_t address, void* buffer, size_t bytes);
