// The image decoder registry and the PNG decoder on PNGs written with libpng:
// every colour type the system reads, delivered as blue-green-red rows of the
// size the probe announced, and damaged files that stop cleanly.
#include <gtest/gtest.h>

#include <cstdlib>

#include "images.h"
#include "screen/decoders.h"
#include "screen/sprites.h"

namespace {

// Decodes a PNG the way the sprite loader does, into rows of the announced
// size and exactly height rows (a write past them is a sanitizer finding);
// the row padding is filled with 0xEE beforehand.
struct Decoded {
  int32_t probe = 0;
  uint32_t width = 0, height = 0;
  int32_t rowSize = 0, pixelBytes = 0;
  Bytes rows;
  const uint8_t* At(uint32_t x, uint32_t y) const { return rows.data() + y * rowSize + x * pixelBytes; }
};

Decoded Decode(const Bytes& file) {
  Decoded d;
  // An exact-size heap copy, so that a read past the end is a sanitizer finding.
  uint8_t* copy = static_cast<uint8_t*>(std::malloc(file.size() ? file.size() : 1));
  if (!file.empty()) std::memcpy(copy, file.data(), file.size());
  d.probe = ImageDecoderProbe(copy, static_cast<uint32_t>(file.size()));
  if (d.probe) {
    d.width = ImageDecoderWidth();
    d.height = ImageDecoderHeight();
    d.pixelBytes = d.probe == 2 ? 4 : 3;
    d.rowSize = SpriteRowSize(static_cast<int32_t>(d.width), d.pixelBytes * 8);
    d.rows.assign(static_cast<size_t>(d.rowSize) * d.height, 0xEE);
    ImageDecoderDecode(d.rows.data(), d.rowSize);
  }
  std::free(copy);
  return d;
}

// An image whose sample at (x, y, channel) is a fixed function of its place.
uint8_t Sample(uint32_t x, uint32_t y, int channel) { return static_cast<uint8_t>(x * 29 + y * 71 + channel * 101); }

PngImage Rgb(uint32_t width, uint32_t height, int channels, int interlace = PNG_INTERLACE_NONE) {
  PngImage p;
  p.width = width;
  p.height = height;
  p.colourType = channels == 4 ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB;
  p.interlace = interlace;
  for (uint32_t y = 0; y < height; y++)
    for (uint32_t x = 0; x < width; x++)
      for (int c = 0; c < channels; c++) p.rows.push_back(Sample(x, y, c));
  return p;
}

// Packs grey levels of the given depth (each below 2^depth) into PNG rows.
PngImage Grey(uint32_t width, uint32_t height, int depth, int colourType = PNG_COLOR_TYPE_GRAY) {
  PngImage p;
  p.width = width;
  p.height = height;
  p.bitDepth = depth;
  p.colourType = colourType;
  uint32_t rowBytes = (width * depth + 7) / 8;
  p.rows.assign(static_cast<size_t>(rowBytes) * height, 0);
  for (uint32_t y = 0; y < height; y++)
    for (uint32_t x = 0; x < width; x++) {
      uint32_t level = (x + y) % (1u << depth);
      uint32_t bit = x * depth;
      p.rows[y * rowBytes + bit / 8] |= static_cast<uint8_t>(level << (8 - depth - bit % 8));
    }
  return p;
}

class PngTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ImageDecoderReset();
    PngDecoderUse();
  }
};

int32_t FakeProbeResult;
int32_t FakeProbe(void*, const uint8_t* image, uint32_t) { return image[0] == 'F' ? FakeProbeResult : 0; }
void FakeDecode(uint8_t* destination, int32_t, int32_t) {
  if (destination) destination[0] = 'f';
}
uint32_t FakeWidth() { return 77; }
uint32_t FakeHeight() { return 88; }

}  // namespace

