// Map dump: prints a binary map, decoded as the runner reads it (MapFileDecode),
// as map source, with warnings for what the runner cannot show.
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "tools/tessel-map/map_source.h"

#include "tools/lib/map_file.h"

namespace {

struct DumpOut {
  std::string* text;
  int warnings = 0;
};

void Put(DumpOut* o, const std::string& s) { *o->text += s; }

void Warn(DumpOut* o, const std::string& s) {
  o->warnings++;
  *o->text += "# warning: " + s + "\n";
}

std::string Num(int64_t v) { return std::to_string(v); }

// Quotes a text for the source: printable ASCII and valid UTF-8 as they are,
// quote and backslash escaped, every other byte as \xHH.
std::string Quote(const std::string& s) {
  std::string q = "\"";
  size_t i = 0;
  while (i < s.size()) {
    uint8_t c = static_cast<uint8_t>(s[i]);
    size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    bool valid = n > 0 && i + n <= s.size() && (n > 1 || (c >= 0x20 && c < 0x7F));
    for (size_t k = 1; valid && k < n; k++) valid = (static_cast<uint8_t>(s[i + k]) & 0xC0) == 0x80;
    if (valid && n == 1 && (c == '"' || c == '\\')) {
      q += '\\';
      q += static_cast<char>(c);
    } else if (valid) {
      q += s.substr(i, n);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      q += hex;
      n = 1;
    }
    i += n;
  }
  return q + "\"";
}

// The runner's reading of a background text: blanks and tabs, a sign, decimal digits.
int32_t DumpLeadingNumber(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) i++;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  uint32_t v = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; i++) v = v * 10 + static_cast<uint32_t>(s[i] - '0');
  return static_cast<int32_t>(negative ? 0u - v : v);
}

// Prints count cells from first as rows of width cells (the last one may be short).
void DumpRows(DumpOut* o, const std::vector<int16_t>& cells, size_t first, size_t count, size_t width) {
  std::string row;
  for (size_t i = 0; i < count; i++) {
    row += (i % width == 0 ? "    " : " ") + Num(cells[first + i]);
    if ((i + 1) % width == 0 || i + 1 == count) {
      Put(o, row + "\n");
      row.clear();
    }
  }
}

}  // namespace

