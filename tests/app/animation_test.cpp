// Tile animation through the whole runner: the frame cycle, the 16-bit
// interval, stepping on whole frames, and tile numbers above 127.
#include <gtest/gtest.h>

#include "app/map.h"
#include "platform/headless.h"
#include "tests/app/harness.h"

namespace {

const Rgb Palette[] = {{0, 0, 0},     {255, 0, 0},   {0, 255, 0}, {0, 0, 255},
                       {255, 255, 0}, {255, 0, 255}, {0, 255, 255}, {128, 64, 32}};

// Tile types 1-7 of distinct colours; 5 animates over three frames; a layer
// shows 5, 6 and 7 side by side.
void AnimatedMap(const TestDir& dir) {
  MapSpec spec;
  spec.width = 640;
  spec.height = 480;
  spec.layers.push_back({3, 1, 32, 32, 1.0f, 0, {5, 6, 7}});
  for (int32_t t = 1; t <= 7; t++) {
    std::string name = std::to_string(t);
    name = "c" + name + ".bmp";
    dir.Tile(name, 32, 32, Palette[t]);
    spec.tiles.push_back({name, t == 5 ? 3 : 1});
  }
  dir.Map("anim", spec);
}

// The current image of tile type 5 in each frame.
std::vector<int32_t> Cycle(const RunResult& run) {
  std::vector<int32_t> images;
  for (const FrameInfo& frame : run.frames) images.push_back(frame.current[0]);
  return images;
}

RunResult RunAnimation(const TestDir& dir, const std::string& interval, std::function<uint32_t(int32_t)> clock,
                       int32_t frames) {
  RunOptions options;
  options.args = {"anim", "640", "480", interval};
  options.keys = {{{}, frames - 1}};
  options.clock = std::move(clock);
  options.watchTiles = {5, 6, 7};
  return RunRunner(dir, options);
}

TEST(TileAnimate, FramesRunThroughConsecutiveTileTypes) {
  TestDir dir;
  AnimatedMap(dir);
  RunOptions options;
  options.args = {"anim", "640", "480", "100"};
  options.keys = {{{}, 7}};
  options.clock = [](int32_t frame) { return (uint32_t)frame * 50u; };
  options.watchTiles = {5, 6, 7};
  options.captureFrame = 2;
  RunResult run = RunRunner(dir, options);
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.animatedCount, 1);
  EXPECT_EQ(run.animated[0], 5);
  EXPECT_EQ(Cycle(run), (std::vector<int32_t>{5, 6, 6, 7, 7, 5, 5, 6}));
  for (const FrameInfo& frame : run.frames) {
    EXPECT_EQ(frame.current[1], 6);
    EXPECT_EQ(frame.current[2], 7);
  }
  EXPECT_EQ(run.captured.At(5, 28), Palette[6]);   // cell of type 5 shows image 6
  EXPECT_EQ(run.captured.At(37, 28), Palette[6]);  // type 6 shows its own image
  EXPECT_EQ(run.last.At(5, 28), Palette[6]);
  EXPECT_EQ(run.last.At(69, 28), Palette[7]);
}

TEST(TileAnimate, IntervalIsTakenAsSigned16Bits) {
  TestDir dir;
  AnimatedMap(dir);
  auto every50 = [](int32_t frame) { return (uint32_t)frame * 50u; };
  std::vector<int32_t> everyFrame{6, 7, 5, 6, 7, 5};
  EXPECT_EQ(Cycle(RunAnimation(dir, "0", every50, 6)), everyFrame);
  EXPECT_EQ(Cycle(RunAnimation(dir, "-20", every50, 6)), everyFrame);
  EXPECT_EQ(Cycle(RunAnimation(dir, "40000", every50, 6)), everyFrame);  // -25536
  EXPECT_EQ(Cycle(RunAnimation(dir, "65636", every50, 6)), (std::vector<int32_t>{5, 6, 6, 7, 7, 5}));  // 100
}

