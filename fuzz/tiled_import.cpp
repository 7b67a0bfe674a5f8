// Fuzz target: the Tiled importer over arbitrary bytes as a map file (TMX
// when they start with '<', JSON otherwise), with the importer's real bounds,
// through to the built map; nothing is written. Files the map names come from
// a file layer in memory that decides as the disk's does (ImportReadAllowed):
// tilesets and images of several sizes, a FIFO, a folder, an endless device,
// a sparse file of 2 GB. An input starting "GZ\n" is gzipped first (the
// .tmx.gz and .tmj.gz forms); text after a line "--tileset--" is served as
// the tileset files f.tsx and f.tsj.
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/tessel-map/import/tiled.h"

namespace {

std::vector<uint8_t> FuzzPng, FuzzSmallPng, FuzzHugePng, FuzzLargePng;
std::vector<uint8_t> FuzzTilesetPart;

// A w x h tileset picture: every pixel a different colour, one black row, some half-transparent.
std::vector<uint8_t> FuzzPicture(int32_t w, int32_t h) {
  std::vector<uint8_t> rgb((size_t)w * h * 3);
  for (int32_t y = 0; y < h; y++) {
    for (int32_t x = 0; x < w; x++) {
      uint8_t* p = &rgb[((size_t)y * w + x) * 3];
      p[0] = (uint8_t)(x * 4);
      p[1] = (uint8_t)(y * 5);
      p[2] = y == 7 ? 0 : (uint8_t)(x ^ y);
      if (y == 7) p[0] = p[1] = 0;
    }
  }
  std::vector<uint8_t> png;
  if (!ImportPngEncode(w, h, rgb, &png)) {
    std::fputs("fuzz_tiled_import: cannot encode a tileset picture\n", stderr);
    std::abort();
  }
  return png;
}

// A PNG that declares width x height and holds no pixels: it must be refused by its header.
std::vector<uint8_t> FuzzHeaderOnly(uint32_t width, uint32_t height) {
  std::vector<uint8_t> png = FuzzPicture(1, 1);
  for (int i = 0; i < 4; i++) {
    png[16 + (size_t)i] = (uint8_t)(width >> (24 - 8 * i));
    png[20 + (size_t)i] = (uint8_t)(height >> (24 - 8 * i));
  }
  return png;
}

const char FuzzTsx[] =
    "<?xml version=\"1.0\"?><tileset name=\"t\" tilewidth=\"16\" tileheight=\"16\" spacing=\"0\" margin=\"0\" "
    "tilecount=\"12\" columns=\"4\"><tileoffset x=\"3\" y=\"-5\"/><image source=\"a.png\"/>"
    "<tile id=\"1\"><animation><frame tileid=\"2\" duration=\"100\"/><frame tileid=\"3\" duration=\"300\"/>"
    "</animation></tile></tileset>";
const char FuzzTsj[] =
    "{\"name\":\"j\",\"tilewidth\":32,\"tileheight\":24,\"tilecount\":2,\"columns\":0,"
    "\"tiles\":[{\"id\":0,\"image\":\"b.png\"},{\"id\":1,\"image\":\"c.png\",\"x\":5,\"y\":6,\"width\":20,\"height\":30}]}";

bool FuzzEnds(const std::string& s, const char* end) {
  std::string e = end;
  return s.size() >= e.size() && s.compare(s.size() - e.size(), e.size(), e) == 0;
}

std::string FuzzBase(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Serves a file of that kind and content after the file layer's own checks.
bool FuzzServe(ImportFileKind kind, int64_t size, const std::vector<uint8_t>& content, std::vector<uint8_t>* bytes) {
  bytes->clear();
  if (!ImportReadAllowed(kind, size)) return false;
  *bytes = content;
  return true;
}

// The fake file system: what a name is decides what it holds. Every other name is missing.
bool FuzzRead(const std::string& path, std::vector<uint8_t>* bytes) {
  std::string name = FuzzBase(path);
  static const std::vector<uint8_t> none;
  if (name.rfind("fifo", 0) == 0 || name.rfind("zero", 0) == 0) return FuzzServe(ImportFileKind::Other, 0, none, bytes);
  if (name.rfind("dir", 0) == 0) return FuzzServe(ImportFileKind::Folder, 4096, none, bytes);
  if (name.rfind("sparse", 0) == 0) return FuzzServe(ImportFileKind::Regular, (int64_t)2 << 30, none, bytes);
  const std::vector<uint8_t>* content = nullptr;
  std::vector<uint8_t> text;
  if (name == "huge.png") content = &FuzzHugePng;
  else if (name == "large.png") content = &FuzzLargePng;
  else if (name == "small.png") content = &FuzzSmallPng;
  else if (FuzzEnds(name, ".png")) content = &FuzzPng;
  else if (name == "f.tsx" || name == "f.tsj") content = &FuzzTilesetPart;
  else if (FuzzEnds(name, ".tsx")) text.assign(FuzzTsx, FuzzTsx + sizeof FuzzTsx - 1);
  else if (FuzzEnds(name, ".tsj") || FuzzEnds(name, ".json")) text.assign(FuzzTsj, FuzzTsj + sizeof FuzzTsj - 1);
  else {
    errno = ENOENT;
    return false;
  }
  if (!content) content = &text;
  return FuzzServe(ImportFileKind::Regular, (int64_t)content->size(), *content, bytes);
}

std::vector<uint8_t> FuzzGzip(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out(compressBound((uLong)size) + 64);
  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (deflateInit2(&z, 1, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = (uInt)size;
  z.next_out = out.data();
  z.avail_out = (uInt)out.size();
  int rc = deflate(&z, Z_FINISH);
  out.resize(rc == Z_STREAM_END ? z.total_out : 0);
  deflateEnd(&z);
  return out;
}

int FuzzSetUp() {
  FuzzPng = FuzzPicture(64, 48);
  FuzzSmallPng = FuzzPicture(1, 1);
  FuzzLargePng = FuzzPicture(1024, 1024);
  FuzzHugePng = FuzzHeaderOnly(30000, 30000);
  return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static int ready = FuzzSetUp();
  (void)ready;
  std::string input(data, data + size);
  const std::string split = "\n--tileset--\n";
  size_t at = input.find(split);
  FuzzTilesetPart.clear();
  if (at != std::string::npos) {
    FuzzTilesetPart.assign(input.begin() + (ptrdiff_t)(at + split.size()), input.end());
    input.resize(at);
  }
  std::vector<uint8_t> bytes(input.begin(), input.end());
  if (input.rfind("GZ\n", 0) == 0) bytes = FuzzGzip(data + 3, input.size() - 3);
  TiledMap map;
  ImportReport report;
  if (!TiledMapParse(bytes, "fuzz/map", FuzzRead, &map, &report)) {
    if (report.error.empty()) std::abort();  // a failure must say why
    if (TiledTreeBytes != 0) std::abort();    // every parsed tree is gone
    return 0;
  }
  if (TiledTreeBytes != 0) std::abort();
  ImportOptions options;
  // Composed or kept apart, by the input's length. (A --hide-layer name that
  // is no layer's would end most imports before any layer is made.)
  options.layers = size % 2 == 1;
  ImportResult result;
  if (!ImportBuild(map, options, FuzzRead, &result, &report)) {
    if (report.error.empty()) std::abort();
    return 0;
  }
  if (MapFileEncode(result.map).empty()) std::abort();
  return 0;
}
