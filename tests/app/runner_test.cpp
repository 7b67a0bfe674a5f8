// The main program: the frame loop's order, the overlay, the frame counter,
// Escape, the processor-fault exit, and no allocation inside the loop.
#include <gtest/gtest.h>

#include "tests/app/harness.h"

namespace {

const Rgb White{255, 255, 255};

MapSpec ScrollMap() {
  MapSpec spec;
  spec.width = 2000;
  spec.height = 1000;
  spec.step = 8;
  LayerSpec layer{60, 30, 32, 32, 0.5f, 0, {}};
  for (int32_t i = 0; i < 60 * 30; i++) layer.cells.push_back((int16_t)(i % 3 == 0 ? 0 : i % 3));
  spec.layers.push_back(layer);
  spec.layers.push_back({60, 30, 32, 32, 1.0f, 0, std::vector<int16_t>(60 * 30, 2)});
  spec.tiles = {{"a.bmp", 2}, {"b.bmp", 1}};
  return spec;
}

void ScrollTiles(const TestDir& dir) {
  dir.Tile("a.bmp", 32, 32, Rgb{200, 0, 0});
  dir.Tile("b.bmp", 32, 32, [](int32_t x, int32_t) { return x < 8 ? Rgb{0, 0, 200} : Rgb{0, 0, 0}; });
}

int32_t WhiteIn(const Picture& picture, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  int32_t count = 0;
  for (int32_t y = top; y < bottom; y++) {
    for (int32_t x = left; x < right; x++) count += picture.At(x, y) == White;
  }
  return count;
}

bool SameRegion(const Picture& a, const Picture& b, int32_t top, int32_t bottom) {
  for (int32_t y = top; y < bottom; y++) {
    for (int32_t x = 0; x < 200; x++) {
      if (!(a.At(x, y) == b.At(x, y))) return false;
    }
  }
  return true;
}

TEST(FpsCount, ShowsZeroUntilASecondHasPassedThenTheCount) {
  TestDir dir;
  dir.Map("empty", std::vector<uint8_t>{});
  RunOptions options;
  options.args = {"empty", "320", "200", "0"};
  options.keys = {{{}, 210}};
  options.clock = [](int32_t frame) { return (uint32_t)frame * 10u; };
  RunResult run = RunRunner(dir, options);
  ASSERT_EQ(run.exitCode, 0);
  ASSERT_EQ(run.frames.size(), 211u);
  EXPECT_EQ(run.frames[98].fps, 0);   // frame 99, tick 990
  EXPECT_EQ(run.frames[99].fps, 99);  // frame 100 publishes frames 1-99, not itself
  EXPECT_EQ(run.frames[198].fps, 99);
  EXPECT_EQ(run.frames[199].fps, 99);  // frames 101-199
  // A stalled clock never publishes again.
  options.clock = [](int32_t frame) { return frame < 50 ? (uint32_t)frame * 30u : 1470u; };
  run = RunRunner(dir, options);
  EXPECT_EQ(run.frames[33].fps, 33);
  EXPECT_EQ(run.frames[200].fps, 33);
}

TEST(FrameLoop, EscapeAtTheFirstFrameStillDrawsOneWholeFrame) {
  TestDir dir;
  ScrollTiles(dir);
  dir.Map("m", ScrollMap());
  RunOptions options;
  options.args = {"m", "640", "480", "0"};
  options.keys = {{{KeyEsc, KeyRight}, 1}};
  options.watchTiles = {1};
  RunResult run = RunRunner(dir, options);
  ASSERT_EQ(run.exitCode, 0);
  ASSERT_EQ(run.frames.size(), 1u);
  EXPECT_EQ(run.frames[0].viewX, 8);       // the scroll tests ran
  EXPECT_EQ(run.frames[0].offsetX[0], 4);
  EXPECT_EQ(run.frames[0].current[0], 2);  // the animation stepped
  EXPECT_EQ(run.last.At(600, 400), (Rgb{0, 0, 200}));  // the map was drawn
  EXPECT_GT(WhiteIn(run.last, 10, 10, 120, 28), 10);    // "ESC Quit"
  EXPECT_GT(WhiteIn(run.last, 10, 30, 160, 48), 10);    // "Pos :8\0"
  EXPECT_GT(WhiteIn(run.last, 10, 50, 160, 68), 10);    // "FPS : 0"
  EXPECT_TRUE(run.boxes.empty());
}

// The position line follows the view, the other lines stay as they were.
TEST(FrameLoop, OverlayShowsTheViewPosition) {
  TestDir dir;
  ScrollTiles(dir);
  MapSpec spec;  // no layers: only the overlay on black
  spec.width = 2000;
  spec.height = 1000;
  spec.step = 8;
  dir.Map("m", spec);
  RunOptions options;
  options.args = {"m", "640", "480", "0"};
  options.keys = {{{}, 1}, {{KeyRight, KeyDownArrow}, 3}};
  options.captureFrame = 1;
  RunResult run = RunRunner(dir, options);
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.frames.back().viewX, 24);
  EXPECT_EQ(run.frames.back().viewY, 24);
  EXPECT_TRUE(SameRegion(run.captured, run.last, 8, 29));
  EXPECT_FALSE(SameRegion(run.captured, run.last, 29, 49));
  EXPECT_TRUE(SameRegion(run.captured, run.last, 49, 70));
  EXPECT_EQ(WhiteIn(run.last, 200, 0, 640, 480), 0);
}

TEST(FrameLoop, ProcessorFaultEndsWithNumberNine) {
  TestDir dir;
  dir.Map("empty", std::vector<uint8_t>{});
  RunOptions options;
  options.args = {"empty", "320", "200", "0"};
  options.keys = {{{}, 5}};
  options.faultAtFrame2 = true;
  RunResult run = RunRunner(dir, options);
  EXPECT_EQ(run.exitCode, 0);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0], "Fehlermeldung: Fehlernummer:9");
  EXPECT_EQ(run.frames.size(), 1u);
}

// Scrolling, animating, drawing three layers, the overlay and the flip make no
// heap or C++ allocation once the loop has warmed up.
TEST(FrameLoop, AllocatesNothingPerFrame) {
  TestDir dir;
  ScrollTiles(dir);
  dir.Map("m", ScrollMap());
  RunOptions options;
  options.args = {"m", "640", "480", "0"};
  options.keys = {{{}, 3}, {{KeyRight, KeyDownArrow}, 30}, {{KeyLeft}, 10}};
  RunResult run = RunRunner(dir, options);
  ASSERT_EQ(run.exitCode, 0);
  ASSERT_GE(run.frames.size(), 40u);
  EXPECT_GT(run.frames[39].viewX, 0);
  EXPECT_EQ(run.frames[39].heapAllocations, run.frames[5].heapAllocations);
  EXPECT_EQ(run.frames[39].newAllocations, run.frames[5].newAllocations);
  EXPECT_EQ(run.frames[39].stringFill, run.frames[5].stringFill);
}

}  // namespace
