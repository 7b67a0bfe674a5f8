// Layer data of Tiled maps: CSV and base64 text, zlib, gzip and zstd
// compression (inflated to a bound, never past what the layer can hold),
// colours, relative paths and the checks both readers share.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/tessel-map/import/tiled.h"

void ImportWarn(ImportReport* report, const std::string& text) {
  if (report->warned.insert(text).second) report->warnings.push_back(text);
}

bool ImportFail(ImportReport* report, const std::string& text) {
  if (!report->failed) {
    report->failed = true;
    report->error = text;
  }
  return false;
}

bool ImportReadAllowed(ImportFileKind kind, int64_t size, int64_t limit) {
  if (kind == ImportFileKind::Folder) {
    errno = EISDIR;
    return false;
  }
  if (kind != ImportFileKind::Regular) {
    errno = ENODEV;
    return false;
  }
  if (size < 0 || size > limit) {
    errno = EFBIG;
    return false;
  }
  return true;
}

bool ImportReadDisk(const std::string& path, std::vector<uint8_t>* bytes) {
  return ImportReadDiskUpTo(path, ImportMaxFileBytes, bytes);
}

bool ImportReadDiskUpTo(const std::string& path, int64_t limit, std::vector<uint8_t>* bytes) {
  bytes->clear();
  // Without O_NONBLOCK, opening a FIFO waits for a writer that may never come.
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return false;
  }
  ImportFileKind kind = S_ISREG(st.st_mode) ? ImportFileKind::Regular
                        : S_ISDIR(st.st_mode) ? ImportFileKind::Folder
                                              : ImportFileKind::Other;
  if (!ImportReadAllowed(kind, (int64_t)st.st_size, limit)) {
    int saved = errno;
    close(fd);
    errno = saved;
    return false;
  }
  // The size is read again as the file is read: it may have grown since.
  bytes->resize((size_t)st.st_size);
  size_t have = 0;
  for (;;) {
    if (have == bytes->size()) {
      if ((int64_t)have > limit) break;
      bytes->resize(std::min<size_t>(have + 65536, (size_t)limit + 1));
    }
    ssize_t n = read(fd, bytes->data() + have, bytes->size() - have);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int saved = errno;
      close(fd);
      bytes->clear();
      errno = saved;
      return false;
    }
    if (n == 0) break;
    have += (size_t)n;
  }
  close(fd);
  bytes->resize(have);
  if ((int64_t)have > limit) {
    bytes->clear();
    bytes->shrink_to_fit();
    errno = EFBIG;
    return false;
  }
  return true;
}

std::string ImportReadProblem(int err) {
  if (err == ENODEV) return "not a regular file";
  if (err == EISDIR) return "a folder, not a file";
  if (err == EFBIG) return "larger than the importer's bound of " + std::to_string(ImportMaxFileBytes) + " bytes";
  return std::strerror(err);
}

std::string ImportFileKey(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    return "inode " + std::to_string((uint64_t)st.st_dev) + ":" + std::to_string((uint64_t)st.st_ino);
  }
  std::string key = path.size() && path[0] == '/' ? "/" : "";
  size_t i = 0;
  while (i <= path.size()) {
    size_t slash = path.find('/', i);
    if (slash == std::string::npos) slash = path.size();
    std::string part = path.substr(i, slash - i);
    if (!part.empty() && part != ".") key += (key.empty() || key == "/" ? "" : "/") + part;
    i = slash + 1;
  }
  return "path " + key;
}

std::string ImportPrintable(const std::string& text) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (char ch : text) {
    unsigned char c = (unsigned char)ch;
    if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += digits[c >> 4];
      out += digits[c & 15];
    } else {
      out += ch;
    }
  }
  return out;
}

