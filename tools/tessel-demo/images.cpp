// Image writers of the demo generator: PNG through libpng, BMP by hand.
#include "tools/tessel-demo/images.h"

#include <png.h>

#include <cstdio>

namespace {

void PutLe(std::vector<uint8_t>* out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; i++) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

bool DemoFileWrite(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::fprintf(stderr, "tessel-demo: cannot write %s\n", path.c_str());
    return false;
  }
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok) std::fprintf(stderr, "tessel-demo: cannot write %s\n", path.c_str());
  return ok;
}

bool DemoPngWrite(const DemoImage& image, const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::fprintf(stderr, "tessel-demo: cannot write %s\n", path.c_str());
    return false;
  }
  // Allocated before setjmp: a jump back must not skip a destructor.
  std::vector<uint8_t> row(static_cast<size_t>(image.width) * 3);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  // libpng reports failure by jumping back here; no exceptions are involved.
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    std::fprintf(stderr, "tessel-demo: cannot write %s\n", path.c_str());
    return false;
  }
  png_init_io(png, f);
  png_set_compression_level(png, 9);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < image.height; y++) {
    for (int x = 0; x < image.width; x++) {
      uint32_t p = image.pixels[static_cast<size_t>(y) * image.width + x];
      row[x * 3] = static_cast<uint8_t>(p >> 16);
      row[x * 3 + 1] = static_cast<uint8_t>(p >> 8);
      row[x * 3 + 2] = static_cast<uint8_t>(p);
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(f) == 0;
}

// Palette of the image's colours, in order of first use, and each pixel's index.
bool DemoPalette(const DemoImage& image, size_t limit, std::vector<uint32_t>* palette, std::vector<uint8_t>* index,
                 const std::string& path) {
  for (uint32_t p : image.pixels) {
    size_t k = 0;
    while (k < palette->size() && (*palette)[k] != p) k++;
    if (k == palette->size()) {
      if (palette->size() == limit) {
        std::fprintf(stderr, "tessel-demo: %s has more than %zu colours\n", path.c_str(), limit);
        return false;
      }
      palette->push_back(p);
    }
    index->push_back(static_cast<uint8_t>(k));
  }
  return true;
}

// One RLE8 row: runs of up to 255 equal pixels, then the end-of-line marker.
void DemoRleRow(std::vector<uint8_t>* out, const uint8_t* row, int width) {
  int x = 0;
  while (x < width) {
    int run = 1;
    while (x + run < width && run < 255 && row[x + run] == row[x]) run++;
    out->push_back(static_cast<uint8_t>(run));
    out->push_back(row[x]);
    x += run;
  }
  out->push_back(0);
  out->push_back(0);
}

bool DemoBmpWrite(const DemoImage& image, DemoFormat format, const std::string& path) {
  int bits = format == DemoFormat::Bmp1 ? 1 : format == DemoFormat::Bmp4 ? 4 : format == DemoFormat::Bmp16 ? 16
           : format == DemoFormat::Bmp24 ? 24 : format == DemoFormat::Bmp32 ? 32 : 8;
  std::vector<uint32_t> palette;
  std::vector<uint8_t> index;
  if (bits <= 8 && !DemoPalette(image, size_t(1) << bits, &palette, &index, path)) return false;

  std::vector<uint8_t> data;
  size_t stride = (static_cast<size_t>(image.width) * bits + 31) / 32 * 4;
  // Rows are stored from the bottom up.
  for (int y = image.height - 1; y >= 0; y--) {
    size_t base = static_cast<size_t>(y) * image.width;
    if (format == DemoFormat::Bmp8Rle) {
      DemoRleRow(&data, &index[base], image.width);
      continue;
    }
    std::vector<uint8_t> row(stride, 0);
    for (int x = 0; x < image.width; x++) {
      uint32_t p = image.pixels[base + x];
      uint8_t r = static_cast<uint8_t>(p >> 16), g = static_cast<uint8_t>(p >> 8), b = static_cast<uint8_t>(p);
      switch (bits) {
        case 1: row[x / 8] |= static_cast<uint8_t>(index[base + x] << (7 - x % 8)); break;
        case 4: row[x / 2] |= static_cast<uint8_t>(index[base + x] << (x % 2 ? 0 : 4)); break;
        case 8: row[x] = index[base + x]; break;
        case 16: {
          uint16_t v = static_cast<uint16_t>(((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3));
          row[x * 2] = static_cast<uint8_t>(v);
          row[x * 2 + 1] = static_cast<uint8_t>(v >> 8);
          break;
        }
        case 24: row[x * 3] = b; row[x * 3 + 1] = g; row[x * 3 + 2] = r; break;
        default: row[x * 4] = b; row[x * 4 + 1] = g; row[x * 4 + 2] = r; row[x * 4 + 3] = 0; break;
      }
    }
    data.insert(data.end(), row.begin(), row.end());
  }
  if (format == DemoFormat::Bmp8Rle) {
    data.push_back(0);
    data.push_back(1);  // end of bitmap
  }

  uint32_t paletteBytes = static_cast<uint32_t>(palette.size() * 4);
  uint32_t offset = 14 + 40 + paletteBytes;
  std::vector<uint8_t> out;
  out.push_back('B');
  out.push_back('M');
  PutLe(&out, offset + static_cast<uint32_t>(data.size()), 4);
  PutLe(&out, 0, 4);
  PutLe(&out, offset, 4);
  PutLe(&out, 40, 4);
  PutLe(&out, static_cast<uint32_t>(image.width), 4);
  PutLe(&out, static_cast<uint32_t>(image.height), 4);
  PutLe(&out, 1, 2);
  PutLe(&out, static_cast<uint32_t>(bits), 2);
  PutLe(&out, format == DemoFormat::Bmp8Rle ? 1 : 0, 4);  // BI_RLE8 or BI_RGB
  PutLe(&out, static_cast<uint32_t>(data.size()), 4);
  PutLe(&out, 2835, 4);  // 72 dots per inch
  PutLe(&out, 2835, 4);
  PutLe(&out, static_cast<uint32_t>(palette.size()), 4);
  PutLe(&out, 0, 4);
  for (uint32_t p : palette) PutLe(&out, p, 4);  // blue, green, red, 0
  out.insert(out.end(), data.begin(), data.end());
  return DemoFileWrite(path, out);
}

}  // namespace

DemoImage DemoImageNew(int width, int height) {
  DemoImage image;
  image.width = width;
  image.height = height;
  image.pixels.assign(static_cast<size_t>(width) * height, 0);
  return image;
}

bool DemoImageWrite(const DemoImage& image, DemoFormat format, const std::string& path) {
  if (format == DemoFormat::Png) return DemoPngWrite(image, path);
  return DemoBmpWrite(image, format, path);
}
