// TEMPORARY during parallel development: weak fallbacks for operations of
// modules still being written, so each module links on its own. A module's
// real definition replaces its fallback. Deleted at integration.
#include <cstdio>
#include <cstdlib>

#include "app/runner.h"
#include "errors/errors.h"
#include "input/keyboard.h"
#include "platform/kernel.h"
#include "screen/decoders.h"
#include "screen/draw.h"
#include "screen/screen.h"

__attribute__((weak)) void PlatformBuiltinModules() {}
__attribute__((weak)) void DrawSystemInit() {}
__attribute__((weak)) void ImageDecoderReset() {}
__attribute__((weak)) int32_t ErrorHandlerInstall() { return 0; }
__attribute__((weak)) int32_t ErrorHandlerRemove() { return 0; }
__attribute__((weak)) void ScreenSystemEnd() {}
__attribute__((weak)) void KeyboardRelease() {}
__attribute__((weak)) void MapRunnerMain() {
  std::fputs("tessel: the Map runner is not built yet\n", stderr);
  std::exit(0);
}
