// The keyboard: one 256-byte snapshot per frame in the DIK scan-code numbering.
#pragma once

#include <cstdint>

#include "platform/dinput.h"

extern uint8_t KeyState[256];
extern int32_t KeyboardPhase;  // 0 Closed, 1 Created, 2 Acquired
// The standard keyboard format handed to SetDataFormat; its 256 object
// records live in the MainHeap once the device has been made.
extern DIDATAFORMAT KeyboardFormat;

// Non-zero when the keyboard is usable, 0 on failure; later calls count a use.
int32_t KeyboardInit();
// 1 when a fresh snapshot was read, 0 when reading failed (acquired again next time).
int32_t KeyboardPoll();
// The key's byte AND 0x80 for 0-255; for -1, 1 when any key 0-254 is held;
// 0 for every code unless the last poll succeeded.
int32_t KeyDown(int32_t code);
// Gives back one use; closes the device, and the interface with the last use.
void KeyboardRelease();
