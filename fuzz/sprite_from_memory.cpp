// Fuzz target: SpriteFromMemory over arbitrary bytes (BMP, PNG or neither) on
// a headless screen; a loaded sprite is drawn clipped and freed again.
#include <cstdio>
#include <cstdlib>

#include "platform/kernel.h"
#include "runtime/runtime.h"
#include "screen/decoders.h"
#include "screen/screen.h"
#include "screen/sprites.h"

// The runtime pieces a sprite load needs, without RuntimeStart's fault
// handler, which would stand in the sanitizers' way.
static int FuzzSetUp() {
  MainHeap = HeapCreate(0, 4096, 0);
  ObjectListHeap = HeapCreate(0, 1024, 0);
  ImageDecoderReset();
  PngDecoderUse();
  if (!ScreenSystemInit() || !ScreenOpen(64, 48, 32, u"fuzz")) {
    std::fputs("fuzz_sprite_from_memory: no headless screen\n", stderr);
    std::abort();
  }
  return 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static int ready = FuzzSetUp();
  (void)ready;
  // Alternate numbered and dynamically numbered sprites.
  int32_t number = (size & 1) ? -1 : 7;
  intptr_t result = SpriteFromMemory(number, data, static_cast<uint32_t>(size), 0);
  if (result) {
    int32_t chosen = number == -1 ? static_cast<int32_t>(result) : number;
    SpriteDrawKeyed(chosen, -5, -3);
    SpriteDraw(chosen, 60, 40);
    SpriteFree(chosen);
  }
  return 0;
}
