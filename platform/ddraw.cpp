// DirectDraw 7 stand-in: the display mode, surfaces held in memory in the
// display's pixel format, the primary flipping chain, blits, colour fills,
// source colour keys, device contexts, and loss and restore of the display.
// The backend shows flipped frames; the pixel work is in ddraw_blit.cpp.
#include <sys/mman.h>

#include <cstdlib>
#include <cstring>

#include "platform/backend.h"
#include "platform/ddraw_blit.h"
#include "platform/kernel.h"

const GUID IID_IDirectDraw7 = {0x15E65EC0, 0x3B9C, 0x11D2, {0xB9, 0x2F, 0x00, 0x60, 0x97, 0x97, 0xEA, 0x5B}};

namespace {

// The platform's 32-bit surface description is 124 bytes; ours is wider
// because of the pointer, and either size is accepted.
constexpr DWORD SurfaceDescSize32 = 124;
constexpr int32_t SurfaceSideMax = 32768;
constexpr uint64_t SurfaceBytesMax = 512ull << 20;
constexpr size_t HugePageBytes = 2u << 20;

struct DirectDraw;

struct Surface final : IDirectDrawSurface7 {
  uint32_t refs;
  DirectDraw* owner;  // null once the DirectDraw object is gone
  Surface* next;      // every live surface, for display loss
  uint8_t* pixels;
  int32_t width, height, depth, bytesPerPixel, pitch;
  DWORD caps;
  bool systemMemory;
  bool lost;
  bool locked;
  bool hasKey;
  uint32_t key;
  HDC dc;
  Surface* backBuffer;  // the primary's attached back buffer
  Surface* front;       // the back buffer's primary

  uint32_t Release() override;
  HRESULT Blt(RECT* destRect, IDirectDrawSurface7* source, RECT* sourceRect, DWORD flags, DDBLTFX* fx) override;
  HRESULT BltFast(DWORD x, DWORD y, IDirectDrawSurface7* source, RECT* sourceRect, DWORD trans) override;
  HRESULT Flip(IDirectDrawSurface7* override, DWORD flags) override;
  HRESULT GetAttachedSurface(DDSCAPS2* caps, IDirectDrawSurface7** surface) override;
  HRESULT GetDC(HDC* dc) override;
  HRESULT IsLost() override;
  HRESULT Lock(RECT* rect, DDSURFACEDESC2* desc, DWORD flags, HANDLE event) override;
  HRESULT ReleaseDC(HDC dc) override;
  HRESULT Restore() override;
  HRESULT SetColorKey(DWORD flags, DDCOLORKEY* key) override;
  HRESULT Unlock(RECT* rect) override;

  bool Busy() const { return locked || dc; }
};

struct DirectDraw final : IDirectDraw7 {
  uint32_t refs;
  bool exclusive;
  bool levelSet;  // SetCooperativeLevel has succeeded once
  HWND window;

