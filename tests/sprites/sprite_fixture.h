// Set-up shared by the sprite tests on the headless backend: the runtime
// started once per process, the screen system and the PNG decoder per test,
// and ways to read a sprite's pixels and the presented frame.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "images.h"
#include "input/keyboard.h"
#include "platform/headless.h"
#include "runtime/objects.h"
#include "runtime/runtime.h"
#include "screen/decoders.h"
#include "screen/screen.h"
#include "screen/sprites.h"

class SpriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static bool started = false;
    if (!started) {
      started = true;
      RuntimeStart();
    }
    HeadlessReset();
    ASSERT_NE(ScreenSystemInit(), nullptr);
    PngDecoderUse();
  }
  void TearDown() override {
    ScreenClose();
    ScreenSystemEnd();
    KeyboardRelease();
    HeadlessReset();
  }
  void Open(int32_t depth = 32, int32_t width = 640, int32_t height = 480) {
    ASSERT_EQ(ScreenOpen(width, height, depth, u"Tessel"), 1);
  }

  static intptr_t Load(int32_t number, const Bytes& file) {
    return SpriteFromMemory(number, file.data(), static_cast<uint32_t>(file.size()), 0);
  }
  static Sprite* Get(int32_t number) { return static_cast<Sprite*>(ObjectGet(SpriteTable, number)); }

  // Every pixel value of a sprite's surface, row by row (empty when it cannot be locked).
  static std::vector<uint32_t> Pixels(int32_t number) {
    std::vector<uint32_t> out;
    Sprite* sprite = Get(number);
    if (!sprite) return out;
    DDSURFACEDESC2 desc = {};
    desc.dwSize = sizeof desc;
    if (sprite->surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr) != DD_OK) return out;
    int32_t bytes = (DisplayDepth + 7) / 8;
    for (int32_t y = 0; y < sprite->fullHeight; y++)
      for (int32_t x = 0; x < sprite->fullWidth; x++) {
        const uint8_t* p = static_cast<const uint8_t*>(desc.lpSurface) + y * desc.lPitch + x * bytes;
        uint32_t value = 0;
        for (int32_t i = 0; i < bytes; i++) value |= static_cast<uint32_t>(p[i]) << (8 * i);
        out.push_back(value);
      }
    sprite->surface->Unlock(nullptr);
    return out;
  }
  // The colour key a sprite's surface holds.
  static uint32_t Key(int32_t number) {
    DDSURFACEDESC2 desc = {};
    desc.dwSize = sizeof desc;
    Sprite* sprite = Get(number);
    if (!sprite || sprite->surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr) != DD_OK) return 0xDEADBEEF;
    sprite->surface->Unlock(nullptr);
    return desc.ddckCKSrcBlt.dwColorSpaceLowValue;
  }
  // A pixel of the last presented frame as 0x00RRGGBB.
  static uint32_t Frame(int32_t x, int32_t y) {
    HeadlessFrame frame = HeadlessLastFrame();
    if (x < 0 || y < 0 || x >= frame.width || y >= frame.height) return 0xDEADBEEF;
    const uint8_t* p = frame.bgr + (static_cast<size_t>(y) * frame.width + x) * 3;
    return static_cast<uint32_t>(p[2]) << 16 | p[1] << 8 | p[0];
  }
  static int32_t SpriteCount() {
    int32_t count = 0, number = 0;
    ObjectEnumStart(SpriteTable);
    while (ObjectEnumNext(SpriteTable, &number)) count++;
    return count;
  }
};

// A w x h RGB PNG (or RGBA with alpha 0 everywhere) from 0x00RRGGBB colours, top row first.
inline Bytes PngOf(const std::vector<uint32_t>& colours, uint32_t width, uint32_t height, bool alpha = false) {
  PngImage p;
  p.width = width;
  p.height = height;
  p.colourType = alpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB;
  for (uint32_t c : colours) {
    p.rows.insert(p.rows.end(), {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
    if (alpha) p.rows.push_back(0);
  }
  return PngFile(p);
}
