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

void MapDraw() {
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
  L PairDivide(&layer->offsetX, &layer->tileWidth, &layer->firstColumn);
  // The working values are wider than the 8 bits they once had, so tiles above
  // 128 pixels and screens above 126 tiles draw correctly.
  L int64_t subX = (int64_t)layer->offsetX - (int64_t)layer->firstColumn * layer->tileWidth;
  L int64_t subY = (int64_t)layer->offsetY - (int64_t)layer->firstRow * layer->tileHeight;
  L int64_t columns = ScreenWidth / layer->tileWidth + 1;
  L int64_t rows = ScreenHeight / layer->tileHeight + 1;
  L int32_t tileTypeCount = Map.tileTypeCount;
  L const int16_t* cells = (const int16_t*)layer->cells;
  L for (int64_t j = 0; j <= rows; j++) {
    L int64_t r = (int64_t)layer->firstRow + j;
    L int64_t y = j * layer->tileHeight - subY;
    L if (r < 0 || r >= layer->height || y > INT32_MAX) {
      L continue;
    }
    L for (int64_t i = 0; i <= columns; i++) {
      L int64_t c = (int64_t)layer->firstColumn + i;
      L if (c < 0 || c >= layer->width) {
        L continue;
      }
      L int32_t tile = BlockPeekWord(cells + (r * layer->width + c));
      // Tile numbers outside 1 .. N name no tile type and are not drawn.
      L if (tile <= 0 || tile > tileTypeCount) {
        L continue;
      }
      L int64_t x = i * layer->tileWidth - subX;
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
