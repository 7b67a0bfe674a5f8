// The tools, images and map text that the tests of `tessel-map import` share.
#include "tests/tools/tiled_harness.h"

#include <fcntl.h>
#include <png.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace tiled {

Image ImageMake(int32_t width, int32_t height, uint32_t rgba) {
  Image image;
  image.width = width;
  image.height = height;
  image.rgba.resize((size_t)width * (size_t)height * 4);
  for (size_t i = 0; i < image.rgba.size(); i += 4) {
    image.rgba[i] = (uint8_t)(rgba >> 24);
    image.rgba[i + 1] = (uint8_t)(rgba >> 16);
    image.rgba[i + 2] = (uint8_t)(rgba >> 8);
    image.rgba[i + 3] = (uint8_t)rgba;
  }
  return image;
}

void ImageSet(Image* image, int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
  uint8_t* p = image->At(x, y);
  p[0] = r;
  p[1] = g;
  p[2] = b;
  p[3] = a;
}

bool PngRead(const std::string& path, Image* image) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str())) return false;
  png.format = PNG_FORMAT_RGBA;
  image->width = (int32_t)png.width;
  image->height = (int32_t)png.height;
  image->rgba.assign(PNG_IMAGE_SIZE(png), 0);
  if (!png_image_finish_read(&png, nullptr, image->rgba.data(), 0, nullptr)) {
    png_image_free(&png);
    return false;
  }
  return true;
}

bool PngWrite(const std::string& path, const Image& image) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = (png_uint_32)image.width;
  png.height = (png_uint_32)image.height;
  png.format = PNG_FORMAT_RGBA;
  return png_image_write_to_file(&png, path.c_str(), 0, image.rgba.data(), 0, nullptr) != 0;
}

namespace {

void PutLe(std::string* out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; i++) *out += (char)(uint8_t)(value >> (8 * i));
}

}  // namespace

bool BmpWrite(const std::string& path, const Image& image) {
  uint32_t rowBytes = ((uint32_t)image.width * 3 + 3) & ~3u;
  uint32_t pixelBytes = rowBytes * (uint32_t)image.height;
  std::string out = "BM";
  PutLe(&out, 54 + pixelBytes, 4);
  PutLe(&out, 0, 4);
  PutLe(&out, 54, 4);
  PutLe(&out, 40, 4);
  PutLe(&out, (uint32_t)image.width, 4);
  PutLe(&out, (uint32_t)image.height, 4);
  PutLe(&out, 1, 2);
  PutLe(&out, 24, 2);
  PutLe(&out, 0, 4);
  PutLe(&out, pixelBytes, 4);
  PutLe(&out, 2835, 4);
  PutLe(&out, 2835, 4);
  PutLe(&out, 0, 4);
  PutLe(&out, 0, 4);
  for (int32_t y = image.height - 1; y >= 0; y--) {
    for (int32_t x = 0; x < image.width; x++) {
      const uint8_t* p = image.At(x, y);
      out += (char)p[2];
      out += (char)p[1];
      out += (char)p[0];
    }
    out.append(rowBytes - (uint32_t)image.width * 3, '\0');
  }
  Spit(path, out);
  return true;
}

std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

void Spit(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary);
  f << bytes;
}

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') quoted += "'\\''";
    else quoted += c;
  }
  return quoted + "'";
}

Match CompareView(const Image& tiled, const Image& frame, int32_t viewX, int32_t viewY, uint32_t background,
                  Image* diff, bool over) {
  Match match;
  if (diff != nullptr) *diff = ImageMake(frame.width, frame.height, 0x000000FF);
  uint8_t back[3] = {(uint8_t)(background >> 16), (uint8_t)(background >> 8), (uint8_t)background};
  for (int32_t y = 0; y < frame.height; y++) {
    for (int32_t x = 0; x < frame.width; x++) {
      int32_t tx = viewX + x;
      int32_t ty = viewY + y;
      bool outside = tx < 0 || ty < 0 || tx >= tiled.width || ty >= tiled.height;
      bool overlay = x < kOverlayWidth && y < kOverlayHeight;
      const uint8_t* t = outside ? nullptr : tiled.At(tx, ty);
      if (outside || overlay || (!over && t[3] != 0 && t[3] != 255)) {
        if (diff != nullptr) ImageSet(diff, x, y, 60, 60, 60);
        continue;
      }
      uint8_t mixed[3];
      for (int c = 0; c < 3; c++) mixed[c] = (uint8_t)((t[c] * t[3] + back[c] * (255 - t[3]) + 127) / 255);
      const uint8_t* want = t[3] == 0 ? back : t[3] == 255 ? t : mixed;
      const uint8_t* got = frame.At(x, y);
      bool same = true;
      for (int c = 0; c < 3; c++) same = same && std::abs((int)want[c] - (int)got[c]) <= 4;
      match.counted++;
      if (same) match.matched++;
      if (diff != nullptr) {
        if (same) ImageSet(diff, x, y, (uint8_t)(want[0] / 3), (uint8_t)(want[1] / 3), (uint8_t)(want[2] / 3));
        else ImageSet(diff, x, y, 255, 0, 0);
      }
    }
  }
  return match;
}

