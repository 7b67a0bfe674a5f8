// What the sdl backend does on X11 beyond what SDL does itself.
#pragma once

#include <SDL2/SDL.h>

// Installs an X error handler that lets the program go on. Called before
// SDL_Init, so SDL's own handler hands every error it does not expect to it
// (Xlib's default prints the error and ends the process with code 1).
void SdlX11KeepErrorsHarmless();

// Whether SDL runs on X11 with no window manager on the display of WINDOW
// (or, without one, of the default display).
bool SdlX11WithoutWindowManager(SDL_Window* window);
