// `tessel-map import` on bad input: damaged files, bad layer data, missing
// files and attributes, maps Tessel cannot hold. Each is refused with exit code
// 2 and "SOURCE: error: ...", quickly, in bounded memory, and leaves the
// output folder exactly as it was. Then the warnings of what is imported
// inexactly.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <string>
#include <vector>

#include "tests/tools/tiled_harness.h"
#include "tests/tools/tiled_maps.h"

namespace tiled {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = (char)std::tolower((unsigned char)c);
  return text;
}

class TiledInputTest : public TiledTest {
 protected:
  void SetUp() override {
    TiledTest::SetUp();
    plan_.name = "tiles";
    plan_.columns = 4;
    plan_.rows = 4;
    tileset_ = TilesetWrite(dir_, plan_);
    Random random{3};
    cells_ = RandomCells(&random, 64, 1, 16, 20, false);
    // The output folder already holds an earlier import, which a refused one must not touch.
    out_ = dir_ + "/out";
    Spit(dir_ + "/earlier.tmx", MapXml(8, 8, 16, 16, tileset_ + LayerXml("ground", 8, 8, cells_, "csv")));
    ToolRun earlier = Import(dir_ + "/earlier.tmx", out_);
    ASSERT_EQ(earlier.code, 0) << earlier.err;
    // What a run that reads nothing takes, with this build's sanitizers and
    // the test's own memory counted in at the fork.
    baselineKb_ = Import(dir_ + "/nothing.tmx", dir_ + "/nothing").maxRssKb;
  }

  // A good 8 x 8 JSON map naming tiles.tsx; data: the layer's data members.
  std::string GoodJson(const std::string& data) {
    std::string tsx = tileset_;
    tsx.erase(tsx.find(" firstgid=\"1\""), 13);
    Spit(dir_ + "/tiles.tsx", "<?xml version=\"1.0\"?>\n" + tsx);
    return "{\"orientation\":\"orthogonal\",\"renderorder\":\"right-down\",\"width\":8,\"height\":8,"
           "\"tilewidth\":16,\"tileheight\":16,\"infinite\":false,\"type\":\"map\",\"version\":\"1.8\","
           "\"tilesets\":[{\"firstgid\":1,\"source\":\"tiles.tsx\"}],\"layers\":[{\"type\":\"tilelayer\","
           "\"name\":\"ground\",\"width\":8,\"height\":8,\"x\":0,\"y\":0,\"visible\":true,\"opacity\":1," +
           data + "}]}";
  }

  // A good 8 x 8 map in which one part is replaced: the layer's <data>, or the whole text.
  std::string GoodTmx(const std::string& data = "") {
    return MapXml(8, 8, 16, 16, tileset_ + "<layer name=\"ground\" width=\"8\" height=\"8\">\n" +
                                     (data.empty() ? TmxData(cells_, "csv") : data) + "\n</layer>\n");
  }

  // Everything in the output folder, with the contents' checksums.
  std::string Listing() { return Shell("cd " + Quote(out_) + " && find . -print0 | sort -z | xargs -0 md5sum 2>&1").out; }

  // Writes text as file name and imports it: refused with code 2, the
  // message naming the source and holding every one of the words, within
  // the time given and the memory given above a run that reads nothing, and
  // the output folder as it was.
  void ExpectRefused(const std::string& name, const std::string& text, std::vector<std::string> words,
                     double seconds = 10, long megabytes = 400, const std::string& args = "") {
    std::string path = dir_ + "/" + name;
    if (!text.empty()) Spit(path, text);
    std::string before = Listing();
    ToolRun run = Import(path, out_, args);
    EXPECT_EQ(run.code, 2) << name << "\n" << run.err;
    EXPECT_EQ(run.err.rfind(path + ": error: ", 0), 0u) << name << "\n" << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << name << ": one line\n" << run.err;
    for (const std::string& word : words) {
      EXPECT_NE(Lower(run.err).find(Lower(word)), std::string::npos) << name << ": no \"" << word << "\"\n"
                                                                     << run.err;
    }
    // Processor time, which a loaded machine does not stretch; the wall clock
    // only has to show that nothing waits for ever.
    EXPECT_LT(run.cpuSeconds, seconds) << name;
    EXPECT_LT(run.seconds, 6 * seconds) << name << ": wall time";
    EXPECT_LT(run.maxRssKb - baselineKb_, megabytes * 1024) << name;
    EXPECT_EQ(Listing(), before) << name << ": the output folder changed";
  }

