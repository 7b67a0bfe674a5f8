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
