// The DirectDraw stand-in on the headless backend: modes, pixel formats,
// locks, fills, blits, colour keys, flips and display loss.
#include <cstring>

#include "tests/platform/fixture.h"

namespace {

struct FormatRow {
  DWORD depth, bits, red, green, blue;
};

TEST_F(DisplayTest, PixelFormatAndPitchPerDepth) {
  const FormatRow rows[] = {
      {15, 16, 0x7C00, 0x03E0, 0x001F},
      {16, 16, 0xF800, 0x07E0, 0x001F},
      {24, 24, 0x00FF0000, 0x0000FF00, 0x000000FF},
      {32, 32, 0x00FF0000, 0x0000FF00, 0x000000FF},
  };
  ASSERT_EQ(dd->SetCooperativeLevel(FixtureWindow(), DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE), DD_OK);
  for (const FormatRow& row : rows) {
    SCOPED_TRACE(row.depth);
    ASSERT_EQ(dd->SetDisplayMode(33, 7, row.depth, 0, 0), DD_OK);
    IDirectDrawSurface7* s = FixtureOffscreen(dd, 33, 7);
    ASSERT_NE(s, nullptr);
    DDSURFACEDESC2 d = {};
    d.dwSize = 124;
    ASSERT_EQ(s->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DD_OK);
    EXPECT_EQ(d.dwWidth, 33u);
    EXPECT_EQ(d.dwHeight, 7u);
    EXPECT_EQ(d.ddpfPixelFormat.dwFlags & DDPF_RGB, (DWORD)DDPF_RGB);
    EXPECT_EQ(d.ddpfPixelFormat.dwRGBBitCount, row.bits);
    EXPECT_EQ(d.ddpfPixelFormat.dwRBitMask, row.red);
    EXPECT_EQ(d.ddpfPixelFormat.dwGBitMask, row.green);
    EXPECT_EQ(d.ddpfPixelFormat.dwBBitMask, row.blue);
    EXPECT_GE(d.lPitch, (LONG)(33 * row.bits / 8));
    EXPECT_NE(d.lpSurface, nullptr);
    // The whole surface is writable at that pitch.
    memset(d.lpSurface, 0x5A, (size_t)d.lPitch * 7);
    EXPECT_EQ(s->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DDERR_SURFACEBUSY);
    EXPECT_EQ(s->Unlock(nullptr), DD_OK);
    EXPECT_EQ(s->Unlock(nullptr), DDERR_NOTLOCKED);
    s->Release();
  }
}

TEST_F(DisplayTest, RefusedModes) {
  ASSERT_EQ(dd->SetCooperativeLevel(FixtureWindow(), DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE), DD_OK);
  EXPECT_EQ(dd->SetDisplayMode(0, 480, 32, 0, 0), DDERR_INVALIDMODE);
  EXPECT_EQ(dd->SetDisplayMode(640, 0, 32, 0, 0), DDERR_INVALIDMODE);
  EXPECT_EQ(dd->SetDisplayMode((DWORD)-640, 480, 32, 0, 0), DDERR_INVALIDMODE);  // a negative width
  EXPECT_EQ(dd->SetDisplayMode(640, 480, 8, 0, 0), DDERR_INVALIDMODE);
  EXPECT_EQ(dd->SetDisplayMode(640, 480, 31, 0, 0), DDERR_INVALIDMODE);
  HeadlessSetMaxMode(800, 600);
  EXPECT_EQ(dd->SetDisplayMode(801, 600, 32, 0, 0), DDERR_INVALIDMODE);
  EXPECT_EQ(dd->SetDisplayMode(800, 600, 32, 0, 0), DD_OK);
  HeadlessSetFailures(HeadlessFailSetDisplayMode);
  EXPECT_NE(dd->SetDisplayMode(640, 480, 32, 0, 0), DD_OK);
  HeadlessSetFailures(0);
  // Surfaces: no size, absurd sizes, and a flipping chain outside exclusive mode.
  EXPECT_EQ(FixtureOffscreen(dd, 0, 10), nullptr);
  EXPECT_EQ(FixtureOffscreen(dd, 40000, 10), nullptr);
  DDSURFACEDESC2 desc = {};
  desc.dwSize = 124;
  desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
  desc.dwWidth = 30000;
  desc.dwHeight = 30000;
  desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN;
  IDirectDrawSurface7* s = nullptr;
  EXPECT_EQ(dd->CreateSurface(&desc, &s, nullptr), DDERR_OUTOFMEMORY);
  EXPECT_EQ(s, nullptr);
  ASSERT_EQ(dd->SetCooperativeLevel(nullptr, DDSCL_NORMAL), DD_OK);
  desc.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
  desc.dwBackBufferCount = 1;
  desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX;
  EXPECT_EQ(dd->CreateSurface(&desc, &s, nullptr), DDERR_NOEXCLUSIVEMODE);
  EXPECT_EQ(dd->SetCooperativeLevel(nullptr, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE), DDERR_INVALIDPARAMS);
}

TEST_F(DisplayTest, ColourFillWholeAndRect) {
  Open(64, 48, 16);
  DDBLTFX fx = {};
  fx.dwSize = 100;
  fx.dwFillColor = 0x12345678;  // only the pixel's own bits count
  ASSERT_EQ(back->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx), DD_OK);
  EXPECT_EQ(FixturePixel(back, 0, 0), 0x5678u);
  EXPECT_EQ(FixturePixel(back, 63, 47), 0x5678u);
  RECT r = {3, 5, 10, 6};
  fx.dwFillColor = 0xFFFF;
  ASSERT_EQ(back->Blt(&r, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx), DD_OK);
  EXPECT_EQ(FixturePixel(back, 3, 5), 0xFFFFu);
  EXPECT_EQ(FixturePixel(back, 9, 5), 0xFFFFu);
  EXPECT_EQ(FixturePixel(back, 10, 5), 0x5678u);
  EXPECT_EQ(FixturePixel(back, 3, 4), 0x5678u);
  RECT outside = {60, 0, 65, 1};
  EXPECT_EQ(back->Blt(&outside, nullptr, nullptr, DDBLT_COLORFILL, &fx), DDERR_INVALIDRECT);
  EXPECT_EQ(back->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, nullptr), DDERR_INVALIDPARAMS);
}

