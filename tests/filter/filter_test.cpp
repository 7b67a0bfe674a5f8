// The exception filter against real faults in child processes: Skip, Exit and
// Report modes, the error exit outside the signal handler, faults that leave
// nowhere to resume, and a fault inside the error exit.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "errors/decoder.h"
#include "errors/errors.h"
#include "platform/headless.h"
#include "platform/kernel.h"
#include "platform/seh.h"
#include "runtime/runtime.h"
#include "tests/filter/child.h"
#include "tests/filter/faults.h"

namespace {

const std::string ReportBox =
    "box Error Information|There was a general Exception-Error\\r\\nThe program will now be terminated!|16|0\n";

// Every message box shown so far, one line each, CR and LF spelt out.
void SayBoxes() {
  for (int32_t i = 0; i < HeadlessMessageBoxCount(); i++) {
    const HeadlessMessageBox* box = HeadlessMessageBoxAt(i);
    std::string text;
    for (const char* c = box->text; *c; c++) text += *c == '\r' ? "\\r" : *c == '\n' ? "\\n" : std::string(1, *c);
    Say("box %s|%s|%u|%d", box->caption, text.c_str(), box->type, box->owner != nullptr);
  }
}

// Whether the caller runs on the alternate signal stack (inside the handler),
// and whether its frame is 16-byte aligned as the calling convention promises.
void SayWhere(const char* who) {
  stack_t stack;
  sigaltstack(nullptr, &stack);
  uintptr_t frame = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  Say("%s onstack=%d aligned=%d", who, (stack.ss_flags & SS_ONSTACK) != 0, frame % 16 == 0);
}

int ExitCalls;

void ExitReturning() {
  ExitCalls++;
  SayWhere("exit");
  Say("exit line=%d errorLine=%d code=%x at=%d", ErrorInfo.line, ErrorInfo.errorLine, ErrorInfo.code,
      ErrorInfo.address == FaultAt);
  ClobberState();
}

void ExitFaulting() {
  Say("exit entered");
  FaultRead();
  Say("exit went on");
}

}  // namespace

TEST(ErrorFilter, InstallSelectsSkipAndRemoveRestoresThePreviousFilter) {
  ChildResult child = RunChild([] {
    LONG (*earlier)(EXCEPTION_POINTERS*) = [](EXCEPTION_POINTERS*) -> LONG { return EXCEPTION_CONTINUE_SEARCH; };
    SetUnhandledExceptionFilter(earlier);
    ErrorReportSet();
    int32_t result = ErrorHandlerInstall();
    Say("install=%d mode=%u previous=%d step=%u", result, ErrorInfo.mode, ErrorInfo.previousFilter == earlier,
        ErrorInfo.BreakpointStep);
    ErrorHandlerInstall();  // again: must not make the filter its own predecessor
    Say("again previous=%d", ErrorInfo.previousFilter == earlier);
    bool same = ErrorExitSet(ExitReturning) == ExitReturning;
    Say("exitset=%d mode=%u routine=%d", same, ErrorInfo.mode, ErrorInfo.errorExit == ExitReturning);
    result = ErrorReportSet();
    Say("reportset=%d mode=%u", result, ErrorInfo.mode);
    result = ErrorHandlerRemove();
    Say("remove=%d previous=%d", result, ErrorInfo.previousFilter == ErrorFilter);
    Say("installed=%d", SetUnhandledExceptionFilter(nullptr) == earlier);
  });
  EXPECT_EQ(child.out,
            "install=0 mode=0 previous=1 step=1\nagain previous=1\nexitset=1 mode=1 routine=1\n"
            "reportset=0 mode=2\nremove=0 previous=1\ninstalled=1\nreturned\n");
  EXPECT_EQ(child.end, "exit 0");
}

TEST(ErrorFilter, SkipModeSkipsEachKindOfFault) {
  ChildResult child = RunChild([] {
    ErrorHandlerInstall();
    CurrentLine = 101;
    int value = FaultRead();
    Say("read value=%d code=%x at=%d line=%d/%d eax=%llx cs=%x esp=%d", value, ErrorInfo.code,
        ErrorInfo.address == FaultAt, ErrorInfo.line, ErrorInfo.errorLine, (unsigned long long)ErrorInfo.eax,
        ErrorInfo.cs, ErrorInfo.esp != 0);
    CurrentLine = 102;
    value = FaultBreakpoint();
    // The record's address, like the resume point, is moved past the int3.
    Say("breakpoint value=%d code=%x at=%d line=%d", value, ErrorInfo.code, ErrorInfo.address == FaultAt + 1,
        ErrorInfo.line);
    CurrentLine = 103;
    value = FaultDivide();
    Say("divide value=%d code=%x at=%d eax=%llu ecx=%llu line=%d", value, ErrorInfo.code,
        ErrorInfo.address == FaultAt, (unsigned long long)ErrorInfo.eax, (unsigned long long)ErrorInfo.ecx,
        ErrorInfo.line);
    CurrentLine = 104;
    value = FaultIllegal();
    Say("illegal value=%d code=%x at=%d line=%d", value, ErrorInfo.code, ErrorInfo.address == FaultAt,
        ErrorInfo.line);
  });
  EXPECT_EQ(child.out,
            "read value=8 code=c0000005 at=1 line=101/101 eax=0 cs=33 esp=1\n"
            "breakpoint value=2 code=80000003 at=1 line=102\n"
            "divide value=3 code=c0000094 at=1 eax=5 ecx=0 line=103\n"
            "illegal value=4 code=c000001d at=1 line=104\n"
            "returned\n");
  EXPECT_EQ(child.end, "exit 0");
}

