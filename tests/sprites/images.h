// Image files the sprite tests make themselves: BMP bytes assembled field by
// field, PNGs written with libpng into memory.
#pragma once

#include <png.h>

#include <cstdint>
#include <cstring>
#include <vector>

typedef std::vector<uint8_t> Bytes;

inline void BytesPut32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; i++) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void BytesPut16(Bytes& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

// A BMP: file header, an info header of headerSize bytes, the palette (4 bytes
// per entry) and the pixel bytes as given (rows already padded by the caller).
inline Bytes BmpFile(int32_t width, int32_t height, int bits, uint32_t compression, const Bytes& palette,
                     const Bytes& pixels, uint32_t headerSize = 40, uint32_t coloursUsed = 0) {
  size_t offset = 14 + headerSize + palette.size();
  Bytes b(offset + pixels.size(), 0);
  b[0] = 'B';
  b[1] = 'M';
  BytesPut32(b, 2, static_cast<uint32_t>(b.size()));
  BytesPut32(b, 10, static_cast<uint32_t>(offset));
  BytesPut32(b, 14, headerSize);
  BytesPut32(b, 18, static_cast<uint32_t>(width));
  BytesPut32(b, 22, static_cast<uint32_t>(height));
  BytesPut16(b, 26, 1);
  BytesPut16(b, 28, static_cast<uint32_t>(bits));
  BytesPut32(b, 30, compression);
  BytesPut32(b, 34, static_cast<uint32_t>(pixels.size()));
  BytesPut32(b, 46, coloursUsed);
  if (!palette.empty()) std::memcpy(b.data() + 14 + headerSize, palette.data(), palette.size());
  if (!pixels.empty()) std::memcpy(b.data() + offset, pixels.data(), pixels.size());
  return b;
}

// Rows padded to a multiple of 4 bytes, from unpadded rows of rowBytes each.
inline Bytes BmpRows(const Bytes& rows, size_t rowBytes) {
  size_t stride = (rowBytes + 3) / 4 * 4;
  size_t count = rows.size() / rowBytes;
  Bytes out(stride * count, 0);
  for (size_t y = 0; y < count; y++) std::memcpy(out.data() + y * stride, rows.data() + y * rowBytes, rowBytes);
  return out;
}

struct PngImage {
  uint32_t width = 0;
  uint32_t height = 0;
  int colourType = PNG_COLOR_TYPE_RGB;
  int bitDepth = 8;
  int interlace = PNG_INTERLACE_NONE;
  Bytes rows;     // packed rows as the PNG stores them (samples big-endian, R,G,B order)
  Bytes palette;  // R,G,B triples
  Bytes alphas;   // tRNS: palette alphas
  int greyKey = -1;  // tRNS: the transparent grey level
};

inline void PngWriteToBytes(png_structp png, png_bytep data, size_t length) {
  Bytes* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}
inline void PngFlushNone(png_structp) {}

// The PNG file of the image; empty when libpng refuses it.
inline Bytes PngFile(const PngImage& image) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    out.clear();
    return out;
  }
  png_set_write_fn(png, &out, PngWriteToBytes, PngFlushNone);
  png_set_IHDR(png, info, image.width, image.height, image.bitDepth, image.colourType, image.interlace,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!image.palette.empty()) {
    std::vector<png_color> colours(image.palette.size() / 3);
    for (size_t i = 0; i < colours.size(); i++)
      colours[i] = {image.palette[i * 3], image.palette[i * 3 + 1], image.palette[i * 3 + 2]};
    png_set_PLTE(png, info, colours.data(), static_cast<int>(colours.size()));
  }
  if (!image.alphas.empty())
    png_set_tRNS(png, info, image.alphas.data(), static_cast<int>(image.alphas.size()), nullptr);
  if (image.greyKey >= 0) {
    png_color_16 key = {};
    key.gray = static_cast<png_uint_16>(image.greyKey);
    png_set_tRNS(png, info, nullptr, 0, &key);
  }
  png_write_info(png, info);
  size_t rowBytes = image.rows.size() / image.height;
  std::vector<png_bytep> rows(image.height);
  for (uint32_t y = 0; y < image.height; y++) rows[y] = const_cast<png_bytep>(image.rows.data() + y * rowBytes);
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}