TEST_F(DisplayTest, FillAt24And32Bits) {
  for (DWORD depth : {24u, 32u}) {
    Open(17, 3, depth);
    DDBLTFX fx = {};
    fx.dwSize = 100;
    fx.dwFillColor = 0xAA112233;
    ASSERT_EQ(back->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx), DD_OK);
    EXPECT_EQ(FixturePixel(back, 16, 2), depth == 24 ? 0x112233u : 0xAA112233u);
    back->Release();
    primary->Release();
    back = primary = nullptr;
  }
}

// A 4x4 source with a key colour pattern, blitted keyed and opaque.
TEST_F(DisplayTest, BltFastKeyedAndOpaque) {
  Open(16, 16, 32);
  IDirectDrawSurface7* tile = FixtureOffscreen(dd, 4, 4);
  ASSERT_NE(tile, nullptr);
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 4; x++) FixtureSetPixel(tile, x, y, (x + y) % 2 ? 0x00FF00FFu : 0x00010203u * (x + 1));
  DDCOLORKEY key = {0x00FF00FF, 0x00FF00FF};
  ASSERT_EQ(tile->SetColorKey(DDCKEY_SRCBLT, &key), DD_OK);
  DDBLTFX fx = {};
  fx.dwSize = 100;
  fx.dwFillColor = 0x00777777;
  back->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx);

  ASSERT_EQ(back->BltFast(2, 3, tile, nullptr, DDBLTFAST_SRCCOLORKEY | DDBLTFAST_WAIT), DD_OK);
  EXPECT_EQ(FixturePixel(back, 2, 3), 0x00010203u);
  EXPECT_EQ(FixturePixel(back, 3, 3), 0x00777777u);  // key pixel left out
  EXPECT_EQ(FixturePixel(back, 4, 3), 0x00030609u);
  EXPECT_EQ(FixturePixel(back, 1, 3), 0x00777777u);
  EXPECT_EQ(FixturePixel(back, 6, 3), 0x00777777u);

  RECT part = {1, 1, 3, 2};  // pixels (1,1) = 2 * 0x010203 and (2,1) the key
  ASSERT_EQ(back->BltFast(10, 10, tile, &part, DDBLTFAST_WAIT), DD_OK);
  EXPECT_EQ(FixturePixel(back, 10, 10), 0x00020406u);
  EXPECT_EQ(FixturePixel(back, 11, 10), 0x00FF00FFu);  // opaque: the key colour is drawn
  EXPECT_EQ(FixturePixel(back, 12, 10), 0x00777777u);

  // No clipping: rectangles must fit the source and the destination.
  RECT bad[] = {{0, 0, 5, 4}, {-1, 0, 2, 2}, {2, 2, 2, 3}, {3, 0, 1, 4}};
  for (RECT& r : bad) EXPECT_EQ(back->BltFast(0, 0, tile, &r, DDBLTFAST_WAIT), DDERR_INVALIDRECT);
  EXPECT_EQ(back->BltFast(13, 0, tile, nullptr, DDBLTFAST_WAIT), DDERR_INVALIDRECT);
  EXPECT_EQ(back->BltFast(0, 13, tile, nullptr, DDBLTFAST_SRCCOLORKEY), DDERR_INVALIDRECT);
  EXPECT_EQ(back->BltFast((DWORD)-2, 0, tile, nullptr, DDBLTFAST_WAIT), DDERR_INVALIDRECT);
  EXPECT_EQ(back->BltFast(12, 12, tile, nullptr, DDBLTFAST_WAIT), DD_OK);

  // A keyed blit from a surface whose key was removed is refused.
  ASSERT_EQ(tile->SetColorKey(DDCKEY_SRCBLT, nullptr), DD_OK);
  EXPECT_EQ(back->BltFast(0, 0, tile, nullptr, DDBLTFAST_SRCCOLORKEY), DDERR_NOCOLORKEY);
  // A surface busy with a lock or a device context cannot be blitted.
  DDSURFACEDESC2 d = {};
  d.dwSize = sizeof d;
  ASSERT_EQ(tile->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DD_OK);
  EXPECT_EQ(back->BltFast(0, 0, tile, nullptr, 0), DDERR_SURFACEBUSY);
  tile->Unlock(nullptr);
  tile->Release();
}

