// The exception filter: records every processor exception in ErrorInfo, then
// skips the faulting instruction (measured by the instruction decoder), has
// the application's error exit run, or shows the crash report and lets the
// process end. Stands on the platform's unhandled-exception filter.
#include <cstddef>

#include "errors/decoder.h"
#include "errors/errors.h"
#include "platform/kernel.h"
#include "platform/seh.h"
#include "platform/user.h"
#include "runtime/runtime.h"

ErrorRecord ErrorInfo;

namespace {

// The longest x86 instruction the processor accepts.
constexpr size_t kInstructionBytes = 15;

// The address after the instruction at address, or 0 when there is no sound
// place to resume: the instruction cannot be read whole, or the decoder
// refuses the address (its own region).
uintptr_t ErrorNextInstruction(uintptr_t address) {
  uint8_t copy[kInstructionBytes + 1] = {};
  size_t readable = SehRead(address, copy, kInstructionBytes);
  if (readable == 0) return 0;
  if (readable == kInstructionBytes) return InstructionDecode(address);
  // Near the end of readable memory the decoder must not read in place (it
  // reads without checks); measure the readable bytes from a copy instead.
  uintptr_t base = reinterpret_cast<uintptr_t>(copy);
  uintptr_t end = InstructionDecode(base);
  if (end == 0 || end - base > readable) return 0;
  return address + (end - base);
}

// The crash report box; the filter's result then ends the process.
LONG ErrorReport() {
  MessageBoxA(nullptr, "There was a general Exception-Error\r\nThe program will now be terminated!",
              "Error Information", MB_OK | MB_ICONHAND);
  return EXCEPTION_EXECUTE_HANDLER;
}

// Runs on the faulting thread after the handler, when the faulting instruction
// could not be measured: there is nowhere to go back to, so a returning error
// exit is followed by the end that Report mode gives.
void ErrorExitWithoutResume() {
  ErrorInfo.errorExit();
  ErrorReport();
  ExitProcess(ErrorInfo.code);
}

}  // namespace

int32_t ErrorHandlerInstall() {
  ErrorRecord* error = &ErrorInfo;
  error->mode = ErrorModeSkip;
  LPTOP_LEVEL_EXCEPTION_FILTER previous = SetUnhandledExceptionFilter(ErrorFilter);
  // Installed twice, the filter would become its own predecessor and could
  // never be removed.
  if (previous != ErrorFilter) error->previousFilter = previous;
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExA(&version);
  if (version.dwPlatformId != VER_PLATFORM_WIN32_WINDOWS) error->BreakpointStep = 1;
  return 0;
}

int32_t ErrorHandlerRemove() {
  ErrorRecord* error = &ErrorInfo;
  error->previousFilter = SetUnhandledExceptionFilter(error->previousFilter);
  return 0;
}

void (*ErrorExitSet(void (*routine)()))() {
  ErrorInfo.errorExit = routine;
  ErrorInfo.mode = ErrorModeExit;
  return routine;
}

int32_t ErrorReportSet() {
  ErrorInfo.mode = ErrorModeReport;
  return 0;
}

LONG ErrorFilter(EXCEPTION_POINTERS* pointers) {
  ErrorRecord* error = &ErrorInfo;
  error->line = CurrentLine;  // first, before anything can change it
  const EXCEPTION_RECORD* exception = pointers->ExceptionRecord;
  CONTEXT* context = pointers->ContextRecord;
  error->code = exception->ExceptionCode;
  error->address = reinterpret_cast<uintptr_t>(exception->ExceptionAddress);
  error->eax = context->Rax;
  error->ebx = context->Rbx;
  error->ecx = context->Rcx;
  error->edx = context->Rdx;
  error->ebp = context->Rbp;
  error->esi = context->Rsi;
  error->edi = context->Rdi;
  error->cs = context->SegCs;
  error->eflags = context->EFlags;
  error->esp = context->Rsp;
  error->ss = context->SegSs;
  error->errorLine = error->line;

  bool breakpoint = error->code == EXCEPTION_BREAKPOINT;
  if (breakpoint) {
    context->Rip += error->BreakpointStep;
    error->address += error->BreakpointStep;
  }

  if (error->mode == ErrorModeReport) return ErrorReport();

  // Skip and Exit: resume after the faulting instruction (a breakpoint's
  // resume point has been moved already).
  uintptr_t next = breakpoint ? context->Rip : ErrorNextInstruction(context->Rip);
  void (*routine)() = error->mode == ErrorModeExit ? error->errorExit : nullptr;
  if (next == 0) {
    if (!routine) return ErrorReport();
    SehCallOnResume(ErrorExitWithoutResume);
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  context->Rip = next;
  // The error exit shows a box, frees heaps and ends the process: none of that
  // is safe inside a signal handler, so it runs on the thread once the handler
  // has returned. Should it return, the thread goes on after the fault.
  if (routine) SehCallOnResume(routine);
  return EXCEPTION_CONTINUE_EXECUTION;
}
