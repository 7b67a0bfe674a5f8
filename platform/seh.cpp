// The unhandled-exception filter over POSIX signals. Handlers for SIGSEGV,
// SIGBUS, SIGFPE, SIGILL and SIGTRAP run on an alternate signal stack, build
// the exception record and the x86-64 context from the signal context, call
// the filter and act on its result. A filter can also have the faulting thread
// call a routine outside the handler (SehCallOnResume), through a trampoline
// that can come back to the faulting context afterwards.
#include "platform/seh.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <cpuid.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/uio.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstddef>

#include "platform/kernel.h"

extern "C" {
// What the trampoline restores when the diverted routine returns: the sixteen
// general registers in CONTEXT order (Rax ... Rdi, Rsp, R8 ... R15), then Rip,
// RFLAGS, and the routine to call. The offsets are spelled out in the
// trampoline below.
__attribute__((visibility("hidden"))) uint64_t SehResume[19];
// Bytes of the XSAVE area the trampoline keeps the extended state in (a
// multiple of 64, with room for the 64-byte alignment), or 0 where the
// processor or the system offers no XSAVE.
__attribute__((visibility("hidden"))) uint64_t SehXsaveBytes;
__attribute__((visibility("hidden"))) void SehTrampoline();
__attribute__((visibility("hidden"))) void SehResumeDone();
}

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];
// Lazily committed; big enough for a filter that shows a message box.
constexpr size_t kStackBytes = size_t(1) << 20;
constexpr size_t kGuardBytes = size_t(1) << 16;
constexpr int kResumeRip = 16;
constexpr int kResumeFlags = 17;
constexpr int kResumeRoutine = 18;

constexpr uint64_t kFlagTrap = 0x100;
constexpr uint64_t kFlagDirection = 0x400;
constexpr uint64_t kFlagAlignCheck = 0x40000;

// Module state; lives for the whole process. The stacks and the probe pipe
// are made at the first installation and kept for later ones.
struct SehState {
  LPTOP_LEVEL_EXCEPTION_FILTER filter;
  bool installed;
  struct sigaction previous[kSignalCount];
  bool stackSet;
  stack_t previousStack;
  uint8_t* handlerStack;  // alternate signal stack (top end used first)
  uint8_t* spareStack;    // for a diverted routine when the thread's stack is unusable
  int probe[2];           // pipe for SehRead where process_vm_readv is refused
  bool probeOpen;
  // Set from the start of a fault's handling until the handler returns or,
  // with a diverted routine, until that routine returns.
  volatile sig_atomic_t handling;
  void (*divert)();  // asked for by the filter of the fault being handled
};

SehState Seh;

}  // namespace

