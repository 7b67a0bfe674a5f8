// The Tiled importer of tessel-map: reads an orthogonal Tiled map (TMX or
// JSON, with TSX/TSJ tilesets) into plain records, turns what Tiled draws into
// Tessel layers and tile types, and writes the map and its tile images.
// Failures are results of false with the message in the report; nothing throws.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "tools/lib/map_file.h"

// Flags Tiled keeps in the top bits of a cell's global tile number.
constexpr uint32_t TiledFlipH = 0x80000000u;
constexpr uint32_t TiledFlipV = 0x40000000u;
constexpr uint32_t TiledFlipD = 0x20000000u;
constexpr uint32_t TiledRotateHex = 0x10000000u;  // hexagonal maps only; masked off
constexpr uint32_t TiledGidMask = 0x0FFFFFFFu;

// Bounds that keep a hostile file from taking unbounded memory or time. The
// cell bounds are variables so that the fuzz target can make them small.
inline int64_t TiledMaxLayerCells = 1 << 24;  // cells of one tile layer, and of the map
inline int64_t TiledMaxTotalCells = 1 << 26;  // cells of all tile layers together
constexpr int32_t TiledMaxTileSize = 4096;           // pixels, grid and tileset tiles
constexpr int64_t TiledMaxImagePixels = 1 << 26;     // one decoded image
constexpr int32_t TiledMaxImageSide = 32768;
constexpr int32_t TiledMaxGroupDepth = 64;
// Together these keep one import under about 1 GB: the file being read, its
// parsed tree, the cells, the decoded images, the pieces and the map written.
constexpr int64_t ImportMaxFileBytes = 32 << 20;         // one file read whole; a .gz map inflated
constexpr int64_t TiledMaxTreeBytes = 256 << 20;         // the parsed XML or JSON of one import
constexpr int64_t TiledMaxAllImagePixels = 1 << 26;      // all decoded images together
constexpr int64_t TiledMaxBackgroundPixels = 1 << 25;    // a fixed image layer made the background
constexpr int64_t TiledMaxPiecePixels = 1 << 25;         // the distinct grid pieces of all tile types
constexpr int64_t TiledMaxDrawPixels = 1 << 25;          // one drawn tile or object, all frames together
constexpr int64_t TiledMaxDrawCells = 1 << 22;           // grid cells one drawn tile or object covers
constexpr int64_t TiledMaxPieceVisits = 1 << 28;         // grid cells all draws together cover in the map's rows
// Bytes the parsed XML and JSON trees alive now take, against TiledMaxTreeBytes.
inline int64_t TiledTreeBytes = 0;

// Messages of one import: warnings are collected (each text once), the first
// error ends the import. Texts are written as "SOURCE: warning: ..." later.
struct ImportReport {
  std::vector<std::string> warnings;
  std::unordered_set<std::string> warned;  // the texts of warnings, to keep each once
  std::string error;
  bool failed = false;
};

// Records a warning once; returns nothing.
void ImportWarn(ImportReport* report, const std::string& text);
// Records the first error and returns false, so callers can `return ImportFail(...)`.
bool ImportFail(ImportReport* report, const std::string& text);

// How the importer reads the files a map names; the fuzz target swaps it for
// one that never touches the disk. Returns false when the file cannot be
// read, with errno saying why (ImportReadProblem turns it into words).
using ImportReadFile = bool (*)(const std::string& path, std::vector<uint8_t>* bytes);
// Reads a regular file of at most ImportMaxFileBytes whole; anything else
// (folders, FIFOs, devices) is refused before it is read (errno ENODEV or
// EISDIR), a larger file with EFBIG.
bool ImportReadDisk(const std::string& path, std::vector<uint8_t>* bytes);
// ImportReadDisk, but a missing X is read from X.gz (inflated) when that exists.
bool ImportReadDiskOrGz(const std::string& path, std::vector<uint8_t>* bytes);
// The same with another size limit (tessel-map's build and dump).
bool ImportReadDiskUpTo(const std::string& path, int64_t limit, std::vector<uint8_t>* bytes);
// What a file layer knows before reading: a regular file of size bytes, a
// folder or something else. Returns false (errno set) when the file must not
// be read; both ImportReadDisk and the fuzz target's file layer decide here.
enum class ImportFileKind { Regular, Folder, Other };
bool ImportReadAllowed(ImportFileKind kind, int64_t size, int64_t limit = ImportMaxFileBytes);
// Words for a read failure's errno ("not a regular file", the size bound, or strerror).
std::string ImportReadProblem(int err);
// A key naming the file itself: device and inode when it exists on disk, the
// path with "." and empty parts taken out otherwise.
std::string ImportFileKey(const std::string& path);
// Text from a file made fit for a message line: control characters are
// written as \xNN, so a name cannot move the cursor or retitle the terminal.
std::string ImportPrintable(const std::string& text);

