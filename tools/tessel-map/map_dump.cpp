// Map dump: reads a binary map in the runner's own way (reads past the end give
// 0 or empty text, a CR followed by byte 10 is one line end) and prints it as
// map source, with warnings for what the runner cannot show.
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "tools/tessel-map/map_source.h"

namespace {

enum class DumpEnd { Lf, CrLf, Cr, Zero, EndOfFile };

struct DumpReader {
  const std::vector<uint8_t>* bytes;
  size_t pos = 0;
  bool pastEnd = false;  // some read wanted bytes the file does not hold
};

struct DumpOut {
  std::string* text;
  int warnings = 0;
};

uint8_t DumpByte(DumpReader* r, bool* got) {
  if (r->pos >= r->bytes->size()) {
    *got = false;
    r->pastEnd = true;
    return 0;
  }
  *got = true;
  return (*r->bytes)[r->pos++];
}

std::string DumpLine(DumpReader* r, DumpEnd* end) {
  std::string s;
  for (;;) {
    bool got;
    uint8_t b = DumpByte(r, &got);
    if (!got) { *end = DumpEnd::EndOfFile; return s; }
    if (b == 0) { *end = DumpEnd::Zero; return s; }
    if (b == 10) { *end = DumpEnd::Lf; return s; }
    if (b == 13) {
      if (r->pos < r->bytes->size() && (*r->bytes)[r->pos] == 10) {
        r->pos++;
        *end = DumpEnd::CrLf;
      } else {
        *end = DumpEnd::Cr;
      }
      return s;
    }
    s += static_cast<char>(b);
  }
}

// Little-endian signed value of n bytes; bytes past the end of the file read as 0.
int64_t DumpInt(DumpReader* r, int n) {
  uint64_t u = 0;
  for (int i = 0; i < n; i++) {
    bool got;
    u |= static_cast<uint64_t>(DumpByte(r, &got)) << (8 * i);
  }
  int shift = 64 - 8 * n;
  return static_cast<int64_t>(u << shift) >> shift;
}

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

// The cell at byte offset at; a block cut short by the end of the file keeps
// the bytes it got, the rest of it stays zero.
int16_t DumpCell(const std::vector<uint8_t>& bytes, size_t at) {
  uint16_t lo = at < bytes.size() ? bytes[at] : 0;
  uint16_t hi = at + 1 < bytes.size() ? bytes[at + 1] : 0;
  return static_cast<int16_t>(lo | (hi << 8));
}

struct DumpLayer {
  std::string name;
  DumpEnd nameEnd;
  int64_t width, height, tileWidth, tileHeight, planes;
  float factor;
  uint32_t factorBits;
  double bytes;  // declared block size, exact in double for every possible field value
};

struct DumpTile {
  std::string image;
  DumpEnd end;
  int64_t frames, spare;
};

// Prints count cells of the block starting at byte at as rows of width cells
// (the last one may be short); only cells the file holds are ever asked for.
void DumpRows(DumpOut* o, const std::vector<uint8_t>& bytes, size_t at, size_t count, size_t width) {
  std::string row;
  for (size_t i = 0; i < count; i++) {
    row += (i % width == 0 ? "    " : " ") + Num(DumpCell(bytes, at + 2 * i));
    if ((i + 1) % width == 0 || i + 1 == count) {
      Put(o, row + "\n");
      row.clear();
    }
  }
}

}  // namespace

