// Shared set-up of the platform tests: a reset headless backend, the one
// window, and a DirectDraw object created through the built-in module.
#pragma once

#include <gtest/gtest.h>

#include "platform/ddraw.h"
#include "platform/headless.h"
#include "platform/kernel.h"
#include "platform/user.h"

inline LRESULT FixtureWindowProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_ERASEBKGND; }

// The one window of the test process (created once, kept across tests).
inline HWND FixtureWindow() {
  static HWND window = [] {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = FixtureWindowProc;
    wc.lpszClassName = u"PlatformTestClass";
    RegisterClassExW(&wc);
    return CreateWindowExW(0, u"PlatformTestClass", u"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  }();
  return window;
}

// Empties the message queue.
inline void FixtureDrain() {
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
}

inline IDirectDraw7* FixtureDirectDraw() {
  HMODULE lib = LoadLibraryW(u"ddraw.dll");
  if (!lib) return nullptr;
  auto create = reinterpret_cast<LPDIRECTDRAWCREATEEX>(
      reinterpret_cast<void (*)()>(GetProcAddress(lib, "DirectDrawCreateEx")));
  void* out = nullptr;
  if (!create || create(nullptr, &out, IID_IDirectDraw7, nullptr) != DD_OK) return nullptr;
  return static_cast<IDirectDraw7*>(out);
}

inline IDirectDrawSurface7* FixtureOffscreen(IDirectDraw7* dd, DWORD width, DWORD height, DWORD caps = DDSCAPS_OFFSCREENPLAIN) {
  DDSURFACEDESC2 desc = {};
  desc.dwSize = 124;
  desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
  desc.dwWidth = width;
  desc.dwHeight = height;
  desc.ddsCaps.dwCaps = caps;
  IDirectDrawSurface7* s = nullptr;
  return dd->CreateSurface(&desc, &s, nullptr) == DD_OK ? s : nullptr;
}

// A reset backend, the window in front and an exclusive display at a mode.
class DisplayTest : public ::testing::Test {
 protected:
  IDirectDraw7* dd = nullptr;
  IDirectDrawSurface7* primary = nullptr;
  IDirectDrawSurface7* back = nullptr;

  void SetUp() override {
    HeadlessReset();
    ASSERT_NE(FixtureWindow(), nullptr);
    FixtureDrain();
    dd = FixtureDirectDraw();
    ASSERT_NE(dd, nullptr);
  }
  void TearDown() override {
    if (back) back->Release();
    if (primary) primary->Release();
    if (dd) {
      dd->SetCooperativeLevel(nullptr, DDSCL_NORMAL);
      dd->Release();
    }
    FixtureDrain();
    HeadlessReset();
  }
  // Exclusive mode at width x height x depth with the flipping chain.
  void Open(DWORD width, DWORD height, DWORD depth) {
    ASSERT_EQ(dd->SetCooperativeLevel(FixtureWindow(), DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE), DD_OK);
    ASSERT_EQ(dd->SetDisplayMode(width, height, depth, 0, 0), DD_OK);
    DDSURFACEDESC2 desc = {};
    desc.dwSize = 124;
    desc.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
    desc.dwBackBufferCount = 1;
    desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX | DDSCAPS_3DDEVICE;
    ASSERT_EQ(dd->CreateSurface(&desc, &primary, nullptr), DD_OK);
    DDSCAPS2 caps = {DDSCAPS_BACKBUFFER | DDSCAPS_3DDEVICE, 0, 0, 0};
    ASSERT_EQ(primary->GetAttachedSurface(&caps, &back), DD_OK);
  }
};

// Reads and writes one pixel of a surface through Lock.
inline uint32_t FixturePixel(IDirectDrawSurface7* s, int x, int y) {
  DDSURFACEDESC2 d = {};
  d.dwSize = sizeof d;
  if (s->Lock(nullptr, &d, DDLOCK_WAIT, nullptr) != DD_OK) return 0xDEADBEEF;
  const int bpp = (int)d.ddpfPixelFormat.dwRGBBitCount / 8;
  uint32_t v = 0;
  memcpy(&v, (uint8_t*)d.lpSurface + y * d.lPitch + x * bpp, bpp);
  s->Unlock(nullptr);
  return v;
}

inline void FixtureSetPixel(IDirectDrawSurface7* s, int x, int y, uint32_t v) {
  DDSURFACEDESC2 d = {};
  d.dwSize = sizeof d;
  ASSERT_EQ(s->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DD_OK);
  const int bpp = (int)d.ddpfPixelFormat.dwRGBBitCount / 8;
  memcpy((uint8_t*)d.lpSurface + y * d.lPitch + x * bpp, &v, bpp);
  s->Unlock(nullptr);
}
