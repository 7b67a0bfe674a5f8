// The map loader as the whole runner sees it: the file format read field by
// field, backgrounds, short files, and the load failures with their numbers.
#include <gtest/gtest.h>

#include "tests/app/harness.h"

namespace {

const Rgb Black{0, 0, 0};
const Rgb Red{255, 0, 0};
const Rgb Blue{0, 0, 255};

RunOptions Args(std::vector<std::string> args) {
  RunOptions options;
  options.args = std::move(args);
  return options;
}

// The example file of the format, byte for byte: one layer of 2 x 2 cells of
// 32 x 32 pixels showing tile type 1 on the diagonal.
TEST(MapLoad, ExampleFileByteForByte) {
  TestDir dir;
  dir.Tile("t.bmp", 32, 32, Red);
  std::vector<uint8_t> bytes = {0x0A, 0x0A, 0x40, 0, 0, 0, 0x40, 0, 0, 0, 0x0A, 0x01, 0x01, 0x00,
                                0,    0,    0,    0, 0, 0, 0,    0, 0x0A, 0x04, 0x4C, 0x30, 0x0A,
                                0x02, 0,    0,    0, 0x02, 0, 0, 0, 0x20, 0, 0, 0, 0x20, 0, 0, 0,
                                0x00, 0x00, 0x80, 0x3F, 0x00, 't', '.', 'b', 'm', 'p', 0x0A, 0x01, 0x00, 0x00,
                                0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00};
  dir.Map("example", bytes);
  RunResult run = RunRunner(dir, Args({"example", "640", "480", "100"}));
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.boxes.empty());
  ASSERT_EQ(run.frames.size(), 1u);
  EXPECT_EQ(run.mapWidth, 64);
  EXPECT_EQ(run.mapHeight, 64);
  EXPECT_EQ(run.layerCount, 1);
  EXPECT_EQ(run.tileTypeCount, 1);
  EXPECT_EQ(run.scrollStep, 4);
  EXPECT_EQ(run.backgroundMode, 0);
  EXPECT_EQ(run.layerName, "L0");
  EXPECT_EQ(run.layerWidth, 2);
  EXPECT_EQ(run.layerHeight, 2);
  EXPECT_EQ(run.layerTileWidth, 32);
  EXPECT_EQ(run.layerTileHeight, 32);
  EXPECT_EQ(run.layerFactor, 1.0f);
  EXPECT_EQ(run.layerPlanes, 0);
  EXPECT_EQ(run.layerBlockSize, 8u);
  EXPECT_EQ(run.tileImage, "t.bmp");
  // Cells (0,0) and (1,1) show the tile; the others and everything beyond the
  // 64 x 64 map stay black (the overlay text starts at x = 10, y = 10).
  EXPECT_EQ(run.last.At(3, 3), Red);
  EXPECT_EQ(run.last.At(60, 60), Red);
  EXPECT_EQ(run.last.At(40, 3), Black);
  EXPECT_EQ(run.last.At(3, 40), Black);
  EXPECT_EQ(run.last.At(100, 100), Black);
}

TEST(MapLoad, EmptyFileRunsOnBlack) {
  TestDir dir;
  dir.Map("empty", std::vector<uint8_t>{});
  RunResult run = RunRunner(dir, Args({"empty", "320", "200", "0"}));
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.boxes.empty());
  ASSERT_EQ(run.frames.size(), 1u);
  EXPECT_EQ(run.mapWidth, 0);
  EXPECT_EQ(run.layerCount, 0);
  EXPECT_EQ(run.tileTypeCount, 0);
  EXPECT_EQ(run.scrollStep, 0);
  EXPECT_EQ(run.backgroundMode, 0);
  EXPECT_EQ(run.last.width, 320);
  EXPECT_EQ(run.last.At(300, 180), Black);
}

TEST(MapLoad, NegativeLayerCountGivesNoLayers) {
  TestDir dir;
  MapBytes m;
  m.Line("").Line("").I32(640).I32(480).Line("").I8(0xF0).I16(0).I32(0).I32(0).Line("").I8(8);
  dir.Map("negative", m.bytes);
  RunResult run = RunRunner(dir, Args({"negative", "320", "200", "0"}));
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.boxes.empty());
  EXPECT_EQ(run.layerCount, -16);
  EXPECT_EQ(run.frames.size(), 1u);
}

struct BackgroundCase {
  std::string text;
  int32_t mode;
  bool sprite;
};

