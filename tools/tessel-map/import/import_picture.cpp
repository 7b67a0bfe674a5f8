// Plain picture functions of the importer (see import_picture.h). The
// composition repeats the integer steps of a raster painter on premultiplied
// 8-bit pixels: x * a / 255 rounded as (t + (t >> 8) + 128) >> 8, opacity as
// a whole 256th scaled to 255ths, each layer source-over the result so far.
#include "tools/tessel-map/import/import_picture.h"

#include <cmath>
#include <cstring>

namespace {

// x * a / 255, rounded as the painter rounds it.
inline uint32_t Mul255(uint32_t x, uint32_t a) {
  uint32_t t = x * a;
  return (t + (t >> 8) + 0x80) >> 8;
}

}  // namespace

ImportPicture PictureCrop(const ImportPicture& src, int32_t x, int32_t y, int32_t w, int32_t h) {
  ImportPicture out;
  out.width = w;
  out.height = h;
  out.rgba.assign((size_t)w * h * 4, 0);
  for (int32_t j = 0; j < h; j++) {
    int32_t sy = y + j;
    if (sy < 0 || sy >= src.height) continue;
    for (int32_t i = 0; i < w; i++) {
      int32_t sx = x + i;
      if (sx < 0 || sx >= src.width) continue;
      std::memcpy(&out.rgba[((size_t)j * w + i) * 4], &src.rgba[((size_t)sy * src.width + sx) * 4], 4);
    }
  }
  return out;
}

ImportPicture PictureFlip(const ImportPicture& src, uint32_t flags) {
  if (!(flags & (TiledFlipH | TiledFlipV | TiledFlipD))) return src;
  bool d = flags & TiledFlipD;
  ImportPicture out;
  out.width = d ? src.height : src.width;
  out.height = d ? src.width : src.height;
  out.rgba.assign(src.rgba.size(), 0);
  for (int32_t y = 0; y < out.height; y++) {
    for (int32_t x = 0; x < out.width; x++) {
      int32_t ux = (flags & TiledFlipH) ? out.width - 1 - x : x;
      int32_t uy = (flags & TiledFlipV) ? out.height - 1 - y : y;
      int32_t sx = d ? uy : ux, sy = d ? ux : uy;
      std::memcpy(&out.rgba[((size_t)y * out.width + x) * 4], &src.rgba[((size_t)sy * src.width + sx) * 4], 4);
    }
  }
  return out;
}

ImportPicture PictureScale(const ImportPicture& src, int32_t w, int32_t h) {
  ImportPicture out;
  out.width = w;
  out.height = h;
  out.rgba.assign((size_t)w * h * 4, 0);
  for (int32_t y = 0; y < h; y++) {
    int32_t sy = (int32_t)(((int64_t)y * src.height) / h);
    for (int32_t x = 0; x < w; x++) {
      int32_t sx = (int32_t)(((int64_t)x * src.width) / w);
      std::memcpy(&out.rgba[((size_t)y * w + x) * 4], &src.rgba[((size_t)sy * src.width + sx) * 4], 4);
    }
  }
  return out;
}

bool PictureKey(const uint8_t* rgba, int32_t n, std::string* rgb) {
  rgb->assign((size_t)n * 3, '\0');
  bool any = false;
  for (int32_t i = 0; i < n; i++) {
    const uint8_t* s = rgba + (size_t)i * 4;
    if (s[3] < 128) continue;
    char* d = &(*rgb)[(size_t)i * 3];
    d[0] = (char)s[0];
    d[1] = (char)s[1];
    d[2] = (char)(s[0] == 0 && s[1] == 0 && s[2] == 0 ? 1 : s[2]);
    any = true;
  }
  return any;
}

void PictureCompose(const PictureLayer* layers, size_t count, int32_t n, bool over, uint32_t colour,
                    std::vector<uint8_t>* premultiplied) {
  std::vector<uint8_t>& out = *premultiplied;
  out.assign((size_t)n * 4, 0);
  if (over) {
    for (int32_t i = 0; i < n; i++) {
      out[(size_t)i * 4] = (uint8_t)(colour >> 16);
      out[(size_t)i * 4 + 1] = (uint8_t)(colour >> 8);
      out[(size_t)i * 4 + 2] = (uint8_t)colour;
      out[(size_t)i * 4 + 3] = 255;
    }
  }
  for (size_t k = 0; k < count; k++) {
    const PictureLayer& layer = layers[k];
    // Opacity in 256ths, as the painter keeps it, then in 255ths for the multiply.
    uint32_t constAlpha = (uint32_t)std::lround(std::fmin(1.0, std::fmax(0.0, layer.opacity)) * 256.0);
    constAlpha = (constAlpha * 255) >> 8;
    bool tinted = layer.tint != 0xFFFFFFFFu;
    uint32_t tr = layer.tint >> 16 & 0xFF, tg = layer.tint >> 8 & 0xFF, tb = layer.tint & 0xFF, ta = layer.tint >> 24;
    for (int32_t i = 0; i < n; i++) {
      const uint8_t* s = layer.rgba + (size_t)i * 4;
      uint32_t a = s[3];
      if (a == 0) continue;
      uint32_t c[3] = {Mul255(s[0], a), Mul255(s[1], a), Mul255(s[2], a)};
      if (tinted) {
        // The tint multiplies the colour over an opaque fill of the tint (the
        // uncovered part of a soft pixel takes the tint itself), then the
        // pixel's own alpha and the tint's alpha are laid over the result.
        const uint32_t t[3] = {tr, tg, tb};
        for (int ch = 0; ch < 3; ch++) {
          uint32_t m = Mul255(t[ch], c[ch]) + Mul255(t[ch], 255 - a);
          c[ch] = Mul255(Mul255(m > 255 ? 255 : m, a), ta);
        }
        a = Mul255(a, ta);
      }
      if (constAlpha != 255) {
        for (uint32_t& v : c) v = Mul255(v, constAlpha);
        a = Mul255(a, constAlpha);
      }
      uint8_t* d = &out[(size_t)i * 4];
      uint32_t keep = 255 - a;
      d[0] = (uint8_t)(c[0] + Mul255(d[0], keep));
      d[1] = (uint8_t)(c[1] + Mul255(d[1], keep));
      d[2] = (uint8_t)(c[2] + Mul255(d[2], keep));
      d[3] = (uint8_t)(a + Mul255(d[3], keep));
    }
  }
}

bool PictureKeyComposed(const std::vector<uint8_t>& premultiplied, int32_t n, bool keyBlack, std::string* rgb,
                        int64_t* softPixels) {
  rgb->assign((size_t)n * 3, '\0');
  bool any = false;
  for (int32_t i = 0; i < n; i++) {
    const uint8_t* s = &premultiplied[(size_t)i * 4];
    uint32_t a = s[3];
    if (a > 0 && a < 255) ++*softPixels;
    if (a < 128) continue;
    uint32_t c[3];
    for (int ch = 0; ch < 3; ch++) {
      uint32_t v = a == 255 ? s[ch] : (s[ch] * 255 + a / 2) / a;
      c[ch] = v > 255 ? 255 : v;
    }
    if (c[0] == 0 && c[1] == 0 && c[2] == 0) {
      if (keyBlack) continue;
      c[2] = 1;
    }
    char* d = &(*rgb)[(size_t)i * 3];
    d[0] = (char)c[0];
    d[1] = (char)c[1];
    d[2] = (char)c[2];
    any = true;
  }
  return any;
}