TEST_F(DisplayTest, ColourKeyComparesWholePixels) {
  Open(8, 1, 32);
  IDirectDrawSurface7* src = FixtureOffscreen(dd, 2, 1);
  FixtureSetPixel(src, 0, 0, 0x01000000);  // differs from key 0 only in the fourth byte
  FixtureSetPixel(src, 1, 0, 0x00000000);
  DDCOLORKEY key = {0, 0};
  src->SetColorKey(DDCKEY_SRCBLT, &key);
  DDBLTFX fx = {};
  fx.dwSize = 100;
  fx.dwFillColor = 0x00ABCDEF;
  back->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx);
  ASSERT_EQ(back->BltFast(0, 0, src, nullptr, DDBLTFAST_SRCCOLORKEY), DD_OK);
  EXPECT_EQ(FixturePixel(back, 0, 0), 0x01000000u);
  EXPECT_EQ(FixturePixel(back, 1, 0), 0x00ABCDEFu);
  src->Release();
}

TEST_F(DisplayTest, SurfaceOntoItselfOverlapping) {
  Open(8, 8, 32);
  for (int y = 0; y < 8; y++)
    for (int x = 0; x < 8; x++) FixtureSetPixel(back, x, y, (uint32_t)(y * 8 + x));
  RECT r = {0, 0, 6, 6};
  ASSERT_EQ(back->BltFast(1, 1, back, &r, 0), DD_OK);
  for (int y = 1; y < 7; y++)
    for (int x = 1; x < 7; x++) ASSERT_EQ(FixturePixel(back, x, y), (uint32_t)((y - 1) * 8 + x - 1));
}

TEST_F(DisplayTest, WholeSurfaceCopyWithBlt) {
  Open(8, 4, 16);
  IDirectDrawSurface7* save = FixtureOffscreen(dd, 8, 4, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY);
  ASSERT_NE(save, nullptr);
  FixtureSetPixel(back, 7, 3, 0xBEEF);
  ASSERT_EQ(save->Blt(nullptr, back, nullptr, DDBLT_WAIT, nullptr), DD_OK);
  EXPECT_EQ(FixturePixel(save, 7, 3), 0xBEEFu);
  save->Release();
}

