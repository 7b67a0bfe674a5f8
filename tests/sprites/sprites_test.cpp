// Sprites on the headless screen: loading every BMP depth and PNGs, the
// conversion into 16, 24 and 32-bit surfaces, keyed and opaque drawing with
// clipping, numbers and keys, the display loss, and failures.
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/kernel.h"
#include "sprite_fixture.h"

namespace {

// A BMP of the given depth from 0x00RRGGBB colours, top row first; palette
// images get a palette of the colours used (1-bit ones a palette of red and
// green, which must not show). 8-bit images can be run-length coded.
Bytes BmpOf(const std::vector<uint32_t>& grid, int32_t w, int32_t h, int bits, bool topDown = false,
            bool rle = false) {
  std::vector<uint32_t> palette;
  auto index = [&](uint32_t c) -> uint8_t {
    if (bits == 1) return c == 0xFFFFFF ? 1 : 0;
    for (size_t i = 0; i < palette.size(); i++)
      if (palette[i] == c) return static_cast<uint8_t>(i);
    palette.push_back(c);
    return static_cast<uint8_t>(palette.size() - 1);
  };
  Bytes pixels;
  for (int32_t s = 0; s < h; s++) {
    int32_t y = topDown ? s : h - 1 - s;
    const uint32_t* row = grid.data() + y * w;
    Bytes out;
    if (rle) {
      for (int32_t x = 0; x < w;) {
        int32_t n = 1;
        while (x + n < w && row[x + n] == row[x] && n < 255) n++;
        out.insert(out.end(), {static_cast<uint8_t>(n), index(row[x])});
        x += n;
      }
      out.insert(out.end(), {0, static_cast<uint8_t>(s == h - 1 ? 1 : 0)});
      pixels.insert(pixels.end(), out.begin(), out.end());
      continue;
    }
    for (int32_t x = 0; x < w; x++) {
      uint32_t c = row[x];
      uint8_t r = c >> 16, g = c >> 8, b = c;
      switch (bits) {
        case 1:
          if (x % 8 == 0) out.push_back(0);
          out.back() |= static_cast<uint8_t>(index(c) << (7 - x % 8));
          break;
        case 4:
          if (x % 2 == 0) out.push_back(0);
          out.back() |= static_cast<uint8_t>(index(c) << (x % 2 ? 0 : 4));
          break;
        case 8:
          out.push_back(index(c));
          break;
        case 16: {
          uint16_t m = static_cast<uint16_t>((r >> 3) << 10 | (g >> 3) << 5 | b >> 3);
          out.insert(out.end(), {static_cast<uint8_t>(m), static_cast<uint8_t>(m >> 8)});
          break;
        }
        case 24:
          out.insert(out.end(), {b, g, r});
          break;
        case 32:
          out.insert(out.end(), {b, g, r, 0x77});
          break;
      }
    }
    out.resize((out.size() + 3) / 4 * 4, 0);
    pixels.insert(pixels.end(), out.begin(), out.end());
  }
  Bytes pal;
  if (bits == 1) pal = {0, 0, 0xFF, 0, 0, 0xFF, 0, 0};
  for (uint32_t c : palette) pal.insert(pal.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), 0});
  return BmpFile(w, topDown ? -h : h, bits, rle ? 1 : 0, pal, pixels);
}

// Colours whose channels are multiples of 8, so that 5-5-5 holds them exactly.
const std::vector<uint32_t> Grid = {
    0xF80000, 0x00F800, 0x0000F8, 0xF8F8F8, 0x000000,  // top row
    0x808080, 0x400810, 0x102040, 0xF80000, 0x0000F8,  //
    0x000000, 0x000000, 0x203040, 0x00F800, 0x808080,  // bottom row
};
const std::vector<uint32_t> BlackWhite = {
    0xFFFFFF, 0x000000, 0xFFFFFF, 0xFFFFFF, 0x000000, 0x000000, 0xFFFFFF, 0x000000, 0xFFFFFF,
    0x000000, 0x000000, 0xFFFFFF, 0x000000, 0xFFFFFF, 0xFFFFFF, 0x000000, 0xFFFFFF, 0xFFFFFF,
};

