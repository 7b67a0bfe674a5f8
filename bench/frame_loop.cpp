// The Map runner's frame (poll, scroll, animate, draw, overlay, count,
// present) at 1920 x 1080 on the headless backend, on two maps: "bench", three
// layers of 32- and 16-pixel tiles with about 60% of the cells filled and 30%
// key pixels, and "demo", the demo map (background image, four layers of
// 256-, 64- and 32-pixel tiles, animations). Against a reference that draws
// the same map (the same tile pixels, the same view sequence) into an SDL
// surface with SDL_BlitSurface and colour keys.
//   bench_frame_loop [benchmark options]
//   bench_frame_loop --write-map DIR   writes Maps/bench and its Tiles into DIR
// TESSEL_DRAW_PLAIN=1 in the environment draws layer by layer, not in bands.
// Also "tiled": a Tiled map of four layers of 16-pixel tiles with one scroll
// factor (one at opacity 0.7), 4800 x 2688 pixels, imported by tessel-map's
// importer composed (one layer) and with --layers, both in one run.
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
#include "runtime/objects.h"
#include "screen/decoders.h"
#include "screen/screen.h"
#include "screen/sprites.h"
#include "tools/lib/map_file.h"
#include "tools/tessel-map/import/import_run.h"

namespace {

constexpr int32_t Width = 1920, Height = 1080;
constexpr int32_t TileKinds = 8;  // tile types 1-4 are 32 px, 5-8 are 16 px

struct Bytes {
  std::vector<uint8_t> b;
  void I8(int32_t v) { b.push_back((uint8_t)v); }
  void I16(int32_t v) { I8(v), I8(v >> 8); }
  void I32(int32_t v) { I16(v), I16(v >> 16); }
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

// Writes the tiles and the bench map into the directory Dir.
void WriteMap() {
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
  MapFile file;
  file.text1 = "bench";
  file.width = mapWidth;
  file.height = mapHeight;
  file.step = 4;
  for (const Layer& layer : Layers) {
    MapFileLayer out;
    out.name = "layer";
    out.width = layer.width;
    out.height = layer.height;
    out.tileWidth = out.tileHeight = layer.tile;
    out.factorBits = MapFileFactorBits(layer.factor);
    out.cells = layer.cells;
    file.layers.push_back(std::move(out));
  }
  for (int32_t k = 1; k <= TileKinds; k++) {
    file.tiles.push_back({"t" + std::to_string(k) + ".bmp", (int8_t)(k == 1 || k == 5 ? 2 : 1), 0});
  }
  Bytes map;
  map.b = MapFileEncode(file);
  map.Save(Dir + "/Maps/bench");
}

// The Tiled map: a tileset of 8 tiles (magenta their key, about a third of
// each), four layers (the first full, the rest 30% filled), imported into
// Dir/composed and Dir/layers.
void WriteTiled() {
  std::filesystem::create_directories(Dir + "/tiled");
  const int32_t side = 16, kinds = 8, cols = 300, rows = 168;
  Bytes bmp;
  bmp.I8('B'), bmp.I8('M'), bmp.I32(54 + side * kinds * side * 3), bmp.I32(0), bmp.I32(54);
  bmp.I32(40), bmp.I32(side * kinds), bmp.I32(side), bmp.I16(1), bmp.I16(24);
  for (int i = 0; i < 6; i++) bmp.I32(0);
  for (int32_t y = side - 1; y >= 0; y--) {
    for (int32_t x = 0; x < side * kinds; x++) {
      uint32_t p = TilePixel(x / side + 1, x % side, y);
      if (p == 0) p = 0xFF00FF;
      bmp.I8(p), bmp.I8(p >> 8), bmp.I8(p >> 16);
    }
  }
  bmp.Save(Dir + "/tiled/tiles.bmp");
  std::mt19937 random(11);
  std::string tmx = "<?xml version=\"1.0\"?>\n<map version=\"1.8\" orientation=\"orthogonal\" width=\"" +
                    std::to_string(cols) + "\" height=\"" + std::to_string(rows) +
                    "\" tilewidth=\"16\" tileheight=\"16\">\n<tileset firstgid=\"1\" name=\"t\" "
                    "tilewidth=\"16\" tileheight=\"16\" tilecount=\"8\" columns=\"8\"><image source=\"tiles.bmp\" "
                    "trans=\"ff00ff\" width=\"128\" height=\"16\"/></tileset>\n";
  for (int32_t l = 0; l < 4; l++) {
    tmx += "<layer name=\"l" + std::to_string(l) + "\" width=\"" + std::to_string(cols) + "\" height=\"" +
           std::to_string(rows) + "\"" + (l == 2 ? " opacity=\"0.7\"" : "") + "><data encoding=\"csv\">";
    for (int32_t i = 0; i < cols * rows; i++) {
      uint32_t gid = l == 0 || random() % 100 < 30 ? 1 + random() % kinds : 0;
      tmx += (i ? "," : "") + std::to_string(gid);
    }
    tmx += "</data></layer>\n";
  }
  tmx += "</map>\n";
  std::ofstream(Dir + "/tiled/tiled.tmx") << tmx;
  for (int composed = 0; composed < 2; composed++) {
    ImportRunArgs args;
    args.source = Dir + "/tiled/tiled.tmx";
    args.dir = Dir + (composed ? "/composed" : "/layers");
    args.options.layers = !composed;
    std::string out, err;
    if (ImportRun(args, &out, &err) != 0) {
      std::fprintf(stderr, "bench_frame_loop: the Tiled map did not import\n%s", err.c_str());
      std::abort();
    }
    std::fprintf(stderr, "%s", out.substr(0, out.find("animation")).c_str());
  }
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
int32_t MapShown = -1;  // 0 bench, 1 demo, 2 the Tiled map composed, 3 with --layers

// The folder and file of each map.
std::string MapDir(int32_t map) {
  if (map == 1) return TESSEL_SOURCE_DIR "/demo";
  return map == 0 ? Dir : Dir + (map == 2 ? "/composed" : "/layers");
}
const char16_t* MapName(int32_t map) { return map == 0 ? u"bench" : map == 1 ? u"demo.map" : u"tiled"; }

// Start-up steps of the runner, without its loop, then the map asked for
// (the other one is freed first).
void RunnerStart(int32_t map) {
  if (RunnerReady && MapShown == map) return;
  if (RunnerReady) {
    MapFree();
    if (chdir(MapDir(map).c_str()) != 0) std::abort();
    MapLoad(MapName(map));
    MapShown = map;
    return;
  }
  Dir = (std::filesystem::temp_directory_path() / ("tessel-bench-" + std::to_string(getpid()))).string();
  WriteMap();
  WriteTiled();
  if (chdir(MapDir(map).c_str()) != 0) std::abort();
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
  MapLoad(MapName(map));
  MapShown = map;
  RunnerReady = true;
}

void BM_RunnerFrame(benchmark::State& state, int32_t map) {
  RunnerStart(map);
  for (auto _ : state) RunnerFrame();
  state.SetItemsProcessed(state.iterations());
}

// The drawing work alone, the same work the reference does: scroll, animate,
// background and every layer's cells, without the overlay and the present.
void BM_RunnerDraw(benchmark::State& state, int32_t map) {
  RunnerStart(map);
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

// An SDL surface holding a copy of a sprite's pixels, keyed like the sprite
// (the runner's key is black) unless opaque.
SDL_Surface* ReferenceSurface(int32_t number, bool keyed) {
  Sprite* sprite = (Sprite*)ObjectGet(SpriteTable, number);
  if (!sprite || !sprite->surface) return nullptr;
  DDSURFACEDESC2 desc = {};
  desc.dwSize = sizeof desc;
  if (sprite->surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr) != DD_OK) return nullptr;
  SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, sprite->width, sprite->height, 32, SDL_PIXELFORMAT_XRGB8888);
  for (int32_t y = 0; y < sprite->height; y++)
    std::memcpy((uint8_t*)s->pixels + y * s->pitch, (uint8_t*)desc.lpSurface + y * desc.lPitch,
                (size_t)sprite->width * 4);
  sprite->surface->Unlock(nullptr);
  SDL_SetSurfaceBlendMode(s, SDL_BLENDMODE_NONE);
  if (keyed) SDL_SetColorKey(s, SDL_TRUE, 0);
  return s;
}

// The reference: the runner's map (its cells, its tile images as they are
// shown now, its background) drawn into an SDL surface with SDL_BlitSurface,
// the view moving as the runner's does.
void BM_ReferenceSdlBlit(benchmark::State& state, int32_t map) {
  RunnerStart(map);
  SDL_Surface* screen = SDL_CreateRGBSurfaceWithFormat(0, Width, Height, 32, SDL_PIXELFORMAT_XRGB8888);
  std::vector<SDL_Surface*> tiles((size_t)Map.tileTypeCount + 1, nullptr);
  for (int32_t t = 1; t <= Map.tileTypeCount; t++)
    tiles[t] = ReferenceSurface(TileSpriteBase + TileTypes[t].currentImage, true);
  SDL_Surface* background = BackgroundMode == -1 ? ReferenceSurface(BackgroundSprite, false) : nullptr;
  uint32_t clear = BackgroundMode == -1 ? 0 : ScreenColorToPixel(BackgroundMode & 255, BackgroundMode >> 8 & 255,
                                                                  BackgroundMode >> 16 & 255);
  int32_t viewX = 0, viewY = 0, frame = 0, step = Map.scrollStep;
  for (auto _ : state) {
    int32_t direction = (frame / 300) % 2 == 0 ? step : -step;
    frame++;
    viewX = std::max(0, std::min(Map.mapWidth - Width, viewX + direction));
    viewY = std::max(0, std::min(Map.mapHeight - Height, viewY + direction));
    if (background) {
      SDL_Rect at{0, 0, 0, 0};
      SDL_BlitSurface(background, nullptr, screen, &at);
    } else {
      SDL_FillRect(screen, nullptr, clear);
    }
    for (int32_t l = 0; l < Map.layerCount; l++) {
      const MapLayer& layer = MapLayers[l];
      const int16_t* cells = (const int16_t*)layer.cells;
      int32_t ox = (int32_t)std::nearbyint(viewX * (double)layer.scrollFactor);
      int32_t oy = (int32_t)std::nearbyint(viewY * (double)layer.scrollFactor);
      int32_t firstColumn = ox / layer.tileWidth, firstRow = oy / layer.tileHeight;
      int32_t subX = ox - firstColumn * layer.tileWidth, subY = oy - firstRow * layer.tileHeight;
      for (int32_t j = 0; j <= Height / layer.tileHeight + 1; j++) {
        int32_t r = firstRow + j;
        if (r >= layer.height) break;
        for (int32_t i = 0; i <= Width / layer.tileWidth + 1; i++) {
          int32_t c = firstColumn + i;
          if (c >= layer.width) break;
          int16_t tile = cells[(size_t)r * layer.width + c];
          if (tile <= 0 || tile > Map.tileTypeCount || !tiles[tile]) continue;
          SDL_Rect at{i * layer.tileWidth - subX, j * layer.tileHeight - subY, 0, 0};
          SDL_BlitSurface(tiles[tile], nullptr, screen, &at);
        }
      }
    }
    benchmark::DoNotOptimize(screen->pixels);
  }
  state.SetItemsProcessed(state.iterations());
  for (SDL_Surface* tile : tiles) SDL_FreeSurface(tile);
  SDL_FreeSurface(background);
  SDL_FreeSurface(screen);
}

// Each map's three benchmarks run one after another, so the map is loaded once.
BENCHMARK_CAPTURE(BM_RunnerFrame, bench, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RunnerDraw, bench, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ReferenceSdlBlit, bench, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RunnerFrame, demo, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RunnerDraw, demo, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ReferenceSdlBlit, demo, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RunnerFrame, tiled_composed, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RunnerFrame, tiled_layers, 3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--write-map") == 0) {
    Dir = argv[2];
    WriteMap();
    return 0;
  }
  // TESSEL_DRAW_PLAIN=1 measures the frame drawn layer by layer over the whole screen.
  if (const char* plain = std::getenv("TESSEL_DRAW_PLAIN")) MapDrawBanded = std::strcmp(plain, "1") != 0;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  if (!Dir.empty()) std::filesystem::remove_all(Dir, ignored);
  return 0;
}