TEST(MapLoad, BackgroundSelectsColourOrImage) {
  TestDir dir;
  dir.Tile("sky.bmp", 64, 64, Blue);
  dir.Tile("0", 64, 64, Red);
  for (const BackgroundCase& c : {BackgroundCase{"12abc", 12, false}, BackgroundCase{"0", -1, true},
                                  BackgroundCase{"-1", -1, false}, BackgroundCase{"sky.bmp", -1, true},
                                  BackgroundCase{"  +65280", 65280, false}}) {
    SCOPED_TRACE(c.text);
    MapSpec spec;
    spec.background = c.text;
    dir.Map("bg", spec);
    RunResult run = RunRunner(dir, Args({"bg", "320", "200", "0"}));
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.background, c.text);
    EXPECT_EQ(run.backgroundMode, c.mode);
    EXPECT_EQ(run.backgroundSprite != 0, c.sprite);
  }
  // What each shows: colour 12 is red 12; an image is drawn at the top-left corner.
  MapSpec spec;
  spec.background = "12abc";
  dir.Map("bg", spec);
  EXPECT_EQ(RunRunner(dir, Args({"bg", "320", "200", "0"})).last.At(300, 150), (Rgb{12, 0, 0}));
  spec.background = "sky.bmp";
  dir.Map("bg", spec);
  RunResult run = RunRunner(dir, Args({"bg", "320", "200", "0"}));
  EXPECT_EQ(run.last.At(60, 60), Blue);
  spec.background = "0";
  dir.Map("bg", spec);
  EXPECT_EQ(RunRunner(dir, Args({"bg", "320", "200", "0"})).last.At(60, 60), Red);
}

// A lone CR followed by a field whose first byte is 10 loses that byte, which
// is taken for the LF of a CR LF pair.
TEST(MapLoad, LoneCarriageReturnSwallowsFollowingLineFeedByte) {
  TestDir dir;
  for (std::string end : {"\r\n", "\r"}) {
    SCOPED_TRACE(end.size());
    MapBytes m;
    m.Line("first").Line("second", end).I32(0x20A).I32(0).Line("").I8(0).I16(0).I32(0).I32(0).Line("").I8(4);
    dir.Map("cr", m.bytes);
    RunResult run = RunRunner(dir, Args({"cr", "320", "200", "0"}));
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.text1, "first");
    EXPECT_EQ(run.text2, "second");
    if (end == "\r\n") {
      EXPECT_EQ(run.mapWidth, 0x20A);
      EXPECT_EQ(run.mapHeight, 0);
      EXPECT_EQ(run.scrollStep, 4);
    } else {
      EXPECT_EQ(run.mapWidth, 2);
      EXPECT_EQ(run.mapHeight, 0x0A000000);  // text 3's LF became its top byte
    }
  }
}

// A file that ends inside its cell blocks leaves the rest of the cells empty.
TEST(MapLoad, TruncatedCellBlockLeavesCellsEmpty) {
  TestDir dir;
  dir.Tile("t.bmp", 32, 32, Red);
  MapSpec spec;
  spec.width = 640;
  spec.height = 480;
  spec.layers.push_back({4, 1, 32, 32, 1.0f, 0, {1, 1, 1, 1}});
  spec.tiles.push_back({"t.bmp", 1});
  MapBytes m = MapEncode(spec);
  m.bytes.resize(m.bytes.size() - 3);  // cells 0 and 1 whole, cell 2 one byte short
  dir.Map("short", m.bytes);
  RunResult run = RunRunner(dir, Args({"short", "320", "200", "0"}));
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.last.At(3, 25), Red);
  EXPECT_EQ(run.last.At(35, 25), Red);
  EXPECT_EQ(run.last.At(68, 25), Red);  // cell 2's low byte 1 was read, its high byte is 0
  EXPECT_EQ(run.last.At(100, 25), Black);
}

// Extra planes are loaded into the block but never drawn.
TEST(MapLoad, ExtraPlanesAreKeptNotDrawn) {
  TestDir dir;
  dir.Tile("t.bmp", 32, 32, Red);
  MapSpec spec;
  spec.layers.push_back({2, 1, 32, 32, 1.0f, 2, {0, 1, 1, 1, 1, 1}});
  spec.tiles.push_back({"t.bmp", 1});
  dir.Map("planes", spec);
  RunResult run = RunRunner(dir, Args({"planes", "320", "200", "0"}));
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.layerBlockSize, 12u);
  EXPECT_EQ(run.last.At(3, 25), Black);
  EXPECT_EQ(run.last.At(35, 25), Red);
}