bool TiledWhole(const char* text, int64_t lo, int64_t hi, int64_t* value) {
  const char* s = text;
  bool negative = *s == '-';
  if (negative) s++;
  if (*s < '0' || *s > '9') return false;
  // Held at a little past every bound, so overlong digits cannot wrap.
  const int64_t cap = (int64_t)1 << 62;
  int64_t v = 0;
  for (; *s >= '0' && *s <= '9'; s++) v = v >= cap / 10 ? cap : v * 10 + (*s - '0');
  if (*s != 0) return false;
  if (negative) v = -v;
  if (v < lo || v > hi) return false;
  *value = v;
  return true;
}

bool TiledReal(const char* text, double* value) {
  const char* s = text;
  if (*s == '-') s++;
  if (*s < '0' || *s > '9') return false;
  while (*s >= '0' && *s <= '9') s++;
  if (*s == '.') {
    s++;
    if (*s < '0' || *s > '9') return false;
    while (*s >= '0' && *s <= '9') s++;
  }
  if (*s == 'e' || *s == 'E') {
    s++;
    if (*s == '+' || *s == '-') s++;
    if (*s < '0' || *s > '9') return false;
    while (*s >= '0' && *s <= '9') s++;
  }
  if (*s != 0) return false;
  double v = std::strtod(text, nullptr);
  if (!std::isfinite(v)) return false;
  *value = v;
  return true;
}

void TiledLinesOf(const std::vector<uint8_t>& bytes, TiledLines* lines) {
  lines->starts.clear();
  lines->starts.push_back(0);
  for (size_t i = 0; i < bytes.size(); i++) {
    if (bytes[i] == '\n') lines->starts.push_back(i + 1);
  }
}

int32_t TiledLineAt(const TiledLines& lines, size_t offset) {
  size_t line = (size_t)(std::upper_bound(lines.starts.begin(), lines.starts.end(), offset) - lines.starts.begin());
  return (int32_t)std::min<size_t>(line, INT32_MAX);
}

bool TiledBase64(const std::string& text, std::vector<uint8_t>* out) {
  out->clear();
  out->reserve(text.size() / 4 * 3);
  uint32_t acc = 0;
  int bits = 0;
  size_t pad = 0;
  for (char c : text) {
    int v;
    if (c >= 'A' && c <= 'Z') v = c - 'A';
    else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
    else if (c >= '0' && c <= '9') v = c - '0' + 52;
    else if (c == '+') v = 62;
    else if (c == '/') v = 63;
    else if (c == '=') { pad++; continue; }
    else if (c == ' ' || c == '\n' || c == '\r' || c == '\t') continue;
    else return false;
    // Nothing but blanks may follow the padding.
    if (pad) return false;
    acc = (acc << 6) | (uint32_t)v;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out->push_back((uint8_t)(acc >> bits));
    }
  }
  // A lone leftover character holds no whole byte; more than two pads are damage.
  return bits < 6 && pad <= 2;
}

