// The binary map file as a plain record, its one encoder (what the map
// compiler, the Tiled importer and the benchmarks write) and a lenient decoder
// that reads any bytes as the runner reads them (what the map dump prints).
// The runner reads the file with its own loader (app/), and the runner's
// tests keep an encoder of their own as an independent check.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct MapFileLayer {
  std::string name;
  int32_t width = 0, height = 0;          // cells
  int32_t tileWidth = 0, tileHeight = 0;  // pixels
  uint32_t factorBits = 0x3F800000u;      // the scroll factor's float bits (1.0)
  int8_t planes = 0;                      // more planes of cells after the first
  // The layer's block as the file holds it, every plane, row by row. Shorter
  // than the block is padded with empty cells, unless the file ends there.
  std::vector<int16_t> cells;
};

struct MapFileTile {
  std::string image;  // file name in Tiles/
  int8_t frames = 1;
  int16_t spare = 0;
};

struct MapFile {
  bool crlf = false;  // text lines end with CR LF instead of LF
  std::string text1, text2, text3;  // free texts
  int32_t width = 0, height = 0;    // pixels
  // The counts as written: the layers' and tile types' own counts unless set
  // (a negative count: the runner reads none).
  bool ownCounts = true;
  int8_t layerCount = 0;
  int16_t tileCount = 0;
  int32_t startX = 0, startY = 0;
  std::string background;
  int8_t step = 4;
  std::vector<MapFileLayer> layers;
  std::vector<MapFileTile> tiles;
  bool blocks = true;   // false: the file ends after the tile types (no cells at all)
  int32_t endLayer = -1;  // the layer after whose listed cells the file ends (-1: none)
};

// The bytes of the map file.
std::vector<uint8_t> MapFileEncode(const MapFile& map);
// A scroll factor's bits.
uint32_t MapFileFactorBits(float factor);

// How a text line of the file ended.
enum class MapFileEnd { Lf, CrLf, Cr, Zero, EndOfFile };

// What the runner reads of a file, whatever its bytes: reads past the end give
// 0 and empty texts, a CR followed by byte 10 is one line end, a negative count
// reads no layers or tile types. map.layers[k].cells holds the cells the file
// holds of layer k's block (a last odd byte is a cell's low byte).
struct MapFileRead {
  MapFile map;  // ownCounts false: layerCount and tileCount as read
  std::vector<MapFileEnd> ends;  // every text line's end, in file order
  bool headerShort = false;        // the file ends inside the header
  bool descriptorsShort = false;   // ... inside the layer or tile type descriptions
  bool anyBadBlock = false;        // a block size the runner cannot hold: it reads no block
  std::vector<double> blockBytes;  // each layer's declared block size
  std::vector<size_t> blockAt;     // each layer's block offset in the file
  bool cut = false;                // the file ends inside a block (blockHeld < blockBytes)
  size_t cellsEnd = 0;             // where the blocks end (trailing bytes are never read)
};

void MapFileDecode(const std::vector<uint8_t>& bytes, MapFileRead* read);