// The trampoline: entered with Rsp 16-byte aligned and the faulting thread's
// registers as the signal return left them. Keeps the whole extended state
// (x87, SSE, AVX and whatever else the processor has enabled) with XSAVE in an
// area of SehXsaveBytes below the stack pointer (FXSAVE, x87 and SSE only, where
// the processor has no XSAVE), calls the routine with a clean floating-point
// environment, then puts back that state and the registers of SehResume. XSAVE
// writes only the XSTATE_BV field of the area's header, and XRSTOR refuses a
// header whose other bytes are not zero, so the header is cleared first. Only
// movs follow popfq, so the restored flags survive; Rsp and Rip are loaded last
// straight from memory so that nothing is written below the resumed stack
// pointer (the interrupted code's red zone).
asm(R"(
  .text
  .p2align 4
  .globl SehTrampoline
  .hidden SehTrampoline
  .type SehTrampoline, @function
SehTrampoline:
  mov SehXsaveBytes(%rip), %rcx
  test %rcx, %rcx
  jz 1f
  sub %rcx, %rsp
  and $-64, %rsp
  xor %eax, %eax
  mov %rax, 512(%rsp)
  mov %rax, 520(%rsp)
  mov %rax, 528(%rsp)
  mov %rax, 536(%rsp)
  mov %rax, 544(%rsp)
  mov %rax, 552(%rsp)
  mov %rax, 560(%rsp)
  mov %rax, 568(%rsp)
  mov $-1, %eax
  mov $-1, %edx
  xsave64 (%rsp)
  jmp 2f
1:
  sub $512, %rsp
  fxsave64 (%rsp)
2:
  fninit
  pushq $0x1f80
  ldmxcsr (%rsp)
  add $8, %rsp
  call *SehResume+144(%rip)
  call SehResumeDone
  cmpq $0, SehXsaveBytes(%rip)
  je 3f
  mov $-1, %eax
  mov $-1, %edx
  xrstor64 (%rsp)
  jmp 4f
3:
  fxrstor64 (%rsp)
4:
  pushq SehResume+136(%rip)
  popfq
  mov SehResume+0(%rip), %rax
  mov SehResume+8(%rip), %rbx
  mov SehResume+16(%rip), %rcx
  mov SehResume+24(%rip), %rdx
  mov SehResume+32(%rip), %rbp
  mov SehResume+40(%rip), %rsi
  mov SehResume+48(%rip), %rdi
  mov SehResume+64(%rip), %r8
  mov SehResume+72(%rip), %r9
  mov SehResume+80(%rip), %r10
  mov SehResume+88(%rip), %r11
  mov SehResume+96(%rip), %r12
  mov SehResume+104(%rip), %r13
  mov SehResume+112(%rip), %r14
  mov SehResume+120(%rip), %r15
  mov SehResume+56(%rip), %rsp
  jmp *SehResume+128(%rip)
  .size SehTrampoline, .-SehTrampoline
)");

static_assert(kResumeRip * 8 == 128 && kResumeFlags * 8 == 136 && kResumeRoutine * 8 == 144,
              "SehResume offsets are spelled out in the trampoline");

// The diverted routine came back: the fault is handled.
void SehResumeDone() { Seh.handling = 0; }

namespace {

// A stack of kStackBytes above a guard region; returns its lowest usable byte.
uint8_t* SehMapStack() {
  void* base = mmap(nullptr, kStackBytes + kGuardBytes, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
  if (base == MAP_FAILED) return nullptr;
  mprotect(base, kGuardBytes, PROT_NONE);
  return static_cast<uint8_t*>(base) + kGuardBytes;
}

// Bytes of the XSAVE area for the state components the system has enabled
// (CPUID leaf 0xD, subleaf 0, EBX), rounded up to 64; 0 where programs cannot
// use XSAVE (no processor support, or not enabled by the system).
uint64_t SehXsaveSize() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_OSXSAVE)) return 0;
  if (__get_cpuid_max(0, nullptr) < 0xD) return 0;
  __cpuid_count(0xD, 0, a, b, c, d);
  if (b < 576) return 0;  // not even the legacy area and the header
  return (uint64_t(b) + 63) / 64 * 64;
}

DWORD SehCode(int signal, const siginfo_t* info) {
  switch (signal) {
    case SIGFPE:
      switch (info->si_code) {
        case FPE_INTDIV: return EXCEPTION_INT_DIVIDE_BY_ZERO;
        case FPE_INTOVF: return EXCEPTION_INT_OVERFLOW;
        case FPE_FLTDIV: return EXCEPTION_FLT_DIVIDE_BY_ZERO;
        case FPE_FLTOVF: return EXCEPTION_FLT_OVERFLOW;
        case FPE_FLTUND: return EXCEPTION_FLT_UNDERFLOW;
        case FPE_FLTRES: return EXCEPTION_FLT_INEXACT_RESULT;
        case FPE_FLTSUB: return EXCEPTION_ARRAY_BOUNDS_EXCEEDED;
        default: return EXCEPTION_FLT_INVALID_OPERATION;
      }
    case SIGILL:
      return info->si_code == ILL_PRVOPC || info->si_code == ILL_PRVREG ? EXCEPTION_PRIV_INSTRUCTION
                                                                        : EXCEPTION_ILLEGAL_INSTRUCTION;
    case SIGTRAP:
      return info->si_code == TRAP_TRACE ? EXCEPTION_SINGLE_STEP : EXCEPTION_BREAKPOINT;
    default:  // SIGSEGV, SIGBUS
      return EXCEPTION_ACCESS_VIOLATION;
  }
}

