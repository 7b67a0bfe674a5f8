// From what Tiled draws to Tessel's map: every tile, tile object and image is
// cut into pieces on the map grid, and each piece goes into the lowest layer
// above whatever an earlier draw left in its cell, so Tessel's back-to-front
// layers repeat Tiled's drawing order cell by cell. Identical pieces share a
// tile type; animated pieces get a run of consecutive tile types per frame.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <tuple>
#include <unordered_map>

#include "tools/tessel-map/import/import_picture.h"
#include "tools/tessel-map/import/tiled.h"

namespace {

// Tessel's own bounds.
constexpr int32_t TesselMaxLayers = 127;
constexpr int32_t TesselMaxTileTypes = 32767;
constexpr int32_t TesselMaxFrames = 127;
// Room for the runner's overlay in the top-left corner of the screen.
constexpr int32_t OverlayWidth = 240, OverlayHeight = 80;

using KeyedPicture = ImportPicture;  // straight-alpha RGBA; a trans colour key is alpha 0

// Bounds of a composed run: Tessel's frame count of one tile type, and the
// sprite budget of the runner (every tile type's image counted at 4 bytes a pixel).
constexpr int32_t ComposeMaxCycle = TesselMaxFrames;
constexpr int64_t TesselSpriteBudget = (int64_t)256 << 20;

struct BuildTileType {
  int32_t image;   // index into images
  int32_t frames;  // 1 for a still tile; the first of an animated run holds the run's length
};

// A run of consecutive drawn layers with one scroll factor. While drawing, its
// pieces stack in slots: each piece goes into the lowest slot above whatever
// an earlier draw left in its cell, so a cell's stack is slots 0 to top.
struct BuildBand {
  float factor;
  std::vector<int32_t> sources;  // the source layers that drew into it, in order
  std::vector<int16_t> top;      // per cell: the topmost slot holding a piece there, -1 for none
  std::vector<std::vector<int32_t>> slots;  // per slot and cell: the draw entry + 1, 0 for none
  std::vector<std::string> slotNames;       // the source layer that opened each slot
  std::vector<std::vector<int16_t>> layers;  // Tessel's layers made of the band
  std::vector<std::string> names;
};

// A source layer as drawn: its name and how its pieces are blended.
struct SourceLayer {
  std::string name, where;
  double opacity;
  uint32_t tint;  // 0xAARRGGBB, 0xFFFFFFFF for none
  int32_t style;  // equal for equal opacity and tint
};

// One piece of a cached draw: the cell relative to the draw's base cell and its entry.
struct CachedPiece {
  int32_t dc, dr;
  int32_t entry;
};

struct Builder {
  const TiledMap* map;
  const ImportOptions* options;
  ImportReadFile read;
  ImportReport* report;
  ImportResult* result;
  bool compose = true;

  int32_t gw = 0, gh = 0;       // grid
  int32_t cols = 0, rows = 0;   // Tessel layer size in cells
  int64_t originX = 0, originY = 0;  // Tiled pixel at Tessel's (0, 0)
  int32_t screenW = 0, screenH = 0;  // the screen parallax layers are lined up for

  std::map<std::string, KeyedPicture> pictures;  // by the file itself and colour key
  int64_t picturePixels = 0;                      // of all pictures, against TiledMaxAllImagePixels
  std::vector<std::string> pieces;                // raw RGBA pieces of the grid's size, by index
  std::unordered_map<std::string, int32_t> pieceIndex;
  // Draw entries: the frames of pieces (one for a still piece) and the style
  // they are blended with (the layer's opacity and tint).
  std::vector<std::vector<int32_t>> entries;
  std::vector<int32_t> entryStyle;
  std::map<std::vector<int32_t>, int32_t> entryIndex;  // frames and style
  std::vector<std::pair<double, uint32_t>> styles;     // opacity, tint
  std::vector<SourceLayer> sources;
  std::map<std::pair<double, uint32_t>, int32_t> styleIndex;
  std::vector<std::string> images;                // tile pixels (RGB), by index
  std::unordered_map<std::string, int32_t> imageIndex;
  std::vector<BuildTileType> types;               // tile type t is types[t - 1]
  std::unordered_map<int32_t, int16_t> stillType;  // image index -> tile type
  std::map<std::vector<int32_t>, int16_t> runType;  // frame images -> first tile type
  std::vector<BuildBand> bands;
  // By cell value, position within the base cell and drawn size: numbers, not text, for a key built per cell.
  std::map<std::tuple<uint32_t, int64_t, int64_t, int32_t, int32_t, int32_t>, std::vector<CachedPiece>> drawCache;
  std::map<int32_t, int64_t> durations;  // frame duration -> how often
  int64_t pieceVisits = 0;  // pieces of all draws in the map's rows, against TiledMaxPieceVisits
  // A tile object's tile as drawn unscaled: by tileset, tile and flips.
  std::map<std::tuple<uint32_t, uint32_t, uint32_t>, std::pair<int32_t, int32_t>> tileSizes;
  bool anyDraw = false;
  std::string backgroundImage;  // pixels of a fixed background (rgb), "" for none
  std::string layerWhere;        // the source layer being drawn, for messages
  std::string layerName;
  int32_t layerSource = -1;
  int32_t layerStyle = 0;
  float layerFactor = 1.0f;
  std::vector<std::string> shapeLayers;  // object layers with shapes or text, for one warning
};

// A list for people: at most four items, then "and N more".
std::string ListCut(const std::vector<std::string>& items) {
  std::string out;
  size_t shown = items.size() > 5 ? 4 : items.size();
  for (size_t k = 0; k < shown; k++) {
    out += (k == 0 ? "" : k + 1 == items.size() ? " and " : ", ") + items[k];
  }
  if (shown < items.size()) out += " and " + std::to_string(items.size() - shown) + " more";
  return out;
}

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) q--;
  return q;
}

// Rounds to the nearest whole pixel; far-off values are held where the bounds checks refuse them.
int64_t Round(double v) { return std::llround(std::clamp(v, -1e15, 1e15)); }

std::string Hex64(uint64_t v) {
  static const char digits[] = "0123456789abcdef";
  std::string s(16, '0');
  for (int i = 15; i >= 0; i--, v >>= 4) s[(size_t)i] = digits[v & 15];
  return s;
}

// Two independent 64-bit hashes of the bytes: the file names of tile images.
std::string ContentName(int32_t w, int32_t h, const std::string& rgb) {
  uint64_t a = 0xcbf29ce484222325ull, b = 0x9E3779B97F4A7C15ull ^ ((uint64_t)w << 32 | (uint32_t)h);
  for (int k = 0; k < 8; k++) a = (a ^ (uint8_t)(((uint64_t)w << 32 | (uint32_t)h) >> (8 * k))) * 0x100000001b3ull;
  for (unsigned char c : rgb) {
    a = (a ^ c) * 0x100000001b3ull;
    b = (b + c + 1) * 0xff51afd7ed558ccdull;
    b ^= b >> 29;
  }
  return "t" + Hex64(a) + Hex64(b) + ".png";
}

// Reads an image as straight-alpha RGBA, its trans colour (if any) made
// transparent; with separate layers, warns once per tileset (or image) with
// half-transparent pixels, which Tessel's key then draws opaque or leaves out.
const KeyedPicture* PictureGet(Builder* b, const TiledImage& image, const std::string& owner) {
  // One file named by several paths is decoded once.
  std::string key = ImportFileKey(image.source) + (image.hasTrans ? "#" + std::to_string(image.trans) : "");
  auto it = b->pictures.find(key);
  if (it != b->pictures.end()) return &it->second;
  std::vector<uint8_t> bytes;
  if (!b->read(image.source, &bytes)) {
    ImportFail(b->report, owner + ": cannot read the image " + image.source + ": " + ImportReadProblem(errno));
    return nullptr;
  }
  ImportPicture p;
  std::string problem;
  int32_t w, h;
  if (ImportPictureSize(bytes, &w, &h) && w > 0 && h > 0 && (int64_t)w * h <= TiledMaxImagePixels &&
      b->picturePixels + (int64_t)w * h > TiledMaxAllImagePixels) {
    ImportFail(b->report, owner + ": " + image.source + ": the images take more than the importer's bound of " +
                              std::to_string(TiledMaxAllImagePixels) + " pixels in all");
    return nullptr;
  }
  if (!ImportPictureDecode(bytes, &p, &problem)) {
    ImportFail(b->report, owner + ": " + image.source + ": " + problem);
    return nullptr;
  }
  bytes = std::vector<uint8_t>();
  b->picturePixels += (int64_t)p.width * p.height;
  if (b->picturePixels > TiledMaxAllImagePixels) {
    ImportFail(b->report, owner + ": " + image.source + ": the images take more than the importer's bound of " +
                              std::to_string(TiledMaxAllImagePixels) + " pixels in all");
    return nullptr;
  }
  bool half = false;
  for (size_t i = 0; i < p.rgba.size(); i += 4) {
    uint8_t* px = &p.rgba[i];
    uint32_t rgb = (uint32_t)px[0] << 16 | (uint32_t)px[1] << 8 | px[2];
    if (image.hasTrans && rgb == image.trans) {
      px[0] = px[1] = px[2] = px[3] = 0;
      continue;
    }
    // Soft pixels are thresholded either way, so both halves of the range count.
    if (px[3] > 0 && px[3] < 255) half = true;
  }
  if (half && !b->compose) {
    ImportWarn(b->report, owner + ": half-transparent pixels are drawn opaque (alpha 128 and above) or left out");
  }
  return &b->pictures.emplace(key, std::move(p)).first->second;
}

