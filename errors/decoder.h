// The x86 instruction decoder: measures one instruction and renders it as a line.
#pragma once

#include <cstdint>

// The address of the next instruction after the one at address, or 0 when the
// address is refused. On the host this decodes long-mode instructions.
uintptr_t InstructionDecode(uintptr_t address);
// Appends the last decoded line to the StringBuffer at the position.
void InstructionText(int32_t position);

// Decoding modes: 32-bit protected mode (the classic decoder) and long mode.
enum InstructionMode : int32_t { InstructionMode32 = 32, InstructionMode64 = 64 };

// Decodes the instruction at the start of bytes[0, size) as if it stood at
// address, in mode 32 or 64. Returns its length in bytes, or 0 (texts empty)
// when it runs past size or the mode is unknown. Never refuses by address.
int32_t InstructionDecodeBytes(const uint8_t* bytes, int32_t size, uint64_t address, int32_t mode);
// The line of the last decode: single-byte characters, zero-terminated, valid
// until the next decode.
const char* InstructionLine();
// Non-zero when address lies strictly inside the decoder's own code and tables.
int32_t InstructionRegionContains(uintptr_t address);
