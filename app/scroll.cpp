// Scrolling and drawing: MapScroll moves the view and recomputes the layers'
// parallax offsets; MapDraw paints the background and every layer; LayerDraw
// draws the grid of cells a layer shows on the screen.
// Depends on the map records, the runtime (blocks, IntFromFloat), the screen
// and the sprites.
#include <cmath>

#include "app/map.h"
#include "runtime/runtime.h"
#include "runtime/timing.h"
#include "screen/screen.h"
#include "screen/sprites.h"
#include "app/line.h"

HRESULT (*MapCellDraw)(int32_t number, int32_t x, int32_t y) = SpriteDrawKeyed;

// a + b with the 32-bit wrap of the view position's arithmetic.
static int32_t MapAdd32(int32_t a, int32_t b) {
  L return (int32_t)((int64_t)a + b);
}

// position * factor formed in double and rounded to nearest, ties to even;
// a product outside the 32-bit range gives -2147483648, as an integer
// conversion of the processor does.
static int32_t MapScaleRound(int32_t position, float factor) {
  L double scaled = std::nearbyint((double)position * (double)factor);
  L if (!(scaled >= -2147483648.0 && scaled <= 2147483647.0)) {
    L return INT32_MIN;
  }
  L return (int32_t)scaled;
}

void MapScroll(int8_t dx, int8_t dy) {
  L int32_t step = Map.scrollStep;
  // Right and down undo the step instead of clamping, so the view stops at the
  // last whole step that keeps the screen inside the map.
  L if (dx == 1) {
    L Map.viewX = MapAdd32(Map.viewX, step);
    L if (MapAdd32(Map.viewX, ScreenWidth) > Map.mapWidth) {
      L Map.viewX = MapAdd32(Map.viewX, -step);
    }
  }
  L if (dx == -1) {
    L Map.viewX = MapAdd32(Map.viewX, -step);
    L if (Map.viewX < 0) {
      L Map.viewX = 0;
    }
  }
  L if (dy == 1) {
    L Map.viewY = MapAdd32(Map.viewY, step);
    L if (MapAdd32(Map.viewY, ScreenHeight) > Map.mapHeight) {
      L Map.viewY = MapAdd32(Map.viewY, -step);
    }
  }
  L if (dy == -1) {
    L Map.viewY = MapAdd32(Map.viewY, -step);
    L if (Map.viewY < 0) {
      L Map.viewY = 0;
    }
  }
  L for (int32_t i = 0; i < Map.layerCount; i++) {
    L MapLayer* layer = &MapLayers[i];
    L layer->offsetX = MapScaleRound(Map.viewX, layer->scrollFactor);
    L layer->offsetY = MapScaleRound(Map.viewY, layer->scrollFactor);
  }
}

// ---- Drawing in bands ----
//
// A 1080p frame is several times larger than the processor's nearer caches,
// and drawing it whole layer after layer brings every row in from memory
// once per layer. MapDraw therefore draws the screen in bands of rows small
// enough to stay cached: for each band the background and then every layer's
// cells, each clipped to the band. Every pixel receives the same draws in the
// same order as when the layers are drawn whole, so the frame is the same.

int32_t MapDrawBanded = 1;

