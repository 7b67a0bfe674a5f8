// Windows: the unhandled-exception filter bridge of platform/seh.h over the
// real SetUnhandledExceptionFilter, and the resume path over ntdll's
// NtContinue.
#include "platform/seh.h"

// This file speaks of the real filter and records.
#undef SetUnhandledExceptionFilter
#undef CONTEXT
#undef EXCEPTION_POINTERS

namespace {

typedef LONG(NTAPI* WinNtContinue)(::CONTEXT* context, BOOLEAN alert);

struct WinSehModule {
  WinPartsFilter filter;                 // the Parts' filter, or null
  PTOP_LEVEL_EXCEPTION_FILTER previous;  // the real filter found at the first install
  int32_t installed;                     // WinFilter is the real filter
  volatile LONG busy;                    // a fault is being handled (until a resume routine returns)
  void (*resume)();                      // set by SehCallOnResume inside the filter
  ::CONTEXT resumeContext;               // where the thread goes on after the resume routine
};
WinSehModule WinSeh;

// Ends the process at once, without the exit routines that could fault again.
[[noreturn]] void WinSehEnd(DWORD code) {
  TerminateProcess(GetCurrentProcess(), code);
  for (;;) Sleep(INFINITE);
}

// Runs on the faulting thread after the dispatch has ended: the resume
// routine, then the context the filter left.
void WinSehResume() {
  WinSeh.resume();
  WinSeh.resume = nullptr;
  static WinNtContinue resumeAt = reinterpret_cast<WinNtContinue>(
      reinterpret_cast<void (*)()>(::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtContinue")));
  InterlockedExchange(&WinSeh.busy, 0);
  if (resumeAt) resumeAt(&WinSeh.resumeContext, FALSE);
  WinSehEnd(EXCEPTION_NONCONTINUABLE_EXCEPTION);
}

// Moves the real context to a call of WinSehResume below the faulting frame
// (x86-64: 16-byte aligned with the caller's 32-byte home area; i686: 16-byte
// aligned at the call), keeping the context itself for the resume.
void WinSehRedirect(::CONTEXT* context) {
  WinSeh.resumeContext = *context;
#if defined(__x86_64__)
  uintptr_t base = (uintptr_t(context->Rsp) - 4096) & ~uintptr_t(15);
  uintptr_t stack = base - 40;
  *reinterpret_cast<uintptr_t*>(stack) = 0;
  context->Rsp = stack;
  context->Rip = reinterpret_cast<uintptr_t>(&WinSehResume);
#else
  uintptr_t base = (uintptr_t(context->Esp) - 4096) & ~uintptr_t(15);
  uintptr_t stack = base - 4;
  *reinterpret_cast<uintptr_t*>(stack) = 0;
  context->Esp = stack;
  context->Eip = reinterpret_cast<uintptr_t>(&WinSehResume);
#endif
}

LONG WINAPI WinFilter(::EXCEPTION_POINTERS* pointers) {
  DWORD code = pointers->ExceptionRecord->ExceptionCode;
  if (InterlockedExchange(&WinSeh.busy, 1) != 0) WinSehEnd(code);
  WinPartsFilter filter = WinSeh.filter;
  if (!filter) {
    InterlockedExchange(&WinSeh.busy, 0);
    return EXCEPTION_CONTINUE_SEARCH;
  }
  WinSeh.resume = nullptr;
  ::CONTEXT* real = pointers->ContextRecord;
#if defined(__x86_64__)
  LONG result = filter(pointers);
#else
  WinPartsContext context = {};
  context.Rax = real->Eax;
  context.Rbx = real->Ebx;
  context.Rcx = real->Ecx;
  context.Rdx = real->Edx;
  context.Rbp = real->Ebp;
  context.Rsi = real->Esi;
  context.Rdi = real->Edi;
  context.Rsp = real->Esp;
  context.Rip = real->Eip;
  context.EFlags = real->EFlags;
  context.SegCs = WORD(real->SegCs);
  context.SegSs = WORD(real->SegSs);
  WinPartsPointers parts = {pointers->ExceptionRecord, &context};
  LONG result = filter(&parts);
  real->Eax = DWORD(context.Rax);
  real->Ebx = DWORD(context.Rbx);
  real->Ecx = DWORD(context.Rcx);
  real->Edx = DWORD(context.Rdx);
  real->Ebp = DWORD(context.Rbp);
  real->Esi = DWORD(context.Rsi);
  real->Edi = DWORD(context.Rdi);
  real->Esp = DWORD(context.Rsp);
  real->Eip = DWORD(context.Rip);
  real->EFlags = context.EFlags;
#endif
  if (result == EXCEPTION_CONTINUE_EXECUTION && WinSeh.resume) {
    // Still busy: a fault before the routine returns ends the process.
    WinSehRedirect(real);
    return result;
  }
  InterlockedExchange(&WinSeh.busy, 0);
  return result;
}

}  // namespace

WinPartsFilter WinSetUnhandledExceptionFilter(WinPartsFilter filter) {
  WinPartsFilter before = WinSeh.filter;
  WinSeh.filter = filter;
  if (filter && !WinSeh.installed) {
    WinSeh.previous = ::SetUnhandledExceptionFilter(WinFilter);
    WinSeh.installed = 1;
  } else if (!filter && WinSeh.installed) {
    ::SetUnhandledExceptionFilter(WinSeh.previous);
    WinSeh.installed = 0;
  }
  return before;
}

void SehCallOnResume(void (*routine)()) {
  if (WinSeh.busy) WinSeh.resume = routine;
}

size_t SehRead(uintptr_t address, void* buffer, size_t bytes) {
  if (bytes > 64) bytes = 64;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  size_t copied = 0;
  while (copied < bytes) {
    SIZE_T got = 0;
    if (!ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(address + copied), out + copied, 1,
                           &got) ||
        got != 1)
      break;
    copied++;
  }
  return copied;
}