TEST(MapLoad, FailuresEndWithTheirNumber) {
  TestDir dir;
  MapSpec missingTile;
  missingTile.layers.push_back({1, 1, 32, 32, 1.0f, 0, {1}});
  missingTile.tiles.push_back({"nowhere.bmp", 1});
  dir.Map("missing-tile", missingTile);
  MapSpec zeroLayer;
  zeroLayer.layers.push_back({0, 5, 32, 32, 1.0f, 0, {}});
  dir.Map("zero-layer", zeroLayer);
  MapSpec noPlane;
  noPlane.layers.push_back({3, 3, 32, 32, 1.0f, -1, {}});
  dir.Map("no-plane", noPlane);
  // 65536 x 32769 cells of 2 bytes: 2^32 + 131072 bytes, which 32-bit
  // arithmetic would have taken for a block of 128 KiB.
  MapBytes huge;
  huge.Line("").Line("").I32(0).I32(0).Line("").I8(1).I16(0).I32(0).I32(0).Line("").I8(8);
  huge.Line("big").I32(65536).I32(32769).I32(32).I32(32).F32(1.0f).I8(0);
  dir.Map("huge", huge.bytes);
  struct Case {
    std::vector<std::string> args;
    const char* box;
  };
  for (const Case& c : {Case{{}, "Fehlermeldung: Fehlernummer:1"},
                        Case{{"nothing-here", "320", "200", "0"}, "Fehlermeldung: Fehlernummer:2"},
                        Case{{"missing-tile", "320", "200", "0"}, "Fehlermeldung: Fehlernummer:5"},
                        Case{{"zero-layer", "320", "200", "0"}, "Fehlermeldung: Fehlernummer:7"},
                        Case{{"no-plane", "320", "200", "0"}, "Fehlermeldung: Fehlernummer:7"},
                        Case{{"huge", "320", "200", "0"}, "Fehlermeldung: Fehlernummer:7"},
                        Case{{"empty-name-screen", "0", "200", "0"}, "Fehlermeldung: Fehlernummer:1"}}) {
    SCOPED_TRACE(c.box);
    RunResult run = RunRunner(dir, Args(c.args));
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0], c.box);
    EXPECT_TRUE(run.frames.empty());
  }
}

// A FIFO opens without blocking and is refused like any file that is not a
// regular file: as the map (2), as a tile (5), as the background (not drawn).
TEST(MapLoad, FifosAreRefusedWithoutWaiting) {
  TestDir dir;
  dir.Fifo("Maps/pipe");
  dir.Fifo("Tiles/pipe.bmp");
  dir.Fifo("Tiles/sky.bmp");
  dir.Tile("red.bmp", 32, 32, Red);
  MapSpec pipeTile;
  pipeTile.layers.push_back({1, 1, 32, 32, 1.0f, 0, {1}});
  pipeTile.tiles.push_back({"pipe.bmp", 1});
  dir.Map("pipe-tile", pipeTile);
  MapSpec pipeSky;
  pipeSky.width = 320;
  pipeSky.height = 200;
  pipeSky.background = "sky.bmp";
  pipeSky.layers.push_back({1, 1, 32, 32, 1.0f, 0, {1}});
  pipeSky.tiles.push_back({"red.bmp", 1});
  dir.Map("pipe-sky", pipeSky);
  for (auto [map, box] : {std::pair{"pipe", "Fehlermeldung: Fehlernummer:2"},
                          std::pair{"pipe-tile", "Fehlermeldung: Fehlernummer:5"}}) {
    SCOPED_TRACE(map);
    RunResult run = RunRunner(dir, Args({map, "320", "200", "0"}));
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0], box);
  }
  RunResult run = RunRunner(dir, Args({"pipe-sky", "320", "200", "0"}));
  EXPECT_FALSE(run.timedOut);
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.boxes.empty());
  EXPECT_EQ(run.backgroundMode, -1);
  EXPECT_EQ(run.backgroundSprite, 0);
  ASSERT_EQ(run.frames.size(), 1u);
  EXPECT_EQ(run.last.At(5, 28), Red);
}

// The tile images together may take a fixed amount of sprite memory: 40 tile
// types naming one 1 KB run-length BMP of 4096 x 4096 end with error 5 at
// once instead of taking gigabytes; the refusal comes before the pixels.
TEST(MapLoad, TileImagesPastTheSpriteBudgetEndWithNumberFive) {
  TestDir dir;
  MapBytes bmp;
  bmp.I8('B').I8('M').I32(54 + 1024 + 2).I32(0).I32(54 + 1024);
  bmp.I32(40).I32(4096).I32(4096).I16(1).I16(8).I32(1).I32(2).I32(2835).I32(2835).I32(256).I32(0);
  for (int i = 0; i < 256; i++) bmp.I32(i * 0x010101);
  bmp.I8(0).I8(1);  // end of bitmap
  dir.File("Tiles/big.bmp", bmp.bytes);
  MapSpec spec;
  for (int i = 0; i < 40; i++) spec.tiles.push_back({"big.bmp", 1});
  dir.Map("amplify", spec);
  EXPECT_LT(MapEncode(spec).bytes.size(), 500u);
  RunResult run = RunRunner(dir, Args({"amplify", "320", "200", "0"}));
  EXPECT_EQ(run.exitCode, 0);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0], "Fehlermeldung: Fehlernummer:5");
  RecordProperty("seconds", std::to_string(run.seconds));
  RecordProperty("peak_kb", std::to_string(run.maxRssKb));
#ifdef TESSEL_SANITIZE
  // The sanitizers keep freed blocks in quarantine and slow every step.
  EXPECT_LT(run.seconds, 30.0);
  EXPECT_LT(run.maxRssKb, 900 * 1024);
#else
  // About 0.35 s on an idle machine; the bound leaves room for a loaded one.
  EXPECT_LT(run.seconds, 5.0);
  EXPECT_LT(run.maxRssKb, 300 * 1000);
#endif
}

}  // namespace
