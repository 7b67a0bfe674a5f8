// The sdl backend's own message box, for where SDL cannot show one.
#pragma once

#include <SDL2/SDL.h>

#include <cstdint>

// Shows BOX drawn with Tessel's font until a button is pushed and gives that
// button's id; -1 when no box could be made (no font, no window).
int32_t SdlDrawnBox(SDL_Window* owner, const SDL_MessageBoxData& box);