// The tileset holding gid: the last whose firstgid is not past it (they are sorted by firstgid).
const TiledTileset* TilesetOf(const Builder* b, uint32_t gid) {
  const std::vector<TiledTileset>& sets = b->map->tilesets;
  auto it = std::upper_bound(sets.begin(), sets.end(), gid,
                             [](uint32_t g, const TiledTileset& t) { return g < t.firstGid; });
  return it == sets.begin() ? nullptr : &*(it - 1);
}

const TiledTile* TileRecord(const TiledTileset& t, int32_t id) {
  auto it = std::lower_bound(t.tiles.begin(), t.tiles.end(), id,
                             [](const TiledTile& tile, int32_t v) { return tile.id < v; });
  return it != t.tiles.end() && it->id == id ? &*it : nullptr;
}

// The picture of one tile of a tileset, flipped as the cell asks; false (after reporting) when it has none.
bool TilePicture(Builder* b, const TiledTileset& t, int32_t id, uint32_t flags, KeyedPicture* out) {
  if (!t.image.source.empty()) {
    const KeyedPicture* sheet = PictureGet(b, t.image, "tileset \"" + t.name + "\" (" + t.where + ")");
    if (!sheet) return false;
    int32_t columns = (sheet->width - 2 * t.margin + t.spacing) / (t.tileWidth + t.spacing);
    int32_t sheetRows = (sheet->height - 2 * t.margin + t.spacing) / (t.tileHeight + t.spacing);
    if (columns < 0) columns = 0;
    if (sheetRows < 0) sheetRows = 0;
    int64_t count = (int64_t)columns * sheetRows;
    if (t.tileCount > 0 && t.tileCount < count) count = t.tileCount;
    if ((id < 0 || id >= count) && &t == &b->map->tilesets.back()) {
      return ImportFail(b->report, b->layerWhere + ": tile number " + std::to_string(t.firstGid + (uint32_t)id) +
                                       " is past every tileset (the last, \"" + t.name + "\", has " +
                                       std::to_string(count) + " tiles)");
    }
    if (id < 0 || id >= count) {
      return ImportFail(b->report, b->layerWhere + ": tile " + std::to_string(id) + " is past the " +
                                       std::to_string(count) + " tiles of the tileset \"" + t.name + "\"");
    }
    int32_t x = t.margin + (id % columns) * (t.tileWidth + t.spacing);
    int32_t y = t.margin + (id / columns) * (t.tileHeight + t.spacing);
    *out = PictureFlip(PictureCrop(*sheet, x, y, t.tileWidth, t.tileHeight), flags);
  } else {
    const TiledTile* tile = TileRecord(t, id);
    if (!tile || tile->image.source.empty()) {
      return ImportFail(b->report, b->layerWhere + ": the tileset \"" + t.name + "\" has no image for tile " +
                                       std::to_string(id));
    }
    const KeyedPicture* whole = PictureGet(b, tile->image, "tileset \"" + t.name + "\" (" + t.where + ")");
    if (!whole) return false;
    int32_t w = tile->width >= 0 ? tile->width : whole->width;
    int32_t h = tile->height >= 0 ? tile->height : whole->height;
    if (w <= 0 || h <= 0 || w > TiledMaxImageSide || h > TiledMaxImageSide) {
      return ImportFail(b->report, t.where + ": tile " + std::to_string(id) + " has an empty or absurd rectangle");
    }
    // A rectangle reaching past its image would be made of nothing but transparent pixels.
    if (tile->x < 0 || tile->y < 0 || (int64_t)tile->x + w > whole->width || (int64_t)tile->y + h > whole->height) {
      return ImportFail(b->report, t.where + ": tile " + std::to_string(id) + "'s rectangle " +
                                       std::to_string(w) + "x" + std::to_string(h) + " at " + std::to_string(tile->x) +
                                       "," + std::to_string(tile->y) + " reaches past its image of " +
                                       std::to_string(whole->width) + "x" + std::to_string(whole->height));
    }
    *out = PictureFlip(PictureCrop(*whole, tile->x, tile->y, w, h), flags);
  }
  if (t.gridRenderSize && (out->width != b->gw || out->height != b->gh)) {
    ImportWarn(b->report, "tileset \"" + t.name + "\": tiles scaled to the grid are drawn with nearest-neighbour scaling");
    *out = PictureScale(*out, b->gw, b->gh);
  }
  return true;
}

// The index of a piece's pixels among the images; -1 (after reporting) past TiledMaxPiecePixels.
int32_t ImageIntern(Builder* b, const std::string& pixels) {
  auto it = b->imageIndex.find(pixels);
  if (it != b->imageIndex.end()) return it->second;
  if ((int64_t)(b->images.size() + 1) * b->gw * b->gh > TiledMaxPiecePixels) {
    ImportFail(b->report, b->layerWhere + ": the map's distinct pieces take more than the importer's bound of " +
                              std::to_string(TiledMaxPiecePixels) + " pixels");
    return -1;
  }
  int32_t index = (int32_t)b->images.size();
  b->images.push_back(pixels);
  b->imageIndex.emplace(pixels, index);
  return index;
}

bool TypesFull(Builder* b, size_t more) {
  if (b->types.size() + more > (size_t)TesselMaxTileTypes) {
    return !ImportFail(b->report, "the map needs more than Tessel's " + std::to_string(TesselMaxTileTypes) +
                                      " tile types");
  }
  return false;
}

int16_t StillType(Builder* b, int32_t image) {
  if (image < 0) return 0;
  auto it = b->stillType.find(image);
  if (it != b->stillType.end()) return it->second;
  if (TypesFull(b, 1)) return 0;
  b->types.push_back({image, 1});
  int16_t t = (int16_t)b->types.size();
  b->stillType.emplace(image, t);
  return t;
}

int16_t RunType(Builder* b, const std::vector<int32_t>& frames) {
  if (std::find(frames.begin(), frames.end(), -1) != frames.end()) return 0;
  auto it = b->runType.find(frames);
  if (it != b->runType.end()) return it->second;
  if (TypesFull(b, frames.size())) return 0;
  int16_t first = (int16_t)(b->types.size() + 1);
  for (size_t k = 0; k < frames.size(); k++) {
    b->types.push_back({frames[k], k == 0 ? (int32_t)frames.size() : 1});
    // The later frames are still tile types of their own, free for cells with that image.
    if (k > 0) b->stillType.emplace(frames[k], (int16_t)(first + k));
  }
  b->runType.emplace(frames, first);
  return first;
}

// The tile type of keyed frame images (-1: an empty frame); -1 when every
// frame is empty, 0 (after reporting) when Tessel's tile types run out.
int32_t FramesType(Builder* b, std::vector<int32_t>* frames) {
  bool any = false;
  for (int32_t f : *frames) any = any || f >= 0;
  if (!any) return -1;
  if (frames->size() == 1) return StillType(b, (*frames)[0]);
  // An empty frame is an image of its own: all key.
  for (int32_t& f : *frames) {
    if (f < 0) f = ImageIntern(b, std::string((size_t)b->gw * b->gh * 3, '\0'));
  }
  return RunType(b, *frames);
}

