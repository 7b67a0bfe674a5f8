// The map file encoder (see map_file.h): little-endian integers of the
// documented widths, text lines ending in LF or CR LF, then every layer's block.
#include "tools/lib/map_file.h"

#include <cstdint>
#include <cstring>

namespace {

void MapFileLine(std::vector<uint8_t>* out, const std::string& s, bool crlf) {
  out->insert(out->end(), s.begin(), s.end());
  if (crlf) out->push_back(13);
  out->push_back(10);
}

void MapFileInt(std::vector<uint8_t>* out, int64_t v, int bytes) {
  uint64_t u = (uint64_t)v;
  for (int i = 0; i < bytes; i++) out->push_back((uint8_t)(u >> (8 * i)));
}

struct MapFileReader {
  const std::vector<uint8_t>* bytes;
  size_t pos = 0;
  bool pastEnd = false;
};

uint8_t MapFileByte(MapFileReader* r, bool* got) {
  if (r->pos >= r->bytes->size()) {
    *got = false;
    r->pastEnd = true;
    return 0;
  }
  *got = true;
  return (*r->bytes)[r->pos++];
}

std::string MapFileReadLine(MapFileReader* r, std::vector<MapFileEnd>* ends) {
  std::string s;
  for (;;) {
    bool got;
    uint8_t b = MapFileByte(r, &got);
    MapFileEnd end = MapFileEnd::EndOfFile;
    if (got && b != 0 && b != 10 && b != 13) {
      s += (char)b;
      continue;
    }
    if (got && b == 0) end = MapFileEnd::Zero;
    if (got && b == 10) end = MapFileEnd::Lf;
    if (got && b == 13) {
      end = MapFileEnd::Cr;
      if (r->pos < r->bytes->size() && (*r->bytes)[r->pos] == 10) {
        r->pos++;
        end = MapFileEnd::CrLf;
      }
    }
    ends->push_back(end);
    return s;
  }
}

// A little-endian signed value of n bytes; bytes past the end read as 0.
int64_t MapFileReadInt(MapFileReader* r, int n) {
  uint64_t u = 0;
  for (int i = 0; i < n; i++) {
    bool got;
    u |= (uint64_t)MapFileByte(r, &got) << (8 * i);
  }
  int shift = 64 - 8 * n;
  return (int64_t)(u << shift) >> shift;
}

}  // namespace

uint32_t MapFileFactorBits(float factor) {
  uint32_t bits;
  std::memcpy(&bits, &factor, 4);
  return bits;
}

std::vector<uint8_t> MapFileEncode(const MapFile& map) {
  std::vector<uint8_t> out;
  bool crlf = map.crlf;
  MapFileLine(&out, map.text1, crlf);
  MapFileLine(&out, map.text2, crlf);
  MapFileInt(&out, map.width, 4);
  MapFileInt(&out, map.height, 4);
  MapFileLine(&out, map.text3, crlf);
  MapFileInt(&out, map.ownCounts ? (int64_t)map.layers.size() : map.layerCount, 1);
  MapFileInt(&out, map.ownCounts ? (int64_t)map.tiles.size() : map.tileCount, 2);
  MapFileInt(&out, map.startX, 4);
  MapFileInt(&out, map.startY, 4);
  MapFileLine(&out, map.background, crlf);
  MapFileInt(&out, map.step, 1);
  for (const MapFileLayer& layer : map.layers) {
    MapFileLine(&out, layer.name, crlf);
    MapFileInt(&out, layer.width, 4);
    MapFileInt(&out, layer.height, 4);
    MapFileInt(&out, layer.tileWidth, 4);
    MapFileInt(&out, layer.tileHeight, 4);
    MapFileInt(&out, layer.factorBits, 4);
    MapFileInt(&out, layer.planes, 1);
  }
  for (const MapFileTile& tile : map.tiles) {
    MapFileLine(&out, tile.image, crlf);
    MapFileInt(&out, tile.frames, 1);
    MapFileInt(&out, tile.spare, 2);
  }
  if (!map.blocks) return out;
  for (size_t k = 0; k < map.layers.size(); k++) {
    const MapFileLayer& layer = map.layers[k];
    size_t at = out.size();
    out.resize(at + layer.cells.size() * 2);
    for (size_t i = 0; i < layer.cells.size(); i++) {
      out[at + 2 * i] = (uint8_t)layer.cells[i];
      out[at + 2 * i + 1] = (uint8_t)((uint16_t)layer.cells[i] >> 8);
    }
    if ((int32_t)k == map.endLayer) return out;
    // Columns x rows x planes (negative counts may still multiply to a block
    // the runner holds); computed in double, as the product can pass 64 bits.
    double block = (double)layer.width * (double)layer.height * ((double)layer.planes + 1);
    if (block > (double)layer.cells.size() && block <= (double)INT32_MAX / 2) {
      out.resize(out.size() + ((size_t)block - layer.cells.size()) * 2, 0);
    }
  }
  return out;
}

