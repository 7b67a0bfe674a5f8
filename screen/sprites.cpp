// Sprites: numbered images held in off-screen surfaces of the display's
// pixel format. Loads BMP files (through the BMP reader) and every other
// image through the decoder registry, converts the pixels once at load,
// draws with one clipped BltFast, and saves and restores the pixels around a
// lost display. Stands on the sprite table of the screen module, the
// MainHeap and the file and DirectDraw stand-ins.
#include "screen/sprites.h"

#include <cstring>

#include "platform/kernel.h"
#include "runtime/objects.h"
#include "runtime/runtime.h"
#include "screen/decoders.h"
#include "screen/screen.h"

DDCOLORKEY SpriteKeyDefault;

// Description of an off-screen surface of the display's format.
static DDSURFACEDESC2 SpriteSurfaceDesc(int32_t width, int32_t height, DWORD caps) {
  DDSURFACEDESC2 desc = {};
  desc.dwSize = sizeof(DDSURFACEDESC2);
  desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH;
  desc.dwWidth = static_cast<DWORD>(width);
  desc.dwHeight = static_cast<DWORD>(height);
  desc.ddsCaps.dwCaps = caps;
  return desc;
}

static Sprite* SpriteGet(int32_t number) {
  return SpriteTable ? static_cast<Sprite*>(ObjectGet(SpriteTable, number)) : nullptr;
}

// Bytes per source row: 16 bits w*2 + (w mod 2)*2, 24 bits w*3 + (w mod 4), 32 bits w*4.
int32_t SpriteRowSize(int32_t width, int32_t bits) {
  switch (bits) {
    case 16:
      return width * 2 + (width % 2) * 2;
    case 24:
      return width * 3 + width % 4;
    case 32:
      return width * 4;
    default:
      return 0;
  }
}

// Converts the source rows into surface memory of the given depth and format.
void SpritePixelsConvert(uint8_t* destination, int32_t pitch, const uint8_t* source, int32_t width,
                         int32_t height, int32_t bits, int32_t bottomUp, int32_t depth, int32_t pixelFormat) {
  int32_t sourceRow = SpriteRowSize(width, bits);
  if (!destination || !source || !sourceRow || width <= 0 || height <= 0) return;
  if (depth != 16 && depth != 24 && depth != 32) return;
  int32_t step = bits / 8;
  // Screens that keep red in the lowest byte get red first, so that colours
  // match what ScreenColorToPixel makes for them.
  int32_t redLow = pixelFormat == 4 || pixelFormat == 6;
  int32_t low = redLow ? 2 : 0, high = redLow ? 0 : 2;
  uint8_t* row = bottomUp ? destination + static_cast<int64_t>(pitch) * (height - 1) : destination;
  int64_t rowStep = bottomUp ? -static_cast<int64_t>(pitch) : pitch;

  for (int32_t y = 0; y < height; y++, source += sourceRow, row += rowStep) {
    const uint8_t* s = source;
    uint8_t* d = row;
    if (depth == 16) {
      for (int32_t x = 0; x < width; x++, s += step, d += 2) {
        uint16_t value;
        if (bits == 16) {
          uint16_t m = static_cast<uint16_t>(s[0] | s[1] << 8);
          // 5-6-5 from 5-5-5: the lowest green bit stays 0.
          value = pixelFormat == 2 ? m
                                   : static_cast<uint16_t>(((m >> 10) & 0x1F) << 11 | (((m >> 5) & 0x1F) * 2) << 5 |
                                                           (m & 0x1F));
        } else if (pixelFormat == 2) {
          value = static_cast<uint16_t>((s[2] / 8) << 10 | (s[1] / 8) << 5 | s[0] / 8);
        } else {
          value = static_cast<uint16_t>((s[2] / 8) << 11 | (s[1] / 4) << 5 | s[0] / 8);
        }
        d[0] = static_cast<uint8_t>(value);
        d[1] = static_cast<uint8_t>(value >> 8);
      }
      continue;
    }
    int32_t out = depth / 8;
    if (bits == 16) {
      for (int32_t x = 0; x < width; x++, s += 2, d += out) {
        uint32_t m = static_cast<uint32_t>(s[0] | s[1] << 8);
        d[low] = static_cast<uint8_t>((m & 0x1F) * 8);
        d[1] = static_cast<uint8_t>(((m >> 5) & 0x1F) * 8);
        d[high] = static_cast<uint8_t>(((m >> 10) & 0x1F) * 8);
        if (out == 4) d[3] = 0;
      }
    } else if (out == 4 && !redLow) {
      for (int32_t x = 0; x < width; x++, s += step, d += 4) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
        d[3] = 0;  // a source alpha byte is dropped
      }
    } else {
      for (int32_t x = 0; x < width; x++, s += step, d += out) {
        d[low] = s[0];
        d[1] = s[1];
        d[high] = s[2];
        if (out == 4) d[3] = 0;
      }
    }
  }
}