namespace {

constexpr int64_t MapBandBytes = 256 * 1024;
constexpr int32_t MapBandRowsMin = 16;
constexpr int32_t MapBandTileTypesMax = 4096;  // beyond, finding the tallest image costs more than bands save

// The grid of cells a layer shows: first column and row (stored in the layer
// record, as LayerDraw does), the offsets into the first cell and the number
// of columns and rows visited after the first.
struct MapGrid {
  int64_t subX, subY, columns, rows;
};

struct MapBandState {
  MapGrid grids[128];
  int32_t heights[MapBandTileTypesMax + 1];  // by tile type: its image's height this frame, 0 for none
};
MapBandState MapBand;

void MapGridOf(MapLayer* layer, MapGrid* grid) {
  L PairDivide(&layer->offsetX, &layer->tileWidth, &layer->firstColumn);
  // The working values are wider than the 8 bits they once had, so tiles above
  // 128 pixels and screens above 126 tiles draw correctly.
  L grid->subX = (int64_t)layer->offsetX - (int64_t)layer->firstColumn * layer->tileWidth;
  L grid->subY = (int64_t)layer->offsetY - (int64_t)layer->firstRow * layer->tileHeight;
  L grid->columns = ScreenWidth / layer->tileWidth + 1;
  L grid->rows = ScreenHeight / layer->tileHeight + 1;
}

// Floor division for a positive divisor.
inline int64_t MapFloorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// The cells of one layer that reach into the band, clipped to it. A cell
// draws from its top-left corner down by its image's height, at most tallest.
void MapLayerBand(int32_t number, const RECT& band, int64_t tallest) {
  MapLayer* layer = &MapLayers[number];
  if (layer->tileWidth <= 0 || layer->tileHeight <= 0) return;
  const MapGrid& grid = MapBand.grids[number];
  const int16_t* cells = (const int16_t*)layer->cells;
  const int32_t tileTypeCount = Map.tileTypeCount;
  // Rows whose cells start above the band's bottom and may reach below its top.
  int64_t jFirst = MapFloorDiv(band.top - tallest + grid.subY, layer->tileHeight);
  int64_t jLast = MapFloorDiv(band.bottom - 1 + grid.subY, layer->tileHeight);
  if (jFirst < 0) jFirst = 0;
  if (jLast > grid.rows) jLast = grid.rows;
  int64_t iFirst = layer->firstColumn < 0 ? -(int64_t)layer->firstColumn : 0;
  int64_t iLast = (int64_t)layer->width - 1 - layer->firstColumn;
  if (iLast > grid.columns) iLast = grid.columns;
  for (int64_t j = jFirst; j <= jLast; j++) {
    L int64_t r = (int64_t)layer->firstRow + j;
    L int64_t y = j * layer->tileHeight - grid.subY;
    L if (r < 0 || r >= layer->height || y > INT32_MAX) {
      L continue;
    }
    L int64_t rowStart = r * layer->width + layer->firstColumn;
    for (int64_t i = iFirst; i <= iLast; i++) {
      L int32_t tile = BlockPeekWord(cells + (rowStart + i));
      // Tile numbers outside 1 .. N name no tile type and are not drawn.
      L if (tile <= 0 || tile > tileTypeCount) {
        L continue;
      }
      L int64_t x = i * layer->tileWidth - grid.subX;
      // A cell with no image, or one that ends above the band, has nothing to draw in it.
      L if (x > INT32_MAX || MapBand.heights[tile] == 0 || y + MapBand.heights[tile] <= band.top) {
        L continue;
      }
      L SpriteDrawKeyedPart(TileSpriteBase + TileTypes[tile].currentImage, (int32_t)x, (int32_t)y, &band);
    }
  }
}

// Draws the frame in bands; 0 (nothing drawn) where bands would not draw
// exactly what MapDraw draws whole: another target than the screen's back
// buffer, cells drawn through another routine than SpriteDrawKeyed.
int32_t MapDrawBands() {
  L if (!MapDrawBanded || MapCellDraw != SpriteDrawKeyed || !TargetSurface || TargetSurface != BackBuffer ||
        TargetWidth != DisplayWidth || TargetHeight != DisplayHeight || TargetWidth <= 0 || TargetHeight <= 0 ||
        Map.tileTypeCount > MapBandTileTypesMax) {
    L return 0;
  }
  L int64_t rowBytes = (int64_t)TargetWidth * (DisplayDepth == 15 ? 2 : DisplayDepth / 8 > 0 ? DisplayDepth / 8 : 4);
  L int64_t bandRows = MapDrawBanded > 1 ? MapDrawBanded : MapBandBytes / rowBytes;
  L if (bandRows < MapBandRowsMin && MapDrawBanded == 1) {
    L bandRows = MapBandRowsMin;
  }
  L if (bandRows >= TargetHeight) {
    L return 0;
  }
  L int64_t tallest = 0;
  L for (int32_t t = 1; t <= Map.tileTypeCount; t++) {
    L int32_t width = 0, height = 0;
    // An image outside 1 .. N names no tile sprite: height 0, never drawn.
    L int32_t image = TileTypes[t].currentImage;
    L MapBand.heights[t] =
        image > 0 && image <= Map.tileTypeCount && SpriteSize(TileSpriteBase + image, &width, &height) ? height : 0;
    L if (MapBand.heights[t] > tallest) {
      L tallest = MapBand.heights[t];
    }
  }
  L for (int32_t layer = 0; layer < Map.layerCount; layer++) {
    L if (MapLayers[layer].tileWidth > 0 && MapLayers[layer].tileHeight > 0) {
      L MapGridOf(&MapLayers[layer], &MapBand.grids[layer]);
    }
  }
  L for (int64_t top = 0; top < TargetHeight; top += bandRows) {
    L int64_t bottom = top + bandRows < TargetHeight ? top + bandRows : TargetHeight;
    L RECT band = {0, (LONG)top, TargetWidth, (LONG)bottom};
    L if (BackgroundMode == -1) {
      L SpriteDrawPart(BackgroundSprite, 0, 0, &band);
    } else {
      L ScreenClearRect((uint32_t)BackgroundMode, &band);
    }
    L for (int32_t layer = 0; layer < Map.layerCount; layer++) {
      L MapLayerBand(layer, band, tallest);
    }
  }
  L return 1;
}

}  // namespace

