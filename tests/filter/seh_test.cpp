// The unhandled-exception filter over signals, with filters of the test's own:
// what the filter is handed, what its result does, removal, and the safe read.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "platform/kernel.h"
#include "platform/seh.h"
#include "tests/filter/child.h"
#include "tests/filter/faults.h"

namespace {

// What the recording filter saw last, and where it sends the thread.
struct Seen {
  DWORD code;
  uintptr_t address;
  uint64_t rip;
  uint64_t rcx;
  WORD cs;
  DWORD parameters;
  uintptr_t information[2];
};
Seen Last;
uint64_t ResumeAt;  // 0: Rip + SkipBytes
uint64_t SkipBytes;
int FilterCalls;

LONG Recording(EXCEPTION_POINTERS* pointers) {
  FilterCalls++;
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  CONTEXT* context = pointers->ContextRecord;
  Last = {record->ExceptionCode,
          reinterpret_cast<uintptr_t>(record->ExceptionAddress),
          context->Rip,
          context->Rcx,
          context->SegCs,
          record->NumberParameters,
          {record->ExceptionInformation[0], record->ExceptionInformation[1]}};
  context->Rip = ResumeAt ? ResumeAt : context->Rip + SkipBytes;
  return EXCEPTION_CONTINUE_EXECUTION;
}

LONG Executing(EXCEPTION_POINTERS*) {
  Say("filter");
  return EXCEPTION_EXECUTE_HANDLER;
}

LONG Searching(EXCEPTION_POINTERS*) {
  Say("filter");
  return EXCEPTION_CONTINUE_SEARCH;
}

void Unexpected() { Say("diverted outside a filter"); }

}  // namespace

TEST(Seh, FilterIsHandedTheFaultAsThePlatformReportsIt) {
  ChildResult child = RunChild([] {
    SehCallOnResume(Unexpected);  // outside a filter: ignored
    Say("previous=%d", SetUnhandledExceptionFilter(Recording) == nullptr);

    SkipBytes = 2;  // mov (%rax),%reg
    int value = FaultRead();
    Say("read value=%d code=%x at=%d rip=%d cs=%x params=%u kind=%lu addr=%lx", value, Last.code,
        Last.address == FaultAt, Last.rip == FaultAt, Last.cs, Last.parameters, Last.information[0],
        Last.information[1]);

    SkipBytes = 1;
    value = FaultBreakpoint();
    // Reported at the int3 itself, with Rip there too.
    Say("breakpoint value=%d code=%x at=%d rip=%d", value, Last.code, Last.address == FaultAt, Last.rip == FaultAt);

    SkipBytes = 2;
    value = FaultDivide();
    Say("divide value=%d code=%x at=%d rcx=%lu", value, Last.code, Last.address == FaultAt, Last.rcx);
    value = FaultIllegal();
    Say("illegal value=%d code=%x at=%d", value, Last.code, Last.address == FaultAt);

    // A write and an execute fault, and a filter that moves Rip elsewhere.
    uintptr_t written = 0x20;
    asm volatile(
        "lea 1f(%%rip), %%rcx\n\t"
        "mov %%rcx, %[resume]\n\t"
        "movl $5, (%[target])\n"
        "1:\n\t"
        : [resume] "=m"(ResumeAt)
        : [target] "r"(written)
        : "rcx", "memory");
    Say("write code=%x kind=%lu addr=%lx", Last.code, Last.information[0], Last.information[1]);
    asm volatile(
        "lea 1f(%%rip), %%rcx\n\t"
        "mov %%rcx, %[resume]\n\t"
        "mov $0x40, %%eax\n\t"
        "jmp *%%rax\n"
        "1:\n\t"
        : [resume] "=m"(ResumeAt)
        :
        : "rax", "rcx", "memory");
    Say("execute code=%x at=%lx kind=%lu addr=%lx", Last.code, Last.address, Last.information[0],
        Last.information[1]);
    ResumeAt = 0;
    Say("calls=%d", FilterCalls);
  });
  EXPECT_EQ(child.out,
            "previous=1\n"
            "read value=8 code=c0000005 at=1 rip=1 cs=33 params=2 kind=0 addr=0\n"
            "breakpoint value=2 code=80000003 at=1 rip=1\n"
            "divide value=3 code=c0000094 at=1 rcx=0\n"
            "illegal value=4 code=c000001d at=1\n"
            "write code=c0000005 kind=1 addr=20\n"
            "execute code=c0000005 at=40 kind=8 addr=40\n"
            "calls=6\nreturned\n");
  EXPECT_EQ(child.end, "exit 0");
}