TEST(ErrorFilter, BreakpointResumesAtTheReportedAddressOnTheWindowsFamily) {
  ChildResult child = RunChild([] {
    // That family reports a breakpoint after the int3 already: no step is added.
    KernelSetWindowsFamily(true);
    ErrorHandlerInstall();
    uintptr_t reported = reinterpret_cast<uintptr_t>(&FaultBreakpoint) + 5;
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = EXCEPTION_BREAKPOINT;
    record.ExceptionAddress = reinterpret_cast<void*>(reported);
    CONTEXT context = {};
    context.Rip = reported;
    EXCEPTION_POINTERS pointers = {&record, &context};
    LONG result = ErrorFilter(&pointers);
    Say("step=%u result=%d rip=%+d address=%+d", ErrorInfo.BreakpointStep, result, int(context.Rip - reported),
        int(ErrorInfo.address - reported));
  });
  EXPECT_EQ(child.out, "step=0 result=-1 rip=+0 address=+0\nreturned\n");
}

TEST(ErrorFilter, SkipModeMeasuresAnInstructionAtTheEndOfReadableMemory) {
  ChildResult child = RunChild([] {
    ErrorHandlerInstall();
    size_t page = size_t(sysconf(_SC_PAGESIZE));
    auto* code = static_cast<uint8_t*>(
        mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    mprotect(code + page, page, PROT_NONE);
    // mov $9,%eax; mov (%rdi),%eax; ret -- the last byte of the page is the ret.
    const uint8_t bytes[] = {0xB8, 0x09, 0x00, 0x00, 0x00, 0x8B, 0x07, 0xC3};
    uint8_t* routine = code + page - sizeof bytes;
    for (size_t i = 0; i < sizeof bytes; i++) routine[i] = bytes[i];
    int result = reinterpret_cast<int (*)(const int*)>(routine)(nullptr);
    Say("result=%d at=%d", result, ErrorInfo.address == uintptr_t(routine + 5));
  });
  EXPECT_EQ(child.out, "result=9 at=1\nreturned\n");
  EXPECT_EQ(child.end, "exit 0");
}

TEST(ErrorFilter, ExitModeRunsTheErrorExitOutsideTheHandlerAndResumes) {
  ChildResult child = RunChild([] {
    ErrorHandlerInstall();
    ErrorExitSet(ExitReturning);
    CurrentLine = 4711;
    KeptState state = FaultReadKeepingState();
    Say("calls=%d value=%d rcx=%llx r11=%llx xmm7=%.1f carry=%d", ExitCalls, state.value,
        (unsigned long long)state.rcx, (unsigned long long)state.r11, state.xmm7, state.carry);
    // The first fault is over: a second one is handled, not taken for a fault
    // inside the error exit.
    CurrentLine = 4712;
    int value = FaultRead();
    Say("calls=%d value=%d", ExitCalls, value);
  });
  EXPECT_EQ(child.out,
            "exit onstack=0 aligned=1\nexit line=4711 errorLine=4711 code=c0000005 at=1\n"
            "calls=1 value=8 rcx=1122334455667788 r11=102030405060708 xmm7=2.5 carry=1\n"
            "exit onstack=0 aligned=1\nexit line=4712 errorLine=4712 code=c0000005 at=1\n"
            "calls=2 value=8\nreturned\n");
  EXPECT_EQ(child.end, "exit 0");
}

TEST(ErrorFilter, ExitModeResumesWithTheWholeVectorRegisters) {
  if (!__builtin_cpu_supports("avx")) GTEST_SKIP() << "no AVX";
  ChildResult child = RunChild([] {
    ErrorHandlerInstall();
    ErrorExitSet([] {
      ExitCalls++;
      ClobberVectors();
    });
    uint8_t in[16 * 32], out[16 * 32] = {};
    for (size_t i = 0; i < sizeof in; i++) in[i] = uint8_t(i * 7 + 1);
    int value = FaultReadKeepingVectors(in, out);
    // Which registers came back, and whether all their upper halves did.
    int whole = 0, lower = 0;
    for (int r = 0; r < 16; r++) {
      whole += std::memcmp(in + r * 32, out + r * 32, 32) == 0;
      lower += std::memcmp(in + r * 32, out + r * 32, 16) == 0;
    }
    Say("calls=%d value=%d whole=%d lower=%d", ExitCalls, value, whole, lower);
  });
  EXPECT_EQ(child.out, "calls=1 value=8 whole=16 lower=16\nreturned\n");
  EXPECT_EQ(child.end, "exit 0");
}

TEST(ErrorFilter, ExitModeWithAnUnusableStackRunsTheErrorExitOnASpareOne) {
  ChildResult child = RunChild([] {
    ErrorHandlerInstall();
    ErrorExitSet(ExitReturning);
    CurrentLine = 55;
    int value = FaultReadWithoutStack();
    Say("calls=%d value=%d", ExitCalls, value);
  });
  EXPECT_EQ(child.out,
            "exit onstack=0 aligned=1\nexit line=55 errorLine=55 code=c0000005 at=1\ncalls=1 value=8\nreturned\n");
  EXPECT_EQ(child.end, "exit 0");
}

TEST(ErrorFilter, ReportModeShowsTheCrashReportAndEnds) {
  ChildResult child = RunChild([] {
    ErrorHandlerInstall();
    ErrorReportSet();
    KernelOnExit(SayBoxes);
    FaultRead();
    Say("went on");
  });
  EXPECT_EQ(child.out, ReportBox);
  // The process ends with the exception code, as an unhandled exception does.
  EXPECT_EQ(child.end, "exit 5");
}

TEST(ErrorFilter, JumpToAnInvalidAddressNeverResumesThere) {
  // Skip: nothing to skip to, so the process ends as in Report mode.
  ChildResult skip = RunChild([] {
    ErrorHandlerInstall();
    KernelOnExit(SayBoxes);
    FaultJump();
    Say("went on");
  });
  EXPECT_EQ(skip.out, ReportBox);
  EXPECT_EQ(skip.end, "exit 5");

  // Exit: the error exit runs (outside the handler); should it return, the
  // process ends as in Report mode.
  ChildResult exit = RunChild([] {
    ErrorHandlerInstall();
    ErrorExitSet(ExitReturning);
    KernelOnExit(SayBoxes);
    CurrentLine = 66;
    FaultJump();
    Say("went on");
  });
  EXPECT_EQ(exit.out, "exit onstack=0 aligned=1\nexit line=66 errorLine=66 code=c0000005 at=1\n" + ReportBox);
  EXPECT_EQ(exit.end, "exit 5");
}

TEST(ErrorFilter, DecoderRefusalEndsAsReportDoes) {
  ChildResult child = RunChild([] {
    // An address strictly inside the decoder's own region: refused with 0.
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
    uintptr_t inside = reinterpret_cast<uintptr_t>(&InstructionDecode) + 1;
    record.ExceptionAddress = reinterpret_cast<void*>(inside);
    CONTEXT context = {};
    context.Rip = inside;
    EXCEPTION_POINTERS pointers = {&record, &context};
    Say("decode=%llu", (unsigned long long)InstructionDecode(inside));
    Say("result=%d rip=%d", ErrorFilter(&pointers), context.Rip == inside);
    SayBoxes();
  });
  EXPECT_EQ(child.out, "decode=0\nresult=1 rip=1\n" + ReportBox + "returned\n");
}

TEST(ErrorFilter, FaultInsideTheErrorExitEndsAtOnce) {
  ChildResult child = RunChild([] {
    ErrorHandlerInstall();
    ErrorExitSet(ExitFaulting);
    FaultRead();
    Say("went on");
  });
  EXPECT_EQ(child.out, "exit entered\n");
  EXPECT_EQ(child.end, "exit 5");
}

TEST(ErrorFilter, RuntimeStartInstallsAndRuntimeEndRemoves) {
  ChildResult child = RunChild([] {
    RuntimeStart();
    CurrentLine = 9;
    int value = FaultRead();
    Say("value=%d mode=%u line=%d", value, ErrorInfo.mode, ErrorInfo.line);
    KernelOnExit([] { Say("removed=%d", SetUnhandledExceptionFilter(nullptr) == nullptr); });
    RuntimeEnd();
  });
  EXPECT_EQ(child.out, "value=8 mode=0 line=9\nremoved=1\n");
  EXPECT_EQ(child.end, "exit 0");
}