  TilesetPlan plan_;
  std::string tileset_;
  std::vector<uint32_t> cells_;
  std::string out_;
  long baselineKb_ = 0;
};

TEST_F(TiledInputTest, DamagedXmlAndJsonNameTheirLine) {
  std::string good = GoodTmx();
  ExpectRefused("cut.tmx", good.substr(0, good.size() / 2), {"line "});
  std::string crossed = good;
  crossed.replace(crossed.find("</layer>"), 8, "</lair>");
  ExpectRefused("crossed.tmx", crossed, {"line "});
  ExpectRefused("empty.tmx", " ", {});
  ExpectRefused("text.tmx", "this is not a map\n", {});
  ExpectRefused("other.tmx", "<?xml version=\"1.0\"?>\n<tileset name=\"x\"/>\n", {"map"});

  const std::string json =
      "{\"orientation\":\"orthogonal\",\"width\":2,\"height\":1,\"tilewidth\":16,\"tileheight\":16,"
      "\"infinite\":false,\"tilesets\":[{\"firstgid\":1,\"source\":\"tiles.tsx\"}],"
      "\"layers\":[{\"type\":\"tilelayer\",\"name\":\"g\",\"width\":2,\"height\":1,\"data\":[1,2],"
      "\"visible\":true,\"opacity\":1,\"x\":0,\"y\":0}],\"type\":\"map\",\"version\":\"1.8\"}";
  std::string tsx = tileset_;
  tsx.erase(tsx.find(" firstgid=\"1\""), 13);
  Spit(dir_ + "/tiles.tsx", "<?xml version=\"1.0\"?>\n" + tsx);
  ExpectRefused("cut.tmj", json.substr(0, json.size() - 30), {"line "});
  std::string wrongType = json;
  wrongType.replace(wrongType.find("[1,2]"), 5, "\"1,2\"");
  ExpectRefused("wrong-type.tmj", wrongType, {"data"});
  ExpectRefused("array.json", "[1,2,3]", {});
}

TEST_F(TiledInputTest, BadLayerDataIsRefused) {
  ExpectRefused("bad-base64.tmx", GoodTmx("<data encoding=\"base64\">AAAA@@@@AAAA</data>"), {"base64"});
  // The JSON map itself is good: only its data is bad.
  std::string csv = TmxData(cells_, "csv");
  std::string array = "[" + csv.substr(22, csv.rfind("</data>") - 23) + "]";
  Spit(dir_ + "/good.tmj", GoodJson("\"data\":" + array));
  ToolRun good = Import(dir_ + "/good.tmj", dir_ + "/good");
  ASSERT_EQ(good.code, 0) << good.err;
  ExpectRefused("bad-base64.tmj", GoodJson("\"encoding\":\"base64\",\"data\":\"AAAA@@@@AAAA\""), {"base64"});
  ExpectRefused("short.tmj", GoodJson("\"data\":[1,2,3]"), {"3"});
  ExpectRefused("long.tmj", GoodJson("\"data\":" + array.substr(0, array.size() - 1) + ",1]"), {"65"});
  ExpectRefused("past.tmj", GoodJson("\"data\":" + array.substr(0, array.size() - 2) + "99]"), {"ground"});
  // 63 cells where the layer has 64, plain and compressed.
  std::vector<uint32_t> shorter(cells_.begin(), cells_.end() - 1);
  ExpectRefused("short.tmx", GoodTmx(TmxData(shorter, "base64")), {"line 7", "63"});
  ExpectRefused("short-zlib.tmx", GoodTmx(TmxData(shorter, "base64-zlib")), {"line 7", "63"});
  ExpectRefused("short-csv.tmx", GoodTmx(TmxData(shorter, "csv")), {"line 7", "63"});
  ExpectRefused("word-csv.tmx", GoodTmx("<data encoding=\"csv\">1,2,three</data>"), {"line 7", "csv"});
  ExpectRefused("damaged-zlib.tmx",
                GoodTmx("<data encoding=\"base64\" compression=\"zlib\">" + Base64("not zlib data at all") + "</data>"),
                {"zlib"});
  ExpectRefused("unknown-compression.tmx",
                GoodTmx("<data encoding=\"base64\" compression=\"lz77\">" + Base64(CellBytes(cells_)) + "</data>"),
                {"lz77"});
  // Cell 17 (tile 16) lies past the only tileset's 16 tiles.
  std::vector<uint32_t> past = cells_;
  past[37] = 17;
  ExpectRefused("past-tilesets.tmx", GoodTmx(TmxData(past, "csv")), {"ground", "16"});
  past[37] = 0x0FFFFFFF;
  ExpectRefused("far-past-tilesets.tmx", GoodTmx(TmxData(past, "base64")), {});
}