  uint32_t Release() override;
  HRESULT CreateSurface(DDSURFACEDESC2* desc, IDirectDrawSurface7** surface, IUnknown* outer) override;
  HRESULT RestoreAllSurfaces() override;
  HRESULT SetCooperativeLevel(HWND window, DWORD flags) override;
  HRESULT SetDisplayMode(DWORD width, DWORD height, DWORD bitsPerPixel, DWORD refreshRate, DWORD flags) override;
  HRESULT WaitForVerticalBlank(DWORD flags, HANDLE event) override;
};

// The display: its mode, the exclusive owner, the surfaces.
struct DisplayState {
  bool modeSet;  // a mode was set (else the desktop's)
  int32_t width, height, depth;
  DirectDraw* exclusiveOwner;
  bool lossPending;
  Surface* surfaces;
  // The pixels last handed to BackendPresent, while the backend may still
  // read them; the hook runs before anything changes or frees them.
  const uint8_t* presented;
  void (*presentedChanging)();
  uint8_t overlap[SurfaceSideMax * 4];  // one row, for a surface blitted onto itself
};
DisplayState Display;

// Called before a surface's pixels are written or freed.
inline void Touch(const Surface* s) {
  if (__builtin_expect(s->pixels == Display.presented, 0) && s->pixels) {
    Display.presented = nullptr;
    if (Display.presentedChanging) Display.presentedChanging();
  }
}

int32_t BytesPerPixel(int32_t depth) { return depth == 15 ? 2 : depth / 8; }

void CurrentMode(int32_t* width, int32_t* height, int32_t* depth) {
  if (Display.modeSet) {
    *width = Display.width;
    *height = Display.height;
    *depth = Display.depth;
  } else {
    BackendDesktopMode(width, height, depth);
  }
}

void FillPixelFormat(DDPIXELFORMAT* pf, int32_t depth) {
  std::memset(pf, 0, sizeof *pf);
  pf->dwSize = sizeof *pf;
  pf->dwFlags = DDPF_RGB;
  pf->dwRGBBitCount = depth == 15 ? 16 : depth;
  if (depth == 15) {
    pf->dwRBitMask = 0x7C00;
    pf->dwGBitMask = 0x03E0;
    pf->dwBBitMask = 0x001F;
  } else if (depth == 16) {
    pf->dwRBitMask = 0xF800;
    pf->dwGBitMask = 0x07E0;
    pf->dwBBitMask = 0x001F;
  } else {
    pf->dwRBitMask = 0x00FF0000;
    pf->dwGBitMask = 0x0000FF00;
    pf->dwBBitMask = 0x000000FF;
  }
}

// The depth a requested pixel format names, or 0 when it is not one of ours.
int32_t DepthOfFormat(const DDPIXELFORMAT& pf) {
  if (!(pf.dwFlags & DDPF_RGB)) return 0;
  if (pf.dwRGBBitCount == 16) {
    if (pf.dwRBitMask == 0x7C00 && pf.dwGBitMask == 0x03E0 && pf.dwBBitMask == 0x001F) return 15;
    if (pf.dwRBitMask == 0xF800 && pf.dwGBitMask == 0x07E0 && pf.dwBBitMask == 0x001F) return 16;
    return 0;
  }
  if ((pf.dwRGBBitCount == 24 || pf.dwRGBBitCount == 32) && pf.dwRBitMask == 0x00FF0000 &&
      pf.dwGBitMask == 0x0000FF00 && pf.dwBBitMask == 0x000000FF)
    return (int32_t)pf.dwRGBBitCount;
  return 0;
}

uint32_t PixelMask(int32_t depth) { return depth == 32 ? 0xFFFFFFFFu : depth == 24 ? 0xFFFFFFu : 0xFFFFu; }

// Undefined pixels made visible: what a restored surface holds.
void FillGarbage(Surface* s) {
  uint64_t x = 0x9E3779B97F4A7C15ull ^ (uintptr_t)s;
  for (int32_t y = 0; y < s->height; y++) {
    uint8_t* row = s->pixels + (intptr_t)y * s->pitch;
    for (int32_t i = 0; i + 8 <= s->pitch; i += 8) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      std::memcpy(row + i, &x, 8);
    }
  }
}

Surface* NewSurface(DirectDraw* owner, int32_t width, int32_t height, int32_t depth, DWORD caps) {
  const int32_t bpp = BytesPerPixel(depth);
  const int32_t pitch = (width * bpp + 15) & ~15;
  void* memory = nullptr;
  const size_t bytes = (size_t)pitch * height;
  // Surfaces of a frame's size are held in huge pages where the system has
  // them: a 1080p frame spans 2,000 small pages, and blits that walk it row
  // by row otherwise spend much of their time on page-table walks.
  const bool huge = bytes >= HugePageBytes;
  if (posix_memalign(&memory, huge ? HugePageBytes : 64, huge ? (bytes + HugePageBytes - 1) & ~(HugePageBytes - 1) : bytes) != 0)
    return nullptr;
  if (huge) madvise(memory, (bytes + HugePageBytes - 1) & ~(HugePageBytes - 1), MADV_HUGEPAGE);
  Surface* s = new Surface();
  s->refs = 1;
  s->owner = owner;
  s->pixels = (uint8_t*)memory;
  std::memset(s->pixels, 0, (size_t)pitch * height);
  s->width = width;
  s->height = height;
  s->depth = depth;
  s->bytesPerPixel = bpp;
  s->pitch = pitch;
  s->caps = caps;
  s->systemMemory = (caps & DDSCAPS_SYSTEMMEMORY) != 0;
  s->next = Display.surfaces;
  Display.surfaces = s;
  return s;
}