int MapDumpText(const std::vector<uint8_t>& bytes, const std::string& name, std::string* out) {
  DumpReader reader{&bytes};
  DumpReader* r = &reader;
  DumpOut dump{out};
  DumpOut* o = &dump;
  out->clear();

  std::vector<DumpEnd> ends;
  DumpEnd e;
  std::string text1 = DumpLine(r, &e);
  ends.push_back(e);
  std::string text2 = DumpLine(r, &e);
  ends.push_back(e);
  int64_t width = DumpInt(r, 4), height = DumpInt(r, 4);
  std::string text3 = DumpLine(r, &e);
  ends.push_back(e);
  int64_t layerCount = DumpInt(r, 1);
  int64_t tileCount = DumpInt(r, 2);
  int64_t startX = DumpInt(r, 4), startY = DumpInt(r, 4);
  std::string background = DumpLine(r, &e);
  ends.push_back(e);
  int64_t step = DumpInt(r, 1);
  bool headerShort = r->pastEnd;

  std::vector<DumpLayer> layers(static_cast<size_t>(layerCount > 0 ? layerCount : 0));
  for (DumpLayer& layer : layers) {
    layer.name = DumpLine(r, &layer.nameEnd);
    ends.push_back(layer.nameEnd);
    layer.width = DumpInt(r, 4);
    layer.height = DumpInt(r, 4);
    layer.tileWidth = DumpInt(r, 4);
    layer.tileHeight = DumpInt(r, 4);
    layer.factorBits = static_cast<uint32_t>(DumpInt(r, 4));
    std::memcpy(&layer.factor, &layer.factorBits, 4);
    layer.planes = DumpInt(r, 1);
    layer.bytes = static_cast<double>(layer.width) * static_cast<double>(layer.height) * 2.0 *
                  static_cast<double>(layer.planes + 1);
  }
  std::vector<DumpTile> tiles(static_cast<size_t>(tileCount > 0 ? tileCount : 0));
  for (DumpTile& tile : tiles) {
    tile.image = DumpLine(r, &tile.end);
    ends.push_back(tile.end);
    tile.frames = DumpInt(r, 1);
    tile.spare = DumpInt(r, 2);
  }
  bool descriptorsShort = r->pastEnd;
  size_t cellStart = r->pos;

  Put(o, "# Map " + name + ": " + Num(static_cast<int64_t>(bytes.size())) + " bytes, " + Num(layerCount) +
             " layer(s), " + Num(tileCount) + " tile type(s)\n");
  int lf = 0, crlf = 0, other = 0;
  for (DumpEnd end : ends) {
    if (end == DumpEnd::Lf) lf++;
    else if (end == DumpEnd::CrLf) crlf++;
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
  bool anyBadBlock = false;
  for (const DumpLayer& layer : layers) anyBadBlock |= layer.bytes <= 0 || layer.bytes > 2147483647.0;

  int64_t usableTiles = tileCount > 0 ? tileCount : 0;
  size_t cellPos = cellStart;
  // Every layer after the file's end reads as empty cells: listing stops there
  // with 'end-of-file', so the work follows the bytes the file holds, not the
  // cells it declares.
  bool ended = false;
  for (size_t l = 0; l < layers.size(); l++) {
    const DumpLayer& layer = layers[l];
    Put(o, "\nlayer " + Quote(layer.name) + "  # layer " + Num(static_cast<int64_t>(l)) + "\n");
    Put(o, "  cells " + Num(layer.width) + " " + Num(layer.height) + "\n");
    Put(o, "  tile-size " + Num(layer.tileWidth) + " " + Num(layer.tileHeight) + "\n");
    char factor[96];
    if (std::isfinite(layer.factor)) {
      std::snprintf(factor, sizeof factor, "  factor %.9g  # bits 0x%08" PRIX32 "\n", static_cast<double>(layer.factor),
                    layer.factorBits);
    } else {
      std::snprintf(factor, sizeof factor, "  factor bits 0x%08" PRIX32 "  # %s\n", layer.factorBits,
                    std::isnan(layer.factor) ? "not a number" : "infinite");
    }
    Put(o, factor);
    Put(o, "  planes " + Num(layer.planes) + "\n");
    std::string where = "layer " + Num(static_cast<int64_t>(l)) + " " + Quote(layer.name) + ": ";
    if (layer.tileWidth <= 0 || layer.tileHeight <= 0) {
      Warn(o, where + "tile size " + Num(layer.tileWidth) + " x " + Num(layer.tileHeight) +
                  " is 0 or less: the layer is not drawn");
    }
    char size[64];
    std::snprintf(size, sizeof size, "%.0f", layer.bytes);
    if (layer.bytes <= 0) {
      Warn(o, where + "cell block size " + size + " is 0 or less: the runner stops with error 7");
    } else if (layer.bytes > 2147483647.0) {
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
    size_t blockBytes = static_cast<size_t>(layer.bytes);
    size_t available = cellPos < bytes.size() ? bytes.size() - cellPos : 0;
    if (available > blockBytes) available = blockBytes;
    // A last odd byte is the low byte of a cell whose high byte stays zero.
    size_t present = (available + 1) / 2;
    if (available < blockBytes) {
      ended = true;
      Warn(o, where + "the cell block holds " + Num(static_cast<int64_t>(available)) + " of its " + size +
                  " bytes; the rest reads as empty cells");
    }
    if (layer.width < 0 || layer.height < 0) {
      // Two negative counts make a positive size: the block is read, nothing is drawn.
      Warn(o, where + "negative column and row counts: the block is read and the layer is not drawn");
      Put(o, "  data  # file offset " + Num(static_cast<int64_t>(cellPos)) + "\n");
      DumpRows(o, bytes, cellPos, present, 16);
      if (ended) Put(o, "    end-of-file\n");
      Put(o, "  end\nend\n");
      cellPos += blockBytes;
      continue;
    }
    size_t width = static_cast<size_t>(layer.width);
    size_t planeCells = width * static_cast<size_t>(layer.height);
    size_t firstPlane = present < planeCells ? present : planeCells;
    int64_t outside = 0, firstColumn = 0, firstRow = 0, firstValue = 0;
    for (size_t i = 0; i < firstPlane; i++) {
      int16_t v = DumpCell(bytes, cellPos + 2 * i);
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
      DumpRows(o, bytes, cellPos + done * 2, count, width);
      endPrinted = count < planeCells;
      if (endPrinted) Put(o, "    end-of-file\n");
      Put(o, "  end\n");
      if (endPrinted) break;
    }
    // The file ends at a plane's edge (or inside the block's last cell).
    if (ended && !endPrinted) Put(o, "  end-of-file\n");
    Put(o, "end\n");
    cellPos += blockBytes;
  }

  if (!tiles.empty()) Put(o, "\n");
  for (size_t k = 0; k < tiles.size(); k++) {
    const DumpTile& tile = tiles[k];
    int64_t t = static_cast<int64_t>(k) + 1;
    Put(o, "tile " + Quote(tile.image) + " frames " + Num(tile.frames) + " spare " + Num(tile.spare) + "  # tile type " +
               Num(t) + "\n");
    if (tile.frames <= 0) {
      Warn(o, "tile type " + Num(t) + ": frame count " + Num(tile.frames) + " is 0 or less: its cells draw nothing");
    } else if (t + tile.frames - 1 > usableTiles) {
      Warn(o, "tile type " + Num(t) + ": frames " + Num(t) + " to " + Num(t + tile.frames - 1) +
                  " run past the last tile type " + Num(usableTiles) + ": those frames draw nothing");
    }
    if (tile.image.empty()) Warn(o, "tile type " + Num(t) + " names no image: the runner stops with error 5");
  }
  if (descriptorsShort) {
    Warn(o, "the file ends inside the layer or tile type descriptions; the runner reads 0 and empty texts for the rest");
  }
  if (!anyBadBlock && !ended && cellPos < bytes.size()) {
    Put(o, "# " + Num(static_cast<int64_t>(bytes.size() - cellPos)) + " byte(s) after the last cell block are never read\n");
  }
  return o->warnings;
}
