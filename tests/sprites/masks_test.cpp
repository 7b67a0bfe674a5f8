// BMPs whose colours are given by bit-field masks: each channel scaled from
// its own width, whatever the masks; the same files as sprites at 16 and 32
// bits; and the largest sides a sprite takes.
#include <cstring>

#include "sprite_fixture.h"

namespace {

struct Masks {
  uint32_t red, green, blue;
};

// A BMP of 16- or 32-bit pixels (one row of them) with masks after the 40-byte
// header; a negative height stores the rows top row first.
Bytes MaskedBmp(int32_t width, int32_t height, int bits, Masks masks, const std::vector<uint32_t>& pixels,
                uint32_t compression = 3) {
  Bytes words;
  for (uint32_t p : pixels)
    for (int i = 0; i < bits / 8; i++) words.push_back(static_cast<uint8_t>(p >> (8 * i)));
  Bytes maskBytes(12);
  BytesPut32(maskBytes, 0, masks.red);
  BytesPut32(maskBytes, 4, masks.green);
  BytesPut32(maskBytes, 8, masks.blue);
  int32_t rows = height < 0 ? -height : height;
  return BmpFile(width, height, bits, compression, maskBytes, BmpRows(words, words.size() / rows));
}

// The first row of a masked BMP expanded to 0x00RRGGBB values (empty when refused).
std::vector<uint32_t> ExpandedRow(const Bytes& file) {
  std::vector<uint32_t> out;
  BitmapInfo info;
  if (!BitmapRead(file.data(), static_cast<uint32_t>(file.size()), &info)) return out;
  int32_t rowSize = SpriteRowSize(info.width, 24);
  Bytes rows(static_cast<size_t>(rowSize) * info.height, 0);
  if (!BitmapExpand(&info, rows.data())) return out;
  for (int32_t x = 0; x < info.width; x++)
    out.push_back(static_cast<uint32_t>(rows[x * 3 + 2]) << 16 | rows[x * 3 + 1] << 8 | rows[x * 3]);
  return out;
}

const Masks Masks565 = {0xF800, 0x07E0, 0x001F};

}  // namespace

TEST(BitmapMasks, ChannelsAreScaledFromTheirOwnWidths) {
  // 5-6-5: full channels are 255, halves round to the nearest level.
  EXPECT_EQ(ExpandedRow(MaskedBmp(4, 1, 16, Masks565, {0xF800, 0x07E0, 0x001F, 0x8410})),
            (std::vector<uint32_t>{0xFF0000, 0x00FF00, 0x0000FF, 0x848284}));
  // 3-10-3 in 16 bits: red 5 of 7, green 512 of 1023, blue 7 of 7.
  EXPECT_EQ(ExpandedRow(MaskedBmp(1, 1, 16, {0xE000, 0x1FF8, 0x0007}, {5u << 13 | 512u << 3 | 7u})),
            (std::vector<uint32_t>{0xB680FF}));
  // 10-10-10 in 32 bits, and 8-8-8 in the order blue, green, red from the top.
  EXPECT_EQ(ExpandedRow(MaskedBmp(2, 1, 32, {0x3FF00000, 0x000FFC00, 0x000003FF}, {1023u << 20 | 341u << 10, 3})),
            (std::vector<uint32_t>{0xFF5500, 0x000001}));
  EXPECT_EQ(ExpandedRow(MaskedBmp(1, 1, 32, {0x0000FF00, 0x00FF0000, 0xFF000000}, {0x12345678})),
            (std::vector<uint32_t>{0x563412}));
  // A one-bit red, a green mask past the pixel's 16 bits (no green), 15-bit blue.
  EXPECT_EQ(ExpandedRow(MaskedBmp(2, 1, 16, {0x8000, 0x10000, 0x7FFF}, {0xC000, 0x7FFF})),
            (std::vector<uint32_t>{0xFF0080, 0x0000FF}));
  // 8-8-0 in 16 bits, and masks with an alpha mask after them (compression 6).
  EXPECT_EQ(ExpandedRow(MaskedBmp(1, 1, 16, {0xFF00, 0x00FF, 0}, {0x4080})), (std::vector<uint32_t>{0x408000}));
  EXPECT_EQ(ExpandedRow(MaskedBmp(1, 1, 16, Masks565, {0xFFFF}, 6)), (std::vector<uint32_t>{0xFFFFFF}));
}

