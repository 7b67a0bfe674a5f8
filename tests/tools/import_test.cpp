// Tests of the Tiled importer's library: layer data decoding and its bounds,
// reader errors, how tiles are cut into pieces and stacked in Tessel layers,
// the key conversion, flips, animations, layer selection, and the command's
// files. Maps and images are served from memory unless a test writes them.
#include <gtest/gtest.h>
#include <stb_image_write.h>
#include <sys/stat.h>
#include <zlib.h>
#include <zstd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "tools/tessel-map/import/import_run.h"
#include "tools/tessel-map/import/tiled.h"

namespace {

std::map<std::string, std::vector<uint8_t>> Files;

bool MemoryRead(const std::string& path, std::vector<uint8_t>* bytes) {
  auto it = Files.find(path);
  if (it == Files.end()) return false;
  *bytes = it->second;
  return true;
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

void StbSink(void* context, void* data, int size) {
  auto* out = (std::vector<uint8_t>*)context;
  out->insert(out->end(), (uint8_t*)data, (uint8_t*)data + size);
}

// An RGBA PNG from 0xAARRGGBB pixels, row by row.
std::vector<uint8_t> Png(int w, int h, const std::vector<uint32_t>& argb) {
  std::vector<uint8_t> rgba;
  for (uint32_t p : argb) {
    rgba.push_back((uint8_t)(p >> 16));
    rgba.push_back((uint8_t)(p >> 8));
    rgba.push_back((uint8_t)p);
    rgba.push_back((uint8_t)(p >> 24));
  }
  std::vector<uint8_t> out;
  stbi_write_png_to_func(StbSink, &out, w, h, 4, rgba.data(), w * 4);
  return out;
}

// The binary map read back: what the runner would see.
struct MapLayerRead {
  std::string name;
  int32_t width, height, tileWidth, tileHeight;
  float factor;
  std::vector<int16_t> cells;
};
struct MapTypeRead {
  std::string image;
  int32_t frames;
};
struct MapRead {
  int32_t width = 0, height = 0, step = 0;
  std::string background;
  std::vector<MapLayerRead> layers;
  std::vector<MapTypeRead> types;
};

MapRead ReadMap(const std::vector<uint8_t>& f) {
  MapRead m;
  size_t at = 0;
  auto line = [&]() {
    std::string s;
    while (at < f.size() && f[at] != 10) s.push_back((char)f[at++]);
    at++;
    return s;
  };
  auto num = [&](int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; i++) v |= (uint32_t)f[at++] << (8 * i);
    if (bytes == 1) return (int32_t)(int8_t)v;
    if (bytes == 2) return (int32_t)(int16_t)v;
    return (int32_t)v;
  };
  line();
  line();
  m.width = num(4);
  m.height = num(4);
  line();
  int32_t layers = num(1), types = num(2);
  num(4);
  num(4);
  m.background = line();
  m.step = num(1);
  for (int32_t i = 0; i < layers; i++) {
    MapLayerRead l;
    l.name = line();
    l.width = num(4);
    l.height = num(4);
    l.tileWidth = num(4);
    l.tileHeight = num(4);
    uint32_t bits = (uint32_t)num(4);
    std::memcpy(&l.factor, &bits, 4);
    num(1);
    m.layers.push_back(l);
  }
  for (int32_t t = 0; t < types; t++) {
    MapTypeRead type;
    type.image = line();
    type.frames = num(1);
    num(2);
    m.types.push_back(type);
  }
  for (MapLayerRead& l : m.layers) {
    for (int32_t k = 0; k < l.width * l.height; k++) l.cells.push_back((int16_t)num(2));
  }
  return m;
}

struct Imported {
  bool ok = false;
  ImportReport report;
  ImportResult result;
  MapRead map;
  // The pixel (x, y) of the image of tile type t, as 0xRRGGBB.
  uint32_t Pixel(int16_t t, int x, int y) const {
    const std::string& name = map.types[(size_t)t - 1].image;
    for (const ImportImage& image : result.images) {
      if (image.name != name) continue;
      const uint8_t* p = &image.rgb[((size_t)y * image.width + x) * 3];
      return (uint32_t)p[0] << 16 | (uint32_t)p[1] << 8 | p[2];
    }
    return 0xDEADBEEF;
  }
  // What the runner shows at cell (c, r): the top layer's tile type there (0: none).
  int16_t Top(int c, int r) const {
    int16_t t = 0;
    for (const MapLayerRead& l : map.layers) {
      int16_t v = l.cells[(size_t)r * l.width + c];
      if (v) t = v;
    }
    return t;
  }
  bool Warned(const std::string& part) const {
    for (const std::string& w : report.warnings) {
      if (w.find(part) != std::string::npos) return true;
    }
    return false;
  }
};

ImportOptions LayersApart() {
  ImportOptions options;
  options.layers = true;
  return options;
}

Imported Import(const std::string& text, const ImportOptions& options = LayersApart()) {
  Imported out;
  TiledMap map;
  out.ok = TiledMapParse(Bytes(text), "m/map.tmx", MemoryRead, &map, &out.report) &&
           ImportBuild(map, options, MemoryRead, &out.result, &out.report);
  if (out.ok) out.map = ReadMap(MapFileEncode(out.result.map));
  return out;
}

std::string TmxMap(int w, int h, int tw, int th, const std::string& body, const std::string& extra = "") {
  return "<?xml version=\"1.0\"?>\n<map version=\"1.8\" orientation=\"orthogonal\" width=\"" + std::to_string(w) +
         "\" height=\"" + std::to_string(h) + "\" tilewidth=\"" + std::to_string(tw) + "\" tileheight=\"" +
         std::to_string(th) + "\"" + extra + ">\n" + body + "</map>\n";
}

std::string CsvLayer(const std::string& name, int w, int h, const std::string& csv, const std::string& extra = "") {
  return " <layer name=\"" + name + "\" width=\"" + std::to_string(w) + "\" height=\"" + std::to_string(h) + "\"" +
         extra + "><data encoding=\"csv\">" + csv + "</data></layer>\n";
}

// A 32 x 32 picture in four 16 x 16 quadrants: red, green (top), blue, white (bottom).
void QuadrantTile(const std::string& path) {
  std::vector<uint32_t> px(32 * 32);
  for (int y = 0; y < 32; y++) {
    for (int x = 0; x < 32; x++) {
      px[(size_t)y * 32 + x] = y < 16 ? (x < 16 ? 0xFFFF0000 : 0xFF00FF00) : (x < 16 ? 0xFF0000FF : 0xFFFFFFFF);
    }
  }
  Files[path] = Png(32, 32, px);
}

const std::string kBigTileset =
    " <tileset firstgid=\"1\" name=\"big\" tilewidth=\"32\" tileheight=\"32\"><image source=\"big.png\"/></tileset>\n";

TEST(ImportData, CsvAndBase64HoldExactlyTheLayersCells) {
  std::vector<uint32_t> cells;
  std::string problem;
  EXPECT_TRUE(TiledDecodeData(" 1, 2,\n3,4294967295 ", "csv", "", 4, &cells, &problem));
  EXPECT_EQ(cells, (std::vector<uint32_t>{1, 2, 3, 4294967295u}));
  EXPECT_FALSE(TiledDecodeData("1,2,3", "csv", "", 4, &cells, &problem));
  EXPECT_FALSE(TiledDecodeData("1,2,3,4,5", "csv", "", 4, &cells, &problem));
  EXPECT_FALSE(TiledDecodeData("1,x,3,4", "csv", "", 4, &cells, &problem));
  EXPECT_FALSE(TiledDecodeData("4294967296", "csv", "", 1, &cells, &problem));
  // AQAAAAIAAAA= is the cells 1 and 2.
  EXPECT_TRUE(TiledDecodeData("  AQAAAA\nIAAAA=  ", "base64", "", 2, &cells, &problem));
  EXPECT_EQ(cells, (std::vector<uint32_t>{1, 2}));
  EXPECT_FALSE(TiledDecodeData("AQAAAAIAAAA=", "base64", "", 3, &cells, &problem));
  EXPECT_FALSE(TiledDecodeData("AQAA*AIAAAA=", "base64", "", 2, &cells, &problem));
  EXPECT_EQ(problem, "bad base64 data");
  EXPECT_FALSE(TiledDecodeData("AQAAAAIAAAA=AAAA", "base64", "", 2, &cells, &problem));
  EXPECT_FALSE(TiledDecodeData("AQAAAAIAAAA=", "base64", "lz4", 2, &cells, &problem));
}

std::string Base64(const std::vector<uint8_t>& b) {
  static const char* d = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string s;
  for (size_t i = 0; i < b.size(); i += 3) {
    uint32_t v = (uint32_t)b[i] << 16 | (i + 1 < b.size() ? (uint32_t)b[i + 1] << 8 : 0) |
                 (i + 2 < b.size() ? b[i + 2] : 0);
    s += d[v >> 18 & 63];
    s += d[v >> 12 & 63];
    s += i + 1 < b.size() ? d[v >> 6 & 63] : '=';
    s += i + 2 < b.size() ? d[v & 63] : '=';
  }
  return s;
}

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& raw, bool gzip) {
  z_stream z;
  std::memset(&z, 0, sizeof z);
  deflateInit2(&z, 9, Z_DEFLATED, gzip ? 16 + 15 : 15, 8, Z_DEFAULT_STRATEGY);
  std::vector<uint8_t> out(deflateBound(&z, raw.size()) + 32);
  z.next_in = const_cast<Bytef*>(raw.data());
  z.avail_in = (uInt)raw.size();
  z.next_out = out.data();
  z.avail_out = (uInt)out.size();
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::vector<uint8_t> Cells(size_t n) {
  std::vector<uint8_t> raw;
  for (size_t k = 0; k < n; k++) {
    uint32_t v = (uint32_t)(k % 7);
    for (int i = 0; i < 4; i++) raw.push_back((uint8_t)(v >> (8 * i)));
  }
  return raw;
}

TEST(ImportData, CompressedDataIsBoundedByTheLayer) {
  std::vector<uint32_t> cells;
  std::string problem;
  std::vector<uint8_t> raw = Cells(1000);
  std::vector<uint8_t> zstd(ZSTD_compressBound(raw.size()));
  zstd.resize(ZSTD_compress(zstd.data(), zstd.size(), raw.data(), raw.size(), 3));
  for (const auto& [compression, packed] : std::vector<std::pair<std::string, std::vector<uint8_t>>>{
           {"zlib", Deflate(raw, false)}, {"gzip", Deflate(raw, true)}, {"zstd", zstd}}) {
    SCOPED_TRACE(compression);
    ASSERT_TRUE(TiledDecodeData(Base64(packed), "base64", compression, 1000, &cells, &problem)) << problem;
    EXPECT_EQ(cells[999], 999u % 7);
    // The same data for a smaller layer: refused as soon as it passes the layer's size.
    EXPECT_FALSE(TiledDecodeData(Base64(packed), "base64", compression, 10, &cells, &problem));
    EXPECT_NE(problem.find("inflates past"), std::string::npos) << problem;
    std::vector<uint8_t> cut(packed.begin(), packed.begin() + packed.size() / 2);
    EXPECT_FALSE(TiledDecodeData(Base64(cut), "base64", compression, 1000, &cells, &problem));
  }
  // A bomb: 64 MB of zeros in a few kilobytes stops at the layer's 4 bytes a cell.
  std::vector<uint8_t> bomb = Deflate(std::vector<uint8_t>(64 << 20, 0), false);
  std::vector<uint8_t> out;
  EXPECT_FALSE(TiledInflate(bomb, "zlib", 4000, &out, &problem));
  EXPECT_LE(out.size(), 4000u + (1 << 16));
}

TEST(ImportNumbers, OneRuleForWholeAndRealNumbers) {
  // text, whole within int32 (and its value), real (and its value).
  struct Case {
    const char* text;
    bool whole;
    int64_t value;
    bool real;
    double number;
  };
  const Case cases[] = {
      {"0", true, 0, true, 0},          {"-12", true, -12, true, -12},
      {"007", true, 7, true, 7},        {"2147483647", true, 2147483647, true, 2147483647.0},
      {"-2147483648", true, -2147483648LL, true, -2147483648.0},
      {"2147483648", false, 0, true, 2147483648.0},
      {"1e1", false, 0, true, 10},      {"2.5E-1", false, 0, true, 0.25},
      {"1.5", false, 0, true, 1.5},     {"0x10", false, 0, false, 0},
      {"+3", false, 0, false, 0},       {" 4", false, 0, false, 0},
      {"4 ", false, 0, false, 0},       {"", false, 0, false, 0},
      {"-", false, 0, false, 0},        {"1.", false, 0, false, 0},
      {".5", false, 0, false, 0},       {"1e", false, 0, false, 0},
      {"inf", false, 0, false, 0},      {"nan", false, 0, false, 0},
      {"1e999", false, 0, false, 0},    {"99999999999999999999999", false, 0, true, 1e23},
      {"-99999999999999999999999999999999", false, 0, true, -1e32},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    int64_t whole = -1;
    double real = -1;
    EXPECT_EQ(TiledWhole(c.text, INT32_MIN, INT32_MAX, &whole), c.whole);
    if (c.whole) {
      EXPECT_EQ(whole, c.value);
    }
    EXPECT_EQ(TiledReal(c.text, &real), c.real);
    if (c.real) {
      EXPECT_DOUBLE_EQ(real, c.number);
    }
  }
}

TEST(ImportReaders, BadInputNamesWhatAndWhere) {
  struct Case {
    std::string text, error;
  };
  Files.clear();
  QuadrantTile("m/big.png");
  std::vector<Case> cases = {
      {"<?xml version=\"1.0\"?>\n<map orientation=\"orthogonal\">\n <layer name=\"a\"\n</map>", "line 4: damaged XML"},
      {"<?xml version=\"1.0\"?>\n<map orientation=\"isometric\" width=\"2\" height=\"2\"/>",
       "line 2: isometric maps cannot be imported: only orthogonal maps"},
      {"<map orientation=\"staggered\"/>", "staggered maps cannot be imported: only orthogonal maps"},
      {"<map orientation=\"orthogonal\" width=\"2\" height=\"2\" tilewidth=\"8\"/>",
       "<map> has no tileheight attribute"},
      {TmxMap(2, 1, 8, 8, kBigTileset + CsvLayer("a", 2, 1, "1,7")), "tile number 7 is past every tileset"},
      {TmxMap(2, 1, 8, 8, kBigTileset + CsvLayer("a", 2, 1, "1")), "the CSV data has 1 cells, the layer 2"},
      {TmxMap(1, 1, 8, 8, " <tileset firstgid=\"1\" source=\"gone.tsx\"/>\n" + CsvLayer("a", 1, 1, "1")),
       "cannot read the tileset m/gone.tsx"},
      {TmxMap(1, 1, 8, 8,
              " <tileset firstgid=\"1\" name=\"x\" tilewidth=\"8\" tileheight=\"8\"><image source=\"no.png\"/></tileset>\n" +
                  CsvLayer("a", 1, 1, "1")),
       "cannot read the image m/no.png"},
      {TmxMap(1, 1, 8, 8, "<layer name=\"a\" width=\"1\" height=\"1\" opacity=\"half\"><data/></layer>"),
       "opacity=\"half\" is not a number"},
      {TmxMap(100000, 100000, 8, 8, CsvLayer("a", 100000, 100000, "")), "past the importer's"},
      {"{\"orientation\": \"orthogonal\",\n \"width\": 2,\n \"height\": [}", "line 3: damaged JSON"},
      {"{\"orientation\":\"hexagonal\"}", "hexagonal maps cannot be imported: only orthogonal maps"},
      {"{\"orientation\":\"orthogonal\",\"width\":1,\"height\":1,\"tilewidth\":8,\"tileheight\":\"8\",\"layers\":[]}",
       "\"tileheight\" is not a whole number"},
      {"{\"orientation\":\"orthogonal\",\"width\":1,\"height\":1,\"tilewidth\":8,\"tileheight\":8,\"layers\":"
       "[{\"type\":\"tilelayer\",\"name\":\"a\",\"width\":1,\"height\":1,\"data\":\"!!\"}]}",
       "layer \"a\": bad base64 data"},
      {"[1, 2]", "not a Tiled map"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Imported r = Import(c.text);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.report.error.find(c.error), std::string::npos) << r.report.error;
  }
}

TEST(ImportPieces, LargeTilesAreCutIntoGridPiecesStackedInDrawingOrder) {
  Files.clear();
  QuadrantTile("m/big.png");
  // Two 32 x 32 tiles on a 16 x 16 grid, in cells (0, 1) and (1, 1): they overlap in column 1.
  for (std::string order : {"right-down", "left-down"}) {
    SCOPED_TRACE(order);
    Imported r = Import(TmxMap(3, 2, 16, 16, kBigTileset + CsvLayer("a", 3, 2, "0,0,0,1,1,0"),
                               " renderorder=\"" + order + "\""));
    ASSERT_TRUE(r.ok) << r.report.error;
    EXPECT_EQ(r.map.width, 48);
    EXPECT_EQ(r.map.height, 32);
    ASSERT_EQ(r.map.layers.size(), 2u);  // column 1 holds two pieces
    EXPECT_EQ(r.map.types.size(), 4u);   // one per quadrant, shared by both tiles
    // The tile drawn last shows in column 1: the right one right-down, the left one left-down.
    bool rightOnTop = order == "right-down";
    EXPECT_EQ(r.Pixel(r.Top(1, 0), 0, 0), rightOnTop ? 0xFF0000u : 0x00FF00u);
    EXPECT_EQ(r.Pixel(r.Top(1, 1), 0, 0), rightOnTop ? 0x0000FFu : 0xFFFFFFu);
    EXPECT_EQ(r.Pixel(r.Top(0, 1), 0, 0), 0x0000FFu);
    EXPECT_EQ(r.Pixel(r.Top(2, 0), 0, 0), 0x00FF00u);
  }
  // A tile offset that is not a whole cell: each piece holds parts of two quadrants.
  std::string offsetSet =
      " <tileset firstgid=\"1\" name=\"big\" tilewidth=\"32\" tileheight=\"32\"><tileoffset x=\"8\" y=\"-4\"/>"
      "<image source=\"big.png\"/></tileset>\n";
  Imported r = Import(TmxMap(3, 3, 16, 16, offsetSet + CsvLayer("a", 3, 3, "0,0,0,0,0,0,1,0,0")));
  ASSERT_TRUE(r.ok) << r.report.error;
  // Bottom-left at (0, 48) plus (8, -4): the tile covers x 8 .. 39, y 12 .. 43.
  int16_t t = r.Top(0, 0);
  ASSERT_NE(t, 0);
  EXPECT_EQ(r.Pixel(t, 7, 11), 0u);  // left of and above the tile: the key
  EXPECT_EQ(r.Pixel(t, 8, 12), 0xFF0000u);
  EXPECT_EQ(r.Pixel(t, 15, 15), 0xFF0000u);
  // Cell (1, 1) holds the corner where the four quadrants meet, at (24, 28).
  t = r.Top(1, 1);
  EXPECT_EQ(r.Pixel(t, 7, 11), 0xFF0000u);
  EXPECT_EQ(r.Pixel(t, 8, 11), 0x00FF00u);
  EXPECT_EQ(r.Pixel(t, 7, 12), 0x0000FFu);
  EXPECT_EQ(r.Pixel(t, 8, 12), 0xFFFFFFu);
  EXPECT_EQ(r.Pixel(r.Top(2, 2), 7, 11), 0xFFFFFFu);  // (39, 43), its last pixel
  EXPECT_EQ(r.Pixel(r.Top(2, 2), 8, 11), 0u);
}

TEST(ImportPieces, DrawsNeedingMoreThanTesselsLayersAreRefused) {
  Files.clear();
  QuadrantTile("m/big.png");
  std::string objects;
  for (int k = 0; k < 128; k++) objects += "<object id=\"" + std::to_string(k + 1) + "\" gid=\"1\" x=\"0\" y=\"32\"/>";
  Imported r = Import(TmxMap(2, 2, 16, 16, kBigTileset + " <objectgroup name=\"o\">" + objects + "</objectgroup>\n"));
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.report.error.find("more than Tessel's 127 layers"), std::string::npos) << r.report.error;
  objects.resize(objects.rfind("<object"));
  EXPECT_TRUE(Import(TmxMap(2, 2, 16, 16, kBigTileset + " <objectgroup name=\"o\">" + objects + "</objectgroup>\n")).ok);
}

