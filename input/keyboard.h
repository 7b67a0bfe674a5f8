// The keyboard: one 256-byte snapshot per frame in the DIK scan-code numbering.
#pragma once

#include <cstdint>

extern uint8_t KeyState[256];
extern int32_t KeyboardPhase;  // 0 Closed, 1 Created, 2 Acquired

int32_t KeyboardInit();
int32_t KeyboardPoll();
// The key's byte AND 0x80 for 0-255; for -1, 1 when any key 0-254 is held.
int32_t KeyDown(int32_t code);
void KeyboardRelease();
