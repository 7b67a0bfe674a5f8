// Blit and fill kernels: a plain reference loop per pixel width, and vector
// versions for SSE2 (always present on x86-64), AVX2 and AVX-512 built with
// target attributes and chosen once at run time.
//
// The keyed vector kernels finish a row with one more full vector that
// overlaps the previous one: a keyed copy is idempotent (a pixel already
// copied is copied again unchanged, a skipped one stays), so no scalar tail is
// needed. The AVX2 and AVX-512 versions use masked loads and stores instead.
// Source and destination must not overlap; the callers handle a surface
// blitted onto itself.
#include "platform/ddraw_blit.h"

#include <immintrin.h>

#include <cstdlib>
#include <cstring>

namespace {

// ---- plain ----

void CopyPlain(uint8_t* d, intptr_t dp, const uint8_t* s, intptr_t sp, int32_t n, int32_t rows) {
  for (; rows > 0; rows--, d += dp, s += sp)
    for (int32_t i = 0; i < n; i++) d[i] = s[i];
}

void Keyed16Plain(uint8_t* d, intptr_t dp, const uint8_t* s, intptr_t sp, int32_t w, int32_t rows,
                  uint32_t key) {
  const uint16_t k = (uint16_t)key;
  for (; rows > 0; rows--, d += dp, s += sp)
    for (int32_t x = 0; x < w; x++) {
      uint16_t p;
      std::memcpy(&p, s + 2 * x, 2);
      if (p != k) std::memcpy(d + 2 * x, &p, 2);
    }
}

void Keyed24Plain(uint8_t* d, intptr_t dp, const uint8_t* s, intptr_t sp, int32_t w, int32_t rows,
                  uint32_t key) {
  const uint32_t k = key & 0xFFFFFF;
  for (; rows > 0; rows--, d += dp, s += sp)
    for (int32_t x = 0; x < w; x++) {
      const uint8_t* p = s + 3 * x;
      uint32_t v = p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16;
      if (v != k) {
        d[3 * x] = p[0];
        d[3 * x + 1] = p[1];
        d[3 * x + 2] = p[2];
      }
    }
}

void Keyed32Plain(uint8_t* d, intptr_t dp, const uint8_t* s, intptr_t sp, int32_t w, int32_t rows,
                  uint32_t key) {
  for (; rows > 0; rows--, d += dp, s += sp)
    for (int32_t x = 0; x < w; x++) {
      uint32_t p;
      std::memcpy(&p, s + 4 * x, 4);
      if (p != key) std::memcpy(d + 4 * x, &p, 4);
    }
}

// ---- SSE2 ----

// One row of up to 15 bytes, or more, with overlapping word moves.
inline void CopyRowSmall(uint8_t* d, const uint8_t* s, int32_t n) {
  if (n >= 8) {
    uint64_t a, b;
    std::memcpy(&a, s, 8);
    std::memcpy(&b, s + n - 8, 8);
    std::memcpy(d, &a, 8);
    std::memcpy(d + n - 8, &b, 8);
  } else if (n >= 4) {
    uint32_t a, b;
    std::memcpy(&a, s, 4);
    std::memcpy(&b, s + n - 4, 4);
    std::memcpy(d, &a, 4);
    std::memcpy(d + n - 4, &b, 4);
  } else {
    for (int32_t i = 0; i < n; i++) d[i] = s[i];
  }
}

inline void CopyRowSse2(uint8_t* d, const uint8_t* s, int32_t n) {
  if (n < 16) {
    CopyRowSmall(d, s, n);
    return;
  }
  int32_t i = 0;
  for (; i + 32 <= n; i += 32) {
    __m128i a = _mm_loadu_si128((const __m128i*)(s + i));
    __m128i b = _mm_loadu_si128((const __m128i*)(s + i + 16));
    _mm_storeu_si128((__m128i*)(d + i), a);
    _mm_storeu_si128((__m128i*)(d + i + 16), b);
  }
  for (; i + 16 <= n; i += 16) _mm_storeu_si128((__m128i*)(d + i), _mm_loadu_si128((const __m128i*)(s + i)));
  if (i < n) _mm_storeu_si128((__m128i*)(d + n - 16), _mm_loadu_si128((const __m128i*)(s + n - 16)));
}

void CopySse2(uint8_t* d, intptr_t dp, const uint8_t* s, intptr_t sp, int32_t n, int32_t rows) {
  for (; rows > 0; rows--, d += dp, s += sp) CopyRowSse2(d, s, n);
}

inline void Keyed16Vec(uint8_t* d, const uint8_t* s, __m128i k) {
  __m128i sv = _mm_loadu_si128((const __m128i*)s);
  __m128i dv = _mm_loadu_si128((const __m128i*)d);
  __m128i m = _mm_cmpeq_epi16(sv, k);
  _mm_storeu_si128((__m128i*)d, _mm_or_si128(_mm_and_si128(m, dv), _mm_andnot_si128(m, sv)));
}

inline void Keyed16RowSse2(uint8_t* d, const uint8_t* s, int32_t w, uint16_t key, __m128i k) {
  if (w < 8) {
    for (int32_t x = 0; x < w; x++) {
      uint16_t p;
      std::memcpy(&p, s + 2 * x, 2);
      if (p != key) std::memcpy(d + 2 * x, &p, 2);
    }
    return;
  }
  int32_t x = 0;
  for (; x + 8 <= w; x += 8) Keyed16Vec(d + 2 * x, s + 2 * x, k);
  if (x < w) Keyed16Vec(d + 2 * (w - 8), s + 2 * (w - 8), k);
}

void Keyed16Sse2(uint8_t* d, intptr_t dp, const uint8_t* s, intptr_t sp, int32_t w, int32_t rows,
                 uint32_t key) {
  const __m128i k = _mm_set1_epi16((short)key);
  for (; rows > 0; rows--, d += dp, s += sp) Keyed16RowSse2(d, s, w, (uint16_t)key, k);
}

inline void Keyed32Vec(uint8_t* d, const uint8_t* s, __m128i k) {
  __m128i sv = _mm_loadu_si128((const __m128i*)s);
  __m128i dv = _mm_loadu_si128((const __m128i*)d);
  __m128i m = _mm_cmpeq_epi32(sv, k);
  _mm_storeu_si128((__m128i*)d, _mm_or_si128(_mm_and_si128(m, dv), _mm_andnot_si128(m, sv)));
}

void Keyed32Sse2(uint8_t* d, intptr_t dp, const uint8_t* s, intptr_t sp, int32_t w, int32_t rows,
                 uint32_t key) {
  const __m128i k = _mm_set1_epi32((int)key);
  for (; rows > 0; rows--, d += dp, s += sp) {
    if (w < 4) {
      for (int32_t x = 0; x < w; x++) {
        uint32_t p;
        std::memcpy(&p, s + 4 * x, 4);
        if (p != key) std::memcpy(d + 4 * x, &p, 4);
      }
      continue;
    }
    int32_t x = 0;
    for (; x + 8 <= w; x += 8) {
      Keyed32Vec(d + 4 * x, s + 4 * x, k);
      Keyed32Vec(d + 4 * x + 16, s + 4 * x + 16, k);
    }
    for (; x + 4 <= w; x += 4) Keyed32Vec(d + 4 * x, s + 4 * x, k);
    if (x < w) Keyed32Vec(d + 4 * (w - 4), s + 4 * (w - 4), k);
  }
}

// ---- AVX2 ----

__attribute__((target("avx2"))) void CopyAvx2(uint8_t* d, intptr_t dp, const uint8_t* s, intptr_t sp,
                                              int32_t n, int32_t rows) {
  if (n < 32) {
    for (; rows > 0; rows--, d += dp, s += sp) CopyRowSse2(d, s, n);
    return;
  }
  for (; rows > 0; rows--, d += dp, s += sp) {
    int32_t i = 0;
    for (; i + 32 <= n; i += 32)
      _mm256_storeu_si256((__m256i*)(d + i), _mm256_loadu_si256((const __m256i*)(s + i)));
    if (i < n)
      _mm256_storeu_si256((__m256i*)(d + n - 32), _mm256_loadu_si256((const __m256i*)(s + n - 32)));
  }
}

__attribute__((target("avx2"))) inline void Keyed16VecAvx2(uint8_t* d, const uint8_t* s, __m256i k) {
  __m256i sv = _mm256_loadu_si256((const __m256i*)s);
  __m256i dv = _mm256_loadu_si256((const __m256i*)d);
  _mm256_storeu_si256((__m256i*)d, _mm256_blendv_epi8(sv, dv, _mm256_cmpeq_epi16(sv, k)));
}

__attribute__((target("avx2"))) void Keyed16Avx2(uint8_t* d, intptr_t dp, const uint8_t* s, intptr_t sp,
                                                 int32_t w, int32_t rows, uint32_t key) {
  const __m256i k = _mm256_set1_epi16((short)key);
  const __m128i k1 = _mm_set1_epi16((short)key);
  for (; rows > 0; rows--, d += dp, s += sp) {
    if (w < 16) {
      Keyed16RowSse2(d, s, w, (uint16_t)key, k1);
      continue;
    }
    int32_t x = 0;
    for (; x + 16 <= w; x += 16) Keyed16VecAvx2(d + 2 * x, s + 2 * x, k);
    if (x < w) Keyed16VecAvx2(d + 2 * (w - 16), s + 2 * (w - 16), k);
  }
}

__attribute__((target("avx2"))) void Keyed32Avx2(uint8_t* d, intptr_t dp, const uint8_t* s, intptr_t sp,
                                                 int32_t w, int32_t rows, uint32_t key) {
  const __m256i k = _mm256_set1_epi32((int)key);
  const __m256i ones = _mm256_set1_epi32(-1);
  const int32_t whole = w & ~7;
  const __m256i tail = _mm256_cmpgt_epi32(_mm256_set1_epi32(w - whole), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
  for (; rows > 0; rows--, d += dp, s += sp) {
    int32_t x = 0;
    for (; x < whole; x += 8) {
      __m256i sv = _mm256_loadu_si256((const __m256i*)(s + 4 * x));
      _mm256_maskstore_epi32((int*)(d + 4 * x), _mm256_xor_si256(_mm256_cmpeq_epi32(sv, k), ones), sv);
    }
    if (x < w) {
      __m256i sv = _mm256_maskload_epi32((const int*)(s + 4 * x), tail);
      _mm256_maskstore_epi32((int*)(d + 4 * x), _mm256_andnot_si256(_mm256_cmpeq_epi32(sv, k), tail), sv);
    }
  }
}

// ---- AVX-512 (F and BW) ----

// Rows of 64 bytes or more end with one more whole store overlapping the
// last: a masked store that misses the cache costs many times a plain one.
__attribute__((target("avx512f,avx512bw"))) void CopyAvx512(uint8_t* d, intptr_t dp, const uint8_t* s,
                                                            intptr_t sp, int32_t n, int32_t rows) {
  if (n < 64) {
    CopyAvx2(d, dp, s, sp, n, rows);
    return;
  }
  const int32_t whole = n & ~63;
  for (; rows > 0; rows--, d += dp, s += sp) {
    int32_t i = 0;
    for (; i < whole; i += 64) _mm512_storeu_si512(d + i, _mm512_loadu_si512(s + i));
    if (i < n) _mm512_storeu_si512(d + n - 64, _mm512_loadu_si512(s + n - 64));
  }
}

__attribute__((target("avx512f,avx512bw"))) void Keyed16Avx512(uint8_t* d, intptr_t dp, const uint8_t* s,
                                                               intptr_t sp, int32_t w, int32_t rows,
                                                               uint32_t key) {
  const __m512i k = _mm512_set1_epi16((short)key);
  const int32_t whole = w & ~31;
  const __mmask32 tail = (w & 31) ? (((__mmask32)1 << (w & 31)) - 1) : 0;
  for (; rows > 0; rows--, d += dp, s += sp) {
    int32_t x = 0;
    for (; x < whole; x += 32) {
      __m512i sv = _mm512_loadu_si512(s + 2 * x);
      _mm512_mask_storeu_epi16(d + 2 * x, _mm512_cmpneq_epi16_mask(sv, k), sv);
    }
    if (tail) {
      __m512i sv = _mm512_maskz_loadu_epi16(tail, s + 2 * x);
      _mm512_mask_storeu_epi16(d + 2 * x, _mm512_mask_cmpneq_epi16_mask(tail, sv, k), sv);
    }
  }
}

__attribute__((target("avx512f,avx512bw"))) void Keyed32Avx512(uint8_t* d, intptr_t dp, const uint8_t* s,
                                                               intptr_t sp, int32_t w, int32_t rows,
                                                               uint32_t key) {
  const __m512i k = _mm512_set1_epi32((int)key);
  const int32_t whole = w & ~15;
  const __mmask16 tail = (w & 15) ? (__mmask16)((1u << (w & 15)) - 1) : 0;
  for (; rows > 0; rows--, d += dp, s += sp) {
    int32_t x = 0;
    for (; x < whole; x += 16) {
      __m512i sv = _mm512_loadu_si512(s + 4 * x);
      _mm512_mask_storeu_epi32(d + 4 * x, _mm512_cmpneq_epi32_mask(sv, k), sv);
    }
    if (tail) {
      __m512i sv = _mm512_maskz_loadu_epi32(tail, s + 4 * x);
      _mm512_mask_storeu_epi32(d + 4 * x, _mm512_mask_cmpneq_epi32_mask(tail, sv, k), sv);
    }
  }
}

// Rows of at least 64 bytes, whole line stores; the last overlaps (the
// pattern repeats every 2 or 4 bytes and n is a multiple of the pixel size).
__attribute__((target("avx512f"))) void FillAvx512(uint8_t* d, intptr_t dp, int32_t n, int32_t rows, uint32_t v32) {
  const __m512i v = _mm512_set1_epi32((int)v32);
  for (; rows > 0; rows--, d += dp) {
    int32_t i = 0;
    for (; i + 64 <= n; i += 64) _mm512_storeu_si512(d + i, v);
    if (i < n) _mm512_storeu_si512(d + n - 64, v);
  }
}

const BlitKernels KernelTable[] = {
    {"plain", CopyPlain, Keyed16Plain, Keyed24Plain, Keyed32Plain},
    {"sse2", CopySse2, Keyed16Sse2, Keyed24Plain, Keyed32Sse2},
    {"avx2", CopyAvx2, Keyed16Avx2, Keyed24Plain, Keyed32Avx2},
    {"avx512", CopyAvx512, Keyed16Avx512, Keyed24Plain, Keyed32Avx512},
};

struct BlitState {
  int32_t count;  // sets the processor has; 0 until probed
  const BlitKernels* active;
};
BlitState Blit;

void BlitProbe() {
  __builtin_cpu_init();
  int32_t count = 2;
  if (__builtin_cpu_supports("avx2")) {
    count = 3;
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")) count = 4;
  }
  const BlitKernels* active = &KernelTable[count - 1];
  if (const char* want = std::getenv("TESSEL_BLIT"))
    for (int32_t i = 0; i < count; i++)
      if (std::strcmp(want, KernelTable[i].name) == 0) active = &KernelTable[i];
  Blit.active = active;
  Blit.count = count;
}

}  // namespace

int32_t BlitKernelCount() {
  if (!Blit.count) BlitProbe();
  return Blit.count;
}

const BlitKernels* BlitKernelAt(int32_t index) {
  if (index < 0 || index >= BlitKernelCount()) return nullptr;
  return &KernelTable[index];
}

const BlitKernels* BlitActiveKernels() {
  if (__builtin_expect(!Blit.active, 0)) BlitProbe();
  return Blit.active;
}

void BlitFill(uint8_t* dst, intptr_t pitch, int32_t width, int32_t rows, int32_t bytesPerPixel,
              uint32_t value) {
  if (width <= 0) return;
  if (bytesPerPixel == 3) {
    const uint8_t b0 = (uint8_t)value, b1 = (uint8_t)(value >> 8), b2 = (uint8_t)(value >> 16);
    for (; rows > 0; rows--, dst += pitch)
      for (int32_t x = 0; x < width; x++) {
        dst[3 * x] = b0;
        dst[3 * x + 1] = b1;
        dst[3 * x + 2] = b2;
      }
    return;
  }
  const uint32_t v32 = bytesPerPixel == 2 ? ((value & 0xFFFF) | (value & 0xFFFF) << 16) : value;
  const int32_t n = width * bytesPerPixel;
  if (n >= 64 && BlitKernelCount() >= 4) {
    FillAvx512(dst, pitch, n, rows, v32);
    return;
  }
  const __m128i v = _mm_set1_epi32((int)v32);
  for (; rows > 0; rows--, dst += pitch) {
    if (n < 16) {
      for (int32_t i = 0; i + 4 <= n; i += 4) std::memcpy(dst + i, &v32, 4);
      if (n & 2) std::memcpy(dst + n - 2, &v32, 2);
      continue;
    }
    int32_t i = 0;
    for (; i + 16 <= n; i += 16) _mm_storeu_si128((__m128i*)(dst + i), v);
    // The pattern repeats every 2 or 4 bytes and n is a multiple of the
    // pixel size, so the overlapping last store writes the same values.
    if (i < n) _mm_storeu_si128((__m128i*)(dst + n - 16), v);
  }
}
