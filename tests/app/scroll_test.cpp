// Scrolling and drawing through the whole runner: the undone right and down
// steps, the clamped left and up steps, parallax rounding, the visited grid,
// layer order, and maps the 8-bit drawing once got wrong.
#include <gtest/gtest.h>

#include "tests/app/harness.h"

namespace {

const Rgb Black{0, 0, 0};
const Rgb Red{255, 0, 0};
const Rgb Green{0, 255, 0};
const Rgb Blue{0, 0, 255};

// A map of the given pixel size with one layer of 32-pixel tiles, all tile 1.
MapSpec PlainMap(int32_t width, int32_t height, int32_t step, int32_t startX = 0) {
  MapSpec spec;
  spec.width = width;
  spec.height = height;
  spec.step = step;
  spec.startX = startX;
  LayerSpec layer;
  layer.width = (width + 31) / 32;
  layer.height = (height + 31) / 32;
  layer.cells.assign((size_t)layer.width * layer.height, 1);
  spec.layers.push_back(layer);
  spec.tiles.push_back({"t.bmp", 1});
  return spec;
}

RunResult RunKeys(const TestDir& dir, std::vector<std::string> args, std::vector<KeyStep> keys) {
  RunOptions options;
  options.args = std::move(args);
  options.keys = std::move(keys);
  return RunRunner(dir, options);
}

TEST(MapScroll, RightStepIsUndoneAtTheEdge) {
  TestDir dir;
  dir.Tile("t.bmp", 32, 32, Red);
  for (auto [step, stop] : {std::pair{8, 360}, std::pair{7, 357}}) {
    SCOPED_TRACE(step);
    dir.Map("wide", PlainMap(1000, 480, step));
    RunResult run = RunKeys(dir, {"wide", "640", "480", "0"}, {{{KeyRight}, 60}});
    ASSERT_EQ(run.exitCode, 0);
    ASSERT_EQ(run.frames.size(), 61u);
    EXPECT_EQ(run.frames[0].viewX, step);
    int32_t steps = stop / step;
    EXPECT_EQ(run.frames[steps - 1].viewX, stop);
    EXPECT_EQ(run.frames[steps].viewX, stop);
    EXPECT_EQ(run.frames[59].viewX, stop);
    EXPECT_EQ(run.frames[60].viewX, stop);  // the Escape frame holds no arrow
  }
}

TEST(MapScroll, DownStepIsUndoneAndUpClampsAtZero) {
  TestDir dir;
  dir.Tile("t.bmp", 32, 32, Red);
  MapSpec spec = PlainMap(640, 500, 8);
  spec.startY = 5;
  dir.Map("tall", spec);
  RunResult run = RunKeys(dir, {"tall", "640", "480", "0"}, {{{KeyDownArrow}, 5}, {{KeyUp}, 1}, {{KeyUp}, 1}});
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.frames[0].viewY, 13);
  EXPECT_EQ(run.frames[1].viewY, 13);  // 21 + 480 > 500
  EXPECT_EQ(run.frames[5].viewY, 5);
  EXPECT_EQ(run.frames[6].viewY, 0);
}

TEST(MapScroll, LeftClampsAtZero) {
  TestDir dir;
  dir.Tile("t.bmp", 32, 32, Red);
  dir.Map("m", PlainMap(1000, 480, 8, 3));
  RunResult run = RunKeys(dir, {"m", "640", "480", "0"}, {{{KeyLeft}, 2}});
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.frames[0].viewX, 0);
  EXPECT_EQ(run.frames[1].viewX, 0);
}

TEST(MapScroll, RightAndLeftTogether) {
  TestDir dir;
  dir.Tile("t.bmp", 32, 32, Red);
  // In the middle the two steps cancel; at the right edge the right step is
  // undone and the left one still moves the view.
  dir.Map("mid", PlainMap(1000, 480, 8, 100));
  RunResult middle = RunKeys(dir, {"mid", "640", "480", "0"}, {{{KeyRight, KeyLeft}, 3}});
  EXPECT_EQ(middle.frames[2].viewX, 100);
  dir.Map("edge", PlainMap(1000, 480, 8, 360));
  RunResult edge = RunKeys(dir, {"edge", "640", "480", "0"}, {{{KeyRight, KeyLeft}, 3}});
  EXPECT_EQ(edge.frames[0].viewX, 352);
  EXPECT_EQ(edge.frames[1].viewX, 352);  // 360 would fit again: right, then left
  // A map narrower than the screen cannot move right at all.
  dir.Map("narrow", PlainMap(600, 480, 8));
  EXPECT_EQ(RunKeys(dir, {"narrow", "640", "480", "0"}, {{{KeyRight}, 3}}).frames[2].viewX, 0);
}

