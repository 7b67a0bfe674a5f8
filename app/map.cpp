// The map loader: reads a map file of Maps\ in one pass into the map records,
// sets the animation up, allocates and fills the layers' cell blocks, loads the
// tile images and the background; and MapFree, which releases what it built.
// Depends on the runtime (strings, arguments, arrays, files, blocks, timer) and
// the sprites.
#include <cstddef>

#include "app/map.h"
#include "runtime/args.h"
#include "runtime/arrays.h"
#include "runtime/files.h"
#include "runtime/runtime.h"
#include "runtime/strings.h"
#include "runtime/timing.h"
#include "screen/sprites.h"
#include "app/line.h"

MapHeader Map;
MapLayer* MapLayers;
TileType* TileTypes;
int16_t* AnimatedTileList;
int16_t AnimatedTileCount;
int32_t BackgroundMode;
int32_t BackgroundSprite;

const StringFieldEntry MapLayerStringFields[] = {offsetof(MapLayer, name), -1};
const StringFieldEntry TileTypeStringFields[] = {offsetof(TileType, image), -1};

// The pairs are read as one 8-byte block each, straight into two fields.
static_assert(offsetof(MapHeader, mapHeight) == offsetof(MapHeader, mapWidth) + 4);
static_assert(offsetof(MapHeader, startY) == offsetof(MapHeader, startX) + 4);
static_assert(offsetof(MapLayer, height) == offsetof(MapLayer, width) + 4);
static_assert(offsetof(MapLayer, tileHeight) == offsetof(MapLayer, tileWidth) + 4);
static_assert(offsetof(MapLayer, offsetY) == offsetof(MapLayer, offsetX) + 4);
static_assert(offsetof(MapLayer, firstRow) == offsetof(MapLayer, firstColumn) + 4);

// Reads the next text line of the map file into a string variable.
static void MapReadLine(StringVariable* variable) {
  L int32_t start = StringBufferFill;
  L FileReadLine(MapFileNumber, StringBufferFill);
  L StrAssign(variable, start);
}

// The byte size of a layer's cell block, width * height * 2 * (planes + 1),
// worked out exactly; 0 when it is 0 or less or does not fit a signed 32-bit size.
static int32_t MapCellBlockSize(const MapLayer* layer) {
  L int64_t cells = (int64_t)layer->width * layer->height;
  L int64_t planeBytes = 2 * ((int64_t)layer->extraPlanes + 1);
  // |cells| above 2^31 - 1 cannot fit once doubled; the test also keeps the product below in range.
  L if (cells > INT32_MAX || cells < -(int64_t)INT32_MAX) {
    L return 0;
  }
  L int64_t size = cells * planeBytes;
  L if (size <= 0 || size > INT32_MAX) {
    L return 0;
  }
  L return (int32_t)size;
}

