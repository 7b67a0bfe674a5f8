// Real processor faults at known instructions, for the fault tests. Each
// routine stores the address of its faulting instruction in FaultAt and
// returns a value that tells which of its instructions ran.
#pragma once

#include <cstdint>

extern uintptr_t FaultAt;

// mov (%rax),%reg with rax = 0, then add 1: 8 when the mov is skipped.
int FaultRead();
// int3, then add 1: 2 when execution goes on after the breakpoint.
int FaultBreakpoint();
// idiv by 0 with eax = 5, then add 2: 3 when the idiv is skipped.
int FaultDivide();
// ud2, then add 3: 4 when the ud2 is skipped.
int FaultIllegal();
// jmp to address 0x10 (FaultAt); never comes back unless the fault is mended
// by moving Rip elsewhere.
int FaultJump();
// FaultRead with the stack pointer at 0x10 while the mov runs; 8 when skipped.
int FaultReadWithoutStack();

// FaultRead with rcx, r11, xmm7 and the carry flag set just before the fault,
// read back just after it.
struct KeptState {
  uint64_t rcx;
  uint64_t r11;
  double xmm7;
  int carry;
  int value;
};
KeptState FaultReadKeepingState();
// Overwrites what FaultReadKeepingState sets (as any routine may).
void ClobberState();

// FaultRead with ymm0-ymm15 loaded from in (16 x 32 bytes) just before the
// fault and stored into out just after it. Needs AVX.
int FaultReadKeepingVectors(const uint8_t* in, uint8_t* out);
// Overwrites all of ymm0-ymm15, upper halves included (as AVX code may). Needs AVX.
void ClobberVectors();