void DestroySurface(Surface* s) {
  Touch(s);
  if (s->dc) GdiReleaseSurfaceDC(s->dc);
  for (Surface** p = &Display.surfaces; *p; p = &(*p)->next)
    if (*p == s) {
      *p = s->next;
      break;
    }
  std::free(s->pixels);
  delete s;
}

void LoseVideoSurfaces() {
  for (Surface* s = Display.surfaces; s; s = s->next)
    if (!s->systemMemory) s->lost = true;
}

void LeaveExclusive() {
  Display.exclusiveOwner = nullptr;
  Display.modeSet = false;
  Display.lossPending = false;
  LoseVideoSurfaces();
  BackendReleaseMode();
}

// The rectangle a caller names, or the whole surface; false when it does not
// lie inside the surface or is empty.
bool RectInside(const Surface* s, const RECT* r, RECT* out) {
  if (!r) {
    *out = {0, 0, s->width, s->height};
    return true;
  }
  if (r->left < 0 || r->top < 0 || r->left >= r->right || r->top >= r->bottom || r->right > s->width ||
      r->bottom > s->height)
    return false;
  *out = *r;
  return true;
}

// A surface copied onto itself where source and destination overlap: rows
// go in the order that reads each before it is written, through one row of
// scratch.
void BlitOverlapping(Surface* s, int32_t dx, int32_t dy, const RECT& r, bool keyed) {
  const int32_t w = r.right - r.left, h = r.bottom - r.top, bpp = s->bytesPerPixel;
  const BlitKernels* k = BlitKernelAt(0);
  const bool down = dy > r.top;
  for (int32_t i = 0; i < h; i++) {
    const int32_t row = down ? h - 1 - i : i;
    const uint8_t* src = s->pixels + (intptr_t)(r.top + row) * s->pitch + (intptr_t)r.left * bpp;
    uint8_t* dst = s->pixels + (intptr_t)(dy + row) * s->pitch + (intptr_t)dx * bpp;
    std::memcpy(Display.overlap, src, (size_t)w * bpp);
    if (!keyed)
      std::memcpy(dst, Display.overlap, (size_t)w * bpp);
    else if (bpp == 2)
      k->keyed16(dst, 0, Display.overlap, 0, w, 1, s->key);
    else if (bpp == 3)
      k->keyed24(dst, 0, Display.overlap, 0, w, 1, s->key);
    else
      k->keyed32(dst, 0, Display.overlap, 0, w, 1, s->key);
  }
}

// Copies r of src to (dx, dy) of dst, both already checked.
void CopyRect(Surface* dst, int32_t dx, int32_t dy, Surface* src, const RECT& r, bool keyed) {
  const int32_t w = r.right - r.left, h = r.bottom - r.top, bpp = dst->bytesPerPixel;
  if (dst == src && dx < r.right && dx + w > r.left && dy < r.bottom && dy + h > r.top) {
    BlitOverlapping(dst, dx, dy, r, keyed);
    return;
  }
  uint8_t* d = dst->pixels + (intptr_t)dy * dst->pitch + (intptr_t)dx * bpp;
  const uint8_t* s = src->pixels + (intptr_t)r.top * src->pitch + (intptr_t)r.left * bpp;
  const BlitKernels* k = BlitActiveKernels();
  if (!keyed)
    k->copy(d, dst->pitch, s, src->pitch, w * bpp, h);
  else if (bpp == 4)
    k->keyed32(d, dst->pitch, s, src->pitch, w, h, src->key);
  else if (bpp == 2)
    k->keyed16(d, dst->pitch, s, src->pitch, w, h, src->key);
  else
    k->keyed24(d, dst->pitch, s, src->pitch, w, h, src->key);
}