// 1 with the destination point and source rectangle when part of the sprite shows.
int32_t SpriteClip(const Sprite* sprite, int32_t targetWidth, int32_t targetHeight, int32_t* x, int32_t* y,
                   RECT* source) {
  int32_t w = sprite->width, h = sprite->height;
  if (w <= 0 || h <= 0) return 0;
  if (*x >= targetWidth || *y >= targetHeight || *x <= -w || *y <= -h) return 0;
  if (static_cast<int64_t>(*x) + w > targetWidth) w = targetWidth - *x;
  if (static_cast<int64_t>(*y) + h > targetHeight) h = targetHeight - *y;
  int32_t dx = 0, dy = 0;
  if (*x < 0) {
    dx = -*x;
    *x = 0;
  }
  if (*y < 0) {
    dy = -*y;
    *y = 0;
  }
  source->left = sprite->sourceX + dx;
  source->top = sprite->sourceY + dy;
  source->right = sprite->sourceX + w;
  source->bottom = sprite->sourceY + h;
  return 1;
}

// Fills the record and creates the surface; null when the depths do not mix,
// the size does not fit the record, or the platform refuses.
IDirectDrawSurface7* SpriteSurfaceCreate(Sprite* sprite, int32_t width, int32_t height, int32_t bits,
                                         int32_t flags) {
  *sprite = Sprite{};
  if (width <= 0 || height <= 0 || width > INT16_MAX || height > INT16_MAX) return nullptr;
  sprite->width = sprite->fullWidth = static_cast<int16_t>(width);
  sprite->height = sprite->fullHeight = static_cast<int16_t>(height);
  sprite->bits = static_cast<int16_t>(bits);
  sprite->flags = static_cast<int16_t>(flags);
  // A palette image cannot go onto a true-colour screen, nor the other way round.
  if (bits && bits != DisplayDepth && (bits < 16 || DisplayDepth < 16)) return nullptr;
  if (!DirectDrawInterface) return nullptr;
  DDSURFACEDESC2 desc = SpriteSurfaceDesc(width, height, DDSCAPS_OFFSCREENPLAIN);
  IDirectDrawSurface7* surface = nullptr;
  if (DirectDrawInterface->CreateSurface(&desc, &surface, nullptr) != DD_OK) surface = nullptr;
  sprite->surface = surface;
  return surface;
}

// Sprite memory in use: every surface is charged 4 bytes per pixel of its
// full size, whatever the display depth, from its creation to SpriteFree.
// The count belongs to the sprite table it was made for.
static int64_t SpriteBytesInUse;
static const ObjectTable* SpriteBytesTable;

static int64_t SpriteCharge(int32_t width, int32_t height) { return static_cast<int64_t>(width) * height * 4; }

int64_t SpriteMemoryInUse() {
  if (SpriteBytesTable != SpriteTable) {
    SpriteBytesTable = SpriteTable;
    SpriteBytesInUse = 0;
  }
  return SpriteBytesInUse;
}

// 1 when a width x height sprite, made through a working buffer of buffer
// bytes, keeps every sprite together within SPRITE_MEMORY_BUDGET. Asked
// before anything is allocated, so that many large images cannot exhaust the
// machine between them.
static int32_t SpriteBudgetAllows(int32_t width, int32_t height, int64_t buffer) {
  return SpriteMemoryInUse() + SpriteCharge(width, height) + buffer <= SPRITE_MEMORY_BUDGET;
}

// Ends a failed load: frees the pixel buffer. A sprite asked for with -1
// (whose number the caller never learns) goes with its record, and so does
// the record of a reused dynamic number: a listed record without a surface
// would be visited by the save and restore walks and never freed.
static intptr_t SpriteLoadFail(int32_t number, int32_t chosen, Sprite* sprite, uint8_t* buffer) {
  if (buffer) HeapFree(MainHeap, 0, buffer);
  if (number < 0) {
    if (sprite->surface)
      SpriteFree(chosen);
    else
      ObjectRelease(SpriteTable, chosen);
  } else if (!sprite->surface) {
    *sprite = Sprite{};
  }
  return 0;
}

