// Text drawing on the screen through the back buffer's device context.
#pragma once

#include <cstdint>

#include "platform/user.h"

struct DrawTarget;

// Zeroes the drawing state and creates the stock brush and pen (once per run).
void DrawSystemInit();
// The target's device context (an open bracket is closed first), or null.
HDC DrawBegin(DrawTarget* target);
// The previous background mode, or 0 outside a bracket. Bit 0 transparent
// text background, bit 1 exclusive-or drawing, bit 2 no fill.
int32_t DrawModeSet(int32_t mode);
// The x at which the text ended (x itself for an empty or null text), or 0
// outside a bracket. The context's text colour is left as it was.
int32_t DrawString(int32_t x, int32_t y, const char16_t* text, uint32_t colour);
// 0 outside a bracket; otherwise 1 once the context has been given back.
int32_t DrawEnd();