// Nearest-neighbour stretch of a source rectangle onto a destination one.
void StretchRect(Surface* dst, const RECT& dr, Surface* src, const RECT& sr) {
  const int32_t dw = dr.right - dr.left, dh = dr.bottom - dr.top;
  const int32_t sw = sr.right - sr.left, sh = sr.bottom - sr.top, bpp = dst->bytesPerPixel;
  // Through scratch rows, so that a surface stretched onto itself reads
  // whole source rows before writing.
  for (int32_t y = 0; y < dh; y++) {
    const int32_t sy = sr.top + (int32_t)((int64_t)y * sh / dh);
    const uint8_t* srow = src->pixels + (intptr_t)sy * src->pitch;
    for (int32_t x = 0; x < dw; x++) {
      const int32_t sx = sr.left + (int32_t)((int64_t)x * sw / dw);
      std::memcpy(Display.overlap + (intptr_t)x * bpp, srow + (intptr_t)sx * bpp, bpp);
    }
    std::memcpy(dst->pixels + (intptr_t)(dr.top + y) * dst->pitch + (intptr_t)dr.left * bpp, Display.overlap,
                (size_t)dw * bpp);
  }
}

uint32_t Surface::Release() {
  if (--refs) return refs;
  if (backBuffer) {
    Surface* back = backBuffer;
    backBuffer = nullptr;
    back->front = nullptr;
    back->Release();  // the attachment's reference
  }
  DestroySurface(this);
  return 0;
}

HRESULT Surface::Blt(RECT* destRect, IDirectDrawSurface7* source, RECT* sourceRect, DWORD flags, DDBLTFX* fx) {
  if (flags & ~(DWORD)(DDBLT_COLORFILL | DDBLT_WAIT)) return DDERR_INVALIDPARAMS;
  Surface* src = static_cast<Surface*>(source);
  if (lost || (src && src->lost)) return DDERR_SURFACELOST;
  if (Busy() || (src && src->Busy())) return DDERR_SURFACEBUSY;
  RECT dr;
  if (!RectInside(this, destRect, &dr)) return DDERR_INVALIDRECT;
  Touch(this);
  if (flags & DDBLT_COLORFILL) {
    if (!fx || fx->dwSize != sizeof(DDBLTFX)) return DDERR_INVALIDPARAMS;
    BlitFill(pixels + (intptr_t)dr.top * pitch + (intptr_t)dr.left * bytesPerPixel, pitch, dr.right - dr.left,
             dr.bottom - dr.top, bytesPerPixel, fx->dwFillColor & PixelMask(depth));
    return DD_OK;
  }
  if (!src || src->depth != depth) return DDERR_INVALIDPARAMS;
  RECT sr;
  if (!RectInside(src, sourceRect, &sr)) return DDERR_INVALIDRECT;
  if (sr.right - sr.left == dr.right - dr.left && sr.bottom - sr.top == dr.bottom - dr.top)
    CopyRect(this, dr.left, dr.top, src, sr, false);
  else
    StretchRect(this, dr, src, sr);
  return DD_OK;
}

HRESULT Surface::BltFast(DWORD x, DWORD y, IDirectDrawSurface7* source, RECT* sourceRect, DWORD trans) {
  Surface* src = static_cast<Surface*>(source);
  if (!src || (trans & ~(DWORD)(DDBLTFAST_SRCCOLORKEY | DDBLTFAST_WAIT))) return DDERR_INVALIDPARAMS;
  if (lost | src->lost) return DDERR_SURFACELOST;
  if (Busy() || src->Busy()) return DDERR_SURFACEBUSY;
  if (src->depth != depth) return DDERR_INVALIDPARAMS;
  RECT r;
  if (!RectInside(src, sourceRect, &r)) return DDERR_INVALIDRECT;
  // x and y are unsigned: a negative position is far outside and refused.
  if ((uint64_t)x + (uint64_t)(r.right - r.left) > (uint64_t)width ||
      (uint64_t)y + (uint64_t)(r.bottom - r.top) > (uint64_t)height)
    return DDERR_INVALIDRECT;
  const bool keyed = trans & DDBLTFAST_SRCCOLORKEY;
  if (keyed && !src->hasKey) return DDERR_NOCOLORKEY;
  Touch(this);
  CopyRect(this, (int32_t)x, (int32_t)y, src, r, keyed);
  return DD_OK;
}

