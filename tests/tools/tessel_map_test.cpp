// Tests of tessel-map, run as a program: building map source into the exact
// bytes of the map format, dumping maps with warnings, and source errors.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct ToolRun {
  int code = -1;
  std::string out, err;
};

std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

void Spit(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary);
  f << bytes;
}

class TesselMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tessel-map-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  ToolRun Run(const std::string& args) {
    ToolRun run;
    std::string command = std::string(TESSEL_BINARY_DIR) + "/tessel-map " + args + " >'" + dir_ + "/out' 2>'" + dir_ +
                          "/err'";
    int status = std::system(command.c_str());
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = Slurp(dir_ + "/out");
    run.err = Slurp(dir_ + "/err");
    return run;
  }

  // Builds source text; returns the map's bytes ("" when the build failed).
  std::string Build(const std::string& source, ToolRun* run = nullptr) {
    Spit(dir_ + "/map.txt", source);
    std::remove((dir_ + "/map.bin").c_str());
    ToolRun r = Run("build '" + dir_ + "/map.txt' -o '" + dir_ + "/map.bin'");
    if (run) *run = r;
    return r.code == 0 ? Slurp(dir_ + "/map.bin") : "";
  }

  ToolRun Dump(const std::string& bytes) {
    Spit(dir_ + "/dump.bin", bytes);
    return Run("dump '" + dir_ + "/dump.bin'");
  }

  std::string dir_;
};

std::string Bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s += static_cast<char>(b);
  return s;
}

// The small example map: 64 x 64 pixels, one layer of 2 x 2 cells of 32 x 32
// pixels, one tile type.
const char kExampleSource[] =
    "# two by two cells\n"
    "text1 \"\"\n"
    "text2 \"\"\n"
    "size 64 64\n"
    "text3 \"\"\n"
    "start 0 0\n"
    "background \"\"   # black\n"
    "step 4\n"
    "layer \"L0\"\n"
    "  cells 2 2\n"
    "  tile-size 32 32\n"
    "  factor 1.0\n"
    "  planes 0\n"
    "  rows\n"
    "    1 0\n"
    "    0 1\n"
    "  end\n"
    "end\n"
    "tile \"grass.bmp\" frames 1\n";

std::string ExampleBytes() {
  return Bytes({0x0A, 0x0A, 0x40, 0, 0, 0, 0x40, 0, 0, 0, 0x0A, 0x01, 0x01, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0x0A, 0x04,
                0x4C, 0x30, 0x0A, 2, 0, 0, 0, 2, 0, 0, 0, 0x20, 0, 0, 0, 0x20, 0, 0, 0, 0x00, 0x00, 0x80, 0x3F, 0x00}) +
         "grass.bmp\n" + Bytes({0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00});
}

TEST_F(TesselMapTest, ExampleMapBuildsByteForByteAndRoundTripsThroughDump) {
  std::string built = Build(kExampleSource);
  ASSERT_EQ(built, ExampleBytes());

  ToolRun dump = Dump(built);
  ASSERT_EQ(dump.code, 0) << dump.err;
  EXPECT_EQ(dump.out.find("warning"), std::string::npos) << dump.out;
  EXPECT_NE(dump.out.find("factor 1  # bits 0x3F800000"), std::string::npos) << dump.out;
  EXPECT_EQ(Build(dump.out), ExampleBytes()) << dump.out;
}