// As SpriteLoad, on an image already in memory of the given real size.
intptr_t SpriteFromMemory(int32_t number, const uint8_t* image, uint32_t size, int32_t flags) {
  if (!SpriteTable) return 0;
  int32_t chosen = number;
  Sprite* sprite = static_cast<Sprite*>(ObjectNew(SpriteTable, number, &chosen));
  if (!sprite) return 0;
  sprite->surface = nullptr;
  if (!image) return SpriteLoadFail(number, chosen, sprite, nullptr);

  const uint8_t* pixels = nullptr;
  uint8_t* buffer = nullptr;
  int32_t width, height, bits, bottomUp;
  BitmapInfo bmp;
  if (size >= 2 && image[0] == 'B' && image[1] == 'M') {
    if (!BitmapRead(image, size, &bmp)) return SpriteLoadFail(number, chosen, sprite, nullptr);
    width = bmp.width;
    height = bmp.height;
    bits = bmp.bits;
    bottomUp = !bmp.topDown;
    bool expand = DisplayDepth != 8 && (bits <= 8 || bmp.masked);
    int64_t expanded = static_cast<int64_t>(SpriteRowSize(width, 24)) * (static_cast<int64_t>(height) + 1);
    if (!SpriteBudgetAllows(width, height, expand ? expanded : 0))
      return SpriteLoadFail(number, chosen, sprite, nullptr);
    if (!expand) {
      pixels = bmp.pixels;
    } else {
      int32_t rowSize = SpriteRowSize(width, 24);
      buffer = static_cast<uint8_t*>(
          HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, static_cast<size_t>(rowSize) * (static_cast<size_t>(height) + 1)));
      if (!buffer || !BitmapExpand(&bmp, buffer)) return SpriteLoadFail(number, chosen, sprite, buffer);
      pixels = buffer;
      bits = 24;
    }
  } else {
    int32_t kind = ImageDecoderProbe(image, size);
    if (!kind) return SpriteLoadFail(number, chosen, sprite, nullptr);
    uint32_t decodedWidth = ImageDecoderWidth(), decodedHeight = ImageDecoderHeight();
    if (decodedWidth == 0 || decodedHeight == 0 || decodedWidth > SPRITE_MAX_SIDE ||
        decodedHeight > SPRITE_MAX_SIDE ||
        static_cast<uint64_t>(decodedWidth) * decodedHeight > SPRITE_MAX_PIXELS) {
      ImageDecoderDecode(nullptr, 0);
      return SpriteLoadFail(number, chosen, sprite, nullptr);
    }
    width = static_cast<int32_t>(decodedWidth);
    height = static_cast<int32_t>(decodedHeight);
    bits = kind == 2 ? 32 : 24;
    bottomUp = 0;
    int32_t rowSize = SpriteRowSize(width, bits);
    if (!SpriteBudgetAllows(width, height, static_cast<int64_t>(rowSize) * (static_cast<int64_t>(height) + 1))) {
      ImageDecoderDecode(nullptr, 0);
      return SpriteLoadFail(number, chosen, sprite, nullptr);
    }
    // Zeroed, so that rows a damaged image never delivers read as black.
    buffer = static_cast<uint8_t*>(
        HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, static_cast<size_t>(rowSize) * (static_cast<size_t>(height) + 1)));
    if (!buffer) {
      ImageDecoderDecode(nullptr, 0);
      return SpriteLoadFail(number, chosen, sprite, nullptr);
    }
    ImageDecoderDecode(buffer, rowSize);
    pixels = buffer;
  }

  IDirectDrawSurface7* surface = SpriteSurfaceCreate(sprite, width, height, bits, flags);
  if (!surface) return SpriteLoadFail(number, chosen, sprite, buffer);
  SpriteMemoryInUse();
  SpriteBytesInUse += SpriteCharge(sprite->fullWidth, sprite->fullHeight);
  if (surface->Lock(nullptr, &ScreenSurfaceDesc, DDLOCK_WAIT, nullptr) != DD_OK || !ScreenSurfaceDesc.lpSurface)
    return SpriteLoadFail(number, chosen, sprite, buffer);
  SpritePixelsConvert(static_cast<uint8_t*>(ScreenSurfaceDesc.lpSurface), ScreenSurfaceDesc.lPitch, pixels, width,
                      height, bits, bottomUp, DisplayDepth, ScreenPixelFormat);
  surface->Unlock(nullptr);
  DDCOLORKEY key = SpriteKeyDefault;
  surface->SetColorKey(DDCKEY_SRCBLT, &key);
  if (buffer) HeapFree(MainHeap, 0, buffer);
  return number == -1 ? static_cast<intptr_t>(chosen) : reinterpret_cast<intptr_t>(surface);
}

