// Map source compiler: reads the line-oriented text description of a map
// (header fields, tile types, layers with their cells as rows of numbers) and
// writes the binary map file in its field order, little-endian.
#include "tools/tessel-map/map_source.h"

#include "tools/lib/map_file.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

struct SourceToken {
  std::string text;
  bool quoted = false;
};

struct SourcePlane {
  std::vector<int16_t> cells;
  std::vector<int> rowLines;  // source line of every row, for error messages
  int shortRowLine = 0;       // a row of fewer cells than the width (allowed last before end-of-file)
  size_t shortRowCells = 0;
};

struct SourceLayer {
  std::string name;
  int line = 0;
  int64_t width = 0, height = 0, tileWidth = 0, tileHeight = 0;
  float factor = 1.0f;
  int64_t planes = 0;
  bool haveCells = false, haveTileSize = false;
  std::vector<SourcePlane> data;
  // The block in file order, for layers whose counts give no rows (a negative
  // column or row count with a positive block size).
  bool haveFlat = false;
  std::vector<int16_t> flat;
  // end-of-file: the map file ends after the cells listed so far.
  bool eof = false;
  int eofLine = 0;
};

struct SourceTile {
  std::string image;
  int line = 0;
  int64_t frames = 1, spare = 0;
};

enum class SourceState { Top, Layer, Rows, Data };

struct SourceParser {
  std::string name;
  std::string* errors = nullptr;
  int errorCount = 0;
  int warningCount = 0;
  int line = 0;

  bool crlf = false;
  std::string text1, text2, text3, background;
  int64_t width = 0, height = 0, startX = 0, startY = 0, step = 0;
  bool haveSize = false, haveStep = false;
  // Count fields given as numbers of their own: negative counts, which read as no layers or tile types.
  int64_t layerCountField = 0, tileCountField = 0;
  bool haveLayerCount = false, haveTileCount = false;
  std::vector<std::string> seen;  // header keywords already given
  std::vector<SourceLayer> layers;
  std::vector<SourceTile> tiles;
  SourceState state = SourceState::Top;
};

void SourceError(SourceParser* p, int line, const std::string& message) {
  p->errorCount++;
  // Past twenty errors the rest are mostly consequences of the first ones.
  if (p->errorCount > 20) return;
  *p->errors += p->name + ":" + std::to_string(line) + ": " + message + "\n";
}

// What Tessel will not show or will refuse; the map is written all the same.
void SourceWarn(SourceParser* p, int line, const std::string& message) {
  p->warningCount++;
  if (p->warningCount > 20) return;
  *p->errors += p->name + ":" + std::to_string(line) + ": warning: " + message + "\n";
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Splits one line into words and quoted strings; '#' outside quotes starts a
// comment. Returns false (after reporting) on a malformed string.
bool SourceTokenize(SourceParser* p, const std::string& line, std::vector<SourceToken>* out) {
  size_t i = 0;
  while (i < line.size()) {
    char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') { i++; continue; }
    if (c == '#') break;
    SourceToken token;
    if (c == '"') {
      token.quoted = true;
      i++;
      bool closed = false;
      while (i < line.size()) {
        char d = line[i++];
        if (d == '"') { closed = true; break; }
        if (d != '\\') { token.text += d; continue; }
        if (i >= line.size()) break;
        char e = line[i++];
        if (e == '"' || e == '\\') {
          token.text += e;
        } else if (e == 'x' && i + 1 < line.size() && HexDigit(line[i]) >= 0 && HexDigit(line[i + 1]) >= 0) {
          token.text += static_cast<char>(HexDigit(line[i]) * 16 + HexDigit(line[i + 1]));
          i += 2;
        } else {
          SourceError(p, p->line, std::string("unknown escape \\") + e + " in a string (use \\\", \\\\ or \\xHH)");
          return false;
        }
      }
      if (!closed) {
        SourceError(p, p->line, "string without its closing quote");
        return false;
      }
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '#' && line[i] != '"') {
        token.text += line[i++];
      }
    }
    out->push_back(token);
  }
  return true;
}