TEST(ImportPixels, KeyConversionFlipsAndColourKey) {
  Files.clear();
  // A 2 x 2 tile: opaque black, half-transparent red, nearly transparent green, the trans colour.
  Files["m/k.png"] = Png(2, 2, {0xFF000000, 0xC8FF0000, 0x7F00FF00, 0xFFFF00FF});
  std::string set =
      " <tileset firstgid=\"1\" name=\"k\" tilewidth=\"2\" tileheight=\"2\"><image source=\"k.png\" "
      "trans=\"ff00ff\"/></tileset>\n";
  Imported r = Import(TmxMap(1, 1, 2, 2, set + CsvLayer("a", 1, 1, "1")));
  ASSERT_TRUE(r.ok) << r.report.error;
  EXPECT_EQ(r.Pixel(1, 0, 0), 0x000001u);  // black stays visible
  EXPECT_EQ(r.Pixel(1, 1, 0), 0xFF0000u);  // alpha 200 drawn opaque
  EXPECT_EQ(r.Pixel(1, 0, 1), 0u);         // alpha 127 becomes the key
  EXPECT_EQ(r.Pixel(1, 1, 1), 0u);         // the trans colour too
  EXPECT_TRUE(r.Warned("tileset \"k\""));
  EXPECT_TRUE(r.Warned("half-transparent"));

  // Flips of a 2 x 2 tile a b / c d.
  Files["m/f.png"] = Png(2, 2, {0xFF100000, 0xFF200000, 0xFF300000, 0xFF400000});
  std::string flipSet =
      " <tileset firstgid=\"1\" name=\"f\" tilewidth=\"2\" tileheight=\"2\"><image source=\"f.png\"/></tileset>\n";
  struct Flip {
    uint32_t flags;
    uint32_t a, b, c, d;
  };
  for (const Flip& f : std::vector<Flip>{{0, 0x10, 0x20, 0x30, 0x40},
                                         {TiledFlipH, 0x20, 0x10, 0x40, 0x30},
                                         {TiledFlipV, 0x30, 0x40, 0x10, 0x20},
                                         {TiledFlipD, 0x10, 0x30, 0x20, 0x40},
                                         {TiledFlipD | TiledFlipH, 0x30, 0x10, 0x40, 0x20},  // 90 degrees clockwise
                                         {TiledFlipH | TiledFlipV | TiledRotateHex, 0x40, 0x30, 0x20, 0x10}}) {
    SCOPED_TRACE(f.flags);
    Imported fr = Import(TmxMap(1, 1, 2, 2, flipSet + CsvLayer("a", 1, 1, std::to_string(1u | f.flags))));
    ASSERT_TRUE(fr.ok) << fr.report.error;
    EXPECT_EQ(fr.Pixel(1, 0, 0) >> 16, f.a);
    EXPECT_EQ(fr.Pixel(1, 1, 0) >> 16, f.b);
    EXPECT_EQ(fr.Pixel(1, 0, 1) >> 16, f.c);
    EXPECT_EQ(fr.Pixel(1, 1, 1) >> 16, f.d);
  }
}