void SehContextIn(const greg_t* gregs, CONTEXT* context) {
  context->Rax = gregs[REG_RAX];
  context->Rbx = gregs[REG_RBX];
  context->Rcx = gregs[REG_RCX];
  context->Rdx = gregs[REG_RDX];
  context->Rbp = gregs[REG_RBP];
  context->Rsi = gregs[REG_RSI];
  context->Rdi = gregs[REG_RDI];
  context->Rsp = gregs[REG_RSP];
  context->R8 = gregs[REG_R8];
  context->R9 = gregs[REG_R9];
  context->R10 = gregs[REG_R10];
  context->R11 = gregs[REG_R11];
  context->R12 = gregs[REG_R12];
  context->R13 = gregs[REG_R13];
  context->R14 = gregs[REG_R14];
  context->R15 = gregs[REG_R15];
  context->Rip = gregs[REG_RIP];
  context->EFlags = DWORD(gregs[REG_EFL]);
  // cs, gs, fs and ss in 16 bits each, from the low end.
  uint64_t selectors = uint64_t(gregs[REG_CSGSFS]);
  context->SegCs = WORD(selectors);
  context->SegSs = WORD(selectors >> 48);
}

void SehContextOut(const CONTEXT* context, greg_t* gregs) {
  gregs[REG_RAX] = greg_t(context->Rax);
  gregs[REG_RBX] = greg_t(context->Rbx);
  gregs[REG_RCX] = greg_t(context->Rcx);
  gregs[REG_RDX] = greg_t(context->Rdx);
  gregs[REG_RBP] = greg_t(context->Rbp);
  gregs[REG_RSI] = greg_t(context->Rsi);
  gregs[REG_RDI] = greg_t(context->Rdi);
  gregs[REG_RSP] = greg_t(context->Rsp);
  gregs[REG_R8] = greg_t(context->R8);
  gregs[REG_R9] = greg_t(context->R9);
  gregs[REG_R10] = greg_t(context->R10);
  gregs[REG_R11] = greg_t(context->R11);
  gregs[REG_R12] = greg_t(context->R12);
  gregs[REG_R13] = greg_t(context->R13);
  gregs[REG_R14] = greg_t(context->R14);
  gregs[REG_R15] = greg_t(context->R15);
  gregs[REG_RIP] = greg_t(context->Rip);
  gregs[REG_EFL] = greg_t((uint64_t(gregs[REG_EFL]) & ~uint64_t(0xFFFFFFFF)) | context->EFlags);
}

// Whether the bytes just below top can be written (read back and written
// unchanged through the kernel, so nothing faults here).
bool SehStackUsable(uintptr_t top) {
  if (top < 4096 + 600 + SehXsaveBytes) return false;
  // The trampoline's save area and the first frames of the routine.
  const uintptr_t probes[] = {top - 1, top - 600 - uintptr_t(SehXsaveBytes)};
  for (uintptr_t at : probes) {
    uint8_t byte;
    if (SehRead(at, &byte, 1) != 1) return false;
    iovec local = {&byte, 1};
    iovec remote = {reinterpret_cast<void*>(at), 1};
    if (process_vm_writev(getpid(), &local, 1, &remote, 1, 0) != 1 && errno != ENOSYS && errno != EPERM)
      return false;
  }
  return true;
}