TEST(MapScroll, ParallaxRoundsHalfToEvenAndJumpsOnFirstKey) {
  TestDir dir;
  dir.Tile("t.bmp", 32, 32, Red);
  for (auto [start, offset] : {std::pair{101, 50}, std::pair{103, 52}, std::pair{-3, -2}}) {
    SCOPED_TRACE(start);
    MapSpec spec = PlainMap(2000, 480, 8, start);
    LayerSpec half = spec.layers[0];
    half.factor = 0.5f;
    spec.layers.push_back(half);
    dir.Map("par", spec);
    // Up at y = 0 moves nothing, yet recomputes every offset.
    RunResult run = RunKeys(dir, {"par", "640", "480", "0"}, {{{}, 2}, {{KeyUp}, 1}});
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.frames[1].offsetX[1], start);  // unscaled until the first key
    EXPECT_EQ(run.frames[1].offsetX[0], start);
    EXPECT_EQ(run.frames[2].viewX, start);
    EXPECT_EQ(run.frames[2].offsetX[1], offset);
    EXPECT_EQ(run.frames[2].offsetX[0], start);
  }
}

// Factor 0 pins a layer in place; a factor above 1 outruns the view, and the
// layer's cells end where its width ends (nothing past it is drawn).
TEST(MapScroll, FactorZeroStaysAndFactorAboveOneOutrunsTheView) {
  TestDir dir;
  dir.Tile("red.bmp", 32, 32, Red);
  dir.Tile("blue.bmp", 32, 32, Blue);
  MapSpec spec = PlainMap(2000, 480, 8);
  spec.layers[0].factor = 0.0f;
  LayerSpec fast;
  fast.width = 30;  // 960 pixels
  fast.height = 15;
  fast.factor = 1.5f;
  fast.cells.assign(30 * 15, 2);
  spec.layers.push_back(fast);
  spec.tiles = {{"red.bmp", 1}, {"blue.bmp", 1}};
  dir.Map("fast", spec);
  RunResult run = RunKeys(dir, {"fast", "640", "480", "0"}, {{{KeyRight}, 50}});
  ASSERT_EQ(run.exitCode, 0);
  for (int32_t f = 0; f < 50; f++) {
    EXPECT_EQ(run.frames[f].viewX, 8 * (f + 1));
    EXPECT_EQ(run.frames[f].offsetX[0], 0);
    EXPECT_EQ(run.frames[f].offsetX[1], 12 * (f + 1));
  }
  // View 400 (the Escape frame holds no arrow): the fast layer's offset is
  // 600, so its last column ends at screen x 360 and the still layer shows behind.
  ASSERT_EQ(run.frames[50].viewX, 400);
  EXPECT_EQ(run.last.At(355, 200), Blue);
  EXPECT_EQ(run.last.At(365, 200), Red);
  EXPECT_EQ(run.last.At(639, 479), Red);
}

// 640 x 480 with 32-pixel tiles visits 22 x 17 cells per layer; partly
// visible cells on both edges are drawn.
TEST(LayerDraw, VisitsColumnsPlusOneByRowsPlusOne) {
  TestDir dir;
  dir.Tile("t.bmp", 32, 32, Red);
  dir.Map("m", PlainMap(1600, 1280, 16));
  RunOptions options;
  options.args = {"m", "640", "480", "0"};
  options.keys = {{{}, 1}, {{KeyRight, KeyDownArrow}, 1}};
  options.countCells = true;
  RunResult run = RunRunner(dir, options);
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.frames[0].cells, 22 * 17);
  EXPECT_EQ(run.frames[1].cells, 22 * 17);
  EXPECT_EQ(run.last.At(639, 479), Red);
  EXPECT_EQ(run.last.At(0, 479), Red);
}

TEST(LayerDraw, CellsOutsideTheLayerAreNotDrawn) {
  TestDir dir;
  dir.Tile("t.bmp", 32, 32, Red);
  MapSpec spec = PlainMap(640, 480, 8);
  spec.layers[0].width = 3;
  spec.layers[0].height = 2;
  spec.layers[0].cells.assign(6, 1);
  dir.Map("m", spec);
  RunOptions options;
  options.args = {"m", "640", "480", "0"};
  options.countCells = true;
  RunResult run = RunRunner(dir, options);
  EXPECT_EQ(run.frames[0].cells, 6);
  EXPECT_EQ(run.last.At(95, 63), Red);
  EXPECT_EQ(run.last.At(97, 63), Black);
  EXPECT_EQ(run.last.At(95, 65), Black);
}