// The index of a drawn piece's pixels; -1 (after reporting) past TiledMaxPiecePixels.
int32_t PieceIntern(Builder* b, const std::string& rgba) {
  auto it = b->pieceIndex.find(rgba);
  if (it != b->pieceIndex.end()) return it->second;
  if ((int64_t)(b->pieces.size() + 1) * b->gw * b->gh > TiledMaxPiecePixels) {
    ImportFail(b->report, b->layerWhere + ": the map's distinct pieces take more than the importer's bound of " +
                              std::to_string(TiledMaxPiecePixels) + " pixels");
    return -1;
  }
  int32_t index = (int32_t)b->pieces.size();
  b->pieces.push_back(rgba);
  b->pieceIndex.emplace(rgba, index);
  return index;
}

// The entry of frames drawn in the current layer's style.
int32_t EntryIntern(Builder* b, const std::vector<int32_t>& frames) {
  std::vector<int32_t> key = frames;
  key.push_back(b->layerStyle);
  auto it = b->entryIndex.find(key);
  if (it != b->entryIndex.end()) return it->second;
  int32_t index = (int32_t)b->entries.size();
  b->entries.push_back(frames);
  b->entryStyle.push_back(b->layerStyle);
  b->entryIndex.emplace(std::move(key), index);
  return index;
}

// The piece of a picture at top-left (px, py) that falls in the grid cell
// (c, r), as straight-alpha RGBA; false when none of its pixels shows.
bool PieceOf(const Builder* b, const KeyedPicture& p, int64_t px, int64_t py, int64_t c, int64_t r,
             std::string* piece) {
  piece->assign((size_t)b->gw * b->gh * 4, '\0');
  bool any = false;
  int64_t x0 = c * b->gw, y0 = r * b->gh;
  for (int32_t j = 0; j < b->gh; j++) {
    int64_t sy = y0 + j - py;
    if (sy < 0 || sy >= p.height) continue;
    for (int32_t i = 0; i < b->gw; i++) {
      int64_t sx = x0 + i - px;
      if (sx < 0 || sx >= p.width) continue;
      const uint8_t* s = &p.rgba[((size_t)sy * p.width + (size_t)sx) * 4];
      if (!s[3]) continue;
      std::memcpy(&(*piece)[((size_t)j * b->gw + i) * 4], s, 4);
      any = true;
    }
  }
  return any;
}

BuildBand* BandFor(Builder* b) {
  if (b->bands.empty() || b->bands.back().factor != b->layerFactor) {
    BuildBand band;
    band.factor = b->layerFactor;
    b->bands.push_back(std::move(band));
  }
  return &b->bands.back();
}

// Tessel layers made so far, or slots of bands not yet made into layers.
int32_t LayerTotal(const Builder* b) {
  size_t n = 0;
  for (const BuildBand& band : b->bands) n += band.layers.empty() ? band.slots.size() : band.layers.size();
  return (int32_t)n;
}

// Puts the draw entry into cell (c, r) of the current band, in the lowest
// slot above every piece drawn there before.
bool Place(Builder* b, int64_t c, int64_t r, int32_t entry) {
  if (c < 0 || r < 0 || c >= b->cols || r >= b->rows) return true;
  BuildBand* band = BandFor(b);
  if (band->sources.empty() || band->sources.back() != b->layerSource) band->sources.push_back(b->layerSource);
  if (band->top.empty()) band->top.assign((size_t)b->cols * b->rows, -1);
  size_t cell = (size_t)r * b->cols + (size_t)c;
  int32_t slot = band->top[cell] + 1;
  if (slot >= (int32_t)band->slots.size()) {
    // Kept apart, every slot is a Tessel layer; composed, only the cells of all slots are bounded.
    if (!b->compose && LayerTotal(b) + 1 > TesselMaxLayers) {
      return ImportFail(b->report, b->layerWhere + ": the map needs more than Tessel's " +
                                       std::to_string(TesselMaxLayers) + " layers (tiles overlap too deeply)");
    }
    if ((int64_t)(LayerTotal(b) + 1) * b->cols * b->rows > TiledMaxTotalCells || slot >= INT16_MAX) {
      return ImportFail(b->report, b->layerWhere + ": the map needs more than the importer's " +
                                       std::to_string(TiledMaxTotalCells) + " cells in all its layers");
    }
    band->slots.emplace_back((size_t)b->cols * b->rows, 0);
    band->slotNames.push_back(b->layerName);
  }
  band->slots[(size_t)slot][cell] = entry + 1;
  band->top[cell] = (int16_t)slot;
  b->anyDraw = true;
  return true;
}

// A drawn picture as pieces relative to its base cell, the cell holding (px, py);
// frame k's top edge lies at py + frameY[k].
// frames holds one picture per animation frame step (one picture for a still draw).
bool Pieces(Builder* b, const std::vector<const KeyedPicture*>& frames, const std::vector<int64_t>& frameY,
            int64_t px, int64_t py, std::vector<CachedPiece>* out) {
  int64_t baseC = FloorDiv(px, b->gw), baseR = FloorDiv(py, b->gh);
  // Only the cells under drawn pixels can hold pieces.
  int64_t minR = INT64_MAX, maxR = INT64_MIN, minC = INT64_MAX, maxC = INT64_MIN;
  for (size_t k = 0; k < frames.size(); k++) {
    const KeyedPicture& p = *frames[k];
    int64_t x0 = INT64_MAX, y0 = INT64_MAX, x1 = INT64_MIN, y1 = INT64_MIN;
    for (int32_t y = 0; y < p.height; y++) {
      for (int32_t x = 0; x < p.width; x++) {
        if (!p.rgba[((size_t)y * p.width + x) * 4 + 3]) continue;
        x0 = std::min<int64_t>(x0, x);
        x1 = std::max<int64_t>(x1, x);
        y0 = std::min<int64_t>(y0, y);
        y1 = std::max<int64_t>(y1, y);
      }
    }
    if (x0 == INT64_MAX) continue;
    int64_t top = py + frameY[k];
    minR = std::min(minR, FloorDiv(top + y0, b->gh));
    maxR = std::max(maxR, FloorDiv(top + y1, b->gh));
    minC = std::min(minC, FloorDiv(px + x0, b->gw));
    maxC = std::max(maxC, FloorDiv(px + x1, b->gw));
  }
  if (minR != INT64_MAX && (maxR - minR + 1) * (maxC - minC + 1) > TiledMaxDrawCells) {
    return ImportFail(b->report, b->layerWhere + ": a tile or object covers more than the importer's bound of " +
                                     std::to_string(TiledMaxDrawCells) + " cells");
  }
  std::string piece;
  std::vector<int32_t> run;
  for (int64_t r = minR; r <= maxR; r++) {
    for (int64_t c = minC; c <= maxC; c++) {
      run.clear();
      bool any = false;
      for (size_t k = 0; k < frames.size(); k++) {
        any |= PieceOf(b, *frames[k], px, py + frameY[k], c, r, &piece);
        run.push_back(PieceIntern(b, piece));
        if (run.back() < 0) return false;
      }
      if (!any) continue;
      out->push_back({(int32_t)(c - baseC), (int32_t)(r - baseR), EntryIntern(b, run)});
    }
  }
  return true;
}