TEST_F(TiledInputTest, CompressedDataInflatingPastTheLayerIsCutShort) {
  // 256 MB of zero cells for a layer of 64: refused after inflating a little
  // more than the layer's 256 bytes, not after all of it. (The test itself
  // never holds the zeros: a child's peak memory counts its parent's at the fork.)
  for (const char* kind : {"zlib", "gzip", "zstd"}) {
    std::string packed = CompressZeros(256u << 20, kind);
    ASSERT_FALSE(packed.empty()) << kind;
    ExpectRefused(std::string("bomb-") + kind + ".tmx",
                  GoodTmx(std::string("<data encoding=\"base64\" compression=\"") + kind + "\">" + Base64(packed) +
                          "</data>"),
                  {"line 7", kind}, 10, 64);
  }
  // The same in JSON, and in a chunk of an infinite map.
  std::string packed = Base64(CompressZeros(256u << 20, "zlib"));
  ExpectRefused("bomb.tmj", GoodJson("\"encoding\":\"base64\",\"compression\":\"zlib\",\"data\":\"" + packed + "\""),
                {"zlib"}, 10, 64);
  std::string chunked = GoodTmx("<data encoding=\"base64\" compression=\"zlib\"><chunk x=\"0\" y=\"0\" width=\"16\" "
                                "height=\"16\">" + packed + "</chunk></data>");
  chunked.replace(chunked.find("renderorder"), 0, "infinite=\"1\" ");
  ExpectRefused("bomb-chunk.tmx", chunked, {"zlib"}, 10, 64);
}

TEST_F(TiledInputTest, MissingAndUnreadableFilesAreRefused) {
  ExpectRefused("no-such-map.tmx", "", {"no-such-map.tmx"});
  std::string noImage = GoodTmx();
  noImage.replace(noImage.find("tiles.png"), 9, "gone.png");
  ExpectRefused("no-image.tmx", noImage, {"gone.png"});
  // Not a picture, and a folder where the picture should be.
  Spit(dir_ + "/fake.png", "\x89PNG\r\n\x1a\n but nothing after it");
  std::string fake = GoodTmx();
  fake.replace(fake.find("tiles.png"), 9, "fake.png");
  ExpectRefused("fake-image.tmx", fake, {"fake.png"});
  mkdir((dir_ + "/folder.png").c_str(), 0755);
  std::string folder = GoodTmx();
  folder.replace(folder.find("tiles.png"), 9, "folder.png");
  ExpectRefused("folder-image.tmx", folder, {"folder.png"});

  auto external = [&](const std::string& file) {
    return MapXml(8, 8, 16, 16, "<tileset firstgid=\"1\" source=\"" + file + "\"/>\n" +
                                    LayerXml("ground", 8, 8, cells_, "csv"));
  };
  ExpectRefused("no-tileset.tmx", external("gone.tsx"), {"gone.tsx"});
  Spit(dir_ + "/broken.tsx", "<?xml version=\"1.0\"?>\n<tileset name=\"b\" tilewidth=\"16\"");
  ExpectRefused("broken-tileset.tmx", external("broken.tsx"), {"broken.tsx"});
  Spit(dir_ + "/broken.tsj", "{\"name\":\"b\",\"tilewidth\":16,");
  ExpectRefused("broken-json-tileset.tmx", external("broken.tsj"), {"broken.tsj"});
}