// The one rule for numbers in map and tileset files. A whole number is an
// optional '-' and decimal digits, nothing more ("1e1", "0x10", "1.5", "+3"
// and " 4" are not whole numbers); false when text is none or lies outside lo..hi.
bool TiledWhole(const char* text, int64_t lo, int64_t hi, int64_t* value);
// A real number: JSON's number syntax (-12.5e-3), finite; false otherwise.
bool TiledReal(const char* text, double* value);

struct TiledImage {
  std::string source;  // resolved path ("" when none)
  int32_t width = 0, height = 0;  // declared size; 0 when not given
  bool hasTrans = false;
  uint32_t trans = 0;  // 0xRRGGBB colour key
};

struct TiledFrame {
  int32_t tileId = 0;
  int32_t duration = 0;
};

struct TiledTile {
  int32_t id = 0;
  TiledImage image;  // image-collection tilesets
  int32_t x = 0, y = 0, width = -1, height = -1;  // sub-rectangle (width -1: whole image)
  std::vector<TiledFrame> animation;
};

struct TiledTileset {
  uint32_t firstGid = 0;
  std::string firstGidWhere;  // where the map gives firstGid, for messages about it
  std::string name;
  std::string where;  // file and line for messages
  int32_t tileWidth = 0, tileHeight = 0;
  int32_t spacing = 0, margin = 0, tileCount = 0, columns = 0;
  int32_t offsetX = 0, offsetY = 0;
  bool gridRenderSize = false;  // tiles drawn scaled to the map grid
  std::string objectAlignment;  // where a tile object's position lies on its image ("" : bottom-left)
  TiledImage image;             // one-image tilesets (source "" otherwise)
  std::vector<TiledTile> tiles;  // tiles with their own records, sorted by id
};

struct TiledObject {
  uint32_t gid = 0;  // 0: not a tile object
  double x = 0, y = 0, width = 0, height = 0, rotation = 0;
  bool visible = true;
  bool hasSize = false;
  std::string kind;  // "tile", "rectangle", "ellipse", "polygon", "polyline", "point", "text", "template"
  int32_t line = 0;
};

enum class TiledLayerKind { Tile, Object, Image, Group };

struct TiledLayer {
  TiledLayerKind kind = TiledLayerKind::Tile;
  std::string name;
  int32_t line = 0;
  bool visible = true;
  double opacity = 1.0;
  double offsetX = 0, offsetY = 0;
  double parallaxX = 1.0, parallaxY = 1.0;
  bool hasTint = false;
  uint32_t tint = 0xFFFFFFFFu;
  // Tile layers: the cells of the rectangle (cellX, cellY, width, height).
  int32_t cellX = 0, cellY = 0, width = 0, height = 0;
  std::vector<uint32_t> cells;
  // Object layers.
  bool indexOrder = false;
  std::vector<TiledObject> objects;
  // Image layers.
  TiledImage image;
  bool repeatX = false, repeatY = false;
  // Group layers.
  std::vector<TiledLayer> children;
};

struct TiledMap {
  std::string orientation;
  std::string renderOrder = "right-down";
  int32_t width = 0, height = 0, tileWidth = 0, tileHeight = 0;
  bool infinite = false;
  bool hasBackground = false;
  uint32_t background = 0;  // 0xAARRGGBB
  double parallaxOriginX = 0, parallaxOriginY = 0;
  std::vector<TiledTileset> tilesets;  // sorted by firstGid
  std::vector<TiledLayer> layers;
  int64_t cellCount = 0;  // cells read so far, against TiledMaxTotalCells
};

// Parses a map file's bytes (TMX when it starts with '<' after blanks,
// JSON otherwise), reading the tilesets it names through read.
bool TiledMapParse(const std::vector<uint8_t>& bytes, const std::string& path, ImportReadFile read,
                   TiledMap* map, ImportReport* report);
// TMX and JSON readers (tiled_tmx.cpp, tiled_json.cpp).
bool TiledTmxParse(const std::vector<uint8_t>& bytes, const std::string& path, ImportReadFile read,
                   TiledMap* map, ImportReport* report);
bool TiledJsonParse(const std::vector<uint8_t>& bytes, const std::string& path, ImportReadFile read,
                    TiledMap* map, ImportReport* report);

// Reads a tileset file of either kind (label names it in messages); firstGid is left alone.
bool TiledTmxTilesetFile(const std::vector<uint8_t>& bytes, const std::string& path, const std::string& label,
                         TiledTileset* tileset, ImportReport* report);
bool TiledJsonTilesetFile(const std::vector<uint8_t>& bytes, const std::string& path, const std::string& label,
                          TiledTileset* tileset, ImportReport* report);