// A colour as a pixel of a headless screen of the given depth (5-6-5 at 16).
uint32_t AtDepth(uint32_t c, int32_t depth) {
  uint32_t r = c >> 16 & 0xFF, g = c >> 8 & 0xFF, b = c & 0xFF;
  return depth == 16 ? (r / 8) << 11 | (g / 4) << 5 | b / 8 : c;
}

}  // namespace

TEST_F(SpriteTest, EveryBmpDepthLoadsTheRightWayUp) {
  Open();
  struct Case {
    int bits;
    bool topDown, rle;
  } cases[] = {{4, false, false}, {8, false, false}, {8, false, true}, {16, false, false},
               {24, false, false}, {32, false, false}, {4, true, false}, {8, true, false},
               {16, true, false}, {24, true, false}, {32, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bits << (c.topDown ? " top-down" : "") << (c.rle ? " rle" : ""));
    intptr_t surface = Load(3, BmpOf(Grid, 5, 3, c.bits, c.topDown, c.rle));
    ASSERT_NE(surface, 0);
    ASSERT_EQ(surface, reinterpret_cast<intptr_t>(Get(3)->surface));
    EXPECT_EQ(Get(3)->width, 5);
    EXPECT_EQ(Get(3)->height, 3);
    EXPECT_EQ(Get(3)->bits, c.bits <= 8 ? 24 : c.bits);  // palette images are expanded to 24 bits
    EXPECT_EQ(Pixels(3), Grid);
  }
  // One bit per pixel: black and white, whatever the red and green palette says.
  for (bool topDown : {false, true}) {
    ASSERT_NE(Load(4, BmpOf(BlackWhite, 9, 2, 1, topDown)), 0);
    EXPECT_EQ(Pixels(4), BlackWhite);
  }
}

TEST_F(SpriteTest, ConversionIntoEveryScreenDepth) {
  for (int32_t depth : {16, 24, 32}) {
    SCOPED_TRACE(depth);
    Open(depth);
    EXPECT_EQ(ScreenPixelFormat, depth == 16 ? 3 : depth == 24 ? 5 : 7);
    std::vector<uint32_t> expect;
    for (uint32_t c : Grid) expect.push_back(AtDepth(c, depth));
    for (int bits : {4, 8, 16, 24, 32}) {
      ASSERT_NE(Load(1, BmpOf(Grid, 5, 3, bits)), 0) << bits;
      EXPECT_EQ(Pixels(1), expect) << bits;
    }
    // PNGs arrive top row first; alpha (0 everywhere here) is dropped.
    for (bool alpha : {false, true}) {
      ASSERT_NE(Load(2, PngOf(Grid, 5, 3, alpha)), 0);
      EXPECT_EQ(Get(2)->bits, alpha ? 32 : 24);
      EXPECT_EQ(Pixels(2), expect);
    }
  }
}