TEST(Seh, ContextChangesAreResumedWith) {
  ChildResult child = RunChild([] {
    SetUnhandledExceptionFilter([](EXCEPTION_POINTERS* pointers) -> LONG {
      pointers->ContextRecord->Rip += 2;
      pointers->ContextRecord->Rax = 40;  // the faulting mov's base register, read after the add
      return EXCEPTION_CONTINUE_EXECUTION;
    });
    long value;
    asm volatile(
        "xor %%eax, %%eax\n\t"
        "mov (%%rax), %%ecx\n\t"
        "add $2, %%rax\n\t"
        "mov %%rax, %[value]\n\t"
        : [value] "=r"(value)
        :
        : "rax", "rcx", "cc", "memory");
    Say("value=%ld", value);
  });
  EXPECT_EQ(child.out, "value=42\nreturned\n");
}

TEST(Seh, ExecuteHandlerEndsTheProcessWithTheExceptionCode) {
  ChildResult child = RunChild([] {
    SetUnhandledExceptionFilter(Executing);
    KernelOnExit([] { Say("exit hook"); });
    FaultDivide();
    Say("went on");
  });
  EXPECT_EQ(child.out, "filter\nexit hook\n");
  EXPECT_EQ(child.end, "exit 148");  // 0xC0000094, as far as an exit status reaches
}

TEST(Seh, ContinueSearchGoesWhereTheSignalWouldHaveGone) {
  // No handler before: the default action, for a fault and for a trap alike.
  ChildResult fault = RunChild([] {
    signal(SIGSEGV, SIG_DFL);
    SetUnhandledExceptionFilter(Searching);
    FaultRead();
    Say("went on");
  });
  EXPECT_EQ(fault.out, "filter\n");
  EXPECT_EQ(fault.end, "signal 11");
  ChildResult trap = RunChild([] {
    signal(SIGTRAP, SIG_DFL);
    SetUnhandledExceptionFilter(Searching);
    FaultBreakpoint();
    Say("went on");
  });
  EXPECT_EQ(trap.out, "filter\n");
  EXPECT_EQ(trap.end, "signal 5");

  // A handler before: it gets the signal.
  ChildResult chained = RunChild([] {
    struct sigaction before = {};
    before.sa_handler = [](int signal) {
      Say("earlier handler %d", signal);
      _exit(3);
    };
    sigaction(SIGILL, &before, nullptr);
    SetUnhandledExceptionFilter(Searching);
    FaultIllegal();
    Say("went on");
  });
  EXPECT_EQ(chained.out, "filter\nearlier handler 4\n");
  EXPECT_EQ(chained.end, "exit 3");
}

TEST(Seh, RemovingTheFilterRestoresTheDispositions) {
  ChildResult child = RunChild([] {
    signal(SIGSEGV, SIG_DFL);
    SetUnhandledExceptionFilter(Executing);
    Say("removed=%d", SetUnhandledExceptionFilter(nullptr) == Executing);
    FaultRead();
    Say("went on");
  });
  EXPECT_EQ(child.out, "removed=1\n");
  EXPECT_EQ(child.end, "signal 11");
}

TEST(Seh, AForkedChildDoesNotRunTheFilter) {
  ChildResult child = RunChild([] {
    signal(SIGSEGV, SIG_DFL);
    SetUnhandledExceptionFilter(Executing);
    pid_t inner = fork();
    if (inner == 0) {
      FaultRead();
      _exit(0);
    }
    int status = 0;
    waitpid(inner, &status, 0);
    Say("inner %s %d", WIFSIGNALED(status) ? "signal" : "exit",
        WIFSIGNALED(status) ? WTERMSIG(status) : WEXITSTATUS(status));
    // The program itself keeps its filter.
    FaultRead();
    Say("went on");
  });
  EXPECT_EQ(child.out, "inner signal 11\nfilter\n");
  EXPECT_EQ(child.end, "exit 5");
}

TEST(Seh, SentSignalsBypassTheFilter) {
  ChildResult child = RunChild([] {
    signal(SIGSEGV, SIG_DFL);
    SetUnhandledExceptionFilter(Executing);
    kill(getpid(), SIGSEGV);
    Say("went on");
  });
  EXPECT_EQ(child.out, "");
  EXPECT_EQ(child.end, "signal 11");
}

TEST(Seh, ReadCopiesTheReadablePrefix) {
  size_t page = size_t(sysconf(_SC_PAGESIZE));
  auto* memory = static_cast<uint8_t*>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(memory, MAP_FAILED);
  mprotect(memory + page, page, PROT_NONE);
  for (size_t i = 0; i < 5; i++) memory[page - 5 + i] = uint8_t(0xA0 + i);
  uint8_t buffer[64] = {};
  EXPECT_EQ(SehRead(uintptr_t(memory + page - 5), buffer, 15), 5u);
  const uint8_t expected[5] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4};
  EXPECT_EQ(std::memcmp(buffer, expected, 5), 0);
  EXPECT_EQ(SehRead(uintptr_t(memory + page), buffer, 15), 0u);
  EXPECT_EQ(SehRead(0x10, buffer, 15), 0u);
  EXPECT_EQ(SehRead(uintptr_t(0) - 4, buffer, 15), 0u);  // the top of the address space
  EXPECT_EQ(SehRead(uintptr_t(memory), buffer, 100), 64u);
  munmap(memory, 2 * page);
}