TEST_F(DisplayTest, FlipSwapsAndPresentsBgrFrames) {
  Open(4, 2, 16);
  FixtureSetPixel(back, 0, 0, 0xF800);  // red
  FixtureSetPixel(back, 1, 0, 0x07E0);  // green
  FixtureSetPixel(back, 3, 1, 0xFFFF);
  FixtureSetPixel(primary, 0, 0, 0x001F);
  ASSERT_EQ(primary->Flip(nullptr, DDFLIP_WAIT), DD_OK);
  HeadlessFrame f = HeadlessLastFrame();
  ASSERT_EQ(f.width, 4);
  ASSERT_EQ(f.height, 2);
  EXPECT_EQ(f.number, 1u);
  const uint8_t red[3] = {0, 0, 255}, green[3] = {0, 255, 0}, white[3] = {255, 255, 255};
  EXPECT_EQ(memcmp(f.bgr, red, 3), 0);
  EXPECT_EQ(memcmp(f.bgr + 3, green, 3), 0);
  EXPECT_EQ(memcmp(f.bgr + (4 + 3) * 3, white, 3), 0);
  // The old front is now the back buffer.
  EXPECT_EQ(FixturePixel(back, 0, 0), 0x001Fu);
  EXPECT_EQ(back->Flip(nullptr, DDFLIP_WAIT), DDERR_NOTFLIPPABLE);
  ASSERT_EQ(primary->Flip(nullptr, DDFLIP_WAIT), DD_OK);
  EXPECT_EQ(HeadlessLastFrame().number, 2u);
  EXPECT_EQ(HeadlessFlipCount(), 2u);
  // Setting the same mode again keeps the numbering; another mode restarts it.
  ASSERT_EQ(dd->SetDisplayMode(4, 2, 16, 0, 0), DD_OK);
  ASSERT_EQ(primary->Flip(nullptr, DDFLIP_WAIT), DD_OK);
  EXPECT_EQ(HeadlessLastFrame().number, 3u);
}

// Frames are converted only when read, yet a frame read late is still the
// one presented: writing, filling or releasing the shown surface first
// converts what it showed. Without capture nothing is ever converted.
TEST_F(DisplayTest, FramesAreConvertedWhenReadAndKeptWhileReadable) {
  struct Seen {
    int32_t calls = 0;
    const uint8_t* bgr = nullptr;
  } seen;
  auto hook = [](const HeadlessFrame& f, void* user) {
    Seen* s = (Seen*)user;
    s->calls++;
    s->bgr = f.bgr;
  };
  const uint8_t blue[3] = {255, 0, 0};
  for (HeadlessCapture mode : {HeadlessCaptureEvery, HeadlessCaptureLast}) {
    SCOPED_TRACE(mode);
    HeadlessSetCapture(mode);
    HeadlessSetFlipHook(hook, &seen);
    if (!primary) Open(4, 2, 32);
    FixtureSetPixel(back, 1, 1, 0x0000FF);
    ASSERT_EQ(primary->Flip(nullptr, DDFLIP_WAIT), DD_OK);
    EXPECT_EQ(seen.bgr != nullptr, mode == HeadlessCaptureEvery);
    // The shown surface is changed after the flip, by a lock and by a fill.
    FixtureSetPixel(primary, 1, 1, 0x00FF00);
    DDBLTFX fx = {};
    fx.dwSize = sizeof fx;
    fx.dwFillColor = 0xFFFFFF;
    ASSERT_EQ(primary->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx), DD_OK);
    HeadlessFrame f = HeadlessLastFrame();
    ASSERT_NE(f.bgr, nullptr);
    EXPECT_EQ(memcmp(f.bgr + (4 + 1) * 3, blue, 3), 0);
  }
  // Released before it is read: still the frame shown.
  FixtureSetPixel(back, 2, 0, 0x0000FF);
  ASSERT_EQ(primary->Flip(nullptr, DDFLIP_WAIT), DD_OK);
  back->Release();
  primary->Release();
  back = primary = nullptr;
  HeadlessFrame f = HeadlessLastFrame();
  ASSERT_NE(f.bgr, nullptr);
  EXPECT_EQ(memcmp(f.bgr + 2 * 3, blue, 3), 0);

  HeadlessSetCapture(HeadlessCaptureNone);
  Open(4, 2, 32);
  seen = {};
  ASSERT_EQ(primary->Flip(nullptr, DDFLIP_WAIT), DD_OK);
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.bgr, nullptr);
  f = HeadlessLastFrame();
  EXPECT_EQ(f.width, 4);
  EXPECT_EQ(f.bgr, nullptr);
}

