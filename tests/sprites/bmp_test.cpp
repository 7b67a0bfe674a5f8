// The BMP reader on bytes the tests assemble: every depth, the run-length
// escapes, black-and-white 1-bit images, palette bounds, and damaged headers
// refused before anything is read from outside the file.
#include <gtest/gtest.h>

#include <cstdlib>

#include "images.h"
#include "screen/sprites.h"

namespace {

struct Rgb {
  uint8_t r, g, b;
  bool operator==(const Rgb&) const = default;
};

void PrintTo(const Rgb& c, std::ostream* out) { *out << "rgb(" << int(c.r) << "," << int(c.g) << "," << int(c.b) << ")"; }

// Palette of 4-byte entries blue, green, red, 0.
Bytes Palette(std::initializer_list<Rgb> colours) {
  Bytes p;
  for (const Rgb& c : colours) p.insert(p.end(), {c.b, c.g, c.r, 0});
  return p;
}

// The expanded rows of a BMP, exactly height rows (so that a write past them is a sanitizer finding).
struct Expanded {
  int32_t width = 0, height = 0, rowSize = 0;
  Bytes rows;
  Rgb At(int32_t x, int32_t storedRow) const {
    const uint8_t* p = rows.data() + storedRow * rowSize + x * 3;
    return {p[2], p[1], p[0]};
  }
};

bool Expand(const Bytes& file, Expanded* out) {
  BitmapInfo info;
  if (!BitmapRead(file.data(), static_cast<uint32_t>(file.size()), &info)) return false;
  out->width = info.width;
  out->height = info.height;
  out->rowSize = SpriteRowSize(info.width, 24);
  out->rows.assign(static_cast<size_t>(out->rowSize) * info.height, 0);
  return BitmapExpand(&info, out->rows.data()) == 1;
}

const Rgb Black = {0, 0, 0}, Red = {255, 0, 0}, Green = {0, 255, 0}, Blue = {0, 0, 255};

}  // namespace

TEST(BitmapExpand, IndicesBeyondThePaletteAreBlack) {
  // Three pixels, the last with an index beyond the two entries the header names.
  Expanded e;
  ASSERT_TRUE(Expand(BmpFile(3, 1, 8, 0, Palette({Red, Green, Blue}), BmpRows({1, 0, 200}, 3), 40, 2), &e));
  EXPECT_EQ(e.At(0, 0), Green);
  EXPECT_EQ(e.At(1, 0), Red);
  EXPECT_EQ(e.At(2, 0), Black);
}

TEST(BitmapExpand, RunLengthEscapes) {
  Bytes palette = Palette({Black, Red, Green, Blue});
  Bytes stream = {
      2, 1,              // two red
      0, 3, 2, 3, 1, 0,  // absolute run of three (green blue red) and its padding byte
      0, 0,              // end of line
      0, 4, 3, 3, 2, 2,  // absolute run of four: no padding
      0, 2, 1, 1,        // delta: one right, one up
      1, 3,              // one blue at (5, 2)
      0, 1,              // end of bitmap
      6, 2,              // never read
  };
  Expanded e;
  ASSERT_TRUE(Expand(BmpFile(6, 3, 8, 1, palette, stream), &e));
  Rgb row0[6] = {Red, Red, Green, Blue, Red, Black};
  Rgb row1[6] = {Blue, Blue, Green, Green, Black, Black};
  Rgb row2[6] = {Black, Black, Black, Black, Black, Blue};
  for (int32_t x = 0; x < 6; x++) {
    EXPECT_EQ(e.At(x, 0), row0[x]) << x;
    EXPECT_EQ(e.At(x, 1), row1[x]) << x;
    EXPECT_EQ(e.At(x, 2), row2[x]) << x;
  }
}

TEST(BitmapExpand, HostileRunLengthStaysInsideTheImage) {
  Bytes palette = Palette({Black, Red});
  Bytes streams[] = {
      {255, 1, 255, 1, 0, 0, 255, 1},             // runs far past the row
      {0, 2, 255, 255, 5, 1},                     // delta past the image, then a run
      {0, 2, 3, 0, 9, 1},                         // delta right past the row
      {0, 255, 1, 1, 1},                          // absolute run past the end of the file
      {0, 200, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0},     // absolute run past the row
      {1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 1},  // end of line past the last row
      {0, 2, 1},                                  // delta cut short by the end of the file
      {4},                                        // a lone byte
  };
  for (const Bytes& stream : streams) {
    Expanded e;
    ASSERT_TRUE(Expand(BmpFile(4, 2, 8, 1, palette, stream), &e));
  }
  // A clipped run still fills its row up to the edge.
  Expanded e;
  ASSERT_TRUE(Expand(BmpFile(4, 2, 8, 1, palette, {255, 1, 0, 1}), &e));
  for (int32_t x = 0; x < 4; x++) EXPECT_EQ(e.At(x, 0), Red);
  EXPECT_EQ(e.At(0, 1), Black);
}

