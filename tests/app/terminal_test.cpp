// The line tessel prints on standard error for each error number: the whole
// runner is run (headless, in a child) into each failure, and the line must
// name what failed (the file as looked for and why, the layer, the display or
// the keyboard) while the box stays exactly as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "app/terminal.h"
#include "harness.h"
#include "platform/headless.h"

namespace {

// A two-layer map over two tile images, a.bmp and b.bmp.
MapSpec TwoLayers() {
  MapSpec spec;
  spec.width = 64;
  spec.height = 64;
  LayerSpec back;
  back.width = back.height = 2;
  back.cells = {1, 2, 2, 1};
  spec.layers = {back, back};
  spec.tiles = {{"a.bmp", 1}, {"b.bmp", 1}};
  return spec;
}

struct ExplainCase {
  const char* name;
  std::vector<std::string> args;
  void (*prepare)(const TestDir& dir);
  uint32_t failures;
  const char* box;
  const char* line;  // the whole line, "" for none
};

void BothTiles(const TestDir& dir) {
  dir.Tile("a.bmp", 32, 32, {200, 0, 0});
  dir.Tile("b.bmp", 32, 32, {0, 200, 0});
}

const ExplainCase Cases[] = {
    {"missing map", {"nosuch", "64", "64", "100"}, [](const TestDir&) {}, 0, "Fehlermeldung: Fehlernummer:2",
     "tessel: error 2: cannot open the map Maps/nosuch: no such file (maps are looked up in Maps/ of the current "
     "folder)\n"},
    {"map in a missing folder", {"sub/m", "64", "64", "100"}, [](const TestDir&) {}, 0,
     "Fehlermeldung: Fehlernummer:2",
     "tessel: error 2: cannot open the map Maps/sub/m: no such folder (maps are looked up in Maps/ of the current "
     "folder)\n"},
    {"map is a folder", {"m", "64", "64", "100"},
     [](const TestDir& dir) { mkdir((dir.path + "/Maps/m").c_str(), 0755); }, 0, "Fehlermeldung: Fehlernummer:2",
     "tessel: error 2: cannot open the map Maps/m: it is a folder (only regular files are read)\n"},
    {"map is a FIFO", {"m", "64", "64", "100"}, [](const TestDir& dir) { dir.Fifo("Maps/m"); }, 0,
     "Fehlermeldung: Fehlernummer:2",
     "tessel: error 2: cannot open the map Maps/m: not a regular file (only regular files are read)\n"},
    {"no map name", {"", "64", "64", "100"}, [](const TestDir&) {}, 0, "Fehlermeldung: Fehlernummer:2",
     "tessel: error 2: cannot open the map: no map name was given (maps are looked up in Maps/ of the current "
     "folder)\n"},
    {"second tile missing", {"m", "64", "64", "100"},
     [](const TestDir& dir) {
       dir.Map("m", TwoLayers());
       dir.Tile("a.bmp", 32, 32, {200, 0, 0});
     },
     0, "Fehlermeldung: Fehlernummer:5",
     "tessel: error 5: cannot load the tile image Tiles/b.bmp (tile type 2): no such file (tile images are looked "
     "up in Tiles/ of the current folder)\n"},
    {"tile is no image", {"m", "64", "64", "100"},
     [](const TestDir& dir) {
       dir.Map("m", TwoLayers());
       dir.File("Tiles/a.bmp", {'h', 'e', 'l', 'l', 'o'});
     },
     0, "Fehlermeldung: Fehlernummer:5",
     "tessel: error 5: cannot load the tile image Tiles/a.bmp (tile type 1): not a BMP or PNG image\n"},
    {"damaged image", {"m", "64", "64", "100"},
     [](const TestDir& dir) {
       dir.Map("m", TwoLayers());
       dir.File("Tiles/a.bmp", {'B', 'M', 0, 0, 0});
     },
     0, "Fehlermeldung: Fehlernummer:5",
     "tessel: error 5: cannot load the tile image Tiles/a.bmp (tile type 1): the image is damaged or of a kind not "
     "read, or the images together pass the sprite budget of 256 MiB\n"},
    {"empty second layer", {"m", "64", "64", "100"},
     [](const TestDir& dir) {
       MapSpec spec = TwoLayers();
       spec.layers[1].width = 0;
       spec.layers[1].cells.clear();
       dir.Map("m", spec);
       BothTiles(dir);
     },
     0, "Fehlermeldung: Fehlernummer:7",
     "tessel: error 7: the cells of layer 2 \"layer\" cannot be held: 0 x 2 cells in 1 plane, a block of 0 bytes or "
     "less\n"},
    {"zero height", {"m", "64", "0", "100"}, [](const TestDir&) {}, 0, "Fehlermeldung: Fehlernummer:1",
     "tessel: error 1: the display could not be set up: 64 x 0 is no screen size (WIDTH and HEIGHT are from 1 to "
     "32767)\n"},
    {"no keyboard device", {"m", "64", "64", "100"}, [](const TestDir&) {}, HeadlessFailCreateDevice,
     "Fehlermeldung: Fehlernummer:1", "tessel: error 1: the keyboard could not be set up\n"},
    {"no display", {"m", "64", "64", "100"}, [](const TestDir&) {}, HeadlessFailDirectDrawCreate,
     "Fehlermeldung: Fehlernummer:1", "tessel: error 1: the display could not be set up: no display answers\n"},
    {"display mode refused", {"m", "64", "64", "100"}, [](const TestDir&) {}, HeadlessFailSetDisplayMode,
     "Fehlermeldung: Fehlernummer:1",
     "tessel: error 1: the display could not be set up at 64 x 64 pixels: no display answers, or it cannot show "
     "that size\n"},
};

TEST(TerminalExplanation, EachErrorNumberNamesWhatFailed) {
  for (const ExplainCase& c : Cases) {
    TestDir dir;
    c.prepare(dir);
    RunOptions options;
    options.args = c.args;
    options.explain = true;
    options.failures = c.failures;
    RunResult run = RunRunner(dir, options);
    EXPECT_EQ(run.exitCode, 0) << c.name;
    EXPECT_EQ(run.boxes, std::vector<std::string>{c.box}) << c.name;
    EXPECT_EQ(run.explained, c.line) << c.name;
  }
}

// The runner's own reading of a number (IntFromStr) decides what a usage line
// calls "not a number": what it reads whole passes, anything with a rest does not.
TEST(TerminalExplanation, NumbersAreWhatTheRunnerReadsWhole) {
  for (const char* text : {"0", "1024", "-5", "+7", " 12", "\t3"}) EXPECT_TRUE(TerminalIsNumber(text)) << text;
  for (const char* text : {"", "abc", "12x", "1 2", "-", "0x10", "3.5", "12 "})
    EXPECT_FALSE(TerminalIsNumber(text)) << text;
}

}  // namespace