TEST(SpritePixelsConvert, TheConversionTable) {
  // One pixel each: a 24-bit source b, g, r = 0x18, 0xFC, 0x81 and the 5-5-5 word 0x7FE1
  // (red 31, green 31, blue 1).
  const uint8_t bgr[4] = {0x18, 0xFC, 0x81, 0};
  const uint8_t bgra[4] = {0x18, 0xFC, 0x81, 0xAA};
  const uint8_t word[4] = {0xE1, 0x7F, 0, 0};
  auto convert = [](const uint8_t* source, int32_t bits, int32_t depth, int32_t format) {
    uint8_t out[4] = {0x55, 0x55, 0x55, 0x55};
    SpritePixelsConvert(out, 4, source, 1, 1, bits, 0, depth, format);
    return static_cast<uint32_t>(out[0] | out[1] << 8 | out[2] << 16 | out[3] << 24);
  };
  EXPECT_EQ(convert(bgr, 24, 32, 7), 0x0081FC18u);
  EXPECT_EQ(convert(bgra, 32, 32, 7), 0x0081FC18u);                       // alpha dropped
  EXPECT_EQ(convert(bgr, 24, 24, 5), 0x5581FC18u);                        // three bytes only
  EXPECT_EQ(convert(word, 16, 32, 7), 0x00F8F808u);                       // channels times 8
  EXPECT_EQ(convert(word, 16, 24, 5), 0x55F8F808u);
  EXPECT_EQ(convert(word, 16, 16, 2), 0x55557FE1u);                       // 5-5-5 screen: the word
  EXPECT_EQ(convert(word, 16, 16, 3), 0x5555FFC1u);                       // 5-6-5: lowest green bit 0
  EXPECT_EQ(convert(bgr, 24, 16, 2), (0x81u / 8) << 10 | (0xFCu / 8) << 5 | 0x18 / 8 | 0x55550000u);
  EXPECT_EQ(convert(bgr, 24, 16, 3), (0x81u / 8) << 11 | (0xFCu / 4) << 5 | 0x18 / 8 | 0x55550000u);
  // Screens that keep red in the lowest byte get red there.
  EXPECT_EQ(convert(bgr, 24, 32, 6), 0x0018FC81u);
  EXPECT_EQ(convert(word, 16, 24, 4), 0x5508F8F8u);
  // Depths without a conversion are left alone.
  EXPECT_EQ(convert(bgr, 24, 8, 1), 0x55555555u);

  // Rows: a bottom-up source fills the surface from its last row, and source
  // rows are stepped over with their padding (3 pixels at 24 bits: 3 bytes).
  const uint8_t rows[2 * 12] = {1, 1, 1, 2, 2, 2, 3, 3, 3, 9, 9, 9, 4, 4, 4, 5, 5, 5, 6, 6, 6, 9, 9, 9};
  uint8_t surface[2][16] = {};
  SpritePixelsConvert(&surface[0][0], 16, rows, 3, 2, 24, 1, 32, 7);
  EXPECT_EQ(surface[1][0], 1);
  EXPECT_EQ(surface[1][8], 3);
  EXPECT_EQ(surface[0][0], 4);
  EXPECT_EQ(surface[0][8], 6);
  EXPECT_EQ(surface[0][12], 0);  // nothing beyond the width
}

TEST_F(SpriteTest, KeyedDrawingLeavesOutBlack) {
  Open();
  ASSERT_NE(Load(1, PngOf(Grid, 5, 3)), 0);
  ASSERT_NE(Load(2, PngOf(Grid, 5, 3, true)), 0);
  ScreenClear(0xFF0000);  // blue
  EXPECT_EQ(SpriteDrawKeyed(1, 10, 10), DD_OK);
  EXPECT_EQ(SpriteDraw(1, 20, 10), DD_OK);
  EXPECT_EQ(SpriteDrawKeyed(2, 30, 10), DD_OK);
  ScreenPresent();
  for (int32_t y = 0; y < 3; y++)
    for (int32_t x = 0; x < 5; x++) {
      uint32_t c = Grid[y * 5 + x];
      EXPECT_EQ(Frame(10 + x, 10 + y), c ? c : 0x0000FF) << x << "," << y;
      EXPECT_EQ(Frame(20 + x, 10 + y), c) << x << "," << y;
      // The alpha channel (0 everywhere) plays no part.
      EXPECT_EQ(Frame(30 + x, 10 + y), c ? c : 0x0000FF) << x << "," << y;
    }
  EXPECT_EQ(Frame(15, 10), 0x0000FFu);
}