// Shared helpers of the readers (tiled_data.cpp).
// Decodes a layer's data text into exactly count global tile numbers.
bool TiledDecodeData(const std::string& text, const std::string& encoding, const std::string& compression,
                     int64_t count, std::vector<uint32_t>* cells, std::string* problem);
// Inflates zlib, gzip or zstd data to at most limit bytes; false past the limit or on damage.
bool TiledInflate(const std::vector<uint8_t>& in, const std::string& compression, size_t limit,
                  std::vector<uint8_t>* out, std::string* problem);
bool TiledBase64(const std::string& text, std::vector<uint8_t>* out);
// "#AARRGGBB", "#RRGGBB" (with or without '#') as 0xAARRGGBB.
bool TiledColour(const std::string& text, uint32_t* argb);
// Path of name relative to the folder of the file base.
std::string TiledResolve(const std::string& base, const std::string& name);
// Moves a parsed tileset's checks in one place: sizes, counts, ids.
bool TiledTilesetCheck(TiledTileset* tileset, ImportReport* report);
// Counts cells against the map's total and the per-layer bound.
bool TiledCellBudget(TiledMap* map, int64_t cells, const std::string& where, ImportReport* report);
// A chunk of an infinite map's tile layer, as its file gives it.
struct TiledChunk {
  int32_t x = 0, y = 0, width = 0, height = 0;
};
// Counts a layer's chunks: each chunk's cells (all are decoded) and the box they span.
bool TiledChunkBudget(TiledMap* map, int64_t chunkCells, int64_t boxCells, const std::string& where,
                      ImportReport* report);
// Sets the layer's rectangle to the chunks' bounding box; false (with the problem) past the bounds.
bool TiledChunkBox(const std::vector<TiledChunk>& chunks, TiledLayer* layer, std::string* problem);
// Copies a decoded chunk into its layer; false when it does not lie inside the layer's cells.
bool TiledChunkPlace(TiledLayer* layer, const TiledChunk& chunk, const std::vector<uint32_t>& cells);
// Where a line starts in a file's text, found once; line numbers of offsets
// come from it by a binary search.
struct TiledLines {
  std::vector<size_t> starts;
};
void TiledLinesOf(const std::vector<uint8_t>& bytes, TiledLines* lines);
int32_t TiledLineAt(const TiledLines& lines, size_t offset);

// An RGBA picture in memory.
struct ImportPicture {
  int32_t width = 0, height = 0;
  std::vector<uint8_t> rgba;
};

// The size a PNG, GIF, BMP or JPEG file declares in its header; false when it is none of them.
bool ImportPictureSize(const std::vector<uint8_t>& bytes, int32_t* width, int32_t* height);
// Reads PNG, GIF, BMP or JPEG bytes into RGBA (image_io.cpp); the declared
// size is checked against the bounds before anything is decoded.
bool ImportPictureDecode(const std::vector<uint8_t>& bytes, ImportPicture* picture, std::string* problem);
// Encodes 8-bit RGB rows as a PNG.
bool ImportPngEncode(int32_t width, int32_t height, const std::vector<uint8_t>& rgb, std::vector<uint8_t>* png);

// What the importer made: the map file's bytes and the tile images it names.
struct ImportImage {
  std::string name;  // file name in Tiles/
  std::vector<uint8_t> rgb;
  int32_t width = 0, height = 0;
};

struct ImportOptions {
  std::vector<std::string> hideLayers, showLayers;
  int32_t step = 0;  // 0: chosen from the tile size
  bool layers = false;  // keep Tiled's layers apart instead of composing runs of one scroll factor
  int32_t screenW = 0, screenH = 0;  // the screen parallax is lined up for; 0: the suggested run size
  std::string sourceText;  // recorded in the map's second free text (where it was imported from)
};

struct ImportResult {
  MapFile map;  // the map; the run step encodes and writes it
  std::vector<ImportImage> images;
  int32_t layerCount = 0, tileTypeCount = 0;
  int32_t mapWidth = 0, mapHeight = 0;
  int32_t interval = 100;
  bool background = false;  // a background image is among the images
  int32_t screenW = 0, screenH = 0;  // the screen parallax was lined up for (the suggested run size)
  int32_t startY = 0;  // the view's first position: below the overlay for maps smaller than it
  int32_t sourceLayers = 0;   // Tiled layers drawn
  int32_t composedFrom = 0;   // of them, the layers composed ...
  int32_t composedInto = 0;   // ... into this many Tessel layers
};

// Turns a parsed map into Tessel's map and images.
bool ImportBuild(const TiledMap& map, const ImportOptions& options, ImportReadFile read, ImportResult* result,
                 ImportReport* report);
