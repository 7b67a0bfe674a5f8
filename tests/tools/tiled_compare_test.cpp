// Maps made in Tiled, imported with `tessel-map import` and drawn by
// tessel-render, against the pictures Tiled's own tmxrasterizer draws of them:
// Tiled's example maps and their JSON exports, maps written here with every
// layer encoding, flips, infinite chunks, several tilesets and image formats,
// large offset tiles, image layers, group layers, animation and a scrolled view.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/tools/tiled_harness.h"
#include "tests/tools/tiled_maps.h"

namespace tiled {
namespace {

const char kExamples[] = "/usr/share/doc/tiled/examples";

TEST(TiledCompare, MatchesWithinFourPerChannelAndLeavesOutWhatCannotBeCompared) {
  Image tiled = ImageMake(200, 100, 0x102030FF);
  Image frame = ImageMake(200, 100, 0x142434FF);
  // Every pixel below the overlay corner counts: 200 x 100 less 176 x 72.
  Match same = CompareView(tiled, frame, 0, 0, 0);
  EXPECT_EQ(same.counted, 200 * 100 - kOverlayWidth * kOverlayHeight);
  EXPECT_EQ(same.matched, same.counted);
  ImageSet(&frame, 190, 90, 0x15, 0x20, 0x30);
  EXPECT_EQ(CompareView(tiled, frame, 0, 0, 0).matched, same.counted - 1);
  // Transparent in Tiled's picture: the background colour must show.
  ImageSet(&tiled, 190, 80, 0, 0, 0, 0);
  ImageSet(&frame, 190, 80, 0x11, 0x22, 0x33);
  EXPECT_EQ(CompareView(tiled, frame, 0, 0, 0x112233).matched, same.counted - 1);
  EXPECT_EQ(CompareView(tiled, frame, 0, 0, 0).matched, same.counted - 2);
  // Half transparent in Tiled's picture: not compared.
  ImageSet(&tiled, 190, 90, 0, 0, 0, 128);
  EXPECT_EQ(CompareView(tiled, frame, 0, 0, 0).counted, same.counted - 1);
  // A view further into Tiled's picture compares only what lies inside it:
  // 150 x 90 pixels less the overlay's 150 x 72 and the half-transparent one.
  Match shifted = CompareView(tiled, frame, 50, 10, 0);
  EXPECT_EQ(shifted.counted, 150 * 90 - 150 * kOverlayHeight - 1);
}

TEST(TiledCompare, OverlayStaysInsideTheCornerLeftOut) {
  // The widest overlay the tests can meet: a six-digit position and a
  // three-digit frame count (100 frames in the last second), on an empty map
  // (black screen, overlay only).
  char pattern[] = "/tmp/tessel-tiled-overlay-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string dir = pattern;
  mkdir((dir + "/Maps").c_str(), 0755);
  Spit(dir + "/source.txt", "size 999999 999999\nstart 999999 -99999\nstep 1\n");
  std::string bin = TESSEL_BINARY_DIR;
  ASSERT_EQ(std::system((bin + "/tessel-map build " + Quote(dir + "/source.txt") + " -o " + Quote(dir + "/Maps/e") +
                         " >/dev/null")
                            .c_str()),
            0);
  ASSERT_EQ(std::system(("cd " + Quote(dir) + " && " + bin +
                         "/tessel-render e 400 200 100 --keys none*110 --frame-ms 10 --out frame.png >/dev/null")
                            .c_str()),
            0);
  Image frame;
  ASSERT_TRUE(PngRead(dir + "/frame.png", &frame));
  int lit = 0;
  for (int32_t y = 0; y < frame.height; y++) {
    for (int32_t x = 0; x < frame.width; x++) {
      const uint8_t* p = frame.At(x, y);
      if (p[0] == 0 && p[1] == 0 && p[2] == 0) continue;
      lit++;
      EXPECT_TRUE(x < kOverlayWidth - 2 && y < kOverlayHeight - 2) << "overlay pixel at " << x << "," << y;
    }
  }
  EXPECT_GT(lit, 300);
  std::system(("rm -rf " + Quote(dir)).c_str());
}

class TiledCompareTest : public TiledTest {
 protected:
  // A map of two layers on one 16 x 16 tileset: a full ground and a sparse
  // top layer of flipped and rotated tiles, in the given encoding.
  struct Layered {
    std::string path;
    TilesetPlan plan;
    std::vector<std::vector<uint32_t>> layers;
  };
  Layered WriteLayered(const std::string& name, const std::string& encoding, uint32_t seed) {
    Layered map;
    map.path = dir_ + "/" + name + ".tmx";
    map.plan.name = name + "-tiles";
    map.plan.columns = 6;
    map.plan.rows = 4;
    map.plan.seed = (int32_t)seed;
    Random random{seed};
    map.layers.push_back(RandomCells(&random, kWidth * kHeight, 1, 24, 0, false));
    map.layers.push_back(RandomCells(&random, kWidth * kHeight, 1, 24, 40, true));
    std::string body = TilesetWrite(dir_, map.plan) + LayerXml("ground", kWidth, kHeight, map.layers[0], encoding) +
                       LayerXml("top", kWidth, kHeight, map.layers[1], encoding);
    Spit(map.path, MapXml(kWidth, kHeight, 16, 16, body));
    return map;
  }

  static constexpr int32_t kWidth = 30;
  static constexpr int32_t kHeight = 20;
  // The parallax origin at the centre of a 480 x 320 screen, imported for
  // that screen: Tiled lines parallax layers up around the origin, so its
  // picture, unscrolled, is Tessel's at view (0, 0).
  static constexpr const char* kCentred = "parallaxoriginx=\"240\" parallaxoriginy=\"160\"";
  static constexpr const char* kScreen = "--screen 480 320";
};

TEST_F(TiledCompareTest, TiledDrawsTheWrittenMapsAsTheTestsExpect) {
  TILED_REQUIRE();
  // The maps of every encoding are what the tests think they are: Tiled
  // itself draws them tile for tile, flips included, as DrawLayers does.
  int written = 0;
  for (const char* encoding : {"xml", "csv", "base64", "base64-zlib", "base64-gzip", "base64-zstd"}) {
    Layered map = WriteLayered(std::string("check-") + std::to_string(++written), encoding, 7);
    Image tiled;
    if (!Rasterize(map.path, &tiled)) continue;
    Image drawn = DrawLayers(kWidth, kHeight, map.plan, map.layers);
    ExpectMatch(encoding, tiled, drawn, 0, 0, 0, 1.0);
    // And a wrong flip would show: the same cells without their flags.
    std::vector<std::vector<uint32_t>> unflipped = map.layers;
    for (uint32_t& cell : unflipped[1]) cell &= 0x0FFFFFFFu;
    EXPECT_LT(CompareView(tiled, DrawLayers(kWidth, kHeight, map.plan, unflipped), 0, 0, 0).Rate(), 0.9);
  }
}

// Tiled's example maps, copied (orthogonal-outside unpacked) so that the
// JSON exports can be written beside them with their relative paths intact.
class TiledExampleTest : public TiledTest {
 protected:
  void SetUp() override {
    TiledTest::SetUp();
    if (!HaveTiled()) return;
    ToolRun copy = Shell("cp -r " + std::string(kExamples) + " " + Quote(dir_ + "/ex") + " && chmod -R u+w " +
                         Quote(dir_ + "/ex") + " && gunzip " + Quote(dir_ + "/ex/orthogonal-outside.tmx.gz"));
    ASSERT_EQ(copy.code, 0) << copy.err;
  }

  // The example as TMX and as its JSON export, against one picture of Tiled's
  // (reference: the map Tiled draws it from, when that differs from the source).
  void ExpectExample(const std::string& map, const std::string& reference = "", double least = 0) {
    std::string tmx = dir_ + "/ex/" + map;
    Image picture;
    if (!Rasterize(reference.empty() ? tmx : dir_ + "/ex/" + reference, &picture)) return;
    ExpectImportMatches(tmx, picture, "", 0, least);
    ExpectImportMatches(ExportJson(tmx), picture, "", 0, least);
    // Kept apart, as before composing.
    ExpectImportMatches(tmx, picture, "--layers");
  }

