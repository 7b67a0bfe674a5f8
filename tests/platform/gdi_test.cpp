// Device contexts over surfaces: stock and created objects, rectangle fills,
// and text: the current position, the pixels it may touch, transparent and
// opaque cells, at every depth.
#include <cstring>
#include <vector>

#include "tests/platform/fixture.h"

namespace {

class TextTest : public DisplayTest {
 protected:
  IDirectDrawSurface7* surface = nullptr;
  HDC dc = nullptr;

  void Make(DWORD depth, int w = 200, int h = 40) {
    ASSERT_EQ(dd->SetCooperativeLevel(FixtureWindow(), DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE), DD_OK);
    ASSERT_EQ(dd->SetDisplayMode(640, 480, depth, 0, 0), DD_OK);
    surface = FixtureOffscreen(dd, (DWORD)w, (DWORD)h);
    ASSERT_NE(surface, nullptr);
    Fill(0x0);
    ASSERT_EQ(surface->GetDC(&dc), DD_OK);
  }
  void Fill(uint32_t pixel) {
    DDBLTFX fx = {};
    fx.dwSize = 100;
    fx.dwFillColor = pixel;
    ASSERT_EQ(surface->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx), DD_OK);
  }
  void TearDown() override {
    if (dc) surface->ReleaseDC(dc);
    if (surface) surface->Release();
    DisplayTest::TearDown();
  }
  // Every pixel of the surface, read under a lock; the context is given back
  // for it and a fresh one (with the defaults) is taken afterwards.
  std::vector<uint32_t> Pixels() {
    surface->ReleaseDC(dc);
    std::vector<uint32_t> out;
    DDSURFACEDESC2 d = {};
    d.dwSize = sizeof d;
    EXPECT_EQ(surface->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DD_OK);
    const int bpp = (int)d.ddpfPixelFormat.dwRGBBitCount / 8;
    for (DWORD y = 0; y < d.dwHeight; y++)
      for (DWORD x = 0; x < d.dwWidth; x++) {
        uint32_t v = 0;
        memcpy(&v, (uint8_t*)d.lpSurface + y * d.lPitch + x * bpp, bpp);
        out.push_back(v);
      }
    surface->Unlock(nullptr);
    EXPECT_EQ(surface->GetDC(&dc), DD_OK);
    return out;
  }
};

TEST_F(TextTest, UpdateCpDrawsAtTheCurrentPositionAndAdvances) {
  Make(32);
  SetTextAlign(dc, TA_UPDATECP);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(255, 255, 255));
  POINT previous;
  ASSERT_TRUE(MoveToEx(dc, 10, 5, &previous));
  ASSERT_TRUE(TextOutW(dc, 0, 0, u"Pos :320", 8));
  ASSERT_TRUE(MoveToEx(dc, 0, 0, &previous));
  const int end = previous.x;
  EXPECT_EQ(previous.y, 5);
  EXPECT_GT(end, 10 + 8 * 5);
  EXPECT_LT(end, 10 + 8 * 16);
  // Text was drawn, only to the right of x 10 and below y 5, within the
  // advance and the line height, in white or its blend with black.
  const std::vector<uint32_t> px = Pixels();
  int lit = 0;
  for (int y = 0; y < 40; y++)
    for (int x = 0; x < 200; x++) {
      const uint32_t v = px[y * 200 + x];
      if (!v) continue;
      lit++;
      EXPECT_GE(x, 10);
      EXPECT_LE(x, end);
      EXPECT_GE(y, 5);
      EXPECT_LT(y, 5 + 24);
      EXPECT_EQ(v & 0xFF, (v >> 8) & 0xFF);  // grey: white over black
    }
  EXPECT_GT(lit, 40);
  // An empty text moves nothing; without TA_UPDATECP the position stays.
  SetTextAlign(dc, TA_UPDATECP);
  MoveToEx(dc, 50, 6, nullptr);
  EXPECT_TRUE(TextOutW(dc, 0, 0, u"", 0));
  MoveToEx(dc, 0, 0, &previous);
  EXPECT_EQ(previous.x, 50);
  EXPECT_EQ(SetTextAlign(dc, TA_NOUPDATECP), (UINT)TA_UPDATECP);
  MoveToEx(dc, 3, 3, nullptr);
  EXPECT_TRUE(TextOutW(dc, 100, 10, u"x", 1));
  MoveToEx(dc, 0, 0, &previous);
  EXPECT_EQ(previous.x, 3);
  EXPECT_FALSE(TextOutW(dc, 0, 0, nullptr, 3));
  EXPECT_FALSE(TextOutW(dc, 0, 0, u"x", -1));
}