// Makes the return from the handler enter the trampoline, which calls the
// routine the filter asked for and can then resume at the context.
void SehDivert(const CONTEXT* context, greg_t* gregs) {
  const uint64_t* registers = &context->Rax;  // Rax ... R15, Rip: sixteen plus one in a row
  static_assert(offsetof(CONTEXT, Rip) == 16 * sizeof(uint64_t), "CONTEXT layout");
  for (int i = 0; i < kResumeRip; i++) SehResume[i] = registers[i];
  SehResume[kResumeRip] = context->Rip;
  SehResume[kResumeFlags] = context->EFlags;
  SehResume[kResumeRoutine] = reinterpret_cast<uint64_t>(Seh.divert);
  // Keep the faulting frame's 128-byte red zone intact.
  uintptr_t top = (uintptr_t(context->Rsp) - 128) & ~uintptr_t(15);
  if (!SehStackUsable(top) && Seh.spareStack) top = uintptr_t(Seh.spareStack + kStackBytes);
  gregs[REG_RSP] = greg_t(top);
  gregs[REG_RIP] = reinterpret_cast<greg_t>(&SehTrampoline);
  // The routine is called under the usual conventions: direction flag clear.
  gregs[REG_EFL] = greg_t(uint64_t(gregs[REG_EFL]) & ~(kFlagTrap | kFlagDirection | kFlagAlignCheck));
}

int SehIndex(int signal) {
  for (int i = 0; i < kSignalCount; i++)
    if (kSignals[i] == signal) return i;
  return 0;
}

// The signal goes where it would have gone without us: the handler found at
// installation, or the default action.
void SehPassOn(int signal, siginfo_t* info, void* raw) {
  const struct sigaction& previous = Seh.previous[SehIndex(signal)];
  if (Seh.installed && (previous.sa_flags & SA_SIGINFO) && previous.sa_sigaction) {
    previous.sa_sigaction(signal, info, raw);
    return;
  }
  if (Seh.installed && !(previous.sa_flags & SA_SIGINFO) && previous.sa_handler != SIG_DFL &&
      previous.sa_handler != SIG_IGN) {
    previous.sa_handler(signal);
    return;
  }
  struct sigaction fallback = {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal, &fallback, nullptr);
  sigset_t unblock;
  sigemptyset(&unblock);
  sigaddset(&unblock, signal);
  sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
  raise(signal);
  // Only a signal whose default is to be ignored could get here.
}

void SehHandler(int signal, siginfo_t* info, void* raw) {
  int savedErrno = errno;
  // Sent by a process (kill, raise), not raised by an instruction.
  if (info->si_code <= 0) {
    SehPassOn(signal, info, raw);
    errno = savedErrno;
    return;
  }
  DWORD code = SehCode(signal, info);
  // The handling itself faulted: handling it again would only loop.
  if (Seh.handling) _exit(int(code));
  Seh.handling = 1;
  Seh.divert = nullptr;

  ucontext_t* signalContext = static_cast<ucontext_t*>(raw);
  greg_t* gregs = signalContext->uc_mcontext.gregs;
  EXCEPTION_RECORD record = {};
  CONTEXT context = {};
  SehContextIn(gregs, &context);
  record.ExceptionCode = code;
  record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
  if (code == EXCEPTION_ACCESS_VIOLATION) {
    // Read 0, write 1, execute 8, from the page-fault error code.
    uint64_t error = uint64_t(gregs[REG_ERR]);
    record.NumberParameters = 2;
    record.ExceptionInformation[0] = (error & 0x10) ? 8 : (error & 0x2) ? 1 : 0;
    record.ExceptionInformation[1] = reinterpret_cast<uintptr_t>(info->si_addr);
  } else if (code == EXCEPTION_BREAKPOINT) {
    // INT3 traps after itself; the platform reports the breakpoint instruction.
    context.Rip -= 1;
    record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
    record.NumberParameters = 1;
  }
  EXCEPTION_POINTERS pointers = {&record, &context};

  LPTOP_LEVEL_EXCEPTION_FILTER filter = Seh.filter;
  LONG result = filter ? filter(&pointers) : EXCEPTION_CONTINUE_SEARCH;
  if (result == EXCEPTION_CONTINUE_EXECUTION) {
    SehContextOut(&context, gregs);
    if (Seh.divert)
      SehDivert(&context, gregs);  // handling stays set until the routine returns
    else
      Seh.handling = 0;
    errno = savedErrno;
    return;
  }
  if (result == EXCEPTION_EXECUTE_HANDLER) ExitProcess(code);
  Seh.handling = 0;
  SehPassOn(signal, info, raw);
  errno = savedErrno;
}