// Parses a decimal (or 0x hexadecimal) integer with an optional sign.
bool SourceInteger(const std::string& s, int64_t* value) {
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  int base = 10;
  if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) { base = 16; i += 2; }
  if (i >= s.size()) return false;
  uint64_t v = 0;
  for (; i < s.size(); i++) {
    int d = HexDigit(s[i]);
    if (d < 0 || d >= base) return false;
    v = v * base + d;
    if (v > (1ull << 40)) return false;  // far outside every field's range
  }
  *value = negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
  return true;
}

// Reads token k as an integer within [lo, hi]; reports and returns false otherwise.
bool SourceNumber(SourceParser* p, const std::vector<SourceToken>& t, size_t k, const char* what,
                  int64_t lo, int64_t hi, int64_t* value) {
  if (k >= t.size()) {
    SourceError(p, p->line, std::string("missing ") + what);
    return false;
  }
  if (t[k].quoted || !SourceInteger(t[k].text, value)) {
    SourceError(p, p->line, std::string(what) + " must be a whole number, not '" + t[k].text + "'");
    return false;
  }
  if (*value < lo || *value > hi) {
    SourceError(p, p->line, std::string(what) + " " + t[k].text + " is outside " + std::to_string(lo) + " to " +
                                std::to_string(hi));
    return false;
  }
  return true;
}

// Reads token k as a text line's contents: a quoted string holding no line end or zero byte.
bool SourceString(SourceParser* p, const std::vector<SourceToken>& t, size_t k, const char* what, std::string* value) {
  if (k >= t.size() || !t[k].quoted) {
    SourceError(p, p->line, std::string(what) + " must be a quoted string, such as \"name\"");
    return false;
  }
  if (t[k].text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
    SourceError(p, p->line, std::string(what) + " must not hold a line end or a zero byte");
    return false;
  }
  *value = t[k].text;
  return true;
}

bool SourceExpectEnd(SourceParser* p, const std::vector<SourceToken>& t, size_t count) {
  if (t.size() <= count) return true;
  SourceError(p, p->line, "unexpected '" + t[count].text + "' after '" + t[0].text + "'");
  return false;
}

bool SourceOnce(SourceParser* p, const std::string& key) {
  for (const std::string& s : p->seen) {
    if (s == key) {
      SourceError(p, p->line, "'" + key + "' is given twice");
      return false;
    }
  }
  p->seen.push_back(key);
  return true;
}

constexpr int64_t kInt8Min = -128, kInt8Max = 127;
constexpr int64_t kInt16Min = -32768, kInt16Max = 32767;
constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min(), kInt32Max = std::numeric_limits<int32_t>::max();

// Bytes of a layer's cell block; computed in double because columns times rows
// alone can pass the 64-bit range.
double SourceLayerBytes(const SourceLayer& layer) {
  return static_cast<double>(layer.width) * static_cast<double>(layer.height) * 2.0 *
         static_cast<double>(layer.planes + 1);
}

std::string SourceWhole(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.0f", v);
  return text;
}

