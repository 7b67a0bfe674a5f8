// Test harness for the whole Map runner: builds map files and BMP tiles in a
// temporary directory, runs MapRunnerMain in a child process on the headless
// backend from a key script and a test clock, and hands back what the child
// saw: one record per presented frame, message boxes, frames and exit code.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/dinput.h"

// Little-endian map file bytes, written in file order.
struct MapBytes {
  std::vector<uint8_t> bytes;
  MapBytes& Line(const std::string& text, const std::string& end = "\n");
  MapBytes& I8(int32_t value);
  MapBytes& I16(int32_t value);
  MapBytes& I32(int32_t value);
  MapBytes& F32(float value);
  MapBytes& Raw(const std::vector<uint8_t>& raw);
};

struct LayerSpec {
  int32_t width = 0, height = 0;    // cells
  int32_t tileWidth = 32, tileHeight = 32;
  float factor = 1.0f;
  int32_t planes = 0;               // extra planes
  std::vector<int16_t> cells;       // first plane, row by row; missing cells are 0
};

struct TileSpec {
  std::string image;
  int32_t frames = 1;
};

struct MapSpec {
  int32_t width = 0, height = 0;    // pixels
  int32_t startX = 0, startY = 0;
  std::string background;
  int32_t step = 8;
  std::vector<LayerSpec> layers;
  std::vector<TileSpec> tiles;
};

// The file bytes of a map spec, every text line ended by LF.
MapBytes MapEncode(const MapSpec& spec);

struct Rgb {
  uint8_t r, g, b;
  bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

// A temporary directory with Maps/ and Tiles/, removed with the object.
struct TestDir {
  std::string path;
  TestDir();
  ~TestDir();
  void Map(const std::string& name, const std::vector<uint8_t>& bytes) const;
  void Map(const std::string& name, const MapSpec& spec) const { Map(name, MapEncode(spec).bytes); }
  // A 24-bit BMP of one colour, or with a colour per pixel.
  void Tile(const std::string& name, int32_t width, int32_t height, Rgb colour) const;
  void Tile(const std::string& name, int32_t width, int32_t height,
            const std::function<Rgb(int32_t, int32_t)>& pixel) const;
  // Any file's bytes under a path relative to the directory.
  void File(const std::string& relative, const std::vector<uint8_t>& bytes) const;
  // A FIFO (named pipe) under a path relative to the directory.
  void Fifo(const std::string& relative) const;
};

// One step of a key script: scan codes held for a number of frames.
struct KeyStep {
  std::vector<int32_t> keys;
  int32_t frames;
};

constexpr int32_t KeyEsc = DIK_ESCAPE, KeyUp = DIK_UP, KeyLeft = DIK_LEFT, KeyRight = DIK_RIGHT,
                  KeyDownArrow = DIK_DOWN;

struct RunOptions {
  std::vector<std::string> args;    // after the program name
  std::vector<KeyStep> keys;        // Escape is held after the last step
  // Tick count seen by frame f (1-based), set before its keyboard poll; the
  // clock reads 0 while the map loads.
  std::function<uint32_t(int32_t frame)> clock = [](int32_t frame) { return (uint32_t)frame * 16u; };
  std::vector<int32_t> watchTiles;  // tile types whose current image each frame records
  int32_t captureFrame = 0;         // a frame (1-based) whose pixels are kept besides the last
  bool countCells = false;          // count the cells each frame draws
  bool faultAtFrame2 = false;       // a processor fault in the second frame's keyboard poll
  bool digest = false;              // record RunResult::records
  bool explain = false;             // record the terminal's line for the error number
  uint32_t failures = 0;            // HeadlessFailure bits for the run
};

struct FrameInfo {
  int32_t viewX, viewY;
  int32_t fps;
  int32_t offsetX[2], offsetY[2];   // layers 0 and 1
  int32_t current[8];               // current images of watchTiles
  int32_t cells;                    // cells drawn (countCells)
  uint64_t heapAllocations, newAllocations;
  int32_t stringFill;
};

struct Picture {
  int32_t width = 0, height = 0;
  std::vector<uint8_t> bgr;
  Rgb At(int32_t x, int32_t y) const;
};

struct RunResult {
  int32_t exitCode = -1;            // -1: no normal exit
  bool timedOut = false;
  int64_t maxRssKb = 0;             // the child's peak resident memory
  double seconds = 0;               // the child's run time, wall clock
  std::vector<FrameInfo> frames;
  std::vector<std::string> boxes;   // "CAPTION: TEXT"
  // The loaded map, as the first frame saw it.
  int32_t mapWidth = 0, mapHeight = 0, layerCount = 0, tileTypeCount = 0, scrollStep = 0;
  int32_t startX = 0, startY = 0;
  int32_t backgroundMode = 0, backgroundSprite = 0, animatedCount = 0;
  int32_t animated[8] = {};
  int32_t layerWidth = 0, layerHeight = 0, layerTileWidth = 0, layerTileHeight = 0, layerPlanes = 0;
  float layerFactor = 0;
  uint32_t layerBlockSize = 0;
  std::string text1, text2, text3, background, layerName, tileImage;
  // Every map record as the runner holds it at the first frame or the first
  // message box, whichever comes first: header, layers (cell blocks hashed),
  // tile types and the animated list (hashed), background (options.digest).
  std::string records;
  std::string explained;            // the terminal's line for the error number (options.explain)
  Picture last, captured;
};

// Runs the runner with the options in dir (its working directory) in a child process.
RunResult RunRunner(const TestDir& dir, const RunOptions& options);