HRESULT Surface::Flip(IDirectDrawSurface7* override, DWORD) {
  if (!backBuffer) return DDERR_NOTFLIPPABLE;
  if (override && override != backBuffer) return DDERR_INVALIDPARAMS;
  if (lost || backBuffer->lost) return DDERR_SURFACELOST;
  if (Busy() || backBuffer->Busy()) return DDERR_SURFACEBUSY;
  uint8_t* shown = backBuffer->pixels;
  backBuffer->pixels = pixels;
  pixels = shown;
  // The frame shown before becomes the back buffer: nobody reads it any more.
  Display.presented = pixels;
  BackendPresent(pixels, pitch, width, height, depth);
  return DD_OK;
}

HRESULT Surface::GetAttachedSurface(DDSCAPS2* wanted, IDirectDrawSurface7** surface) {
  if (!wanted || !surface) return DDERR_INVALIDPARAMS;
  *surface = nullptr;
  if (BackendFailures & HeadlessFailGetAttached) return DDERR_NOTFOUND;
  if (!backBuffer || !(wanted->dwCaps & DDSCAPS_BACKBUFFER)) return DDERR_NOTFOUND;
  backBuffer->refs++;
  *surface = backBuffer;
  return DD_OK;
}

HRESULT Surface::GetDC(HDC* out) {
  if (!out) return DDERR_INVALIDPARAMS;
  *out = nullptr;
  if (dc) return DDERR_DCALREADYCREATED;
  if (lost) return DDERR_SURFACELOST;
  if (locked) return DDERR_SURFACEBUSY;
  if (BackendFailures & HeadlessFailGetDC) return DDERR_CANTCREATEDC;
  Touch(this);
  dc = GdiCreateSurfaceDC(this);
  if (!dc) return DDERR_CANTCREATEDC;
  *out = dc;
  return DD_OK;
}

HRESULT Surface::IsLost() { return lost ? DDERR_SURFACELOST : DD_OK; }

HRESULT Surface::Lock(RECT* rect, DDSURFACEDESC2* desc, DWORD, HANDLE) {
  if (!desc || (desc->dwSize != sizeof(DDSURFACEDESC2) && desc->dwSize != SurfaceDescSize32))
    return DDERR_INVALIDPARAMS;
  if (lost) return DDERR_SURFACELOST;
  if (Busy()) return DDERR_SURFACEBUSY;
  if (BackendFailures & HeadlessFailLock) return DDERR_SURFACEBUSY;
  RECT r;
  if (!RectInside(this, rect, &r)) return DDERR_INVALIDRECT;
  Touch(this);
  const DWORD size = desc->dwSize;
  std::memset(desc, 0, sizeof *desc);
  desc->dwSize = size;
  // lpSurface is filled in, but the platform does not flag it.
  desc->dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PITCH | DDSD_PIXELFORMAT;
  desc->dwWidth = (DWORD)width;
  desc->dwHeight = (DWORD)height;
  desc->lPitch = pitch;
  desc->lpSurface = pixels + (intptr_t)r.top * pitch + (intptr_t)r.left * bytesPerPixel;
  FillPixelFormat(&desc->ddpfPixelFormat, depth);
  desc->ddsCaps.dwCaps = caps | (systemMemory ? 0 : DDSCAPS_VIDEOMEMORY);
  if (hasKey) desc->ddckCKSrcBlt = {key, key};
  locked = true;
  return DD_OK;
}

HRESULT Surface::ReleaseDC(HDC given) {
  if (!dc || given != dc) return DDERR_NODC;
  GdiReleaseSurfaceDC(dc);
  dc = nullptr;
  return DD_OK;
}

HRESULT Surface::Restore() {
  if (!lost) return DD_OK;
  Touch(this);
  FillGarbage(this);
  lost = false;
  if (backBuffer && backBuffer->lost) backBuffer->Restore();
  return DD_OK;
}

HRESULT Surface::SetColorKey(DWORD flags, DDCOLORKEY* given) {
  if (flags != DDCKEY_SRCBLT) return DDERR_INVALIDPARAMS;
  if (!given) {
    hasKey = false;
    return DD_OK;
  }
  hasKey = true;
  key = given->dwColorSpaceLowValue & PixelMask(depth);
  return DD_OK;
}

HRESULT Surface::Unlock(RECT*) {
  if (!locked) return DDERR_NOTLOCKED;
  locked = false;
  return DD_OK;
}