void SourceTopLine(SourceParser* p, const std::vector<SourceToken>& t) {
  const std::string& key = t[0].text;
  if (t[0].quoted) {
    SourceError(p, p->line, "a line starts with a keyword, not a string");
    return;
  }
  if (key == "layer") {
    SourceLayer layer;
    layer.line = p->line;
    if (!SourceString(p, t, 1, "the layer name", &layer.name)) return;
    SourceExpectEnd(p, t, 2);
    p->layers.push_back(layer);
    p->state = SourceState::Layer;
    return;
  }
  if (key == "tile") {
    SourceTile tile;
    tile.line = p->line;
    if (!SourceString(p, t, 1, "the tile image", &tile.image)) return;
    for (size_t k = 2; k < t.size(); k += 2) {
      if (t[k].text == "frames") {
        if (!SourceNumber(p, t, k + 1, "the frame count", kInt8Min, kInt8Max, &tile.frames)) return;
      } else if (t[k].text == "spare") {
        if (!SourceNumber(p, t, k + 1, "the spare value", kInt16Min, kInt16Max, &tile.spare)) return;
      } else {
        SourceError(p, p->line, "unknown tile option '" + t[k].text + "' (known: frames, spare)");
        return;
      }
    }
    p->tiles.push_back(tile);
    return;
  }
  if (key == "layer-count" || key == "tile-count") {
    if (!SourceOnce(p, key)) return;
    bool layers = key == "layer-count";
    int64_t* value = layers ? &p->layerCountField : &p->tileCountField;
    if (SourceNumber(p, t, 1, layers ? "the layer count" : "the tile type count", layers ? kInt8Min : kInt16Min, -1,
                     value)) {
      SourceExpectEnd(p, t, 2);
      (layers ? p->haveLayerCount : p->haveTileCount) = true;
    }
    return;
  }
  if (key == "newline") {
    if (!SourceOnce(p, key)) return;
    if (t.size() >= 2 && t[1].text == "lf" && !t[1].quoted) {
      p->crlf = false;
    } else if (t.size() >= 2 && t[1].text == "crlf" && !t[1].quoted) {
      p->crlf = true;
    } else {
      SourceError(p, p->line, "newline must be lf or crlf");
      return;
    }
    SourceExpectEnd(p, t, 2);
    return;
  }
  if (key == "text1" || key == "text2" || key == "text3") {
    if (!SourceOnce(p, key)) return;
    std::string* field = key == "text1" ? &p->text1 : key == "text2" ? &p->text2 : &p->text3;
    if (SourceString(p, t, 1, key.c_str(), field)) SourceExpectEnd(p, t, 2);
    return;
  }
  if (key == "size" || key == "start") {
    if (!SourceOnce(p, key)) return;
    int64_t* x = key == "size" ? &p->width : &p->startX;
    int64_t* y = key == "size" ? &p->height : &p->startY;
    if (SourceNumber(p, t, 1, (key + " x").c_str(), kInt32Min, kInt32Max, x) &&
        SourceNumber(p, t, 2, (key + " y").c_str(), kInt32Min, kInt32Max, y)) {
      SourceExpectEnd(p, t, 3);
      if (key == "size") p->haveSize = true;
    }
    return;
  }
  if (key == "step") {
    if (!SourceOnce(p, key)) return;
    if (SourceNumber(p, t, 1, "the scroll step", kInt8Min, kInt8Max, &p->step)) {
      SourceExpectEnd(p, t, 2);
      p->haveStep = true;
    }
    return;
  }
  if (key == "background") {
    if (!SourceOnce(p, key)) return;
    if (t.size() >= 2 && !t[1].quoted && t[1].text == "rgb") {
      int64_t r, g, b;
      if (!SourceNumber(p, t, 2, "red", 0, 255, &r) || !SourceNumber(p, t, 3, "green", 0, 255, &g) ||
          !SourceNumber(p, t, 4, "blue", 0, 255, &b)) {
        return;
      }
      SourceExpectEnd(p, t, 5);
      // The runner reads the colour as a leading decimal number; 0 would be taken
      // as an image name, so black is written as the empty text, which means black.
      int64_t colour = r | (g << 8) | (b << 16);
      p->background = colour == 0 ? "" : std::to_string(colour);
      return;
    }
    if (SourceString(p, t, 1, "the background", &p->background)) SourceExpectEnd(p, t, 2);
    return;
  }
  if (key == "end" || key == "rows" || key == "cells" || key == "tile-size" || key == "factor" || key == "planes" ||
      key == "data" || key == "end-of-file") {
    SourceError(p, p->line, "'" + key + "' belongs inside a layer");
    return;
  }
  SourceError(p, p->line, "unknown keyword '" + key + "'");
}

// True when Tessel can hold the layer's block: 1 to 2147483647 bytes.
bool SourceBlockHeld(const SourceLayer& layer) {
  double bytes = SourceLayerBytes(layer);
  return bytes > 0 && bytes <= kInt32Max;
}

