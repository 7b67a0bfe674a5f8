// Sprites: numbered images in off-screen surfaces of the display's format,
// loaded from BMP or through the image decoders, drawn opaque or keyed with
// clipping, saved and restored across a lost display.
#pragma once

#include <cstdint>

#include "platform/ddraw.h"

struct Sprite {
  IDirectDrawSurface7* surface;  // null: no sprite under this number
  int16_t width;
  int16_t height;
  int16_t bits;
  int16_t flags;
  void* savedPixels;  // MainHeap block: int32 pitch, then the rows
  int16_t fullWidth;
  int16_t fullHeight;
  int16_t sourceX;
  int16_t sourceY;
};

// Largest width or height of an image that becomes a sprite (the record's
// 16-bit sizes; the display's surfaces go one further), and the most pixels
// one may hold; larger images are refused before anything is allocated.
#define SPRITE_MAX_SIDE 32767
#define SPRITE_MAX_PIXELS (16 * 1024 * 1024)

// Sprite memory all sprites together may take, at 4 bytes per pixel of each
// surface; the image being loaded is counted with its working buffer. A load
// that would pass it fails before it allocates.
#define SPRITE_MEMORY_BUDGET (int64_t(256) * 1024 * 1024)

extern DDCOLORKEY SpriteKeyDefault;

// The sprite memory charged to the sprites that exist now, in bytes.
int64_t SpriteMemoryInUse();

// 0 on failure; for a given number the surface pointer, for -1 the number chosen.
intptr_t SpriteLoad(int32_t number, const char16_t* fileName);
// As SpriteLoad, on an image already in memory of the given real size.
intptr_t SpriteFromMemory(int32_t number, const uint8_t* image, uint32_t size, int32_t flags);
IDirectDrawSurface7* SpriteSurfaceCreate(Sprite* sprite, int32_t width, int32_t height, int32_t bits,
                                         int32_t flags);
uint32_t SpriteKeySet(int32_t number, uint32_t colour);
HRESULT SpriteDraw(int32_t number, int32_t x, int32_t y);
HRESULT SpriteDrawKeyed(int32_t number, int32_t x, int32_t y);
// As SpriteDraw and SpriteDrawKeyed, but only the part of the sprite drawn at
// (x, y) that lies inside the target rectangle part is drawn: the pixels it
// writes are those the whole draw writes there. 0 or the platform's blit result.
HRESULT SpriteDrawPart(int32_t number, int32_t x, int32_t y, const RECT* part);
HRESULT SpriteDrawKeyedPart(int32_t number, int32_t x, int32_t y, const RECT* part);
// 1 with the sprite's width and height, 0 when the number holds no sprite.
int32_t SpriteSize(int32_t number, int32_t* width, int32_t* height);
int32_t SpriteFree(int32_t number);
void SpriteSaveAll();
void SpriteRestoreAll();

// ---- The pure parts of loading and drawing, used by the operations above. ----

// A BMP file's layout, every part checked against the file's real size.
struct BitmapInfo {
  int32_t width;        // 1 .. SPRITE_MAX_SIDE
  int32_t height;       // 1 .. SPRITE_MAX_SIDE (the stored height may be negative)
  int32_t bits;         // 1, 4, 8, 16 (5-5-5 unless masked), 24 or 32
  int32_t compression;  // 0 none, 1 8-bit run-length; 3 and 6 (masks) are read as 0
  int32_t topDown;      // 1: the first stored row is the top row
  int32_t masked;       // 1: 16 or 32 bits whose channels the masks give
  uint32_t masks[3];    // red, green, blue (when masked)
  const uint8_t* pixels;
  uint32_t pixelBytes;  // bytes from pixels to the end of the file
  int32_t rowStride;    // bytes per stored row when not run-length coded
  int32_t paletteCount; // palette entries present in the file (0 .. 256)
  const uint8_t* palette;  // 4 bytes per entry: blue, green, red, reserved
};

// 1 and the layout for a BMP within the supported subset, 0 for anything else.
int32_t BitmapRead(const uint8_t* image, uint32_t size, BitmapInfo* info);
// Expands a BMP of 8 bits or fewer, or a masked one, into 24-bit rows of
// SpriteRowSize(width, 24) bytes in the file's row order; destination holds
// height rows. Run-length streams are clipped at the image; indices beyond the
// palette give black; each masked channel is scaled to 0..255 from its width.
// 1 on success, 0 for a layout it does not expand.
int32_t BitmapExpand(const BitmapInfo* info, uint8_t* destination);
// Bytes per source row: 16 bits w*2 + (w mod 2)*2, 24 bits w*3 + (w mod 4), 32 bits w*4.
int32_t SpriteRowSize(int32_t width, int32_t bits);
// Converts height rows of 16-, 24- or 32-bit source pixels into surface memory
// of the given depth and ScreenPixelFormat; bottom-up sources fill the surface
// from its last row. Depths other than 16, 24 and 32 are left untouched.
void SpritePixelsConvert(uint8_t* destination, int32_t pitch, const uint8_t* source, int32_t width,
                         int32_t height, int32_t bits, int32_t bottomUp, int32_t depth, int32_t pixelFormat);
// 1 with the destination point and source rectangle when part of the sprite
// drawn at (*x, *y) lies inside a target of the given size, 0 otherwise.
int32_t SpriteClip(const Sprite* sprite, int32_t targetWidth, int32_t targetHeight, int32_t* x, int32_t* y,
                   RECT* source);