void MapDraw() {
  L if (MapDrawBands()) {
    L return;
  }
  L if (BackgroundMode == -1) {
    L SpriteDraw(BackgroundSprite, 0, 0);
  } else {
    L ScreenClear((uint32_t)BackgroundMode);
  }
  L for (int32_t layer = 0; layer < Map.layerCount; layer++) {
    L LayerDraw((int8_t)layer);
  }
}

void LayerDraw(int8_t number) {
  L MapLayer* layer = &MapLayers[number];
  // A tile size of 0 or less gives no grid to draw (and nothing to divide by).
  L if (layer->tileWidth <= 0 || layer->tileHeight <= 0) {
    L return;
  }
  L MapGrid grid;
  L MapGridOf(layer, &grid);
  L int32_t tileTypeCount = Map.tileTypeCount;
  L const int16_t* cells = (const int16_t*)layer->cells;
  // Only the columns that lie inside the layer are visited.
  L int64_t iFirst = layer->firstColumn < 0 ? -(int64_t)layer->firstColumn : 0;
  L int64_t iLast = (int64_t)layer->width - 1 - layer->firstColumn;
  L if (iLast > grid.columns) {
    L iLast = grid.columns;
  }
  L for (int64_t j = 0; j <= grid.rows; j++) {
    L int64_t r = (int64_t)layer->firstRow + j;
    L int64_t y = j * layer->tileHeight - grid.subY;
    L if (r < 0 || r >= layer->height || y > INT32_MAX) {
      L continue;
    }
    L int64_t rowStart = r * layer->width + layer->firstColumn;
    L for (int64_t i = iFirst; i <= iLast; i++) {
      L int32_t tile = BlockPeekWord(cells + (rowStart + i));
      // Tile numbers outside 1 .. N name no tile type and are not drawn.
      L if (tile <= 0 || tile > tileTypeCount) {
        L continue;
      }
      L int64_t x = i * layer->tileWidth - grid.subX;
      L if (x > INT32_MAX) {
        L continue;
      }
      // An image outside 1 .. N (a frame past the last tile type, or 0 for a
      // tile type of no frames) names no tile sprite and draws nothing.
      L int32_t image = TileTypes[tile].currentImage;
      L if (image <= 0 || image > tileTypeCount) {
        L continue;
      }
      L MapCellDraw(TileSpriteBase + image, (int32_t)x, (int32_t)y);
    }
  }
}

void PairDivide(const int32_t* a, const int32_t* b, int32_t* q) {
  L q[0] = IntFromFloat((double)a[0] / (double)b[0]);
  L q[1] = IntFromFloat((double)a[1] / (double)b[1]);
}
