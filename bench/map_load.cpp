// MapLoad of a map with 64 MB of cells (one layer of 4096 x 8192 16-bit
// cells), against reading the same file into memory with read().
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/map.h"
#include "input/keyboard.h"
#include "platform/headless.h"
#include "platform/kernel.h"
#include "runtime/runtime.h"
#include "screen/decoders.h"
#include "screen/screen.h"
#include "tools/lib/map_file.h"

namespace {

constexpr int32_t Columns = 4096, Rows = 8192;

std::string Dir;
bool Ready;

void Put(std::vector<uint8_t>* b, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; i++) b->push_back((uint8_t)(v >> (8 * i)));
}

// The map file and one 16 x 16 tile, in a fresh current directory; the runtime
// and a small headless screen for the tile sprite.
void Prepare() {
  if (Ready) return;
  Dir = (std::filesystem::temp_directory_path() / ("tessel-load-" + std::to_string(getpid()))).string();
  std::filesystem::create_directories(Dir + "/Maps");
  std::filesystem::create_directories(Dir + "/Tiles");
  std::vector<uint8_t> bmp{'B', 'M'};
  Put(&bmp, 54 + 16 * 16 * 3, 4), Put(&bmp, 0, 4), Put(&bmp, 54, 4), Put(&bmp, 40, 4), Put(&bmp, 16, 4);
  Put(&bmp, 16, 4), Put(&bmp, 1, 2), Put(&bmp, 24, 2);
  for (int i = 0; i < 6; i++) Put(&bmp, 0, 4);
  for (int i = 0; i < 16 * 16; i++) Put(&bmp, 0x3060C0, 3);
  std::ofstream(Dir + "/Tiles/t.bmp", std::ios::binary).write((char*)bmp.data(), bmp.size());
  MapFile file;
  file.text1 = "load";
  file.width = Columns * 16;
  file.height = Rows * 16;
  file.step = 4;
  MapFileLayer layer;
  layer.name = "cells";
  layer.width = Columns;
  layer.height = Rows;
  layer.tileWidth = layer.tileHeight = 16;
  layer.cells.resize((size_t)Columns * Rows);
  for (size_t i = 0; i < layer.cells.size(); i++) layer.cells[i] = (int16_t)(i % 3 == 0);
  file.layers.push_back(std::move(layer));
  file.tiles.push_back({"t.bmp", 1, 0});
  std::vector<uint8_t> map = MapFileEncode(file);
  std::ofstream(Dir + "/Maps/big", std::ios::binary).write((char*)map.data(), map.size());
  if (chdir(Dir.c_str()) != 0) std::abort();

  HeadlessReset();
  char program[] = "tessel";
  char* argv[] = {program, nullptr};
  KernelSetArguments(1, argv);
  RuntimeStart();
  MapFileNumber = 99;
  TileSpriteBase = 500;
  ScreenWidth = 64;
  ScreenHeight = 64;
  PngDecoderUse();
  if (ScreenSystemInit() == nullptr || KeyboardInit() == 0 || ScreenOpen(64, 64, 32, u"Tessel") == 0) {
    std::fprintf(stderr, "bench_map_load: the headless screen did not open\n");
    std::abort();
  }
  Ready = true;
}

void BM_MapLoad(benchmark::State& state) {
  Prepare();
  for (auto _ : state) {
    MapLoad(u"big");
    benchmark::DoNotOptimize(MapLayers[0].cells);
    MapFree();
  }
  state.SetBytesProcessed(state.iterations() * (int64_t)Columns * Rows * 2);
}
BENCHMARK(BM_MapLoad)->Unit(benchmark::kMillisecond);

// The reference: the whole file into a fresh buffer with read().
void BM_ReferenceRead(benchmark::State& state) {
  Prepare();
  size_t size = std::filesystem::file_size(Dir + "/Maps/big");
  for (auto _ : state) {
    int file = open((Dir + "/Maps/big").c_str(), O_RDONLY);
    uint8_t* buffer = (uint8_t*)std::malloc(size);
    size_t done = 0;
    while (done < size) {
      ssize_t n = read(file, buffer + done, size - done);
      if (n <= 0) break;
      done += (size_t)n;
    }
    close(file);
    benchmark::DoNotOptimize(buffer);
    std::free(buffer);
  }
  state.SetBytesProcessed(state.iterations() * (int64_t)Columns * Rows * 2);
}
BENCHMARK(BM_ReferenceRead)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  std::filesystem::remove_all(Dir, ignored);
  return 0;
}