TEST_F(DisplayTest, FocusLossLosesVideoSurfacesAfterDeactivation) {
  Open(8, 8, 32);
  IDirectDrawSurface7* video = FixtureOffscreen(dd, 4, 4);
  IDirectDrawSurface7* system = FixtureOffscreen(dd, 4, 4, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY);
  FixtureSetPixel(video, 0, 0, 0x123456);
  FixtureSetPixel(system, 0, 0, 0x654321);

  HeadlessSetForeground(false);
  // The window is told first and may still save its pixels.
  EXPECT_EQ(video->IsLost(), DD_OK);
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, (UINT)WM_ACTIVATE);
  EXPECT_EQ(LOWORD(m.wParam), WA_INACTIVE);
  EXPECT_EQ(system->Blt(nullptr, video, nullptr, DDBLT_WAIT, nullptr), DD_OK);
  DispatchMessageA(&m);

  EXPECT_EQ(video->IsLost(), DDERR_SURFACELOST);
  EXPECT_EQ(primary->IsLost(), DDERR_SURFACELOST);
  EXPECT_EQ(back->IsLost(), DDERR_SURFACELOST);
  EXPECT_EQ(system->IsLost(), DD_OK);
  EXPECT_EQ(primary->Flip(nullptr, DDFLIP_WAIT), DDERR_SURFACELOST);
  EXPECT_EQ(back->BltFast(0, 0, system, nullptr, 0), DDERR_SURFACELOST);
  EXPECT_EQ(system->BltFast(0, 0, video, nullptr, 0), DDERR_SURFACELOST);
  DDBLTFX fx = {};
  fx.dwSize = 100;
  EXPECT_EQ(back->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx), DDERR_SURFACELOST);
  DDSURFACEDESC2 d = {};
  d.dwSize = sizeof d;
  EXPECT_EQ(video->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DDERR_SURFACELOST);
  HDC dc;
  EXPECT_EQ(back->GetDC(&dc), DDERR_SURFACELOST);

  HeadlessSetForeground(true);
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(LOWORD(m.wParam), WA_ACTIVE);
  EXPECT_EQ(dd->RestoreAllSurfaces(), DD_OK);
  EXPECT_EQ(video->IsLost(), DD_OK);
  EXPECT_EQ(back->IsLost(), DD_OK);
  EXPECT_NE(FixturePixel(video, 0, 0), 0x123456u);  // restored pixels are undefined, not the old ones
  EXPECT_EQ(FixturePixel(system, 0, 0), 0x123456u);
  EXPECT_EQ(primary->Flip(nullptr, DDFLIP_WAIT), DD_OK);
  video->Release();
  system->Release();
}

TEST_F(DisplayTest, LossWithoutFocusChangeAndRestoreOne) {
  Open(8, 8, 32);
  IDirectDrawSurface7* video = FixtureOffscreen(dd, 4, 4);
  HeadlessLoseDisplay();
  EXPECT_EQ(video->IsLost(), DDERR_SURFACELOST);
  EXPECT_EQ(video->Restore(), DD_OK);
  EXPECT_EQ(video->IsLost(), DD_OK);
  EXPECT_EQ(primary->IsLost(), DDERR_SURFACELOST);
  EXPECT_EQ(primary->Restore(), DD_OK);
  EXPECT_EQ(back->IsLost(), DD_OK);  // the chain is restored with its primary
  video->Release();
}