TEST(ImportAnimation, FramesBecomeConsecutiveTileTypesRepeatedForTheirDurations) {
  Files.clear();
  // Four 1 x 1 tiles of distinct colours.
  Files["m/a.png"] = Png(4, 1, {0xFF010000, 0xFF020000, 0xFF030000, 0xFF040000});
  std::string set =
      " <tileset firstgid=\"1\" name=\"a\" tilewidth=\"1\" tileheight=\"1\"><image source=\"a.png\"/>"
      "<tile id=\"0\"><animation><frame tileid=\"1\" duration=\"100\"/><frame tileid=\"2\" duration=\"100\"/>"
      "<frame tileid=\"3\" duration=\"200\"/></animation></tile></tileset>\n";
  Imported r = Import(TmxMap(2, 1, 1, 1, set + CsvLayer("a", 2, 1, "1,3")));
  ASSERT_TRUE(r.ok) << r.report.error;
  EXPECT_EQ(r.result.interval, 100);
  EXPECT_TRUE(r.Warned("durations differ"));
  int16_t t = r.Top(0, 0);
  ASSERT_EQ(r.map.types[(size_t)t - 1].frames, 4);  // 100, 100, 200 ms: b, c, d, d
  std::vector<uint32_t> shown;
  for (int k = 0; k < 4; k++) shown.push_back(r.Pixel((int16_t)(t + k), 0, 0) >> 16);
  EXPECT_EQ(shown, (std::vector<uint32_t>{2, 3, 4, 4}));
  // The still tile 3 (c) shares the run's own type for c, which does not animate.
  int16_t still = r.Top(1, 0);
  EXPECT_EQ(r.map.types[(size_t)still - 1].frames, 1);
  EXPECT_EQ(r.Pixel(still, 0, 0) >> 16, 3u);
}

