// Images of the demo generator: an RGB pixel grid and the writers for the tile
// file formats the runner reads (PNG, and BMP at 1, 4, 8 bits with and without
// RLE, 16-bit 5-5-5, 24 and 32 bits).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Pixels are 0xRRGGBB, row by row from the top; 0 is the tiles' transparent black.
struct DemoImage {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
};

enum class DemoFormat { Png, Bmp1, Bmp4, Bmp8, Bmp8Rle, Bmp16, Bmp24, Bmp32 };

// A black image of the given size.
DemoImage DemoImageNew(int width, int height);

// Writes the image in the format; false (with a message on stderr) when the file
// cannot be written or the image has more colours than the format's palette.
bool DemoImageWrite(const DemoImage& image, DemoFormat format, const std::string& path);