TEST_F(TiledInputTest, MissingAttributesAreRefused) {
  std::string map = GoodTmx();
  std::string noWidth = map;
  noWidth.erase(noWidth.find(" width=\"8\""), 10);
  ExpectRefused("no-width.tmx", noWidth, {"width"});
  std::string noTileWidth = map;
  noTileWidth.erase(noTileWidth.find(" tilewidth=\"16\""), 15);
  ExpectRefused("no-tilewidth.tmx", noTileWidth, {"tilewidth"});
  std::string noSource = map;
  noSource.erase(noSource.find(" source=\"tiles.png\""), 19);
  ExpectRefused("no-image-source.tmx", noSource, {"source"});
  std::string noFirstGid = map;
  noFirstGid.erase(noFirstGid.find(" firstgid=\"1\""), 13);
  ExpectRefused("no-firstgid.tmx", noFirstGid, {"firstgid"});
  std::string noTileSize = map;
  noTileSize.erase(noTileSize.find(" tilewidth=\"16\" tileheight=\"16\" tilecount"), 31);
  ExpectRefused("no-tileset-size.tmx", noTileSize, {"line 3", "tile size"});
}

TEST_F(TiledInputTest, OnlyOrthogonalMapsAreImported) {
  TILED_REQUIRE();
  const char* message = "isometric maps cannot be imported: only orthogonal maps";
  std::string iso = Slurp("/usr/share/doc/tiled/examples/isometric_grass_and_water.tmx");
  ASSERT_FALSE(iso.empty());
  Spit(dir_ + "/isometric_grass_and_water.png", Slurp("/usr/share/doc/tiled/examples/isometric_grass_and_water.png"));
  ExpectRefused("iso.tmx", iso, {message});
  ExpectRefused("iso.tmj", Slurp(ExportJson(dir_ + "/iso.tmx")), {message});
  std::string map = GoodTmx();
  for (const char* kind : {"staggered", "hexagonal"}) {
    std::string other = map;
    other.replace(other.find("\"orthogonal\""), 12, std::string("\"") + kind + "\"");
    ExpectRefused(std::string(kind) + ".tmx", other,
                  {std::string(kind) + " maps cannot be imported: only orthogonal maps"});
  }
}

TEST_F(TiledInputTest, AbsurdSizesAreRefusedAtOnce) {
  // A billion by a billion cells would be 4 EB of data: refused before any of it is made.
  std::string map = GoodTmx();
  std::string huge = map;
  huge.replace(huge.find("width=\"8\" height=\"8\""), 20, "width=\"1000000000\" height=\"1000000000\"");
  ExpectRefused("huge.tmx", huge, {}, 2, 64);
  std::string hugeLayer = map;
  hugeLayer.replace(hugeLayer.find("width=\"8\" height=\"8\">"), 20, "width=\"1000000000\" height=\"1000000000\"");
  ExpectRefused("huge-layer.tmx", hugeLayer, {}, 2, 64);
  const std::string json =
      "{\"orientation\":\"orthogonal\",\"width\":1000000000,\"height\":1000000000,\"tilewidth\":16,"
      "\"tileheight\":16,\"infinite\":false,\"tilesets\":[],\"layers\":[{\"type\":\"tilelayer\",\"name\":\"g\","
      "\"width\":1000000000,\"height\":1000000000,\"data\":[0]}],\"type\":\"map\"}";
  ExpectRefused("huge.tmj", json, {}, 2, 64);
  // An infinite map of two chunks a billion cells apart.
  std::string chunks = "<data encoding=\"csv\"><chunk x=\"-1000000000\" y=\"0\" width=\"1\" height=\"1\">1</chunk>"
                       "<chunk x=\"1000000000\" y=\"1000000000\" width=\"1\" height=\"1\">1</chunk></data>";
  std::string far = GoodTmx(chunks);
  far.replace(far.find("renderorder"), 0, "infinite=\"1\" ");
  ExpectRefused("far-chunks.tmx", far, {}, 2, 64);
  // Sizes of zero, below zero and past any screen.
  std::string zero = map;
  zero.replace(zero.find("tilewidth=\"16\""), 14, "tilewidth=\"0\"");
  ExpectRefused("zero-tile.tmx", zero, {"tile size"});
  std::string negative = map;
  negative.replace(negative.find("width=\"8\""), 9, "width=\"-8\"");
  ExpectRefused("negative.tmx", negative, {"cells"});
  std::string giant = map;
  giant.replace(giant.find("tilewidth=\"16\" tileheight=\"16\">"), 31, "tilewidth=\"90000\" tileheight=\"90000\">");
  ExpectRefused("giant-tiles.tmx", giant, {}, 2, 64);
}

