// Shared by the tests of `tessel-map import`: running the tools, reading and
// writing images, making Tiled maps and tilesets, and comparing what
// tessel-render shows with the picture Tiled's own tmxrasterizer draws.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tiled {

// A finished program run: exit code (128 + signal when killed), its output,
// its wall time, its processor time (user and system) and the peak resident
// memory of it and its children.
struct ToolRun {
  int code = -1;
  std::string out, err;
  double seconds = 0;
  double cpuSeconds = 0;
  long maxRssKb = 0;
};

// Pixels as 8-bit R, G, B, A, row by row from the top.
struct Image {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> rgba;

  uint8_t* At(int32_t x, int32_t y) { return &rgba[((size_t)y * (size_t)width + (size_t)x) * 4]; }
  const uint8_t* At(int32_t x, int32_t y) const { return &rgba[((size_t)y * (size_t)width + (size_t)x) * 4]; }
};

Image ImageMake(int32_t width, int32_t height, uint32_t rgba = 0);
void ImageSet(Image* image, int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255);
// Any PNG as 8-bit RGBA; false when it cannot be read.
bool PngRead(const std::string& path, Image* image);
bool PngWrite(const std::string& path, const Image& image);
// 24-bit bottom-up BMP of the colour channels (alpha is dropped).
bool BmpWrite(const std::string& path, const Image& image);

std::string Slurp(const std::string& path);
void Spit(const std::string& path, const std::string& bytes);
std::string Quote(const std::string& text);

// The top-left corner where tessel draws its text overlay; left out of every comparison.
constexpr int32_t kOverlayWidth = 176;
constexpr int32_t kOverlayHeight = 72;

// How a Tessel frame agrees with Tiled's picture.
struct Match {
  int64_t counted = 0;
  int64_t matched = 0;
  double Rate() const { return counted == 0 ? 0.0 : (double)matched / (double)counted; }
};

// Compares frame pixel (x, y) with Tiled's pixel (viewX + x, viewY + y): equal
// within 4 per channel counts as a match. Left out: the overlay corner and
// pixels outside Tiled's picture. Tiled's picture lies over the background
// colour (0x00RRGGBB): with over set its half-transparent pixels are composed
// over it and count too; without, they are left out (a map drawn with Tessel's
// key cannot show them). When diff is given it receives a picture of the mismatches.
Match CompareView(const Image& tiled, const Image& frame, int32_t viewX, int32_t viewY, uint32_t background,
                  Image* diff = nullptr, bool over = false);

// Deterministic pseudo-random numbers for map contents.
struct Random {
  uint32_t state;
  uint32_t Next() {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  }
  uint32_t Below(uint32_t n) { return Next() % n; }
};

// A tileset picture of columns x rows tiles laid out with margin and spacing;
// every tile has its own red level (tile number), a green level of the set
// (seed) rising to the right and a blue level rising downwards, so a wrong
// tile, tileset, flip or offset shows. Margin and spacing are magenta; the
// three pixels of each tile's top-left corner are fully transparent.
Image TilesetPicture(int32_t columns, int32_t rows, int32_t tileWidth, int32_t tileHeight, int32_t margin,
                     int32_t spacing, int32_t seed);

// Flip flags of a Tiled cell.
constexpr uint32_t kFlipH = 0x80000000u;
constexpr uint32_t kFlipV = 0x40000000u;
constexpr uint32_t kFlipD = 0x20000000u;

// The <data> element of a TMX layer: encoding "xml" (a <tile> element per
// cell, the oldest form), "csv", "base64", "base64-zlib", "base64-gzip" or
// "base64-zstd".
std::string TmxData(const std::vector<uint32_t>& cells, const std::string& encoding);
// Cell numbers as bytes of the layer data (32-bit little-endian).
std::string CellBytes(const std::vector<uint32_t>& cells);
std::string Base64(const std::string& bytes);
// zlib (kind "zlib"), gzip ("gzip") or zstd ("zstd") compressed.
std::string Compress(const std::string& bytes, const std::string& kind);
// count zero bytes compressed so, without holding them in memory.
std::string CompressZeros(size_t count, const std::string& kind);

// The common test fixture: a scratch folder of its own and the tool runs.
class TiledTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs a shell command with its output captured.
  ToolRun Shell(const std::string& command);
  // tessel-map import SOURCE -o OUT with extra arguments.
  ToolRun Import(const std::string& source, const std::string& out, const std::string& args = "");
  // tmxrasterizer's picture of a map; false (with a test failure) when it drew none.
  bool Rasterize(const std::string& source, Image* picture, const std::string& args = "");
  // A Tiled map exported as JSON beside it (A.tmx -> A.tmj); the new path.
  std::string ExportJson(const std::string& tmx);
  // tessel-render NAME W H INTERVAL in folder dir; the last frame, and the trace in *trace.
  bool Render(const std::string& dir, const std::string& name, int32_t width, int32_t height, Image* frame,
              const std::string& args = "", int32_t interval = 100, std::string* trace = nullptr);
  // Checks a match and, when it is not good enough, keeps both pictures and a
  // diff under /tmp for a look.
  void ExpectMatch(const std::string& what, const Image& tiled, const Image& frame, int32_t viewX, int32_t viewY,
                   uint32_t background, double least = 0.99, bool over = false);
  // Imports a map, renders it at the size of Tiled's picture (which grows
  // past the map by the layer offsets, as the import does) and compares the
  // two; the import's run (for its warnings). A composed import is compared
  // pixel for pixel, soft ones included, to at least 99.9%; one with
  // --layers leaves Tiled's soft pixels out, to at least 99%.
  ToolRun ExpectImportMatches(const std::string& source, const Image& picture, const std::string& importArgs = "",
                              uint32_t background = 0, double least = 0);
  // The same against tmxrasterizer's picture of the source itself.
  ToolRun ExpectSameAsTiled(const std::string& source, const std::string& importArgs = "",
                            const std::string& rasterArgs = "", uint32_t background = 0);

  bool HaveTiled() const { return haveTiled_; }
  std::string dir_;

 private:
  bool haveTiled_ = false;
  int runs_ = 0;
};

// The skip every comparison makes when Tiled's tools are missing.
#define TILED_REQUIRE()                                                                        \
  do {                                                                                         \
    if (!HaveTiled()) GTEST_SKIP() << "tmxrasterizer and tiled are not installed (scripts/setup)"; \
  } while (0)

}  // namespace tiled
