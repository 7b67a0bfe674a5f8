// Images of the importer: tileset images read into RGBA, sized before they
// are decoded: PNG with libpng straight into the picture (no second copy of a
// large image), GIF, BMP and JPEG with stb_image; tile images written as 8-bit
// RGB PNG with libpng into memory.
#include <png.h>
#include <stb_image.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "tools/tessel-map/import/tiled.h"

namespace {

uint32_t BigEndian(const std::vector<uint8_t>& b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; i++) v = v << 8 | b[at + (size_t)i];
  return v;
}

uint32_t LittleEndian(const std::vector<uint8_t>& b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; i--) v = v << 8 | b[at + (size_t)i];
  return v;
}

struct PngSource {
  const uint8_t* data;
  size_t size, at;
  char message[160];
};

void PngReadBytes(png_structp png, png_bytep out, png_size_t length) {
  PngSource* s = (PngSource*)png_get_io_ptr(png);
  if (length > s->size - s->at) png_error(png, "the file ends inside the image");
  std::memcpy(out, s->data + s->at, length);
  s->at += length;
}

// libpng's errors end the decode with their text kept for the message; its warnings are not printed.
void PngReadError(png_structp png, png_const_charp text) {
  PngSource* s = (PngSource*)png_get_error_ptr(png);
  std::snprintf(s->message, sizeof s->message, "%s", text);
  png_longjmp(png, 1);
}

void PngReadWarning(png_structp, png_const_charp) {}

// Decodes a PNG whose size is within the bounds into 8-bit RGBA, as stb_image would.
bool PngDecode(const std::vector<uint8_t>& bytes, ImportPicture* picture, std::string* problem) {
  PngSource source{bytes.data(), bytes.size(), 0, {0}};
  png_structp r = png_create_read_struct(PNG_LIBPNG_VER_STRING, &source, PngReadError, PngReadWarning);
  if (!r) {
    *problem = "out of memory";
    return false;
  }
  png_infop info = png_create_info_struct(r);
  std::vector<png_bytep> rows;
  if (!info || setjmp(png_jmpbuf(r))) {
    png_destroy_read_struct(&r, info ? &info : nullptr, nullptr);
    picture->rgba = std::vector<uint8_t>();
    *problem = std::string("damaged image (") + (source.message[0] ? source.message : "out of memory") + ")";
    return false;
  }
  png_set_read_fn(r, &source, PngReadBytes);
  png_set_user_limits(r, TiledMaxImageSide, TiledMaxImageSide);
  png_read_info(r, info);
  png_uint_32 w = png_get_image_width(r, info), h = png_get_image_height(r, info);
  if ((int64_t)w * h > TiledMaxImagePixels) png_error(r, "past the importer's bound");
  png_set_expand(r);
  png_set_strip_16(r);
  png_set_gray_to_rgb(r);
  png_set_add_alpha(r, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(r);
  png_read_update_info(r, info);
  if (png_get_rowbytes(r, info) != (size_t)w * 4) png_error(r, "unexpected row layout");
  picture->width = (int32_t)w;
  picture->height = (int32_t)h;
  picture->rgba.resize((size_t)w * h * 4);
  rows.resize(h);
  for (png_uint_32 y = 0; y < h; y++) rows[y] = &picture->rgba[(size_t)y * w * 4];
  png_read_image(r, rows.data());
  png_destroy_read_struct(&r, &info, nullptr);
  return true;
}

// Sizes past INT32_MAX are held at it, so the bounds refuse them.
int32_t Side(int64_t v) { return (int32_t)std::min<int64_t>(v < 0 ? -v : v, INT32_MAX); }

}  // namespace