TEST(ImportAnimation, ComposedCellsRunOverTheCommonCycleOrStayApartPastIt) {
  Files.clear();
  // 1 x 1 tiles, tile k of red level k + 1; tile 0 runs through tiles 0..n-1,
  // tile 20 through 20..20+m-1, 100 ms a frame; the second lies half
  // transparent over the first (layer opacity 0.5).
  std::vector<uint32_t> pixels;
  for (uint32_t k = 0; k < 40; k++) pixels.push_back(0xFF000000u | (k + 1) * 4 << 16);
  Files["m/a.png"] = Png(40, 1, pixels);
  auto map = [](int n, int m) {
    auto frames = [](int first, int count) {
      std::string xml;
      for (int k = 0; k < count; k++) {
        xml += "<frame tileid=\"" + std::to_string(first + k) + "\" duration=\"100\"/>";
      }
      return xml;
    };
    return TmxMap(1, 1, 1, 1,
                  " <tileset firstgid=\"1\" name=\"a\" tilewidth=\"1\" tileheight=\"1\"><image source=\"a.png\"/>"
                  "<tile id=\"0\"><animation>" + frames(0, n) + "</animation></tile><tile id=\"20\"><animation>" +
                      frames(20, m) + "</animation></tile></tileset>\n" + CsvLayer("under", 1, 1, "1") +
                      CsvLayer("over", 1, 1, "21", " opacity=\"0.5\""));
  };
  // 2 and 3 frames: one composed cell of 6 frames, each the blend of its two.
  Imported r = Import(map(2, 3), ImportOptions());
  ASSERT_TRUE(r.ok) << r.report.error;
  ASSERT_EQ(r.map.layers.size(), 1u);
  int16_t t = r.Top(0, 0);
  ASSERT_EQ(r.map.types[(size_t)t - 1].frames, 6);
  for (int k = 0; k < 6; k++) {
    uint32_t under = (uint32_t)(k % 2 + 1) * 4, over = (uint32_t)(20 + k % 3 + 1) * 4;
    EXPECT_NEAR((double)(r.Pixel((int16_t)(t + k), 0, 0) >> 16), (under + over) / 2.0, 1.0) << k;
  }
  // 11 and 13 frames repeat together only after 143 steps: the run stays two layers, with a warning.
  r = Import(map(11, 13), ImportOptions());
  ASSERT_TRUE(r.ok) << r.report.error;
  EXPECT_EQ(r.map.layers.size(), 2u);
  EXPECT_TRUE(r.Warned("layers \"under\" to \"over\": composing them would take an animated cell whose pieces "
                       "repeat only after more than 127 steps"));
}

