// The x86 instruction decoder: measures one instruction and renders it as a line.
#pragma once

#include <cstdint>

// The address of the next instruction after the one at address, or 0 when the
// address is refused. On the host this decodes long-mode instructions.
uintptr_t InstructionDecode(uintptr_t address);
// Appends the last decoded line to the StringBuffer at the position.
void InstructionText(int32_t position);
