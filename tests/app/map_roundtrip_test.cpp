// Dump and build against the runner itself: random and damaged binary maps
// are dumped as map source and built again, and the rebuilt map must load in
// the runner into exactly the records the original gave (byte for byte where
// the original is a plain map), while the rebuild stays as small as the bytes
// the original holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <sstream>

#include "tests/app/harness.h"
#include "tools/tessel-map/map_source.h"

namespace {

struct Generated {
  std::vector<uint8_t> bytes;
  bool plain = true;  // LF line ends, whole blocks, nothing after them, no damage
};

// A random map over tile images a.bmp and b.bmp, with the fields' odd values
// (negative counts, NaN factors, frames past the last tile type, cut blocks)
// mixed in, and sometimes damaged afterwards.
Generated RandomMap(std::mt19937& rng) {
  auto pick = [&](std::initializer_list<int64_t> values) {
    return *(values.begin() + std::uniform_int_distribution<size_t>(0, values.size() - 1)(rng));
  };
  auto chance = [&](int percent) { return std::uniform_int_distribution<int>(0, 99)(rng) < percent; };
  Generated g;
  MapBytes m;
  auto text = [&](const std::string& fixed) {
    std::string s = fixed;
    if (fixed.empty() && chance(40)) {
      int n = std::uniform_int_distribution<int>(1, 6)(rng);
      for (int i = 0; i < n; i++) {
        int c = chance(80) ? std::uniform_int_distribution<int>('a', 'z')(rng) : std::uniform_int_distribution<int>(0x80, 0xFF)(rng);
        s += static_cast<char>(c);
      }
    }
    if (chance(85)) {
      m.Line(s, "\n");
    } else {
      g.plain = false;
      m.Line(s, pick({0, 1, 2}) == 0 ? "\r\n" : pick({0, 1}) == 0 ? "\r" : std::string(1, '\0'));
    }
  };
  text("");
  text("");
  m.I32((int32_t)pick({0, 64, 640, 3000, -5, 100000})).I32((int32_t)pick({0, 48, 480, 2000, -1}));
  text("");
  int32_t layers = (int32_t)pick({0, 1, 1, 2, 3, -3});
  int32_t tiles = (int32_t)pick({0, 1, 2, 3, 6, -2});
  m.I8(layers).I16(tiles);
  m.I32((int32_t)pick({0, 0, 16, -8})).I32((int32_t)pick({0, 0, 8}));
  static const char* const Backgrounds[] = {"", "", "16711935", "a.bmp", "zz.bmp", "-1"};
  text(Backgrounds[pick({0, 1, 2, 3, 4, 5})]);
  m.I8((int32_t)pick({0, 4, 8, -3, 127}));
  std::vector<int64_t> blockCells;
  for (int32_t l = 0; l < layers; l++) {
    text("");
    int32_t w = (int32_t)pick({1, 2, 3, 5, 6, 0, -2});
    int32_t h = (int32_t)pick({1, 2, 4, 3, -3});
    int32_t planes = (int32_t)pick({0, 0, 0, 1, 2, -1, -2});
    m.I32(w).I32(h).I32((int32_t)pick({8, 16, 32, 0, -1})).I32((int32_t)pick({8, 16, 32}));
    uint32_t factorBits = (uint32_t)pick({0x3F800000, 0x3F000000, 0x00000000, 0x80000000, 0x7FC00001, 0x7F800000,
                                          0x3FC00000, 0x40490FDB});
    m.I32((int32_t)factorBits).I8(planes);
    int64_t bytes = (int64_t)w * h * 2 * (planes + 1);
    blockCells.push_back(bytes > 0 ? bytes / 2 : -1);
  }
  for (int32_t t = 1; t <= tiles; t++) {
    static const char* const Images[] = {"a.bmp", "b.bmp", "a.bmp", "b.bmp", "A.BMP", "missing.bmp"};
    text(Images[pick({0, 1, 2, 3, 4, 5})]);
    m.I8((int32_t)pick({1, 1, 2, 3, 0, -1, 127})).I16((int32_t)pick({0, 0, 7, -1}));
  }
  bool anyBad = false;
  for (int64_t cells : blockCells) anyBad |= cells < 0;
  if (!anyBad) {
    for (size_t l = 0; l < blockCells.size(); l++) {
      for (int64_t i = 0; i < blockCells[l]; i++) m.I16((int32_t)pick({0, 0, 1, 2, 3, 4, -1, 7, 300}));
    }
    if (chance(25)) {
      g.plain = false;
      m.I8(0x5A).I8(0xA5);  // never read
    }
  }
  g.bytes = m.bytes;
  if (chance(20) && !g.bytes.empty()) {
    g.plain = false;
    g.bytes.resize(std::uniform_int_distribution<size_t>(0, g.bytes.size() - 1)(rng));
  }
  if (chance(30)) {
    g.plain = false;
    int flips = std::uniform_int_distribution<int>(1, 3)(rng);
    for (int i = 0; i < flips && !g.bytes.empty(); i++) {
      size_t at = std::uniform_int_distribution<size_t>(0, g.bytes.size() - 1)(rng);
      g.bytes[at] = (uint8_t)std::uniform_int_distribution<int>(0, 255)(rng);
    }
  }
  return g;
}

// The dump without its comments and warnings (file name, size, offsets and
// the notes on line ends differ between a map and its rebuild).
std::string Fields(const std::string& dump) {
  std::istringstream in(dump);
  std::string line, out;
  while (std::getline(in, line)) {
    bool quoted = false;
    size_t cut = line.size();
    for (size_t i = 0; i < line.size(); i++) {
      if (quoted && line[i] == '\\') {
        i++;
      } else if (line[i] == '"') {
        quoted = !quoted;
      } else if (!quoted && line[i] == '#') {
        cut = i;
        break;
      }
    }
    line.resize(cut);
    while (!line.empty() && line.back() == ' ') line.pop_back();
    if (!line.empty()) out += line + "\n";
  }
  return out;
}

// The declared block sizes in a dump: the largest one Tessel would hold.
int64_t LargestHeldBlock(const std::string& dump) {
  std::istringstream in(dump);
  std::string line;
  int64_t w = 0, h = 0, largest = 0;
  while (std::getline(in, line)) {
    long long a = 0, b = 0;
    if (std::sscanf(line.c_str(), "  cells %lld %lld", &a, &b) == 2) {
      w = a;
      h = b;
    } else if (std::sscanf(line.c_str(), "  planes %lld", &a) == 1) {
      int64_t bytes = w * h * 2 * (a + 1);
      if (bytes > 0 && bytes <= INT32_MAX && bytes > largest) largest = bytes;
    }
  }
  return largest;
}

RunResult LoadRecords(const TestDir& dir, const std::vector<uint8_t>& map) {
  dir.Map("m", map);
  RunOptions options;
  options.args = {"m", "320", "200", "0"};
  options.digest = true;
  return RunRunner(dir, options);
}

TEST(MapDumpBuild, EveryDumpRebuildsIntoTheRecordsTheRunnerRead) {
  TestDir dir;
  dir.Tile("a.bmp", 8, 8, Rgb{255, 0, 0});
  dir.Tile("b.bmp", 8, 8, Rgb{0, 0, 255});
  std::mt19937 rng(20261207);
#ifdef TESSEL_SANITIZE
  const int kMaps = 30;
#else
  const int kMaps = 100;
#endif
  int compared = 0, identical = 0, loaded = 0;
  for (int n = 0; n < kMaps; n++) {
    Generated g = RandomMap(rng);
    SCOPED_TRACE("map " + std::to_string(n));
    std::string dump, errors;
    MapDumpText(g.bytes, "m", &dump);
    std::vector<uint8_t> rebuilt;
    ASSERT_TRUE(MapSourceBuild(dump, "m.txt", &rebuilt, &errors)) << errors << "\n" << dump.substr(0, 3000);
    // The rebuild holds what the original holds, plus complete fields where it
    // was cut (at most the declared tile type records and the header's).
    long long declaredTiles = 0, declaredLayers = 0;
    std::sscanf(dump.c_str(), "# Map m: %*d bytes, %lld layer(s), %lld", &declaredLayers, &declaredTiles);
    EXPECT_LE(rebuilt.size(), g.bytes.size() + 256 + 32 * (size_t)std::max(0ll, declaredLayers) +
                                  4 * (size_t)std::max(0ll, declaredTiles))
        << dump.substr(0, 3000);
    std::string again;
    MapDumpText(rebuilt, "m", &again);
    EXPECT_EQ(Fields(again), Fields(dump));
    if (g.plain) {
      EXPECT_EQ(rebuilt, g.bytes) << dump.substr(0, 3000);
      identical++;
    }
    if (LargestHeldBlock(dump) > (8 << 20)) continue;
    RunResult before = LoadRecords(dir, g.bytes);
    RunResult after = LoadRecords(dir, rebuilt);
    ASSERT_FALSE(before.records.empty()) << dump.substr(0, 3000);
    EXPECT_EQ(after.records, before.records) << dump.substr(0, 3000);
    EXPECT_EQ(after.boxes, before.boxes) << dump.substr(0, 3000);
    EXPECT_EQ(after.exitCode, before.exitCode);
    compared++;
    loaded += before.boxes.empty();
  }
  RecordProperty("compared", compared);
  RecordProperty("loaded", loaded);
  RecordProperty("identical", identical);
  // The generator reaches every kind of ending: loaded maps, refused maps, plain maps.
  EXPECT_GT(compared, kMaps / 2);
  EXPECT_GT(loaded, kMaps / 10);
  EXPECT_GT(compared - loaded, kMaps / 10);
  EXPECT_GT(identical, kMaps / 10);
}

}  // namespace