bool ImportPictureSize(const std::vector<uint8_t>& b, int32_t* width, int32_t* height) {
  static const uint8_t png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (b.size() >= 24 && std::memcmp(b.data(), png, 8) == 0) {
    *width = Side(BigEndian(b, 16, 4));
    *height = Side(BigEndian(b, 20, 4));
    return true;
  }
  if (b.size() >= 10 && (std::memcmp(b.data(), "GIF87a", 6) == 0 || std::memcmp(b.data(), "GIF89a", 6) == 0)) {
    *width = (int32_t)LittleEndian(b, 6, 2);
    *height = (int32_t)LittleEndian(b, 8, 2);
    return true;
  }
  if (b.size() >= 26 && b[0] == 'B' && b[1] == 'M') {
    if (LittleEndian(b, 14, 4) == 12) {
      *width = (int32_t)LittleEndian(b, 18, 2);
      *height = (int32_t)LittleEndian(b, 20, 2);
    } else {
      *width = Side((int32_t)LittleEndian(b, 18, 4));
      *height = Side((int32_t)LittleEndian(b, 22, 4));  // below zero: stored top-down
    }
    return true;
  }
  if (b.size() >= 4 && b[0] == 0xFF && b[1] == 0xD8) {
    // JPEG: the size is in the first start-of-frame segment.
    size_t at = 2;
    while (at + 4 <= b.size()) {
      if (b[at] != 0xFF) return false;
      uint8_t marker = b[at + 1];
      if (marker == 0xFF) {
        at++;
        continue;
      }
      size_t length = BigEndian(b, at + 2, 2);
      bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
      if (frame) {
        if (at + 9 > b.size()) return false;
        *height = (int32_t)BigEndian(b, at + 5, 2);
        *width = (int32_t)BigEndian(b, at + 7, 2);
        return true;
      }
      if (length < 2) return false;
      at += 2 + length;
    }
  }
  return false;
}

bool ImportPictureDecode(const std::vector<uint8_t>& bytes, ImportPicture* picture, std::string* problem) {
  if (bytes.empty() || bytes.size() > (size_t)INT32_MAX) {
    *problem = bytes.empty() ? "the image file is empty" : "the image file is too large";
    return false;
  }
  int w = 0, h = 0, channels = 0;
  auto bounded = [&](int64_t width, int64_t height) {
    if (width > 0 && height > 0 && width <= TiledMaxImageSide && height <= TiledMaxImageSide &&
        width * height <= TiledMaxImagePixels) {
      return true;
    }
    *problem = "the image's size " + std::to_string(width) + "x" + std::to_string(height) +
               " is past the importer's bound (" + std::to_string(TiledMaxImageSide) + " pixels a side, " +
               std::to_string(TiledMaxImagePixels) + " pixels in all)";
    return false;
  };
  // The header's own size first: the decoder refuses large images as of no known type.
  int32_t declaredW, declaredH;
  if (ImportPictureSize(bytes, &declaredW, &declaredH) && !bounded(declaredW, declaredH)) return false;
  if (bytes.size() >= 8 && png_sig_cmp(bytes.data(), 0, 8) == 0) return PngDecode(bytes, picture, problem);
  if (!stbi_info_from_memory(bytes.data(), (int)bytes.size(), &w, &h, &channels)) {
    *problem = std::string("not a readable PNG, GIF, BMP or JPEG image (") + stbi_failure_reason() + ")";
    return false;
  }
  if (!bounded(w, h)) return false;
  stbi_uc* pixels = stbi_load_from_memory(bytes.data(), (int)bytes.size(), &w, &h, &channels, 4);
  if (!pixels) {
    *problem = std::string("damaged image (") + stbi_failure_reason() + ")";
    return false;
  }
  picture->width = w;
  picture->height = h;
  picture->rgba.assign(pixels, pixels + (size_t)w * h * 4);
  stbi_image_free(pixels);
  return true;
}

namespace {

struct PngSink {
  std::vector<uint8_t>* out;
};

void PngWriteBytes(png_structp png, png_bytep data, png_size_t length) {
  PngSink* sink = (PngSink*)png_get_io_ptr(png);
  sink->out->insert(sink->out->end(), data, data + length);
}

void PngFlush(png_structp) {}

}  // namespace

bool ImportPngEncode(int32_t width, int32_t height, const std::vector<uint8_t>& rgb, std::vector<uint8_t>* png) {
  png->clear();
  if (width <= 0 || height <= 0 || rgb.size() != (size_t)width * height * 3) return false;
  png_structp w = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!w) return false;
  png_infop info = png_create_info_struct(w);
  if (!info) {
    png_destroy_write_struct(&w, nullptr);
    return false;
  }
  PngSink sink{png};
  // libpng reports its errors by a long jump back here.
  if (setjmp(png_jmpbuf(w))) {
    png_destroy_write_struct(&w, &info);
    return false;
  }
  png_set_write_fn(w, &sink, PngWriteBytes, PngFlush);
  png_set_IHDR(w, info, (png_uint_32)width, (png_uint_32)height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(w, info);
  for (int32_t y = 0; y < height; y++) {
    png_write_row(w, (png_const_bytep)&rgb[(size_t)y * width * 3]);
  }
  png_write_end(w, info);
  png_destroy_write_struct(&w, &info);
  return true;
}