TEST(BitmapRead, DamagedHeadersAreRefused) {
  Bytes good = BmpFile(4, 2, 24, 0, {}, Bytes(24, 0x33));
  BitmapInfo info;
  ASSERT_EQ(BitmapRead(good.data(), static_cast<uint32_t>(good.size()), &info), 1);

  struct Damage {
    const char* what;
    size_t at;
    uint32_t value;
    bool word16;
  } damages[] = {
      {"not BM", 0, 'B' | 'X' << 8, true},
      {"OS/2 header", 14, 12, false},
      {"header past the end", 14, 1000, false},
      {"header size wraps", 14, 0xFFFFFFF8u, false},
      {"pixel offset past the end", 10, 200, false},
      {"pixel offset wraps", 10, 0xFFFFFFF0u, false},
      {"width 0", 18, 0, false},
      {"negative width", 18, 0xFFFFFFFCu, false},
      {"height 0", 22, 0, false},
      {"height of INT32_MIN", 22, 0x80000000u, false},
      {"width past the sprite limit", 18, SPRITE_MAX_SIDE + 1, false},
      {"rows past the end of the file", 22, 3, false},
      {"rows overflowing", 22, 0x7FFFFFFF, false},
      {"2 bits", 28, 2, true},
      {"7 bits", 28, 7, true},
      {"0 bits", 28, 0, true},
      {"4-bit run-length", 30, 2, false},
      {"8-bit run-length on 24 bits", 30, 1, false},
      {"JPEG inside", 30, 4, false},
      {"bit-field masks on 24 bits", 30, 3, false},
  };
  for (const Damage& d : damages) {
    Bytes file = good;
    if (d.word16)
      BytesPut16(file, d.at, d.value);
    else
      BytesPut32(file, d.at, d.value);
    EXPECT_EQ(BitmapRead(file.data(), static_cast<uint32_t>(file.size()), &info), 0) << d.what;
  }
  // Truncated anywhere: refused.
  for (size_t size = 0; size < good.size(); size++)
    EXPECT_EQ(BitmapRead(good.data(), static_cast<uint32_t>(size), &info), 0) << size;
  // Too many pixels, even with every side within the limit.
  Bytes huge = BmpFile(SPRITE_MAX_SIDE, SPRITE_MAX_SIDE, 1, 0, Palette({Black, Red}), Bytes(64, 0));
  EXPECT_EQ(BitmapRead(huge.data(), static_cast<uint32_t>(huge.size()), &info), 0);
  // 4-bit run-length and top-down run-length are outside the subset.
  Bytes rle4 = BmpFile(4, 2, 4, 2, Palette({Black, Red}), {0, 1});
  EXPECT_EQ(BitmapRead(rle4.data(), static_cast<uint32_t>(rle4.size()), &info), 0);
  Bytes rleTopDown = BmpFile(4, -2, 8, 1, Palette({Black, Red}), {0, 1});
  EXPECT_EQ(BitmapRead(rleTopDown.data(), static_cast<uint32_t>(rleTopDown.size()), &info), 0);
}

TEST(BitmapRead, PaletteIsBoundedByHeaderAndFile) {
  Bytes pixels(4, 0);
  BitmapInfo info;
  // More colours named than the depth allows: 2^bits.
  Bytes a = BmpFile(1, 1, 4, 0, Bytes(64, 7), pixels, 40, 5000);
  ASSERT_EQ(BitmapRead(a.data(), static_cast<uint32_t>(a.size()), &info), 1);
  EXPECT_EQ(info.paletteCount, 16);
  // A palette cut short by the pixel data: only the entries before it.
  Bytes b = BmpFile(1, 1, 8, 0, Bytes(12, 7), pixels);
  ASSERT_EQ(BitmapRead(b.data(), static_cast<uint32_t>(b.size()), &info), 1);
  EXPECT_EQ(info.paletteCount, 3);
  // Pixel data that overlaps the headers: the palette is bounded by the file.
  BytesPut32(b, 10, 20);
  ASSERT_EQ(BitmapRead(b.data(), static_cast<uint32_t>(b.size()), &info), 1);
  EXPECT_EQ(info.paletteCount, 4);
  Expanded e;
  ASSERT_TRUE(Expand(b, &e));
}