// Refuses cells listed after the end of the file; true when they may follow.
bool SourceBeforeEnd(SourceParser* p, const SourceLayer& layer) {
  if (!layer.eof) return true;
  SourceError(p, p->line, "cells after 'end-of-file' (line " + std::to_string(layer.eofLine) + ")");
  return false;
}

// An 'end-of-file' line: the file ends after the cells listed so far.
void SourceEndOfFile(SourceParser* p, const std::vector<SourceToken>& t, SourceLayer* layer) {
  SourceExpectEnd(p, t, 1);
  if (!SourceBeforeEnd(p, *layer)) return;
  layer->eof = true;
  layer->eofLine = p->line;
}

void SourceLayerLine(SourceParser* p, const std::vector<SourceToken>& t) {
  SourceLayer& layer = p->layers.back();
  const std::string& key = t[0].text;
  std::string quoted = "layer \"" + layer.name + "\"";
  if (key == "end" && !t[0].quoted) {
    SourceExpectEnd(p, t, 1);
    if (!layer.haveCells) SourceError(p, layer.line, quoted + " has no 'cells WIDTH HEIGHT'");
    if (!layer.haveTileSize) SourceError(p, layer.line, quoted + " has no 'tile-size WIDTH HEIGHT'");
    if (layer.haveCells && !SourceBlockHeld(layer)) {
      SourceWarn(p, layer.line, "the cells of " + quoted + " take " + SourceWhole(SourceLayerBytes(layer)) +
                                    " bytes, outside 1 to 2147483647: Tessel stops with error 7, and no cells are "
                                    "written for any layer");
    }
    if (layer.haveTileSize && (layer.tileWidth <= 0 || layer.tileHeight <= 0)) {
      SourceWarn(p, layer.line, quoted + " has a tile size of 0 or less: it is not drawn");
    }
    p->state = SourceState::Top;
    return;
  }
  if (key == "cells" || key == "tile-size") {
    bool cells = key == "cells";
    if ((cells && layer.haveCells) || (!cells && layer.haveTileSize)) {
      SourceError(p, p->line, "'" + key + "' is given twice in this layer");
      return;
    }
    if (!layer.data.empty() || layer.haveFlat) {
      SourceError(p, p->line, "'" + key + "' must come before the layer's rows");
      return;
    }
    int64_t* x = cells ? &layer.width : &layer.tileWidth;
    int64_t* y = cells ? &layer.height : &layer.tileHeight;
    if (!SourceNumber(p, t, 1, cells ? "the column count" : "the tile width", kInt32Min, kInt32Max, x) ||
        !SourceNumber(p, t, 2, cells ? "the row count" : "the tile height", kInt32Min, kInt32Max, y)) {
      return;
    }
    SourceExpectEnd(p, t, 3);
    (cells ? layer.haveCells : layer.haveTileSize) = true;
    return;
  }
  if (key == "factor") {
    if (t.size() >= 3 && !t[1].quoted && t[1].text == "bits") {
      // The exact 32 bits of the float, for values no decimal number gives (NaN payloads, infinities).
      int64_t bits;
      if (!SourceNumber(p, t, 2, "the scroll factor's bits", 0, 0xFFFFFFFFll, &bits)) return;
      uint32_t raw = static_cast<uint32_t>(bits);
      std::memcpy(&layer.factor, &raw, 4);
      SourceExpectEnd(p, t, 3);
      return;
    }
    if (t.size() < 2 || t[1].quoted) {
      SourceError(p, p->line, "missing the scroll factor");
      return;
    }
    const char* s = t[1].text.c_str();
    char* end = nullptr;
    float f = std::strtof(s, &end);
    if (end == s || *end != '\0' || !std::isfinite(f)) {
      SourceError(p, p->line, "the scroll factor must be a finite number (or 'bits 0xHHHHHHHH'), not '" + t[1].text + "'");
      return;
    }
    layer.factor = f;
    SourceExpectEnd(p, t, 2);
    return;
  }
  if (key == "planes") {
    if (!layer.data.empty() || layer.haveFlat) {
      SourceError(p, p->line, "'planes' must come before the layer's rows");
      return;
    }
    if (SourceNumber(p, t, 1, "the extra plane count", kInt8Min, kInt8Max, &layer.planes)) SourceExpectEnd(p, t, 2);
    return;
  }
  if (key == "end-of-file") {
    SourceEndOfFile(p, t, &layer);
    return;
  }
  if (key == "rows" || key == "data") {
    bool rows = key == "rows";
    SourceExpectEnd(p, t, 1);
    if (!layer.haveCells) {
      SourceError(p, p->line, "'cells WIDTH HEIGHT' must come before the " + key);
      return;
    }
    if (!SourceBeforeEnd(p, layer)) return;
    if (!SourceBlockHeld(layer)) {
      SourceError(p, p->line, "the layer's cells cannot be listed: Tessel stops with error 7 before it reads any");
      return;
    }
    if (rows && (layer.width <= 0 || layer.height <= 0)) {
      SourceError(p, p->line, "rows need a positive column and row count; list this layer's block with 'data'");
      return;
    }
    if (layer.haveFlat || (!rows && !layer.data.empty())) {
      SourceError(p, p->line, "a layer lists its cells either as 'rows' blocks or as one 'data' block");
      return;
    }
    if (!rows) {
      layer.haveFlat = true;
      p->state = SourceState::Data;
      return;
    }
    if (static_cast<int64_t>(layer.data.size()) >= layer.planes + 1) {
      SourceError(p, p->line, "more 'rows' blocks than the layer's " + std::to_string(layer.planes + 1) + " plane(s)");
    }
    layer.data.push_back(SourcePlane());
    p->state = SourceState::Rows;
    return;
  }
  SourceError(p, p->line,
              "unknown layer keyword '" + key + "' (known: cells, tile-size, factor, planes, rows, data, end-of-file, end)");
}