bool TiledInflate(const std::vector<uint8_t>& in, const std::string& compression, size_t limit,
                  std::vector<uint8_t>* out, std::string* problem) {
  out->clear();
  if (compression == "zstd") {
    ZSTD_DStream* stream = ZSTD_createDStream();
    if (!stream) { *problem = "out of memory"; return false; }
    ZSTD_initDStream(stream);
    std::vector<uint8_t> buffer(std::min<size_t>(limit + 1, 1 << 20) + 1);
    ZSTD_inBuffer input = {in.data(), in.size(), 0};
    size_t last = 1;
    while (input.pos < input.size || last != 0) {
      ZSTD_outBuffer output = {buffer.data(), buffer.size(), 0};
      size_t before = input.pos;
      last = ZSTD_decompressStream(stream, &output, &input);
      if (ZSTD_isError(last)) {
        ZSTD_freeDStream(stream);
        *problem = std::string("damaged zstd data (") + ZSTD_getErrorName(last) + ")";
        return false;
      }
      out->insert(out->end(), buffer.data(), buffer.data() + output.pos);
      if (out->size() > limit) {
        ZSTD_freeDStream(stream);
        *problem = "the zstd data inflates past what the layer holds";
        return false;
      }
      if (output.pos == 0 && input.pos == before) break;  // no progress: truncated
    }
    ZSTD_freeDStream(stream);
    if (last != 0) { *problem = "truncated zstd data"; return false; }
    return true;
  }
  z_stream z;
  std::memset(&z, 0, sizeof z);
  // zlib: 15 window bits with the zlib header; gzip: 16 + 15 for the gzip header.
  int windowBits = compression == "gzip" ? 16 + 15 : 15;
  if (inflateInit2(&z, windowBits) != Z_OK) { *problem = "out of memory"; return false; }
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = (uInt)in.size();
  std::vector<uint8_t> buffer(1 << 16);
  int rc = Z_OK;
  while (rc != Z_STREAM_END) {
    z.next_out = buffer.data();
    z.avail_out = (uInt)buffer.size();
    rc = inflate(&z, Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END) {
      inflateEnd(&z);
      *problem = rc == Z_BUF_ERROR ? "truncated " + compression + " data" : "damaged " + compression + " data";
      return false;
    }
    out->insert(out->end(), buffer.data(), buffer.data() + (buffer.size() - z.avail_out));
    if (out->size() > limit) {
      inflateEnd(&z);
      *problem = "the " + compression + " data inflates past what the layer holds";
      return false;
    }
  }
  inflateEnd(&z);
  return true;
}

bool TiledDecodeData(const std::string& text, const std::string& encoding, const std::string& compression,
                     int64_t count, std::vector<uint32_t>* cells, std::string* problem) {
  cells->clear();
  if (encoding == "csv") {
    if (!compression.empty()) { *problem = "CSV data cannot be compressed"; return false; }
    cells->reserve((size_t)count);
    size_t i = 0, n = text.size();
    while (i < n) {
      while (i < n && (text[i] == ' ' || text[i] == '\n' || text[i] == '\r' || text[i] == '\t')) i++;
      if (i >= n) break;
      uint64_t v = 0;
      size_t digits = 0;
      while (i < n && text[i] >= '0' && text[i] <= '9') {
        v = v * 10 + (uint64_t)(text[i] - '0');
        if (v > 0xFFFFFFFFull) { *problem = "a CSV cell is past 32 bits"; return false; }
        i++;
        digits++;
      }
      if (digits == 0) { *problem = std::string("unexpected '") + text[i] + "' in CSV data"; return false; }
      if ((int64_t)cells->size() >= count) {
        *problem = "the CSV data has more than the layer's " + std::to_string(count) + " cells";
        return false;
      }
      cells->push_back((uint32_t)v);
      while (i < n && (text[i] == ' ' || text[i] == '\n' || text[i] == '\r' || text[i] == '\t')) i++;
      if (i < n) {
        if (text[i] != ',') { *problem = std::string("unexpected '") + text[i] + "' in CSV data"; return false; }
        i++;
      }
    }
    if ((int64_t)cells->size() != count) {
      *problem = "the CSV data has " + std::to_string(cells->size()) + " cells, the layer " + std::to_string(count);
      return false;
    }
    return true;
  }
  if (encoding != "base64") { *problem = "unknown data encoding \"" + encoding + "\""; return false; }
  std::vector<uint8_t> raw;
  if (!TiledBase64(text, &raw)) { *problem = "bad base64 data"; return false; }
  size_t expected = (size_t)count * 4;
  std::vector<uint8_t> bytes;
  if (compression.empty()) {
    bytes.swap(raw);
  } else if (compression == "zlib" || compression == "gzip" || compression == "zstd") {
    if (!TiledInflate(raw, compression, expected, &bytes, problem)) return false;
  } else {
    *problem = "unknown compression \"" + compression + "\"";
    return false;
  }
  if (bytes.size() != expected) {
    *problem = "the layer data holds " + std::to_string(bytes.size() / 4) + " cells, the layer " +
               std::to_string(count);
    return false;
  }
  cells->resize((size_t)count);
  for (size_t k = 0; k < (size_t)count; k++) {
    const uint8_t* b = &bytes[k * 4];
    (*cells)[k] = (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24;
  }
  return true;
}

bool TiledColour(const std::string& text, uint32_t* argb) {
  std::string s = text;
  if (!s.empty() && s[0] == '#') s = s.substr(1);
  if (s.size() != 6 && s.size() != 8) return false;
  uint32_t v = 0;
  for (char c : s) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    v = v << 4 | (uint32_t)d;
  }
  if (s.size() == 6) v |= 0xFF000000u;
  *argb = v;
  return true;
}

