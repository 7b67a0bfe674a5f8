// The screen: the one window, the DirectDraw interface, the exclusive
// full-screen display with a primary surface and one back buffer, the page
// flip with the message pump, the drawing target and the sprite table.
#pragma once

#include <cstdint>

#include "platform/ddraw.h"
#include "platform/user.h"

struct ObjectTable;

// The descriptor ScreenTarget hands to DrawBegin.
struct DrawTarget {
  int32_t kind;  // 7: the screen's back buffer
  HDC dc;
  void (*release)();
};

extern int32_t ScreenInitialised;
extern IDirectDraw7* DirectDrawInterface;
extern HWND ScreenWindow;
extern int32_t DisplayWidth, DisplayHeight, DisplayDepth, DisplayRefresh;
extern int32_t ScreenPixelFormat;  // codes 1-7
extern IDirectDrawSurface7* PrimarySurface;
extern IDirectDrawSurface7* BackBuffer;
extern IDirectDrawSurface7* TargetSurface;
extern int32_t TargetWidth, TargetHeight;
extern int32_t DisplayActive;
extern int32_t SpritesSaved;
extern void (*SpriteSaveHook)();
extern HDC BackBufferDC;
extern ObjectTable* SpriteTable;
// The fill record of ScreenClear and the surface description the lock
// operations here and in the sprites use.
extern DDBLTFX ScreenFillFx;
extern DDSURFACEDESC2 ScreenSurfaceDesc;

// The sprite table on success, null on failure.
ObjectTable* ScreenSystemInit();
// 1 on success, 0 on failure; width, height and depth are taken as int16.
int32_t ScreenOpen(int32_t width, int32_t height, int32_t depth, const char16_t* title);
void ScreenPresent();
DrawTarget* ScreenTarget();
void ScreenTargetRelease();
HRESULT ScreenClear(uint32_t colour);
void ScreenClose();
void ScreenSystemEnd();
uint32_t ScreenColorToPixel(int32_t red, int32_t green, int32_t blue);
LRESULT ScreenWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