TEST(SpriteClip, RectanglesAtTheEdges) {
  Sprite sprite = {};
  sprite.width = sprite.height = 40;
  struct Case {
    int32_t x, y;
    int32_t shown, outX, outY;
    RECT rect;
  } cases[] = {
      {-10, -5, 1, 0, 0, {10, 5, 40, 40}},   {620, 470, 1, 620, 470, {0, 0, 20, 10}},
      {640, 0, 0, 0, 0, {}},                 {-40, 0, 0, 0, 0, {}},
      {0, 480, 0, 0, 0, {}},                 {0, -40, 0, 0, 0, {}},
      {-39, -39, 1, 0, 0, {39, 39, 40, 40}}, {100, 200, 1, 100, 200, {0, 0, 40, 40}},
      {INT32_MIN, 0, 0, 0, 0, {}},           {INT32_MAX, 0, 0, 0, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
    int32_t x = c.x, y = c.y;
    RECT rect = {};
    ASSERT_EQ(SpriteClip(&sprite, 640, 480, &x, &y, &rect), c.shown);
    if (!c.shown) continue;
    EXPECT_EQ(x, c.outX);
    EXPECT_EQ(y, c.outY);
    EXPECT_EQ(rect.left, c.rect.left);
    EXPECT_EQ(rect.top, c.rect.top);
    EXPECT_EQ(rect.right, c.rect.right);
    EXPECT_EQ(rect.bottom, c.rect.bottom);
  }
  // A sprite wider than the target is cut on both sides; the drawn part starts at its source corner.
  sprite.width = 700;
  sprite.sourceX = 3;
  sprite.sourceY = 2;
  int32_t x = -10, y = 0;
  RECT rect;
  ASSERT_EQ(SpriteClip(&sprite, 640, 480, &x, &y, &rect), 1);
  EXPECT_EQ(rect.left, 13);
  EXPECT_EQ(rect.right, 653);
  EXPECT_EQ(rect.top, 2);
  EXPECT_EQ(rect.bottom, 42);
}

TEST_F(SpriteTest, ClippedDrawsShowTheRightPart) {
  Open();
  // Every pixel of a 40 x 40 sprite tells where it is.
  std::vector<uint32_t> colours;
  for (uint32_t y = 0; y < 40; y++)
    for (uint32_t x = 0; x < 40; x++) colours.push_back((x * 6 + 1) << 16 | (y * 6 + 1) << 8 | 0x80);
  ASSERT_NE(Load(1, PngOf(colours, 40, 40)), 0);
  ScreenClear(0);
  EXPECT_EQ(SpriteDraw(1, -10, -5), DD_OK);
  EXPECT_EQ(SpriteDraw(1, 620, 470), DD_OK);
  EXPECT_EQ(SpriteDraw(1, 640, 0), 0);
  EXPECT_EQ(SpriteDraw(1, -40, 0), 0);
  ScreenPresent();
  EXPECT_EQ(Frame(0, 0), colours[5 * 40 + 10]);
  EXPECT_EQ(Frame(29, 34), colours[39 * 40 + 39]);
  EXPECT_EQ(Frame(30, 0), 0u);
  EXPECT_EQ(Frame(0, 35), 0u);
  EXPECT_EQ(Frame(620, 470), colours[0]);
  EXPECT_EQ(Frame(639, 479), colours[9 * 40 + 19]);
  EXPECT_EQ(Frame(619, 479), 0u);
}

TEST_F(SpriteTest, NumbersAndTheTable) {
  Open();
  Bytes image = PngOf(Grid, 5, 3);
  // Dynamically numbered sprites: the chosen number works like any other.
  intptr_t a = Load(-1, image);
  intptr_t b = Load(-1, BmpOf(Grid, 5, 3, 8));
  ASSERT_NE(a, 0);
  ASSERT_NE(b, 0);
  EXPECT_NE(a, -1);
  EXPECT_NE(a, b);
  EXPECT_EQ(Pixels(static_cast<int32_t>(b)), Grid);
  EXPECT_EQ(SpriteDraw(static_cast<int32_t>(a), 0, 0), DD_OK);
  EXPECT_NE(SpriteFree(static_cast<int32_t>(a)), 0);
  EXPECT_EQ(SpriteDraw(static_cast<int32_t>(a), 0, 0), 0);
  EXPECT_EQ(SpriteFree(static_cast<int32_t>(a)), 0);
  // A failed load with -1 leaves nothing behind under any number.
  int32_t before = SpriteCount();
  uint64_t nodes = KernelHeapBlockCount(ObjectListHeap);
  EXPECT_EQ(Load(-1, Bytes{'n', 'o', 'p', 'e'}), 0);
  EXPECT_EQ(SpriteCount(), before);
  EXPECT_EQ(KernelHeapBlockCount(ObjectListHeap), nodes);

  // Tile numbers beyond the first 64 slots grow the table.
  ASSERT_NE(Load(501, image), 0);
  EXPECT_EQ(Pixels(501), Grid);
  // A second image under a used number frees the first (and its saved pixels).
  SpriteSaveAll();
  ASSERT_NE(Get(501)->savedPixels, nullptr);
  uint64_t blocks = KernelHeapBlockCount(MainHeap);
  ASSERT_NE(Load(501, BmpOf(BlackWhite, 9, 2, 1)), 0);
  EXPECT_EQ(KernelHeapBlockCount(MainHeap), blocks - 1);
  EXPECT_EQ(Get(501)->width, 9);
  EXPECT_EQ(Get(501)->savedPixels, nullptr);
  // A failed load under a used number leaves no sprite there.
  EXPECT_EQ(Load(501, Bytes{'B', 'M', 1}), 0);
  EXPECT_EQ(Get(501), nullptr);
  EXPECT_EQ(SpriteDraw(501, 0, 0), 0);
  EXPECT_EQ(SpriteDrawKeyed(501, 0, 0), 0);
  EXPECT_EQ(SpriteKeySet(501, 0xFFFFFF), 0u);
  EXPECT_EQ(SpriteFree(501), 0);
}

TEST_F(SpriteTest, DefaultKeyChangesOnlyLaterSprites) {
  Open();
  ASSERT_NE(Load(1, BmpOf(BlackWhite, 9, 2, 1)), 0);
  EXPECT_EQ(SpriteKeySet(-1, 0xFFFFFF), 0xFFFFFFu);
  EXPECT_EQ(SpriteKeyDefault.dwColorSpaceLowValue, 0xFFFFFFu);
  EXPECT_EQ(SpriteKeyDefault.dwColorSpaceHighValue, 0xFFFFFFu);
  ASSERT_NE(Load(2, BmpOf(BlackWhite, 9, 2, 1)), 0);
  EXPECT_EQ(Key(1), 0u);
  EXPECT_EQ(Key(2), 0xFFFFFFu);
  ScreenClear(0xFF0000);
  SpriteDrawKeyed(1, 0, 0);
  SpriteDrawKeyed(2, 0, 10);
  ScreenPresent();
  EXPECT_EQ(Frame(0, 0), 0xFFFFFFu);  // white drawn, black left out
  EXPECT_EQ(Frame(1, 0), 0x0000FFu);
  EXPECT_EQ(Frame(0, 10), 0x0000FFu);  // white left out, black drawn
  EXPECT_EQ(Frame(1, 10), 0x000000u);
  // A key for one sprite, in the screen's format (0x00BBGGRR in: red).
  EXPECT_EQ(SpriteKeySet(1, 0x0000FF), static_cast<uint32_t>(DD_OK));
  EXPECT_EQ(Key(1), 0xFF0000u);
  EXPECT_EQ(Key(2), 0xFFFFFFu);
  SpriteKeySet(-1, 0);
}

TEST_F(SpriteTest, LostDisplayGivesEveryPixelBack) {
  Open();
  ASSERT_NE(Load(1, PngOf(Grid, 5, 3)), 0);
  ASSERT_NE(Load(70, BmpOf(Grid, 5, 3, 8, false, true)), 0);
  intptr_t dynamic = Load(-1, PngOf(Grid, 5, 3, true));
  ASSERT_NE(dynamic, 0);
  int32_t numbers[3] = {1, 70, static_cast<int32_t>(dynamic)};
  std::vector<uint32_t> before[3];
  for (int i = 0; i < 3; i++) before[i] = Pixels(numbers[i]);

  HeadlessSetForeground(false);
  ScreenPresent();
  EXPECT_EQ(DisplayActive, 0);
  for (int32_t n : numbers) {
    ASSERT_NE(Get(n)->savedPixels, nullptr) << n;
    EXPECT_EQ(SpriteDraw(n, 0, 0), 0);  // nothing is drawn while away
  }
  EXPECT_TRUE(Pixels(1).empty());  // the surface is lost

  HeadlessSetForeground(true);
  ScreenPresent();  // the flip reports the loss and the sprites come back
  ScreenPresent();
  EXPECT_EQ(DisplayActive, 1);
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(Get(numbers[i])->savedPixels, nullptr);
    EXPECT_EQ(Pixels(numbers[i]), before[i]) << numbers[i];
  }
  ScreenClear(0);
  EXPECT_EQ(SpriteDraw(1, 0, 0), DD_OK);
  ScreenPresent();
  EXPECT_EQ(Frame(0, 0), Grid[0]);
}

