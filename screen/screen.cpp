// The screen: the one pop-up window, the display interface with its use
// count, the exclusive full-screen mode with a primary surface and one back
// buffer, the page flip with the message pump and the lost-display recovery,
// the drawing target and the sprite table. Stands on the DirectDraw, user and
// winmm stand-ins; sprites (freeing, saving, restoring) are reached through
// screen/sprites.h, the keyboard device through input/keyboard.h.
#include "screen/screen.h"

#include "input/keyboard.h"
#include "platform/kernel.h"
#include "platform/winmm.h"
#include "runtime/objects.h"
#include "runtime/runtime.h"
#include "screen/sprites.h"

int32_t ScreenInitialised;
HMODULE DirectDrawLibrary;
IDirectDraw7* DirectDrawInterface;
int32_t DirectDrawUses;
HWND ScreenWindow;
HWND ScreenWindowHome;
int32_t ScreenWindowCreated;
int32_t DisplayWidth, DisplayHeight, DisplayDepth, DisplayRefresh;
int32_t ScreenPixelFormat;
IDirectDrawSurface7* PrimarySurface;
IDirectDrawSurface7* BackBuffer;
IDirectDrawSurface7* TargetSurface;
int32_t TargetWidth, TargetHeight;
int32_t DisplayActive;
int32_t SpritesSaved;
void (*SpriteSaveHook)();
HDC BackBufferDC;
ObjectTable* SpriteTable;
DrawTarget ScreenDrawTarget;
DDBLTFX ScreenFillFx;
DDSURFACEDESC2 ScreenSurfaceDesc;

// Whether this module hid the cursor and holds the 1 ms timer period, so that
// every release undoes exactly what an open did.
static int32_t ScreenCursorHidden;
static int32_t ScreenTimerHeld;

static const char16_t ScreenClassName[] = u"MultimediaBase Class";

static const DWORD ScreenExclusiveLevel = DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE;  // 0x11

// The sprite table's release routine.
static void ScreenSpriteRelease(int32_t number) { SpriteFree(number); }

