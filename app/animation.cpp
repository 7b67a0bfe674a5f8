// Tile animation: the set-up that lists the animated tile types and gives
// every tile type its first image, and TileAnimate, which steps all animated
// tile types together once per interval.
// Depends on the map records, the runtime's arrays and the timer.
#include "app/map.h"
#include "runtime/arrays.h"
#include "runtime/timing.h"
#include "app/line.h"

int64_t AnimationLastTick;

void TileAnimationSetUp() {
  L ArrayFreeRaw(AnimatedTileList);
  L ArrayAlloc(2, sizeof(int16_t), nullptr, (void**)&AnimatedTileList, MapArrayWords);
  // The next entry to fill is counted in 32 bits: with 32767 animated tile
  // types it reaches 32768, which the 16-bit count could not hold.
  L int32_t next = 1;
  L for (int32_t t = 1; t <= Map.tileTypeCount; t++) {
    L TileType* type = &TileTypes[t];
    L if (type->frameCount > 1) {
      L AnimatedTileList[next] = (int16_t)t;
      L next += 1;
      L type->currentImage = (int16_t)t;
      L ArrayResize(next + 2, (void**)&AnimatedTileList);
    } else if (type->frameCount == 1) {
      L type->currentImage = (int16_t)t;
    }
  }
  L AnimatedTileCount = (int16_t)(next - 1);
}

void TileAnimate(int16_t interval) {
  // Widened as a signed 32-bit value: past 2^31 ms it turns negative and the
  // animation stops, as it always has.
  L int64_t now = (int32_t)TimerMilliseconds();
  L if (now < AnimationLastTick + interval) {
    L return;
  }
  L for (int32_t k = 1; k <= AnimatedTileCount; k++) {
    L int32_t t = AnimatedTileList[k];
    L TileType* type = &TileTypes[t];
    // The cycle is t .. t + F - 1 whether or not those tile types exist: a frame
    // past the last one names no tile type and draws nothing (a blinking tile).
    // The frame is counted from t in 16 bits, so a cycle that runs past 32767
    // wraps the current image but still steps through its F frames.
    L int32_t frame = (uint16_t)((uint16_t)type->currentImage - (uint16_t)t);
    L if (frame < type->frameCount - 1) {
      L type->currentImage = (int16_t)(uint16_t)(t + frame + 1);
    } else {
      L type->currentImage = (int16_t)t;
    }
  }
  L AnimationLastTick = now;
}