void SourceRowsLine(SourceParser* p, const std::vector<SourceToken>& t) {
  SourceLayer& layer = p->layers.back();
  SourcePlane& plane = layer.data.back();
  std::string expected = " cell(s), " + std::to_string(layer.width) + " expected";
  if (t[0].text == "end" && !t[0].quoted) {
    SourceExpectEnd(p, t, 1);
    int64_t rows = static_cast<int64_t>(plane.rowLines.size());
    if (!layer.eof && rows != layer.height) {
      SourceError(p, p->line, "layer \"" + layer.name + "\" has " + std::to_string(rows) + " row(s) here, " +
                                  std::to_string(layer.height) + " expected");
    }
    if (!layer.eof && plane.shortRowLine) {
      SourceError(p, plane.shortRowLine, "a row of " + std::to_string(plane.shortRowCells) + expected);
    }
    p->state = SourceState::Layer;
    return;
  }
  if (t[0].text == "end-of-file" && !t[0].quoted) {
    SourceEndOfFile(p, t, &layer);
    return;
  }
  if (!SourceBeforeEnd(p, layer)) return;
  if (plane.shortRowLine) {
    // Only the last row before the end of the file may stop early.
    SourceError(p, plane.shortRowLine, "a row of " + std::to_string(plane.shortRowCells) + expected);
    plane.shortRowLine = 0;
  }
  if (static_cast<int64_t>(plane.rowLines.size()) >= layer.height) {
    SourceError(p, p->line, "more rows than the layer's " + std::to_string(layer.height));
    return;
  }
  if (static_cast<int64_t>(t.size()) > layer.width) {
    SourceError(p, p->line, "a row of " + std::to_string(t.size()) + expected);
  } else if (static_cast<int64_t>(t.size()) < layer.width) {
    plane.shortRowLine = p->line;
    plane.shortRowCells = t.size();
  }
  plane.rowLines.push_back(p->line);
  size_t count = t.size() < static_cast<size_t>(layer.width) ? t.size() : static_cast<size_t>(layer.width);
  for (size_t k = 0; k < count; k++) {
    int64_t v = 0;
    if (!SourceNumber(p, t, k, "a cell", kInt16Min, kInt16Max, &v)) v = 0;
    plane.cells.push_back(static_cast<int16_t>(v));
  }
}