// A failed load under a reused dynamic number leaves no record: none for the
// restore after a lost display to call through, none left in the list.
TEST_F(SpriteTest, FailedReloadOfADynamicNumberLeavesNoRecord) {
  Open();
  ASSERT_NE(Load(1, PngOf(Grid, 5, 3)), 0);
  uint64_t nodes = KernelHeapBlockCount(ObjectListHeap);
  intptr_t dynamic = Load(-1, PngOf(Grid, 5, 3));
  ASSERT_NE(dynamic, 0);
  int32_t number = static_cast<int32_t>(dynamic);
  int32_t count = SpriteCount();
  EXPECT_EQ(Load(number, Bytes{'n', 'o', 'p', 'e'}), 0);
  EXPECT_EQ(Get(number), nullptr);
  EXPECT_EQ(ObjectFind(SpriteTable, number), nullptr);
  EXPECT_EQ(SpriteCount(), count - 1);
  EXPECT_EQ(KernelHeapBlockCount(ObjectListHeap), nodes);
  EXPECT_EQ(SpriteFree(number), 0);

  HeadlessSetForeground(false);
  ScreenPresent();
  HeadlessLoseDisplay();
  HeadlessSetForeground(true);
  ScreenPresent();  // the lost flip restores every sprite
  ScreenPresent();
  EXPECT_EQ(DisplayActive, 1);
  EXPECT_EQ(Pixels(1), Grid);
}