TEST_F(DisplayTest, NotExclusiveFocusLossKeepsSurfaces) {
  // No surface before a cooperative level is set (DDERR_NOCOOPERATIVELEVELSET).
  EXPECT_EQ(FixtureOffscreen(dd, 4, 4), nullptr);
  ASSERT_EQ(dd->SetCooperativeLevel(nullptr, DDSCL_NORMAL), DD_OK);
  IDirectDrawSurface7* video = FixtureOffscreen(dd, 4, 4);
  ASSERT_NE(video, nullptr);
  HeadlessSetForeground(false);
  FixtureDrain();
  EXPECT_EQ(video->IsLost(), DD_OK);
  video->Release();
}

TEST_F(DisplayTest, DeviceContextHeldOnce) {
  Open(8, 8, 32);
  HDC dc = nullptr, second = nullptr;
  ASSERT_EQ(back->GetDC(&dc), DD_OK);
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(back->GetDC(&second), DDERR_DCALREADYCREATED);
  DDSURFACEDESC2 d = {};
  d.dwSize = sizeof d;
  EXPECT_EQ(back->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DDERR_SURFACEBUSY);
  EXPECT_EQ(primary->Flip(nullptr, DDFLIP_WAIT), DDERR_SURFACEBUSY);
  // A context the surface does not hold (none, or one given back) is DDERR_NODC.
  EXPECT_EQ(back->ReleaseDC(second), DDERR_NODC);
  EXPECT_EQ(back->ReleaseDC(dc), DD_OK);
  EXPECT_EQ(back->ReleaseDC(dc), DDERR_NODC);
  // A released context draws nothing and reports failure.
  EXPECT_EQ(SetTextColor(dc, 0), CLR_INVALID);
  ASSERT_EQ(back->GetDC(&dc), DD_OK);
  back->ReleaseDC(dc);
}

TEST_F(DisplayTest, InjectedFailures) {
  HeadlessSetFailures(HeadlessFailSetCooperativeLevel);
  EXPECT_NE(dd->SetCooperativeLevel(FixtureWindow(), DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE), DD_OK);
  HeadlessSetFailures(HeadlessFailCreatePrimary);
  ASSERT_EQ(dd->SetCooperativeLevel(FixtureWindow(), DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE), DD_OK);
  DDSURFACEDESC2 desc = {};
  desc.dwSize = 124;
  desc.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
  desc.dwBackBufferCount = 1;
  desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX;
  EXPECT_NE(dd->CreateSurface(&desc, &primary, nullptr), DD_OK);
  EXPECT_EQ(primary, nullptr);
  IDirectDrawSurface7* plain = FixtureOffscreen(dd, 2, 2);
  EXPECT_NE(plain, nullptr);  // only the chain fails
  plain->Release();
  HeadlessSetFailures(HeadlessFailCreateSurface);
  EXPECT_EQ(FixtureOffscreen(dd, 2, 2), nullptr);
  HeadlessSetFailures(HeadlessFailGetAttached | HeadlessFailGetDC | HeadlessFailLock);
  ASSERT_EQ(dd->CreateSurface(&desc, &primary, nullptr), DD_OK);
  DDSCAPS2 caps = {DDSCAPS_BACKBUFFER, 0, 0, 0};
  EXPECT_NE(primary->GetAttachedSurface(&caps, &back), DD_OK);
  EXPECT_EQ(back, nullptr);
  HDC dc;
  EXPECT_NE(primary->GetDC(&dc), DD_OK);
  DDSURFACEDESC2 d = {};
  d.dwSize = sizeof d;
  EXPECT_NE(primary->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DD_OK);
  HeadlessSetFailures(HeadlessFailDirectDrawCreate);
  EXPECT_EQ(FixtureDirectDraw(), nullptr);
  HeadlessSetFailures(0);
}

TEST_F(DisplayTest, ReleasingTheChainInEitherOrder) {
  Open(8, 8, 32);
  // The back buffer outlives its primary while it is held.
  EXPECT_EQ(primary->Release(), 0u);
  primary = nullptr;
  EXPECT_EQ(FixturePixel(back, 0, 0), 0u);
  EXPECT_EQ(back->Release(), 0u);
  back = nullptr;
}

}  // namespace
