// Text drawing on the screen through the back buffer's device context.
#pragma once

#include <cstdint>

#include "platform/user.h"

struct DrawTarget;

void DrawSystemInit();
HDC DrawBegin(DrawTarget* target);
int32_t DrawModeSet(int32_t mode);
int32_t DrawString(int32_t x, int32_t y, const char16_t* text, uint32_t colour);
int32_t DrawEnd();