// Every surface is charged at 4 bytes per pixel until it is freed; a load
// that would pass the budget fails before it allocates its pixels.
TEST_F(SpriteTest, SpriteMemoryIsChargedAndBounded) {
  Open(16);
  int64_t base = SpriteMemoryInUse();
  ASSERT_NE(Load(1, PngOf(Grid, 5, 3)), 0);
  intptr_t dynamic = Load(-1, BmpOf(Grid, 5, 3, 8));
  ASSERT_NE(dynamic, 0);
  EXPECT_EQ(SpriteMemoryInUse(), base + 2 * 5 * 3 * 4);
  ASSERT_NE(Load(1, BmpOf(BlackWhite, 9, 2, 1)), 0);  // replaces the first
  EXPECT_EQ(SpriteMemoryInUse(), base + (5 * 3 + 9 * 2) * 4);
  SpriteFree(1);
  SpriteFree(static_cast<int32_t>(dynamic));
  EXPECT_EQ(SpriteMemoryInUse(), base);

  // 4096 x 4096 8-bit run-length images of a few bytes each: 64 MiB of sprite
  // memory and a 48 MiB expansion buffer apiece, so the fourth is refused.
  std::vector<uint8_t> palette(1024, 0);
  Bytes huge = BmpFile(4096, 4096, 8, 1, palette, Bytes{0, 1});
  for (int32_t n = 10; n < 13; n++) ASSERT_NE(Load(n, huge), 0) << n;
  EXPECT_EQ(SpriteMemoryInUse(), base + 3 * int64_t(4096) * 4096 * 4);
  uint64_t blocks = KernelHeapBlockCount(MainHeap);
  uint64_t allocations = KernelHeapAllocations();
  EXPECT_EQ(Load(13, huge), 0);
  EXPECT_EQ(Get(13), nullptr);
  EXPECT_EQ(KernelHeapBlockCount(MainHeap), blocks);
  EXPECT_LE(KernelHeapAllocations() - allocations, 1u);  // the sprite table's slot growth at most
  for (int32_t n = 10; n < 13; n++) SpriteFree(n);
  EXPECT_EQ(SpriteMemoryInUse(), base);
  EXPECT_NE(Load(13, huge), 0);
  SpriteFree(13);
}