// Layer 0 is at the back; black tile pixels are transparent.
TEST(LayerDraw, LayersDrawBackToFrontWithBlackTransparent) {
  TestDir dir;
  dir.Tile("red.bmp", 32, 32, Red);
  dir.Tile("hole.bmp", 32, 32, [](int32_t x, int32_t) { return x < 16 ? Blue : Black; });
  MapSpec spec;
  spec.width = 640;
  spec.height = 480;
  spec.layers.push_back({1, 1, 32, 32, 1.0f, 0, {1}});
  spec.layers.push_back({1, 1, 32, 32, 1.0f, 0, {2}});
  spec.tiles = {{"red.bmp", 1}, {"hole.bmp", 1}};
  dir.Map("m", spec);
  RunResult run = RunKeys(dir, {"m", "640", "480", "0"}, {});
  EXPECT_EQ(run.last.At(5, 28), Blue);
  EXPECT_EQ(run.last.At(25, 28), Red);
}

// Scrolled by a part of a tile, cells start sub x pixels to the left.
TEST(LayerDraw, PartialOffsetShiftsTheGrid) {
  TestDir dir;
  dir.Tile("red.bmp", 32, 32, Red);
  dir.Tile("green.bmp", 32, 32, Green);
  MapSpec spec;
  spec.width = 2000;
  spec.height = 480;
  spec.step = 12;
  LayerSpec layer{60, 15, 32, 32, 1.0f, 0, {}};
  for (int32_t r = 0; r < 15; r++) {
    for (int32_t c = 0; c < 60; c++) layer.cells.push_back((int16_t)(c % 2 == 0 ? 1 : 2));
  }
  spec.layers.push_back(layer);
  spec.tiles = {{"red.bmp", 1}, {"green.bmp", 1}};
  dir.Map("m", spec);
  RunResult run = RunKeys(dir, {"m", "640", "480", "0"}, {{{KeyRight}, 1}});
  // Offset 12: column 0 spans x -12 .. 19, column 1 from 20, column 20 ends at 651.
  EXPECT_EQ(run.last.At(19, 300), Red);
  EXPECT_EQ(run.last.At(20, 300), Green);
  EXPECT_EQ(run.last.At(639, 300), Red);
}

// Cells naming no tile type, tile sizes of 0, tiles over 128 pixels and
// screens over 126 tiles wide: drawn soundly, never out of the records.
TEST(LayerDraw, UnusualMapsDrawSoundly) {
  TestDir dir;
  dir.Tile("red.bmp", 200, 200, Red);
  dir.Tile("green.bmp", 8, 8, Green);
  dir.Tile("blue.bmp", 200, 200, Blue);
  MapSpec spec;
  spec.width = 4000;
  spec.height = 480;
  spec.step = 75;
  spec.layers.push_back({1, 1, 0, 32, 1.0f, 0, {1}});  // tile width 0: not drawn
  spec.layers.push_back({4, 1, 200, 200, 1.0f, 0, {1, 3, 1, 3}});
  spec.layers.push_back({160, 1, 8, 8, 1.0f, 0, {}});  // 1200 / 8 = 150 columns
  for (int32_t c = 0; c < 160; c++) spec.layers[2].cells.push_back((int16_t)(c % 3 == 0 ? 2 : 0));
  spec.layers[2].cells[1] = -1;
  spec.layers[2].cells[2] = 4;  // past the tile type count
  spec.tiles = {{"red.bmp", 1}, {"green.bmp", 1}, {"blue.bmp", 1}};
  dir.Map("m", spec);
  RunOptions options;
  options.args = {"m", "1200", "400", "0"};
  options.keys = {{{}, 1}, {{KeyRight}, 2}};
  options.countCells = true;
  options.captureFrame = 1;
  RunResult run = RunRunner(dir, options);
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.boxes.empty());
  // Frame 1: four big cells and tile 2 at columns 0, 3 ... 150; -1 and 4 are skipped.
  EXPECT_EQ(run.frames[0].cells, 4 + 51);
  EXPECT_EQ(run.captured.At(11, 3), Red);
  EXPECT_EQ(run.captured.At(19, 3), Red);
  EXPECT_EQ(run.captured.At(27, 3), Green);
  // Offset 150 over 200-pixel tiles: cell 0 spans -150 .. 49, cell 1 50 .. 249.
  ASSERT_EQ(run.frames[2].viewX, 150);
  EXPECT_EQ(run.last.At(49, 150), Red);
  EXPECT_EQ(run.last.At(50, 150), Blue);
  // The 8-pixel layer: first column 18, sub x 6, column c at (c - 18) * 8 - 6.
  EXPECT_EQ(run.last.At(12, 3), Red);
  EXPECT_EQ(run.last.At(21, 3), Green);
  EXPECT_EQ(run.last.At((150 - 18) * 8 - 6 + 3, 3), Green);
}

}  // namespace
