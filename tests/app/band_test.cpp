// Drawing in bands against drawing layer by layer: random maps (tile and
// image sizes from 1 pixel up, images larger and smaller than their cells,
// cells outside the layers and numbers naming no tile type, parallax,
// animations, background colours and images of any size), random screens,
// depths and band heights, random scrolling; every pixel of every frame.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>

#include "app/map.h"
#include "input/keyboard.h"
#include "platform/headless.h"
#include "platform/kernel.h"
#include "runtime/runtime.h"
#include "screen/decoders.h"
#include "screen/screen.h"
#include "tests/app/harness.h"

namespace {

struct BandRun {
  int32_t frames;      // frames compared
  int32_t banded;      // of them, drawn in bands (not refused for the plain way)
  int32_t differing;   // frames with any pixel that differs
  int32_t firstX, firstY, firstFrame;
};

struct BandCase {
  int32_t width, height, depth, bandRows, interval;
};

// A random map and its tiles in dir; the screen and band height to draw it with.
BandCase RandomMap(const TestDir& dir, std::mt19937& random) {
  auto pick = [&](int32_t low, int32_t high) { return low + (int32_t)(random() % (uint32_t)(high - low + 1)); };
  BandCase c;
  c.width = pick(17, 260);
  c.height = pick(13, 200);
  const int32_t depths[] = {16, 24, 32};
  c.depth = depths[pick(0, 2)];
  c.bandRows = pick(1, 40);
  c.interval = pick(0, 3) * 16;
  MapSpec spec;
  spec.width = c.width + pick(0, 600);
  spec.height = c.height + pick(0, 400);
  spec.step = pick(1, 9);
  spec.startX = pick(0, spec.width - c.width);
  spec.startY = pick(0, spec.height - c.height);
  int32_t types = pick(1, 9);
  for (int32_t t = 1; t <= types; t++) {
    std::string name = "t" + std::to_string(t) + ".bmp";
    int32_t w = pick(1, 70), h = pick(1, 70), kind = pick(0, 2), seed = pick(0, 1000);
    // Fully opaque, some black (the key) or mostly black.
    dir.Tile(name, w, h, [kind, seed](int32_t x, int32_t y) {
      int32_t v = (x * 7 + y * 13 + seed) % 10;
      if ((kind == 1 && v < 3) || (kind == 2 && v < 8)) return Rgb{0, 0, 0};
      return Rgb{(uint8_t)(40 + seed % 200), (uint8_t)(x * 9), (uint8_t)(y * 5 + 1)};
    });
    int32_t frames = t + 1 <= types && pick(0, 3) == 0 ? pick(2, 3) : 1;
    spec.tiles.push_back({name, frames});
  }
  int32_t layers = pick(1, 4);
  const float factors[] = {0.0f, 0.25f, 0.5f, 1.0f, 1.5f, 2.0f};
  for (int32_t l = 0; l < layers; l++) {
    LayerSpec layer;
    layer.tileWidth = pick(1, 64);
    layer.tileHeight = pick(1, 64);
    layer.width = pick(1, 40);
    layer.height = pick(1, 40);
    layer.factor = factors[pick(0, 5)];
    for (int32_t i = 0; i < layer.width * layer.height; i++)
      layer.cells.push_back((int16_t)(pick(0, 9) < 3 ? 0 : pick(-2, types + 2)));
    spec.layers.push_back(layer);
  }
  int32_t background = pick(0, 2);
  if (background == 1) {
    spec.background = "back.bmp";
    dir.Tile("back.bmp", pick(1, 300), pick(1, 250), [](int32_t x, int32_t y) {
      return Rgb{(uint8_t)x, (uint8_t)y, (uint8_t)(x ^ y)};
    });
  } else if (background == 2) {
    spec.background = std::to_string(pick(1, 0xFFFFFF));
  }
  dir.Map("m", spec);
  return c;
}

// The back buffer's bytes, row by row.
void CopyBack(std::vector<uint8_t>* out, bool toSurface) {
  DDSURFACEDESC2 desc = {};
  desc.dwSize = sizeof desc;
  if (BackBuffer->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr) != DD_OK) std::_Exit(90);
  size_t row = (size_t)desc.dwWidth * (desc.ddpfPixelFormat.dwRGBBitCount / 8);
  out->resize(row * desc.dwHeight);
  for (DWORD y = 0; y < desc.dwHeight; y++) {
    uint8_t* surface = (uint8_t*)desc.lpSurface + (size_t)y * desc.lPitch;
    if (toSurface)
      std::memcpy(surface, out->data() + y * row, row);
    else
      std::memcpy(out->data() + y * row, surface, row);
  }
  BackBuffer->Unlock(nullptr);
}