// Draws the tile gid (with its flags) with its bottom-left corner at (left, bottom)
// in Tessel pixels, scaled to w x h when w > 0.
bool DrawTile(Builder* b, uint32_t raw, int64_t left, int64_t bottom, int32_t w, int32_t h) {
  uint32_t gid = raw & TiledGidMask;
  uint32_t flags = raw & (TiledFlipH | TiledFlipV | TiledFlipD);
  const TiledTileset* t = TilesetOf(b, gid);
  if (!t) {
    return ImportFail(b->report, b->layerWhere + ": tile number " + std::to_string(gid) + " is past every tileset");
  }
  int32_t id = (int32_t)(gid - t->firstGid);
  left += t->offsetX;
  bottom += t->offsetY;
  int64_t leftSub = left - FloorDiv(left, b->gw) * b->gw;
  int64_t bottomSub = bottom - FloorDiv(bottom, b->gh) * b->gh;
  // The entries carry the layer's style: draws of other layers cut their own.
  auto key = std::make_tuple(raw, leftSub, bottomSub, w, h, b->layerStyle);
  auto cached = b->drawCache.find(key);
  if (cached == b->drawCache.end()) {
    std::vector<CachedPiece> pieces;
    const TiledTile* record = TileRecord(*t, id);
    std::vector<TiledFrame> frames;
    if (record && !record->animation.empty()) frames = record->animation;
    else frames.push_back({id, 0});
    // Tessel steps every animation on one interval: a frame lasting a whole
    // number of intervals is repeated that often.
    int32_t interval = b->result->interval;
    std::vector<int32_t> repeat;
    int64_t total = 0;
    for (const TiledFrame& f : frames) {
      int32_t n = frames.size() > 1 && interval > 0 ? (int32_t)std::max<int64_t>(1, std::llround((double)f.duration / interval)) : 1;
      repeat.push_back(n);
      total += n;
    }
    if (total > TesselMaxFrames) {
      for (int32_t& n : repeat) n = 1;
      total = (int64_t)frames.size();
      ImportWarn(b->report, "tileset \"" + t->name + "\": an animation is too long to repeat frames for their durations");
    }
    if (total > TesselMaxFrames) {
      ImportWarn(b->report, "tileset \"" + t->name + "\": an animation of " + std::to_string(frames.size()) +
                                " frames is cut to Tessel's " + std::to_string(TesselMaxFrames));
      frames.resize((size_t)TesselMaxFrames);
      repeat.assign(frames.size(), 1);
    }
    std::vector<KeyedPicture> pictures(frames.size());
    int64_t pixels = 0;
    for (size_t k = 0; k < frames.size(); k++) {
      if (!TilePicture(b, *t, frames[k].tileId, flags, &pictures[k])) return false;
      pixels += w > 0 && h > 0 ? (int64_t)w * h : (int64_t)pictures[k].width * pictures[k].height;
      if (pixels > TiledMaxDrawPixels) {
        return ImportFail(b->report, b->layerWhere + ": a tile or object with its frames takes more than the "
                                         "importer's bound of " + std::to_string(TiledMaxDrawPixels) + " pixels");
      }
      if (w > 0 && h > 0 && (pictures[k].width != w || pictures[k].height != h)) {
        pictures[k] = PictureScale(pictures[k], w, h);
      }
    }
    std::vector<const KeyedPicture*> steps;
    std::vector<int64_t> stepY;
    for (size_t k = 0; k < frames.size(); k++) {
      for (int32_t n = 0; n < repeat[k]; n++) {
        steps.push_back(&pictures[k]);
        stepY.push_back(-pictures[k].height);
      }
    }
    // Pieces relative to cell (0, 0) for a draw whose bottom-left lies at (leftSub, bottomSub) in it.
    if (!Pieces(b, steps, stepY, leftSub, bottomSub, &pieces)) return false;
    cached = b->drawCache.emplace(key, std::move(pieces)).first;
  }
  int64_t baseC = FloorDiv(left, b->gw), baseR = FloorDiv(bottom, b->gh);
  // The pieces are in row order: only those in the map's rows are visited,
  // and the visits of all draws are bounded, so objects repeated far off the
  // map cost nothing and large ones beside it cannot add up to hours.
  const std::vector<CachedPiece>& pieces = cached->second;
  auto rowBefore = [](const CachedPiece& p, int64_t row) { return p.dr < row; };
  auto first = std::lower_bound(pieces.begin(), pieces.end(), -baseR, rowBefore);
  auto last = std::lower_bound(first, pieces.end(), (int64_t)b->rows - baseR, rowBefore);
  b->pieceVisits += last - first;
  if (b->pieceVisits > TiledMaxPieceVisits) {
    return ImportFail(b->report, b->layerWhere + ": the tiles and objects cover more than the importer's bound of " +
                                     std::to_string(TiledMaxPieceVisits) + " cells in all");
  }
  for (auto p = first; p != last; ++p) {
    if (!Place(b, baseC + p->dc, baseR + p->dr, p->entry)) return false;
  }
  return true;
}

struct LeafState {
  double offsetX = 0, offsetY = 0;
  double parallaxX = 1, parallaxY = 1;
  double opacity = 1;
  bool visible = true;
  bool tinted = false;
  uint32_t tint = 0xFFFFFFFFu;
  bool shown = false;  // named by --show-layer (itself or a group around it)
  bool hidden = false;
};

bool Named(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}


bool DrawTileLayer(Builder* b, const TiledLayer& layer, int64_t ox, int64_t oy) {
  int32_t w = layer.width, h = layer.height;
  bool up = b->map->renderOrder == "right-up" || b->map->renderOrder == "left-up";
  bool left = b->map->renderOrder == "left-down" || b->map->renderOrder == "left-up";
  for (int32_t jr = 0; jr < h; jr++) {
    int32_t r = up ? h - 1 - jr : jr;
    for (int32_t ic = 0; ic < w; ic++) {
      int32_t c = left ? w - 1 - ic : ic;
      uint32_t raw = layer.cells[(size_t)r * w + c];
      if (!(raw & TiledGidMask)) continue;
      int64_t x = ((int64_t)layer.cellX + c) * b->gw - b->originX + ox;
      int64_t bottom = ((int64_t)layer.cellY + r + 1) * b->gh - b->originY + oy;
      if (!DrawTile(b, raw & ~TiledRotateHex, x, bottom, 0, 0)) {
        if (b->report->error.find("past every tileset") != std::string::npos) {
          b->report->error += " (column " + std::to_string(layer.cellX + c) + ", row " + std::to_string(layer.cellY + r) + ")";
        }
        return false;
      }
    }
  }
  return true;
}

bool DrawObjectLayer(Builder* b, const TiledLayer& layer, int64_t ox, int64_t oy) {
  std::vector<const TiledObject*> order;
  for (const TiledObject& o : layer.objects) order.push_back(&o);
  if (!layer.indexOrder) {
    std::stable_sort(order.begin(), order.end(), [](const TiledObject* a, const TiledObject* c) { return a->y < c->y; });
  }
  for (const TiledObject* o : order) {
    if (!o->visible) continue;
    if (o->kind != "tile") {
      if (o->kind == "template") {
        ImportWarn(b->report, b->layerWhere + ": objects from templates are not drawn");
      } else {
        // Most maps carry collision and event shapes that no game draws: one warning for the map.
        std::string named = b->layerWhere.substr(6);  // "NAME" (line N)
        if (std::find(b->shapeLayers.begin(), b->shapeLayers.end(), named) == b->shapeLayers.end()) {
          b->shapeLayers.push_back(named);
        }
      }
      continue;
    }
    if (o->rotation != 0) {
      ImportWarn(b->report, b->layerWhere + ": rotated tile objects are left out");
      continue;
    }
    uint32_t gid = o->gid & TiledGidMask;
    const TiledTileset* t = TilesetOf(b, gid);
    if (!t) return ImportFail(b->report, b->layerWhere + ": object tile number " + std::to_string(gid) + " is past every tileset");
    int32_t w = 0, h = 0;
    if (o->hasSize) {
      if (o->width <= 0 || o->height <= 0 || o->width > TiledMaxImageSide || o->height > TiledMaxImageSide ||
          o->width * o->height > (double)TiledMaxImagePixels) {
        ImportWarn(b->report, b->layerWhere + ": tile objects of no or absurd size are left out");
        continue;
      }
      w = (int32_t)Round(o->width);
      h = (int32_t)Round(o->height);
    }
    // The tile's own size, found once per tile and flip: objects may repeat a large tile many times.
    uint32_t flips = o->gid & (TiledFlipH | TiledFlipV | TiledFlipD);
    auto sizeKey = std::make_tuple(t->firstGid, gid - t->firstGid, flips);
    auto known = b->tileSizes.find(sizeKey);
    if (known == b->tileSizes.end()) {
      KeyedPicture picture;
      if (!TilePicture(b, *t, (int32_t)(gid - t->firstGid), flips, &picture)) return false;
      known = b->tileSizes.emplace(sizeKey, std::make_pair(picture.width, picture.height)).first;
    }
    struct {
      int32_t width, height;
    } probe = {known->second.first, known->second.second};
    if (w == 0 || (probe.width == w && probe.height == h)) {
      w = h = 0;
    } else {
      ImportWarn(b->report, b->layerWhere + ": scaled tile objects are drawn with nearest-neighbour scaling");
    }
    double drawnW = w ? w : probe.width, drawnH = h ? h : probe.height;
    // The object's position is a point of its image: bottom-left unless the tileset says otherwise.
    const std::string& a = t->objectAlignment;
    double ax = 0, ay = 0;  // fractions of the image from its bottom-left corner
    if (a == "top" || a == "center" || a == "bottom") ax = 0.5;
    if (a == "topright" || a == "right" || a == "bottomright") ax = 1;
    if (a == "left" || a == "center" || a == "right") ay = 0.5;
    if (a == "topleft" || a == "top" || a == "topright") ay = 1;
    double left = o->x - ax * drawnW, base = o->y + ay * drawnH;
    if (left != std::floor(left) || base != std::floor(base)) {
      ImportWarn(b->report, b->layerWhere + ": tile objects between whole pixels are drawn at the nearest pixel");
    }
    int64_t x = Round(left) - b->originX + ox, bottom = Round(base) - b->originY + oy;
    if (!DrawTile(b, o->gid & ~TiledRotateHex, x, bottom, w, h)) return false;
  }
  return true;
}