TEST(ImageDecoderRegistry, FirstDecoderThatRecognisesTheImageBecomesCurrent) {
  ImageDecoderReset();
  EXPECT_EQ(ImageDecoderCount, 0);
  EXPECT_EQ(ImageDecoderWidth(), 0u);
  PngDecoderUse();
  PngDecoderUse();
  EXPECT_EQ(ImageDecoderCount, 1);
  ImageDecoder fake = {FakeProbe, FakeDecode, FakeWidth, FakeHeight};
  ImageDecoderRegister(&fake);
  EXPECT_EQ(ImageDecoderCount, 2);

  FakeProbeResult = 2;
  uint8_t image[16] = {'F'};
  EXPECT_EQ(ImageDecoderProbe(image, sizeof image), 2);
  EXPECT_EQ(ImageDecoderCurrent, &fake);
  EXPECT_EQ(ImageDecoderWidth(), 77u);
  EXPECT_EQ(ImageDecoderHeight(), 88u);
  uint8_t out[4] = {};
  ImageDecoderDecode(out, 4);
  EXPECT_EQ(out[0], 'f');
  // Nothing recognised: 0, and the current decoder stays.
  image[0] = 'X';
  EXPECT_EQ(ImageDecoderProbe(image, sizeof image), 0);
  EXPECT_EQ(ImageDecoderCurrent, &fake);

  // The registry holds at most IMAGE_DECODERS_MAX decoders.
  for (int i = 0; i < 2 * IMAGE_DECODERS_MAX; i++) ImageDecoderRegister(&fake);
  EXPECT_EQ(ImageDecoderCount, IMAGE_DECODERS_MAX);
  // Emptied, the PNG decoder registers again.
  ImageDecoderReset();
  EXPECT_EQ(ImageDecoderCount, 0);
  EXPECT_EQ(ImageDecoderCurrent, nullptr);
  PngDecoderUse();
  EXPECT_EQ(ImageDecoderCount, 1);
}

TEST_F(PngTest, RgbAndRgbaArriveBlueFirst) {
  for (int channels : {3, 4}) {
    SCOPED_TRACE(channels);
    Decoded d = Decode(PngFile(Rgb(7, 5, channels)));
    ASSERT_EQ(d.probe, channels == 4 ? 2 : 1);
    ASSERT_EQ(d.width, 7u);
    ASSERT_EQ(d.height, 5u);
    for (uint32_t y = 0; y < 5; y++)
      for (uint32_t x = 0; x < 7; x++) {
        const uint8_t* p = d.At(x, y);
        ASSERT_EQ(p[0], Sample(x, y, 2));
        ASSERT_EQ(p[1], Sample(x, y, 1));
        ASSERT_EQ(p[2], Sample(x, y, 0));
        if (channels == 4) {
          ASSERT_EQ(p[3], Sample(x, y, 3));
        }
      }
    // The padding between rows (7 mod 4 = 3 bytes at 24 bits) is left as it was.
    if (channels == 3) {
      for (uint32_t y = 0; y < 5; y++)
        for (int i = 0; i < 3; i++) EXPECT_EQ(d.rows[y * d.rowSize + 21 + i], 0xEE);
    }
  }
}

TEST_F(PngTest, SixteenBitSamplesKeepTheirHighByte) {
  PngImage p = Rgb(3, 2, 3);
  p.bitDepth = 16;
  Bytes wide;
  for (uint8_t s : p.rows) wide.insert(wide.end(), {s, static_cast<uint8_t>(~s)});
  p.rows = wide;
  Decoded d = Decode(PngFile(p));
  ASSERT_EQ(d.probe, 1);
  for (uint32_t y = 0; y < 2; y++)
    for (uint32_t x = 0; x < 3; x++) {
      EXPECT_EQ(d.At(x, y)[0], Sample(x, y, 2));
      EXPECT_EQ(d.At(x, y)[2], Sample(x, y, 0));
    }
  // Grey with alpha at 16 bits: four bytes, grey copied into blue, green and red.
  PngImage ga = Grey(2, 2, 8, PNG_COLOR_TYPE_GRAY_ALPHA);
  ga.bitDepth = 16;
  ga.rows = {0x12, 0x34, 0xAB, 0xCD, 0x56, 0x78, 0x01, 0x02, 0x9A, 0xBC, 0xFF, 0xFF, 0x00, 0x00, 0x80, 0x00};
  Decoded g = Decode(PngFile(ga));
  ASSERT_EQ(g.probe, 2);
  EXPECT_EQ(Bytes(g.At(0, 0), g.At(0, 0) + 4), (Bytes{0x12, 0x12, 0x12, 0xAB}));
  EXPECT_EQ(Bytes(g.At(1, 1), g.At(1, 1) + 4), (Bytes{0x00, 0x00, 0x00, 0x80}));
}

