// The one font the text stand-in draws with, for the sdl backend's own
// message box.
#pragma once

#include <SDL2/SDL_ttf.h>

// The sans font at the text size, opened on first use; null where none opens.
TTF_Font* GdiFont();