// At 60 frames per second both 90 and 100 ms step on every 6th frame: a step
// waits for the first frame whose tick has reached the last step plus the interval.
TEST(TileAnimate, StepsOnWholeFrames) {
  TestDir dir;
  AnimatedMap(dir);
  auto sixty = [](int32_t frame) { return (uint32_t)(frame * 1000 / 60); };
  for (std::string interval : {"90", "100"}) {
    SCOPED_TRACE(interval);
    std::vector<int32_t> images = Cycle(RunAnimation(dir, interval, sixty, 19));
    std::vector<int32_t> changes;
    for (size_t f = 1; f < images.size(); f++) {
      if (images[f] != images[f - 1]) changes.push_back((int32_t)f + 1);
    }
    EXPECT_EQ(images[0], 5);
    EXPECT_EQ(changes, (std::vector<int32_t>{6, 12, 18}));
  }
}

// Tile numbers above 127 show and animate; the cycle runs through all F
// frames even past the last tile type N, and such frames draw nothing.
TEST(TileAnimate, LargeTileNumbersAndFramesPastTheLastType) {
  TestDir dir;
  dir.Tile("grey.bmp", 32, 32, Palette[7]);
  dir.Tile("a.bmp", 32, 32, Palette[1]);
  dir.Tile("b.bmp", 32, 32, Palette[2]);
  dir.Tile("c.bmp", 32, 32, Palette[3]);
  MapSpec spec;
  spec.width = 640;
  spec.height = 480;
  spec.background = "16711935";  // magenta shows where a cell draws nothing
  spec.layers.push_back({3, 1, 32, 32, 1.0f, 0, {150, 199, 2}});
  for (int32_t t = 1; t <= 200; t++) {
    std::string image = t == 150 ? "a.bmp" : t == 151 ? "b.bmp" : t == 200 ? "c.bmp" : "grey.bmp";
    int32_t frames = t == 150 ? 2 : t == 199 ? 5 : t == 2 ? 0 : 1;
    spec.tiles.push_back({image, frames});
  }
  dir.Map("big", spec);
  RunOptions options;
  options.args = {"big", "640", "480", "0"};
  options.keys = {{{}, 5}};
  options.watchTiles = {150, 199, 2};
  options.captureFrame = 2;
  RunResult run = RunRunner(dir, options);
  ASSERT_EQ(run.exitCode, 0);
  ASSERT_EQ(run.animatedCount, 2);
  EXPECT_EQ(run.animated[0], 150);
  EXPECT_EQ(run.animated[1], 199);
  std::vector<int32_t> a, b;
  for (const FrameInfo& frame : run.frames) {
    a.push_back(frame.current[0]);
    b.push_back(frame.current[1]);
    EXPECT_EQ(frame.current[2], 0);  // frame count 0 keeps image 0
  }
  EXPECT_EQ(a, (std::vector<int32_t>{151, 150, 151, 150, 151, 150}));
  EXPECT_EQ(b, (std::vector<int32_t>{200, 201, 202, 203, 199, 200}));
  const Rgb Magenta{255, 0, 255};
  EXPECT_EQ(run.captured.At(5, 28), Palette[1]);
  EXPECT_EQ(run.captured.At(37, 28), Magenta);  // image 201: no such tile type
  EXPECT_EQ(run.captured.At(69, 28), Magenta);  // image 0: no frames
  EXPECT_EQ(run.last.At(5, 28), Palette[1]);
  EXPECT_EQ(run.last.At(37, 28), Palette[3]);
}

// The last tile type with two frames blinks: its image, then nothing.
TEST(TileAnimate, LastTileTypeWithTwoFramesBlinks) {
  TestDir dir;
  dir.Tile("lamp.bmp", 32, 32, Palette[4]);
  MapSpec spec;
  spec.width = 640;
  spec.height = 480;
  spec.layers.push_back({1, 1, 32, 32, 1.0f, 0, {1}});
  spec.tiles.push_back({"lamp.bmp", 2});
  dir.Map("blink", spec);
  std::vector<Rgb> seen;
  for (int32_t frames = 1; frames <= 4; frames++) {
    RunOptions options;
    options.args = {"blink", "640", "480", "100"};
    options.keys = {{{}, frames - 1}};
    options.clock = [](int32_t frame) { return (uint32_t)frame * 100u; };
    options.watchTiles = {1};
    RunResult run = RunRunner(dir, options);
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(run.frames.back().current[0], frames % 2 == 1 ? 2 : 1);
    seen.push_back(run.last.At(5, 28));
  }
  EXPECT_EQ(seen, (std::vector<Rgb>{Palette[0], Palette[4], Palette[0], Palette[4]}));
}

