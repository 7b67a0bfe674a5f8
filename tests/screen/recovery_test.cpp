// The recovery of a lost display at the flip, in its order: the cooperative
// level, the display mode, every surface, the window shown again, and only
// then the sprites with the pixels saved when the window went away.
#include <string>

#include "platform/user.h"
#include "runtime/objects.h"
#include "screen/sprites.h"
#include "screen_fixture.h"
#include "tests/sprites/images.h"

namespace {

std::string Log;

// The screen window's state when a call is made.
std::string WindowState() { return IsWindowVisible(ScreenWindow) ? "(shown) " : "(hidden) "; }

struct RecordingDirectDraw final : IDirectDraw7 {
  IDirectDraw7* real;
  explicit RecordingDirectDraw(IDirectDraw7* real) : real(real) {}
  uint32_t Release() override { return real->Release(); }
  HRESULT CreateSurface(DDSURFACEDESC2* desc, IDirectDrawSurface7** surface, IUnknown* outer) override {
    Log += "CreateSurface ";
    return real->CreateSurface(desc, surface, outer);
  }
  HRESULT RestoreAllSurfaces() override {
    Log += "RestoreAllSurfaces" + WindowState();
    return real->RestoreAllSurfaces();
  }
  HRESULT SetCooperativeLevel(HWND window, DWORD flags) override {
    Log += "SetCooperativeLevel ";
    return real->SetCooperativeLevel(window, flags);
  }
  HRESULT SetDisplayMode(DWORD width, DWORD height, DWORD depth, DWORD refresh, DWORD flags) override {
    Log += "SetDisplayMode ";
    return real->SetDisplayMode(width, height, depth, refresh, flags);
  }
  // The frame pace, not a step of the recovery.
  HRESULT WaitForVerticalBlank(DWORD flags, HANDLE event) override { return real->WaitForVerticalBlank(flags, event); }
};

// A sprite's surface that writes down what the restore does with it.
struct RecordingSurface final : IDirectDrawSurface7 {
  IDirectDrawSurface7* real;
  explicit RecordingSurface(IDirectDrawSurface7* real) : real(real) {}
  uint32_t Release() override { return real->Release(); }
  HRESULT Blt(RECT* to, IDirectDrawSurface7* from, RECT* rect, DWORD flags, DDBLTFX* fx) override {
    Log += "sprite Blt ";
    return real->Blt(to, from, rect, flags, fx);
  }
  HRESULT BltFast(DWORD x, DWORD y, IDirectDrawSurface7* from, RECT* rect, DWORD flags) override {
    return real->BltFast(x, y, from, rect, flags);
  }
  HRESULT Flip(IDirectDrawSurface7* with, DWORD flags) override { return real->Flip(with, flags); }
  HRESULT GetAttachedSurface(DDSCAPS2* caps, IDirectDrawSurface7** surface) override {
    return real->GetAttachedSurface(caps, surface);
  }
  HRESULT GetDC(HDC* dc) override { return real->GetDC(dc); }
  HRESULT IsLost() override {
    Log += "sprite IsLost" + WindowState();
    return real->IsLost();
  }
  HRESULT Lock(RECT* rect, DDSURFACEDESC2* desc, DWORD flags, HANDLE event) override {
    Log += "sprite Lock ";
    return real->Lock(rect, desc, flags, event);
  }
  HRESULT ReleaseDC(HDC dc) override { return real->ReleaseDC(dc); }
  HRESULT Restore() override {
    Log += "sprite Restore ";
    return real->Restore();
  }
  HRESULT SetColorKey(DWORD flags, DDCOLORKEY* key) override { return real->SetColorKey(flags, key); }
  HRESULT Unlock(RECT* rect) override {
    Log += "sprite Unlock ";
    return real->Unlock(rect);
  }
};

}  // namespace

TEST_F(ScreenTest, LostFlipRestoresModeSurfacesWindowAndSpritesInOrder) {
  ASSERT_EQ(ScreenOpen(64, 48, 32, u"Tessel"), 1);
  Bytes green = BmpFile(4, 4, 24, 0, {}, BmpRows(Bytes(48, 0), 12));
  for (size_t i = 54; i < green.size(); i += 3) green[i + 1] = 0xFF;
  ASSERT_NE(SpriteFromMemory(7, green.data(), static_cast<uint32_t>(green.size()), 0), 0);
  ScreenPresent();

  // Into the background: the pixels are saved and the display goes; the
  // window is minimised there, which the stand-in shows as hidden.
  HeadlessSetForeground(false);
  ScreenPresent();
  ShowWindow(ScreenWindow, SW_HIDE);
  Sprite* sprite = static_cast<Sprite*>(ObjectGet(SpriteTable, 7));
  ASSERT_NE(sprite, nullptr);
  ASSERT_NE(sprite->savedPixels, nullptr);

  RecordingSurface recordedSprite(sprite->surface);
  sprite->surface = &recordedSprite;
  RecordingDirectDraw recorder(DirectDrawInterface);
  DirectDrawInterface = &recorder;
  HeadlessSetForeground(true);
  Log.clear();
  ScreenPresent();  // activated, and the flip reports the loss
  DirectDrawInterface = recorder.real;
  sprite->surface = recordedSprite.real;

  EXPECT_EQ(Log,
            "SetCooperativeLevel SetDisplayMode RestoreAllSurfaces(hidden) "
            "sprite IsLost(shown) sprite Lock sprite Unlock ");
  EXPECT_TRUE(IsWindowVisible(ScreenWindow));
  EXPECT_EQ(sprite->savedPixels, nullptr);
  ScreenClear(0);
  EXPECT_EQ(SpriteDraw(7, 10, 10), DD_OK);
  ScreenPresent();
  EXPECT_EQ(FramePixel(HeadlessLastFrame(), 12, 12), (Bgr{0, 0xFF, 0}));
}