// In a child: opens the screen, loads the map and compares the two ways for
// a number of frames of random scrolling and animation.
[[noreturn]] void BandChild(const TestDir& dir, const BandCase& c, uint32_t seed, BandRun* run) {
  alarm(120);
  if (chdir(dir.path.c_str()) != 0) std::_Exit(91);
  HeadlessReset();
  char program[] = "tessel";
  char* argv[] = {program, nullptr};
  KernelSetArguments(1, argv);
  RuntimeStart();
  MapFileNumber = 99;
  TileSpriteBase = 500;
  ScreenWidth = c.width;
  ScreenHeight = c.height;
  AnimationInterval = c.interval;
  PngDecoderUse();
  if (!ScreenSystemInit() || !KeyboardInit() || !ScreenOpen(c.width, c.height, c.depth, u"T")) std::_Exit(92);
  MapLoad(u"m");
  std::mt19937 random(seed);
  std::vector<uint8_t> before, banded, plain;
  for (int32_t frame = 0; frame < 24; frame++) {
    HeadlessSetClock((DWORD)(frame * 16));
    int32_t keys = (int32_t)(random() % 16);
    if (keys & 1) MapScroll(1, 0);
    if (keys & 2) MapScroll(-1, 0);
    if (keys & 4) MapScroll(0, -1);
    if (keys & 8) MapScroll(0, 1);
    TileAnimate((int16_t)AnimationInterval);
    CopyBack(&before, false);
    MapDrawBanded = c.bandRows;
    MapDraw();
    CopyBack(&banded, false);
    CopyBack(&before, true);
    MapDrawBanded = 0;
    MapDraw();
    CopyBack(&plain, false);
    run->frames++;
    // A band height of the whole screen or more draws the plain way anyway.
    if (c.bandRows < c.height) run->banded++;
    if (banded != plain) {
      if (run->differing++ == 0) {
        size_t at = 0;
        while (banded[at] == plain[at]) at++;
        size_t row = banded.size() / (size_t)c.height;
        run->firstFrame = frame;
        run->firstY = (int32_t)(at / row);
        run->firstX = (int32_t)(at % row) / (c.depth / 8);
      }
    }
    ScreenPresent();  // the next frame starts from the other buffer's pixels
  }
  std::_Exit(0);
}

TEST(MapDrawBands, EveryPixelAsDrawnLayerByLayer) {
  BandRun* run = (BandRun*)mmap(nullptr, sizeof(BandRun), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(run, MAP_FAILED);
  int32_t banded = 0;
  for (uint32_t seed = 1; seed <= 40; seed++) {
    SCOPED_TRACE(seed);
    TestDir dir;
    std::mt19937 random(seed);
    BandCase c = RandomMap(dir, random);
    std::memset(run, 0, sizeof *run);
    std::fflush(stdout);
    pid_t child = fork();
    if (child == 0) BandChild(dir, c, seed, run);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    ASSERT_EQ(run->frames, 24);
    EXPECT_EQ(run->differing, 0) << c.width << " x " << c.height << " x " << c.depth << ", bands of "
                                 << c.bandRows << ": frame " << run->firstFrame << " differs first at ("
                                 << run->firstX << ", " << run->firstY << ")";
    banded += run->banded;
  }
  // Most cases draw in bands: the comparison is not of the plain way with itself.
  EXPECT_GT(banded, 24 * 30);
  munmap(run, sizeof(BandRun));
}

}  // namespace