TEST_F(TextTest, OpaqueFillsTheCellsTransparentDoesNot) {
  for (DWORD depth : {15u, 16u, 24u, 32u}) {
    SCOPED_TRACE(depth);
    Make(depth);
    SetTextAlign(dc, TA_UPDATECP);
    SetTextColor(dc, RGB(0, 0, 0));
    EXPECT_EQ(SetBkMode(dc, TRANSPARENT), OPAQUE);  // opaque is the default
    MoveToEx(dc, 20, 10, nullptr);
    TextOutW(dc, 0, 0, u"ESC Quit", 8);
    POINT end;
    MoveToEx(dc, 0, 0, &end);
    std::vector<uint32_t> px = Pixels();
    for (uint32_t v : px) ASSERT_EQ(v, 0u);  // black text on black: nothing changes

    SetTextAlign(dc, TA_UPDATECP);
    EXPECT_EQ(SetBkMode(dc, OPAQUE), OPAQUE);
    MoveToEx(dc, 20, 10, nullptr);
    TextOutW(dc, 0, 0, u"ESC Quit", 8);
    px = Pixels();
    const uint32_t white = depth == 15 ? 0x7FFF : depth == 16 ? 0xFFFF : 0xFFFFFF;
    // The cell is the background colour (white by default) around the glyphs.
    EXPECT_EQ(px[10 * 200 + 20], white);
    EXPECT_EQ(px[10 * 200 + end.x - 1], white);
    EXPECT_EQ(px[10 * 200 + end.x], 0u);
    EXPECT_EQ(px[10 * 200 + 19], 0u);
    EXPECT_EQ(px[9 * 200 + 20], 0u);
    int background = 0;
    for (int x = 20; x < end.x; x++) background += px[12 * 200 + x] == white;
    EXPECT_GT(background, 0);

    SetTextAlign(dc, TA_UPDATECP);
    EXPECT_EQ(SetBkColor(dc, RGB(255, 0, 0)), (COLORREF)0xFFFFFF);
    MoveToEx(dc, 20, 10, nullptr);
    TextOutW(dc, 0, 0, u"ESC Quit", 8);
    px = Pixels();
    const uint32_t red = depth == 15 ? 0x7C00 : depth == 16 ? 0xF800 : 0xFF0000;
    EXPECT_EQ(px[10 * 200 + 20], red);
    surface->ReleaseDC(dc);
    dc = nullptr;
    surface->Release();
    surface = nullptr;
  }
}

TEST_F(TextTest, ObjectsAndFills) {
  Make(32, 16, 16);
  HGDIOBJ black = GetStockObject(BLACK_BRUSH);
  HGDIOBJ hollow = GetStockObject(NULL_BRUSH);
  ASSERT_NE(black, nullptr);
  ASSERT_NE(hollow, nullptr);
  HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255));
  HPEN pen = CreatePen(PS_SOLID, 0, RGB(0, 0, 0));
  ASSERT_NE(blue, nullptr);
  ASSERT_NE(pen, nullptr);
  HGDIOBJ firstBrush = SelectObject(dc, blue);
  EXPECT_EQ(firstBrush, GetStockObject(WHITE_BRUSH));
  EXPECT_EQ(SelectObject(dc, black), (HGDIOBJ)blue);
  EXPECT_EQ(SelectObject(dc, pen), GetStockObject(BLACK_PEN));
  EXPECT_EQ(SelectObject(dc, hollow), black);
  EXPECT_EQ(SelectObject(dc, (HGDIOBJ)&dc), nullptr);  // no object

  RECT r = {2, 3, 6, 5};
  EXPECT_EQ(FillRect(dc, &r, blue), 1);
  RECT beyond = {14, 14, 40, 40};  // clipped to the surface
  EXPECT_EQ(FillRect(dc, &beyond, blue), 1);
  EXPECT_EQ(FillRect(dc, &r, hollow), 1);
  std::vector<uint32_t> px = Pixels();
  EXPECT_EQ(px[3 * 16 + 2], 0x0000FFu);
  EXPECT_EQ(px[4 * 16 + 5], 0x0000FFu);
  EXPECT_EQ(px[5 * 16 + 5], 0u);
  EXPECT_EQ(px[3 * 16 + 6], 0u);
  EXPECT_EQ(px[15 * 16 + 15], 0x0000FFu);

  EXPECT_EQ(SetROP2(dc, R2_XORPEN), R2_COPYPEN);
  EXPECT_EQ(SetROP2(dc, R2_COPYPEN), R2_XORPEN);
  EXPECT_EQ(SetTextColor(dc, RGB(1, 2, 3)), (COLORREF)0);
  EXPECT_EQ(SetTextColor(dc, 0), RGB(1, 2, 3));
  // A selected object is not deleted; stock objects ignore deletion.
  SelectObject(dc, pen);
  EXPECT_FALSE(DeleteObject(pen));
  SelectObject(dc, GetStockObject(BLACK_PEN));
  EXPECT_TRUE(DeleteObject(pen));
  EXPECT_FALSE(DeleteObject(pen));
  EXPECT_TRUE(DeleteObject(blue));
  EXPECT_TRUE(DeleteObject(black));
  EXPECT_EQ(FillRect(dc, &r, blue), 0);  // a deleted brush
}

}  // namespace