TEST(BitmapMasks, LayoutsTheReaderRefusesOrTakesAsTheyAre) {
  BitmapInfo info;
  // The usual 32-bit masks: the file's pixels are used as they are.
  Bytes plain = MaskedBmp(1, 1, 32, {0x00FF0000, 0x0000FF00, 0x000000FF}, {0x00102030});
  ASSERT_EQ(BitmapRead(plain.data(), static_cast<uint32_t>(plain.size()), &info), 1);
  EXPECT_EQ(info.masked, 0);
  EXPECT_EQ(info.compression, 0);
  Bytes swapped = MaskedBmp(1, 1, 32, {0x000000FF, 0x0000FF00, 0x00FF0000}, {0x00102030});
  ASSERT_EQ(BitmapRead(swapped.data(), static_cast<uint32_t>(swapped.size()), &info), 1);
  EXPECT_EQ(info.masked, 1);
  EXPECT_EQ(ExpandedRow(swapped), (std::vector<uint32_t>{0x302010}));
  // Masks on depths that have none, and masks cut off by the end of the file.
  for (int bits : {1, 4, 8, 24}) {
    Bytes file = BmpFile(1, 1, bits, 3, Bytes(12, 0xFF), Bytes(4, 0));
    EXPECT_EQ(BitmapRead(file.data(), static_cast<uint32_t>(file.size()), &info), 0) << bits;
  }
  Bytes cut = BmpFile(1, 1, 16, 3, {}, Bytes(4, 0));
  EXPECT_EQ(BitmapRead(cut.data(), static_cast<uint32_t>(cut.size()), &info), 0);
}

TEST_F(SpriteTest, MaskedBmpsShowTheirColoursAtEveryDepth) {
  // Every 5-6-5 value, top row first: a 16-bit 5-6-5 screen holds them unchanged.
  std::vector<uint32_t> all;
  for (uint32_t v = 0; v < 0x10000; v++) all.push_back(v);
  Bytes file = MaskedBmp(256, -256, 16, Masks565, all);
  Open(16);
  ASSERT_EQ(ScreenPixelFormat, 3);
  ASSERT_NE(Load(1, file), 0);
  EXPECT_EQ(Get(1)->bits, 24);
  EXPECT_EQ(Pixels(1), all);

  // At 32 bits, bottom-up rows: pure red on the bottom row, 5-6-5 white on the top.
  Open(32);
  ASSERT_NE(Load(2, MaskedBmp(2, 2, 16, Masks565, {0xF800, 0x07E0, 0xFFFF, 0x0000})), 0);
  EXPECT_EQ(Pixels(2), (std::vector<uint32_t>{0xFFFFFF, 0x000000, 0xFF0000, 0x00FF00}));
}

TEST_F(SpriteTest, SidesUpToTheRecordsLimitLoad) {
  Open();
  const Bytes palette = {0, 0, 0, 0, 255, 255, 255, 0};
  int32_t wideRow = (SPRITE_MAX_SIDE + 31) / 32 * 4;
  ASSERT_NE(Load(1, BmpFile(SPRITE_MAX_SIDE, 1, 1, 0, palette, Bytes(wideRow, 0xFF))), 0);
  EXPECT_EQ(Get(1)->width, SPRITE_MAX_SIDE);
  ASSERT_NE(Load(2, BmpFile(1, -SPRITE_MAX_SIDE, 1, 0, palette, Bytes(4 * SPRITE_MAX_SIDE, 0x80))), 0);
  EXPECT_EQ(Get(2)->height, SPRITE_MAX_SIDE);
  EXPECT_EQ(SpriteDraw(2, 0, -SPRITE_MAX_SIDE + 10), DD_OK);
  // One more is past the record's 16 bits.
  EXPECT_EQ(Load(3, BmpFile(SPRITE_MAX_SIDE + 1, 1, 1, 0, palette, Bytes(wideRow + 4, 0))), 0);
  EXPECT_EQ(Get(3), nullptr);
}