TEST(ImportLayers, GroupsVisibilityOffsetsParallaxAndSelection) {
  Files.clear();
  Files["m/a.png"] = Png(2, 1, {0xFF110000, 0xFF220000});
  std::string set =
      " <tileset firstgid=\"1\" name=\"a\" tilewidth=\"1\" tileheight=\"1\"><image source=\"a.png\"/></tileset>\n";
  std::string body = set +
                     " <group name=\"g\" offsetx=\"1\" parallaxx=\"0.5\" parallaxy=\"0.5\">\n" +
                     CsvLayer("inner", 4, 1, "1,0,0,0", " offsetx=\"1\" parallaxx=\"0.5\" parallaxy=\"0.5\"") +
                     " </group>\n <group name=\"off\" visible=\"0\">\n" + CsvLayer("hid", 4, 1, "2,0,0,0") +
                     " </group>\n" + CsvLayer("plain", 4, 1, "0,0,0,2");
  // The parallax origin at the centre of the screen (6 x 1 pixels, the map):
  // Tiled's and Tessel's parallax agree without a shift.
  ImportOptions screen = LayersApart();
  screen.screenW = 6;
  screen.screenH = 1;
  Imported r = Import(TmxMap(4, 1, 1, 1, body, " parallaxoriginx=\"3\" parallaxoriginy=\"0.5\""), screen);
  ASSERT_TRUE(r.ok) << r.report.error;
  ASSERT_EQ(r.map.layers.size(), 2u);
  EXPECT_FLOAT_EQ(r.map.layers[0].factor, 0.25f);  // 0.5 of the group times 0.5 of the layer
  EXPECT_EQ(r.map.layers[0].cells[2], 1);          // offsets 1 + 1
  // With the origin at 0, Tiled shows the layer (1 - 0.25) x 3 pixels further right on that screen.
  Imported shifted = Import(TmxMap(4, 1, 1, 1, body), screen);
  ASSERT_TRUE(shifted.ok) << shifted.report.error;
  EXPECT_EQ(shifted.map.layers[0].cells[4], 1);
  EXPECT_FLOAT_EQ(r.map.layers[1].factor, 1.0f);
  EXPECT_EQ(r.map.layers[1].cells[0], 0);  // the invisible group's layer is left out
  EXPECT_EQ(r.map.width, 6);               // the offsets widen the map, as Tiled's picture

  ImportOptions show = LayersApart();
  show.showLayers = {"off"};
  r = Import(TmxMap(4, 1, 1, 1, body), show);
  ASSERT_TRUE(r.ok) << r.report.error;
  ASSERT_EQ(r.map.layers.size(), 1u);
  EXPECT_EQ(r.map.layers[0].name, "hid");
  ImportOptions hide = LayersApart();
  hide.hideLayers = {"inner"};
  r = Import(TmxMap(4, 1, 1, 1, body), hide);
  ASSERT_TRUE(r.ok) << r.report.error;
  ASSERT_EQ(r.map.layers.size(), 1u);
  EXPECT_EQ(r.map.layers[0].name, "plain");
  // A name that is no layer's is a mistake, not a map without layers.
  for (std::vector<std::string>* names : {&hide.hideLayers, &hide.showLayers}) {
    *names = {"nowhere"};
    r = Import(TmxMap(4, 1, 1, 1, body), hide);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.report.error.find("no layer or group named \"nowhere\""), std::string::npos) << r.report.error;
    names->clear();
  }
  // Opacity 0 draws nothing in Tiled; any other opacity is drawn opaque, with a warning.
  r = Import(TmxMap(4, 1, 1, 1, set + CsvLayer("a", 4, 1, "1,0,0,0", " opacity=\"0\"") +
                                    CsvLayer("b", 4, 1, "0,2,0,0", " opacity=\"0.4\"")));
  ASSERT_TRUE(r.ok) << r.report.error;
  EXPECT_EQ(r.Top(0, 0), 0);
  EXPECT_NE(r.Top(1, 0), 0);
  EXPECT_TRUE(r.Warned("layer \"a\" (line 4): opacity 0, left out"));
  EXPECT_TRUE(r.Warned("layer \"b\" (line 5): opacity below 1 is drawn opaque"));
}