  // A copy of the example without the shapes of its object layers (Tessel
  // cannot draw them, and warns); its tile objects stay. The copy's name.
  std::string WithoutShapes(const std::string& map) {
    std::string text = Slurp(dir_ + "/ex/" + map);
    size_t at = 0;
    int dropped = 0;
    while ((at = text.find("<object ", at)) != std::string::npos) {
      size_t close = text.find('>', at);
      bool single = text[close - 1] == '/';
      size_t end = single ? close + 1 : text.find("</object>", close) + 9;
      if (text.substr(at, close - at).find(" gid=") == std::string::npos) {
        text.erase(at, end - at);
        dropped++;
      } else {
        at = end;
      }
    }
    EXPECT_GT(dropped, 0) << map;
    std::string copy = map.substr(0, map.rfind('.')) + "-tiles.tmx";
    Spit(dir_ + "/ex/" + copy, text);
    return copy;
  }
};

TEST_F(TiledExampleTest, Desert) {
  TILED_REQUIRE();
  ExpectExample("desert.tmx");
}

// Tile objects between whole pixels, flipped ones among them, beside shapes.
// Tiled smooths the objects it draws between whole pixels, Tessel puts them on
// the nearest pixel: their edges differ, 0.2% of the picture.
TEST_F(TiledExampleTest, OrthogonalOutside) {
  TILED_REQUIRE();
  ExpectExample("orthogonal-outside.tmx", WithoutShapes("orthogonal-outside.tmx"), 0.997);
}

TEST_F(TiledExampleTest, Island) {
  TILED_REQUIRE();
  ExpectExample("rpg/island.tmx", WithoutShapes("rpg/island.tmx"));
}

TEST_F(TiledExampleTest, PerspectiveWalls) {
  TILED_REQUIRE();
  // Tiles of 64 x 64 pixels on a grid of 31, shifted left by half a tile.
  ExpectExample("perspective_walls.tmx");
}

// The top layer is half opaque: composed, it shows as in Tiled; kept as a
// layer of its own (--layers) it is drawn opaque with a warning, so that
// picture is Tiled's of the same map with the layer opaque.
TEST_F(TiledExampleTest, SewersWithTheirHalfOpaqueLayer) {
  TILED_REQUIRE();
  ExpectExample("sewers.tmx");
  std::string sewers = Slurp(dir_ + "/ex/sewers.tmx");
  size_t at = sewers.find(" opacity=\"0.49\"");
  ASSERT_NE(at, std::string::npos);
  Spit(dir_ + "/ex/sewers-opaque.tmx", sewers.substr(0, at) + sewers.substr(at + 15));
  Image opaque;
  if (!Rasterize(dir_ + "/ex/sewers-opaque.tmx", &opaque)) return;
  ToolRun run = ExpectImportMatches(dir_ + "/ex/sewers.tmx", opaque, "--layers");
  EXPECT_NE(run.err.find("sewers.tmx: warning:"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("opacity"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("Top"), std::string::npos) << run.err;
}

// Debian ships the sticker-knight maps and their tileset gzipped: imported
// as they lie (X missing, X.gz beside it), against Tiled's pictures of
// unpacked copies. Tile objects scaled, rotated, between whole pixels or made
// from templates are drawn differently or not at all (with a warning each),
// so these maps match less closely than those of plain tiles.
TEST_F(TiledExampleTest, StickerKnightReadFromGzippedFiles) {
  TILED_REQUIRE();
  ToolRun copy = Shell("cp -r " + Quote(dir_ + "/ex/sticker-knight") + " " + Quote(dir_ + "/plain") +
                       " && gunzip -r " + Quote(dir_ + "/plain"));
  ASSERT_EQ(copy.code, 0) << copy.err;
  // The share of pixels that match, composed and with --layers: sandbox has
  // a large rotated object and objects from templates that are left out,
  // the title screen scaled objects whose smoothed edges differ.
  struct Example {
    const char* path;
    uint32_t background;
    double composed, layers;
  } examples[] = {{"map/sandbox.tmx", 0x27b99a, 0.975, 0.93},
                  {"map/sandbox2.tmx", 0x35495e, 0.999, 0.97},
                  {"ui/title.json", 0x3b97d3, 0.94, 0.95}};
  for (const Example& example : examples) {
    Image picture;
    if (!Rasterize(dir_ + "/plain/" + example.path, &picture)) continue;
    std::string source = dir_ + "/ex/sticker-knight/" + example.path;
    ExpectImportMatches(source, picture, "", example.background, example.composed);
    ExpectImportMatches(source, picture, "--layers", example.background, example.layers);
  }
}

TEST_F(TiledExampleTest, ScrolledViewMatchesTheSamePartOfTiledsPicture) {
  TILED_REQUIRE();
  std::string tmx = dir_ + "/ex/desert.tmx";
  Image picture;
  if (!Rasterize(tmx, &picture)) return;
  ToolRun run = Import(tmx, dir_ + "/out", "--step 8");
  ASSERT_EQ(run.code, 0) << run.err;
  // 30 steps right and 20 down, then 200 right: the view stops at the
  // right edge, 1280 - 400 = 880.
  for (const char* keys : {"right*30,down*20", "right*200,down*3"}) {
    Image frame;
    std::string trace;
    if (!Render(dir_ + "/out", "desert", 400, 300, &frame, std::string("--trace --keys ") + keys, 100, &trace)) continue;
    int viewX = -1, viewY = -1;
    size_t last = trace.rfind("frame ");
    ASSERT_NE(last, std::string::npos);
    ASSERT_EQ(std::sscanf(trace.c_str() + last, "frame %*d view %d %d", &viewX, &viewY), 2) << trace;
    EXPECT_TRUE(viewX > 0 && viewY > 0);
    ExpectMatch(keys, picture, frame, viewX, viewY, 0);
  }
}

class TiledMadeMapTest : public TiledCompareTest {
 protected:
  // Tiled's pictures of the same map with only one layer shown each, put
  // together as Tessel draws them at a view: layer i moved by view x factor i,
  // rounded, over a background; transparent where nothing is drawn.
  Image ViewComposite(const std::vector<Image>& layers, const std::vector<float>& factors, int32_t viewX,
                      int32_t viewY, int32_t width, int32_t height) {
    Image out = ImageMake(width, height, 0);
    for (size_t i = 0; i < layers.size(); i++) {
      int32_t ox = (int32_t)std::nearbyint((double)viewX * factors[i]);
      int32_t oy = (int32_t)std::nearbyint((double)viewY * factors[i]);
      for (int32_t y = 0; y < height; y++) {
        for (int32_t x = 0; x < width; x++) {
          int32_t sx = x + ox, sy = y + oy;
          if (sx < 0 || sy < 0 || sx >= layers[i].width || sy >= layers[i].height) continue;
          const uint8_t* p = layers[i].At(sx, sy);
          if (p[3] == 255) std::memcpy(out.At(x, y), p, 4);
          else if (p[3] != 0) ImageSet(&out, x, y, 0, 0, 0, 128);  // left out, as in Tiled's own picture
        }
      }
    }
    return out;
  }

  // Imports `path`, scrolls a width x height view with `keys` to (viewX, viewY)
  // and compares it with Tiled's one-layer pictures of `map(i)` put together.
  void ExpectScrolledAsTiled(const std::string& label, const std::string& path, const std::string& name,
                             const std::function<std::string(int)>& map, const std::vector<float>& factors,
                             const std::string& step, const std::string& keys, int32_t viewX, int32_t viewY,
                             int32_t width, int32_t height) {
    std::vector<Image> layers(factors.size());
    for (size_t i = 0; i < factors.size(); i++) {
      std::string one = dir_ + "/" + name + "-" + std::to_string(i) + ".tmx";
      Spit(one, map((int)i));
      if (!Rasterize(one, &layers[i])) return;
    }
    ToolRun run = Import(path, dir_ + "/scrolled", "--step " + step + " " + kScreen);
    ASSERT_EQ(run.code, 0) << run.err;
    Image frame;
    std::string trace;
    if (!Render(dir_ + "/scrolled", name, width, height, &frame, "--trace --keys " + keys, 100, &trace)) return;
    std::string view = "view " + std::to_string(viewX) + " " + std::to_string(viewY);
    EXPECT_NE(trace.find(view), std::string::npos) << trace.substr(trace.size() > 300 ? trace.size() - 300 : 0);
    ExpectMatch(label, ViewComposite(layers, factors, viewX, viewY, width, height), frame, 0, 0, 0);
  }
};

TEST_F(TiledMadeMapTest, EveryLayerEncodingWithFlipsMatches) {
  TILED_REQUIRE();
  const char* encodings[][2] = {{"xml", "enc-xml"},           {"csv", "enc-csv"},
                                 {"base64", "enc-base64"},     {"base64-zlib", "enc-zlib"},
                                 {"base64-gzip", "enc-gzip"},  {"base64-zstd", "enc-zstd"}};
  for (const auto& encoding : encodings) {
    ExpectSameAsTiled(WriteLayered(encoding[1], encoding[0], 11).path);
  }
  // The JSON form of two of them.
  ExpectSameAsTiled(ExportJson(dir_ + "/enc-csv.tmx"));
  ExpectSameAsTiled(ExportJson(dir_ + "/enc-gzip.tmx"));
}

TEST_F(TiledMadeMapTest, InfiniteMapOfChunksAroundTheOrigin) {
  TILED_REQUIRE();
  TilesetPlan plan;
  plan.name = "chunky";
  plan.columns = 6;
  plan.rows = 4;
  plan.seed = 3;
  Random random{5};
  // Chunks of 16 x 16 cells at (-16, -16), (16, -16) and (0, 0) in one layer,
  // (-16, 0) in a second; the map is their bounding box, 48 x 32 cells.
  auto chunk = [&](int32_t x, int32_t y, const std::string& encoding, uint32_t emptyPercent) {
    std::vector<uint32_t> cells = RandomCells(&random, 256, 1, 24, emptyPercent, emptyPercent > 0);
    std::string data = TmxData(cells, encoding);
    size_t open = data.find('>') + 1;
    return "<chunk x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\" width=\"16\" height=\"16\">" +
           data.substr(open, data.rfind("</data>") - open) + "</chunk>\n";
  };
  std::string body = TilesetWrite(dir_, plan) + "<layer name=\"ground\" width=\"48\" height=\"32\">\n" +
                     "<data encoding=\"csv\">\n" + chunk(-16, -16, "csv", 0) + chunk(16, -16, "csv", 0) +
                     chunk(0, 0, "csv", 0) + "</data>\n</layer>\n" +
                     "<layer name=\"top\" width=\"48\" height=\"32\">\n<data encoding=\"base64\" compression=\"zlib\">\n" +
                     chunk(-16, 0, "base64-zlib", 60) + "</data>\n</layer>\n";
  std::string path = dir_ + "/infinite.tmx";
  Spit(path, MapXml(48, 32, 16, 16, body, "infinite=\"1\""));
  Image picture;
  if (!Rasterize(path, &picture)) return;
  EXPECT_EQ(picture.width, 48 * 16);
  EXPECT_EQ(picture.height, 32 * 16);
  ExpectImportMatches(path, picture);
  ExpectImportMatches(ExportJson(path), picture);
}

TEST_F(TiledMadeMapTest, SeveralTilesetsAndImageFormatsInOneLayer) {
  TILED_REQUIRE();
  // PNG with margin and spacing, BMP keyed by its trans colour, GIF, JPEG;
  // gids 1-16, 17-32, 33-48, 49-64.
  TilesetPlan plans[4];
  const char* formats[4] = {"png", "bmp", "gif", "jpg"};
  std::string body;
  for (int i = 0; i < 4; i++) {
    plans[i].name = std::string("set-") + formats[i];
    plans[i].firstGid = 1 + 16 * (uint32_t)i;
    plans[i].seed = i + 1;
    plans[i].format = formats[i];
    plans[i].keyed = i == 1;
    if (i == 0) {
      plans[i].margin = 3;
      plans[i].spacing = 2;
    }
    body += TilesetWrite(dir_, plans[i]);
  }
  Random random{9};
  std::vector<uint32_t> ground = RandomCells(&random, kWidth * kHeight, 49, 16, 0, false);
  std::vector<uint32_t> mixed = RandomCells(&random, kWidth * kHeight, 1, 48, 30, false);
  body += LayerXml("ground", kWidth, kHeight, ground, "base64-zlib") +
          LayerXml("mixed", kWidth, kHeight, mixed, "csv");
  std::string path = dir_ + "/formats.tmx";
  Spit(path, MapXml(kWidth, kHeight, 16, 16, body));
  ExpectSameAsTiled(path);
}

TEST_F(TiledMadeMapTest, LargeTilesWithTileAndLayerOffsets) {
  TILED_REQUIRE();
  TilesetPlan ground;
  ground.name = "ground";
  ground.columns = 6;
  ground.rows = 4;
  TilesetPlan tall;
  tall.name = "tall";
  tall.firstGid = 25;
  tall.tileWidth = 32;
  tall.tileHeight = 48;
  tall.columns = 3;
  tall.rows = 2;
  tall.seed = 4;
  tall.extra = "<tileoffset x=\"4\" y=\"-6\"/>\n";
  Random random{21};
  std::vector<uint32_t> base = RandomCells(&random, kWidth * kHeight, 1, 24, 0, false);
  std::vector<uint32_t> trees = RandomCells(&random, kWidth * kHeight, 25, 6, 85, false);
  std::vector<uint32_t> more = RandomCells(&random, kWidth * kHeight, 25, 6, 90, false);
  std::string body = TilesetWrite(dir_, ground) + TilesetWrite(dir_, tall) +
                     LayerXml("base", kWidth, kHeight, base, "csv") +
                     LayerXml("trees", kWidth, kHeight, trees, "csv", "offsetx=\"8\" offsety=\"5\"") +
                     LayerXml("more", kWidth, kHeight, more, "csv", "offsetx=\"-3\" offsety=\"16\"");
  std::string path = dir_ + "/tall.tmx";
  Spit(path, MapXml(kWidth, kHeight, 16, 16, body));
  // Tiled's picture (and so the imported map) grows by the layer offsets:
  // 3 pixels left, 8 right, 16 down.
  Image picture;
  if (!Rasterize(path, &picture)) return;
  EXPECT_EQ(picture.width, kWidth * 16 + 11);
  EXPECT_EQ(picture.height, kHeight * 16 + 16);
  ExpectImportMatches(path, picture);
}

TEST_F(TiledMadeMapTest, ImageCollectionTileset) {
  TILED_REQUIRE();
  // Tiles with pictures of their own, of three sizes (bottom-left aligned on the grid).
  std::string tiles;
  const int32_t sizes[3][2] = {{16, 16}, {32, 32}, {16, 40}};
  for (int32_t id = 0; id < 6; id++) {
    TilesetPlan one;
    one.tileWidth = sizes[id % 3][0];
    one.tileHeight = sizes[id % 3][1];
    one.columns = 1;
    one.rows = 1;
    one.seed = id;
    std::string file = "piece" + std::to_string(id) + ".png";
    PngWrite(dir_ + "/" + file, TilesetImage(one));
    tiles += "<tile id=\"" + std::to_string(id) + "\"><image source=\"" + file + "\" width=\"" +
             std::to_string(one.tileWidth) + "\" height=\"" + std::to_string(one.tileHeight) + "\"/></tile>\n";
  }
  TilesetPlan ground;
  ground.name = "ground";
  ground.firstGid = 7;
  ground.columns = 6;
  ground.rows = 4;
  Random random{33};
  std::vector<uint32_t> base = RandomCells(&random, kWidth * kHeight, 7, 24, 0, false);
  std::vector<uint32_t> pieces = RandomCells(&random, kWidth * kHeight, 1, 6, 70, true);
  std::string body = "<tileset firstgid=\"1\" name=\"pieces\" tilewidth=\"32\" tileheight=\"40\" tilecount=\"6\" "
                     "columns=\"0\">\n<grid orientation=\"orthogonal\" width=\"1\" height=\"1\"/>\n" +
                     tiles + "</tileset>\n" + TilesetWrite(dir_, ground) +
                     LayerXml("base", kWidth, kHeight, base, "base64") +
                     LayerXml("pieces", kWidth, kHeight, pieces, "base64");
  std::string path = dir_ + "/collection.tmx";
  Spit(path, MapXml(kWidth, kHeight, 16, 16, body));
  ExpectSameAsTiled(path);
  ExpectSameAsTiled(ExportJson(path));
}

TEST_F(TiledMadeMapTest, OpaqueBlackStaysVisibleAndTheBackgroundColourShows) {
  TILED_REQUIRE();
  // Every tile has a block of opaque black; over the lit ground it must stay
  // black, not let the ground through. Empty cells show the map's colour.
  Layered map = WriteLayered("black", "csv", 17);
  std::string text = Slurp(map.path);
  text.replace(text.find("renderorder"), 0, "backgroundcolor=\"#2060a0\" ");
  // No ground in the left half: the background shows there.
  size_t data = text.find("<data encoding=\"csv\">") + 22;
  std::vector<uint32_t> ground = map.layers[0];
  for (int32_t y = 0; y < kHeight; y++) {
    for (int32_t x = 0; x < kWidth / 2; x++) ground[(size_t)y * kWidth + x] = 0;
  }
  std::string csv = TmxData(ground, "csv");
  size_t end = text.find("</data>", data);
  text.replace(data, end - data, csv.substr(22, csv.rfind("</data>") - 22));
  Spit(map.path, text);
  ExpectSameAsTiled(map.path, "", "", 0x2060a0);
}

TEST_F(TiledMadeMapTest, ImageLayersFixedAndScrolling) {
  TILED_REQUIRE();
  // A picture as large as the map, fixed (parallax 0), under the tiles, and a
  // smaller one that scrolls with the map, placed off the grid.
  TilesetPlan sky;
  sky.tileWidth = kWidth * 16;
  sky.tileHeight = kHeight * 16;
  sky.columns = 1;
  sky.rows = 1;
  sky.seed = 2;
  PngWrite(dir_ + "/sky.png", TilesetImage(sky));
  TilesetPlan sign;
  sign.tileWidth = 56;
  sign.tileHeight = 40;
  sign.columns = 1;
  sign.rows = 1;
  sign.seed = 5;
  PngWrite(dir_ + "/sign.png", TilesetImage(sign));
  TilesetPlan plan;
  plan.name = "tiles";
  plan.columns = 6;
  plan.rows = 4;
  Random random{41};
  std::vector<uint32_t> top = RandomCells(&random, kWidth * kHeight, 1, 24, 75, false);
  auto map = [&](int only) {
    auto shown = [&](int layer) { return only < 0 || only == layer ? "" : " visible=\"0\""; };
    std::string body = TilesetWrite(dir_, plan) + "<imagelayer name=\"sky\" parallaxx=\"0\" parallaxy=\"0\"" +
                       shown(0) + "><image source=\"sky.png\" width=\"" + std::to_string(sky.tileWidth) +
                       "\" height=\"" + std::to_string(sky.tileHeight) + "\"/></imagelayer>\n" +
                       LayerXml("top", kWidth, kHeight, top, "csv", shown(1)) +
                       "<imagelayer name=\"sign\" offsetx=\"203\" offsety=\"117\"" + shown(2) +
                       "><image source=\"sign.png\" width=\"56\" height=\"40\"/></imagelayer>\n";
    return MapXml(kWidth, kHeight, 16, 16, body, kCentred);
  };
  std::string path = dir_ + "/images.tmx";
  Spit(path, map(-1));
  ExpectSameAsTiled(path, kScreen);
  ExpectSameAsTiled(ExportJson(path), kScreen);

  // An image repeated across the map from an offset off the grid.
  std::string repeated = dir_ + "/repeated.tmx";
  Spit(repeated, MapXml(kWidth, kHeight, 16, 16,
                        TilesetWrite(dir_, plan) + LayerXml("top", kWidth, kHeight, top, "csv") +
                            "<imagelayer name=\"sign\" offsetx=\"37\" offsety=\"-11\" repeatx=\"1\" repeaty=\"1\">"
                            "<image source=\"sign.png\" width=\"56\" height=\"40\"/></imagelayer>\n"));
  ExpectSameAsTiled(repeated);

  // Scrolled: the sky stays where it is, the rest moves with the view.
  ExpectScrolledAsTiled("scrolled image layers", path, "images", map, {0.0f, 1.0f, 1.0f}, "4", "right*20,down*10", 80,
                        40, 300, 200);
}

TEST_F(TiledMadeMapTest, GroupLayersCombineVisibilityOffsetsAndParallax) {
  TILED_REQUIRE();
  TilesetPlan plan;
  plan.name = "tiles";
  plan.columns = 6;
  plan.rows = 4;
  Random random{51};
  std::vector<uint32_t> base = RandomCells(&random, kWidth * kHeight, 1, 24, 0, false);
  std::vector<uint32_t> near = RandomCells(&random, kWidth * kHeight, 1, 24, 70, false);
  std::vector<uint32_t> far = RandomCells(&random, kWidth * kHeight, 1, 24, 70, false);
  std::vector<uint32_t> gone = RandomCells(&random, kWidth * kHeight, 1, 24, 0, false);
  // base; group "outer" (offset 16,32, parallax 0.5) holding "far" (offset
  // 8,-16, parallax 0.5: 0.25 in all) and a hidden group; then "near" at 1.5.
  auto map = [&](int only) {
    auto shown = [&](int layer) { return only < 0 || only == layer ? "" : " visible=\"0\""; };
    std::string body = TilesetWrite(dir_, plan) + LayerXml("base", kWidth, kHeight, base, "csv", shown(0)) +
                       "<group name=\"outer\" offsetx=\"16\" offsety=\"32\" parallaxx=\"0.5\" parallaxy=\"0.5\">\n" +
                       LayerXml("far", kWidth, kHeight, far, "csv",
                                std::string("offsetx=\"8\" offsety=\"-16\" parallaxx=\"0.5\" parallaxy=\"0.5\"") +
                                    shown(1)) +
                       "<group name=\"hidden\" visible=\"0\">\n" + LayerXml("gone", kWidth, kHeight, gone, "csv") +
                       "</group>\n</group>\n" +
                       LayerXml("near", kWidth, kHeight, near, "csv",
                                std::string("parallaxx=\"1.5\" parallaxy=\"1.5\"") + shown(2));
    return MapXml(kWidth, kHeight, 16, 16, body, kCentred);
  };
  std::string path = dir_ + "/groups.tmx";
  Spit(path, map(-1));
  ExpectSameAsTiled(path, kScreen);
  ExpectSameAsTiled(ExportJson(path), kScreen);

  ExpectScrolledAsTiled("scrolled parallax", path, "groups", map, {1.0f, 0.25f, 1.5f}, "6", "right*7,down*5", 42, 30,
                        240, 160);
}

// Tiles with soft edges and shadows: every tile's alpha falls off towards
// its right and bottom (a shadow), with a ring of half-transparent pixels,
// so stacks of them blend as only a composed import can show.
Image SoftTileset(const TilesetPlan& plan, const Image& opaque) {
  Image soft = opaque;
  for (int32_t y = 0; y < soft.height; y++) {
    for (int32_t x = 0; x < soft.width; x++) {
      int32_t tx = x % plan.tileWidth, ty = y % plan.tileHeight;
      uint8_t* p = soft.At(x, y);
      if (p[3] == 0) continue;
      int32_t a = 255 - (tx + ty) * 255 / (plan.tileWidth + plan.tileHeight);
      if (tx == 0 || ty == 0) a = 90;
      p[3] = (uint8_t)std::max(12, a);
      // Shadows are dark, with colour left in them.
      if ((tx + ty) % 3 == 0) p[0] = p[1] = p[2] = (uint8_t)(p[0] / 8);
    }
  }
  return soft;
}

// The tint as Tiled applies it to a tile's pixels: the colour multiplied by
// the tint over the tint itself where the pixel is uncovered, the pixel's
// alpha times the tint's. tint: 0xAARRGGBB.
Image Tinted(const Image& image, uint32_t tint) {
  Image out = image;
  double t[3] = {(tint >> 16 & 255) / 255.0, (tint >> 8 & 255) / 255.0, (tint & 255) / 255.0};
  double ta = (tint >> 24) / 255.0;
  for (size_t i = 0; i < out.rgba.size(); i += 4) {
    double a = out.rgba[i + 3] / 255.0;
    for (int c = 0; c < 3; c++) {
      double v = 255.0 * t[c] * (out.rgba[i + c] / 255.0 * a + 1.0 - a);
      out.rgba[i + c] = (uint8_t)std::lround(std::min(255.0, v));
    }
    out.rgba[i + 3] = (uint8_t)std::lround(255.0 * a * ta);
  }
  return out;
}

TEST_F(TiledMadeMapTest, SoftPixelsOpacityAndTintComposeAsTiledDrawsThem) {
  TILED_REQUIRE();
  TilesetPlan ground;
  ground.name = "ground";
  ground.columns = 6;
  ground.rows = 4;
  TilesetPlan soft = ground;
  soft.name = "soft";
  soft.firstGid = 25;
  soft.seed = 3;
  std::string softSet = TilesetWrite(dir_, soft);
  PngWrite(dir_ + "/soft.png", SoftTileset(soft, TilesetImage(soft)));
  // The tinted layer's reference: the same tiles tinted beforehand (this Tiled predates tint colours).
  const uint32_t tint = 0xC0FF9040;
  TilesetPlan tinted = soft;
  tinted.name = "tinted";
  tinted.firstGid = 49;
  std::string tintedSet = TilesetWrite(dir_, tinted);
  PngWrite(dir_ + "/tinted.png", Tinted(SoftTileset(soft, TilesetImage(soft)), tint));
  Random random{161};
  // Ground with holes (the background colour shows through soft pixels
  // there), two soft layers, a group at 0.6 holding a layer at 0.5, a tinted one.
  std::vector<uint32_t> base = RandomCells(&random, kWidth * kHeight, 1, 24, 25, false);
  std::vector<uint32_t> shadows = RandomCells(&random, kWidth * kHeight, 25, 24, 40, true);
  std::vector<uint32_t> more = RandomCells(&random, kWidth * kHeight, 25, 24, 60, true);
  std::vector<uint32_t> glass = RandomCells(&random, kWidth * kHeight, 25, 24, 50, false);
  std::vector<uint32_t> coloured = RandomCells(&random, kWidth * kHeight, 25, 24, 70, false);
  auto map = [&](bool reference) {
    std::vector<uint32_t> tintCells = coloured;
    if (reference) {
      for (uint32_t& cell : tintCells) cell = cell ? cell + 24 : 0;
    }
    return MapXml(kWidth, kHeight, 16, 16,
                  TilesetWrite(dir_, ground) + softSet + tintedSet + LayerXml("base", kWidth, kHeight, base, "csv") +
                      LayerXml("shadows", kWidth, kHeight, shadows, "csv") +
                      LayerXml("more", kWidth, kHeight, more, "base64-zlib") +
                      "<group name=\"fx\" opacity=\"0.6\">\n" +
                      LayerXml("glass", kWidth, kHeight, glass, "csv", "opacity=\"0.5\"") + "</group>\n" +
                      LayerXml("coloured", kWidth, kHeight, tintCells, "csv",
                               reference ? "" : "tintcolor=\"#c0ff9040\""),
                  "backgroundcolor=\"#203040\"");
  };
  std::string path = dir_ + "/soft.tmx", reference = dir_ + "/soft-reference.tmx";
  Spit(path, map(false));
  Spit(reference, map(true));
  Image picture;
  if (!Rasterize(reference, &picture)) return;
  ToolRun run = ExpectImportMatches(path, picture, "", 0x203040);
  EXPECT_NE(run.out.find("5 layers composed into 1 layer"), std::string::npos) << run.out;
  EXPECT_EQ(run.err, "");
  ExpectImportMatches(ExportJson(path), picture, "", 0x203040);
  // Kept apart, soft pixels, opacity and tint are drawn opaque or left out:
  // on these tiles, soft nearly everywhere, a tenth of the picture matches;
  // each is named.
  run = ExpectImportMatches(path, picture, "--layers", 0x203040, 0.1);
  for (const char* word : {"half-transparent", "opacity below 1", "tint"}) {
    EXPECT_NE(run.err.find(word), std::string::npos) << word << "\n" << run.err;
  }

  // The soft layers above one of another scroll factor: they cannot be exact
  // there, so alpha 128 and above is drawn, the rest left out, with a warning
  // (and, on these tiles, a tenth of the picture matching).
  std::string above = dir_ + "/above.tmx";
  std::string text = map(true);
  text.replace(text.find("<layer name=\"shadows\""), 0,
               LayerXml("far", kWidth, kHeight, RandomCells(&random, kWidth * kHeight, 1, 24, 80, false), "csv",
                        "parallaxx=\"0.5\" parallaxy=\"0.5\""));
  text.replace(text.find("backgroundcolor"), 0, std::string(kCentred) + " ");
  Spit(above, text);
  Image abovePicture;
  if (!Rasterize(above, &abovePicture)) return;
  run = ExpectImportMatches(above, abovePicture, kScreen, 0x203040, 0.1);
  EXPECT_NE(run.err.find("layers \"shadows\" to \"coloured\": above a layer of another scroll factor, "
                         "half-transparent pixels are drawn opaque (alpha 128 and above) or left out"),
            std::string::npos)
      << run.err;
}

TEST_F(TiledMadeMapTest, AnimatedTilesUnderATranslucentLayerAnimateComposed) {
  TILED_REQUIRE();
  // Tile 0 runs through 5, 2, 9 and tile 1 through 20, 21 (100 ms each):
  // under a soft layer at 0.7, composed cells run over 6 steps.
  TilesetPlan plan;
  plan.name = "anim";
  plan.columns = 6;
  plan.rows = 4;
  plan.extra =
      "<tile id=\"0\"><animation><frame tileid=\"5\" duration=\"100\"/><frame tileid=\"2\" duration=\"100\"/>"
      "<frame tileid=\"9\" duration=\"100\"/></animation></tile>\n"
      "<tile id=\"1\"><animation><frame tileid=\"20\" duration=\"100\"/><frame tileid=\"21\" duration=\"100\"/>"
      "</animation></tile>\n";
  TilesetPlan soft;
  soft.name = "soft";
  soft.firstGid = 25;
  soft.columns = 6;
  soft.rows = 4;
  soft.seed = 3;
  std::string softSet = TilesetWrite(dir_, soft);
  PngWrite(dir_ + "/soft.png", SoftTileset(soft, TilesetImage(soft)));
  Random random{171};
  std::vector<uint32_t> base = RandomCells(&random, kWidth * kHeight, 3, 20, 0, false);
  std::vector<uint32_t> moving = RandomCells(&random, kWidth * kHeight, 1, 2, 40, true);
  std::vector<uint32_t> veil = RandomCells(&random, kWidth * kHeight, 25, 24, 30, false);
  std::string path = dir_ + "/veiled.tmx";
  Spit(path, MapXml(kWidth, kHeight, 16, 16,
                    TilesetWrite(dir_, plan) + softSet + LayerXml("base", kWidth, kHeight, base, "csv") +
                        LayerXml("moving", kWidth, kHeight, moving, "csv") +
                        LayerXml("veil", kWidth, kHeight, veil, "csv", "opacity=\"0.7\"")));
  ToolRun run = Import(path, dir_ + "/out");
  ASSERT_EQ(run.code, 0) << run.err;
  for (int32_t frames = 1; frames <= 7; frames++) {
    Image picture;
    if (!Rasterize(path, &picture, "--advance-animations " + std::to_string(frames * 100 + 50))) return;
    Image frame;
    std::string keys = frames == 1 ? "" : " --keys none*" + std::to_string(frames - 1);
    if (!Render(dir_ + "/out", "veiled", picture.width, picture.height, &frame, "--frame-ms 100" + keys)) return;
    ExpectMatch("veiled after " + std::to_string(frames * 100) + " ms", picture, frame, 0, 0, 0, 0.999, true);
  }
}

// Layers of scroll factors 0, 0.5, 1 and 1.5 around a parallax origin,
// imported for two screen sizes and scrolled to several views: every layer
// sits where Tiled's own view puts it, shifted by (1 - factor) x (the view's
// centre - the origin), each layer's pixels taken from Tiled's picture of it
// alone. (Origin, screens and views are even, so no position is between pixels.)
TEST_F(TiledMadeMapTest, ParallaxLayersSitWhereTiledsViewPutsThem) {
  TILED_REQUIRE();
  const float factors[4] = {0.0f, 0.5f, 1.0f, 1.5f};
  const int32_t originX = 100, originY = 60;
  const int32_t cols = 40, rows = 30;
  std::vector<TilesetPlan> plans(4);
  std::vector<std::vector<uint32_t>> cells(4);
  Random random{181};
  std::string sets;
  for (int i = 0; i < 4; i++) {
    plans[(size_t)i].name = "p" + std::to_string(i);
    plans[(size_t)i].firstGid = 1 + 24 * (uint32_t)i;
    plans[(size_t)i].columns = 6;
    plans[(size_t)i].rows = 4;
    plans[(size_t)i].seed = i + 1;
    sets += TilesetWrite(dir_, plans[(size_t)i]);
    cells[(size_t)i] = RandomCells(&random, cols * rows, plans[(size_t)i].firstGid, 24, i == 0 ? 0 : 70, false);
  }
  auto map = [&](int only) {
    std::string body = sets;
    for (int i = 0; i < 4; i++) {
      std::string f = std::to_string(factors[i]);
      body += LayerXml("l" + std::to_string(i), cols, rows, cells[(size_t)i], "csv",
                       "parallaxx=\"" + f + "\" parallaxy=\"" + f + "\"" +
                           (only < 0 || only == i ? "" : " visible=\"0\""));
    }
    return MapXml(cols, rows, 16, 16, body,
                  "parallaxoriginx=\"" + std::to_string(originX) + "\" parallaxoriginy=\"" + std::to_string(originY) + "\"");
  };
  std::string path = dir_ + "/parallax.tmx";
  Spit(path, map(-1));
  std::vector<Image> alone(4);
  for (int i = 0; i < 4; i++) {
    std::string one = dir_ + "/parallax-" + std::to_string(i) + ".tmx";
    Spit(one, map(i));
    if (!Rasterize(one, &alone[(size_t)i])) return;
  }
  const int32_t screens[2][2] = {{320, 240}, {256, 160}};
  for (const auto& screen : screens) {
    std::string out = dir_ + "/parallax-" + std::to_string(screen[0]);
    ToolRun run = Import(path, out, "--step 4 --screen " + std::to_string(screen[0]) + " " + std::to_string(screen[1]));
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.out.find("tessel parallax " + std::to_string(screen[0]) + " " + std::to_string(screen[1])),
              std::string::npos)
        << run.out;
    for (const char* keys : {"none*2", "right*10,down*6", "right*30,down*20", "right*60,down*50"}) {
      Image frame;
      std::string trace;
      if (!Render(out, "parallax", screen[0], screen[1], &frame, std::string("--trace --keys ") + keys, 100, &trace)) {
        continue;
      }
      int32_t viewX = -1, viewY = -1;
      size_t last = trace.rfind("frame ");
      ASSERT_NE(last, std::string::npos);
      ASSERT_EQ(std::sscanf(trace.c_str() + last, "frame %*d view %d %d", &viewX, &viewY), 2) << trace;
      // Tiled's view: centre C = view + screen / 2; layer pixel p shows at p + (1 - f)(C - origin) - view.
      Image want = ImageMake(screen[0], screen[1], 0);
      for (int i = 0; i < 4; i++) {
        double f = factors[i];
        int32_t dx = (int32_t)std::lround((1 - f) * (viewX + screen[0] / 2 - originX)) - viewX;
        int32_t dy = (int32_t)std::lround((1 - f) * (viewY + screen[1] / 2 - originY)) - viewY;
        const Image& layer = alone[(size_t)i];
        for (int32_t y = 0; y < screen[1]; y++) {
          for (int32_t x = 0; x < screen[0]; x++) {
            int32_t sx = x - dx, sy = y - dy;
            if (sx < 0 || sy < 0 || sx >= layer.width || sy >= layer.height) continue;
            if (layer.At(sx, sy)[3] == 255) std::memcpy(want.At(x, y), layer.At(sx, sy), 4);
          }
        }
      }
      ExpectMatch(std::to_string(screen[0]) + "x" + std::to_string(screen[1]) + " at view " +
                      std::to_string(viewX) + "," + std::to_string(viewY),
                  want, frame, 0, 0, 0, 0.999);
    }
  }
}

TEST_F(TiledMadeMapTest, MapsSmallerThanTheOverlayStartBelowIt) {
  TILED_REQUIRE();
  // 192 x 64 pixels: the run command's screen leaves room for the overlay
  // above the map, and the whole map shows there as in Tiled's picture.
  TilesetPlan plan;
  plan.name = "tiles";
  plan.columns = 6;
  plan.rows = 4;
  Random random{191};
  std::string path = dir_ + "/small.tmx";
  Spit(path, MapXml(12, 4, 16, 16,
                    TilesetWrite(dir_, plan) +
                        LayerXml("ground", 12, 4, RandomCells(&random, 48, 1, 24, 0, true), "csv")));
  Image picture;
  if (!Rasterize(path, &picture)) return;
  ToolRun run = Import(path, dir_ + "/small");
  ASSERT_EQ(run.code, 0) << run.err;
  ASSERT_NE(run.out.find("tessel small 240 144 100"), std::string::npos) << run.out;
  Image frame;
  if (!Render(dir_ + "/small", "small", 240, 144, &frame)) return;
  ExpectMatch("small map below the overlay", picture, frame, 0, -80, 0, 0.999, true);
}

TEST_F(TiledMadeMapTest, AnimationShowsTheFrameTiledShowsAfterTheSameTime) {
  TILED_REQUIRE();
  // Tile 0 runs through tiles 5, 2, 9, 14 and tile 1 through 20, 21, 22, 100
  // ms each; their cells, some flipped, lie among still tiles.
  TilesetPlan plan;
  plan.name = "anim";
  plan.columns = 6;
  plan.rows = 4;
  plan.extra =
      "<tile id=\"0\"><animation><frame tileid=\"5\" duration=\"100\"/><frame tileid=\"2\" duration=\"100\"/>"
      "<frame tileid=\"9\" duration=\"100\"/><frame tileid=\"14\" duration=\"100\"/></animation></tile>\n"
      "<tile id=\"1\"><animation><frame tileid=\"20\" duration=\"100\"/><frame tileid=\"21\" duration=\"100\"/>"
      "<frame tileid=\"22\" duration=\"100\"/></animation></tile>\n";
  Random random{61};
  std::vector<uint32_t> base = RandomCells(&random, kWidth * kHeight, 3, 20, 0, false);
  std::vector<uint32_t> moving = RandomCells(&random, kWidth * kHeight, 1, 2, 40, true);
  std::string body = TilesetWrite(dir_, plan) + LayerXml("base", kWidth, kHeight, base, "csv") +
                     LayerXml("moving", kWidth, kHeight, moving, "base64-zlib");
  std::string path = dir_ + "/anim.tmx";
  Spit(path, MapXml(kWidth, kHeight, 16, 16, body));
  ToolRun run = Import(path, dir_ + "/out");
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("100"), std::string::npos) << "the suggested interval\n" << run.out;

  // The clock starts at 0 and moves one frame time before each frame; one
  // step per interval reached. 16 ms: no step yet; 100 ms frames: a step
  // each, so the f-th frame, at f x 100 ms, shows the frame Tiled shows from
  // just after f x 100 ms (Tiled moves on once a frame's time has passed).
  struct Moment {
    const char* args;
    int32_t advance;
  } moments[] = {{"--frame-ms 16", 16}, {"--frame-ms 100", 150}, {"--frame-ms 100 --keys none*2", 350},
                 {"--frame-ms 100 --keys none*4", 550}, {"--frame-ms 100 --keys none*10", 1150}};
  std::vector<Image> pictures;
  for (const Moment& moment : moments) {
    Image picture;
    if (!Rasterize(path, &picture, "--advance-animations " + std::to_string(moment.advance))) return;
    Image frame;
    if (!Render(dir_ + "/out", "anim", picture.width, picture.height, &frame, moment.args)) return;
    ExpectMatch(std::string("animation at ") + std::to_string(moment.advance) + " ms", picture, frame, 0, 0, 0);
    pictures.push_back(picture);
  }
  // The moments show different frames, so a stuck animation would fail.
  for (size_t i = 1; i < 4; i++) {
    EXPECT_LT(CompareView(pictures[0], pictures[i], 0, 0, 0).Rate(), 0.95) << i;
  }
}

TEST_F(TiledMadeMapTest, EveryRenderOrderOfOverlappingTiles) {
  TILED_REQUIRE();
  // A dense layer of 32 x 48 tiles on a 16 x 16 grid: every cell overlaps
  // its neighbours, so the order the cells are drawn in shows.
  TilesetPlan tall;
  tall.name = "tall";
  tall.tileWidth = 32;
  tall.tileHeight = 48;
  tall.columns = 3;
  tall.rows = 2;
  tall.seed = 4;
  Random random{71};
  std::vector<uint32_t> cells = RandomCells(&random, kWidth * kHeight, 1, 6, 10, false);
  std::string body = TilesetWrite(dir_, tall) + LayerXml("dense", kWidth, kHeight, cells, "csv");
  std::vector<Image> pictures;
  for (const char* order : {"right-down", "right-up", "left-down", "left-up"}) {
    std::string path = dir_ + "/" + order + ".tmx";
    std::string map = MapXml(kWidth, kHeight, 16, 16, body);
    map.replace(map.find("right-down"), 10, order);
    Spit(path, map);
    Image picture;
    if (!Rasterize(path, &picture)) return;
    ExpectImportMatches(path, picture);
    pictures.push_back(picture);
  }
  for (size_t i = 1; i < pictures.size(); i++) {
    EXPECT_LT(CompareView(pictures[0], pictures[i], 0, 0, 0).Rate(), 0.9) << "render order " << i << " looks the same";
  }
}

TEST_F(TiledMadeMapTest, HiddenAndShownLayersAsTmxrasterizerChoosesThem) {
  TILED_REQUIRE();
  Layered map = WriteLayered("layers", "base64-zlib", 81);
  // A third layer, invisible in the file.
  Random random{82};
  std::string text = Slurp(map.path);
  text.replace(text.find("</map>"), 0,
               LayerXml("secret", kWidth, kHeight, RandomCells(&random, kWidth * kHeight, 1, 24, 50, false), "csv",
                        "visible=\"0\""));
  // And one of opacity 0, drawn by neither.
  text.replace(text.find("</map>"), 0,
               LayerXml("clear", kWidth, kHeight, RandomCells(&random, kWidth * kHeight, 1, 24, 50, false), "csv",
                        "opacity=\"0\""));
  Spit(map.path, text);
  // A layer named by --show-layer is shown even when invisible in the file;
  // this tmxrasterizer needs --ignore-visibility for that.
  for (const char* args : {"", "--hide-layer top", "--show-layer secret", "--show-layer top --show-layer secret",
                           "--hide-layer ground --hide-layer top"}) {
    SCOPED_TRACE(args);
    std::string shown = std::string(args).find("--show-layer") == std::string::npos ? "" : "--ignore-visibility ";
    ExpectSameAsTiled(map.path, args, shown + args);
  }
}

TEST_F(TiledMadeMapTest, TileObjectsInAnObjectLayer) {
  TILED_REQUIRE();
  Layered map = WriteLayered("objects", "csv", 91);
  TilesetPlan tall;
  tall.name = "tall";
  tall.firstGid = 25;
  tall.tileWidth = 32;
  tall.tileHeight = 48;
  tall.columns = 3;
  tall.rows = 2;
  tall.seed = 4;
  std::string text = Slurp(map.path);
  text.replace(text.find("<layer"), 0, TilesetWrite(dir_, tall));
  // On the grid, off it by whole pixels, flipped, and overlapping (drawn
  // from the top down, as Tiled sorts them).
  std::string objects = "<objectgroup name=\"things\">\n";
  Random random{92};
  for (int i = 0; i < 40; i++) {
    uint32_t gid = 25 + random.Below(6);
    if (i % 5 == 1) gid |= kFlipH;
    if (i % 7 == 2) gid |= kFlipV;
    int32_t x = (int32_t)random.Below(kWidth * 16 - 32);
    int32_t y = 48 + (int32_t)random.Below(kHeight * 16 - 48);
    if (i % 2 == 0) {
      x -= x % 16;
      y -= y % 16;
    }
    objects += "<object id=\"" + std::to_string(i + 1) + "\" gid=\"" + std::to_string(gid) + "\" x=\"" +
               std::to_string(x) + "\" y=\"" + std::to_string(y) + "\" width=\"32\" height=\"48\"/>\n";
  }
  text.replace(text.find("</map>"), 0, objects + "</objectgroup>\n");
  Spit(map.path, text);
  ExpectSameAsTiled(map.path);
  ExpectSameAsTiled(ExportJson(map.path));
}

TEST_F(TiledMadeMapTest, ExternalTilesetsOfEitherKindFromFoldersOfTheirOwn) {
  TILED_REQUIRE();
  // The tilesets live in sets/, their pictures in sets/art/; the map names
  // them relative to itself, they name their pictures relative to themselves.
  std::string sets = dir_ + "/sets";
  mkdir(sets.c_str(), 0755);
  mkdir((sets + "/art").c_str(), 0755);
  TilesetPlan a;
  a.name = "alpha";
  a.columns = 6;
  a.rows = 4;
  a.seed = 1;
  TilesetPlan b = a;
  b.name = "beta";
  b.firstGid = 25;
  b.seed = 2;
  b.margin = 1;
  b.spacing = 1;
  std::string xa = TilesetWrite(sets + "/art", a);
  std::string xb = TilesetWrite(sets + "/art", b);
  for (std::string* x : {&xa, &xb}) {
    x->erase(x->find(" firstgid=\"") , x->find('"', x->find(" firstgid=\"") + 11) + 1 - x->find(" firstgid=\""));
    x->replace(x->find("source=\"") + 8, 0, "art/");
  }
  Spit(sets + "/alpha.tsx", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + xa);
  Spit(sets + "/beta.tsx", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + xb);
  // beta also as JSON, written by Tiled.
  ToolRun exported = Shell("cd " + Quote(sets) + " && tiled --export-tileset json beta.tsx beta.tsj");
  ASSERT_EQ(exported.code, 0) << exported.err;
  Random random{101};
  std::vector<uint32_t> ground = RandomCells(&random, kWidth * kHeight, 1, 24, 0, false);
  std::vector<uint32_t> top = RandomCells(&random, kWidth * kHeight, 25, 24, 40, true);
  std::string layers = LayerXml("ground", kWidth, kHeight, ground, "csv") + LayerXml("top", kWidth, kHeight, top, "csv");
  std::string path = dir_ + "/external.tmx";
  Spit(path, MapXml(kWidth, kHeight, 16, 16,
                    "<tileset firstgid=\"1\" source=\"sets/alpha.tsx\"/>\n<tileset firstgid=\"25\" "
                    "source=\"sets/beta.tsx\"/>\n" + layers));
  Image picture;
  if (!Rasterize(path, &picture)) return;
  ExpectImportMatches(path, picture);
  // A TMX map naming a JSON tileset, and a JSON map naming an XML one.
  std::string mixed = dir_ + "/mixed.tmx";
  Spit(mixed, MapXml(kWidth, kHeight, 16, 16,
                     "<tileset firstgid=\"1\" source=\"sets/alpha.tsx\"/>\n<tileset firstgid=\"25\" "
                     "source=\"sets/beta.tsj\"/>\n" + layers));
  ExpectImportMatches(mixed, picture);
  ExpectImportMatches(ExportJson(path), picture);
  // And a JSON map naming a JSON tileset.
  ExpectImportMatches(ExportJson(mixed), picture);
}

TEST_F(TiledMadeMapTest, SeveralMapsShareOneFolder) {
  TILED_REQUIRE();
  // Two maps whose tilesets have the same file name but other pictures, in
  // one output folder: each still draws its own.
  mkdir((dir_ + "/one").c_str(), 0755);
  mkdir((dir_ + "/two").c_str(), 0755);
  std::string paths[2];
  Image pictures[2];
  for (int i = 0; i < 2; i++) {
    TilesetPlan plan;
    plan.name = "tiles";
    plan.columns = 6;
    plan.rows = 4;
    plan.seed = 3 + i;
    std::string folder = dir_ + (i == 0 ? "/one" : "/two");
    Random random{(uint32_t)(111 + i)};
    std::vector<uint32_t> cells = RandomCells(&random, kWidth * kHeight, 1, 24, 10, i == 1);
    paths[i] = folder + "/map" + std::to_string(i) + ".tmx";
    Spit(paths[i], MapXml(kWidth, kHeight, 16, 16, TilesetWrite(folder, plan) + LayerXml("l", kWidth, kHeight, cells, "csv")));
    if (!Rasterize(paths[i], &pictures[i])) return;
    ToolRun run = Import(paths[i], dir_ + "/shared");
    ASSERT_EQ(run.code, 0) << run.err;
  }
  // The same map imported again changes nothing.
  std::string listing = Shell("cd " + Quote(dir_ + "/shared") + " && find . -type f | sort | xargs md5sum").out;
  ASSERT_EQ(Import(paths[0], dir_ + "/shared").code, 0);
  EXPECT_EQ(Shell("cd " + Quote(dir_ + "/shared") + " && find . -type f | sort | xargs md5sum").out, listing);
  for (int i = 0; i < 2; i++) {
    Image frame;
    if (!Render(dir_ + "/shared", "map" + std::to_string(i), pictures[i].width, pictures[i].height, &frame)) continue;
    ExpectMatch("map" + std::to_string(i), pictures[i], frame, 0, 0, 0);
  }
}

TEST_F(TiledMadeMapTest, SubRectangleTilesOfNewerFilesDrawTheirPartOfThePicture) {
  TILED_REQUIRE();
  // Newer Tiled files cut image-collection tiles from one picture (x, y,
  // width, height on <tile>); the Tiled here predates that, so its picture is
  // of the same tiles cut into files of their own.
  TilesetPlan sheet;
  sheet.tileWidth = 16;
  sheet.tileHeight = 16;
  sheet.columns = 4;
  sheet.rows = 3;
  sheet.seed = 5;
  Image whole = TilesetImage(sheet);
  PngWrite(dir_ + "/sheet.png", whole);
  const int32_t rects[4][4] = {{0, 0, 16, 16}, {16, 0, 32, 32}, {48, 16, 16, 32}, {0, 32, 48, 16}};
  std::string cut, parts;
  for (int id = 0; id < 4; id++) {
    const int32_t* r = rects[id];
    Image part = ImageMake(r[2], r[3], 0);
    for (int32_t y = 0; y < r[3]; y++) {
      for (int32_t x = 0; x < r[2]; x++) std::memcpy(part.At(x, y), whole.At(r[0] + x, r[1] + y), 4);
    }
    std::string file = "part" + std::to_string(id) + ".png";
    PngWrite(dir_ + "/" + file, part);
    std::string size = "width=\"" + std::to_string(r[2]) + "\" height=\"" + std::to_string(r[3]) + "\"";
    parts += "<tile id=\"" + std::to_string(id) + "\"><image source=\"" + file + "\" " + size + "/></tile>\n";
    cut += "<tile id=\"" + std::to_string(id) + "\" x=\"" + std::to_string(r[0]) + "\" y=\"" + std::to_string(r[1]) +
           "\" " + size + "><image source=\"sheet.png\" width=\"64\" height=\"48\"/></tile>\n";
  }
  Random random{121};
  std::vector<uint32_t> cells = RandomCells(&random, kWidth * kHeight, 1, 4, 60, false);
  auto map = [&](const std::string& tiles) {
    return MapXml(kWidth, kHeight, 16, 16,
                  "<tileset firstgid=\"1\" name=\"cut\" tilewidth=\"48\" tileheight=\"32\" tilecount=\"4\" "
                  "columns=\"0\">\n<grid orientation=\"orthogonal\" width=\"1\" height=\"1\"/>\n" +
                      tiles + "</tileset>\n" + LayerXml("l", kWidth, kHeight, cells, "csv"));
  };
  Spit(dir_ + "/parts.tmx", map(parts));
  Spit(dir_ + "/cut.tmx", map(cut));
  Image picture;
  if (!Rasterize(dir_ + "/parts.tmx", &picture)) return;
  ExpectImportMatches(dir_ + "/cut.tmx", picture);
}

TEST_F(TiledMadeMapTest, FramesOfSeveralIntervalsLastAsLongAsInTiled) {
  TILED_REQUIRE();
  // Frames of 100, 300 and 200 ms: with Tessel stepping every 100 ms the
  // longer frames are repeated, so each frame shows as long as in Tiled.
  TilesetPlan plan;
  plan.name = "anim";
  plan.columns = 6;
  plan.rows = 4;
  plan.extra =
      "<tile id=\"0\"><animation><frame tileid=\"5\" duration=\"100\"/><frame tileid=\"2\" duration=\"300\"/>"
      "<frame tileid=\"9\" duration=\"200\"/></animation></tile>\n";
  Random random{131};
  std::vector<uint32_t> base = RandomCells(&random, kWidth * kHeight, 3, 20, 0, false);
  std::vector<uint32_t> moving = RandomCells(&random, kWidth * kHeight, 1, 1, 40, false);
  std::string path = dir_ + "/long.tmx";
  Spit(path, MapXml(kWidth, kHeight, 16, 16,
                    TilesetWrite(dir_, plan) + LayerXml("base", kWidth, kHeight, base, "csv") +
                        LayerXml("moving", kWidth, kHeight, moving, "csv")));
  ToolRun run = Import(path, dir_ + "/out");
  ASSERT_EQ(run.code, 0) << run.err;
  // One full cycle of 600 ms and a little more, a frame each 100 ms.
  for (int32_t frames = 1; frames <= 7; frames++) {
    Image picture;
    if (!Rasterize(path, &picture, "--advance-animations " + std::to_string(frames * 100 + 50))) return;
    Image frame;
    std::string keys = frames == 1 ? "" : " --keys none*" + std::to_string(frames - 1);
    if (!Render(dir_ + "/out", "long", picture.width, picture.height, &frame, "--frame-ms 100" + keys)) return;
    ExpectMatch("after " + std::to_string(frames * 100) + " ms", picture, frame, 0, 0, 0);
  }
}

TEST_F(TiledMadeMapTest, GridsThatAreNotSquareOrAreLarge) {
  TILED_REQUIRE();
  // 24 x 16 cells with 24 x 16 tiles, turned by the diagonal flag too (a
  // turned tile is 16 wide and 24 high, still on its cell's bottom-left), and
  // 160 x 120 cells, larger than the runner's old 128-pixel bound.
  const int32_t grids[2][4] = {{24, 16, 24, 18}, {160, 120, 5, 4}};
  for (const auto& grid : grids) {
    TilesetPlan plan;
    plan.name = "grid" + std::to_string(grid[0]);
    plan.tileWidth = grid[0];
    plan.tileHeight = grid[1];
    plan.columns = 4;
    plan.rows = 2;
    plan.seed = 2;
    Random random{(uint32_t)grid[0]};
    std::vector<uint32_t> ground = RandomCells(&random, (size_t)grid[2] * grid[3], 1, 8, 0, false);
    std::vector<uint32_t> top = RandomCells(&random, (size_t)grid[2] * grid[3], 1, 8, 50, true);
    std::string path = dir_ + "/" + plan.name + ".tmx";
    Spit(path, MapXml(grid[2], grid[3], grid[0], grid[1],
                      TilesetWrite(dir_, plan) + LayerXml("ground", grid[2], grid[3], ground, "csv") +
                          LayerXml("top", grid[2], grid[3], top, "csv")));
    ExpectSameAsTiled(path);
  }
}

TEST_F(TiledMadeMapTest, InfiniteMapWithLayerOffsets) {
  TILED_REQUIRE();
  // Chunks left of and above the origin, and a layer shifted off the grid:
  // the picture is the chunks' box grown by the offset.
  TilesetPlan plan;
  plan.name = "tiles";
  plan.columns = 6;
  plan.rows = 4;
  Random random{141};
  auto layer = [&](const std::string& name, int32_t x, int32_t y, const std::string& attributes) {
    std::string data = TmxData(RandomCells(&random, 256, 1, 24, 30, true), "base64-zstd");
    size_t open = data.find('>') + 1;
    return "<layer name=\"" + name + "\" width=\"32\" height=\"32\" " + attributes +
           "><data encoding=\"base64\" compression=\"zstd\"><chunk x=\"" + std::to_string(x) + "\" y=\"" +
           std::to_string(y) + "\" width=\"16\" height=\"16\">" + data.substr(open, data.rfind("</data>") - open) +
           "</chunk></data></layer>\n";
  };
  std::string path = dir_ + "/shifted.tmx";
  Spit(path, MapXml(32, 32, 16, 16,
                    TilesetWrite(dir_, plan) + layer("a", -32, -16, "") + layer("b", 0, -32, "") +
                        layer("c", -16, -16, "offsetx=\"-21\" offsety=\"13\""),
                    "infinite=\"1\""));
  Image picture;
  if (!Rasterize(path, &picture)) return;
  EXPECT_EQ(picture.width, 48 * 16 + 21);
  EXPECT_EQ(picture.height, 32 * 16 + 13);
  ExpectImportMatches(path, picture);
}

}  // namespace
}  // namespace tiled