bool DrawImageLayer(Builder* b, const TiledLayer& layer, int64_t ox, int64_t oy, const LeafState& s) {
  if (layer.image.source.empty()) return true;
  const KeyedPicture* p = PictureGet(b, layer.image, b->layerWhere);
  if (!p) return false;
  int64_t x0 = ox - b->originX, y0 = oy - b->originY;
  int64_t mapW = b->result->mapWidth, mapH = b->result->mapHeight;
  // A fixed image under everything else is Tessel's background image.
  if (!b->anyDraw && s.parallaxX == 0 && s.parallaxY == 0 && !layer.repeatX && !layer.repeatY &&
      b->backgroundImage.empty()) {
    if (mapW * mapH > TiledMaxBackgroundPixels) {
      return ImportFail(b->report, b->layerWhere + ": a background image of " + std::to_string(mapW) + "x" +
                                       std::to_string(mapH) + " pixels is past the importer's bound of " +
                                       std::to_string(TiledMaxBackgroundPixels) + " pixels");
    }
    uint32_t bg = b->map->hasBackground ? b->map->background & 0xFFFFFF : 0;
    std::string rgb((size_t)mapW * mapH * 3, '\0');
    std::vector<uint8_t> row((size_t)mapW * 4), done;
    const SourceLayer& source = b->sources[(size_t)b->layerSource];
    for (int64_t y = 0; y < mapH; y++) {
      std::fill(row.begin(), row.end(), 0);
      int64_t sy = y - y0;
      for (int64_t x = 0; sy >= 0 && sy < p->height && x < mapW; x++) {
        int64_t sx = x - x0;
        if (sx < 0 || sx >= p->width) continue;
        std::memcpy(&row[(size_t)x * 4], &p->rgba[((size_t)sy * p->width + (size_t)sx) * 4], 4);
      }
      if (b->compose) {
        // Nothing lies under it but the background colour: its soft pixels come out exactly.
        PictureLayer over = {row.data(), source.opacity, source.tint};
        PictureCompose(&over, 1, (int32_t)mapW, true, bg, &done);
      } else {
        done = row;
        for (int64_t x = 0; x < mapW; x++) {
          uint8_t* px = &done[(size_t)x * 4];
          if (px[3] < 128) px[0] = (uint8_t)(bg >> 16), px[1] = (uint8_t)(bg >> 8), px[2] = (uint8_t)bg;
          else if (px[0] == 0 && px[1] == 0 && px[2] == 0) px[2] = 1;
        }
      }
      for (int64_t x = 0; x < mapW; x++) std::memcpy(&rgb[((size_t)y * mapW + (size_t)x) * 3], &done[(size_t)x * 4], 3);
    }
    b->backgroundImage = rgb;
    return true;
  }
  if ((layer.repeatX || layer.repeatY) && mapW * mapH > ((int64_t)1 << 28)) {
    ImportWarn(b->report, b->layerWhere + ": repeated images on maps of more than 268435456 pixels are drawn once");
  } else if (layer.repeatX || layer.repeatY) {
    // Every cell's piece depends only on where its column falls across the
    // repeated image and its row down it. The phases are numbered per column
    // and per row, and a table of the pairs keeps each piece's draw entry (0: not
    // made yet, -1: nothing drawn, else the entry + 1): at most four bytes a
    // cell, however many differ.
    std::vector<int32_t> colPhase((size_t)b->cols, -1), rowPhase((size_t)b->rows, -1);
    std::vector<int64_t> pxs, pys;
    std::map<int64_t, int32_t> pxIndex, pyIndex;
    for (int64_t c = 0; c < b->cols; c++) {
      int64_t left = c * b->gw - x0;
      if (!layer.repeatX && (left + b->gw <= 0 || left >= p->width)) continue;
      int64_t px = layer.repeatX ? left - FloorDiv(left, p->width) * p->width : left;
      auto it = pxIndex.emplace(px, (int32_t)pxs.size()).first;
      if (it->second == (int32_t)pxs.size()) pxs.push_back(px);
      colPhase[(size_t)c] = it->second;
    }
    for (int64_t r = 0; r < b->rows; r++) {
      int64_t top = r * b->gh - y0;
      if (!layer.repeatY && (top + b->gh <= 0 || top >= p->height)) continue;
      int64_t py = layer.repeatY ? top - FloorDiv(top, p->height) * p->height : top;
      auto it = pyIndex.emplace(py, (int32_t)pys.size()).first;
      if (it->second == (int32_t)pys.size()) pys.push_back(py);
      rowPhase[(size_t)r] = it->second;
    }
    std::vector<int32_t> phases(pxs.size() * pys.size(), 0);
    std::string piece;
    for (int64_t r = 0; r < b->rows; r++) {
      if (rowPhase[(size_t)r] < 0) continue;
      for (int64_t c = 0; c < b->cols; c++) {
        if (colPhase[(size_t)c] < 0) continue;
        int32_t& type = phases[(size_t)rowPhase[(size_t)r] * pxs.size() + (size_t)colPhase[(size_t)c]];
        if (type == 0) {
          int64_t px = pxs[(size_t)colPhase[(size_t)c]], py = pys[(size_t)rowPhase[(size_t)r]];
          // The cell's piece: the image laid from (-px, -py) and repeated on the axes that repeat.
          piece.assign((size_t)b->gw * b->gh * 4, '\0');
          bool any = false;
          for (int32_t j = 0; j < b->gh; j++) {
            int64_t sy = py + j;
            if (layer.repeatY) sy %= p->height;
            if (sy < 0 || sy >= p->height) continue;
            for (int32_t i = 0; i < b->gw; i++) {
              int64_t sx = px + i;
              if (layer.repeatX) sx %= p->width;
              if (sx < 0 || sx >= p->width) continue;
              const uint8_t* s = &p->rgba[((size_t)sy * p->width + (size_t)sx) * 4];
              if (!s[3]) continue;
              std::memcpy(&piece[((size_t)j * b->gw + i) * 4], s, 4);
              any = true;
            }
          }
          int32_t index = any ? PieceIntern(b, piece) : -1;
          if (any && index < 0) return false;
          type = any ? EntryIntern(b, {index}) + 1 : -1;
        }
        if (type > 0 && !Place(b, c, r, type - 1)) return false;
      }
    }
    return true;
  }
  int64_t startX = x0, startY = y0, endX = x0 + 1, endY = y0 + 1;
  std::string piece;
  for (int64_t iy = startY; iy < endY; iy += p->height) {
    for (int64_t ix = startX; ix < endX; ix += p->width) {
      int64_t c0 = std::max<int64_t>(0, FloorDiv(ix, b->gw)), r0 = std::max<int64_t>(0, FloorDiv(iy, b->gh));
      int64_t c1 = std::min<int64_t>(b->cols - 1, FloorDiv(ix + p->width - 1, b->gw));
      int64_t r1 = std::min<int64_t>(b->rows - 1, FloorDiv(iy + p->height - 1, b->gh));
      for (int64_t r = r0; r <= r1; r++) {
        for (int64_t c = c0; c <= c1; c++) {
          if (!PieceOf(b, *p, ix, iy, c, r, &piece)) continue;
          int32_t index = PieceIntern(b, piece);
          if (index < 0 || !Place(b, c, r, EntryIntern(b, {index}))) return false;
        }
      }
    }
  }
  return true;
}