Image TilesetPicture(int32_t columns, int32_t rows, int32_t tileWidth, int32_t tileHeight, int32_t margin,
                     int32_t spacing, int32_t seed) {
  int32_t width = 2 * margin + columns * tileWidth + (columns - 1) * spacing;
  int32_t height = 2 * margin + rows * tileHeight + (rows - 1) * spacing;
  Image image = ImageMake(width, height, 0xFF00FFFF);
  for (int32_t row = 0; row < rows; row++) {
    for (int32_t column = 0; column < columns; column++) {
      int32_t tile = row * columns + column;
      int32_t left = margin + column * (tileWidth + spacing);
      int32_t top = margin + row * (tileHeight + spacing);
      for (int32_t y = 0; y < tileHeight; y++) {
        for (int32_t x = 0; x < tileWidth; x++) {
          uint8_t r = (uint8_t)(20 + (tile % 24) * 9);
          uint8_t g = (uint8_t)(20 + (seed % 6) * 28 + x * 64 / tileWidth);
          uint8_t b = (uint8_t)(20 + y * 200 / tileHeight);
          ImageSet(&image, left + x, top + y, r, g, b, x + y < 2 ? 0 : 255);
        }
      }
    }
  }
  return image;
}

std::string CellBytes(const std::vector<uint32_t>& cells) {
  std::string bytes;
  for (uint32_t cell : cells) PutLe(&bytes, cell, 4);
  return bytes;
}

