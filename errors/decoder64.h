// Length pass of the long-mode instruction decoder.
#pragma once

#include <cstdint>

// The length of the long-mode instruction at bytes (reading at most available
// bytes), or 0 when it runs past them. renderable is cleared for encodings the
// text renderer does not know (VEX, EVEX, the three-byte maps).
int32_t LongModeMeasure(const uint8_t* bytes, uint64_t available, int32_t* renderable);