TEST_F(TesselMapTest, CrLfTextsFloatsExtraPlanesAndEscapesRoundTrip) {
  std::string source =
      "newline crlf\n"
      "text1 \"Caf\xC3\xA9 \\\"quoted\\\" \\\\ \\x7F\"\n"
      "size 1000 480\n"
      "start -5 7\n"
      "background rgb 255 128 0\n"
      "step -3\n"
      "tile \"water 1.png\" frames 3 spare -2\n"
      "tile \"water 2.png\"\n"
      "tile \"water 3.png\" spare 32767\n"
      "layer \"far\"\n"
      "  cells 3 1\n"
      "  tile-size 200 16\n"
      "  factor 0.1\n"
      "  planes 2\n"
      "  rows\n"
      "    1 2 3\n"
      "  end\n"
      "  rows\n"
      "    -32768 32767 0x10\n"
      "  end\n"
      "end\n";
  std::string built = Build(source);
  ASSERT_FALSE(built.empty());
  std::string expectText = "Caf\xC3\xA9 \"quoted\" \\ \x7F\r\n";
  EXPECT_EQ(built.substr(0, expectText.size()), expectText);
  // 0x0080FF in decimal, the colour form the runner reads.
  EXPECT_NE(built.find(Bytes({7, 0, 0, 0}) + "33023\r\n"), std::string::npos);
  // Three planes: the first, the second as written, the third empty.
  std::string cells = Bytes({1, 0, 2, 0, 3, 0, 0x00, 0x80, 0xFF, 0x7F, 0x10, 0x00, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(built.substr(built.size() - cells.size()), cells);

  ToolRun dump = Dump(built);
  ASSERT_EQ(dump.code, 0);
  EXPECT_NE(dump.out.find("newline crlf"), std::string::npos);
  EXPECT_NE(dump.out.find("# colour 0x000080FF"), std::string::npos) << dump.out;
  EXPECT_EQ(Build(dump.out), built) << dump.out;
}

TEST_F(TesselMapTest, BlackBackgroundIsTheEmptyTextNotTheImageNameZero) {
  std::string built = Build("size 64 64\nstep 1\nbackground rgb 0 0 0\n");
  ASSERT_FALSE(built.empty());
  // text1, text2, size, text3, counts, start, then the background line.
  EXPECT_EQ(built[22], '\n');
  EXPECT_EQ(built.size(), 24u);
}

TEST_F(TesselMapTest, DumpWarnsAboutWhatTheRunnerCannotShow) {
  // Header: 64 x 64, 1 layer, 2 tile types; layer of 3 x 2 cells with tile
  // width 0; tile type 1 with 3 frames (past the last type 2); tile type 2 with
  // 0 frames; the cell block is cut short after 4 of its 6 cells.
  std::string map = Bytes({0x0A, 0x0A, 64, 0, 0, 0, 64, 0, 0, 0, 0x0A, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0A, 4}) +
                    "L\n" + Bytes({3, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0, 0, 0, 0, 0x80, 0x3F, 0}) + "a.png\n" +
                    Bytes({3, 0, 0}) + "b.png\n" + Bytes({0, 0, 0}) + Bytes({1, 0, 3, 0, 0xFF, 0xFF, 2, 0});
  ToolRun dump = Dump(map);
  ASSERT_EQ(dump.code, 0) << dump.err;
  const char* expected[] = {
      "tile size 0 x 32 is 0 or less: the layer is not drawn",
      "the cell block holds 8 of its 12 bytes; the rest reads as empty cells",
      "2 cell(s) name no tile type (outside 1 to 2) and are not drawn; the first is 3 at column 1, row 0",
      "tile type 1: frames 1 to 3 run past the last tile type 2",
      "tile type 2: frame count 0 is 0 or less",
  };
  for (const char* text : expected) EXPECT_NE(dump.out.find(text), std::string::npos) << text << "\n" << dump.out;
  // The cells the file holds are listed, then where it ends; the rest reads as empty.
  EXPECT_NE(dump.out.find("    1 3 -1\n    2\n    end-of-file\n  end\n"), std::string::npos) << dump.out;
  EXPECT_EQ(Build(dump.out), map) << dump.out;
}

TEST_F(TesselMapTest, DumpWarnsAboutBadBlockSizesCountsAndShortFiles) {
  // Two layers: 65536 x 65536 cells (overflows 32 bits) and 0 x 5 (size 0).
  std::string map = Bytes({0x0A, 0x0A, 64, 0, 0, 0, 64, 0, 0, 0, 0x0A, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0A, 4}) +
                    "big\n" + Bytes({0, 0, 1, 0, 0, 0, 1, 0, 8, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0x80, 0x3F, 0}) + "none\n" +
                    Bytes({0, 0, 0, 0, 5, 0, 0, 0, 8, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0x80, 0x3F, 0});
  ToolRun dump = Dump(map);
  ASSERT_EQ(dump.code, 0);
  EXPECT_NE(dump.out.find("cell block size 8589934592 overflows 32 bits: the runner stops with error 7"),
            std::string::npos)
      << dump.out;
  EXPECT_NE(dump.out.find("cell block size 0 is 0 or less: the runner stops with error 7"), std::string::npos);

  // A layer count byte of 0x80 is -128: no layers.
  ToolRun negative = Dump(Bytes({0x0A, 0x0A, 0, 0, 0, 0, 0, 0, 0, 0, 0x0A, 0x80, 0xFF, 0xFF}));
  EXPECT_NE(negative.out.find("layer count -128 is negative: the runner reads no layers"), std::string::npos)
      << negative.out;
  EXPECT_NE(negative.out.find("tile type count -1 is negative"), std::string::npos);
  EXPECT_NE(negative.out.find("the file ends inside the header"), std::string::npos);

  // The empty file is a valid, empty map.
  ToolRun empty = Dump("");
  EXPECT_EQ(empty.code, 0);
  EXPECT_NE(empty.out.find("size 0 0"), std::string::npos);
  EXPECT_NE(empty.out.find("0 layer(s), 0 tile type(s)"), std::string::npos);
}

TEST_F(TesselMapTest, DumpReadsTextLinesAsTheRunnerDoes) {
  // Text 2 ends with a lone CR and the map width's first byte is 10: the runner
  // takes the pair as one line end, so the size is read one byte late.
  std::string map = Bytes({'A', 0x0A, 'B', 0x0D, 0x0A, 0, 0, 0, 0x0B, 0, 0, 0, 0x0C});
  ToolRun dump = Dump(map);
  EXPECT_NE(dump.out.find("text1 \"A\""), std::string::npos) << dump.out;
  EXPECT_NE(dump.out.find("text2 \"B\""), std::string::npos);
  EXPECT_NE(dump.out.find("size 184549376 201326592"), std::string::npos) << dump.out;
  EXPECT_NE(dump.out.find("warning: text lines end both with LF and with CR LF"), std::string::npos);
  // Texts with a zero byte end, or none, are reported.
  EXPECT_NE(Dump(Bytes({'A', 0})).out.find("end with a lone CR, a zero byte or the end of the file"),
            std::string::npos);
  // The background's leading number decides between colour and image.
  auto background = [&](const std::string& text) {
    return Dump(Bytes({0x0A, 0x0A, 0, 0, 0, 0, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}) + text + "\n" +
                Bytes({4}))
        .out;
  };
  EXPECT_NE(background("12abc").find("# colour 0x0000000C"), std::string::npos);
  EXPECT_NE(background("0").find("# image in Tiles"), std::string::npos);
  EXPECT_NE(background("sky.png").find("# image in Tiles"), std::string::npos);
  EXPECT_NE(background("-1").find("selects an image background without an image"), std::string::npos);
}

TEST_F(TesselMapTest, SourceErrorsNameTheLineAndFailWithCode2) {
  struct Case {
    const char* source;
    const char* message;
  } cases[] = {
      {"size 64 64\nstep 4\nwidth 3\n", "map.txt:3: unknown keyword 'width'"},
      {"size 64 64\nstep 4\ntile \"a.png\"\nlayer \"L\"\n cells 2 2\n tile-size 8 8\n rows\n 1 0 1\n 0 0\n end\nend\n",
       "map.txt:8: a row of 3 cell(s), 2 expected"},
      {"size 64 64\nstep 4\ntile \"a.png\"\nlayer \"L\"\n cells 2 2\n tile-size 8 8\n rows\n 1 0\n end\nend\n",
       "map.txt:9: layer \"L\" has 1 row(s) here, 2 expected"},
      {"size 64 64\nstep 4\ntile \"a.png\"\nlayer \"L\"\n cells 2 2\n tile-size 8 8\n rows\n 1\n 0 0\n end\nend\n",
       "map.txt:8: a row of 1 cell(s), 2 expected"},
      {"size 64 64\nstep 4\nlayer \"L\"\n cells 2 1\n tile-size 8 8\n end-of-file\n rows\n 0 0\n end\nend\n",
       "map.txt:7: cells after 'end-of-file' (line 6)"},
      {"size 64 64\nstep 4\nlayer-count -2\nlayer \"L\"\n cells 1 1\n tile-size 8 8\nend\n",
       "map.txt:4: 'layer-count' gives a negative count: the map can have no layers"},
      {"size 64 64\nstep 4\nlayer \"L\"\n cells -1 -2\n tile-size 8 8\n rows\n",
       "map.txt:6: rows need a positive column and row count; list this layer's block with 'data'"},
      {"size 64 64\nstep 4\ntext1 \"open\n", "map.txt:3: string without its closing quote"},
      {"step 4\n", "the map has no 'size WIDTH HEIGHT'"},
      {"size 64 64\nstep 200\n", "map.txt:2: the scroll step 200 is outside -128 to 127"},
      {"size 64 64\nstep 4\nlayer \"L\"\n cells 65536 65536\n tile-size 8 8\n rows\n",
       "map.txt:6: the layer's cells cannot be listed: Tessel stops with error 7"},
      {"size 64 64\nstep 4\nlayer \"L\"\n cells 1 1\n tile-size 8 8\n factor fast\nend\n",
       "map.txt:6: the scroll factor must be a finite number (or 'bits 0xHHHHHHHH'), not 'fast'"},
      {"size 64 64\nstep 4\nlayer \"L\"\n cells 1 1\n", "the source ends inside layer \"L\": 'end' missing"},
      {"size 64 64\nsize 32 32\nstep 4\n", "map.txt:2: 'size' is given twice"},
  };
  for (const Case& c : cases) {
    ToolRun run;
    EXPECT_EQ(Build(c.source, &run), "") << c.source;
    EXPECT_EQ(run.code, 2) << c.source;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << "expected: " << c.message << "\ngot: " << run.err;
    EXPECT_FALSE(std::ifstream(dir_ + "/map.bin").good()) << "no output is written on errors";
  }
}

// What Tessel will not show or will refuse is written all the same, with a
// warning: a dump of any map must build again.
TEST_F(TesselMapTest, WhatTesselCannotShowBuildsWithWarnings) {
  struct Case {
    const char* source;
    const char* warning;
  } cases[] = {
      {"size 64 64\nstep 4\ntile \"a.png\"\nlayer \"L\"\n cells 2 1\n tile-size 8 8\n rows\n 0 2\n end\nend\n",
       "map.txt:8: warning: cell 2 in column 1 names no tile type (there are 1): it is not drawn"},
      {"size 64 64\nstep 4\ntile \"a.png\" frames 0\n", "map.txt:3: warning: tile type 1 has 0 frames"},
      {"size 64 64\nstep 4\ntile \"\"\n", "map.txt:3: warning: tile type 1 names no image: Tessel stops with error 5"},
      {"size 64 64\nstep 4\nlayer \"L\"\n cells 0 4\n tile-size 8 8\nend\n",
       "map.txt:3: warning: the cells of layer \"L\" take 0 bytes, outside 1 to 2147483647: Tessel stops with error 7"},
      {"size 64 64\nstep 4\nlayer \"L\"\n cells 65536 65536\n tile-size 8 8\nend\n",
       "map.txt:3: warning: the cells of layer \"L\" take 8589934592 bytes"},
      {"size 64 64\nstep 4\nlayer \"L\"\n cells 1 1\n tile-size 0 8\nend\n",
       "map.txt:3: warning: layer \"L\" has a tile size of 0 or less: it is not drawn"},
  };
  for (const Case& c : cases) {
    ToolRun run;
    EXPECT_NE(Build(c.source, &run), "") << c.source;
    EXPECT_EQ(run.code, 0) << c.source;
    EXPECT_NE(run.err.find(c.warning), std::string::npos) << "expected: " << c.warning << "\ngot: " << run.err;
  }
  // Frames past the last tile type make a blinking tile: no warning at all.
  ToolRun run;
  std::string blink = Build("size 64 64\nstep 4\ntile \"a.png\"\ntile \"lamp.png\" frames 2\n", &run);
  EXPECT_FALSE(blink.empty());
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(blink.substr(blink.size() - 12), "lamp.png\n" + Bytes({2, 0, 0}));
  // A map with a block Tessel cannot hold is written without cells: none are read.
  std::string noCells = Build("size 64 64\nstep 4\nlayer \"A\"\n cells 2 2\n tile-size 8 8\nend\nlayer \"B\"\n"
                              " cells 0 1\n tile-size 8 8\nend\n");
  EXPECT_EQ(noCells.size(), 24u + 23u + 23u);  // the header and two layer descriptions, no cells
  EXPECT_EQ(noCells.substr(noCells.size() - 5), Bytes({0, 0, 0x80, 0x3F, 0}));
}

// Maps whose fields no ordinary source gives (negative counts, a NaN factor,
// negative column and row counts, frame counts of 0 or less, blocks cut short)
// dump into source that builds the very same bytes again.
TEST_F(TesselMapTest, OddMapsRoundTripByteForByte) {
  auto header = [](int layers, int tiles) {
    return Bytes({0x0A, 0x0A, 64, 0, 0, 0, 64, 0, 0, 0, 0x0A, layers & 0xFF, tiles & 0xFF, (tiles >> 8) & 0xFF, 0, 0,
                  0, 0, 0, 0, 0, 0}) +
           "12x\n" + Bytes({0xF9});
  };
  std::vector<std::string> maps = {
      header(-3, -2),
      header(0, 3) + "a.png\n" + Bytes({0xFE, 0x34, 0x12}) + "\n" + Bytes({0, 0, 0}) + "\xC3(\n" + Bytes({2, 0xFF, 0xFF}),
      // Negative columns and rows (-2 x -3): a block of 12 bytes, all there, and a NaN factor.
      header(1, 1) + "neg\n" + Bytes({0xFE, 0xFF, 0xFF, 0xFF, 0xFD, 0xFF, 0xFF, 0xFF, 8, 0, 0, 0, 8, 0, 0, 0}) +
          Bytes({0x01, 0x00, 0xC0, 0x7F, 0}) + "t.bmp\n" + Bytes({1, 0, 0}) +
          Bytes({1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0}),
      // -2 x 3 cells with planes -2 (12 bytes again) and an infinite factor, cut after 3 cells.
      header(1, 1) + "neg\n" + Bytes({0xFE, 0xFF, 0xFF, 0xFF, 3, 0, 0, 0, 8, 0, 0, 0, 8, 0, 0, 0}) +
          Bytes({0x00, 0x00, 0x80, 0x7F, 0xFE}) + "t.bmp\n" + Bytes({1, 0, 0}) + Bytes({1, 0, 2, 0, 3, 0}),
      // Two layers of 3 x 2 cells and 1 extra plane, the file ending in layer 0's second plane.
      header(2, 1) + "A\n" + Bytes({3, 0, 0, 0, 2, 0, 0, 0, 8, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0x80, 0x3F, 1}) + "B\n" +
          Bytes({3, 0, 0, 0, 2, 0, 0, 0, 8, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0x80, 0x3F, 0}) + "t.bmp\n" + Bytes({1, 0, 0}) +
          Bytes({1, 0, 1, 0, 1, 0, 0, 0, 0, 0, 1, 0, 7, 0, 7, 0}),
      // The same file ending exactly after layer 0's first plane.
      header(2, 1) + "A\n" + Bytes({3, 0, 0, 0, 2, 0, 0, 0, 8, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0x80, 0x3F, 1}) + "B\n" +
          Bytes({3, 0, 0, 0, 2, 0, 0, 0, 8, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0x80, 0x3F, 0}) + "t.bmp\n" + Bytes({1, 0, 0}) +
          Bytes({1, 0, 1, 0, 1, 0, 0, 0, 0, 0, 1, 0}),
  };
  for (const std::string& map : maps) {
    ToolRun dump = Dump(map);
    ASSERT_EQ(dump.code, 0);
    ToolRun run;
    std::string rebuilt = Build(dump.out, &run);
    EXPECT_EQ(run.code, 0) << run.err << dump.out;
    EXPECT_EQ(rebuilt, map) << dump.out;
  }
  EXPECT_NE(Dump(maps[0]).out.find("layer-count -3\ntile-count -2\n"), std::string::npos);
  EXPECT_NE(Dump(maps[2]).out.find("factor bits 0x7FC00001"), std::string::npos) << Dump(maps[2]).out;
}

// A few kilobytes that declare blocks of gigabytes: the dump does work in
// proportion to the bytes, lists only what the file holds, and builds the
// same file again.
TEST_F(TesselMapTest, DeclaredBlocksPastTheEndCostOnlyTheBytesHeld) {
  std::string map = Bytes({0x0A, 0x0A, 64, 0, 0, 0, 64, 0, 0, 0, 0x0A, 3, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0A, 4});
  for (int l = 0; l < 3; l++) {
    // 32768 x 32767 cells of one plane: 2147418112 bytes each.
    map += "L\n" + Bytes({0, 0x80, 0, 0, 0xFF, 0x7F, 0, 0, 32, 0, 0, 0, 32, 0, 0, 0, 0, 0, 0x80, 0x3F, 0});
  }
  map += "t.bmp\n" + Bytes({1, 0, 0});
  while (map.size() < 2966) map += Bytes({1, 0});
  auto started = std::chrono::steady_clock::now();
  ToolRun dump = Dump(map);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  ASSERT_EQ(dump.code, 0);
  EXPECT_LT(seconds, 2.0);
  EXPECT_LT(dump.out.size(), 20000u);
  EXPECT_NE(dump.out.find("the cell block holds"), std::string::npos);
  EXPECT_NE(dump.out.find("  # no cells: the file has ended"), std::string::npos);
  EXPECT_EQ(Build(dump.out), map);
}

TEST_F(TesselMapTest, BadCommandLinesAndFilesFailWithCode2) {
  EXPECT_EQ(Run("").code, 2);
  EXPECT_NE(Run("").err.find("usage: tessel-map build SOURCE -o FILE"), std::string::npos);
  EXPECT_EQ(Run("build only-one-argument").code, 2);
  ToolRun missing = Run("dump '" + dir_ + "/no-such-map'");
  EXPECT_EQ(missing.code, 2);
  EXPECT_NE(missing.err.find("cannot read"), std::string::npos);
  Spit(dir_ + "/ok.txt", kExampleSource);
  ToolRun unwritable = Run("build '" + dir_ + "/ok.txt' -o '" + dir_ + "/no-such-dir/x.map'");
  EXPECT_EQ(unwritable.code, 2);
  EXPECT_NE(unwritable.err.find("cannot write"), std::string::npos);
}

TEST_F(TesselMapTest, DemoMapMatchesItsSourceAndNamesOnlyExistingTiles) {
  std::string demo = std::string(TESSEL_SOURCE_DIR) + "/demo";
  std::string built = Build(Slurp(demo + "/Maps/demo.map.txt"));
  ASSERT_FALSE(built.empty());
  EXPECT_EQ(built, Slurp(demo + "/Maps/demo.map"));
  ToolRun dump = Run("dump '" + demo + "/Maps/demo.map'");
  ASSERT_EQ(dump.code, 0);
  EXPECT_EQ(dump.out.find("warning"), std::string::npos) << dump.out.substr(0, 2000);
  // Every tile line names an image that exists in Tiles.
  std::istringstream lines(dump.out);
  std::string line;
  int tiles = 0;
  while (std::getline(lines, line)) {
    if (line.rfind("tile \"", 0) != 0) continue;
    std::string image = line.substr(6, line.find('"', 6) - 6);
    EXPECT_TRUE(std::ifstream(demo + "/Tiles/" + image).good()) << image;
    tiles++;
  }
  EXPECT_GT(tiles, 20);
  EXPECT_TRUE(std::ifstream(demo + "/Tiles/sky.png").good());
}

}  // namespace

namespace {

// Runs a command in a shell; its exit code.
int Command(const std::string& command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(TesselMapTest, DemoGeneratorReproducesTheCommittedDemo) {
  std::string bin = TESSEL_BINARY_DIR;
  ASSERT_EQ(Command(bin + "/tessel-demo '" + dir_ + "/demo' >/dev/null"), 0);
  EXPECT_EQ(Command("diff -r '" + dir_ + "/demo' '" + TESSEL_SOURCE_DIR + "/demo' >'" + dir_ + "/diff'"), 0)
      << Slurp(dir_ + "/diff");
}

TEST_F(TesselMapTest, DemoRunsHeadlessWithEveryTileLoaded) {
  // tessel-render loads every tile image as tessel does; a box would mean a
  // tile (5) or the map (2) could not be loaded.
  std::string command = "cd '" + std::string(TESSEL_SOURCE_DIR) + "/demo' && '" + TESSEL_BINARY_DIR +
                        "/tessel-render' demo.map 640 480 100 --keys 'right*50,down*20' --trace --out '" + dir_ +
                        "/demo.png' >'" + dir_ + "/out' 2>&1";
  EXPECT_EQ(Command(command), 0);
  std::string out = Slurp(dir_ + "/out");
  EXPECT_EQ(out.find("Fehlermeldung"), std::string::npos) << out.substr(0, 500);
  // 50 steps of 6 pixels right, 20 down; the last frame is the one with Escape held.
  EXPECT_NE(out.find("view 300 120"), std::string::npos) << out.substr(out.size() > 500 ? out.size() - 500 : 0);
  EXPECT_TRUE(std::ifstream(dir_ + "/demo.png").good());
}

}  // namespace