// Loads a BMP or PNG file as a sprite; 0 on failure.
intptr_t SpriteLoad(int32_t number, const char16_t* fileName) {
  HANDLE file =
      CreateFileW(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE || !file) return 0;
  DWORD size = GetFileSize(file, nullptr);
  if (size == INVALID_FILE_SIZE) {
    CloseHandle(file);
    return 0;
  }
  uint8_t* block = static_cast<uint8_t*>(HeapAlloc(MainHeap, 0, size ? size : 1));
  if (!block) {
    CloseHandle(file);
    return 0;
  }
  DWORD bytesRead = 0;
  // Only the bytes actually read count as the image.
  if (!ReadFile(file, block, size, &bytesRead, nullptr) || bytesRead > size) bytesRead = 0;
  intptr_t result = SpriteFromMemory(number, block, bytesRead, 0);
  HeapFree(MainHeap, 0, block);
  CloseHandle(file);
  return result;
}

// For -1 the new default key (the converted colour); for a sprite the
// platform's result of setting its key; 0 when there is no such sprite.
uint32_t SpriteKeySet(int32_t number, uint32_t colour) {
  uint32_t value = ScreenColorToPixel(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
  if (number == -1) {
    SpriteKeyDefault.dwColorSpaceLowValue = value;
    SpriteKeyDefault.dwColorSpaceHighValue = value;
    return value;
  }
  Sprite* sprite = SpriteGet(number);
  if (!sprite) return 0;
  DDCOLORKEY key = {value, value};
  return static_cast<uint32_t>(sprite->surface->SetColorKey(DDCKEY_SRCBLT, &key));
}

static HRESULT SpriteBlit(int32_t number, int32_t x, int32_t y, DWORD flags) {
  Sprite* sprite = SpriteGet(number);
  if (!sprite || !DisplayActive || !TargetSurface) return 0;
  RECT source;
  if (!SpriteClip(sprite, TargetWidth, TargetHeight, &x, &y, &source)) return 0;
  return TargetSurface->BltFast(static_cast<DWORD>(x), static_cast<DWORD>(y), sprite->surface, &source, flags);
}

// Draws the sprite opaque at (x, y), clipped; 0 or the platform's blit result.
HRESULT SpriteDraw(int32_t number, int32_t x, int32_t y) { return SpriteBlit(number, x, y, DDBLTFAST_WAIT); }

// Draws the sprite leaving out its key colour; 0 or the platform's blit result.
HRESULT SpriteDrawKeyed(int32_t number, int32_t x, int32_t y) {
  return SpriteBlit(number, x, y, DDBLTFAST_SRCCOLORKEY | DDBLTFAST_WAIT);
}

static HRESULT SpriteBlitPart(int32_t number, int32_t x, int32_t y, const RECT* part, DWORD flags) {
  Sprite* sprite = SpriteGet(number);
  if (!sprite || !part || !DisplayActive || !TargetSurface) return 0;
  RECT source;
  if (!SpriteClip(sprite, TargetWidth, TargetHeight, &x, &y, &source)) return 0;
  int32_t left = x > part->left ? x : part->left;
  int32_t top = y > part->top ? y : part->top;
  int32_t right = x + (source.right - source.left), bottom = y + (source.bottom - source.top);
  if (right > part->right) right = part->right;
  if (bottom > part->bottom) bottom = part->bottom;
  if (left >= right || top >= bottom) return 0;
  RECT cut = {source.left + (left - x), source.top + (top - y), source.left + (right - x), source.top + (bottom - y)};
  return TargetSurface->BltFast(static_cast<DWORD>(left), static_cast<DWORD>(top), sprite->surface, &cut, flags);
}

HRESULT SpriteDrawPart(int32_t number, int32_t x, int32_t y, const RECT* part) {
  return SpriteBlitPart(number, x, y, part, DDBLTFAST_WAIT);
}

HRESULT SpriteDrawKeyedPart(int32_t number, int32_t x, int32_t y, const RECT* part) {
  return SpriteBlitPart(number, x, y, part, DDBLTFAST_SRCCOLORKEY | DDBLTFAST_WAIT);
}

int32_t SpriteSize(int32_t number, int32_t* width, int32_t* height) {
  Sprite* sprite = SpriteGet(number);
  if (!sprite) return 0;
  *width = sprite->width;
  *height = sprite->height;
  return 1;
}

// Releases the sprite's surface and saved pixels; ObjectRelease's result, or 0.
int32_t SpriteFree(int32_t number) {
  Sprite* sprite = SpriteGet(number);
  if (!sprite) return 0;
  sprite->surface->Release();
  if (SpriteMemoryInUse() > 0) {
    SpriteBytesInUse -= SpriteCharge(sprite->fullWidth, sprite->fullHeight);
    if (SpriteBytesInUse < 0) SpriteBytesInUse = 0;
  }
  if (sprite->savedPixels) HeapFree(MainHeap, 0, sprite->savedPixels);
  return ObjectRelease(SpriteTable, number);
}

// Copies one sprite's pixels into a MainHeap block through a system-memory
// surface; a sprite for which any step fails is skipped.
static int32_t SpriteSaveOne(int32_t, void* record, void*) {
  Sprite* sprite = static_cast<Sprite*>(record);
  if (!sprite->surface || sprite->savedPixels || !DirectDrawInterface) return 1;
  DDSURFACEDESC2 desc =
      SpriteSurfaceDesc(sprite->fullWidth, sprite->fullHeight, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY);
  IDirectDrawSurface7* copy = nullptr;
  if (DirectDrawInterface->CreateSurface(&desc, &copy, nullptr) != DD_OK || !copy) return 1;
  void* block = nullptr;
  if (copy->Blt(nullptr, sprite->surface, nullptr, DDBLT_WAIT, nullptr) == DD_OK &&
      copy->Lock(nullptr, &ScreenSurfaceDesc, DDLOCK_WAIT, nullptr) == DD_OK) {
    int32_t pitch = ScreenSurfaceDesc.lPitch;
    if (pitch > 0 && ScreenSurfaceDesc.lpSurface) {
      size_t bytes = static_cast<size_t>(pitch) * static_cast<size_t>(sprite->fullHeight);
      block = HeapAlloc(MainHeap, 0, 4 + bytes);
      if (block) {
        std::memcpy(block, &pitch, 4);
        std::memcpy(static_cast<uint8_t*>(block) + 4, ScreenSurfaceDesc.lpSurface, bytes);
      }
    }
    copy->Unlock(nullptr);
  }
  sprite->savedPixels = block;
  copy->Release();
  return 1;
}

// Saves the pixels of every sprite without a saved copy.
void SpriteSaveAll() {
  if (SpriteTable) ObjectForEach(SpriteTable, SpriteSaveOne, nullptr);
}

// Restores a lost surface and writes the saved pixels back into it.
static int32_t SpriteRestoreOne(int32_t, void* record, void*) {
  Sprite* sprite = static_cast<Sprite*>(record);
  if (!sprite->surface) return 1;
  if (sprite->surface->IsLost() == DDERR_SURFACELOST) sprite->surface->Restore();
  if (!sprite->savedPixels) return 1;
  if (sprite->surface->Lock(nullptr, &ScreenSurfaceDesc, DDLOCK_WAIT, nullptr) != DD_OK) return 1;
  const uint8_t* saved = static_cast<const uint8_t*>(sprite->savedPixels);
  int32_t savedPitch;
  std::memcpy(&savedPitch, saved, 4);
  int32_t pitch = ScreenSurfaceDesc.lPitch;
  uint8_t* destination = static_cast<uint8_t*>(ScreenSurfaceDesc.lpSurface);
  if (destination && pitch > 0) {
    size_t rowBytes = static_cast<size_t>(savedPitch < pitch ? savedPitch : pitch);
    for (int32_t y = 0; y < sprite->fullHeight; y++)
      std::memcpy(destination + static_cast<int64_t>(y) * pitch, saved + 4 + static_cast<int64_t>(y) * savedPitch,
                  rowBytes);
  }
  sprite->surface->Unlock(nullptr);
  HeapFree(MainHeap, 0, sprite->savedPixels);
  sprite->savedPixels = nullptr;
  return 1;
}

// Restores every sprite after the display came back.
void SpriteRestoreAll() {
  if (SpriteTable) ObjectForEach(SpriteTable, SpriteRestoreOne, nullptr);
}
