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

extern DDCOLORKEY SpriteKeyDefault;

// 0 on failure; for a given number the surface pointer, for -1 the number chosen.
intptr_t SpriteLoad(int32_t number, const char16_t* fileName);
// As SpriteLoad, on an image already in memory of the given real size.
intptr_t SpriteFromMemory(int32_t number, const uint8_t* image, uint32_t size, int32_t flags);
IDirectDrawSurface7* SpriteSurfaceCreate(Sprite* sprite, int32_t width, int32_t height, int32_t bits,
                                         int32_t flags);
uint32_t SpriteKeySet(int32_t number, uint32_t colour);
HRESULT SpriteDraw(int32_t number, int32_t x, int32_t y);
HRESULT SpriteDrawKeyed(int32_t number, int32_t x, int32_t y);
int32_t SpriteFree(int32_t number);
void SpriteSaveAll();
void SpriteRestoreAll();
