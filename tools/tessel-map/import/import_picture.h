// The importer's picture work as plain functions of their inputs: cutting,
// flipping and scaling RGBA pictures, Tessel's colour key, tinting, and the
// source-over composition of a grid cell's pieces as Tiled's painter does it
// (8-bit premultiplied colour, its rounding). No state, no files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/tessel-map/import/tiled.h"

// Copies the rectangle (x, y, w, h) of a picture; pixels outside it are transparent.
ImportPicture PictureCrop(const ImportPicture& src, int32_t x, int32_t y, int32_t w, int32_t h);
// Flips by Tiled's cell flags: the diagonal first (swapping the axes), then horizontal, then vertical.
ImportPicture PictureFlip(const ImportPicture& src, uint32_t flags);
// Nearest-neighbour scaling to w x h.
ImportPicture PictureScale(const ImportPicture& src, int32_t w, int32_t h);

// Tessel's key on n straight-alpha RGBA pixels: alpha below 128 is left out
// (black, the key), the rest is opaque, and a drawn pure black becomes
// (0, 0, 1). Writes n RGB pixels; false when every pixel is left out.
bool PictureKey(const uint8_t* rgba, int32_t n, std::string* rgb);

// One layer of a cell's stack: n straight-alpha RGBA pixels drawn with the
// layer's opacity (0 to 1) and tint colour (0xAARRGGBB; 0xFFFFFFFF: none).
struct PictureLayer {
  const uint8_t* rgba;
  double opacity;
  uint32_t tint;
};

// Composes layers[0..count) in order (the first at the back) source-over on
// premultiplied 8-bit colour, starting from transparent, or from the opaque
// colour 0x00RRGGBB when over is set. Writes n premultiplied RGBA pixels.
void PictureCompose(const PictureLayer* layers, size_t count, int32_t n, bool over, uint32_t colour,
                    std::vector<uint8_t>* premultiplied);

// Tessel's picture of a composed cell (n premultiplied RGBA pixels): opaque
// pixels keep their colour, pure black becoming (0, 0, 1) unless keyBlack is
// set (then it is the key, as when it lies over a black background); pixels
// of alpha below 128 are the key, the rest drawn opaque. softPixels counts the
// pixels of alpha between 1 and 254. False when every pixel is the key.
bool PictureKeyComposed(const std::vector<uint8_t>& premultiplied, int32_t n, bool keyBlack, std::string* rgb,
                        int64_t* softPixels);