TEST_F(SpriteTest, LoadsFromFiles) {
  Open();
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("tessel_sprites_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  auto write = [&](const char* name, const Bytes& bytes) {
    std::FILE* f = std::fopen((dir / name).c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    std::string path = (dir / name).string();
    return std::u16string(path.begin(), path.end());
  };
  Bytes png = PngOf(Grid, 5, 3);
  std::u16string tile = write("tile.png", png);
  std::u16string bitmap = write("tile.bmp", BmpOf(Grid, 5, 3, 24));
  std::u16string cut = write("cut.png", Bytes(png.begin(), png.begin() + 30));
  intptr_t surface = SpriteLoad(1, tile.c_str());
  ASSERT_NE(surface, 0);
  EXPECT_EQ(surface, reinterpret_cast<intptr_t>(Get(1)->surface));
  EXPECT_EQ(Pixels(1), Grid);
  intptr_t chosen = SpriteLoad(-1, bitmap.c_str());
  ASSERT_NE(chosen, 0);
  EXPECT_EQ(Pixels(static_cast<int32_t>(chosen)), Grid);
  EXPECT_EQ(SpriteLoad(2, cut.c_str()), 0);
  EXPECT_EQ(SpriteLoad(2, u"/no/such/tile.png"), 0);
  EXPECT_EQ(Get(2), nullptr);
  std::filesystem::remove_all(dir);
}

TEST_F(SpriteTest, FailuresLeaveNoSprite) {
  Bytes png = PngOf(Grid, 5, 3);
  Open();
  // Without a screen depth every load fails at the depth check, and a palette
  // image cannot go onto a true-colour screen or the other way round.
  int32_t depth = DisplayDepth;
  DisplayDepth = 0;
  EXPECT_EQ(Load(1, png), 0);
  DisplayDepth = depth;
  Sprite record;
  EXPECT_EQ(SpriteSurfaceCreate(&record, 4, 4, 8, 0), nullptr);
  EXPECT_EQ(record.width, 4);
  EXPECT_EQ(record.fullHeight, 4);
  EXPECT_EQ(record.bits, 8);
  EXPECT_EQ(SpriteSurfaceCreate(&record, 40000, 4, 32, 0), nullptr);
  // Refused surfaces and allocations.
  HeadlessSetFailures(HeadlessFailCreateSurface);
  EXPECT_EQ(Load(1, png), 0);
  EXPECT_EQ(Get(1), nullptr);
  HeadlessSetFailures(0);
  KernelHeapFailAfter(0);
  EXPECT_EQ(Load(1, png), 0);
  EXPECT_EQ(Load(2, BmpOf(Grid, 5, 3, 8)), 0);
  KernelHeapFailAfter(-1);
  EXPECT_EQ(Get(1), nullptr);
  // A refused lock: the numbered sprite keeps its surface, a dynamic one is gone.
  int32_t count = SpriteCount();
  HeadlessSetFailures(HeadlessFailLock);
  EXPECT_EQ(Load(3, png), 0);
  EXPECT_EQ(Load(-1, png), 0);
  HeadlessSetFailures(0);
  EXPECT_EQ(SpriteCount(), count + 1);
  // Images too large for the record or the pixel budget.
  PngImage wide;
  wide.width = SPRITE_MAX_SIDE + 1;
  wide.height = 1;
  wide.colourType = PNG_COLOR_TYPE_GRAY;
  wide.bitDepth = 1;
  wide.rows.assign((wide.width + 7) / 8, 0);
  EXPECT_EQ(Load(4, PngFile(wide)), 0);
  Bytes tall = BmpFile(1, 40000, 1, 0, {0, 0, 0, 0, 255, 255, 255, 0}, Bytes(160000, 0));
  EXPECT_EQ(Load(4, tall), 0);
  EXPECT_EQ(Load(4, Bytes{}), 0);
  EXPECT_EQ(SpriteFromMemory(4, nullptr, 100, 0), 0);
  EXPECT_EQ(Get(4), nullptr);
}
