// The faulting routines: inline assembly, so the faulting instruction, its
// length and what follows it are known exactly.
#include "tests/filter/faults.h"

uintptr_t FaultAt;

__attribute__((noinline)) int FaultRead() {
  int value;
  uintptr_t at;
  asm volatile(
      "lea 1f(%%rip), %[at]\n\t"
      "mov %[at], %[faultAt]\n\t"
      "xor %%eax, %%eax\n\t"
      "mov $7, %[value]\n"
      "1:\n\t"
      "mov (%%rax), %[value]\n\t"
      "add $1, %[value]\n\t"
      : [at] "=&r"(at), [value] "=&r"(value), [faultAt] "=m"(FaultAt)
      :
      : "rax", "cc", "memory");
  return value;
}

__attribute__((noinline)) int FaultBreakpoint() {
  int value;
  uintptr_t at;
  asm volatile(
      "lea 1f(%%rip), %[at]\n\t"
      "mov %[at], %[faultAt]\n\t"
      "mov $1, %[value]\n"
      "1:\n\t"
      "int3\n\t"
      "add $1, %[value]\n\t"
      : [at] "=&r"(at), [value] "=&r"(value), [faultAt] "=m"(FaultAt)
      :
      : "cc", "memory");
  return value;
}

__attribute__((noinline)) int FaultDivide() {
  int value;
  uintptr_t at;
  asm volatile(
      "lea 1f(%%rip), %[at]\n\t"
      "mov %[at], %[faultAt]\n\t"
      "mov $1, %[value]\n\t"
      "xor %%ecx, %%ecx\n\t"
      "mov $5, %%eax\n\t"
      "cltd\n"
      "1:\n\t"
      "idiv %%ecx\n\t"
      "add $2, %[value]\n\t"
      : [at] "=&r"(at), [value] "=&r"(value), [faultAt] "=m"(FaultAt)
      :
      : "rax", "rcx", "rdx", "cc", "memory");
  return value;
}

__attribute__((noinline)) int FaultIllegal() {
  int value;
  uintptr_t at;
  asm volatile(
      "lea 1f(%%rip), %[at]\n\t"
      "mov %[at], %[faultAt]\n\t"
      "mov $1, %[value]\n"
      "1:\n\t"
      "ud2\n\t"
      "add $3, %[value]\n\t"
      : [at] "=&r"(at), [value] "=&r"(value), [faultAt] "=m"(FaultAt)
      :
      : "cc", "memory");
  return value;
}

__attribute__((noinline)) int FaultJump() {
  int value;
  FaultAt = 0x10;
  asm volatile(
      "mov $1, %[value]\n\t"
      "mov $0x10, %%eax\n\t"
      "jmp *%%rax\n\t"
      : [value] "=&r"(value)
      :
      : "rax", "cc", "memory");
  return value;
}

__attribute__((noinline)) int FaultReadWithoutStack() {
  int value;
  uintptr_t at;
  asm volatile(
      "lea 1f(%%rip), %[at]\n\t"
      "mov %[at], %[faultAt]\n\t"
      "mov %%rsp, %%r12\n\t"
      "mov $0x10, %%rsp\n\t"
      "xor %%eax, %%eax\n\t"
      "mov $7, %[value]\n"
      "1:\n\t"
      "mov (%%rax), %[value]\n\t"
      "mov %%r12, %%rsp\n\t"
      "add $1, %[value]\n\t"
      : [at] "=&r"(at), [value] "=&r"(value), [faultAt] "=m"(FaultAt)
      :
      : "rax", "r12", "cc", "memory");
  return value;
}

__attribute__((noinline)) KeptState FaultReadKeepingState() {
  KeptState state = {};
  double in = 2.5;
  uint8_t carry;
  uintptr_t at;
  asm volatile(
      "lea 1f(%%rip), %[at]\n\t"
      "mov %[at], %[faultAt]\n\t"
      "movsd %[in], %%xmm7\n\t"
      "movabs $0x1122334455667788, %%rcx\n\t"
      "movabs $0x0102030405060708, %%r11\n\t"
      "xor %%eax, %%eax\n\t"
      "mov $7, %[value]\n\t"
      "stc\n"
      "1:\n\t"
      "mov (%%rax), %[value]\n\t"
      "setc %[carry]\n\t"
      "add $1, %[value]\n\t"
      "mov %%rcx, %[rcx]\n\t"
      "mov %%r11, %[r11]\n\t"
      "movsd %%xmm7, %[xmm7]\n\t"
      : [at] "=&r"(at), [faultAt] "=m"(FaultAt), [value] "=&r"(state.value), [carry] "=&q"(carry), [rcx] "=&r"(state.rcx),
        [r11] "=&r"(state.r11), [xmm7] "=m"(state.xmm7)
      : [in] "m"(in)
      : "rax", "rcx", "r11", "xmm7", "cc", "memory");
  state.carry = carry;
  return state;
}

__attribute__((noinline)) void ClobberState() {
  asm volatile(
      "xor %%ecx, %%ecx\n\t"
      "xor %%r11d, %%r11d\n\t"
      "pxor %%xmm7, %%xmm7\n\t"
      "clc\n\t"
      :
      :
      : "rcx", "r11", "xmm7", "cc");
}

__attribute__((noinline)) int FaultReadKeepingVectors(const uint8_t* in, uint8_t* out) {
  int value;
  uintptr_t at;
  asm volatile(
      "lea 1f(%%rip), %[at]\n\t"
      "mov %[at], %[faultAt]\n\t"
      ".irp r, 0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15\n\t"
      "vmovdqu \\r*32(%[in]), %%ymm\\r\n\t"
      ".endr\n\t"
      "xor %%eax, %%eax\n\t"
      "mov $7, %[value]\n"
      "1:\n\t"
      "mov (%%rax), %[value]\n\t"
      "add $1, %[value]\n\t"
      ".irp r, 0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15\n\t"
      "vmovdqu %%ymm\\r, \\r*32(%[out])\n\t"
      ".endr\n\t"
      "vzeroupper\n\t"
      : [at] "=&r"(at), [value] "=&r"(value), [faultAt] "=m"(FaultAt)
      : [in] "r"(in), [out] "r"(out)
      : "rax", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10", "xmm11",
        "xmm12", "xmm13", "xmm14", "xmm15", "cc", "memory");
  return value;
}

__attribute__((noinline)) void ClobberVectors() {
  // All ones in every bit of every register, left so for whoever runs next.
  asm volatile(
      ".irp r, 0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15\n\t"
      "vpcmpeqd %%ymm\\r, %%ymm\\r, %%ymm\\r\n\t"
      ".endr\n\t"
      :
      :
      : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10", "xmm11", "xmm12",
        "xmm13", "xmm14", "xmm15");
}
