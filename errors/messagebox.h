// The modal message box.
#pragma once

#include <cstdint>

int32_t MessageShow(const char16_t* caption, const char16_t* text, uint32_t type);
int32_t MessageShowOk(const char16_t* caption, const char16_t* text);