int MapDumpText(const std::vector<uint8_t>& bytes, const std::string& name, std::string* out) {
  MapFileRead read;
  MapFileDecode(bytes, &read);
  const MapFile& map = read.map;
  DumpOut dump{out};
  DumpOut* o = &dump;
  out->clear();
  const std::vector<MapFileEnd>& ends = read.ends;
  const std::string &text1 = map.text1, &text2 = map.text2, &text3 = map.text3, &background = map.background;
  int64_t width = map.width, height = map.height, layerCount = map.layerCount, tileCount = map.tileCount;
  int64_t startX = map.startX, startY = map.startY, step = map.step;
  bool headerShort = read.headerShort, descriptorsShort = read.descriptorsShort;
  const std::vector<MapFileLayer>& layers = map.layers;
  const std::vector<MapFileTile>& tiles = map.tiles;

  Put(o, "# Map " + name + ": " + Num(static_cast<int64_t>(bytes.size())) + " bytes, " + Num(layerCount) +
             " layer(s), " + Num(tileCount) + " tile type(s)\n");
  int lf = 0, crlf = 0, other = 0;
  for (MapFileEnd end : ends) {
    if (end == MapFileEnd::Lf) lf++;
    else if (end == MapFileEnd::CrLf) crlf++;
    else other++;
  }
  Put(o, crlf > lf ? "newline crlf\n" : "newline lf\n");
  // Negative counts read as none; the field keeps its value in a rebuild.
  if (layerCount < 0) Put(o, "layer-count " + Num(layerCount) + "\n");
  if (tileCount < 0) Put(o, "tile-count " + Num(tileCount) + "\n");
  if (lf > 0 && crlf > 0) Warn(o, "text lines end both with LF and with CR LF");
  if (other > 0) {
    Warn(o, Num(other) + " text line(s) end with a lone CR, a zero byte or the end of the file; a rebuild ends them with " +
                (crlf > lf ? "CR LF" : "LF"));
  }
  Put(o, "text1 " + Quote(text1) + "\n");
  Put(o, "text2 " + Quote(text2) + "\n");
  Put(o, "size " + Num(width) + " " + Num(height) + "\n");
  Put(o, "text3 " + Quote(text3) + "\n");
  Put(o, "start " + Num(startX) + " " + Num(startY) + "\n");
  Put(o, "background " + Quote(background));
  int32_t colour = DumpLeadingNumber(background);
  char note[96];
  if (background.empty()) {
    Put(o, "  # black\n");
  } else if (colour != 0) {
    std::snprintf(note, sizeof note, "  # colour 0x%08" PRIX32 " (0x00BBGGRR)\n", static_cast<uint32_t>(colour));
    Put(o, note);
    if (colour == -1) Warn(o, "background -1 selects an image background without an image: nothing is drawn behind the layers");
  } else {
    Put(o, "  # image in Tiles\n");
  }
  Put(o, "step " + Num(step) + "\n");
  if (headerShort) Warn(o, "the file ends inside the header; the runner reads 0 and empty texts for the missing fields");
  if (step <= 0) Warn(o, "scroll step " + Num(step) + ": the arrow keys do not move the view as expected");
  if (layerCount < 0) Warn(o, "layer count " + Num(layerCount) + " is negative: the runner reads no layers");
  if (tileCount < 0) Warn(o, "tile type count " + Num(tileCount) + " is negative: the runner reads no tile types");

  // The runner allocates every block before reading any: one bad size stops it with error 7.
  bool anyBadBlock = read.anyBadBlock;

  int64_t usableTiles = tileCount > 0 ? tileCount : 0;
  // Every layer after the file's end reads as empty cells: listing stops there
  // with 'end-of-file', so the work follows the bytes the file holds, not the
  // cells it declares.
  bool ended = false;
  for (size_t l = 0; l < layers.size(); l++) {
    const MapFileLayer& layer = layers[l];
    double blockSize = read.blockBytes[l];
    size_t cellPos = read.blockAt[l];
    float layerFactor;
    std::memcpy(&layerFactor, &layer.factorBits, 4);
    Put(o, "\nlayer " + Quote(layer.name) + "  # layer " + Num(static_cast<int64_t>(l)) + "\n");
    Put(o, "  cells " + Num(layer.width) + " " + Num(layer.height) + "\n");
    Put(o, "  tile-size " + Num(layer.tileWidth) + " " + Num(layer.tileHeight) + "\n");
    char factor[96];
    if (std::isfinite(layerFactor)) {
      std::snprintf(factor, sizeof factor, "  factor %.9g  # bits 0x%08" PRIX32 "\n", static_cast<double>(layerFactor),
                    layer.factorBits);
    } else {
      std::snprintf(factor, sizeof factor, "  factor bits 0x%08" PRIX32 "  # %s\n", layer.factorBits,
                    std::isnan(layerFactor) ? "not a number" : "infinite");
    }
    Put(o, factor);
    Put(o, "  planes " + Num(static_cast<int64_t>(layer.planes)) + "\n");
    std::string where = "layer " + Num(static_cast<int64_t>(l)) + " " + Quote(layer.name) + ": ";
    if (layer.tileWidth <= 0 || layer.tileHeight <= 0) {
      Warn(o, where + "tile size " + Num(layer.tileWidth) + " x " + Num(layer.tileHeight) +
                  " is 0 or less: the layer is not drawn");
    }
    char size[64];
    std::snprintf(size, sizeof size, "%.0f", blockSize);
    if (blockSize <= 0) {
      Warn(o, where + "cell block size " + size + " is 0 or less: the runner stops with error 7");
    } else if (blockSize > 2147483647.0) {
      Warn(o, where + "cell block size " + size + " overflows 32 bits: the runner stops with error 7");
    }
    if (anyBadBlock) {
      Put(o, "  # cells not read: the runner stops before reading any cell block\nend\n");
      continue;
    }
    if (ended) {
      Put(o, "  # no cells: the file has ended\nend\n");
      continue;
    }
    size_t blockBytes = static_cast<size_t>(blockSize);
    size_t available = cellPos < bytes.size() ? bytes.size() - cellPos : 0;
    if (available > blockBytes) available = blockBytes;
    // A last odd byte is the low byte of a cell whose high byte stays zero.
    size_t present = layer.cells.size();
    if (available < blockBytes) {
      ended = true;
      Warn(o, where + "the cell block holds " + Num(static_cast<int64_t>(available)) + " of its " + size +
                  " bytes; the rest reads as empty cells");
    }
    if (layer.width < 0 || layer.height < 0) {
      // Two negative counts make a positive size: the block is read, nothing is drawn.
      Warn(o, where + "negative column and row counts: the block is read and the layer is not drawn");
      Put(o, "  data  # file offset " + Num(static_cast<int64_t>(cellPos)) + "\n");
      DumpRows(o, layer.cells, 0, present, 16);
      if (ended) Put(o, "    end-of-file\n");
      Put(o, "  end\nend\n");
      continue;
    }
    size_t width = static_cast<size_t>(layer.width);
    size_t planeCells = width * static_cast<size_t>(layer.height);
    size_t firstPlane = present < planeCells ? present : planeCells;
    int64_t outside = 0, firstColumn = 0, firstRow = 0, firstValue = 0;
    for (size_t i = 0; i < firstPlane; i++) {
      int16_t v = layer.cells[i];
      if ((v < 0 || v > usableTiles) && outside++ == 0) {
        firstColumn = static_cast<int64_t>(i % width);
        firstRow = static_cast<int64_t>(i / width);
        firstValue = v;
      }
    }
    if (outside > 0) {
      Warn(o, where + Num(outside) + " cell(s) name no tile type (outside 1 to " + Num(usableTiles) +
                  ") and are not drawn; the first is " + Num(firstValue) + " at column " + Num(firstColumn) + ", row " +
                  Num(firstRow));
    }
    bool endPrinted = false;
    for (int64_t k = 0; k <= layer.planes; k++) {
      size_t done = static_cast<size_t>(k) * planeCells;
      if (done >= present) break;
      size_t count = present - done < planeCells ? present - done : planeCells;
      Put(o, "  rows  # plane " + Num(k) + ", file offset " + Num(static_cast<int64_t>(cellPos + done * 2)) + "\n");
      DumpRows(o, layer.cells, done, count, width);
      endPrinted = count < planeCells;
      if (endPrinted) Put(o, "    end-of-file\n");
      Put(o, "  end\n");
      if (endPrinted) break;
    }
    // The file ends at a plane's edge (or inside the block's last cell).
    if (ended && !endPrinted) Put(o, "  end-of-file\n");
    Put(o, "end\n");
  }

  if (!tiles.empty()) Put(o, "\n");
  for (size_t k = 0; k < tiles.size(); k++) {
    const MapFileTile& tile = tiles[k];
    int64_t t = static_cast<int64_t>(k) + 1;
    int64_t frames = tile.frames;
    Put(o, "tile " + Quote(tile.image) + " frames " + Num(frames) + " spare " + Num(tile.spare) + "  # tile type " +
               Num(t) + "\n");
    if (frames <= 0) {
      Warn(o, "tile type " + Num(t) + ": frame count " + Num(frames) + " is 0 or less: its cells draw nothing");
    } else if (t + frames - 1 > usableTiles) {
      Warn(o, "tile type " + Num(t) + ": frames " + Num(t) + " to " + Num(t + frames - 1) +
                  " run past the last tile type " + Num(usableTiles) + ": those frames draw nothing");
    }
    if (tile.image.empty()) Warn(o, "tile type " + Num(t) + " names no image: the runner stops with error 5");
  }
  if (descriptorsShort) {
    Warn(o, "the file ends inside the layer or tile type descriptions; the runner reads 0 and empty texts for the rest");
  }
  if (!anyBadBlock && !ended && read.cellsEnd < bytes.size()) {
    Put(o, "# " + Num(static_cast<int64_t>(bytes.size() - read.cellsEnd)) +
               " byte(s) after the last cell block are never read\n");
  }
  return o->warnings;
}
