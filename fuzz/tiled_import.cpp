// Fuzz target: the Tiled importer over arbitrary bytes as a map file (TMX
// when they start with '<', JSON otherwise), with a tileset file and tileset
// images served from memory, through to the built map; nothing is written.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/tessel-map/import/tiled.h"

namespace {

std::vector<uint8_t> FuzzPng;

// A 64 x 48 tileset picture: every pixel a different colour, one black row.
std::vector<uint8_t> FuzzPicture() {
  const int32_t w = 64, h = 48;
  std::vector<uint8_t> rgb((size_t)w * h * 3);
  for (int32_t y = 0; y < h; y++) {
    for (int32_t x = 0; x < w; x++) {
      uint8_t* p = &rgb[((size_t)y * w + x) * 3];
      p[0] = (uint8_t)(x * 4);
      p[1] = (uint8_t)(y * 5);
      p[2] = y == 7 ? 0 : (uint8_t)(x ^ y);
      if (y == 7) p[0] = p[1] = 0;
    }
  }
  std::vector<uint8_t> png;
  if (!ImportPngEncode(w, h, rgb, &png)) {
    std::fputs("fuzz_tiled_import: cannot encode the tileset picture\n", stderr);
    std::abort();
  }
  return png;
}

const char FuzzTsx[] =
    "<?xml version=\"1.0\"?><tileset name=\"t\" tilewidth=\"16\" tileheight=\"16\" spacing=\"0\" margin=\"0\" "
    "tilecount=\"12\" columns=\"4\"><tileoffset x=\"3\" y=\"-5\"/><image source=\"a.png\"/>"
    "<tile id=\"1\"><animation><frame tileid=\"2\" duration=\"100\"/><frame tileid=\"3\" duration=\"300\"/>"
    "</animation></tile></tileset>";
const char FuzzTsj[] =
    "{\"name\":\"j\",\"tilewidth\":32,\"tileheight\":24,\"tilecount\":2,\"columns\":0,"
    "\"tiles\":[{\"id\":0,\"image\":\"b.png\"},{\"id\":1,\"image\":\"c.png\",\"x\":5,\"y\":6,\"width\":20,\"height\":30}]}";

bool FuzzEnds(const std::string& s, const char* end) {
  std::string e = end;
  return s.size() >= e.size() && s.compare(s.size() - e.size(), e.size(), e) == 0;
}

// Serves the files a fuzzed map may name; every other name is missing.
bool FuzzRead(const std::string& path, std::vector<uint8_t>* bytes) {
  if (FuzzEnds(path, ".png")) {
    *bytes = FuzzPng;
    return true;
  }
  if (FuzzEnds(path, ".tsx")) {
    bytes->assign(FuzzTsx, FuzzTsx + sizeof FuzzTsx - 1);
    return true;
  }
  if (FuzzEnds(path, ".tsj") || FuzzEnds(path, ".json")) {
    bytes->assign(FuzzTsj, FuzzTsj + sizeof FuzzTsj - 1);
    return true;
  }
  return false;
}

int FuzzSetUp() {
  FuzzPng = FuzzPicture();
  // Small bounds keep each run short; the code paths are those of real imports.
  TiledMaxLayerCells = 1 << 16;
  TiledMaxTotalCells = 1 << 18;
  return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static int ready = FuzzSetUp();
  (void)ready;
  std::vector<uint8_t> bytes(data, data + size);
  TiledMap map;
  ImportReport report;
  if (!TiledMapParse(bytes, "fuzz/map", FuzzRead, &map, &report)) {
    if (report.error.empty()) std::abort();  // a failure must say why
    return 0;
  }
  ImportOptions options;
  // Composed or kept apart, by the input's length. (A --hide-layer name that
  // is no layer's would end most imports before any layer is made.)
  options.layers = size % 2 == 1;
  ImportResult result;
  if (!ImportBuild(map, options, FuzzRead, &result, &report)) {
    if (report.error.empty()) std::abort();
    return 0;
  }
  if (MapFileEncode(result.map).empty()) std::abort();
  return 0;
}
