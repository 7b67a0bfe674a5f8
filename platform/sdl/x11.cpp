// X11 for the sdl backend: an error handler that keeps the program going, and
// whether a window manager runs.
#include "platform/sdl/x11.h"

#include <SDL2/SDL_syswm.h>
#include <X11/Xlib.h>

#include <cstring>

namespace {

// An X error is a protocol error on one request (a window that is already
// gone, say); none of the requests SDL or Tessel make is worth ending the
// program over.
int SdlX11IgnoreError(Display*, XErrorEvent*) { return 0; }

// A window manager is the one client that redirects the root window's
// structure requests.
bool SdlX11Redirected(Display* display) {
  XWindowAttributes root;
  if (!XGetWindowAttributes(display, DefaultRootWindow(display), &root)) return false;
  return (root.all_event_masks & SubstructureRedirectMask) != 0;
}

}  // namespace

void SdlX11KeepErrorsHarmless() { XSetErrorHandler(SdlX11IgnoreError); }

bool SdlX11WithoutWindowManager(SDL_Window* window) {
  const char* driver = SDL_GetCurrentVideoDriver();
  if (!driver || std::strcmp(driver, "x11") != 0) return false;
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (window && SDL_GetWindowWMInfo(window, &info) && info.subsystem == SDL_SYSWM_X11)
    return !SdlX11Redirected(info.info.x11.display);
  Display* display = XOpenDisplay(nullptr);
  if (!display) return false;
  const bool without = !SdlX11Redirected(display);
  XCloseDisplay(display);
  return without;
}