std::string TiledResolve(const std::string& base, const std::string& name) {
  if (name.empty() || name[0] == '/') return name;
  size_t slash = base.rfind('/');
  if (slash == std::string::npos) return name;
  return base.substr(0, slash + 1) + name;
}

bool TiledTilesetCheck(TiledTileset* t, ImportReport* report) {
  // firstgid belongs to the map and is checked where the map gives it.
  const std::string& w = t->where;
  if (t->tileWidth <= 0 || t->tileHeight <= 0 || t->tileWidth > TiledMaxTileSize ||
      t->tileHeight > TiledMaxTileSize) {
    if (t->image.source.empty() && t->tileWidth >= 0 && t->tileHeight >= 0 && t->tileWidth <= TiledMaxTileSize &&
        t->tileHeight <= TiledMaxTileSize) {
      // Image collections may leave the tile size out: each tile has its own.
    } else {
      return ImportFail(report, w + ": tile size " + std::to_string(t->tileWidth) + "x" +
                                    std::to_string(t->tileHeight) + " is out of range (1 to " +
                                    std::to_string(TiledMaxTileSize) + ")");
    }
  }
  if (t->spacing < 0 || t->margin < 0 || t->spacing > TiledMaxImageSide || t->margin > TiledMaxImageSide) {
    return ImportFail(report, w + ": negative or absurd spacing or margin");
  }
  if (t->tileCount < 0 || t->columns < 0) return ImportFail(report, w + ": negative tile count or columns");
  std::sort(t->tiles.begin(), t->tiles.end(), [](const TiledTile& a, const TiledTile& b) { return a.id < b.id; });
  for (size_t k = 0; k < t->tiles.size(); k++) {
    const TiledTile& tile = t->tiles[k];
    if (tile.id < 0) return ImportFail(report, w + ": negative tile id " + std::to_string(tile.id));
    if (k > 0 && t->tiles[k - 1].id == tile.id) {
      return ImportFail(report, w + ": tile id " + std::to_string(tile.id) + " is given twice");
    }
    for (const TiledFrame& f : tile.animation) {
      if (f.tileId < 0) return ImportFail(report, w + ": animation frame with negative tile id");
    }
  }
  return true;
}

bool TiledCellBudget(TiledMap* map, int64_t cells, const std::string& where, ImportReport* report) {
  if (cells < 0 || cells > TiledMaxLayerCells) {
    return ImportFail(report, where + ": a layer of " + std::to_string(cells) + " cells is past the importer's " +
                                  std::to_string(TiledMaxLayerCells));
  }
  map->cellCount += cells;
  if (map->cellCount > TiledMaxTotalCells) {
    return ImportFail(report, where + ": the layers hold more than the importer's " +
                                  std::to_string(TiledMaxTotalCells) + " cells");
  }
  return true;
}

bool TiledChunkBudget(TiledMap* map, int64_t chunkCells, int64_t boxCells, const std::string& where,
                      ImportReport* report) {
  // Every chunk is decoded, so overlapping chunks count each time they come.
  if (chunkCells > TiledMaxLayerCells) {
    return ImportFail(report, where + ": the chunks hold " + std::to_string(chunkCells) +
                                  " cells, past the importer's bound of " + std::to_string(TiledMaxLayerCells) +
                                  " cells a layer");
  }
  return TiledCellBudget(map, std::max(chunkCells, boxCells), where, report);
}