TEST_F(PngTest, PaletteWithTransparencyGivesThreeBytes) {
  for (int depth : {1, 2, 4, 8}) {
    SCOPED_TRACE(depth);
    PngImage p = Grey(6, 3, depth, PNG_COLOR_TYPE_PALETTE);
    uint32_t entries = depth < 4 ? 1u << depth : 8;
    for (uint32_t i = 0; i < entries; i++) p.palette.insert(p.palette.end(), {uint8_t(10 + i), uint8_t(100 + i), uint8_t(200 + i)});
    p.alphas = {0, 128};
    Decoded d = Decode(PngFile(p));
    ASSERT_EQ(d.probe, 1);
    for (uint32_t y = 0; y < 3; y++)
      for (uint32_t x = 0; x < 6; x++) {
        uint32_t index = (x + y) % (1u << depth) % entries;
        // A transparent entry shows its palette colour.
        EXPECT_EQ(Bytes(d.At(x, y), d.At(x, y) + 3),
                  (Bytes{uint8_t(200 + index), uint8_t(100 + index), uint8_t(10 + index)}));
      }
  }
}

TEST_F(PngTest, LowDepthGreyBecomesThreeByteGrey) {
  for (int depth : {1, 2, 4, 8}) {
    for (bool transparency : {false, true}) {
      SCOPED_TRACE(testing::Message() << depth << (transparency ? " with tRNS" : ""));
      PngImage p = Grey(9, 4, depth);
      if (transparency) p.greyKey = 1;
      Decoded d = Decode(PngFile(p));
      ASSERT_EQ(d.probe, 1);
      for (uint32_t y = 0; y < 4; y++)
        for (uint32_t x = 0; x < 9; x++) {
          uint32_t level = (x + y) % (1u << depth);
          uint8_t grey = static_cast<uint8_t>(level * 255 / ((1u << depth) - 1));
          EXPECT_EQ(Bytes(d.At(x, y), d.At(x, y) + 3), (Bytes{grey, grey, grey})) << x << "," << y;
        }
    }
  }
}

TEST_F(PngTest, InterlacedGivesThePixelsOfThePlainImage) {
  PngImage plainRgb = Rgb(13, 11, 3), laced = Rgb(13, 11, 3, PNG_INTERLACE_ADAM7);
  PngImage plainGrey = Grey(13, 11, 1), lacedGrey = Grey(13, 11, 1);
  lacedGrey.interlace = PNG_INTERLACE_ADAM7;
  PngImage plainPal = Grey(13, 11, 2, PNG_COLOR_TYPE_PALETTE);
  plainPal.palette = {1, 2, 3, 40, 50, 60, 70, 80, 90, 200, 210, 220};
  PngImage lacedPal = plainPal;
  lacedPal.interlace = PNG_INTERLACE_ADAM7;
  std::pair<PngImage, PngImage> twins[] = {{plainRgb, laced}, {plainGrey, lacedGrey}, {plainPal, lacedPal}};
  for (auto& [plain, interlaced] : twins) {
    Bytes a = PngFile(plain), b = PngFile(interlaced);
    ASSERT_NE(a, b);
    Decoded da = Decode(a), db = Decode(b);
    ASSERT_EQ(da.probe, 1);
    EXPECT_EQ(da.rows, db.rows);
  }
}

TEST_F(PngTest, DamagedFilesStopCleanly) {
  Bytes file = PngFile(Rgb(16, 16, 3));
  // Cut before the image data ends: the header reads, the decode stops early
  // and the rows it never reached stay as they were.
  size_t idatEnd = file.size() - 12;  // before IEND
  for (size_t size = 0; size < idatEnd; size++) {
    Bytes cut(file.begin(), file.begin() + static_cast<long>(size));
    Decoded d = Decode(cut);
    if (size < 33) {
      EXPECT_EQ(d.probe, 0) << size;  // signature and IHDR incomplete
    }
    if (d.probe && size + 16 < idatEnd) {
      EXPECT_EQ(d.rows.back(), 0xEE) << size;
    }
  }
  // Not a PNG, or too short to tell.
  EXPECT_EQ(Decode(Bytes{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0}).probe, 0);
  EXPECT_EQ(Decode(Bytes(file.begin(), file.begin() + 7)).probe, 0);
  // A broken checksum in the header.
  Bytes crc = file;
  crc[29] ^= 0xFF;
  EXPECT_EQ(Decode(crc).probe, 0);
  // A probe that is never followed by its decode does not disturb the next image.
  ASSERT_EQ(ImageDecoderProbe(file.data(), static_cast<uint32_t>(file.size())), 1);
  Decoded again = Decode(file);
  EXPECT_EQ(again.probe, 1);
  EXPECT_EQ(again.At(15, 15)[2], Sample(15, 15, 0));
}