uint32_t DirectDraw::Release() {
  if (--refs) return refs;
  if (Display.exclusiveOwner == this) LeaveExclusive();
  for (Surface* s = Display.surfaces; s; s = s->next)
    if (s->owner == this) s->owner = nullptr;
  delete this;
  return 0;
}

HRESULT DirectDraw::CreateSurface(DDSURFACEDESC2* desc, IDirectDrawSurface7** out, IUnknown* outer) {
  if (!desc || !out || outer) return DDERR_INVALIDPARAMS;
  *out = nullptr;
  if ((desc->dwSize != sizeof(DDSURFACEDESC2) && desc->dwSize != SurfaceDescSize32) || !(desc->dwFlags & DDSD_CAPS))
    return DDERR_INVALIDPARAMS;
  if (!levelSet) return DDERR_NOCOOPERATIVELEVELSET;
  if (BackendFailures & HeadlessFailCreateSurface) return DDERR_OUTOFMEMORY;
  const DWORD caps = desc->ddsCaps.dwCaps;
  if ((caps & DDSCAPS_SYSTEMMEMORY) && (caps & DDSCAPS_VIDEOMEMORY)) return DDERR_INVALIDPARAMS;
  int32_t modeWidth, modeHeight, modeDepth;
  CurrentMode(&modeWidth, &modeHeight, &modeDepth);

  if (caps & DDSCAPS_PRIMARYSURFACE) {
    if (desc->dwFlags & (DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT)) return DDERR_INVALIDPARAMS;
    for (Surface* s = Display.surfaces; s; s = s->next)
      if (s->owner == this && (s->caps & DDSCAPS_PRIMARYSURFACE)) return DDERR_PRIMARYSURFACEALREADYEXISTS;
    const bool chain = caps & DDSCAPS_FLIP;
    if (chain) {
      if (!(caps & DDSCAPS_COMPLEX) || !(desc->dwFlags & DDSD_BACKBUFFERCOUNT) || desc->dwBackBufferCount != 1)
        return DDERR_INVALIDPARAMS;
      if (Display.exclusiveOwner != this) return DDERR_NOEXCLUSIVEMODE;
      if (BackendFailures & HeadlessFailCreatePrimary) return DDERR_OUTOFMEMORY;
    }
    const DWORD keep = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX | DDSCAPS_3DDEVICE;
    Surface* primary = NewSurface(this, modeWidth, modeHeight, modeDepth, caps & keep);
    if (!primary) return DDERR_OUTOFMEMORY;
    if (chain) {
      Surface* back = NewSurface(this, modeWidth, modeHeight, modeDepth,
                                 DDSCAPS_BACKBUFFER | DDSCAPS_FLIP | DDSCAPS_COMPLEX | (caps & DDSCAPS_3DDEVICE));
      if (!back) {
        primary->Release();
        return DDERR_OUTOFMEMORY;
      }
      primary->backBuffer = back;
      back->front = primary;
    }
    *out = primary;
    return DD_OK;
  }

  if ((desc->dwFlags & (DDSD_WIDTH | DDSD_HEIGHT)) != (DDSD_WIDTH | DDSD_HEIGHT) || (caps & DDSCAPS_FLIP))
    return DDERR_INVALIDPARAMS;
  if (desc->dwWidth == 0 || desc->dwHeight == 0 || desc->dwWidth > SurfaceSideMax || desc->dwHeight > SurfaceSideMax)
    return DDERR_INVALIDPARAMS;
  int32_t depth = modeDepth;
  if (desc->dwFlags & DDSD_PIXELFORMAT) {
    depth = DepthOfFormat(desc->ddpfPixelFormat);
    if (!depth) return DDERR_INVALIDPIXELFORMAT;
  }
  const uint64_t bytes = (uint64_t)desc->dwWidth * desc->dwHeight * BytesPerPixel(depth);
  if (bytes > SurfaceBytesMax) return DDERR_OUTOFMEMORY;
  const DWORD keep = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY | DDSCAPS_3DDEVICE;
  Surface* s = NewSurface(this, (int32_t)desc->dwWidth, (int32_t)desc->dwHeight, depth, caps & keep);
  if (!s) return DDERR_OUTOFMEMORY;
  *out = s;
  return DD_OK;
}