bool DrawLayers(Builder* b, const std::vector<TiledLayer>& layers, const LeafState& parent, int depth) {
  for (const TiledLayer& layer : layers) {
    LeafState s = parent;
    s.offsetX += layer.offsetX;
    s.offsetY += layer.offsetY;
    s.parallaxX *= layer.parallaxX;
    s.parallaxY *= layer.parallaxY;
    s.opacity *= layer.opacity;
    s.visible = s.visible && layer.visible;
    if (layer.hasTint && layer.tint != 0xFFFFFFFFu) {
      s.tinted = true;
      // A group's tint multiplies its layers' tints, channel by channel, alpha too.
      uint32_t t = 0;
      for (int shift = 0; shift < 32; shift += 8) {
        uint32_t v = ((s.tint >> shift & 0xFF) * (layer.tint >> shift & 0xFF) + 127) / 255;
        t |= v << shift;
      }
      s.tint = t;
    }
    s.shown = s.shown || Named(b->options->showLayers, layer.name);
    s.hidden = s.hidden || Named(b->options->hideLayers, layer.name);
    if (layer.kind == TiledLayerKind::Group) {
      if (!DrawLayers(b, layer.children, s, depth + 1)) return false;
      continue;
    }
    bool drawn = b->options->showLayers.empty() ? s.visible : s.shown;
    if (!drawn || s.hidden) continue;
    b->layerName = layer.name;
    b->layerWhere = "layer \"" + layer.name + "\"" + (layer.line ? " (line " + std::to_string(layer.line) + ")" : "");
    // Tiled draws nothing of a layer of opacity 0.
    if (s.opacity <= 0) {
      if (!b->compose) ImportWarn(b->report, b->layerWhere + ": opacity 0, left out");
      continue;
    }
    if (!b->compose && s.opacity < 1) ImportWarn(b->report, b->layerWhere + ": opacity below 1 is drawn opaque");
    if (!b->compose && s.tinted) ImportWarn(b->report, b->layerWhere + ": its tint colour is left out");
    if (s.parallaxX != s.parallaxY) {
      ImportWarn(b->report, b->layerWhere + ": parallax differs in x and y; Tessel scrolls it by the x factor");
    }
    b->layerFactor = (float)s.parallaxX;
    if (s.offsetX != std::floor(s.offsetX) || s.offsetY != std::floor(s.offsetY)) {
      ImportWarn(b->report, b->layerWhere + ": offsets between whole pixels are rounded");
    }
    double opacity = std::min(1.0, s.opacity);
    auto style = b->styleIndex.emplace(std::make_pair(opacity, s.tint), (int32_t)b->styleIndex.size()).first;
    if (style->second == (int32_t)b->styles.size()) b->styles.push_back({opacity, s.tint});
    b->layerStyle = style->second;
    b->layerSource = (int32_t)b->sources.size();
    b->sources.push_back({layer.name, b->layerWhere, opacity, s.tint, style->second});
    double shiftX = 0, shiftY = 0;
    if (b->layerFactor != 1.0f) {
      // Tiled lines a parallax layer up around the view's centre less the
      // map's parallax origin, shifting it by (1 - factor) times that point;
      // Tessel scrolls it by factor x view from the top-left. For a given
      // screen the two differ by a constant, baked in here.
      double f = b->layerFactor;
      shiftX = (1.0 - f) * (b->screenW / 2.0 - b->map->parallaxOriginX);
      shiftY = (1.0 - f) * (b->screenH / 2.0 - b->map->parallaxOriginY);
    }
    if (!std::isfinite(shiftX) || !std::isfinite(shiftY)) shiftX = shiftY = 0;
    int64_t ox = Round(s.offsetX + shiftX), oy = Round(s.offsetY + shiftY);
    bool ok = true;
    if (layer.kind == TiledLayerKind::Tile) ok = DrawTileLayer(b, layer, ox, oy);
    else if (layer.kind == TiledLayerKind::Object) ok = DrawObjectLayer(b, layer, ox, oy);
    else ok = DrawImageLayer(b, layer, ox, oy, s);
    if (!ok) return false;
  }
  return true;
}

// "layer "a"" or "layers "a" to "b"", for messages about a run.
std::string RunName(const Builder* b, const BuildBand& band) {
  const SourceLayer& first = b->sources[(size_t)band.sources.front()];
  const SourceLayer& last = b->sources[(size_t)band.sources.back()];
  if (band.sources.size() == 1) return first.where;
  return "layers \"" + first.name + "\" to \"" + last.name + "\"";
}

// A band as separate layers, one per slot: each piece keyed on its own.
bool BandLayers(Builder* b, BuildBand* band) {
  // The layers made of the bands before it, and its slots.
  size_t total = band->slots.size();
  for (const BuildBand* before = &b->bands.front(); before != band; before++) total += before->layers.size();
  if (total > (size_t)TesselMaxLayers) {
    return ImportFail(b->report, RunName(b, *band) + ": the map needs more than Tessel's " +
                                     std::to_string(TesselMaxLayers) + " layers (tiles overlap too deeply)");
  }
  std::unordered_map<int32_t, int32_t> typeOf;  // entry -> tile type, -1 for nothing shown
  std::string rgb;
  std::vector<int32_t> frames;
  int32_t n = b->gw * b->gh;
  for (size_t k = 0; k < band->slots.size(); k++) {
    std::vector<int16_t> layer(band->slots[k].size(), 0);
    for (size_t cell = 0; cell < layer.size(); cell++) {
      int32_t entry = band->slots[k][cell] - 1;
      if (entry < 0) continue;
      auto it = typeOf.find(entry);
      if (it == typeOf.end()) {
        frames.clear();
        for (int32_t piece : b->entries[(size_t)entry]) {
          bool any = PictureKey((const uint8_t*)b->pieces[(size_t)piece].data(), n, &rgb);
          frames.push_back(any ? ImageIntern(b, rgb) : -1);
          if (any && frames.back() < 0) return false;
        }
        int32_t type = FramesType(b, &frames);
        if (type == 0) return false;
        it = typeOf.emplace(entry, type).first;
      }
      if (it->second > 0) layer[cell] = (int16_t)it->second;
    }
    std::vector<int32_t>().swap(band->slots[k]);
    band->layers.push_back(std::move(layer));
    band->names.push_back(band->slotNames[k]);
  }
  return true;
}

int64_t Gcd(int64_t a, int64_t c) { return c == 0 ? a : Gcd(c, a % c); }

