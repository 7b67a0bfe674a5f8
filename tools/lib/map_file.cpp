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