TEST(ImportLayers, InfiniteMapsImageLayersAndBackgrounds) {
  Files.clear();
  Files["m/a.png"] = Png(2, 1, {0xFF110000, 0xFF220000});
  Files["m/sky.png"] = Png(2, 2, {0xFF0000AA, 0xFF0000BB, 0x000000CC, 0xFF0000DD});
  std::string set =
      " <tileset firstgid=\"1\" name=\"a\" tilewidth=\"1\" tileheight=\"1\"><image source=\"a.png\"/></tileset>\n";
  std::string chunks =
      " <layer name=\"c\" width=\"1\" height=\"1\"><data encoding=\"csv\"><chunk x=\"-3\" y=\"5\" width=\"2\" "
      "height=\"1\">1,0</chunk><chunk x=\"2\" y=\"6\" width=\"1\" height=\"1\">2</chunk></data></layer>\n";
  Imported r = Import(TmxMap(1, 1, 1, 1, set + chunks, " infinite=\"1\" backgroundcolor=\"#123456\""));
  ASSERT_TRUE(r.ok) << r.report.error;
  EXPECT_EQ(r.map.width, 6);  // columns -3 .. 2
  EXPECT_EQ(r.map.height, 2);  // rows 5 .. 6
  EXPECT_EQ(r.map.layers[0].cells[0], r.Top(0, 0));
  EXPECT_EQ(r.Pixel(r.Top(0, 0), 0, 0) >> 16, 0x11u);
  EXPECT_EQ(r.Pixel(r.Top(5, 1), 0, 0) >> 16, 0x22u);
  EXPECT_EQ(r.map.background, std::to_string(0x563412));  // 0x00BBGGRR

  // A fixed image layer at the back becomes the background image, its clear pixel the map's colour.
  std::string fixed = " <imagelayer name=\"sky\" parallaxx=\"0\" parallaxy=\"0\"><image source=\"sky.png\"/></imagelayer>\n";
  ImportOptions screen = LayersApart();
  screen.screenW = screen.screenH = 2;
  r = Import(TmxMap(2, 2, 1, 1, fixed + set + CsvLayer("a", 2, 2, "0,0,0,1"),
                    " backgroundcolor=\"#123456\" parallaxoriginx=\"1\" parallaxoriginy=\"1\""),
             screen);
  ASSERT_TRUE(r.ok) << r.report.error;
  ASSERT_TRUE(r.result.background);
  const ImportImage& bg = r.result.images.back();
  EXPECT_EQ(r.map.background, bg.name);
  EXPECT_EQ(bg.rgb[2 * 3 + 2], 0x56);  // (0, 1) is clear: the background colour 12 34 56
  EXPECT_EQ(bg.rgb[3 * 3 + 2], 0xDD);
  // The same image scrolling with the map is a layer of pieces instead.
  std::string scrolling = " <imagelayer name=\"sky\" offsetx=\"1\"><image source=\"sky.png\"/></imagelayer>\n";
  r = Import(TmxMap(3, 2, 1, 1, scrolling));
  ASSERT_TRUE(r.ok) << r.report.error;
  EXPECT_FALSE(r.result.background);
  EXPECT_EQ(r.Top(0, 0), 0);
  EXPECT_EQ(r.Pixel(r.Top(1, 0), 0, 0), 0xAAu);
  EXPECT_EQ(r.Top(1, 1), 0);  // the clear pixel is no piece at all
  // Repeated along x from offset 1: columns 1, 3 show the image's left, 0, 2, 4 its right column.
  std::string repeated = " <imagelayer name=\"sky\" offsetx=\"1\" repeatx=\"1\"><image source=\"sky.png\"/></imagelayer>\n";
  r = Import(TmxMap(5, 3, 1, 1, repeated));
  ASSERT_TRUE(r.ok) << r.report.error;
  std::vector<uint32_t> row;
  for (int c = 0; c < 5; c++) row.push_back(r.Pixel(r.Top(c, 0), 0, 0));
  EXPECT_EQ(row, (std::vector<uint32_t>{0xBB, 0xAA, 0xBB, 0xAA, 0xBB}));
  EXPECT_EQ(r.Top(0, 2), 0);  // not repeated along y
}