// A line of a 'data' block: any number of cells, in file order.
void SourceDataLine(SourceParser* p, const std::vector<SourceToken>& t) {
  SourceLayer& layer = p->layers.back();
  double blockCells = SourceLayerBytes(layer) / 2;
  if (t[0].text == "end" && !t[0].quoted) {
    SourceExpectEnd(p, t, 1);
    if (!layer.eof && static_cast<double>(layer.flat.size()) != blockCells) {
      SourceError(p, p->line, "layer \"" + layer.name + "\" lists " + std::to_string(layer.flat.size()) +
                                  " cell(s) in its data, " + SourceWhole(blockCells) + " expected");
    }
    p->state = SourceState::Layer;
    return;
  }
  if (t[0].text == "end-of-file" && !t[0].quoted) {
    SourceEndOfFile(p, t, &layer);
    return;
  }
  if (!SourceBeforeEnd(p, layer)) return;
  for (size_t k = 0; k < t.size(); k++) {
    int64_t v = 0;
    if (!SourceNumber(p, t, k, "a cell", kInt16Min, kInt16Max, &v)) v = 0;
    if (static_cast<double>(layer.flat.size()) >= blockCells) {
      SourceError(p, p->line, "more cells than the layer's block holds (" + SourceWhole(blockCells) + ")");
      return;
    }
    layer.flat.push_back(static_cast<int16_t>(v));
  }
}

}  // namespace