void MapFileDecode(const std::vector<uint8_t>& bytes, MapFileRead* read) {
  *read = MapFileRead();
  MapFileReader reader{&bytes};
  MapFileReader* r = &reader;
  MapFile& map = read->map;
  map.ownCounts = false;
  map.text1 = MapFileReadLine(r, &read->ends);
  map.text2 = MapFileReadLine(r, &read->ends);
  map.width = (int32_t)MapFileReadInt(r, 4);
  map.height = (int32_t)MapFileReadInt(r, 4);
  map.text3 = MapFileReadLine(r, &read->ends);
  map.layerCount = (int8_t)MapFileReadInt(r, 1);
  map.tileCount = (int16_t)MapFileReadInt(r, 2);
  map.startX = (int32_t)MapFileReadInt(r, 4);
  map.startY = (int32_t)MapFileReadInt(r, 4);
  map.background = MapFileReadLine(r, &read->ends);
  map.step = (int8_t)MapFileReadInt(r, 1);
  read->headerShort = r->pastEnd;
  map.layers.resize(map.layerCount > 0 ? (size_t)map.layerCount : 0);
  for (MapFileLayer& layer : map.layers) {
    layer.name = MapFileReadLine(r, &read->ends);
    layer.width = (int32_t)MapFileReadInt(r, 4);
    layer.height = (int32_t)MapFileReadInt(r, 4);
    layer.tileWidth = (int32_t)MapFileReadInt(r, 4);
    layer.tileHeight = (int32_t)MapFileReadInt(r, 4);
    layer.factorBits = (uint32_t)MapFileReadInt(r, 4);
    layer.planes = (int8_t)MapFileReadInt(r, 1);
    // Exact in double for every possible field value.
    double size = (double)layer.width * (double)layer.height * 2.0 * ((double)layer.planes + 1);
    read->blockBytes.push_back(size);
    read->anyBadBlock |= size <= 0 || size > 2147483647.0;
  }
  map.tiles.resize(map.tileCount > 0 ? (size_t)map.tileCount : 0);
  for (MapFileTile& tile : map.tiles) {
    tile.image = MapFileReadLine(r, &read->ends);
    tile.frames = (int8_t)MapFileReadInt(r, 1);
    tile.spare = (int16_t)MapFileReadInt(r, 2);
  }
  read->descriptorsShort = r->pastEnd;
  // The runner allocates every block before reading any: one it cannot hold and it reads none.
  size_t at = r->pos;
  for (size_t k = 0; k < map.layers.size(); k++) {
    read->blockAt.push_back(at);
    if (read->anyBadBlock || read->cut) continue;
    size_t block = (size_t)read->blockBytes[k];
    size_t available = at < bytes.size() ? bytes.size() - at : 0;
    if (available > block) available = block;
    if (available < block) read->cut = true;
    std::vector<int16_t>& cells = map.layers[k].cells;
    cells.resize((available + 1) / 2);
    for (size_t i = 0; i < cells.size(); i++) {
      uint16_t lo = bytes[at + 2 * i], hi = 2 * i + 1 < available ? bytes[at + 2 * i + 1] : 0;
      cells[i] = (int16_t)(lo | hi << 8);
    }
    at += block;
  }
  read->cellsEnd = at;
}
