// The whole program made to fault inside a Map runner statement: after the
// first frame a layer's cell block is replaced by an invalid address, so the
// next frame's cell read faults; the run ends in the runner's error box.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/map.h"
#include "app/runner.h"
#include "errors/errors.h"
#include "platform/headless.h"
#include "platform/kernel.h"
#include "runtime/runtime.h"
#include "tests/filter/child.h"

namespace {

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return;
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

void Put32(std::vector<uint8_t>& bytes, uint32_t value) {
  for (int i = 0; i < 4; i++) bytes.push_back(uint8_t(value >> (8 * i)));
}

// A 32 x 32 24-bit BMP of one colour.
std::vector<uint8_t> TileBmp() {
  std::vector<uint8_t> bytes = {'B', 'M'};
  Put32(bytes, 54 + 32 * 32 * 3);
  Put32(bytes, 0);
  Put32(bytes, 54);
  Put32(bytes, 40);
  Put32(bytes, 32);
  Put32(bytes, 32);
  bytes.insert(bytes.end(), {1, 0, 24, 0});
  Put32(bytes, 0);
  Put32(bytes, 32 * 32 * 3);
  Put32(bytes, 2835);
  Put32(bytes, 2835);
  Put32(bytes, 0);
  Put32(bytes, 0);
  for (int i = 0; i < 32 * 32; i++) bytes.insert(bytes.end(), {0x20, 0x40, 0xC0});
  return bytes;
}

// 64 x 64 pixels, one layer of 2 x 2 cells of 32 x 32, one tile type.
std::vector<uint8_t> MapFile() {
  std::vector<uint8_t> bytes = {'\n', '\n'};
  Put32(bytes, 64);
  Put32(bytes, 64);
  bytes.insert(bytes.end(), {'\n', 1, 1, 0});
  Put32(bytes, 0);
  Put32(bytes, 0);
  bytes.insert(bytes.end(), {'\n', 4, 'L', '0', '\n'});
  Put32(bytes, 2);
  Put32(bytes, 2);
  Put32(bytes, 32);
  Put32(bytes, 32);
  bytes.insert(bytes.end(), {0x00, 0x00, 0x80, 0x3F, 0, 't', '.', 'b', 'm', 'p', '\n', 1, 0, 0});
  bytes.insert(bytes.end(), {1, 0, 0, 0, 0, 0, 1, 0});
  return bytes;
}

std::string RunDirectory;

}  // namespace

TEST(ErrorFilter, FaultInAMapRunnerStatementEndsInTheErrorBox) {
  char directory[] = "/tmp/tessel-filter-XXXXXX";
  ASSERT_NE(mkdtemp(directory), nullptr);
  RunDirectory = directory;
  ChildResult child = RunChild([] {
    const std::string& base = RunDirectory;
    mkdir((base + "/Maps").c_str(), 0755);
    mkdir((base + "/Tiles").c_str(), 0755);
    WriteFile(base + "/Maps/fault.map", MapFile());
    WriteFile(base + "/Tiles/t.bmp", TileBmp());
    if (chdir(base.c_str()) != 0) return;
    char program[] = "tessel", map[] = "fault.map", width[] = "64", height[] = "64", interval[] = "100";
    char* argv[] = {program, map, width, height, interval, nullptr};
    KernelSetArguments(5, argv);
    HeadlessSetMessageBoxEcho(true);
    HeadlessSetPollHook(
        [](uint64_t poll, void*) {
          HeadlessSetClock(DWORD(poll * 16));
          if (poll >= 20) HeadlessSetKey(1, true);  // Escape, should the fault never come
        },
        nullptr);
    HeadlessSetFlipHook(
        [](const HeadlessFrame& frame, void*) {
          if (frame.number == 1) MapLayers[0].cells = reinterpret_cast<void*>(uintptr_t(0x10));
        },
        nullptr);
    KernelOnExit([] {
      std::fflush(stdout);  // the echoed box first
      Say("flips=%llu code=%x line=%d", (unsigned long long)HeadlessFlipCount(), ErrorInfo.code,
          ErrorInfo.line > 0);
    });
    RuntimeStart();
    MapRunnerMain();
  });
  EXPECT_EQ(child.out, "Fehlermeldung: Fehlernummer:9\nflips=1 code=c0000005 line=1\n");
  EXPECT_EQ(child.end, "exit 0");
  std::filesystem::remove_all(RunDirectory);
}
