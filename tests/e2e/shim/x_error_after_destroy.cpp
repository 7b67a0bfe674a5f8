// Loaded into tessel by an end-to-end test (LD_PRELOAD): after every
// XDestroyWindow it sends an event to the window just destroyed, which the X
// server answers with a BadWindow error, as it answers a request from another
// connection that reaches it after the destruction. Not part of Tessel.
#include <X11/Xlib.h>
#include <dlfcn.h>

extern "C" int XDestroyWindow(Display* display, Window window) {
  using Real = int (*)(Display*, Window);
  static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "XDestroyWindow"));
  const int result = real(display, window);
  XEvent event = {};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.format = 8;
  XSendEvent(display, window, False, NoEventMask, &event);
  return result;
}