// Composes a band into one layer: each cell's pieces in drawing order, with
// their layers' opacity and tint, over the background colour when exact (the
// band lies at the back over nothing but that colour), else over nothing with
// Tessel's key at alpha 128. Animated cells run over the common cycle of
// their pieces. Sets *fallback to the reason, composing nothing, where that would pass
// Tessel's bounds; false after reporting an error.
bool BandCompose(Builder* b, BuildBand* band, bool exact, std::string* fallback) {
  fallback->clear();
  int32_t n = b->gw * b->gh;
  uint32_t bg = exact && b->map->hasBackground ? b->map->background & 0xFFFFFF : 0;
  size_t cells = (size_t)b->cols * b->rows;
  std::map<std::vector<int32_t>, int32_t> stackIndex;
  std::vector<std::vector<int32_t>> composites;  // frame images (-1: all key) per distinct stack
  std::vector<int32_t> cellComposite(cells, -1);
  // Every image not yet a tile type's takes at least one: enough of them end the composing early.
  std::set<int32_t> newImages;
  int64_t soft = 0, exactSoft = 0;
  int64_t budgetTypes = (TesselSpriteBudget - (int64_t)b->backgroundImage.size() / 3 * 4) / ((int64_t)n * 4) - 1;
  std::string reason;
  std::vector<int32_t> key;
  std::vector<PictureLayer> stack;
  std::vector<uint8_t> composed;
  std::string rgb;
  for (size_t cell = 0; cell < cells && reason.empty(); cell++) {
    if (band->top[cell] < 0) continue;
    key.clear();
    for (int32_t k = 0; k <= band->top[cell]; k++) key.push_back(band->slots[(size_t)k][cell] - 1);
    auto found = stackIndex.find(key);
    if (found == stackIndex.end()) {
      int64_t cycle = 1;
      for (size_t k = 0; k < key.size() && cycle <= ComposeMaxCycle; k++) {
        int64_t frames = (int64_t)b->entries[(size_t)key[k]].size();
        cycle = cycle / Gcd(cycle, frames) * frames;
      }
      if (cycle > ComposeMaxCycle) {
        reason = "an animated cell whose pieces repeat only after more than " + std::to_string(ComposeMaxCycle) +
                 " steps";
        break;
      }
      std::vector<int32_t> frames;
      for (int64_t f = 0; f < cycle; f++) {
        stack.clear();
        for (int32_t entry : key) {
          const std::vector<int32_t>& pieces = b->entries[(size_t)entry];
          const std::pair<double, uint32_t>& style = b->styles[(size_t)b->entryStyle[(size_t)entry]];
          stack.push_back({(const uint8_t*)b->pieces[(size_t)pieces[(size_t)(f % (int64_t)pieces.size())]].data(),
                           style.first, style.second});
        }
        PictureCompose(stack.data(), stack.size(), n, exact, bg, &composed);
        bool any = PictureKeyComposed(composed, n, exact && bg == 0, &rgb, exact ? &exactSoft : &soft);
        int32_t image = any ? ImageIntern(b, rgb) : -1;
        if (any && image < 0) return false;
        if (image >= 0 && !b->stillType.count(image)) newImages.insert(image);
        frames.push_back(image);
      }
      if ((int64_t)b->types.size() + (int64_t)newImages.size() > std::min<int64_t>(TesselMaxTileTypes, budgetTypes)) {
        reason = "more than Tessel's " + std::to_string(TesselMaxTileTypes) +
                 " tile types or the runner's 256 MiB of tile images";
        break;
      }
      found = stackIndex.emplace(key, (int32_t)composites.size()).first;
      composites.push_back(frames);
    }
    cellComposite[cell] = found->second;
  }
  // How many tile types the composed cells take, at most.
  std::set<int32_t> still;
  std::set<std::vector<int32_t>> runs;
  int64_t more = 0;
  for (const std::vector<int32_t>& frames : composites) {
    if (std::none_of(frames.begin(), frames.end(), [](int32_t f) { return f >= 0; })) continue;
    if (frames.size() == 1) {
      if (!b->stillType.count(frames[0]) && still.insert(frames[0]).second) more++;
    } else if (!b->runType.count(frames) && runs.insert(frames).second) {
      more += (int64_t)frames.size();
    }
  }
  if (reason.empty() && (int64_t)b->types.size() + more > TesselMaxTileTypes) {
    reason = "more than Tessel's " + std::to_string(TesselMaxTileTypes) + " tile types";
  }
  if (reason.empty() && (int64_t)b->types.size() + more > budgetTypes) {
    reason = "more than the runner's 256 MiB of tile images";
  }
  if (!reason.empty()) {
    *fallback = reason;
    return true;
  }
  std::vector<int32_t> typeOf(composites.size(), 0);
  for (size_t k = 0; k < composites.size(); k++) {
    std::vector<int32_t> frames = composites[k];
    typeOf[k] = FramesType(b, &frames);
    if (typeOf[k] == 0) return false;
  }
  std::vector<std::vector<int32_t>>().swap(band->slots);
  std::vector<int16_t> layer(cells, 0);
  for (size_t cell = 0; cell < cells; cell++) {
    int32_t composite = cellComposite[cell];
    if (composite >= 0 && typeOf[(size_t)composite] > 0) layer[cell] = (int16_t)typeOf[(size_t)composite];
  }
  if (!exact && soft > 0) {
    ImportWarn(b->report, RunName(b, *band) + ": above " +
                              (b->backgroundImage.empty() || band != &b->bands.front() ? "a layer of another scroll factor"
                                                                                       : "the background image") +
                              ", half-transparent pixels are drawn opaque (alpha 128 and above) or left out");
  }
  std::string name;
  for (int32_t source : band->sources) name += (name.empty() ? "" : " + ") + b->sources[(size_t)source].name;
  if (name.size() > 200) name = name.substr(0, 197) + "...";
  band->layers.push_back(std::move(layer));
  band->names.push_back(name);
  b->result->composedFrom += (int32_t)band->sources.size();
  b->result->composedInto++;
  return true;
}

// True when a layer or group of that name is somewhere in the map.
bool LayerNamed(const std::vector<TiledLayer>& layers, const std::string& name) {
  for (const TiledLayer& layer : layers) {
    if (layer.name == name || LayerNamed(layer.children, name)) return true;
  }
  return false;
}

// The bounding box of every tile layer's cells (infinite maps).
void ChunkBox(const std::vector<TiledLayer>& layers, int64_t* x0, int64_t* y0, int64_t* x1, int64_t* y1) {
  for (const TiledLayer& layer : layers) {
    if (layer.kind == TiledLayerKind::Group) ChunkBox(layer.children, x0, y0, x1, y1);
    if (layer.kind != TiledLayerKind::Tile || layer.width <= 0 || layer.height <= 0) continue;
    *x0 = std::min<int64_t>(*x0, layer.cellX);
    *y0 = std::min<int64_t>(*y0, layer.cellY);
    *x1 = std::max<int64_t>(*x1, (int64_t)layer.cellX + layer.width);
    *y1 = std::max<int64_t>(*y1, (int64_t)layer.cellY + layer.height);
  }
}

// How far layer offsets reach past the map on each side: Tiled's picture of
// the map grows by these margins.
void OffsetMargins(const std::vector<TiledLayer>& layers, double ox, double oy, int64_t* left, int64_t* top,
                   int64_t* right, int64_t* bottom) {
  for (const TiledLayer& layer : layers) {
    double x = ox + layer.offsetX, y = oy + layer.offsetY;
    if (layer.kind == TiledLayerKind::Group) {
      OffsetMargins(layer.children, x, y, left, top, right, bottom);
      continue;
    }
    int64_t rx = Round(x), ry = Round(y);
    *left = std::max(*left, -rx);
    *top = std::max(*top, -ry);
    *right = std::max(*right, rx);
    *bottom = std::max(*bottom, ry);
  }
}

// Most common frame duration of the animations the map's tiles use.
void Durations(Builder* b) {
  for (const TiledTileset& t : b->map->tilesets) {
    for (const TiledTile& tile : t.tiles) {
      for (const TiledFrame& f : tile.animation) b->durations[f.duration]++;
    }
  }
  int64_t best = 0;
  for (const auto& [duration, count] : b->durations) {
    if (duration > 0 && count > best) {
      best = count;
      b->result->interval = duration;
    }
  }
  if (b->durations.size() > 1) {
    // Name every animated tile whose frames are not all one interval long.
    std::string where;
    for (const TiledTileset& t : b->map->tilesets) {
      std::vector<std::string> ids;
      for (const TiledTile& tile : t.tiles) {
        bool differs = false;
        for (const TiledFrame& f : tile.animation) differs = differs || f.duration != b->result->interval;
        if (differs) ids.push_back(std::to_string(tile.id));
      }
      if (!ids.empty()) {
        where += (where.empty() ? "" : "; ") +
                 ("tileset \"" + t.name + "\" tile" + (ids.size() == 1 ? " " : "s ") + ListCut(ids));
      }
    }
    ImportWarn(b->report, "animation frame durations differ (" + where + "); Tessel steps them all every " +
                              std::to_string(b->result->interval) +
                              " ms, repeating a frame for each whole interval it lasts");
  }
}

// Layer and tile names become text lines of the map file: no line ends in them.
std::string LineSafe(const std::string& s) {
  std::string out;
  for (char c : s) out.push_back(c == '\n' || c == '\r' || c == '\0' ? ' ' : c);
  return out;
}

}  // namespace

