// The Map runner's frame (poll, scroll, animate, draw, overlay, count,
// present) at 1920 x 1080 over three layers of 32- and 16-pixel tiles, about
// 60% of the cells filled, on the headless backend; against a reference that
// draws the same cells with SDL_BlitSurface and colour keys.
#include <SDL2/SDL.h>
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "app/map.h"
#include "input/keyboard.h"
#include "platform/headless.h"
#include "platform/kernel.h"
#include "runtime/runtime.h"
#include "screen/decoders.h"
#include "screen/screen.h"

namespace {

constexpr int32_t Width = 1920, Height = 1080;
constexpr int32_t TileKinds = 8;  // tile types 1-4 are 32 px, 5-8 are 16 px

struct Bytes {
  std::vector<uint8_t> b;
  void I8(int32_t v) { b.push_back((uint8_t)v); }
  void I16(int32_t v) { I8(v), I8(v >> 8); }
  void I32(int32_t v) { I16(v), I16(v >> 16); }
  void Line(const std::string& s) { b.insert(b.end(), s.begin(), s.end()), I8('\n'); }
  void Save(const std::string& path) { std::ofstream(path, std::ios::binary).write((char*)b.data(), b.size()); }
};

// The pixel of tile kind k at (x, y): a colour pattern with about 30% black.
uint32_t TilePixel(int32_t k, int32_t x, int32_t y) {
  if ((x * 7 + y * 13 + k * 5) % 10 < 3) return 0;
  return 0xFF000000u | (uint32_t)(40 + k * 25) << 16 | (uint32_t)(x * 8) << 8 | (uint32_t)(y * 8);
}

int32_t TileSide(int32_t k) { return k <= 4 ? 32 : 16; }

struct Layer {
  int32_t width, height, tile;
  float factor;
  std::vector<int16_t> cells;
};

std::vector<Layer> Layers;
std::string Dir;

// Writes the tiles and the map into a fresh directory and makes it current.
void WriteMap() {
  Dir = (std::filesystem::temp_directory_path() / ("tessel-bench-" + std::to_string(getpid()))).string();
  std::filesystem::create_directories(Dir + "/Maps");
  std::filesystem::create_directories(Dir + "/Tiles");
  for (int32_t k = 1; k <= TileKinds; k++) {
    int32_t side = TileSide(k);
    Bytes bmp;
    bmp.I8('B'), bmp.I8('M'), bmp.I32(54 + side * side * 3), bmp.I32(0), bmp.I32(54);
    bmp.I32(40), bmp.I32(side), bmp.I32(side), bmp.I16(1), bmp.I16(24);
    for (int i = 0; i < 6; i++) bmp.I32(0);
    for (int32_t y = side - 1; y >= 0; y--) {
      for (int32_t x = 0; x < side; x++) {
        uint32_t p = TilePixel(k, x, y);
        bmp.I8(p), bmp.I8(p >> 8), bmp.I8(p >> 16);
      }
    }
    bmp.Save(Dir + "/Tiles/t" + std::to_string(k) + ".bmp");
  }
  const int32_t mapWidth = 4800, mapHeight = 2700;
  std::mt19937 random(7);
  Layers = {{mapWidth / 64 + 2, mapHeight / 64 + 2, 32, 0.5f, {}},
            {mapWidth / 16, mapHeight / 16, 16, 1.0f, {}},
            {mapWidth * 3 / 64, mapHeight * 3 / 64, 32, 1.5f, {}}};
  for (Layer& layer : Layers) {
    for (int32_t i = 0; i < layer.width * layer.height; i++) {
      int16_t tile = 0;
      if (random() % 100 < 60) tile = (int16_t)((layer.tile == 32 ? 1 : 5) + random() % 3);
      layer.cells.push_back(tile);
    }
  }
  Bytes map;
  map.Line("bench"), map.Line(""), map.I32(mapWidth), map.I32(mapHeight), map.Line("");
  map.I8((int32_t)Layers.size()), map.I16(TileKinds), map.I32(0), map.I32(0), map.Line(""), map.I8(4);
  for (const Layer& layer : Layers) {
    float factor = layer.factor;
    uint32_t raw;
    std::memcpy(&raw, &factor, 4);
    map.Line("layer"), map.I32(layer.width), map.I32(layer.height), map.I32(layer.tile), map.I32(layer.tile);
    map.I32((int32_t)raw), map.I8(0);
  }
  for (int32_t k = 1; k <= TileKinds; k++) {
    map.Line("t" + std::to_string(k) + ".bmp"), map.I8(k == 1 || k == 5 ? 2 : 1), map.I16(0);
  }
  for (const Layer& layer : Layers) {
    for (int16_t c : layer.cells) map.I16(c);
  }
  map.Save(Dir + "/Maps/bench");
  if (chdir(Dir.c_str()) != 0) std::abort();
}

uint64_t Clock;

// Right for 300 frames, then left for 300, so the view keeps moving; 16 ms a frame.
void BenchPoll(uint64_t poll, void*) {
  Clock += 16;
  HeadlessSetClock((DWORD)Clock);
  HeadlessClearKeys();
  HeadlessSetKey((poll / 300) % 2 == 0 ? 205 : 203, true);
  HeadlessSetKey((poll / 300) % 2 == 0 ? 208 : 200, true);
}

bool RunnerReady;

// Start-up steps of the runner, without its loop.
void RunnerStart() {
  if (RunnerReady) return;
  WriteMap();
  HeadlessReset();
  HeadlessSetPollHook(BenchPoll, nullptr);
  HeadlessSetCapture(HeadlessCaptureNone);
  char program[] = "tessel";
  char* argv[] = {program, nullptr};
  KernelSetArguments(1, argv);
  RuntimeStart();
  MapFileNumber = 99;
  TileSpriteBase = 500;
  ScreenWidth = Width;
  ScreenHeight = Height;
  AnimationInterval = 100;
  PngDecoderUse();
  if (ScreenSystemInit() == nullptr || KeyboardInit() == 0 || ScreenOpen(Width, Height, 32, u"Tessel") == 0) {
    std::fprintf(stderr, "bench_frame_loop: the headless screen did not open\n");
    std::abort();
  }
  MapLoad(u"bench");
  RunnerReady = true;
}

void BM_RunnerFrame(benchmark::State& state) {
  RunnerStart();
  for (auto _ : state) RunnerFrame();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RunnerFrame)->Unit(benchmark::kMillisecond);

// The drawing work alone, the same work the reference does: scroll, animate,
// background and every layer's cells, without the overlay and the present.
void BM_RunnerDraw(benchmark::State& state) {
  RunnerStart();
  int32_t frame = 0;
  for (auto _ : state) {
    int8_t direction = (frame / 300) % 2 == 0 ? 1 : -1;
    frame++;
    Clock += 16;
    HeadlessSetClock((DWORD)Clock);
    MapScroll(direction, 0);
    MapScroll(0, direction);
    TileAnimate((int16_t)AnimationInterval);
    MapDraw();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RunnerDraw)->Unit(benchmark::kMillisecond);

// The reference: the same view sequence and the same cells, drawn into an
// SDL surface with SDL_BlitSurface and colour-keyed tile surfaces.
void BM_ReferenceSdlBlit(benchmark::State& state) {
  RunnerStart();
  SDL_Surface* screen = SDL_CreateRGBSurfaceWithFormat(0, Width, Height, 32, SDL_PIXELFORMAT_XRGB8888);
  SDL_Surface* tiles[TileKinds + 1] = {};
  for (int32_t k = 1; k <= TileKinds; k++) {
    int32_t side = TileSide(k);
    tiles[k] = SDL_CreateRGBSurfaceWithFormat(0, side, side, 32, SDL_PIXELFORMAT_XRGB8888);
    for (int32_t y = 0; y < side; y++) {
      for (int32_t x = 0; x < side; x++) {
        ((uint32_t*)((uint8_t*)tiles[k]->pixels + y * tiles[k]->pitch))[x] = TilePixel(k, x, y) & 0xFFFFFF;
      }
    }
    SDL_SetColorKey(tiles[k], SDL_TRUE, 0);
  }
  int32_t viewX = 0, viewY = 0, frame = 0;
  for (auto _ : state) {
    int32_t direction = (frame / 300) % 2 == 0 ? 4 : -4;
    frame++;
    viewX = std::max(0, std::min(4800 - Width, viewX + direction));
    viewY = std::max(0, std::min(2700 - Height, viewY + direction));
    SDL_FillRect(screen, nullptr, 0);
    for (const Layer& layer : Layers) {
      int32_t ox = (int32_t)(viewX * layer.factor), oy = (int32_t)(viewY * layer.factor);
      int32_t firstColumn = ox / layer.tile, firstRow = oy / layer.tile;
      int32_t subX = ox - firstColumn * layer.tile, subY = oy - firstRow * layer.tile;
      for (int32_t j = 0; j <= Height / layer.tile + 1; j++) {
        int32_t r = firstRow + j;
        if (r >= layer.height) break;
        for (int32_t i = 0; i <= Width / layer.tile + 1; i++) {
          int32_t c = firstColumn + i;
          if (c >= layer.width) break;
          int16_t tile = layer.cells[(size_t)r * layer.width + c];
          if (tile == 0) continue;
          SDL_Rect at{i * layer.tile - subX, j * layer.tile - subY, 0, 0};
          SDL_BlitSurface(tiles[tile], nullptr, screen, &at);
        }
      }
    }
    benchmark::DoNotOptimize(screen->pixels);
  }
  state.SetItemsProcessed(state.iterations());
  for (int32_t k = 1; k <= TileKinds; k++) SDL_FreeSurface(tiles[k]);
  SDL_FreeSurface(screen);
}
BENCHMARK(BM_ReferenceSdlBlit)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  std::filesystem::remove_all(Dir, ignored);
  return 0;
}
