// The background through the whole runner: an image is drawn opaque, so its
// black pixels cover what the back buffer held; negative numbers are colours,
// except -1, the image background with no image, which draws nothing.
#include <gtest/gtest.h>

#include "tests/app/harness.h"

namespace {

const Rgb Black{0, 0, 0};
const Rgb Red{255, 0, 0};

// One red tile in cell (2, 3) of a 32-pixel grid (below the overlay), over the given background.
// The view moves three steps of 8 pixels right, so the tile is drawn at x =
// 56, 48, 40 and 40 in the four frames; the flip hands each frame the back
// buffer of the frame before last.
RunResult RunScrolled(const TestDir& dir, const std::string& background) {
  dir.Tile("red.bmp", 32, 32, Red);
  dir.Tile("night.bmp", 320, 200, [](int32_t, int32_t y) { return y < 190 ? Black : Rgb{0, 0, 90}; });
  MapSpec spec;
  spec.width = 2000;
  spec.height = 1000;
  spec.step = 8;
  spec.background = background;
  LayerSpec layer{10, 10, 32, 32, 1.0f, 0, std::vector<int16_t>(100, 0)};
  layer.cells[3 * 10 + 2] = 1;
  spec.layers.push_back(layer);
  spec.tiles = {{"red.bmp", 1}};
  dir.Map("m", spec);
  RunOptions options;
  options.args = {"m", "320", "200", "0"};
  options.keys = {{{KeyRight}, 3}};
  return RunRunner(dir, options);
}

int32_t RedPixels(const Picture& picture) {
  int32_t count = 0;
  for (int32_t y = 0; y < picture.height; y++)
    for (int32_t x = 0; x < picture.width; x++) count += picture.At(x, y) == Red;
  return count;
}

}  // namespace

TEST(Background, ImageIsDrawnOpaque) {
  TestDir dir;
  RunResult run = RunScrolled(dir, "night.bmp");
  ASSERT_EQ(run.exitCode, 0);
  ASSERT_EQ(run.frames.size(), 4u);
  EXPECT_EQ(run.backgroundMode, -1);
  // Only the tile where it is now: no trace of where it was two frames before.
  EXPECT_EQ(RedPixels(run.last), 32 * 32);
  EXPECT_EQ(run.last.At(40, 96), Red);
  EXPECT_EQ(run.last.At(71, 127), Red);
  EXPECT_EQ(run.last.At(75, 100), Black);
  EXPECT_EQ(run.last.At(300, 195), (Rgb{0, 0, 90}));
}

TEST(Background, NegativeNumbersAreColoursButMinusOneDrawsNothing) {
  TestDir dir;
  // -2 is 0xFFFFFFFE: red 254, green and blue 255; the top byte plays no part.
  RunResult run = RunScrolled(dir, "-2");
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.backgroundMode, -2);
  EXPECT_EQ(run.last.At(300, 150), (Rgb{254, 255, 255}));
  EXPECT_EQ(RedPixels(run.last), 32 * 32);
  // -16711936 is 0xFF00FF00: green.
  run = RunScrolled(dir, "-16711936");
  EXPECT_EQ(run.backgroundMode, -16711936);
  EXPECT_EQ(run.last.At(300, 150), (Rgb{0, 255, 0}));
  // -1 selects the image background without loading one: the back buffer is
  // neither cleared nor covered, and the tile of two frames before shows.
  run = RunScrolled(dir, "-1");
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.backgroundMode, -1);
  EXPECT_EQ(run.backgroundSprite, 0);
  EXPECT_TRUE(run.boxes.empty());
  EXPECT_EQ(run.last.At(300, 150), Black);
  EXPECT_EQ(run.last.At(75, 100), Red);
  EXPECT_GT(RedPixels(run.last), 32 * 32);
}
