// Images of the importer: tileset images read with stb_image (PNG, GIF, BMP,
// JPEG) into RGBA, sized before they are decoded; tile images written as 8-bit
// RGB PNG with libpng into memory.
#include <png.h>
#include <stb_image.h>

#include <csetjmp>
#include <cstring>

#include "tools/tessel-map/import/tiled.h"

bool ImportPictureDecode(const std::vector<uint8_t>& bytes, ImportPicture* picture, std::string* problem) {
  if (bytes.empty() || bytes.size() > (size_t)INT32_MAX) {
    *problem = bytes.empty() ? "the image file is empty" : "the image file is too large";
    return false;
  }
  int w = 0, h = 0, channels = 0;
  if (!stbi_info_from_memory(bytes.data(), (int)bytes.size(), &w, &h, &channels)) {
    *problem = std::string("not a readable PNG, GIF, BMP or JPEG image (") + stbi_failure_reason() + ")";
    return false;
  }
  if (w <= 0 || h <= 0 || w > TiledMaxImageSide || h > TiledMaxImageSide || (int64_t)w * h > TiledMaxImagePixels) {
    *problem = "the image's size " + std::to_string(w) + "x" + std::to_string(h) + " is past the importer's bound";
    return false;
  }
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