HRESULT DirectDraw::WaitForVerticalBlank(DWORD flags, HANDLE event) {
  if (flags != DDWAITVB_BLOCKBEGIN || event) return DDERR_INVALIDPARAMS;
  BackendWaitRefresh();
  return DD_OK;
}

HRESULT DirectDraw::RestoreAllSurfaces() {
  for (Surface* s = Display.surfaces; s; s = s->next)
    if (s->owner == this && s->lost) s->Restore();
  return DD_OK;
}

HRESULT DirectDraw::SetCooperativeLevel(HWND target, DWORD flags) {
  if (BackendFailures & HeadlessFailSetCooperativeLevel) return DDERR_GENERIC;
  const DWORD full = DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE;
  if ((flags & full) == full) {
    if (flags & DDSCL_NORMAL) return DDERR_INVALIDPARAMS;
    if (!UserIsWindow(target)) return DDERR_INVALIDPARAMS;
    if (Display.exclusiveOwner && Display.exclusiveOwner != this) return DDERR_EXCLUSIVEMODEALREADYSET;
    Display.exclusiveOwner = this;
    exclusive = true;
    levelSet = true;
    window = target;
    return DD_OK;
  }
  if ((flags & full) || !(flags & DDSCL_NORMAL)) return DDERR_INVALIDPARAMS;
  if (target && !UserIsWindow(target)) return DDERR_INVALIDPARAMS;
  if (Display.exclusiveOwner == this) LeaveExclusive();
  exclusive = false;
  levelSet = true;
  window = target;
  return DD_OK;
}

HRESULT DirectDraw::SetDisplayMode(DWORD w, DWORD h, DWORD bpp, DWORD, DWORD) {
  int32_t maxWidth, maxHeight;
  BackendMaxMode(&maxWidth, &maxHeight);
  if (w == 0 || h == 0 || w > (DWORD)maxWidth || h > (DWORD)maxHeight) return DDERR_INVALIDMODE;
  if (bpp != 15 && bpp != 16 && bpp != 24 && bpp != 32) return DDERR_INVALIDMODE;
  if (BackendFailures & HeadlessFailSetDisplayMode) return DDERR_UNSUPPORTEDMODE;
  const bool same = Display.modeSet && Display.width == (int32_t)w && Display.height == (int32_t)h &&
                    Display.depth == (int32_t)bpp;
  if (!BackendSetMode((int32_t)w, (int32_t)h, (int32_t)bpp)) return DDERR_UNSUPPORTEDMODE;
  if (!same) LoseVideoSurfaces();  // surfaces of another mode do not survive a mode change
  Display.modeSet = true;
  Display.width = (int32_t)w;
  Display.height = (int32_t)h;
  Display.depth = (int32_t)bpp;
  return DD_OK;
}

HRESULT DirectDrawCreateEx(GUID* driver, void** out, REFIID iid, IUnknown* outer) {
  if (!out) return DDERR_INVALIDPARAMS;
  *out = nullptr;
  if (driver || outer || !IsEqualGUID(iid, IID_IDirectDraw7)) return DDERR_INVALIDPARAMS;
  if (BackendFailures & HeadlessFailDirectDrawCreate) return DDERR_GENERIC;
  DirectDraw* dd = new DirectDraw();
  dd->refs = 1;
  *out = static_cast<IDirectDraw7*>(dd);
  return DD_OK;
}

}  // namespace

FARPROC DDrawCreateEntry() { return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&DirectDrawCreateEx)); }

void DDrawLoseDisplay() {
  Display.lossPending = false;
  LoseVideoSurfaces();
}

void DDrawForegroundLost() {
  if (Display.exclusiveOwner) Display.lossPending = true;
}

void DDrawApplyPendingLoss() {
  if (Display.lossPending) DDrawLoseDisplay();
}

void DDrawReset() {
  Display.lossPending = false;
  Display.presented = nullptr;
}

void DDrawSetPresentedChanging(void (*changing)()) { Display.presentedChanging = changing; }

bool DDrawSurfaceBits(IDirectDrawSurface7* surface, SurfaceBits* bits) {
  Surface* s = static_cast<Surface*>(surface);
  if (!s) return false;
  *bits = {s->pixels, s->pitch, s->width, s->height, s->depth};
  return true;
}
