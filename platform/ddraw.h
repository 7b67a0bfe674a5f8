// DirectDraw 7 stand-in: the display, surfaces in the display's pixel format,
// flips, blits and colour keys. Obtained through LoadLibraryW("DDRAW.DLL") and
// GetProcAddress("DirectDrawCreateEx").
#pragma once

#include "platform/win32.h"

#define DD_OK 0
#define DDERR_GENERIC ((HRESULT)0x80004005)
#define DDERR_INVALIDPARAMS ((HRESULT)0x80070057)
#define DDERR_OUTOFMEMORY ((HRESULT)0x8007000E)
#define DDERR_INVALIDMODE ((HRESULT)0x88760078)
#define DDERR_UNSUPPORTEDMODE ((HRESULT)0x8876024E)
#define DDERR_INVALIDRECT ((HRESULT)0x88760096)
#define DDERR_NOTFOUND ((HRESULT)0x887600FF)
#define DDERR_SURFACELOST ((HRESULT)0x887601C2)
#define DDERR_SURFACEBUSY ((HRESULT)0x887601AE)
#define DDERR_NOTLOCKED ((HRESULT)0x88760248)
#define DDERR_NOEXCLUSIVEMODE ((HRESULT)0x887600E1)
#define DDERR_NOCOLORKEY ((HRESULT)0x887600D7)
#define DDERR_CANTCREATEDC ((HRESULT)0x8876021D)
#define DDERR_DCALREADYCREATED ((HRESULT)0x8876026C)
#define DDERR_WASSTILLDRAWING ((HRESULT)0x8876021C)
#define DDERR_INVALIDPIXELFORMAT ((HRESULT)0x88760091)
#define DDERR_PRIMARYSURFACEALREADYEXISTS ((HRESULT)0x88760234)
#define DDERR_EXCLUSIVEMODEALREADYSET ((HRESULT)0x88760245)
#define DDERR_NOTFLIPPABLE ((HRESULT)0x88760246)
#define DDERR_NODC ((HRESULT)0x8876024A)
#define DDERR_NOCOOPERATIVELEVELSET ((HRESULT)0x887600D4)

// SetCooperativeLevel
#define DDSCL_FULLSCREEN 0x00000001
#define DDSCL_NORMAL 0x00000008
#define DDSCL_EXCLUSIVE 0x00000010

// DDSURFACEDESC2 flags
#define DDSD_CAPS 0x00000001
#define DDSD_HEIGHT 0x00000002
#define DDSD_WIDTH 0x00000004
#define DDSD_PITCH 0x00000008
#define DDSD_BACKBUFFERCOUNT 0x00000020
#define DDSD_LPSURFACE 0x00000800
#define DDSD_PIXELFORMAT 0x00001000

// Surface caps
#define DDSCAPS_BACKBUFFER 0x00000004
#define DDSCAPS_COMPLEX 0x00000008
#define DDSCAPS_FLIP 0x00000010
#define DDSCAPS_OFFSCREENPLAIN 0x00000040
#define DDSCAPS_PRIMARYSURFACE 0x00000200
#define DDSCAPS_SYSTEMMEMORY 0x00000800
#define DDSCAPS_VIDEOMEMORY 0x00004000
#define DDSCAPS_3DDEVICE 0x00002000

// Pixel format flags
#define DDPF_RGB 0x00000040

// Lock / Flip / Blt / BltFast / SetColorKey
#define DDLOCK_WAIT 0x00000001
#define DDFLIP_WAIT 0x00000001
#define DDWAITVB_BLOCKBEGIN 0x00000001
#define DDBLT_COLORFILL 0x00000400
#define DDBLT_WAIT 0x01000000
#define DDBLTFAST_NOCOLORKEY 0x00000000
#define DDBLTFAST_SRCCOLORKEY 0x00000001
#define DDBLTFAST_DESTCOLORKEY 0x00000002
#define DDBLTFAST_WAIT 0x00000010
#define DDCKEY_SRCBLT 0x00000008

struct DDCOLORKEY {
  DWORD dwColorSpaceLowValue;
  DWORD dwColorSpaceHighValue;
};

struct DDPIXELFORMAT {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwFourCC;
  DWORD dwRGBBitCount;
  DWORD dwRBitMask;
  DWORD dwGBitMask;
  DWORD dwBBitMask;
  DWORD dwRGBAlphaBitMask;
};

