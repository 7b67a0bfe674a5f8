// The screen with real sprites: an open frees the sprites loaded before it,
// and a lost display gives back the pixels saved when the window went away.
#include <cstring>
#include <vector>

#include "runtime/objects.h"
#include "screen/sprites.h"
#include "screen_fixture.h"

namespace {

// A 24-bit bottom-up BMP of one colour, 4 x 4 pixels.
std::vector<uint8_t> SolidBitmap(uint8_t blue, uint8_t green, uint8_t red) {
  const int32_t side = 4, rowBytes = side * 3, pixelBytes = rowBytes * side;
  std::vector<uint8_t> file(54 + pixelBytes, 0);
  auto put32 = [&](size_t at, uint32_t value) { std::memcpy(&file[at], &value, 4); };
  file[0] = 'B';
  file[1] = 'M';
  put32(2, static_cast<uint32_t>(file.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, side);
  put32(22, side);
  file[26] = 1;
  file[28] = 24;
  put32(34, pixelBytes);
  for (int32_t i = 0; i < side * side; i++) {
    file[54 + i * 3] = blue;
    file[55 + i * 3] = green;
    file[56 + i * 3] = red;
  }
  return file;
}

int32_t SpritesPresent() {
  int32_t count = 0, number = 0;
  ObjectEnumStart(SpriteTable);
  while (ObjectEnumNext(SpriteTable, &number)) count++;
  return count;
}

}  // namespace

TEST_F(ScreenTest, SecondOpenFreesEverySprite) {
  ASSERT_EQ(ScreenOpen(64, 48, 32, u"Tessel"), 1);
  std::vector<uint8_t> red = SolidBitmap(0, 0, 0xFF);
  ASSERT_NE(SpriteFromMemory(5, red.data(), static_cast<uint32_t>(red.size()), 0), 0);
  ASSERT_NE(SpriteFromMemory(501, red.data(), static_cast<uint32_t>(red.size()), 0), 0);
  intptr_t dynamic = SpriteFromMemory(-1, red.data(), static_cast<uint32_t>(red.size()), 0);
  ASSERT_NE(dynamic, 0);
  ASSERT_EQ(SpritesPresent(), 3);
  ASSERT_EQ(ScreenOpen(64, 48, 32, u"Tessel"), 1);
  EXPECT_EQ(SpritesPresent(), 0);
  EXPECT_EQ(ObjectGet(SpriteTable, 5), nullptr);
  EXPECT_EQ(ObjectGet(SpriteTable, 501), nullptr);
  EXPECT_EQ(SpriteDraw(5, 0, 0), 0);
  // A failed open frees them as well.
  ASSERT_NE(SpriteFromMemory(6, red.data(), static_cast<uint32_t>(red.size()), 0), 0);
  EXPECT_EQ(ScreenOpen(0, 48, 32, u"Tessel"), 0);
  EXPECT_EQ(SpritesPresent(), 0);
}

TEST_F(ScreenTest, LostDisplayGetsTheSavedSpritePixelsBack) {
  ASSERT_EQ(ScreenOpen(64, 48, 32, u"Tessel"), 1);
  EXPECT_EQ(SpriteSaveHook, &SpriteSaveAll);
  std::vector<uint8_t> green = SolidBitmap(0, 0xFF, 0);
  ASSERT_NE(SpriteFromMemory(7, green.data(), static_cast<uint32_t>(green.size()), 0), 0);
  ScreenClear(0);
  EXPECT_EQ(SpriteDraw(7, 10, 10), DD_OK);
  ScreenPresent();
  EXPECT_EQ(FramePixel(HeadlessLastFrame(), 11, 11), (Bgr{0, 0xFF, 0}));

  HeadlessSetForeground(false);  // saves the pixels, then the display is taken away
  ScreenPresent();
  Sprite* sprite = static_cast<Sprite*>(ObjectGet(SpriteTable, 7));
  ASSERT_NE(sprite, nullptr);
  EXPECT_NE(sprite->savedPixels, nullptr);
  EXPECT_EQ(DisplayActive, 0);

  HeadlessSetForeground(true);
  ScreenPresent();  // the flip reports the loss: mode, surfaces and sprites come back
  EXPECT_EQ(sprite->savedPixels, nullptr);
  ScreenClear(0);
  EXPECT_EQ(SpriteDraw(7, 20, 20), DD_OK);
  ScreenPresent();
  HeadlessFrame frame = HeadlessLastFrame();
  EXPECT_EQ(FramePixel(frame, 21, 21), (Bgr{0, 0xFF, 0}));
  EXPECT_EQ(FramePixel(frame, 11, 11), (Bgr{0, 0, 0}));
}