// No animated tile type: nothing steps, the list is empty, every tile type
// shows itself in every frame.
TEST(TileAnimate, NoAnimatedTileType) {
  TestDir dir;
  AnimatedMap(dir);
  MapSpec spec;
  spec.width = 640;
  spec.height = 480;
  spec.layers.push_back({3, 1, 32, 32, 1.0f, 0, {1, 2, 3}});
  for (int32_t t = 1; t <= 3; t++) spec.tiles.push_back({"c" + std::to_string(t) + ".bmp", 1});
  dir.Map("still", spec);
  RunOptions options;
  options.args = {"still", "640", "480", "0"};
  options.keys = {{{}, 4}};
  options.watchTiles = {1, 2, 3};
  RunResult run = RunRunner(dir, options);
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.animatedCount, 0);
  for (const FrameInfo& frame : run.frames) {
    EXPECT_EQ(frame.current[0], 1);
    EXPECT_EQ(frame.current[1], 2);
    EXPECT_EQ(frame.current[2], 3);
  }
  EXPECT_EQ(run.last.At(37, 5), Palette[2]);
}

// Past 2^31 ms the widened tick turns negative: the animation stops where it
// is and the frame counter publishes no more.
TEST(TileAnimate, TickCountPassing2To31StopsAnimationAndFps) {
  TestDir dir;
  AnimatedMap(dir);
  RunResult run = RunAnimation(
      dir, "0", [](int32_t frame) { return 0x80000000u - 2000u + (uint32_t)frame * 100u; }, 30);
  ASSERT_EQ(run.exitCode, 0);
  ASSERT_EQ(run.frames.size(), 30u);
  // Frames 1-19 step (6, 7, 5, ...); frame 20 reads 2^31 and nothing steps after.
  for (int32_t f = 1; f <= 30; f++) {
    int32_t steps = f < 20 ? f : 19;
    EXPECT_EQ(run.frames[f - 1].current[0], 5 + steps % 3) << f;
  }
  // Published at frame 1 (0 frames) and frame 11 (9 frames), then never again.
  EXPECT_EQ(run.frames[9].fps, 0);
  for (int32_t f = 11; f <= 30; f++) EXPECT_EQ(run.frames[f - 1].fps, 9) << f;
}

// A cycle that runs past tile number 32767 wraps the 16-bit current image but
// keeps its F frames; none of the wrapped images is drawn.
TEST(TileAnimate, CyclePast32767KeepsItsLength) {
  HeadlessReset();
  std::vector<TileType> types(32768);
  int16_t list[3] = {0, 32766, 0};
  types[32766].frameCount = 4;
  types[32766].currentImage = 32766;
  TileType* savedTypes = TileTypes;
  int16_t* savedList = AnimatedTileList;
  int16_t savedCount = Map.tileTypeCount;
  TileTypes = types.data();
  AnimatedTileList = list;
  AnimatedTileCount = 1;
  Map.tileTypeCount = 32767;
  AnimationLastTick = 0;
  std::vector<int32_t> images;
  for (int i = 0; i < 6; i++) {
    TileAnimate(0);
    images.push_back(types[32766].currentImage);
  }
  TileTypes = savedTypes;
  AnimatedTileList = savedList;
  AnimatedTileCount = 0;
  Map.tileTypeCount = savedCount;
  EXPECT_EQ(images, (std::vector<int32_t>{32767, -32768, -32767, 32766, 32767, -32768}));
}

}  // namespace