bool TiledChunkPlace(TiledLayer* layer, const TiledChunk& chunk, const std::vector<uint32_t>& cells) {
  if ((int64_t)cells.size() != (int64_t)chunk.width * chunk.height) return false;
  int64_t col0 = (int64_t)chunk.x - layer->cellX, row0 = (int64_t)chunk.y - layer->cellY;
  if (col0 < 0 || row0 < 0 || col0 + chunk.width > layer->width || row0 + chunk.height > layer->height ||
      layer->cells.size() != (size_t)layer->width * (size_t)layer->height) {
    return false;
  }
  for (int64_t r = 0; r < chunk.height; r++) {
    for (int64_t c = 0; c < chunk.width; c++) {
      uint32_t v = cells[(size_t)(r * chunk.width + c)];
      if (v) layer->cells[(size_t)((row0 + r) * layer->width + col0 + c)] = v;
    }
  }
  return true;
}

bool TiledChunkBox(const std::vector<TiledChunk>& chunks, TiledLayer* layer, std::string* problem) {
  int64_t x0 = INT64_MAX, y0 = INT64_MAX, x1 = INT64_MIN, y1 = INT64_MIN;
  for (const TiledChunk& ch : chunks) {
    x0 = std::min<int64_t>(x0, ch.x);
    y0 = std::min<int64_t>(y0, ch.y);
    x1 = std::max<int64_t>(x1, (int64_t)ch.x + ch.width);
    y1 = std::max<int64_t>(y1, (int64_t)ch.y + ch.height);
  }
  if (chunks.empty()) {
    layer->width = layer->height = 0;
    return true;
  }
  if (x1 - x0 > INT32_MAX || y1 - y0 > INT32_MAX || (x1 - x0) * (y1 - y0) > TiledMaxLayerCells) {
    *problem = "the chunks span more than the importer's " + std::to_string(TiledMaxLayerCells) + " cells";
    return false;
  }
  layer->cellX = (int32_t)x0;
  layer->cellY = (int32_t)y0;
  layer->width = (int32_t)(x1 - x0);
  layer->height = (int32_t)(y1 - y0);
  return true;
}

bool TiledMapParse(const std::vector<uint8_t>& bytes, const std::string& path, ImportReadFile read,
                   TiledMap* map, ImportReport* report) {
  std::vector<uint8_t> text;
  const std::vector<uint8_t>* data = &bytes;
  // .tmx.gz: a gzip stream around the map.
  if (bytes.size() >= 2 && bytes[0] == 0x1F && bytes[1] == 0x8B) {
    std::string problem;
    if (!TiledInflate(bytes, "gzip", (size_t)ImportMaxFileBytes, &text, &problem)) {
      if (text.size() > (size_t)ImportMaxFileBytes) {
        problem = "the gzipped map inflates past the importer's bound of " + std::to_string(ImportMaxFileBytes) +
                  " bytes";
      }
      return ImportFail(report, problem);
    }
    data = &text;
  }
  size_t i = 0;
  if (data->size() >= 3 && (*data)[0] == 0xEF && (*data)[1] == 0xBB && (*data)[2] == 0xBF) i = 3;
  while (i < data->size() && ((*data)[i] == ' ' || (*data)[i] == '\n' || (*data)[i] == '\r' || (*data)[i] == '\t')) {
    i++;
  }
  bool ok = i < data->size() && (*data)[i] == '<' ? TiledTmxParse(*data, path, read, map, report)
                                                  : TiledJsonParse(*data, path, read, map, report);
  // Cells find their tileset by firstgid, whatever order the file lists them in.
  std::stable_sort(map->tilesets.begin(), map->tilesets.end(),
                   [](const TiledTileset& a, const TiledTileset& b) { return a.firstGid < b.firstGid; });
  return ok;
}