struct DDSCAPS2 {
  DWORD dwCaps;
  DWORD dwCaps2;
  DWORD dwCaps3;
  DWORD dwCaps4;
};

struct DDSURFACEDESC2 {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwHeight;
  DWORD dwWidth;
  LONG lPitch;
  DWORD dwBackBufferCount;
  DWORD dwMipMapCount;
  DWORD dwAlphaBitDepth;
  DWORD dwReserved;
  void* lpSurface;
  DDCOLORKEY ddckCKDestOverlay;
  DDCOLORKEY ddckCKDestBlt;
  DDCOLORKEY ddckCKSrcOverlay;
  DDCOLORKEY ddckCKSrcBlt;
  DDPIXELFORMAT ddpfPixelFormat;
  DDSCAPS2 ddsCaps;
  DWORD dwTextureStage;
};

// 100 bytes, as on the platform; only dwSize and dwFillColor are used.
struct DDBLTFX {
  DWORD dwSize;
  DWORD dwDDFX;
  DWORD dwROP;
  DWORD dwDDROP;
  DWORD dwRotationAngle;
  DWORD dwZBufferOpCode;
  DWORD dwZBufferLow;
  DWORD dwZBufferHigh;
  DWORD dwZBufferBaseDest;
  DWORD dwZDestConstBitDepth;
  DWORD dwZDestConst;
  DWORD dwZSrcConstBitDepth;
  DWORD dwZSrcConst;
  DWORD dwAlphaEdgeBlendBitDepth;
  DWORD dwAlphaEdgeBlend;
  DWORD dwReserved;
  DWORD dwAlphaDestConstBitDepth;
  DWORD dwAlphaDestConst;
  DWORD dwAlphaSrcConstBitDepth;
  DWORD dwAlphaSrcConst;
  DWORD dwFillColor;
  DDCOLORKEY ddckDestColorkey;
  DDCOLORKEY ddckSrcColorkey;
};

struct IDirectDrawSurface7 : IUnknown {
  virtual HRESULT Blt(RECT* destRect, IDirectDrawSurface7* source, RECT* sourceRect, DWORD flags,
                      DDBLTFX* fx) = 0;
  virtual HRESULT BltFast(DWORD x, DWORD y, IDirectDrawSurface7* source, RECT* sourceRect,
                          DWORD trans) = 0;
  virtual HRESULT Flip(IDirectDrawSurface7* override, DWORD flags) = 0;
  virtual HRESULT GetAttachedSurface(DDSCAPS2* caps, IDirectDrawSurface7** surface) = 0;
  virtual HRESULT GetDC(HDC* dc) = 0;
  virtual HRESULT IsLost() = 0;
  virtual HRESULT Lock(RECT* rect, DDSURFACEDESC2* desc, DWORD flags, HANDLE event) = 0;
  virtual HRESULT ReleaseDC(HDC dc) = 0;
  virtual HRESULT Restore() = 0;
  virtual HRESULT SetColorKey(DWORD flags, DDCOLORKEY* key) = 0;
  virtual HRESULT Unlock(RECT* rect) = 0;

 protected:
  ~IDirectDrawSurface7() = default;
};

struct IDirectDraw7 : IUnknown {
  virtual HRESULT CreateSurface(DDSURFACEDESC2* desc, IDirectDrawSurface7** surface, IUnknown* outer) = 0;
  virtual HRESULT RestoreAllSurfaces() = 0;
  virtual HRESULT SetCooperativeLevel(HWND window, DWORD flags) = 0;
  virtual HRESULT SetDisplayMode(DWORD width, DWORD height, DWORD bitsPerPixel, DWORD refreshRate,
                                 DWORD flags) = 0;
  // Returns at the start of the next vertical blank (DDWAITVB_BLOCKBEGIN;
  // no event).
  virtual HRESULT WaitForVerticalBlank(DWORD flags, HANDLE event) = 0;

 protected:
  ~IDirectDraw7() = default;
};

extern const GUID IID_IDirectDraw7;  // {15E65EC0-3B9C-11D2-B92F-00609797EA5B}

// The signature of "DirectDrawCreateEx" as GetProcAddress hands it out.
typedef HRESULT (*LPDIRECTDRAWCREATEEX)(GUID* driver, void** directDraw, REFIID iid, IUnknown* outer);