TEST_F(TiledInputTest, MapsPastTesselsLimitsAreRefused) {
  // 130 layers of cells kept apart: Tessel holds 127. Composed, they are one.
  std::string layers;
  for (int i = 0; i < 130; i++) layers += LayerXml("layer" + std::to_string(i), 8, 8, cells_, "csv");
  ExpectRefused("many-layers.tmx", MapXml(8, 8, 16, 16, tileset_ + layers), {"127 layers"}, 10, 400, "--layers");
  ToolRun composed = Import(dir_ + "/many-layers.tmx", dir_ + "/composed");
  EXPECT_EQ(composed.code, 0) << composed.err;
  EXPECT_NE(composed.out.find("130 layers composed into 1 layer"), std::string::npos) << composed.out;
  // 4096 tiles of 2 x 2 noise, each in all 8 flips: 32768 tile types, one past what Tessel holds.
  Image noise = ImageMake(128, 128, 0);
  Random random{7};
  for (size_t i = 0; i < noise.rgba.size(); i++) noise.rgba[i] = i % 4 == 3 ? 255 : (uint8_t)random.Next();
  PngWrite(dir_ + "/noise.png", noise);
  std::vector<uint32_t> every(256 * 128);
  for (size_t i = 0; i < every.size(); i++) every[i] = (uint32_t)(1 + i % 4096) | (uint32_t)((i / 4096) % 8) << 29;
  ExpectRefused("many-types.tmx",
                MapXml(256, 128, 2, 2,
                       "<tileset firstgid=\"1\" name=\"noise\" tilewidth=\"2\" tileheight=\"2\" tilecount=\"4096\" "
                       "columns=\"64\"><image source=\"noise.png\" width=\"128\" height=\"128\"/></tileset>\n" +
                           LayerXml("all", 256, 128, every, "base64-zlib")),
                {"32767 tile types"});
}

// Imports and returns the warning lines of the source.
std::vector<std::string> WarningLines(const ToolRun& run, const std::string& source) {
  std::vector<std::string> lines;
  size_t begin = 0;
  while (begin < run.err.size()) {
    size_t end = run.err.find('\n', begin);
    if (end == std::string::npos) end = run.err.size();
    std::string line = run.err.substr(begin, end - begin);
    if (line.rfind(source + ": warning: ", 0) == 0) lines.push_back(line);
    begin = end + 1;
  }
  return lines;
}

