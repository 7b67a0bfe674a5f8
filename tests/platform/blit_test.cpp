// Every blit kernel the processor has writes exactly the bytes the plain
// reference loop writes: random keys, widths 1 to 67, odd byte offsets, and
// guard bytes around the destination that must stay untouched.
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "platform/ddraw_blit.h"

namespace {

constexpr int Rows = 3;
constexpr int Guard = 80;

// Source rows with about a third of the pixels equal to the key.
void MakeSource(std::vector<uint8_t>& src, int bpp, uint32_t key, std::mt19937& rng) {
  for (size_t i = 0; i + bpp <= src.size(); i += bpp) {
    uint32_t v = rng() % 3 == 0 ? key : (uint32_t)rng();
    if (rng() % 8 == 0) v = key ^ (1u << (rng() % (8 * bpp)));  // differs from the key in one bit only
    memcpy(&src[i], &v, bpp);
  }
}

TEST(BlitKernels, PlainComesFirstAndTheBestIsActive) {
  ASSERT_GE(BlitKernelCount(), 2);  // plain and SSE2 at least
  EXPECT_STREQ(BlitKernelAt(0)->name, "plain");
  EXPECT_STREQ(BlitKernelAt(1)->name, "sse2");
  EXPECT_EQ(BlitKernelAt(BlitKernelCount()), nullptr);
  if (!getenv("TESSEL_BLIT")) {
    EXPECT_EQ(BlitActiveKernels(), BlitKernelAt(BlitKernelCount() - 1));
  }
}

TEST(BlitKernels, EveryKernelMatchesThePlainLoop) {
  std::mt19937 rng(12345);
  const BlitKernels* plain = BlitKernelAt(0);
  for (int k = 1; k < BlitKernelCount(); k++) {
    const BlitKernels* kernel = BlitKernelAt(k);
    SCOPED_TRACE(kernel->name);
    for (int bpp : {2, 3, 4}) {
      for (int width = 1; width <= 67; width++) {
        for (int offsets = 0; offsets < 4; offsets++) {
          const int so = offsets & 1 ? 1 + (int)(rng() % 7) : 0, doff = offsets & 2 ? 1 + (int)(rng() % 7) : 0;
          const int srcPitch = width * bpp + so + (int)(rng() % 5), dstPitch = width * bpp + doff + (int)(rng() % 5);
          uint32_t key = (uint32_t)rng();
          if (bpp == 2) key &= 0xFFFF;
          if (bpp == 3) key &= 0xFFFFFF;
          std::vector<uint8_t> src((size_t)srcPitch * Rows + so);
          MakeSource(src, bpp, key, rng);
          std::vector<uint8_t> want((size_t)dstPitch * Rows + 2 * Guard), got;
          for (uint8_t& b : want) b = (uint8_t)rng();
          got = want;
          uint8_t* w = want.data() + Guard + doff;
          uint8_t* g = got.data() + Guard + doff;
          const uint8_t* s = src.data() + so;
          BlitKeyKernel pk = bpp == 2 ? plain->keyed16 : bpp == 3 ? plain->keyed24 : plain->keyed32;
          BlitKeyKernel kk = bpp == 2 ? kernel->keyed16 : bpp == 3 ? kernel->keyed24 : kernel->keyed32;
          pk(w, dstPitch, s, srcPitch, width, Rows, key);
          kk(g, dstPitch, s, srcPitch, width, Rows, key);
          ASSERT_EQ(want, got) << "keyed, " << bpp << " bytes, width " << width;
          plain->copy(w, dstPitch, s, srcPitch, width * bpp, Rows);
          kernel->copy(g, dstPitch, s, srcPitch, width * bpp, Rows);
          ASSERT_EQ(want, got) << "opaque, " << bpp << " bytes, width " << width;
        }
      }
    }
  }
}

TEST(BlitKernels, FillWritesOnlyTheRectangle) {
  for (int bpp : {2, 3, 4}) {
    for (int width = 1; width <= 40; width++) {
      const int pitch = width * bpp + 3;
      std::vector<uint8_t> buffer((size_t)pitch * 2 + 2 * Guard, 0xEE);
      BlitFill(buffer.data() + Guard + 1, pitch, width, 2, bpp, 0x11223344);
      for (size_t i = 0; i < buffer.size(); i++) {
        const long at = (long)i - Guard - 1;
        const long row = at >= 0 ? at / pitch : -1, col = at >= 0 ? at % pitch : -1;
        const bool inside = row >= 0 && row < 2 && col < width * bpp;
        const uint8_t want = inside ? (uint8_t)(0x11223344u >> (8 * (col % bpp))) : 0xEE;
        ASSERT_EQ(buffer[i], want) << bpp << " bytes, width " << width << ", byte " << i;
      }
    }
  }
}

}  // namespace