bool MapSourceBuild(const std::string& text, const std::string& name, std::vector<uint8_t>* out,
                    std::string* errors) {
  SourceParser parser;
  SourceParser* p = &parser;
  p->name = name;
  p->errors = errors;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    std::string line = text.substr(pos, eol - pos);
    pos = eol + 1;
    p->line++;
    std::vector<SourceToken> tokens;
    if (!SourceTokenize(p, line, &tokens) || tokens.empty()) continue;
    if (p->state == SourceState::Top) {
      SourceTopLine(p, tokens);
    } else if (p->state == SourceState::Layer) {
      SourceLayerLine(p, tokens);
    } else if (p->state == SourceState::Rows) {
      SourceRowsLine(p, tokens);
    } else {
      SourceDataLine(p, tokens);
    }
  }
  if (p->state != SourceState::Top) {
    SourceError(p, p->line, "the source ends inside layer \"" + p->layers.back().name + "\": 'end' missing");
  }
  if (!p->haveSize) SourceError(p, p->line, "the map has no 'size WIDTH HEIGHT'");
  if (!p->haveStep) SourceError(p, p->line, "the map has no 'step PIXELS'");
  if (p->layers.size() > static_cast<size_t>(kInt8Max)) {
    SourceError(p, p->layers[kInt8Max].line, "more than 127 layers");
  }
  if (p->tiles.size() > static_cast<size_t>(kInt16Max)) {
    SourceError(p, p->tiles[kInt16Max].line, "more than 32767 tile types");
  }
  if (p->haveLayerCount && !p->layers.empty()) {
    SourceError(p, p->layers[0].line, "'layer-count' gives a negative count: the map can have no layers");
  }
  if (p->haveTileCount && !p->tiles.empty()) {
    SourceError(p, p->tiles[0].line, "'tile-count' gives a negative count: the map can have no tile types");
  }
  int64_t tileCount = static_cast<int64_t>(p->tiles.size());
  for (size_t k = 0; k < p->tiles.size(); k++) {
    const SourceTile& tile = p->tiles[k];
    // Frames past the last tile type are allowed: they draw nothing (a blinking tile).
    if (tile.frames <= 0) {
      SourceWarn(p, tile.line, "tile type " + std::to_string(k + 1) + " has " + std::to_string(tile.frames) +
                                   " frames: its cells draw nothing");
    }
    if (tile.image.empty()) {
      SourceWarn(p, tile.line, "tile type " + std::to_string(k + 1) + " names no image: Tessel stops with error 5");
    }
  }
  // The first plane is the one drawn: its cells should name tile types that exist.
  bool anyBadBlock = false, ended = false;
  int endLine = 0;
  for (const SourceLayer& layer : p->layers) {
    anyBadBlock |= !SourceBlockHeld(layer);
    if (ended && (!layer.data.empty() || layer.haveFlat)) {
      SourceError(p, layer.line, "layer \"" + layer.name + "\" lists cells after 'end-of-file' (line " +
                                     std::to_string(endLine) + ")");
    }
    if (layer.eof && !ended) {
      ended = true;
      endLine = layer.eofLine;
    }
    if (layer.data.empty()) continue;
    const SourcePlane& plane = layer.data[0];
    for (size_t i = 0; i < plane.cells.size(); i++) {
      int16_t v = plane.cells[i];
      if (v < 0 || v > tileCount) {
        size_t row = i / static_cast<size_t>(layer.width);
        SourceWarn(p, plane.rowLines[row], "cell " + std::to_string(v) + " in column " +
                                               std::to_string(i % layer.width) + " names no tile type (there are " +
                                               std::to_string(tileCount) + "): it is not drawn");
      }
    }
  }
  if (p->warningCount > 20) *errors += name + ": " + std::to_string(p->warningCount - 20) + " more warning(s)\n";
  if (p->errorCount > 20) *errors += name + ": " + std::to_string(p->errorCount - 20) + " more error(s)\n";
  if (p->errorCount > 0) return false;

  MapFile map;
  map.crlf = p->crlf;
  map.text1 = p->text1;
  map.text2 = p->text2;
  map.text3 = p->text3;
  map.width = static_cast<int32_t>(p->width);
  map.height = static_cast<int32_t>(p->height);
  map.ownCounts = !p->haveLayerCount && !p->haveTileCount;
  map.layerCount = static_cast<int8_t>(p->haveLayerCount ? p->layerCountField : static_cast<int64_t>(p->layers.size()));
  map.tileCount = static_cast<int16_t>(p->haveTileCount ? p->tileCountField : tileCount);
  map.startX = static_cast<int32_t>(p->startX);
  map.startY = static_cast<int32_t>(p->startY);
  map.background = p->background;
  map.step = static_cast<int8_t>(p->step);
  for (const SourceTile& tile : p->tiles) {
    map.tiles.push_back({tile.image, static_cast<int8_t>(tile.frames), static_cast<int16_t>(tile.spare)});
  }
  // Tessel allocates every block before it reads any, so with one it cannot
  // hold it reads none: the cells are left out.
  map.blocks = !anyBadBlock;
  for (size_t k = 0; k < p->layers.size(); k++) {
    const SourceLayer& layer = p->layers[k];
    MapFileLayer out;
    out.name = layer.name;
    out.width = static_cast<int32_t>(layer.width);
    out.height = static_cast<int32_t>(layer.height);
    out.tileWidth = static_cast<int32_t>(layer.tileWidth);
    out.tileHeight = static_cast<int32_t>(layer.tileHeight);
    out.factorBits = MapFileFactorBits(layer.factor);
    out.planes = static_cast<int8_t>(layer.planes);
    if (layer.haveFlat) {
      out.cells = layer.flat;
    } else {
      // Planes without a 'rows' block are empty; after end-of-file nothing more is held.
      size_t planeCells = static_cast<size_t>(layer.width * layer.height);
      for (size_t plane = 0; plane < layer.data.size(); plane++) {
        out.cells.insert(out.cells.end(), layer.data[plane].cells.begin(), layer.data[plane].cells.end());
        if (plane + 1 < layer.data.size()) out.cells.resize((plane + 1) * planeCells, 0);
      }
    }
    if (layer.eof && map.endLayer < 0) map.endLayer = static_cast<int32_t>(k);
    map.layers.push_back(std::move(out));
  }
  *out = MapFileEncode(map);
  return true;
}
