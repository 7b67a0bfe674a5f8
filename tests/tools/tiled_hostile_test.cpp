// `tessel-map import` against hostile files: numbers spelled to be read two
// ways, sizes that ask for more memory than a machine has, files that never
// end, one image under many names, inputs that cost quadratic time, outputs
// that cannot be written, and text meant for the terminal. Every file is made
// here, the large ones streamed or sparse. Each run is the real tool as a
// child: it ends in exit code 2 with one error line (or 0 where the file is
// valid) within seconds, its peak memory stays under 1 GB, and a refused
// import leaves the output folder as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/tools/tiled_harness.h"
#include "tests/tools/tiled_maps.h"

namespace tiled {
namespace {

#ifdef TESSEL_SANITIZE
// AddressSanitizer keeps freed memory in quarantine and adds shadow memory and
// redzones, and the Debug build runs several times slower: the figures of a
// sanitized run say nothing of the tool's own bounds, so they are scaled.
constexpr double kSlower = 8;
constexpr double kFatter = 3;
// Drawing every cell of the largest layers the bounds allow takes minutes
// there, unoptimised: the sanitized run draws a sixteenth of them.
constexpr int32_t kMostCellsSide = 1024;
#else
constexpr double kSlower = 1;
constexpr double kFatter = 1;
constexpr int32_t kMostCellsSide = 4096;
#endif
constexpr double kSeconds = 10;
constexpr long kMegabytes = 1024;

std::string Lower(std::string text) {
  for (char& c : text) c = (char)std::tolower((unsigned char)c);
  return text;
}

// A PNG chunk: length, type, data and the CRC of type and data.
std::string PngChunk(const std::string& type, const std::string& data) {
  std::string out;
  uint32_t n = (uint32_t)data.size();
  for (int i = 3; i >= 0; i--) out += (char)(n >> (8 * i));
  std::string body = type + data;
  out += body;
  uint32_t crc = (uint32_t)crc32(0, (const Bytef*)body.data(), (uInt)body.size());
  for (int i = 3; i >= 0; i--) out += (char)(crc >> (8 * i));
  return out;
}

// Rows of one RGBA pixel value, zlib-compressed as they are made.
std::string SolidRows(uint32_t width, uint32_t height, uint32_t rgba) {
  std::string row(1, '\0');
  for (uint32_t x = 0; x < width; x++) {
    for (int i = 3; i >= 0; i--) row += (char)(rgba >> (8 * i));
  }
  z_stream z;
  std::memset(&z, 0, sizeof z);
  deflateInit(&z, 1);
  std::string out;
  std::vector<unsigned char> buffer(1 << 16);
  for (uint32_t y = 0; y <= height; y++) {
    z.next_in = (Bytef*)row.data();
    z.avail_in = y < height ? (uInt)row.size() : 0;
    int flush = y < height ? Z_NO_FLUSH : Z_FINISH;
    int rc;
    do {
      z.next_out = buffer.data();
      z.avail_out = (uInt)buffer.size();
      rc = deflate(&z, flush);
      out.append((const char*)buffer.data(), buffer.size() - z.avail_out);
    } while (z.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
  }
  deflateEnd(&z);
  return out;
}

// An RGBA PNG of one colour (transparent unless given) of any size, a few KB
// however large; with pixels false, only its header says how large.
std::string ClearPng(uint32_t width, uint32_t height, bool pixels = true, uint32_t rgba = 0) {
  std::string header;
  for (uint32_t v : {width, height}) {
    for (int i = 3; i >= 0; i--) header += (char)(v >> (8 * i));
  }
  header += std::string("\x08\x06\x00\x00\x00", 5);
  std::string data = pixels ? SolidRows(width, height, rgba) : "";
  return std::string("\x89PNG\r\n\x1a\n", 8) + PngChunk("IHDR", header) + PngChunk("IDAT", data) +
         PngChunk("IEND", "");
}

// What one hostile case runs: the source, the output folder, more arguments,
// a shell prefix (limits the tool runs under) and the folder that must stay
// as it was ("": the output folder).
struct HostileRun {
  std::string source, dir, args, prefix, watch;
};

struct Hostile {
  std::string what;
  std::function<HostileRun()> make;
  int code;                         // 2: refused; 0: imported
  std::vector<std::string> words;   // in the error line (any case)
  std::vector<std::string> absent;  // not in it
};

class TiledHostileTest : public TiledTest {
 protected:
  void SetUp() override {
    TiledTest::SetUp();
    plan_.name = "tiles";
    tileset_ = TilesetWrite(dir_, plan_);
    std::string tsx = tileset_;
    tsx.erase(tsx.find(" firstgid=\"1\""), 13);
    Spit(dir_ + "/tiles.tsx", "<?xml version=\"1.0\"?>\n" + tsx);
    Random random{5};
    cells_ = RandomCells(&random, 64, 1, 16, 20, false);
    out_ = dir_ + "/out";
    Spit(dir_ + "/earlier.tmx", Map(LayerXml("ground", 8, 8, cells_, "csv")));
    ToolRun earlier = Import(dir_ + "/earlier.tmx", out_);
    ASSERT_EQ(earlier.code, 0) << earlier.err;
  }

  std::string Map(const std::string& layers, const std::string& attributes = "") {
    return MapXml(8, 8, 16, 16, tileset_ + layers, attributes);
  }

  // Writes a map file and runs it into the usual output folder.
  HostileRun Write(const std::string& name, const std::string& text) {
    Spit(dir_ + "/" + name, text);
    return {dir_ + "/" + name, out_, "", "", ""};
  }

  // Everything under a folder (hidden files too) with checksums; "missing" when it is not there.
  std::string Listing(const std::string& dir) {
    struct stat st;
    if (stat(dir.c_str(), &st) != 0) return "missing";
    return Shell("cd " + Quote(dir) + " && find . -print0 | sort -z | xargs -0 md5sum 2>&1").out;
  }

  void Check(const Hostile& c) {
    SCOPED_TRACE(c.what);
    HostileRun r = c.make();
    std::string watch = r.watch.empty() ? r.dir : r.watch;
    std::string before = Listing(watch);
    ToolRun run = Shell(r.prefix + std::string(TESSEL_BINARY_DIR) + "/tessel-map import " + Quote(r.source) +
                        " -o " + Quote(r.dir) + (r.args.empty() ? "" : " " + r.args));
    EXPECT_EQ(run.code, c.code) << run.err;
    if (c.code == 2) {
      // Warnings may come first; one error line ends the output.
      size_t last = run.err.rfind('\n', run.err.size() >= 2 ? run.err.size() - 2 : 0);
      std::string line = run.err.substr(last == std::string::npos || run.err.size() < 2 ? 0 : last + 1);
      EXPECT_EQ(line.rfind(r.source + ": error: ", 0), 0u) << run.err;
      EXPECT_EQ(run.err.find(": error: "), run.err.rfind(": error: ")) << "one error line\n" << run.err;
      EXPECT_EQ(run.err.back(), '\n') << run.err;
      EXPECT_EQ(Listing(watch), before) << "the output folder changed";
    }
    for (const std::string& word : c.words) {
      EXPECT_NE(Lower(run.err).find(Lower(word)), std::string::npos) << "no \"" << word << "\" in\n" << run.err;
    }
    for (const std::string& word : c.absent) {
      EXPECT_EQ(run.err.find(word), std::string::npos) << "\"" << word << "\" in\n" << run.err;
    }
    EXPECT_TRUE(std::none_of(run.err.begin(), run.err.end(),
                             [](char ch) { return ch != '\n' && ((unsigned char)ch < 0x20 || ch == 0x7F); }))
        << "a raw control character in\n" << run.err;
    // TESSEL_HOSTILE_FIGURES=1 prints each case's time and peak memory (the fork counts this test's own).
    if (getenv("TESSEL_HOSTILE_FIGURES")) {
      std::printf("%-60s %6.2f s %7ld KB\n", c.what.c_str(), run.seconds, run.maxRssKb);
    }
    EXPECT_LT(run.seconds, kSeconds * kSlower);
    EXPECT_LT(run.maxRssKb, (long)(kMegabytes * 1024 * kFatter)) << "peak memory";
  }

  TilesetPlan plan_;
  std::string tileset_;
  std::vector<uint32_t> cells_;
  std::string out_;
};

TEST_F(TiledHostileTest, HostileFilesEndQuicklyInBoundedMemoryAndLeaveTheFolderAsItWas) {
  std::vector<Hostile> cases;
  const std::string csv = TmxData(cells_, "csv");
  const std::string tileRef = "<tileset firstgid=\"1\" source=\"tiles.tsx\"/>\n";
  auto json = [&](const std::string& map, const std::string& layer) {
    return "{\"orientation\":\"orthogonal\",\"renderorder\":\"right-down\",\"tilewidth\":16,\"tileheight\":16," + map +
           "\"tilesets\":[{\"firstgid\":1,\"source\":\"tiles.tsx\"}],\"layers\":[{\"name\":\"g\"," + layer + "}]}";
  };

  // Numbers: one rule for every whole number; the spellings another reader might take are refused.
  cases.push_back({"a chunk at x=1e1", [&] {
                     return Write("chunk-1e1.tmx",
                                  Map("<layer name=\"g\" width=\"8\" height=\"8\"><data encoding=\"csv\">"
                                      "<chunk x=\"1e1\" y=\"0\" width=\"1\" height=\"1\">1</chunk></data></layer>\n",
                                      "infinite=\"1\""));
                   }, 2, {"x=\"1e1\"", "whole number"}, {}});
  for (const char* spelling : {"1e1", "0x10", "1.5", "+3", " 4", "99999999999", "-99999999999999999999999"}) {
    cases.push_back({std::string("a layer width of \"") + spelling + "\"", [&, spelling] {
                       std::string map = Map(LayerXml("g", 8, 8, cells_, "csv"));
                       map.replace(map.find("width=\"8\" height=\"8\">"), 9, std::string("width=\"") + spelling + "\"");
                       return Write("width.tmx", map);
                     }, 2, {"whole number"}, {}});
  }
  cases.push_back({"a JSON chunk at x 1e1", [&] {
                     return Write("chunk.tmj", json("\"infinite\":true,\"width\":8,\"height\":8,",
                                                    "\"type\":\"tilelayer\",\"chunks\":[{\"x\":1e1,\"y\":0,\"width\":1,"
                                                    "\"height\":1,\"data\":[1]}]"));
                   }, 2, {"whole number"}, {}});

  // Sizes the file declares are bounded before anything of that size is made.
  cases.push_back({"a fixed image layer over 100 x 100 cells of 4096 pixels", [&] {
                     return Write("background.tmx",
                                  MapXml(100, 100, 4096, 4096,
                                         "<imagelayer name=\"sky\" parallaxx=\"0\" parallaxy=\"0\"><image "
                                         "source=\"tiles.png\"/></imagelayer>\n"));
                   }, 2, {"bound"}, {}});
  cases.push_back({"a 32768 x 32768 rectangle of a 1 x 1 image", [&] {
                     Spit(dir_ + "/dot.png", ClearPng(1, 1));
                     return Write("rectangle.tmx",
                                  MapXml(8, 8, 16, 16,
                                         "<tileset firstgid=\"1\" name=\"c\" tilewidth=\"16\" tileheight=\"16\">"
                                         "<tile id=\"0\" x=\"0\" y=\"0\" width=\"32768\" height=\"32768\"><image "
                                         "source=\"dot.png\"/></tile></tileset>\n" +
                                             LayerXml("g", 8, 8, std::vector<uint32_t>(64, 1), "csv")));
                   }, 2, {"reaches past its image"}, {}});
  cases.push_back({"60 tile objects of 4096 pixels on a 4096-pixel grid", [&] {
                     std::string objects = "<objectgroup name=\"things\">\n";
                     for (int i = 0; i < 60; i++) {
                       objects += "<object gid=\"" + std::to_string(1 + i % 16) + "\" x=\"" + std::to_string(i * 4096) +
                                  "\" y=\"4096\" width=\"4096\" height=\"4096\"/>\n";
                     }
                     return Write("pieces.tmx", MapXml(60, 1, 4096, 4096, tileset_ + objects + "</objectgroup>\n"));
                   }, 2, {"bound"}, {}});
  cases.push_back({"a .tmj.gz inflating to 256 MB", [&] {
                     return Write("bomb.tmj.gz", CompressZeros(256u << 20, "gzip"));
                   }, 2, {"bound of 33554432 bytes"}, {}});
  cases.push_back({"a tileset image of 30000 x 30000", [&] {
                     Spit(dir_ + "/vast.png", ClearPng(30000, 30000, false));
                     std::string map = Map(LayerXml("g", 8, 8, cells_, "csv"));
                     map.replace(map.find("tiles.png"), 9, "vast.png");
                     return Write("vast.tmx", map);
                   }, 2, {"30000x30000", "bound"}, {}});
  cases.push_back({"an XML tree of 8 million elements in a .tmx.gz", [&] {
                     std::string text = Map("");
                     std::string filler;
                     filler.reserve(32u << 20);
                     while (filler.size() < (31u << 20)) filler += "<a/><a/><a/><a/><a/><a/><a/><a/>";
                     text.insert(text.find("</map>"), filler);
                     return Write("nodes.tmx.gz", Compress(text, "gzip"));
                   }, 2, {"bound of 268435456 bytes"}, {}});

  // Reads: regular files of bounded size only.
  cases.push_back({"a tileset that is /dev/zero", [&] {
                     return Write("zero.tmx", MapXml(8, 8, 16, 16,
                                                     "<tileset firstgid=\"1\" source=\"/dev/zero\"/>\n" +
                                                         LayerXml("g", 8, 8, cells_, "csv")));
                   }, 2, {"/dev/zero", "not a regular file"}, {}});
  cases.push_back({"an image that is /dev/urandom", [&] {
                     std::string map = Map(LayerXml("g", 8, 8, cells_, "csv"));
                     map.replace(map.find("tiles.png"), 9, "/dev/urandom");
                     return Write("urandom.tmx", map);
                   }, 2, {"/dev/urandom", "not a regular file"}, {}});
  cases.push_back({"a sparse map of 2 GB", [&] {
                     Spit(dir_ + "/sparse.tmx", Map(""));
                     EXPECT_EQ(truncate((dir_ + "/sparse.tmx").c_str(), (off_t)2 << 30), 0);
                     return HostileRun{dir_ + "/sparse.tmx", out_, "", "", ""};
                   }, 2, {"bound of 33554432 bytes"}, {}});
  cases.push_back({"a map that is a FIFO", [&] {
                     mkfifo((dir_ + "/fifo.tmx").c_str(), 0644);
                     return HostileRun{dir_ + "/fifo.tmx", out_, "", "", ""};
                   }, 2, {"not a regular file"}, {}});
  cases.push_back({"a tileset that is a FIFO", [&] {
                     mkfifo((dir_ + "/fifo.tsx").c_str(), 0644);
                     return Write("fifo-tileset.tmx",
                                  MapXml(8, 8, 16, 16, "<tileset firstgid=\"1\" source=\"fifo.tsx\"/>\n" +
                                                           LayerXml("g", 8, 8, cells_, "csv")));
                   }, 2, {"fifo.tsx", "not a regular file"}, {}});

  // One image named twelve ways is decoded once (8192 x 8192: 256 MB each time it is).
  cases.push_back({"one large image under twelve names", [&] {
                     Spit(dir_ + "/large.png", ClearPng(8192, 8192));
                     std::string layers, path = "large.png";
                     for (int i = 0; i < 12; i++, path = "./" + path) {
                       layers += "<imagelayer name=\"i" + std::to_string(i) + "\"><image source=\"" + path +
                                 "\"/></imagelayer>\n";
                     }
                     return Write("names.tmx", MapXml(8, 8, 16, 16, layers));
                   }, 0, {}, {}});

  // Time: every chunk counts, and line numbers are found once.
  std::string zstd = Base64(CompressZeros((size_t)4096 * 4096 * 4, "zstd"));
  cases.push_back({"50 zstd chunks of 16 million cells in one place", [&] {
                     std::string chunks;
                     for (int i = 0; i < 50; i++) {
                       chunks += "<chunk x=\"0\" y=\"0\" width=\"4096\" height=\"4096\">" + zstd + "</chunk>";
                     }
                     return Write("chunks.tmx",
                                  Map("<layer name=\"g\" width=\"8\" height=\"8\"><data encoding=\"base64\" "
                                      "compression=\"zstd\">" + chunks + "</data></layer>\n", "infinite=\"1\""));
                   }, 2, {"chunks hold", "bound"}, {}});
  cases.push_back({"50 zstd chunks in JSON", [&] {
                     std::string chunks;
                     for (int i = 0; i < 50; i++) {
                       chunks += std::string(i ? "," : "") + "{\"x\":0,\"y\":0,\"width\":4096,\"height\":4096,\"data\":\"" +
                                 zstd + "\"}";
                     }
                     return Write("chunks.tmj", json("\"infinite\":true,\"width\":8,\"height\":8,",
                                                     "\"type\":\"tilelayer\",\"encoding\":\"base64\",\"compression\":"
                                                     "\"zstd\",\"chunks\":[" + chunks + "]"));
                   }, 2, {"chunks hold", "bound"}, {}});
  cases.push_back({"100000 objects", [&] {
                     std::string objects = "<objectgroup name=\"things\">\n";
                     for (int i = 0; i < 100000; i++) {
                       objects += "<object id=\"" + std::to_string(i + 1) + "\" x=\"1\" y=\"2\" width=\"3\" height=\"4\"/>\n";
                     }
                     return Write("objects.tmx", Map(LayerXml("g", 8, 8, cells_, "csv") + objects + "</objectgroup>\n"));
                   }, 0, {}, {}});
  cases.push_back({"50000 layers", [&] {
                     std::string layers = LayerXml("g", 8, 8, cells_, "csv");
                     for (int i = 0; i < 50000; i++) layers += "<objectgroup name=\"o" + std::to_string(i) + "\"/>\n";
                     return Write("layers.tmx", Map(layers));
                   }, 0, {}, {}});

  cases.push_back({"a repeated image over 16 million cells of 1 pixel", [&] {
                     Spit(dir_ + "/clear.png", ClearPng(4096, 4096));
                     return Write("repeat.tmx", MapXml(4096, 4096, 1, 1,
                                                       "<imagelayer name=\"r\" repeatx=\"1\" repeaty=\"1\"><image "
                                                       "source=\"clear.png\"/></imagelayer>\n"));
                   }, 0, {}, {}});

  cases.push_back({"100000 tile objects of 2048 pixels beside the map", [&] {
                     Spit(dir_ + "/solid.png", ClearPng(2048, 2048, true, 0x102030FF));
                     std::string objects = "<objectgroup name=\"things\">\n";
                     for (int i = 0; i < 100000; i++) {
                       objects += "<object gid=\"1\" x=\"" + std::to_string(-4096 - (i % 50) * 16) + "\" y=\"" +
                                  std::to_string(2048 + (i % 64) * 16) + "\"/>\n";
                     }
                     return Write("beside.tmx", MapXml(64, 64, 16, 16,
                                                       "<tileset firstgid=\"1\" name=\"c\" tilewidth=\"2048\" "
                                                       "tileheight=\"2048\"><tile id=\"0\"><image "
                                                       "source=\"solid.png\"/></tile></tileset>\n" +
                                                           objects + "</objectgroup>\n"));
                   }, 2, {"bound of 268435456 cells"}, {}});

  // A failed import takes back what it made.
  cases.push_back({"Maps/NAME is a folder", [&] {
                     mkdir((out_ + "/Maps/folder").c_str(), 0755);
                     TilesetPlan other = plan_;
                     other.name = "other";
                     other.seed = 9;
                     return Write("folder.tmx", MapXml(8, 8, 16, 16, TilesetWrite(dir_, other) +
                                                                         LayerXml("g", 8, 8, cells_, "csv")));
                   }, 2, {"Maps/folder", "not a file"}, {}});
  cases.push_back({"writes that fail, into a folder the import made", [&] {
                     Random random{11};
                     HostileRun r = Write("fresh.tmx", MapXml(64, 64, 16, 16, tileset_ + LayerXml(
                         "g", 64, 64, RandomCells(&random, 4096, 1, 16, 20, false), "csv")));
                     r.dir = dir_ + "/fresh/deeper";
                     r.watch = dir_ + "/fresh";
                     // Files may not grow past 512 bytes (the error line fits), and the map's
                     // 8 KB of cells do not; the write fails with EFBIG instead of a signal.
                     r.prefix = "trap '' XFSZ; ulimit -f 1; ";
                     return r;
                   }, 2, {"cannot write", "File too large"}, {}});

  // The most cells the bounds let through, every one drawn: valid, and still within time and memory.
  cases.push_back({"four layers of the most cells a layer may hold", [&] {
                     const size_t cells = (size_t)kMostCellsSide * kMostCellsSide;
                     const std::string side = std::to_string(kMostCellsSide);
                     std::string data;
                     {
                       std::string ones;
                       ones.reserve(cells * 4);
                       for (size_t k = 0; k < cells; k++) ones.append("\x01\0\0\0", 4);
                       data = "<data encoding=\"base64\" compression=\"zlib\">" + Base64(Compress(ones, "zlib")) +
                              "</data>";
                     }
                     std::string layers;
                     for (int i = 0; i < 4; i++) {
                       layers += "<layer name=\"l" + std::to_string(i) + "\" width=\"" + side + "\" height=\"" + side +
                                 "\">" + data + "</layer>\n";
                     }
                     return Write("most-cells.tmx", MapXml(kMostCellsSide, kMostCellsSide, 16, 16, tileset_ + layers));
                   }, 0, {}, {}});

  // Messages that say what happened.
  cases.push_back({"a layer of 4095 x 4096 cells", [&] {
                     std::string data = "<data encoding=\"base64\" compression=\"zlib\">" +
                                        Base64(CompressZeros((size_t)4095 * 4096 * 4, "zlib")) + "</data>";
                     return Write("large-layer.tmx",
                                  MapXml(4095, 4096, 16, 16,
                                         tileset_ + "<layer name=\"g\" width=\"4095\" height=\"4096\">" + data +
                                             "</layer>\n"));
                   }, 0, {}, {}});
  cases.push_back({"a firstgid past the bounds, in the map", [&] {
                     return Write("firstgid.tmx",
                                  MapXml(8, 8, 16, 16, "<tileset firstgid=\"268435456\" source=\"tiles.tsx\"/>\n" +
                                                           LayerXml("g", 8, 8, cells_, "csv")));
                   }, 2, {"line 3", "firstgid"}, {"tiles.tsx"}});
  cases.push_back({"a layer name of escape sequences", [&] {
                     std::vector<uint32_t> past = cells_;
                     past[3] = 99;
                     return Write("escape.tmx", Map(LayerXml("\x1b]0;owned\x07\x1b[2J", 8, 8, past, "csv")));
                   }, 2, {"\\x1b]0;owned\\x07\\x1b[2J"}, {}});
  for (const char* name : {"", "a\rb", "a\tb", "-x", ".x"}) {
    cases.push_back({std::string("--name ") + Quote(name), [&, name] {
                       HostileRun r = Write("named.tmx", Map(LayerXml("g", 8, 8, cells_, "csv")));
                       r.args = "--name " + Quote(name);
                       return r;
                     }, 2, {"map name"}, {}});
  }
  cases.push_back({"a name of 250 characters", [&] {
                     HostileRun r = Write("long.tmx", Map(LayerXml("g", 8, 8, cells_, "csv")));
                     r.args = "--name " + std::string(250, 'n');
                     return r;
                   }, 0, {}, {}});
  cases.push_back({"-o below a file", [&] {
                     HostileRun r = Write("below.tmx", Map(LayerXml("g", 8, 8, cells_, "csv")));
                     r.dir = "/dev/null/x";
                     return r;
                   }, 2, {"not a directory"}, {"File exists"}});

  for (const Hostile& c : cases) Check(c);
}

TEST_F(TiledHostileTest, TemporaryFilesOfDeadImportsAreRemovedByTheNext) {
  // Left by a killed import (of either naming), and one of a live process (this test).
  std::string live = out_ + "/Tiles/.tmp-" + std::to_string(getpid()) + "-0";
  std::vector<std::string> dead = {out_ + "/Maps/.tmp-999999999-0", out_ + "/Tiles/.tmp-999999999-3",
                                   out_ + "/Maps/.earlier.tmp-999999999"};
  for (const std::string& path : dead) Spit(path, "half");
  Spit(live, "busy");
  Spit(dir_ + "/next.tmx", Map(LayerXml("g", 8, 8, cells_, "csv")));
  ToolRun run = Import(dir_ + "/next.tmx", out_);
  ASSERT_EQ(run.code, 0) << run.err;
  for (const std::string& path : dead) EXPECT_NE(access(path.c_str(), F_OK), 0) << path;
  EXPECT_EQ(access(live.c_str(), F_OK), 0);
}

TEST_F(TiledHostileTest, BuildAndDumpReadOnlyRegularFiles) {
  mkfifo((dir_ + "/fifo").c_str(), 0644);
  const std::string tool = std::string(TESSEL_BINARY_DIR) + "/tessel-map ";
  for (const std::string& command : {"build " + Quote(dir_ + "/fifo") + " -o " + Quote(dir_ + "/x"),
                                     std::string("build /dev/zero -o ") + Quote(dir_ + "/x"),
                                     "dump " + Quote(dir_ + "/fifo"), std::string("dump /dev/zero")}) {
    ToolRun run = Shell(tool + command);
    EXPECT_EQ(run.code, 2) << command;
    EXPECT_NE(run.err.find("not a regular file"), std::string::npos) << command << "\n" << run.err;
    EXPECT_LT(run.seconds, kSeconds * kSlower) << command;
  }
}

}  // namespace
}  // namespace tiled