TEST(ImportJson, JsonMapsAndTilesetsMatchTheirTmxForms) {
  Files.clear();
  QuadrantTile("m/big.png");
  Files["m/t.tsj"] = Bytes("{\"name\":\"big\",\"tilewidth\":32,\"tileheight\":32,\"image\":\"big.png\"}");
  Files["m/t.tsx"] = Bytes("<tileset name=\"big\" tilewidth=\"32\" tileheight=\"32\"><image source=\"big.png\"/></tileset>");
  Imported tmx = Import(TmxMap(3, 2, 16, 16, " <tileset firstgid=\"1\" source=\"t.tsj\"/>\n" +
                                               CsvLayer("a", 3, 2, "0,0,0,1,1,0")));
  ASSERT_TRUE(tmx.ok) << tmx.report.error;
  Imported json = Import(
      "{\"orientation\":\"orthogonal\",\"renderorder\":\"right-down\",\"width\":3,\"height\":2,\"tilewidth\":16,"
      "\"tileheight\":16,\"tilesets\":[{\"firstgid\":1,\"source\":\"t.tsx\"}],\"layers\":[{\"type\":\"tilelayer\","
      "\"name\":\"a\",\"width\":3,\"height\":2,\"data\":[0,0,0,1,1,0]}]}");
  ASSERT_TRUE(json.ok) << json.report.error;
  EXPECT_EQ(MapFileEncode(tmx.result.map), MapFileEncode(json.result.map));
}

class ImportRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tessel-import-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
  void Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream f(dir_ + "/" + name, std::ios::binary);
    f.write((const char*)bytes.data(), (std::streamsize)bytes.size());
  }
  int Count(const std::string& sub) {
    std::string list = dir_ + "/list";
    std::system(("ls -A '" + dir_ + "/out/" + sub + "' 2>/dev/null | wc -l > '" + list + "'").c_str());
    std::ifstream f(list);
    int n = -1;
    f >> n;
    return n;
  }
  std::string dir_;
};

TEST_F(ImportRunTest, WritesTheMapAndSharedImagesOrNothingAtAll) {
  QuadrantTile("big.png");
  Write("big.png", Files["big.png"]);
  Write("a.tmx", Bytes(TmxMap(3, 2, 16, 16, kBigTileset + CsvLayer("a", 3, 2, "0,0,0,1,1,0"))));
  ImportRunArgs args;
  args.source = dir_ + "/a.tmx";
  args.dir = dir_ + "/out";
  std::string out, err;
  ASSERT_EQ(ImportRun(args, &out, &err), 0) << err;
  EXPECT_EQ(err, "");
  // The overlapping tiles of the one layer are composed.
  EXPECT_NE(out.find("1 layer, 4 tile types, 4 tile images (4 new"), std::string::npos) << out;
  EXPECT_NE(out.find("\n1 layer composed into 1 layer (4 tile types)\n"), std::string::npos) << out;
  // Smaller than the overlay: the map starts below it, on a screen with room for both.
  EXPECT_NE(out.find("&& tessel a 240 112 100\n"), std::string::npos) << out;
  EXPECT_NE(out.find("starts below it"), std::string::npos) << out;
  EXPECT_EQ(Count("Maps"), 1);
  EXPECT_EQ(Count("Tiles"), 4);
  // A second map with the same pieces adds no image and no clash.
  args.name = "again";
  args.named = true;
  out.clear();
  ASSERT_EQ(ImportRun(args, &out, &err), 0) << err;
  EXPECT_NE(out.find("(0 new"), std::string::npos) << out;
  EXPECT_EQ(Count("Maps"), 2);
  EXPECT_EQ(Count("Tiles"), 4);

  // A map whose second tileset image is missing fails before anything is written.
  Write("b.tmx", Bytes(TmxMap(2, 1, 16, 16,
                              kBigTileset +
                                  " <tileset firstgid=\"2\" name=\"x\" tilewidth=\"8\" tileheight=\"8\">"
                                  "<image source=\"none.png\"/></tileset>\n" +
                                  CsvLayer("a", 2, 1, "1,2"))));
  args.source = dir_ + "/b.tmx";
  args.dir = dir_ + "/out";
  args.named = false;
  err.clear();
  EXPECT_EQ(ImportRun(args, &out, &err), 2);
  EXPECT_EQ(err.rfind(args.source + ": error: ", 0), 0u) << err;
  EXPECT_NE(err.find("none.png"), std::string::npos) << err;
  EXPECT_EQ(Count("Maps"), 2);
  EXPECT_EQ(Count("Tiles"), 4);
}

TEST_F(ImportRunTest, AMapFromAnotherSourceIsReplacedOnlyWhenForced) {
  QuadrantTile("big.png");
  Write("big.png", Files["big.png"]);
  Write("a.tmx", Bytes(TmxMap(3, 2, 16, 16, kBigTileset + CsvLayer("a", 3, 2, "0,0,0,1,1,0"))));
  Write("b.tmx", Bytes(TmxMap(3, 2, 16, 16, kBigTileset + CsvLayer("a", 3, 2, "1,0,0,0,0,0"))));
  ImportRunArgs args;
  args.source = dir_ + "/a.tmx";
  args.dir = dir_ + "/out";
  args.name = "m";
  args.named = true;
  std::string out, err;
  ASSERT_EQ(ImportRun(args, &out, &err), 0) << err;
  std::ifstream first(dir_ + "/out/Maps/m", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(first)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text.rfind("Imported from Tiled\nTiled map " + dir_ + "/a.tmx\n", 0), 0u) << text.substr(0, 80);
  // The same source again replaces it, as after an edit.
  Write("a.tmx", Bytes(TmxMap(3, 2, 16, 16, kBigTileset + CsvLayer("a", 3, 2, "0,0,0,0,1,0"))));
  ASSERT_EQ(ImportRun(args, &out, &err), 0) << err;
  // Another source under that name is refused, naming both ways out, and the map stays.
  args.source = dir_ + "/b.tmx";
  err.clear();
  EXPECT_EQ(ImportRun(args, &out, &err), 2);
  EXPECT_NE(err.find("Tiled map " + dir_ + "/a.tmx"), std::string::npos) << err;
  EXPECT_NE(err.find("--name"), std::string::npos) << err;
  EXPECT_NE(err.find("--force"), std::string::npos) << err;
  std::ifstream kept(dir_ + "/out/Maps/m", std::ios::binary);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>()).find("b.tmx"),
            std::string::npos);
  args.force = true;
  EXPECT_EQ(ImportRun(args, &out, &err), 0) << err;
  // A map built by hand is another source too.
  args.name = "hand";
  args.force = false;
  Write("out/Maps/hand", Bytes("My map\n\n"));
  EXPECT_EQ(ImportRun(args, &out, &err), 2);
}

}  // namespace
