// The Map runner's records and globals: the map header, its layers and tile
// types, the animated-tile list, the background and the numbering constants,
// and the operations of the loader, scrolling, drawing, animation and the
// main program. Tests and tools read these records; only the runner writes them.
#pragma once

#include <cstdint>

#include "platform/win32.h"
#include "runtime/arrays.h"
#include "runtime/strings.h"

// The one map header. Field order is the file's: pairs of int32 fields are
// read together as one 8-byte block, so they must stay next to each other.
struct MapHeader {
  StringVariable text1;
  StringVariable text2;
  int32_t mapWidth;  // mapWidth, mapHeight: one pair
  int32_t mapHeight;
  StringVariable text3;
  int8_t layerCount;
  int16_t tileTypeCount;
  int32_t startX;  // startX, startY: one pair
  int32_t startY;
  StringVariable background;
  int8_t scrollStep;
  int32_t viewX;
  int32_t viewY;
};

struct MapLayer {
  StringVariable name;
  int32_t width;  // width, height: one pair (cells)
  int32_t height;
  int32_t tileWidth;  // tileWidth, tileHeight: one pair (pixels)
  int32_t tileHeight;
  float scrollFactor;
  int8_t extraPlanes;
  int32_t offsetX;  // offsetX, offsetY: one pair
  int32_t offsetY;
  int32_t firstColumn;  // firstColumn, firstRow: one pair
  int32_t firstRow;
  void* cells;  // BlockAlloc block of width * height * 2 * (extraPlanes + 1) bytes
};

struct TileType {
  StringVariable image;
  int8_t frameCount;
  // A 16-bit tile number, so tile types above 127 can be shown and animated.
  int16_t currentImage;
  int16_t spare;
};

// Type codes handed to ArrayAlloc: records and 16-bit integers.
constexpr int32_t MapArrayRecords = 7;
constexpr int32_t MapArrayWords = 3;

// Main program (runner.cpp); all live for the whole run.
extern int32_t MapFileNumber;   // 99
extern int32_t TileSpriteBase;  // 500: tile type t is sprite 500 + t
extern StringVariable MapName;
extern int32_t ScreenWidth;
extern int32_t ScreenHeight;
extern int32_t AnimationInterval;
extern int16_t FpsFrames;
extern int16_t FpsShown;
extern int64_t FpsLastTick;

// Map records (map.cpp). MapLayers holds layers 0 .. layerCount - 1, TileTypes
// entries 0 .. tileTypeCount (entry 0 unused), AnimatedTileList entries
// 1 .. AnimatedTileCount.
extern MapHeader Map;
extern MapLayer* MapLayers;
extern TileType* TileTypes;
extern int16_t* AnimatedTileList;
extern int16_t AnimatedTileCount;
extern int32_t BackgroundMode;    // -1: image in BackgroundSprite; otherwise a 0x00BBGGRR colour
extern int32_t BackgroundSprite;  // sprite number of the background image (0: none)
extern const StringFieldEntry MapLayerStringFields[];
extern const StringFieldEntry TileTypeStringFields[];

// Tile animation (animation.cpp).
extern int64_t AnimationLastTick;

// Every cell is drawn through this routine (SpriteDrawKeyed unless a test
// counts the cells a frame visits).
extern HRESULT (*MapCellDraw)(int32_t number, int32_t x, int32_t y);
// How MapDraw draws: in bands of rows that stay cached (1, the default), in
// bands of this many rows (2 or more), or layer by layer over the whole
// screen (0, the plain way tests compare against). The frame is the same.
extern int32_t MapDrawBanded;

// Shows "Fehlernummer:" number under "Fehlermeldung" and ends the run; never returns.
[[noreturn]] void ErrorExit(int8_t number);
// Called by ErrorExit before its box when set (tessel sets it: the terminal
// is told what failed); null in tools and tests.
extern void (*ErrorExitExplain)(int8_t number);
// Non-zero once a stop request came from the terminal (Ctrl+C, SIGTERM): the
// frame loop ends after the frame that sees it, as on Escape.
extern volatile int32_t RunnerStopAsked;
// The routine a processor fault enters: ErrorExit(9).
void ErrorExitFault();
// One frame of the loop: poll, scroll, animate, draw, overlay, count, present;
// non-zero when the state polled at its start holds Escape.
int32_t RunnerFrame();
// Counts this frame and publishes the count once 1000 ms have passed.
void FpsCount();

// Loads Maps\name of the current directory; ends the run through ErrorExit on failure.
void MapLoad(const char16_t* name);
// Releases the cell blocks, the map arrays and the tile sprites.
void MapFree();

// Moves the view one scroll step (dx, dy each -1, 0 or 1) and recomputes every layer's offset.
void MapScroll(int8_t dx, int8_t dy);
// Background, then every layer back to front, into the back buffer.
void MapDraw();
// Draws the visible cells of one layer.
void LayerDraw(int8_t layer);
// q[0] = a[0] / b[0], q[1] = a[1] / b[1], each through floating point, truncated.
void PairDivide(const int32_t* a, const int32_t* b, int32_t* q);

// Builds AnimatedTileList and every tile type's current image (run by MapLoad).
void TileAnimationSetUp();
// Steps every animated tile type once when interval ms have passed since the last step.
void TileAnimate(int16_t interval);
