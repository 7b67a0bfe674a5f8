// Pixel kernels of the DirectDraw stand-in: opaque and colour-keyed rectangle
// copies and fills, in a plain version and in SSE2, AVX2 and AVX-512 versions
// chosen at run time from what the processor has. Every version writes
// exactly the bytes the plain one writes.
#pragma once

#include <cstdint>

// Copies `rows` rows of `rowBytes` bytes; pitches are in bytes.
typedef void (*BlitCopyKernel)(uint8_t* dst, intptr_t dstPitch, const uint8_t* src, intptr_t srcPitch,
                               int32_t rowBytes, int32_t rows);
// Copies `width` x `rows` pixels, leaving out source pixels equal to `key`
// (compared as whole pixel values of the kernel's width).
typedef void (*BlitKeyKernel)(uint8_t* dst, intptr_t dstPitch, const uint8_t* src, intptr_t srcPitch,
                              int32_t width, int32_t rows, uint32_t key);

struct BlitKernels {
  const char* name;  // "plain", "sse2", "avx2", "avx512"
  BlitCopyKernel copy;
  BlitKeyKernel keyed16;
  BlitKeyKernel keyed24;
  BlitKeyKernel keyed32;
};

// The kernel sets this processor can run: index 0 is the plain reference,
// the last is the fastest.
int32_t BlitKernelCount();
const BlitKernels* BlitKernelAt(int32_t index);

// The set in use: the fastest, unless TESSEL_BLIT names another ("plain",
// "sse2", "avx2", "avx512") that the processor has.
const BlitKernels* BlitActiveKernels();

// Fills `width` x `rows` pixels of 2, 3 or 4 bytes with `value`.
void BlitFill(uint8_t* dst, intptr_t pitch, int32_t width, int32_t rows, int32_t bytesPerPixel,
              uint32_t value);
