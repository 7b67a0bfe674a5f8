// The importer's composition against a second implementation in double
// precision: source-over on premultiplied colour, layer opacity, tint (the
// colour times the tint over the tint where the pixel is uncovered, alpha
// times the tint's), over a colour or over nothing; and Tessel's key on the result.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "tools/tessel-map/import/import_picture.h"

namespace {

struct Rng {
  uint32_t state;
  uint32_t Next() { return (state = state * 1664525u + 1013904223u) >> 8; }
};

TEST(ImportPicture, ComposeMatchesTheBlendInDoublePrecision) {
  Rng rng{77};
  const int32_t n = 64;
  int64_t checked = 0;
  for (int trial = 0; trial < 400; trial++) {
    size_t count = 1 + rng.Next() % 4;
    std::vector<std::vector<uint8_t>> pixels(count, std::vector<uint8_t>((size_t)n * 4));
    std::vector<PictureLayer> layers;
    for (size_t k = 0; k < count; k++) {
      for (uint8_t& v : pixels[k]) v = (uint8_t)rng.Next();
      // Some pixels fully clear or fully opaque, as in real tiles.
      for (int32_t i = 0; i < n; i += 5) pixels[k][(size_t)i * 4 + 3] = rng.Next() % 2 ? 0 : 255;
      double opacity = rng.Next() % 3 == 0 ? 1.0 : (rng.Next() % 1000) / 1000.0;
      uint32_t tint = rng.Next() % 2 ? 0xFFFFFFFFu : (rng.Next() << 8 | rng.Next() % 256);
      layers.push_back({pixels[k].data(), opacity, tint});
    }
    bool over = rng.Next() % 2;
    uint32_t colour = rng.Next() & 0xFFFFFF;
    std::vector<uint8_t> got;
    PictureCompose(layers.data(), layers.size(), n, over, colour, &got);
    for (int32_t i = 0; i < n; i++) {
      double d[4] = {0, 0, 0, 0};  // premultiplied, 0 to 1
      if (over) d[0] = (colour >> 16 & 255) / 255.0, d[1] = (colour >> 8 & 255) / 255.0, d[2] = (colour & 255) / 255.0, d[3] = 1;
      for (const PictureLayer& layer : layers) {
        const uint8_t* s = layer.rgba + (size_t)i * 4;
        double a = s[3] / 255.0, c[3] = {s[0] / 255.0, s[1] / 255.0, s[2] / 255.0};
        if (layer.tint != 0xFFFFFFFFu) {
          double t[3] = {(layer.tint >> 16 & 255) / 255.0, (layer.tint >> 8 & 255) / 255.0, (layer.tint & 255) / 255.0};
          for (int ch = 0; ch < 3; ch++) c[ch] = t[ch] * (c[ch] * a + 1 - a);
          a *= (layer.tint >> 24) / 255.0;
        }
        a *= layer.opacity;
        for (int ch = 0; ch < 3; ch++) d[ch] = c[ch] * a + d[ch] * (1 - a);
        d[3] = a + d[3] * (1 - a);
      }
      for (int ch = 0; ch < 4; ch++) {
        ASSERT_NEAR(got[(size_t)i * 4 + ch], d[ch] * 255.0, 4.0) << "trial " << trial << " pixel " << i << " channel " << ch;
        checked++;
      }
    }
  }
  EXPECT_EQ(checked, 400 * 64 * 4);
}

TEST(ImportPicture, ComposedCellsAreKeyedAtHalfAlphaWithBlackKeptVisible) {
  // Premultiplied: clear, soft below half, soft above half, opaque black, opaque colour.
  std::vector<uint8_t> cell = {0, 0, 0, 0, 10, 20, 30, 100, 64, 32, 0, 128, 0, 0, 0, 255, 9, 8, 7, 255};
  std::string rgb;
  int64_t soft = 0;
  ASSERT_TRUE(PictureKeyComposed(cell, 5, false, &rgb, &soft));
  EXPECT_EQ(soft, 2);
  const uint8_t want[15] = {0, 0, 0, 0, 0, 0, 128, 64, 0, 0, 0, 1, 9, 8, 7};
  for (int k = 0; k < 15; k++) EXPECT_EQ((uint8_t)rgb[(size_t)k], want[k]) << k;
  // Over a black background, black is the background itself: the key.
  ASSERT_TRUE(PictureKeyComposed(cell, 5, true, &rgb, &soft));
  EXPECT_EQ((uint8_t)rgb[11], 0);
  EXPECT_FALSE(PictureKeyComposed(std::vector<uint8_t>(8, 0), 2, false, &rgb, &soft));
}

}  // namespace
