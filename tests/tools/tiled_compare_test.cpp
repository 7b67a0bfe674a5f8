// Maps made in Tiled, imported with `tessel-map import` and drawn by
// tessel-render, against the pictures Tiled's own tmxrasterizer draws of them:
// Tiled's example maps and their JSON exports, maps written here with every
// layer encoding, flips, infinite chunks, several tilesets and image formats,
// large offset tiles, image layers, group layers, animation and a scrolled view.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/tools/tiled_harness.h"
#include "tests/tools/tiled_maps.h"

namespace tiled {
namespace {

const char kExamples[] = "/usr/share/doc/tiled/examples";

TEST(TiledCompare, MatchesWithinFourPerChannelAndLeavesOutWhatCannotBeCompared) {
  Image tiled = ImageMake(200, 100, 0x102030FF);
  Image frame = ImageMake(200, 100, 0x142434FF);
  // Every pixel below the overlay corner counts: 200 x 100 less 176 x 72.
  Match same = CompareView(tiled, frame, 0, 0, 0);
  EXPECT_EQ(same.counted, 200 * 100 - kOverlayWidth * kOverlayHeight);
  EXPECT_EQ(same.matched, same.counted);
  ImageSet(&frame, 190, 90, 0x15, 0x20, 0x30);
  EXPECT_EQ(CompareView(tiled, frame, 0, 0, 0).matched, same.counted - 1);
  // Transparent in Tiled's picture: the background colour must show.
  ImageSet(&tiled, 190, 80, 0, 0, 0, 0);
  ImageSet(&frame, 190, 80, 0x11, 0x22, 0x33);
  EXPECT_EQ(CompareView(tiled, frame, 0, 0, 0x112233).matched, same.counted - 1);
  EXPECT_EQ(CompareView(tiled, frame, 0, 0, 0).matched, same.counted - 2);
  // Half transparent in Tiled's picture: not compared.
  ImageSet(&tiled, 190, 90, 0, 0, 0, 128);
  EXPECT_EQ(CompareView(tiled, frame, 0, 0, 0).counted, same.counted - 1);
  // A view further into Tiled's picture compares only what lies inside it:
  // 150 x 90 pixels less the overlay's 150 x 72 and the half-transparent one.
  Match shifted = CompareView(tiled, frame, 50, 10, 0);
  EXPECT_EQ(shifted.counted, 150 * 90 - 150 * kOverlayHeight - 1);
}

TEST(TiledCompare, OverlayStaysInsideTheCornerLeftOut) {
  // The widest overlay the tests can meet: a six-digit position and a
  // three-digit frame count, on an empty map (black screen, overlay only).
  char pattern[] = "/tmp/tessel-tiled-overlay-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string dir = pattern;
  mkdir((dir + "/Maps").c_str(), 0755);
  Spit(dir + "/source.txt", "size 999999 999999\nstart 999999 -99999\nstep 1\n");
  std::string bin = TESSEL_BINARY_DIR;
  ASSERT_EQ(std::system((bin + "/tessel-map build " + Quote(dir + "/source.txt") + " -o " + Quote(dir + "/Maps/e") +
                         " >/dev/null")
                            .c_str()),
            0);
  ASSERT_EQ(std::system(("cd " + Quote(dir) + " && " + bin +
                         "/tessel-render e 400 200 100 --keys none*2100 --frame-ms 1 --out frame.png >/dev/null")
                            .c_str()),
            0);
  Image frame;
  ASSERT_TRUE(PngRead(dir + "/frame.png", &frame));
  int lit = 0;
  for (int32_t y = 0; y < frame.height; y++) {
    for (int32_t x = 0; x < frame.width; x++) {
      const uint8_t* p = frame.At(x, y);
      if (p[0] == 0 && p[1] == 0 && p[2] == 0) continue;
      lit++;
      EXPECT_TRUE(x < kOverlayWidth - 2 && y < kOverlayHeight - 2) << "overlay pixel at " << x << "," << y;
    }
  }
  EXPECT_GT(lit, 300);
  std::system(("rm -rf " + Quote(dir)).c_str());
}

class TiledCompareTest : public TiledTest {
 protected:
  // A map of two layers on one 16 x 16 tileset: a full ground and a sparse
  // top layer of flipped and rotated tiles, in the given encoding.
  struct Layered {
    std::string path;
    TilesetSpec spec;
    std::vector<std::vector<uint32_t>> layers;
  };
  Layered WriteLayered(const std::string& name, const std::string& encoding, uint32_t seed) {
    Layered map;
    map.path = dir_ + "/" + name + ".tmx";
    map.spec.name = name + "-tiles";
    map.spec.columns = 6;
    map.spec.rows = 4;
    map.spec.seed = (int32_t)seed;
    Random random{seed};
    map.layers.push_back(RandomCells(&random, kWidth * kHeight, 1, 24, 0, false));
    map.layers.push_back(RandomCells(&random, kWidth * kHeight, 1, 24, 40, true));
    std::string body = TilesetWrite(dir_, map.spec) + LayerXml("ground", kWidth, kHeight, map.layers[0], encoding) +
                       LayerXml("top", kWidth, kHeight, map.layers[1], encoding);
    Spit(map.path, MapXml(kWidth, kHeight, 16, 16, body));
    return map;
  }

  static constexpr int32_t kWidth = 30;
  static constexpr int32_t kHeight = 20;
};

TEST_F(TiledCompareTest, TiledDrawsTheWrittenMapsAsTheTestsExpect) {
  TILED_REQUIRE();
  // The maps of every encoding are what the tests think they are: Tiled
  // itself draws them tile for tile, flips included, as DrawLayers does.
  for (const char* encoding : {"csv", "base64", "base64-zlib", "base64-gzip", "base64-zstd"}) {
    if (std::string(encoding) == "base64-zstd" && !ZstdAvailable()) continue;
    Layered map = WriteLayered(std::string("check-") + (encoding + (encoding[0] == 'b' ? 6 : 0)), encoding, 7);
    Image tiled;
    if (!Rasterize(map.path, &tiled)) continue;
    Image drawn = DrawLayers(kWidth, kHeight, map.spec, map.layers);
    ExpectMatch(encoding, tiled, drawn, 0, 0, 0, 1.0);
    // And a wrong flip would show: the same cells without their flags.
    std::vector<std::vector<uint32_t>> unflipped = map.layers;
    for (uint32_t& cell : unflipped[1]) cell &= 0x0FFFFFFFu;
    EXPECT_LT(CompareView(tiled, DrawLayers(kWidth, kHeight, map.spec, unflipped), 0, 0, 0).Rate(), 0.9);
  }
}

}  // namespace
}  // namespace tiled