void MapLoad(const char16_t* name) {
  L StringVariable mapName = nullptr;
  L StringVariable dir = nullptr;
  L StringVariable tilesFolder = nullptr;
  L StringVariable mapPath = nullptr;
  L int32_t start = 0;
  L intptr_t loaded = 0;
  L StrInit(&mapName, name);

  L SpriteKeySet(-1, 0);

  L start = StringBufferFill;
  L WorkingDirectory(StringBufferFill);
  L StrAssign(&dir, start);
  L start = StringBufferFill;
  L StrAppend(dir);
  L StrAppend(u"Tiles\\");
  L StrAssign(&tilesFolder, start);
  L start = StringBufferFill;
  L StrAppend(dir);
  L StrAppend(u"Maps\\");
  L StrAppend(mapName);
  L StrAssign(&mapPath, start);

  L if (FileOpenRead(MapFileNumber, mapPath) == 0) {
    L ErrorExit(2);
  }

  L MapReadLine(&Map.text1);
  L MapReadLine(&Map.text2);
  L FileReadBlock(MapFileNumber, &Map.mapWidth, 8);
  L MapReadLine(&Map.text3);
  L Map.layerCount = (int8_t)FileReadByte(MapFileNumber);
  L Map.tileTypeCount = (int16_t)FileReadWord(MapFileNumber);
  L FileReadBlock(MapFileNumber, &Map.startX, 8);
  L MapReadLine(&Map.background);
  L Map.scrollStep = (int8_t)FileReadByte(MapFileNumber);

  L ArrayFree(MapLayers);
  L ArrayAlloc(Map.layerCount, sizeof(MapLayer), MapLayerStringFields, (void**)&MapLayers, MapArrayRecords);
  L for (int32_t i = 0; i < Map.layerCount; i++) {
    L MapLayer* layer = &MapLayers[i];
    L MapReadLine(&layer->name);
    L FileReadBlock(MapFileNumber, &layer->width, 8);
    L FileReadBlock(MapFileNumber, &layer->tileWidth, 8);
    L layer->scrollFactor = FileReadFloat(MapFileNumber);
    L layer->extraPlanes = (int8_t)FileReadByte(MapFileNumber);
  }

  L ArrayFree(TileTypes);
  L ArrayAlloc((int32_t)Map.tileTypeCount + 1, sizeof(TileType), TileTypeStringFields, (void**)&TileTypes,
               MapArrayRecords);
  L for (int32_t t = 1; t <= Map.tileTypeCount; t++) {
    L TileType* type = &TileTypes[t];
    L MapReadLine(&type->image);
    L type->frameCount = (int8_t)FileReadByte(MapFileNumber);
    L type->spare = (int16_t)FileReadWord(MapFileNumber);
  }

  L TileAnimationSetUp();

  L for (int32_t i = 0; i < Map.layerCount; i++) {
    L MapLayer* layer = &MapLayers[i];
    L int32_t size = MapCellBlockSize(layer);
    L layer->cells = BlockAlloc(size);
    L if (layer->cells == nullptr) {
      L ErrorExit(7);
    }
  }
  L for (int32_t i = 0; i < Map.layerCount; i++) {
    L MapLayer* layer = &MapLayers[i];
    L FileReadBlock(MapFileNumber, layer->cells, (int32_t)BlockSize(layer->cells));
  }
  L FileClose(MapFileNumber);

  L for (int32_t t = 1; t <= Map.tileTypeCount; t++) {
    L start = StringBufferFill;
    L StrAppend(tilesFolder);
    L StrAppend(TileTypes[t].image);
    L loaded = SpriteLoad(TileSpriteBase + t, StrArgBegin(start));
    L StrArgEnd(start);
    L if (loaded == 0) {
      L ErrorExit(5);
    }
  }

  L if (StrCompare(Map.background, u"") == 0) {
    L int32_t value = IntFromStr(Map.background);
    L if (value == 0) {
      L start = StringBufferFill;
      L StrAppend(tilesFolder);
      L StrAppend(Map.background);
      L BackgroundSprite = (int32_t)SpriteLoad(-1, StrArgBegin(start));
      L StrArgEnd(start);
      L BackgroundMode = -1;
    } else {
      L BackgroundMode = value;
    }
  } else {
    L BackgroundMode = 0;
  }

  L Map.viewX = Map.startX;
  L Map.viewY = Map.startY;
  // Unscaled: the scroll factors first apply at the first MapScroll.
  L for (int32_t i = 0; i < Map.layerCount; i++) {
    L MapLayers[i].offsetX = Map.startX;
    L MapLayers[i].offsetY = Map.startY;
  }

  // Widened as a signed 32-bit value, as every tick the runner computes with.
  L AnimationLastTick = (int32_t)TimerMilliseconds();
  L FpsLastTick = AnimationLastTick;

  L StrFree(mapName);
  L StrFree(dir);
  L StrFree(tilesFolder);
  L StrFree(mapPath);
}

void MapFree() {
  L for (int32_t i = 0; i < Map.layerCount; i++) {
    L BlockFree(MapLayers[i].cells);
  }
  L ArrayFree(MapLayers);
  L ArrayAlloc(1, sizeof(MapLayer), MapLayerStringFields, (void**)&MapLayers, MapArrayRecords);
  L ArrayFree(TileTypes);
  L ArrayAlloc(1, sizeof(TileType), TileTypeStringFields, (void**)&TileTypes, MapArrayRecords);
  L ArrayFreeRaw(AnimatedTileList);
  L ArrayAlloc(1, sizeof(int16_t), nullptr, (void**)&AnimatedTileList, MapArrayWords);
  L AnimatedTileCount = 0;
  L for (int32_t t = 1; t <= Map.tileTypeCount; t++) {
    L SpriteFree(TileSpriteBase + t);
  }
}
