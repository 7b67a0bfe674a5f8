// Windows: the unhandled-exception filter is the real one. The bridge
// installs a filter of its own that hands the Parts' filter the exception
// record and the thread context, lets it move the instruction pointer, and
// then continues, ends the process or resumes through SehCallOnResume.
//
// On x86-64 the Parts read and write the real CONTEXT (Rip, Rax ... R15,
// EFlags, SegCs, SegSs are its own fields). On i686 the context is the Parts'
// record below, filled from the real one's Eip, Eax ... and written back.
#pragma once

#include "platform/win32.h"

#if defined(__i386__)
struct WinPartsContext {
  uint64_t Rax, Rbx, Rcx, Rdx, Rbp, Rsi, Rdi, Rsp;
  uint64_t R8, R9, R10, R11, R12, R13, R14, R15;
  uint64_t Rip;
  DWORD EFlags;
  WORD SegCs, SegSs;
};
struct WinPartsPointers {
  EXCEPTION_RECORD* ExceptionRecord;
  WinPartsContext* ContextRecord;
};
#define CONTEXT WinPartsContext
#define EXCEPTION_POINTERS WinPartsPointers
typedef LONG (*WinPartsFilter)(WinPartsPointers* pointers);
#else
typedef LONG (*WinPartsFilter)(::EXCEPTION_POINTERS* pointers);
#endif

// Installs the process-wide filter; returns the one installed before (null
// at first). Null gives the filter found before the first install back.
// A fault while the filter is handling one (or before a routine given to
// SehCallOnResume has returned) ends the process at once with its code.
WinPartsFilter WinSetUnhandledExceptionFilter(WinPartsFilter filter);
#define LPTOP_LEVEL_EXCEPTION_FILTER WinPartsFilter
#define SetUnhandledExceptionFilter WinSetUnhandledExceptionFilter

// Only from inside a filter that then returns EXCEPTION_CONTINUE_EXECUTION:
// the thread leaves the exception dispatch and calls routine on its own
// stack below the faulting frame; should routine return, the thread resumes
// at the context's instruction pointer with the context's registers.
void SehCallOnResume(void (*routine)());
// Copies the bytes at address that can be read, up to bytes (at most 64),
// into buffer; returns how many were copied (0: none readable).
size_t SehRead(uintptr_t address, void* buffer, size_t bytes);