bool ImportBuild(const TiledMap& map, const ImportOptions& options, ImportReadFile read, ImportResult* result,
                 ImportReport* report) {
  Builder builder;
  Builder* b = &builder;
  b->map = &map;
  b->options = &options;
  b->read = read;
  b->report = report;
  b->result = result;
  b->gw = map.tileWidth;
  b->gh = map.tileHeight;
  if (b->gw <= 0 || b->gh <= 0 || b->gw > TiledMaxTileSize || b->gh > TiledMaxTileSize) {
    return ImportFail(report, "the map's tile size " + std::to_string(b->gw) + "x" + std::to_string(b->gh) +
                                  " is out of range (1 to " + std::to_string(TiledMaxTileSize) + ")");
  }
  if (map.renderOrder != "right-down" && map.renderOrder != "right-up" && map.renderOrder != "left-down" &&
      map.renderOrder != "left-up") {
    ImportWarn(report, "unknown render order \"" + map.renderOrder + "\"; drawn right-down");
  }
  int64_t cellsW = map.width, cellsH = map.height;
  if (map.infinite) {
    int64_t x0 = INT64_MAX, y0 = INT64_MAX, x1 = INT64_MIN, y1 = INT64_MIN;
    ChunkBox(map.layers, &x0, &y0, &x1, &y1);
    if (x0 == INT64_MAX) return ImportFail(report, "the infinite map has no chunks: nothing to import");
    cellsW = x1 - x0;
    cellsH = y1 - y0;
    b->originX = x0 * b->gw;
    b->originY = y0 * b->gh;
  }
  if (cellsW <= 0 || cellsH <= 0) return ImportFail(report, "the map has no cells");
  if (cellsW * cellsH > TiledMaxLayerCells || cellsW * b->gw > INT32_MAX || cellsH * b->gh > INT32_MAX) {
    return ImportFail(report, "the map's size " + std::to_string(cellsW) + "x" + std::to_string(cellsH) +
                                  " cells is past the importer's bound of " + std::to_string(TiledMaxLayerCells) +
                                  " cells");
  }
  int64_t left = 0, top = 0, right = 0, bottom = 0;
  OffsetMargins(map.layers, 0, 0, &left, &top, &right, &bottom);
  // Offsets are held within a pixel count a map can have, so the sums below cannot wrap.
  int64_t reach = std::max(std::max(left, right), std::max(top, bottom));
  int64_t pixelsW = cellsW * b->gw + std::min<int64_t>(left, INT32_MAX) + std::min<int64_t>(right, INT32_MAX);
  int64_t pixelsH = cellsH * b->gh + std::min<int64_t>(top, INT32_MAX) + std::min<int64_t>(bottom, INT32_MAX);
  int64_t grownCols = (pixelsW + b->gw - 1) / b->gw, grownRows = (pixelsH + b->gh - 1) / b->gh;
  if (reach > INT32_MAX || pixelsW > INT32_MAX || pixelsH > INT32_MAX || grownCols * grownRows > TiledMaxLayerCells) {
    return ImportFail(report, "the layer offsets (up to " + std::to_string(reach) + " pixels) grow the map to " +
                                  std::to_string(grownCols) + "x" + std::to_string(grownRows) +
                                  " cells, past the importer's bound of " + std::to_string(TiledMaxLayerCells) +
                                  " cells");
  }
  b->originX -= left;
  b->originY -= top;
  b->cols = (int32_t)((pixelsW + b->gw - 1) / b->gw);
  b->rows = (int32_t)((pixelsH + b->gh - 1) / b->gh);
  result->mapWidth = (int32_t)pixelsW;
  result->mapHeight = (int32_t)pixelsH;
  for (size_t k = 1; k < map.tilesets.size(); k++) {
    if (map.tilesets[k].firstGid <= map.tilesets[k - 1].firstGid) {
      const TiledTileset& t = map.tilesets[k];
      return ImportFail(report, (t.firstGidWhere.empty() ? t.where : t.firstGidWhere) +
                                    ": a second tileset with firstgid " +
                                    std::to_string(map.tilesets[k].firstGid));
    }
  }
  for (const std::vector<std::string>* names : {&options.hideLayers, &options.showLayers}) {
    for (const std::string& name : *names) {
      if (!LayerNamed(map.layers, name)) {
        return ImportFail(report, std::string(names == &options.hideLayers ? "--hide-layer" : "--show-layer") +
                                      ": the map has no layer or group named \"" + name + "\"");
      }
    }
  }
  b->compose = !options.layers;
  // A map smaller than the runner's overlay (its text in the top-left corner,
  // about 230 x 80 pixels) starts below it, on a screen that leaves room for both.
  bool small = result->mapWidth < OverlayWidth || result->mapHeight < OverlayHeight;
  result->startY = small ? -OverlayHeight : 0;
  b->screenW = options.screenW > 0 ? options.screenW
               : small             ? std::max(OverlayWidth, result->mapWidth)
                                   : std::min(1280, result->mapWidth);
  b->screenH = options.screenH > 0 ? options.screenH
               : small             ? result->mapHeight + OverlayHeight
                                   : std::min(720, result->mapHeight);
  result->screenW = b->screenW;
  result->screenH = b->screenH;
  Durations(b);
  if (!DrawLayers(b, map.layers, LeafState(), 0)) return false;
  result->sourceLayers = (int32_t)b->sources.size();
  if (!b->shapeLayers.empty()) {
    ImportWarn(report, std::string(b->shapeLayers.size() == 1 ? "layer " : "layers ") + ListCut(b->shapeLayers) +
                           ": shapes and text in object layers are not drawn");
  }
  // What only drawing needed goes before the layers are made and the map is written.
  b->pictures.clear();
  b->drawCache.clear();
  b->pieceIndex.clear();
  b->entryIndex.clear();
  for (size_t k = 0; k < b->bands.size(); k++) {
    BuildBand& band = b->bands[k];
    std::string fallback;
    // Only the band at the back, over nothing but the background colour, comes out exact.
    if (b->compose && !BandCompose(b, &band, k == 0 && b->backgroundImage.empty(), &fallback)) return false;
    if (!b->compose || !fallback.empty()) {
      if (!BandLayers(b, &band)) return false;
    }
    if (!fallback.empty()) {
      ImportWarn(b->report, RunName(b, band) + ": composing them would take " + fallback +
                                "; they are kept as separate layers, where half-transparent pixels, opacity and tint "
                                "are drawn opaque (alpha 128 and above) or left out");
    }
    std::vector<std::vector<int32_t>>().swap(band.slots);
    std::vector<int16_t>().swap(band.top);
  }
  if (LayerTotal(b) > TesselMaxLayers) {
    return ImportFail(report, "the map needs more than Tessel's " + std::to_string(TesselMaxLayers) +
                                  " layers (its layers change scroll factor too often)");
  }
  b->imageIndex.clear();
  std::vector<std::string>().swap(b->pieces);

  // Tile images: those a tile type shows (a run that fell back to separate
  // layers leaves its composed images unused).
  std::vector<std::string> names(b->images.size());
  std::vector<bool> used(b->images.size(), false);
  for (const BuildTileType& type : b->types) used[(size_t)type.image] = true;
  for (size_t k = 0; k < b->images.size(); k++) {
    if (!used[k]) continue;
    names[k] = ContentName(b->gw, b->gh, b->images[k]);
    ImportImage image;
    image.name = names[k];
    image.width = b->gw;
    image.height = b->gh;
    image.rgb.assign(b->images[k].begin(), b->images[k].end());
    std::string().swap(b->images[k]);
    result->images.push_back(std::move(image));
  }
  std::string background;
  if (map.hasBackground && b->backgroundImage.empty()) {
    uint32_t c = map.background;
    uint32_t value = (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF);
    if (value) background = std::to_string(value);
  }
  if (!b->backgroundImage.empty()) {
    ImportImage image;
    image.name = ContentName(result->mapWidth, result->mapHeight, b->backgroundImage);
    image.width = result->mapWidth;
    image.height = result->mapHeight;
    image.rgb.assign(b->backgroundImage.begin(), b->backgroundImage.end());
    std::string().swap(b->backgroundImage);
    background = image.name;
    result->images.push_back(std::move(image));
    result->background = true;
  }

  int32_t step = options.step;
  if (step <= 0) step = std::clamp(std::min(b->gw, b->gh) / 4, 1, 16);
  MapFile* out = &result->map;
  *out = MapFile();
  out->text1 = "Imported from Tiled";
  out->text2 = LineSafe(options.sourceText);
  out->width = result->mapWidth;
  out->height = result->mapHeight;
  out->startY = result->startY;
  out->background = background;
  out->step = (int8_t)step;
  int32_t layerCount = LayerTotal(b);
  for (BuildBand& band : b->bands) {
    for (size_t k = 0; k < band.layers.size(); k++) {
      MapFileLayer layer;
      layer.name = LineSafe(band.names[k]);
      layer.width = b->cols;
      layer.height = b->rows;
      layer.tileWidth = b->gw;
      layer.tileHeight = b->gh;
      layer.factorBits = MapFileFactorBits(band.factor);
      layer.cells = std::move(band.layers[k]);
      out->layers.push_back(std::move(layer));
    }
  }
  for (const BuildTileType& type : b->types) out->tiles.push_back({names[(size_t)type.image], (int8_t)type.frames, 0});
  result->layerCount = layerCount;
  result->tileTypeCount = (int32_t)b->types.size();
  if ((int64_t)b->cols * b->rows * 2 > INT32_MAX) {
    return ImportFail(report, "a layer of " + std::to_string((int64_t)b->cols * b->rows) +
                                  " cells is past what Tessel can hold");
  }
  return true;
}