// The created flag; registers the class and creates the hidden 1 x 1 pop-up once.
static int32_t ScreenWindowCreate() {
  if (ScreenWindowCreated || ScreenWindow) return ScreenWindowCreated;
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(WNDCLASSEXW);
  windowClass.style = CS_DBLCLKS;
  windowClass.lpfnWndProc = ScreenWindowProc;
  windowClass.hInstance = InstanceHandle;
  windowClass.hIcon = LoadIconW(InstanceHandle, MAKEINTRESOURCEW(1));
  windowClass.hCursor = nullptr;
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  windowClass.lpszMenuName = nullptr;
  windowClass.lpszClassName = ScreenClassName;
  if (!RegisterClassExW(&windowClass)) return 0;
  ScreenWindow = CreateWindowExW(0, ScreenClassName, u"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                 InstanceHandle, nullptr);
  if (!ScreenWindow) return 0;
  // Kept at once, so that a release after a partly failed initialisation
  // still finds the window again.
  ScreenWindowHome = ScreenWindow;
  ScreenWindowCreated = 1;
  return 1;
}

// The display interface, or null; every call counts one use.
static IDirectDraw7* ScreenDirectDrawLoad() {
  if (!DirectDrawInterface) {
    DirectDrawLibrary = LoadLibraryW(u"DDRAW.DLL");
    if (DirectDrawLibrary) {
      FARPROC routine = GetProcAddress(DirectDrawLibrary, "DirectDrawCreateEx");
      if (routine) {
        LPDIRECTDRAWCREATEEX create =
            reinterpret_cast<LPDIRECTDRAWCREATEEX>(reinterpret_cast<void (*)()>(routine));
        void* created = nullptr;
        create(nullptr, &created, IID_IDirectDraw7, nullptr);
        DirectDrawInterface = static_cast<IDirectDraw7*>(created);
      }
      if (!DirectDrawInterface) {
        FreeLibrary(DirectDrawLibrary);
        DirectDrawLibrary = nullptr;
      }
    }
  }
  DirectDrawUses++;
  return DirectDrawInterface;
}

// Gives back one use; the last one releases the interface and the library.
static void ScreenDirectDrawRelease() {
  DirectDrawUses--;
  if (DirectDrawUses == 0 && DirectDrawInterface) {
    DirectDrawInterface->Release();
    DirectDrawInterface = nullptr;
    if (DirectDrawLibrary) FreeLibrary(DirectDrawLibrary);
    DirectDrawLibrary = nullptr;
  }
}

// Frees every sprite, leaves exclusive mode, releases the flipping chain,
// shows the cursor and hides the window again.
static void ScreenRelease() {
  if (SpriteTable) {
    ObjectEnumStart(SpriteTable);
    int32_t number = 0;
    while (ObjectEnumNext(SpriteTable, &number)) SpriteFree(number);
  }
  // A device context still held would otherwise be given back to a released surface.
  ScreenTargetRelease();
  if (DirectDrawInterface) DirectDrawInterface->SetCooperativeLevel(nullptr, DDSCL_NORMAL);
  if (BackBuffer) BackBuffer->Release();
  BackBuffer = nullptr;
  if (PrimarySurface) PrimarySurface->Release();
  PrimarySurface = nullptr;
  // Nothing may flip or draw into the released chain.
  TargetSurface = nullptr;
  DisplayActive = 0;
  if (ScreenWindow && ScreenCursorHidden) {
    ShowCursor(TRUE);
    ScreenCursorHidden = 0;
  }
  ScreenWindow = ScreenWindowHome;
  if (ScreenWindow) ShowWindow(ScreenWindow, SW_HIDE);
}

// Sets ScreenPixelFormat from the depth and the primary surface's masks;
// keeps the old code when the surface cannot be locked.
static void ScreenPixelFormatDetect() {
  if (!PrimarySurface) return;
  if (PrimarySurface->Lock(nullptr, &ScreenSurfaceDesc, DDLOCK_WAIT, nullptr) != DD_OK) return;
  PrimarySurface->Unlock(nullptr);
  DWORD redMask = ScreenSurfaceDesc.ddpfPixelFormat.dwRBitMask;
  DWORD greenMask = ScreenSurfaceDesc.ddpfPixelFormat.dwGBitMask;
  switch (DisplayDepth) {
    case 16:
      ScreenPixelFormat = greenMask == 0x07E0 ? 3 : 2;
      break;
    case 24:
      ScreenPixelFormat = redMask == 0x000000FF ? 4 : 5;
      break;
    case 32:
      ScreenPixelFormat = redMask == 0x000000FF ? 6 : 7;
      break;
    default:
      ScreenPixelFormat = 1;
      break;
  }
}

// Fills a surface black through its device context; skipped when it has none.
static void ScreenSurfaceBlacken(IDirectDrawSurface7* surface) {
  HDC dc = nullptr;
  if (surface->GetDC(&dc) != DD_OK || !dc) return;
  RECT rect = {0, 0, TargetWidth, TargetHeight};
  FillRect(dc, &rect, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  surface->ReleaseDC(dc);
}

ObjectTable* ScreenSystemInit() {
  SpriteKeyDefault.dwColorSpaceLowValue = 0;
  SpriteKeyDefault.dwColorSpaceHighValue = 0;
  ScreenFillFx = {};
  ScreenFillFx.dwSize = sizeof(DDBLTFX);
  ScreenSurfaceDesc = {};
  ScreenSurfaceDesc.dwSize = sizeof(DDSURFACEDESC2);
  DisplayRefresh = 0;
  BackBufferDC = nullptr;
  // One table for the whole run: a second initialisation keeps the sprites it holds.
  if (!SpriteTable) SpriteTable = ObjectTableCreate(sizeof(Sprite), 64, ScreenSpriteRelease);
  if (!SpriteTable) return nullptr;
  if (!ScreenWindowCreate()) return nullptr;
  if (!KeyboardInit()) return nullptr;
  ScreenInitialised = 1;
  if (!ScreenDirectDrawLoad()) return nullptr;
  ScreenWindowHome = ScreenWindow;
  return SpriteTable;
}

int32_t ScreenOpen(int32_t width, int32_t height, int32_t depth, const char16_t* title) {
  // The sizes are 16-bit quantities: 40000 arrives as -25536 and is refused below.
  width = static_cast<int16_t>(width);
  height = static_cast<int16_t>(height);
  depth = static_cast<int16_t>(depth);
  ScreenClose();
  SpriteSaveHook = SpriteSaveAll;
  IDirectDrawSurface7* primary = nullptr;
  IDirectDrawSurface7* back = nullptr;
  DDSURFACEDESC2 desc = {};
  DDSCAPS2 caps = {};
  // No display mode has an empty or negative side; refuse before anything is sized.
  if (width <= 0 || height <= 0) goto fail;
  if (!ScreenWindow || !DirectDrawInterface) goto fail;
  SetWindowTextW(ScreenWindow, title ? title : u"");
  MoveWindow(ScreenWindow, 0, 0, width, height, TRUE);
  TargetWidth = DisplayWidth = width;
  TargetHeight = DisplayHeight = height;
  DisplayDepth = depth;
  if (!ScreenCursorHidden) {
    ShowCursor(FALSE);
    ScreenCursorHidden = 1;
  }
  if (DirectDrawInterface->SetCooperativeLevel(ScreenWindow, ScreenExclusiveLevel) != DD_OK) goto fail;
  if (DirectDrawInterface->SetDisplayMode(width, height, depth, DisplayRefresh, 0) != DD_OK) goto fail;
  desc.dwSize = sizeof(DDSURFACEDESC2);
  desc.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
  desc.dwBackBufferCount = 1;
  desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX | DDSCAPS_3DDEVICE;
  if (DirectDrawInterface->CreateSurface(&desc, &primary, nullptr) != DD_OK || !primary) goto fail;
  PrimarySurface = primary;
  caps.dwCaps = DDSCAPS_BACKBUFFER | DDSCAPS_3DDEVICE;
  if (PrimarySurface->GetAttachedSurface(&caps, &back) != DD_OK || !back) goto fail;
  BackBuffer = back;
  ShowWindow(ScreenWindow, SW_SHOWMAXIMIZED);
  ScreenSurfaceBlacken(BackBuffer);
  ScreenSurfaceBlacken(PrimarySurface);
  TargetSurface = BackBuffer;
  ScreenPixelFormatDetect();
  DisplayActive = 1;
  // The sprites of this screen are all new: none of them has been saved yet.
  SpritesSaved = 0;
  timeBeginPeriod(1);
  ScreenTimerHeld = 1;
  return 1;

fail:
  ScreenRelease();
  return 0;
}

void ScreenPresent() {
  ScreenTargetRelease();
  TargetSurface = BackBuffer;
  TargetWidth = DisplayWidth;
  TargetHeight = DisplayHeight;
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  // Activation may come while no screen is open; there is nothing to flip then.
  bool shown = false;
  if (DisplayActive && PrimarySurface) {
    if (PrimarySurface->Flip(nullptr, DDFLIP_WAIT) == DDERR_SURFACELOST) {
      // Results are not examined: a recovery that fails is tried again at the
      // next flip that reports the loss.
      if (DirectDrawInterface) {
        DirectDrawInterface->SetCooperativeLevel(ScreenWindow, ScreenExclusiveLevel);
        DirectDrawInterface->SetDisplayMode(TargetWidth, TargetHeight, DisplayDepth, DisplayRefresh, 0);
        DirectDrawInterface->RestoreAllSurfaces();
      }
      ShowWindow(ScreenWindow, SW_SHOWMAXIMIZED);
      SpriteRestoreAll();
    } else {
      shown = true;
    }
  }
  // The flip's wait for the vertical blank is the frame pace; a frame that
  // is not flipped (in the background, or lost) waits as long instead of
  // letting the loop spin.
  if (!shown && PrimarySurface && DirectDrawInterface)
    DirectDrawInterface->WaitForVerticalBlank(DDWAITVB_BLOCKBEGIN, nullptr);
  TargetSurface = BackBuffer;
}

LRESULT ScreenWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ACTIVATE:
      if (LOWORD(wParam)) {
        DisplayActive = 1;
        SpritesSaved = 0;
      } else {
        if (SpriteSaveHook && !SpritesSaved) {
          SpriteSaveHook();
          SpritesSaved = 1;
        }
        DisplayActive = 0;
      }
      return 0;
    case WM_KEYUP:
    case WM_SYSKEYUP:
      if ((wParam == VK_TAB || wParam == VK_MENU) && SpriteSaveHook && !SpritesSaved) {
        SpriteSaveHook();
        SpritesSaved = 1;
      }
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(window, &paint);
      EndPaint(window, &paint);
      return 1;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_CLOSE:  // the window cannot be closed from outside
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

HRESULT ScreenClear(uint32_t colour) {
  if (!TargetSurface) return DDERR_GENERIC;
  ScreenFillFx.dwFillColor = ScreenColorToPixel(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
  return TargetSurface->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &ScreenFillFx);
}

HRESULT ScreenClearRect(uint32_t colour, const RECT* part) {
  if (!TargetSurface || !part) return DDERR_GENERIC;
  ScreenFillFx.dwFillColor = ScreenColorToPixel(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
  RECT rect = *part;
  return TargetSurface->Blt(&rect, nullptr, nullptr, DDBLT_COLORFILL, &ScreenFillFx);
}

uint32_t ScreenColorToPixel(int32_t red, int32_t green, int32_t blue) {
  switch (DisplayDepth) {
    case 15:
      return static_cast<uint32_t>(blue / 8 + (green / 8) * 32 + (red / 8) * 1024);
    case 16:  // 5-6-5 whatever the detected format says
      return static_cast<uint32_t>(blue / 8 + (green / 4) * 32 + (red / 8) * 2048);
    case 24:
    case 32:
      if (ScreenPixelFormat == 4 || ScreenPixelFormat == 6)
        return static_cast<uint32_t>(red + green * 256 + blue * 65536);
      return static_cast<uint32_t>(blue + green * 256 + red * 65536);
    default:
      return 0;
  }
}

DrawTarget* ScreenTarget() {
  if (BackBufferDC || !BackBuffer) return nullptr;
  HDC dc = nullptr;
  if (BackBuffer->GetDC(&dc) != DD_OK || !dc) return nullptr;
  BackBufferDC = dc;
  ScreenDrawTarget.kind = 7;
  ScreenDrawTarget.dc = BackBufferDC;
  ScreenDrawTarget.release = ScreenTargetRelease;
  return &ScreenDrawTarget;
}

void ScreenTargetRelease() {
  if (!BackBufferDC) return;
  if (BackBuffer) BackBuffer->ReleaseDC(BackBufferDC);
  BackBufferDC = nullptr;
}

void ScreenClose() {
  if (DisplayWidth == 0) return;
  if (ScreenTimerHeld) {
    timeEndPeriod(1);
    ScreenTimerHeld = 0;
  }
  ScreenRelease();
  DisplayWidth = 0;
  DisplayHeight = 0;
}

void ScreenSystemEnd() {
  if (ScreenInitialised != 1) return;
  ScreenRelease();
  ScreenDirectDrawRelease();
  // Ended: a second call must not give back a use it never took.
  ScreenInitialised = 0;
}