void SehRemove();

// A forked child (SDL shows its X11 message box from one) is not the
// program: a fault there must not run the program's filter and its error
// exit, which would show a second box and end a copy of the program.
void SehForgetInChild() {
  if (!Seh.installed) return;
  Seh.filter = nullptr;
  SehRemove();
}

void SehInstall() {
  static bool forkWatched = false;
  if (!forkWatched) forkWatched = pthread_atfork(nullptr, nullptr, SehForgetInChild) == 0;
  if (!SehXsaveBytes) SehXsaveBytes = SehXsaveSize();
  if (!Seh.handlerStack) Seh.handlerStack = SehMapStack();
  if (!Seh.spareStack) Seh.spareStack = SehMapStack();
  if (!Seh.probeOpen) Seh.probeOpen = pipe2(Seh.probe, O_CLOEXEC | O_NONBLOCK) == 0;
  if (Seh.handlerStack) {
    stack_t stack = {};
    stack.ss_sp = Seh.handlerStack;
    stack.ss_size = kStackBytes;
    Seh.stackSet = sigaltstack(&stack, &Seh.previousStack) == 0;
  }
  struct sigaction action = {};
  action.sa_sigaction = SehHandler;
  // SA_NODEFER: a fault inside the handling must reach the handler (which ends
  // the process) rather than be forced to the default action by the kernel.
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < kSignalCount; i++) sigaction(kSignals[i], &action, &Seh.previous[i]);
  Seh.installed = true;
}

void SehRemove() {
  for (int i = 0; i < kSignalCount; i++) sigaction(kSignals[i], &Seh.previous[i], nullptr);
  // Refused (and harmless) while running on the alternate stack itself.
  if (Seh.stackSet) sigaltstack(&Seh.previousStack, nullptr);
  Seh.stackSet = false;
  Seh.installed = false;
}

}  // namespace

LPTOP_LEVEL_EXCEPTION_FILTER SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter) {
  LPTOP_LEVEL_EXCEPTION_FILTER previous = Seh.filter;
  Seh.filter = filter;
  if (filter && !Seh.installed) SehInstall();
  if (!filter && Seh.installed) SehRemove();
  return previous;
}

void SehCallOnResume(void (*routine)()) {
  if (Seh.handling) Seh.divert = routine;
}

size_t SehRead(uintptr_t address, void* buffer, size_t bytes) {
  if (bytes > 64) bytes = 64;
  // Stop short of the end of the address space.
  if (address + bytes < address) bytes = size_t(0) - address;
  if (bytes == 0) return 0;
  // One remote element per byte: the kernel copies whole elements only, so the
  // count copied is exactly the readable prefix.
  iovec local = {buffer, bytes};
  iovec remote[64];
  for (size_t i = 0; i < bytes; i++) remote[i] = {reinterpret_cast<void*>(address + i), 1};
  ssize_t copied = process_vm_readv(getpid(), &local, 1, remote, bytes, 0);
  if (copied >= 0) return size_t(copied);
  if (errno == EFAULT || !Seh.probeOpen) return 0;
  // Refused (a sandbox): a write into a pipe fails with EFAULT instead of faulting.
  uint8_t* out = static_cast<uint8_t*>(buffer);
  size_t count = 0;
  while (count < bytes && write(Seh.probe[1], reinterpret_cast<const void*>(address + count), 1) == 1 &&
         read(Seh.probe[0], out + count, 1) == 1)
    count++;
  return count;
}
