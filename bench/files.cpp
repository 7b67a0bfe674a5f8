// Typed buffered reads over a 16 MB file: FileReadByte/FileReadWord against
// the C library's getc and 2-byte fread from a FILE*. Each iteration reads
// the whole file; the per-value cost is the time divided by the items.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "errors/errors.h"
#include "platform/kernel.h"
#include "runtime/files.h"
#include "runtime/runtime.h"

namespace {

constexpr int64_t FileBytes = 16 << 20;

std::string DataPath() {
  static std::string path;
  if (path.empty()) {
    path = (std::filesystem::temp_directory_path() /
            ("tessel-bench-files-" + std::to_string(GetCurrentProcessId()) + ".bin"))
               .string();
    std::string bytes(FileBytes, '\0');
    std::mt19937 random(12345);
    for (char& c : bytes) c = char(random());
    std::ofstream(path, std::ios::binary) << bytes;
  }
  return path;
}

std::u16string WidePath() {
  std::string path = DataPath();
  return std::u16string(path.begin(), path.end());
}

void BM_FileReadByte(benchmark::State& state) {
  std::u16string name = WidePath();
  for (auto _ : state) {
    if (!FileOpenRead(1, name.c_str())) state.SkipWithError("open failed");
    int32_t sum = 0;
    for (int64_t i = 0; i < FileBytes; i++) sum += FileReadByte(1);
    benchmark::DoNotOptimize(sum);
    FileClose(1);
  }
  state.SetItemsProcessed(state.iterations() * FileBytes);
}
BENCHMARK(BM_FileReadByte)->Unit(benchmark::kMillisecond);

void BM_Getc(benchmark::State& state) {
  std::string name = DataPath();
  for (auto _ : state) {
    std::FILE* file = std::fopen(name.c_str(), "rb");
    if (!file) state.SkipWithError("open failed");
    int32_t sum = 0;
    for (int64_t i = 0; i < FileBytes; i++) sum += int8_t(std::getc(file));
    benchmark::DoNotOptimize(sum);
    std::fclose(file);
  }
  state.SetItemsProcessed(state.iterations() * FileBytes);
}
BENCHMARK(BM_Getc)->Unit(benchmark::kMillisecond);

void BM_FileReadWord(benchmark::State& state) {
  std::u16string name = WidePath();
  for (auto _ : state) {
    if (!FileOpenRead(1, name.c_str())) state.SkipWithError("open failed");
    int32_t sum = 0;
    for (int64_t i = 0; i < FileBytes / 2; i++) sum += FileReadWord(1);
    benchmark::DoNotOptimize(sum);
    FileClose(1);
  }
  state.SetItemsProcessed(state.iterations() * FileBytes / 2);
}
BENCHMARK(BM_FileReadWord)->Unit(benchmark::kMillisecond);

void BM_Fread2(benchmark::State& state) {
  std::string name = DataPath();
  for (auto _ : state) {
    std::FILE* file = std::fopen(name.c_str(), "rb");
    if (!file) state.SkipWithError("open failed");
    int32_t sum = 0;
    for (int64_t i = 0; i < FileBytes / 2; i++) {
      int16_t word = 0;
      if (std::fread(&word, 2, 1, file) != 1) break;
      sum += word;
    }
    benchmark::DoNotOptimize(sum);
    std::fclose(file);
  }
  state.SetItemsProcessed(state.iterations() * FileBytes / 2);
}
BENCHMARK(BM_Fread2)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  RuntimeStart();
  ErrorHandlerRemove();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove(DataPath());
  return 0;
}