TEST_F(TiledInputTest, InexactPartsAreImportedWithAWarningEach) {
  // Half-transparent pixels in one tileset used by two layers: one warning.
  Image soft = TilesetImage(plan_);
  for (int32_t x = 0; x < soft.width; x++) soft.At(x, 5)[3] = 100;
  PngWrite(dir_ + "/soft.png", soft);
  std::string softSet = TilesetWrite(dir_, plan_);
  softSet.replace(softSet.find("tiles.png"), 9, "soft.png");
  softSet.replace(softSet.find("firstgid=\"1\""), 12, "firstgid=\"17\"");
  softSet.replace(softSet.find("name=\"tiles\""), 12, "name=\"softset\"");
  std::vector<uint32_t> softCells = cells_;
  for (uint32_t& cell : softCells) cell = cell == 0 ? 0 : cell + 16;
  std::string animated = tileset_;
  animated.replace(animated.find("<image"), 0,
                   "<tile id=\"2\"><animation><frame tileid=\"3\" duration=\"100\"/>"
                   "<frame tileid=\"4\" duration=\"250\"/></animation></tile>\n");
  std::string body =
      animated + softSet + LayerXml("faint", 8, 8, cells_, "csv", "opacity=\"0.5\"") +
      LayerXml("tinted", 8, 8, cells_, "csv", "tintcolor=\"#ff8040\"") +
      LayerXml("skewed", 8, 8, cells_, "csv", "parallaxx=\"0.5\" parallaxy=\"0.8\"") +
      LayerXml("soft1", 8, 8, softCells, "csv") + LayerXml("soft2", 8, 8, softCells, "base64") +
      "<objectgroup name=\"things\">\n<object id=\"1\" x=\"10\" y=\"10\" width=\"20\" height=\"20\"/>\n"
      "<object id=\"2\" x=\"40\" y=\"40\" width=\"60\" height=\"20\"><text>hello</text></object>\n</objectgroup>\n";
  std::string path = dir_ + "/inexact.tmx";
  Spit(path, MapXml(8, 8, 16, 16, body));
  ToolRun run = Import(path, dir_ + "/inexact", "--layers");
  ASSERT_EQ(run.code, 0) << run.err;
  std::vector<std::string> lines = WarningLines(run, path);
  // What must be named, and where.
  const char* wanted[][2] = {{"opacity", "faint"}, {"tint", "tinted"},    {"parallax", "skewed"},
                             {"text", "things"},   {"duration", "tiles"}, {"transparent", "softset"}};
  for (const auto& want : wanted) {
    bool found = std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
      return Lower(line).find(want[0]) != std::string::npos && line.find(want[1]) != std::string::npos;
    });
    EXPECT_TRUE(found) << "no warning about " << want[0] << " in " << want[1] << "\n" << run.err;
  }
  // The rectangle too: a shape is not drawn.
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
    return Lower(line).find("rectangle") != std::string::npos || Lower(line).find("shape") != std::string::npos;
  })) << run.err;
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& line) { return line.find("softset") != std::string::npos; }),
            1)
      << run.err;
  // And nothing else is a warning or an error.
  EXPECT_EQ(run.err.find(": error:"), std::string::npos) << run.err;
  EXPECT_TRUE(std::ifstream(dir_ + "/inexact/Maps/inexact").good());

  // Composed, opacity and tint carry over; the soft layers above the skewed
  // one (another scroll factor) are thresholded, with one warning for their run.
  ToolRun composed = Import(path, dir_ + "/composed");
  ASSERT_EQ(composed.code, 0) << composed.err;
  lines = WarningLines(composed, path);
  for (const std::string& line : lines) {
    EXPECT_EQ(line.find("opacity"), std::string::npos) << line;
    EXPECT_EQ(line.find("tint"), std::string::npos) << line;
  }
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& line) {
                            return line.find("layers \"soft1\" to \"soft2\": above a layer of another scroll factor") !=
                                       std::string::npos &&
                                   line.find("half-transparent") != std::string::npos;
                          }),
            1)
      << composed.err;

  // A clean map gives no warning at all.
  ToolRun clean = Import(dir_ + "/earlier.tmx", dir_ + "/clean");
  EXPECT_EQ(clean.code, 0);
  EXPECT_EQ(clean.err, "");
  EXPECT_NE(clean.out.find("tessel earlier"), std::string::npos) << clean.out;
}

}  // namespace
}  // namespace tiled
