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
// The display library and its use count (one use per load request, the
// interface is released when the count comes back to 0).
extern HMODULE DirectDrawLibrary;
extern int32_t DirectDrawUses;
// The window made at initialisation; ScreenWindow returns to it on release.
extern HWND ScreenWindowHome;
extern int32_t ScreenWindowCreated;
extern DrawTarget ScreenDrawTarget;
// The fill record of ScreenClear and the surface description the lock
// operations here and in the sprites use.
extern DDBLTFX ScreenFillFx;
extern DDSURFACEDESC2 ScreenSurfaceDesc;

// The sprite table on success, null on failure.
ObjectTable* ScreenSystemInit();
// 1 on success, 0 on failure; width, height and depth are taken as int16.
// A width or height of 0 or less (after the truncation) fails at once.
int32_t ScreenOpen(int32_t width, int32_t height, int32_t depth, const char16_t* title);
// Pumps the window messages and flips the page (recovering a lost display).
void ScreenPresent();
// The back buffer's descriptor, or null when its device context is held or refused.
DrawTarget* ScreenTarget();
// Gives the back buffer's device context back if held.
void ScreenTargetRelease();
// Fills the drawing target with a 0x00BBGGRR colour; the platform's result
// (a failure code when no screen is open).
HRESULT ScreenClear(uint32_t colour);
// Fills only the rectangle part of the target with the colour, as ScreenClear
// fills the whole; the platform's result.
HRESULT ScreenClearRect(uint32_t colour, const RECT* part);
// Closes an open screen: sprites freed, normal cooperative level, window hidden.
void ScreenClose();
// Releases the screen and the display interface; safe to call in any state.
void ScreenSystemEnd();
// A colour in the open screen's pixel format (0 for unknown depths).
uint32_t ScreenColorToPixel(int32_t red, int32_t green, int32_t blue);
LRESULT ScreenWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
