// Tiled maps and tilesets that the import tests write at run time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/tools/tiled_harness.h"

namespace tiled {

// A tileset cut from one picture of TilesetPicture tiles.
struct TilesetPlan {
  std::string name = "set";
  uint32_t firstGid = 1;
  int32_t tileWidth = 16;
  int32_t tileHeight = 16;
  int32_t columns = 4;
  int32_t rows = 4;
  int32_t margin = 0;
  int32_t spacing = 0;
  int32_t seed = 0;
  // png, bmp, gif or jpg; bmp and jpg have no alpha, so their transparent
  // pixels are painted magenta, which trans="ff00ff" keys out where keyed is set.
  std::string format = "png";
  bool keyed = false;
  // More XML inside <tileset>: <tileoffset>, <tile> animations.
  std::string extra;
};

// Writes the tileset's picture into dir; the <tileset> element for a map.
std::string TilesetWrite(const std::string& dir, const TilesetPlan& plan);
// The tile picture as drawn: what TilesetWrite saved (before any lossy format).
Image TilesetImage(const TilesetPlan& plan);

// A <layer> element.
std::string LayerXml(const std::string& name, int32_t width, int32_t height, const std::vector<uint32_t>& cells,
                     const std::string& encoding, const std::string& attributes = "");
// A whole orthogonal map around its tilesets and layers.
std::string MapXml(int32_t width, int32_t height, int32_t tileWidth, int32_t tileHeight, const std::string& body,
                   const std::string& attributes = "");

// Cells of gids first..first+count-1, a share of them empty, some flipped.
std::vector<uint32_t> RandomCells(Random* random, size_t size, uint32_t first, uint32_t count, uint32_t emptyPercent,
                                  bool flips);

// Draws grid-sized tiles of one tileset as Tiled does, layer over layer,
// flip flags included; for checking the maps against Tiled itself.
Image DrawLayers(int32_t width, int32_t height, const TilesetPlan& plan,
                 const std::vector<std::vector<uint32_t>>& layers);

}  // namespace tiled