std::string Base64(const std::string& bytes) {
  static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    uint32_t v = (uint32_t)(uint8_t)bytes[i] << 16 | (uint32_t)(uint8_t)bytes[i + 1] << 8 | (uint8_t)bytes[i + 2];
    out += digits[v >> 18];
    out += digits[(v >> 12) & 63];
    out += digits[(v >> 6) & 63];
    out += digits[v & 63];
  }
  if (i + 1 == bytes.size()) {
    uint32_t v = (uint32_t)(uint8_t)bytes[i] << 16;
    out += digits[v >> 18];
    out += digits[(v >> 12) & 63];
    out += "==";
  } else if (i + 2 == bytes.size()) {
    uint32_t v = (uint32_t)(uint8_t)bytes[i] << 16 | (uint32_t)(uint8_t)bytes[i + 1] << 8;
    out += digits[v >> 18];
    out += digits[(v >> 12) & 63];
    out += digits[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

std::string Compress(const std::string& bytes, const std::string& kind) {
  if (kind == "zstd") {
    std::string out(ZSTD_compressBound(bytes.size()), '\0');
    size_t size = ZSTD_compress(out.data(), out.size(), bytes.data(), bytes.size(), 3);
    if (ZSTD_isError(size)) return "";
    out.resize(size);
    return out;
  }
  z_stream z;
  std::memset(&z, 0, sizeof z);
  // 15 bits of window, plus 16 for a gzip wrapper instead of zlib's.
  if (deflateInit2(&z, 6, Z_DEFLATED, kind == "gzip" ? 31 : 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return "";
  std::string out(deflateBound(&z, bytes.size()) + 32, '\0');
  z.next_in = (Bytef*)bytes.data();
  z.avail_in = (uInt)bytes.size();
  z.next_out = (Bytef*)out.data();
  z.avail_out = (uInt)out.size();
  int result = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return result == Z_STREAM_END ? out : "";
}

std::string CompressZeros(size_t count, const std::string& kind) {
  static const char zeros[1 << 16] = {};
  std::string out;
  char buffer[1 << 16];
  size_t left = count;
  if (kind == "zstd") {
    ZSTD_CCtx* context = ZSTD_createCCtx();
    size_t pending = 1;
    while (left > 0 || pending != 0) {
      size_t take = left < sizeof zeros ? left : sizeof zeros;
      ZSTD_inBuffer in = {zeros, take, 0};
      ZSTD_outBuffer to = {buffer, sizeof buffer, 0};
      pending = ZSTD_compressStream2(context, &to, &in, left == take ? ZSTD_e_end : ZSTD_e_continue);
      if (ZSTD_isError(pending)) break;
      out.append(buffer, to.pos);
      left -= in.pos;
    }
    ZSTD_freeCCtx(context);
    return out;
  }
  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (deflateInit2(&z, 1, Z_DEFLATED, kind == "gzip" ? 31 : 15, 9, Z_DEFAULT_STRATEGY) != Z_OK) return "";
  int result = Z_OK;
  while (result != Z_STREAM_END) {
    size_t take = left < sizeof zeros ? left : sizeof zeros;
    z.next_in = (Bytef*)zeros;
    z.avail_in = (uInt)take;
    do {
      z.next_out = (Bytef*)buffer;
      z.avail_out = sizeof buffer;
      result = deflate(&z, left == take ? Z_FINISH : Z_NO_FLUSH);
      out.append(buffer, sizeof buffer - z.avail_out);
    } while (z.avail_out == 0);
    left -= take;
  }
  deflateEnd(&z);
  return out;
}

std::string TmxData(const std::vector<uint32_t>& cells, const std::string& encoding) {
  if (encoding == "xml") {
    std::string text = "<data>\n";
    for (uint32_t cell : cells) text += cell == 0 ? "<tile/>\n" : "<tile gid=\"" + std::to_string(cell) + "\"/>\n";
    return text + "</data>";
  }
  if (encoding == "csv") {
    std::string text = "<data encoding=\"csv\">\n";
    for (size_t i = 0; i < cells.size(); i++) {
      text += std::to_string(cells[i]);
      if (i + 1 < cells.size()) text += ",";
      if (i % 16 == 15) text += "\n";
    }
    return text + "\n</data>";
  }
  std::string bytes = CellBytes(cells);
  std::string compression;
  if (encoding.rfind("base64-", 0) == 0) {
    compression = encoding.substr(7);
    bytes = Compress(bytes, compression);
    if (bytes.empty()) return "";
  }
  return "<data encoding=\"base64\"" + (compression.empty() ? "" : " compression=\"" + compression + "\"") + ">\n   " +
         Base64(bytes) + "\n  </data>";
}

void TiledTest::SetUp() {
  char pattern[] = "/tmp/tessel-tiled-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  dir_ = pattern;
  // Tiled's tools run without a display and keep their runtime files here.
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  std::string runtime = dir_ + "/.runtime";
  mkdir(runtime.c_str(), 0700);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  haveTiled_ = access("/usr/bin/tmxrasterizer", X_OK) == 0 && access("/usr/bin/tiled", X_OK) == 0;
}

void TiledTest::TearDown() { std::system(("rm -rf " + Quote(dir_)).c_str()); }

ToolRun TiledTest::Shell(const std::string& command) {
  ToolRun run;
  runs_++;
  std::string out = dir_ + "/.out" + std::to_string(runs_);
  std::string err = dir_ + "/.err" + std::to_string(runs_);
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int in = open("/dev/null", O_RDONLY);
    if (o < 0 || e < 0 || in < 0) _exit(127);
    dup2(in, 0);
    dup2(o, 1);
    dup2(e, 2);
    execl("/bin/sh", "sh", "-c", command.c_str(), (char*)nullptr);
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  std::memset(&usage, 0, sizeof usage);
  if (pid > 0) wait4(pid, &status, 0, &usage);
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.cpuSeconds = (double)usage.ru_utime.tv_sec + (double)usage.ru_stime.tv_sec +
                   ((double)usage.ru_utime.tv_usec + (double)usage.ru_stime.tv_usec) / 1e6;
  run.maxRssKb = usage.ru_maxrss;
  run.code = pid < 0 ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.out = Slurp(out);
  run.err = Slurp(err);
  std::remove(out.c_str());
  std::remove(err.c_str());
  return run;
}

ToolRun TiledTest::Import(const std::string& source, const std::string& out, const std::string& args) {
  return Shell(std::string(TESSEL_BINARY_DIR) + "/tessel-map import " + Quote(source) + " -o " + Quote(out) +
               (args.empty() ? "" : " " + args));
}

bool TiledTest::Rasterize(const std::string& source, Image* picture, const std::string& args) {
  std::string png = dir_ + "/.tiled" + std::to_string(runs_ + 1) + ".png";
  ToolRun run = Shell("tmxrasterizer " + args + " " + Quote(source) + " " + Quote(png));
  bool read = run.code == 0 && PngRead(png, picture);
  std::remove(png.c_str());
  EXPECT_TRUE(read) << "tmxrasterizer drew no picture of " << source << " (exit " << run.code << ")\n" << run.err;
  return read;
}

std::string TiledTest::ExportJson(const std::string& tmx) {
  size_t dot = tmx.rfind('.');
  std::string json = tmx.substr(0, dot) + ".tmj";
  ToolRun run = Shell("tiled --export-map json " + Quote(tmx) + " " + Quote(json));
  EXPECT_EQ(run.code, 0) << "tiled could not export " << tmx << "\n" << run.err;
  return json;
}

bool TiledTest::Render(const std::string& dir, const std::string& name, int32_t width, int32_t height, Image* frame,
                       const std::string& args, int32_t interval, std::string* trace) {
  std::string png = dir_ + "/.frame" + std::to_string(runs_ + 1) + ".png";
  ToolRun run = Shell("cd " + Quote(dir) + " && " + TESSEL_BINARY_DIR + "/tessel-render " + Quote(name) + " " +
                      std::to_string(width) + " " + std::to_string(height) + " " + std::to_string(interval) +
                      " --out " + Quote(png) + " " + args);
  if (trace != nullptr) *trace = run.out;
  // A message box (echoed as "CAPTION: TEXT") means the map or a tile did not load.
  bool read = run.code == 0 && run.out.find("Fehlermeldung") == std::string::npos && PngRead(png, frame);
  std::remove(png.c_str());
  EXPECT_TRUE(read) << "tessel-render showed no map " << name << " (exit " << run.code << ")\n"
                    << run.out.substr(0, 400) << run.err;
  return read;
}

void TiledTest::ExpectMatch(const std::string& what, const Image& tiled, const Image& frame, int32_t viewX,
                            int32_t viewY, uint32_t background, double least, bool over) {
  Image diff;
  Match match = CompareView(tiled, frame, viewX, viewY, background, &diff, over);
  EXPECT_GT(match.counted, (int64_t)frame.width * frame.height / 4) << what << ": too few pixels compared";
  std::printf("[ match    ] %s: %.3f%% of %lld pixels\n", what.c_str(), 100.0 * match.Rate(), (long long)match.counted);
  if (match.Rate() >= least) return;
  static int failures = 0;
  std::string keep = "/tmp/tessel-tiled-failure-" + std::to_string(getpid()) + "-" + std::to_string(++failures);
  mkdir(keep.c_str(), 0755);
  Image view = ImageMake(frame.width, frame.height, 0);
  for (int32_t y = 0; y < frame.height; y++) {
    for (int32_t x = 0; x < frame.width; x++) {
      if (viewX + x < tiled.width && viewY + y < tiled.height && viewX + x >= 0 && viewY + y >= 0) {
        std::memcpy(view.At(x, y), tiled.At(viewX + x, viewY + y), 4);
      }
    }
  }
  PngWrite(keep + "/tiled.png", view);
  PngWrite(keep + "/tessel.png", frame);
  PngWrite(keep + "/diff.png", diff);
  ADD_FAILURE() << what << ": " << match.matched << " of " << match.counted << " pixels match ("
                << 100.0 * match.Rate() << "%, at least " << 100.0 * least << "% wanted) at view " << viewX << ","
                << viewY << "; pictures in " << keep;
}

ToolRun TiledTest::ExpectImportMatches(const std::string& source, const Image& picture,
                                      const std::string& importArgs, uint32_t background, double least) {
  std::string out = dir_ + "/import-" + std::to_string(runs_);
  ToolRun run = Import(source, out, importArgs);
  EXPECT_EQ(run.code, 0) << source << "\n" << run.err;
  if (run.code != 0) return run;
  std::string base = source.substr(source.rfind('/') + 1);
  std::string name = base.substr(0, base.rfind('.'));
  Image frame;
  bool composed = importArgs.find("--layers") == std::string::npos;
  if (Render(out, name, picture.width, picture.height, &frame)) {
    if (least <= 0) least = composed ? 0.999 : 0.99;
    ExpectMatch(base + (composed ? "" : " --layers"), picture, frame, 0, 0, background, least, composed);
  }
  return run;
}

ToolRun TiledTest::ExpectSameAsTiled(const std::string& source, const std::string& importArgs,
                                     const std::string& rasterArgs, uint32_t background) {
  Image picture;
  if (!Rasterize(source, &picture, rasterArgs)) return ToolRun();
  return ExpectImportMatches(source, picture, importArgs, background);
}

}  // namespace tiled
