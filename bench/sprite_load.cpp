// Loading 500 32 x 32 PNG tiles as sprites (file read, decode, conversion
// into a 32-bit headless screen's surfaces) against libpng's simplified API
// decoding the same files into plain buffers, in the same run.
#include <benchmark/benchmark.h>
#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/headless.h"
#include "runtime/runtime.h"
#include "screen/decoders.h"
#include "screen/screen.h"
#include "screen/sprites.h"

namespace {

const int TileCount = 500, TileSide = 32;

struct Tiles {
  std::filesystem::path dir;
  std::vector<std::string> paths;
  std::vector<std::u16string> widePaths;
};

// Writes one RGB tile: a pattern of its own with some noise, as drawn tiles are.
bool TileWrite(const std::string& path, int seed) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, TileSide, TileSide, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  uint32_t noise = static_cast<uint32_t>(seed) * 2654435761u + 1;
  png_byte row[TileSide * 3];
  for (int y = 0; y < TileSide; y++) {
    for (int x = 0; x < TileSide; x++) {
      noise = noise * 1103515245u + 12345u;
      row[x * 3] = static_cast<png_byte>((x * 8 + seed) ^ (noise >> 29));
      row[x * 3 + 1] = static_cast<png_byte>(y * 8 + seed * 3);
      row[x * 3 + 2] = static_cast<png_byte>(((x / 8 + y / 8) & 1) ? 0 : 200 + (noise >> 30));
    }
    png_write_row(png, row);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(f) == 0;
}

Tiles tilesMade;

Tiles& TilesMade() {
  Tiles& tiles = tilesMade;
  if (tiles.paths.empty()) {
    tiles.dir = std::filesystem::temp_directory_path() / ("tessel_bench_tiles_" + std::to_string(getpid()));
    std::filesystem::create_directories(tiles.dir);
    for (int i = 0; i < TileCount; i++) {
      std::string path = (tiles.dir / ("tile" + std::to_string(i) + ".png")).string();
      if (!TileWrite(path, i)) std::abort();
      tiles.paths.push_back(path);
      tiles.widePaths.emplace_back(path.begin(), path.end());
    }
  }
  return tiles;
}

void ScreenReady() {
  static bool ready = false;
  if (ready) return;
  ready = true;
  RuntimeStart();
  HeadlessReset();
  PngDecoderUse();
  if (!ScreenSystemInit() || !ScreenOpen(640, 480, 32, u"bench")) std::abort();
}

// 500 tiles loaded as sprites 500..999 (each load frees the previous sprite under its number).
void BM_SpriteLoadTiles(benchmark::State& state) {
  Tiles& tiles = TilesMade();
  ScreenReady();
  for (auto _ : state) {
    for (int i = 0; i < TileCount; i++)
      if (!SpriteLoad(500 + i, tiles.widePaths[i].c_str())) state.SkipWithError("sprite load failed");
  }
  state.SetItemsProcessed(state.iterations() * TileCount);
}

// The same files decoded by the simplified API into blue-green-red buffers.
void BM_PngImageDecodeTiles(benchmark::State& state) {
  Tiles& tiles = TilesMade();
  std::vector<png_byte> pixels;
  for (auto _ : state) {
    for (int i = 0; i < TileCount; i++) {
      png_image image = {};
      image.version = PNG_IMAGE_VERSION;
      if (!png_image_begin_read_from_file(&image, tiles.paths[i].c_str())) state.SkipWithError("begin failed");
      image.format = PNG_FORMAT_BGR;
      png_byte* buffer = static_cast<png_byte*>(std::malloc(PNG_IMAGE_SIZE(image)));
      if (!png_image_finish_read(&image, nullptr, buffer, 0, nullptr)) state.SkipWithError("finish failed");
      benchmark::DoNotOptimize(buffer[0]);
      std::free(buffer);
    }
  }
  state.SetItemsProcessed(state.iterations() * TileCount);
}

}  // namespace

BENCHMARK(BM_PngImageDecodeTiles)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SpriteLoadTiles)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  if (!tilesMade.dir.empty()) std::filesystem::remove_all(tilesMade.dir, ignored);
  return 0;
}
