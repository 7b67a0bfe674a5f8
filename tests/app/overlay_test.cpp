// The overlay and the frame counter through the whole runner: the three texts
// exactly as drawn at their places, the counting window restarting at the
// publishing frame's tick, and ticks widened as signed 32-bit values.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "platform/headless.h"
#include "runtime/runtime.h"
#include "screen/draw.h"
#include "screen/screen.h"
#include "tests/app/harness.h"

namespace {

struct Text {
  int32_t x, y;
  const char16_t* text;
};

constexpr int32_t Width = 320, Height = 200;

struct SharedFrame {
  int32_t width, height;
  uint8_t bgr[Width * Height * 3];
};

// What the screen shows for white texts drawn transparently on black, made in
// a child process by the same screen and drawing code the runner uses.
Picture DrawnTexts(const std::vector<Text>& texts) {
  Picture picture;
  void* memory = mmap(nullptr, sizeof(SharedFrame), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return picture;
  SharedFrame* shared = static_cast<SharedFrame*>(memory);
  pid_t child = fork();
  if (child == 0) {
    HeadlessReset();
    RuntimeStart();
    if (!ScreenSystemInit() || !ScreenOpen(Width, Height, 32, u"Tessel")) _exit(1);
    ScreenClear(0);
    DrawBegin(ScreenTarget());
    DrawModeSet(1);
    for (const Text& t : texts) DrawString(t.x, t.y, t.text, 0xFFFFFF);
    DrawEnd();
    ScreenPresent();
    HeadlessFrame frame = HeadlessLastFrame();
    if (frame.width == Width && frame.height == Height) {
      std::memcpy(shared->bgr, frame.bgr, sizeof shared->bgr);
      shared->width = frame.width;
      shared->height = frame.height;
    }
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  picture.width = shared->width;
  picture.height = shared->height;
  picture.bgr.assign(shared->bgr, shared->bgr + (size_t)picture.width * picture.height * 3);
  munmap(memory, sizeof(SharedFrame));
  return picture;
}

// A map with nothing on it: the frame is black but for the overlay.
void EmptyMap(const TestDir& dir) {
  MapSpec spec;
  spec.width = 2000;
  spec.height = 1000;
  spec.step = 8;
  dir.Map("m", spec);
}

RunResult RunEmpty(const TestDir& dir, std::vector<KeyStep> keys, std::function<uint32_t(int32_t)> clock) {
  RunOptions options;
  options.args = {"m", std::to_string(Width), std::to_string(Height), "0"};
  options.keys = std::move(keys);
  options.clock = std::move(clock);
  return RunRunner(dir, options);
}

std::vector<int32_t> Shown(const RunResult& run) {
  std::vector<int32_t> fps;
  for (const FrameInfo& frame : run.frames) fps.push_back(frame.fps);
  return fps;
}

}  // namespace

TEST(Overlay, ThreeWhiteTextsExactlyWhereTheyBelong) {
  TestDir dir;
  EmptyMap(dir);
  // Three steps right and two down, then frames until the tenth, at 1000 ms,
  // publishes nine; the last frame shows position 24\16 and 9 frames.
  RunResult run = RunEmpty(dir, {{{KeyRight}, 3}, {{KeyDownArrow}, 2}, {{}, 6}},
                      [](int32_t frame) { return (uint32_t)frame * 100u; });
  ASSERT_EQ(run.exitCode, 0);
  ASSERT_EQ(run.frames.size(), 12u);
  ASSERT_EQ(run.frames.back().viewX, 24);
  ASSERT_EQ(run.frames.back().viewY, 16);
  ASSERT_EQ(run.frames.back().fps, 9);
  Picture expected = DrawnTexts({{10, 10, u"ESC Quit"}, {10, 30, u"Pos :24\\16"}, {10, 50, u"FPS : 9"}});
  ASSERT_EQ(expected.width, Width);
  ASSERT_EQ(run.last.width, Width);
  ASSERT_EQ(run.last.height, Height);
  // Not an overlay of nothing: each line has white in it.
  for (int32_t y : {10, 30, 50}) {
    int32_t white = 0;
    for (int32_t x = 0; x < Width; x++)
      for (int32_t dy = 0; dy < 20; dy++) white += expected.At(x, y + dy) == (Rgb{255, 255, 255});
    EXPECT_GT(white, 20) << y;
  }
  EXPECT_TRUE(run.last.bgr == expected.bgr);
}

TEST(FpsCount, TheWindowRestartsAtThePublishingFramesTick) {
  TestDir dir;
  EmptyMap(dir);
  // Frames 1-9 at 100 ms steps, then a stall: frame 10 comes at 1500 ms and
  // publishes 9. The next window runs from 1500, not from 1000: frame 15 at
  // 2000 ms is still inside it, frame 20 at 2500 ms publishes frames 11-19.
  RunResult run = RunEmpty(dir, {{{}, 24}}, [](int32_t frame) {
    return frame <= 9 ? (uint32_t)frame * 100u : 1500u + (uint32_t)(frame - 10) * 100u;
  });
  ASSERT_EQ(run.exitCode, 0);
  std::vector<int32_t> fps = Shown(run);
  ASSERT_EQ(fps.size(), 25u);
  EXPECT_EQ(fps[8], 0);    // frame 9
  EXPECT_EQ(fps[9], 9);    // frame 10
  EXPECT_EQ(fps[14], 9);   // frame 15
  EXPECT_EQ(fps[18], 9);   // frame 19
  EXPECT_EQ(fps[19], 9);   // frame 20: frames 11-19
  EXPECT_EQ(fps[24], 9);
}

TEST(FpsCount, TicksAreWidenedAsSigned32BitValues) {
  TestDir dir;
  EmptyMap(dir);
  // 50 ms a frame: frame 20 publishes 19. Then the tick count passes 2^31 and
  // reads as negative: nothing is published again, however long it runs.
  RunResult run = RunEmpty(dir, {{{}, 99}}, [](int32_t frame) {
    return frame <= 30 ? (uint32_t)frame * 50u : 0x80000000u + (uint32_t)frame * 50u;
  });
  ASSERT_EQ(run.exitCode, 0);
  std::vector<int32_t> fps = Shown(run);
  ASSERT_EQ(fps.size(), 100u);
  EXPECT_EQ(fps[19], 19);
  for (size_t i = 30; i < fps.size(); i++) ASSERT_EQ(fps[i], 19) << "frame " << i + 1;
  // A tick count just below 2^32 is -1 widened: still behind the last publication.
  run = RunEmpty(dir, {{{}, 59}}, [](int32_t frame) { return frame <= 30 ? (uint32_t)frame * 50u : 0xFFFFFFFFu; });
  fps = Shown(run);
  ASSERT_EQ(fps.size(), 60u);
  EXPECT_EQ(fps[59], 19);
}
