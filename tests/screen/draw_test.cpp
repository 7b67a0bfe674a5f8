// Text drawing on the back buffer: brackets, the end position, the text
// colour left as it was, transparent and opaque text cells.
#include "screen/draw.h"

#include "screen_fixture.h"

namespace {

const Bgr Blue = {0xFF, 0, 0};

class DrawTest : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    DrawSystemInit();
    ASSERT_EQ(ScreenOpen(200, 60, 32, u"Tessel"), 1);
    ScreenClear(0xFF0000);  // blue
  }
  void TearDown() override {
    DrawEnd();
    ScreenTest::TearDown();
  }

  // Pixels of the rectangle [x0, x1) x [y0, y1) of the last frame that satisfy the test.
  template <typename Test>
  int Count(int x0, int y0, int x1, int y1, Test test) {
    HeadlessFrame frame = HeadlessLastFrame();
    int n = 0;
    for (int y = y0; y < y1 && y < frame.height; y++)
      for (int x = x0; x < x1 && x < frame.width; x++) n += test(FramePixel(frame, x, y)) ? 1 : 0;
    return n;
  }
  static bool IsBlue(Bgr c) { return c == Blue; }
  static bool IsWhitish(Bgr c) { return c.r > 0xC0 && c.g > 0xC0 && c.b > 0xC0; }
};

}  // namespace

TEST_F(DrawTest, CallsOutsideABracketReturnZero) {
  EXPECT_EQ(DrawModeSet(1), 0);
  EXPECT_EQ(DrawString(10, 10, u"ESC Quit", 0xFFFFFF), 0);
  EXPECT_EQ(DrawEnd(), 0);
  EXPECT_EQ(DrawBegin(nullptr), nullptr);
  EXPECT_EQ(DrawString(10, 10, u"ESC Quit", 0xFFFFFF), 0);
  // A refused context: nothing to draw on, nothing drawn.
  HeadlessSetFailures(HeadlessFailGetDC);
  EXPECT_EQ(DrawBegin(ScreenTarget()), nullptr);
  EXPECT_EQ(DrawModeSet(1), 0);
  EXPECT_EQ(DrawString(10, 10, u"ESC Quit", 0xFFFFFF), 0);
  EXPECT_EQ(DrawEnd(), 0);
  HeadlessSetFailures(0);
  ScreenPresent();
  EXPECT_EQ(Count(0, 0, 200, 60, IsBlue), 200 * 60);
}

TEST_F(DrawTest, StringReturnsWhereTheTextEnded) {
  ASSERT_NE(DrawBegin(ScreenTarget()), nullptr);
  EXPECT_EQ(DrawModeSet(1), OPAQUE);  // the context's default background mode
  int32_t end = DrawString(10, 10, u"ESC Quit", 0xFFFFFF);
  EXPECT_GT(end, 10 + 8 * 4);
  EXPECT_LT(end, 10 + 8 * 16);
  EXPECT_EQ(DrawString(30, 40, u"", 0xFFFFFF), 30);
  EXPECT_EQ(DrawString(-7, 40, nullptr, 0xFFFFFF), -7);
  // A longer text ends further right.
  EXPECT_GT(DrawString(10, 30, u"ESC Quit ESC Quit", 0xFFFFFF), end);
  EXPECT_NE(DrawEnd(), 0);
  EXPECT_EQ(BackBufferDC, nullptr);
  ScreenPresent();
  // The glyphs lie between x and the end position, at the given height.
  EXPECT_GT(Count(10, 10, end, 30, IsWhitish), 20);
  EXPECT_EQ(Count(0, 0, 10, 30, IsWhitish), 0);
  EXPECT_EQ(Count(end + 2, 0, 200, 30, IsWhitish), 0);
  EXPECT_EQ(Count(0, 0, 200, 9, IsWhitish), 0);
}

TEST_F(DrawTest, TextColourIsLeftAsItWas) {
  ASSERT_NE(DrawBegin(ScreenTarget()), nullptr);
  DrawModeSet(1);
  int32_t white = DrawString(10, 5, u"Tessel", 0xFFFFFF);
  // Black is the bracket's text colour, so this draws without setting a colour:
  // it shows black only if the white was taken back.
  int32_t black = DrawString(10, 30, u"Tessel", 0x000000);
  DrawEnd();
  ScreenPresent();
  EXPECT_GT(Count(10, 5, white, 25, IsWhitish), 20);
  EXPECT_EQ(Count(10, 30, black, 50, IsWhitish), 0);
  EXPECT_GT(Count(10, 30, black, 50, [](Bgr c) { return c.b < 0x40; }), 20);
}

TEST_F(DrawTest, TransparentAndOpaqueTextCells) {
  ASSERT_NE(DrawBegin(ScreenTarget()), nullptr);
  EXPECT_EQ(DrawModeSet(1), OPAQUE);
  int32_t clearEnd = DrawString(10, 5, u"i i", 0x0000FF);  // red text
  EXPECT_EQ(DrawModeSet(0), TRANSPARENT);
  int32_t boxEnd = DrawString(10, 30, u"i i", 0x0000FF);
  DrawEnd();
  ScreenPresent();
  // Around the glyphs the blue stays in transparent mode...
  int cell = (clearEnd - 10) * 16;
  EXPECT_GT(Count(10, 5, clearEnd, 21, IsBlue), cell / 2);
  // ...and is covered by the white background in opaque mode.
  EXPECT_EQ(Count(10, 30, boxEnd, 46, IsBlue), 0);
  EXPECT_GT(Count(10, 30, boxEnd, 46, IsWhitish), cell / 2);
}

TEST_F(DrawTest, BeginTwiceGivesTheFirstContextBack) {
  ASSERT_NE(DrawBegin(ScreenTarget()), nullptr);
  EXPECT_NE(BackBufferDC, nullptr);
  // The second target is asked for while the first context is still held.
  DrawTarget* second = ScreenTarget();
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(DrawBegin(second), nullptr);
  EXPECT_EQ(BackBufferDC, nullptr);  // closed by the second DrawBegin
  EXPECT_EQ(DrawString(10, 10, u"x", 0xFFFFFF), 0);
  HDC dc = DrawBegin(ScreenTarget());
  EXPECT_NE(dc, nullptr);
  EXPECT_EQ(dc, BackBufferDC);
  EXPECT_NE(DrawEnd(), 0);
  EXPECT_EQ(DrawEnd(), 0);
}
