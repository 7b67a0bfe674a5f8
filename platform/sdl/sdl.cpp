// The sdl backend (the product): one borderless window covering the desktop,
// the display mode shown in it at its own size where the monitor has that
// mode, otherwise scaled to fit with its aspect ratio kept; frames presented
// through an SDL renderer with vsync; keys, focus and close requests from
// SDL's events; message boxes through SDL, drawn by ourselves where SDL's
// cannot be shown or cannot get the keyboard, or on standard error where
// there is no display at all (SDL's drivers that show nothing count as none).
#include <SDL2/SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/backend.h"
#include "platform/kernel.h"
#include "platform/sdl/box.h"
#include "platform/sdl/x11.h"

uint32_t BackendFailures;
const bool BackendStartsInForeground = false;

namespace {

constexpr int32_t ModeSideMax = 16384;
constexpr Uint64 FrameMicroseconds = 16667;

// DIK codes by SDL scan code; keys a PC keyboard does not have stay 0.
struct KeyRow {
  SDL_Scancode scan;
  uint8_t dik;
};
const KeyRow KeyRows[] = {
    {SDL_SCANCODE_ESCAPE, 0x01},       {SDL_SCANCODE_1, 0x02},           {SDL_SCANCODE_2, 0x03},
    {SDL_SCANCODE_3, 0x04},            {SDL_SCANCODE_4, 0x05},           {SDL_SCANCODE_5, 0x06},
    {SDL_SCANCODE_6, 0x07},            {SDL_SCANCODE_7, 0x08},           {SDL_SCANCODE_8, 0x09},
    {SDL_SCANCODE_9, 0x0A},            {SDL_SCANCODE_0, 0x0B},           {SDL_SCANCODE_MINUS, 0x0C},
    {SDL_SCANCODE_EQUALS, 0x0D},       {SDL_SCANCODE_BACKSPACE, 0x0E},   {SDL_SCANCODE_TAB, 0x0F},
    {SDL_SCANCODE_Q, 0x10},            {SDL_SCANCODE_W, 0x11},           {SDL_SCANCODE_E, 0x12},
    {SDL_SCANCODE_R, 0x13},            {SDL_SCANCODE_T, 0x14},           {SDL_SCANCODE_Y, 0x15},
    {SDL_SCANCODE_U, 0x16},            {SDL_SCANCODE_I, 0x17},           {SDL_SCANCODE_O, 0x18},
    {SDL_SCANCODE_P, 0x19},            {SDL_SCANCODE_LEFTBRACKET, 0x1A}, {SDL_SCANCODE_RIGHTBRACKET, 0x1B},
    {SDL_SCANCODE_RETURN, 0x1C},       {SDL_SCANCODE_LCTRL, 0x1D},       {SDL_SCANCODE_A, 0x1E},
    {SDL_SCANCODE_S, 0x1F},            {SDL_SCANCODE_D, 0x20},           {SDL_SCANCODE_F, 0x21},
    {SDL_SCANCODE_G, 0x22},            {SDL_SCANCODE_H, 0x23},           {SDL_SCANCODE_J, 0x24},
    {SDL_SCANCODE_K, 0x25},            {SDL_SCANCODE_L, 0x26},           {SDL_SCANCODE_SEMICOLON, 0x27},
    {SDL_SCANCODE_APOSTROPHE, 0x28},   {SDL_SCANCODE_GRAVE, 0x29},       {SDL_SCANCODE_LSHIFT, 0x2A},
    {SDL_SCANCODE_BACKSLASH, 0x2B},    {SDL_SCANCODE_NONUSHASH, 0x2B},   {SDL_SCANCODE_Z, 0x2C},
    {SDL_SCANCODE_X, 0x2D},            {SDL_SCANCODE_C, 0x2E},           {SDL_SCANCODE_V, 0x2F},
    {SDL_SCANCODE_B, 0x30},            {SDL_SCANCODE_N, 0x31},           {SDL_SCANCODE_M, 0x32},
    {SDL_SCANCODE_COMMA, 0x33},        {SDL_SCANCODE_PERIOD, 0x34},      {SDL_SCANCODE_SLASH, 0x35},
    {SDL_SCANCODE_RSHIFT, 0x36},       {SDL_SCANCODE_KP_MULTIPLY, 0x37}, {SDL_SCANCODE_LALT, 0x38},
    {SDL_SCANCODE_SPACE, 0x39},        {SDL_SCANCODE_CAPSLOCK, 0x3A},    {SDL_SCANCODE_F1, 0x3B},
    {SDL_SCANCODE_F2, 0x3C},           {SDL_SCANCODE_F3, 0x3D},          {SDL_SCANCODE_F4, 0x3E},
    {SDL_SCANCODE_F5, 0x3F},           {SDL_SCANCODE_F6, 0x40},          {SDL_SCANCODE_F7, 0x41},
    {SDL_SCANCODE_F8, 0x42},           {SDL_SCANCODE_F9, 0x43},          {SDL_SCANCODE_F10, 0x44},
    {SDL_SCANCODE_NUMLOCKCLEAR, 0x45}, {SDL_SCANCODE_SCROLLLOCK, 0x46},  {SDL_SCANCODE_KP_7, 0x47},
    {SDL_SCANCODE_KP_8, 0x48},         {SDL_SCANCODE_KP_9, 0x49},        {SDL_SCANCODE_KP_MINUS, 0x4A},
    {SDL_SCANCODE_KP_4, 0x4B},         {SDL_SCANCODE_KP_5, 0x4C},        {SDL_SCANCODE_KP_6, 0x4D},
    {SDL_SCANCODE_KP_PLUS, 0x4E},      {SDL_SCANCODE_KP_1, 0x4F},        {SDL_SCANCODE_KP_2, 0x50},
    {SDL_SCANCODE_KP_3, 0x51},         {SDL_SCANCODE_KP_0, 0x52},        {SDL_SCANCODE_KP_PERIOD, 0x53},
    {SDL_SCANCODE_NONUSBACKSLASH, 0x56}, {SDL_SCANCODE_F11, 0x57},       {SDL_SCANCODE_F12, 0x58},
    {SDL_SCANCODE_F13, 0x64},          {SDL_SCANCODE_F14, 0x65},         {SDL_SCANCODE_F15, 0x66},
    {SDL_SCANCODE_LANG3, 0x70},        {SDL_SCANCODE_INTERNATIONAL1, 0x73}, {SDL_SCANCODE_INTERNATIONAL4, 0x79},
    {SDL_SCANCODE_INTERNATIONAL5, 0x7B}, {SDL_SCANCODE_INTERNATIONAL3, 0x7D}, {SDL_SCANCODE_KP_COMMA, 0x7E},
    {SDL_SCANCODE_KP_EQUALS, 0x8D},    {SDL_SCANCODE_AUDIOPREV, 0x90},   {SDL_SCANCODE_AUDIONEXT, 0x99},
    {SDL_SCANCODE_KP_ENTER, 0x9C},     {SDL_SCANCODE_RCTRL, 0x9D},       {SDL_SCANCODE_AUDIOMUTE, 0xA0},
    {SDL_SCANCODE_CALCULATOR, 0xA1},   {SDL_SCANCODE_AUDIOPLAY, 0xA2},   {SDL_SCANCODE_AUDIOSTOP, 0xA4},
    {SDL_SCANCODE_VOLUMEDOWN, 0xAE},   {SDL_SCANCODE_VOLUMEUP, 0xB0},    {SDL_SCANCODE_AC_HOME, 0xB2},
    {SDL_SCANCODE_KP_DIVIDE, 0xB5},    {SDL_SCANCODE_PRINTSCREEN, 0xB7}, {SDL_SCANCODE_SYSREQ, 0xB7},
    {SDL_SCANCODE_RALT, 0xB8},         {SDL_SCANCODE_PAUSE, 0xC5},       {SDL_SCANCODE_HOME, 0xC7},
    {SDL_SCANCODE_UP, 0xC8},           {SDL_SCANCODE_PAGEUP, 0xC9},      {SDL_SCANCODE_LEFT, 0xCB},
    {SDL_SCANCODE_RIGHT, 0xCD},        {SDL_SCANCODE_END, 0xCF},         {SDL_SCANCODE_DOWN, 0xD0},
    {SDL_SCANCODE_PAGEDOWN, 0xD1},     {SDL_SCANCODE_INSERT, 0xD2},      {SDL_SCANCODE_DELETE, 0xD3},
    {SDL_SCANCODE_LGUI, 0xDB},         {SDL_SCANCODE_RGUI, 0xDC},        {SDL_SCANCODE_APPLICATION, 0xDD},
    {SDL_SCANCODE_POWER, 0xDE},        {SDL_SCANCODE_SLEEP, 0xDF},       {SDL_SCANCODE_AC_SEARCH, 0xE5},
    {SDL_SCANCODE_AC_BOOKMARKS, 0xE6}, {SDL_SCANCODE_AC_REFRESH, 0xE7},  {SDL_SCANCODE_AC_STOP, 0xE8},
    {SDL_SCANCODE_AC_FORWARD, 0xE9},   {SDL_SCANCODE_AC_BACK, 0xEA},     {SDL_SCANCODE_COMPUTER, 0xEB},
    {SDL_SCANCODE_MAIL, 0xEC},         {SDL_SCANCODE_MEDIASELECT, 0xED},
};

struct SdlState {
  bool tried;  // video start attempted
  bool up;     // video running
  bool paced;  // the driver has no vsync: pace frames ourselves
  SDL_Window* window;
  SDL_Renderer* renderer;
  SDL_Texture* texture;
  int32_t textureWidth, textureHeight;
  bool modeSwitched;  // the monitor was switched to the mode
  bool shown;
  char title[512];
  bool cursorHidden;
  bool directTried;  // the choice below was made (at the first present)
  bool direct;       // frames go straight into the window surface: no GPU renderer here
  SDL_Surface* frame;  // the presented pixels as a surface, for scaling into the window's
  Uint64 nextFrame;
  uint8_t dikOf[SDL_NUM_SCANCODES];
};
SdlState Sdl;

void Shutdown() {
  if (Sdl.frame) SDL_FreeSurface(Sdl.frame);
  Sdl.frame = nullptr;
  if (Sdl.texture) SDL_DestroyTexture(Sdl.texture);
  if (Sdl.renderer) SDL_DestroyRenderer(Sdl.renderer);
  if (Sdl.window) {
    if (Sdl.modeSwitched) SDL_SetWindowFullscreen(Sdl.window, 0);
    SDL_DestroyWindow(Sdl.window);
  }
  Sdl.texture = nullptr;
  Sdl.renderer = nullptr;
  Sdl.window = nullptr;
  if (Sdl.up) SDL_Quit();
  Sdl.up = false;
}

// Whether SDL runs on a window system a person looks at, not on its
// offscreen or dummy driver.
bool OnWindowSystem() {
  const char* driver = SDL_GetCurrentVideoDriver();
  return driver && std::strcmp(driver, "offscreen") != 0 && std::strcmp(driver, "dummy") != 0;
}

bool VideoUp() {
  if (Sdl.tried) return Sdl.up;
  Sdl.tried = true;
  for (const KeyRow& row : KeyRows) Sdl.dikOf[row.scan] = row.dik;
  // Ctrl-C and SIGTERM stay with the console control handlers (kernel).
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
  SdlX11KeepErrorsHarmless();
  // The video drivers SDL tries on the way complain on standard error (the
  // Wayland one about XDG_RUNTIME_DIR); what failed is Tessel's to say.
  KernelQuietBegin();
  const int started = SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
  KernelQuietEnd();
  if (started != 0) return false;
  // Where no window system answers, SDL falls back to a driver that shows
  // nothing: the program would run on where nobody can see it. No display.
  if (!OnWindowSystem()) {
    SDL_Quit();
    return false;
  }
  Sdl.up = true;
  KernelOnExit(Shutdown);
  return true;
}

// The window covering the desktop, with its renderer; made once.
bool WindowUp() {
  if (Sdl.window) return true;
  if (!VideoUp()) return false;
  SDL_Rect desktop;
  if (SDL_GetDisplayBounds(0, &desktop) != 0) desktop = {0, 0, 640, 480};
  // Sized to the desktop by us: without a window manager nobody else would.
  // A window manager is asked for the fullscreen state as well, so that it
  // neither frames the window nor keeps it clear of its panels.
  // Untitled until the renderer is made, which may replace the X window: the
  // title then names only the window that stays.
  Sdl.window = SDL_CreateWindow("", desktop.x, desktop.y, desktop.w, desktop.h,
                                SDL_WINDOW_BORDERLESS | SDL_WINDOW_HIDDEN | SDL_WINDOW_FULLSCREEN_DESKTOP);
  if (!Sdl.window) return false;
  Sdl.renderer = SDL_CreateRenderer(Sdl.window, -1, SDL_RENDERER_PRESENTVSYNC);
  if (!Sdl.renderer) Sdl.renderer = SDL_CreateRenderer(Sdl.window, -1, SDL_RENDERER_SOFTWARE);
  if (!Sdl.renderer) {
    SDL_DestroyWindow(Sdl.window);
    Sdl.window = nullptr;
    return false;
  }
  SDL_RendererInfo info;
  if (SDL_GetRendererInfo(Sdl.renderer, &info) == 0 && !(info.flags & SDL_RENDERER_PRESENTVSYNC)) Sdl.paced = true;
  SDL_SetWindowTitle(Sdl.window, Sdl.title);
  SDL_ShowCursor(Sdl.cursorHidden ? SDL_DISABLE : SDL_ENABLE);
  return true;
}

void Clear() {
  SDL_SetRenderDrawColor(Sdl.renderer, 0, 0, 0, 255);
  SDL_RenderClear(Sdl.renderer);
}

// Waits until one refresh after the last frame. When that moment is past (the
// first frame, or after a pause) a shown frame goes at once, while a frame that
// shows nothing (`whole`) still waits a whole refresh from now.
void WaitForFrame(bool whole) {
  Uint64 now = SDL_GetPerformanceCounter() * 1000000 / SDL_GetPerformanceFrequency();
  if (Sdl.nextFrame <= now || Sdl.nextFrame - now > FrameMicroseconds) {
    Sdl.nextFrame = now + FrameMicroseconds;
    if (!whole) return;
  }
  SDL_Delay((Uint32)((Sdl.nextFrame - now) / 1000));
  Sdl.nextFrame += FrameMicroseconds;
}

void Pace() {
  if (Sdl.paced) WaitForFrame(false);
}

Uint32 SdlFormat(int32_t depth) {
  switch (depth) {
    case 15: return SDL_PIXELFORMAT_RGB555;
    case 16: return SDL_PIXELFORMAT_RGB565;
    case 24: return SDL_PIXELFORMAT_BGR24;  // bytes blue, green, red
    default: return SDL_PIXELFORMAT_RGB888;
  }
}

int32_t ButtonsOf(UINT type, SDL_MessageBoxButtonData* buttons) {
  static const char* const names[] = {"", "OK", "Cancel", "Abort", "Retry", "Ignore", "Yes", "No"};
  static const int32_t sets[6][3] = {{IDOK, 0, 0},           {IDOK, IDCANCEL, 0},   {IDABORT, IDRETRY, IDIGNORE},
                                     {IDYES, IDNO, IDCANCEL}, {IDYES, IDNO, 0},      {IDRETRY, IDCANCEL, 0}};
  const UINT set = (type & 0xF) < 6 ? (type & 0xF) : 0;
  int32_t n = 0;
  for (int32_t i = 0; i < 3 && sets[set][i]; i++, n++) {
    buttons[n].flags = i == 0 ? SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT : 0;
    if (sets[set][i] == IDCANCEL || (set == 0 && i == 0)) buttons[n].flags |= SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
    buttons[n].buttonid = sets[set][i];
    buttons[n].text = names[sets[set][i]];
  }
  return n;
}

}  // namespace

void BackendPumpEvents() {
  if (!Sdl.up) return;
  SDL_Event e;
  while (SDL_PollEvent(&e)) {
    switch (e.type) {
      case SDL_QUIT:
        UserPostClose();
        break;
      case SDL_WINDOWEVENT:
        if (e.window.event == SDL_WINDOWEVENT_FOCUS_GAINED) UserSetForeground(true);
        if (e.window.event == SDL_WINDOWEVENT_FOCUS_LOST) UserSetForeground(false);
        if (e.window.event == SDL_WINDOWEVENT_EXPOSED) UserInvalidate();
        break;
      case SDL_KEYDOWN:
      case SDL_KEYUP:
        if (e.key.keysym.scancode < SDL_NUM_SCANCODES && Sdl.dikOf[e.key.keysym.scancode])
          UserPostKey(Sdl.dikOf[e.key.keysym.scancode], e.type == SDL_KEYDOWN, (e.key.keysym.mod & KMOD_ALT) != 0);
        break;
      default:
        break;
    }
  }
}

void BackendMaxMode(int32_t* width, int32_t* height) {
  *width = ModeSideMax;
  *height = ModeSideMax;
}

void BackendDesktopMode(int32_t* width, int32_t* height, int32_t* depth) {
  SDL_DisplayMode mode;
  if (VideoUp() && SDL_GetDesktopDisplayMode(0, &mode) == 0) {
    *width = mode.w;
    *height = mode.h;
  } else {
    *width = 640;
    *height = 480;
  }
  *depth = 32;
}

bool BackendSetMode(int32_t width, int32_t height, int32_t depth) {
  (void)depth;  // frames are converted to the texture's format at present
  if (!WindowUp()) return false;
  // The monitor's own mode where it has this size; otherwise the desktop
  // window shows the frame scaled.
  SDL_DisplayMode desktop, exact = {};
  bool switched = false;
  if (SDL_GetDesktopDisplayMode(0, &desktop) == 0 && (desktop.w != width || desktop.h != height)) {
    for (int i = 0, n = SDL_GetNumDisplayModes(0); i < n; i++) {
      SDL_DisplayMode m;
      if (SDL_GetDisplayMode(0, i, &m) == 0 && m.w == width && m.h == height) {
        exact = m;
        switched = SDL_SetWindowDisplayMode(Sdl.window, &exact) == 0 &&
                   SDL_SetWindowFullscreen(Sdl.window, SDL_WINDOW_FULLSCREEN) == 0;
        break;
      }
    }
  }
  if (!switched && Sdl.modeSwitched) SDL_SetWindowFullscreen(Sdl.window, SDL_WINDOW_FULLSCREEN_DESKTOP);
  Sdl.modeSwitched = switched;
  if (Sdl.direct) return true;  // frames go to the window surface: no texture to size
  SDL_RenderSetLogicalSize(Sdl.renderer, width, height);
  if (!Sdl.texture || Sdl.textureWidth != width || Sdl.textureHeight != height) {
    if (Sdl.texture) SDL_DestroyTexture(Sdl.texture);
    Sdl.texture = SDL_CreateTexture(Sdl.renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, width, height);
    if (!Sdl.texture) return false;
    Sdl.textureWidth = width;
    Sdl.textureHeight = height;
  }
  Clear();
  SDL_RenderPresent(Sdl.renderer);
  return true;
}

void BackendReleaseMode() {
  if (!Sdl.window) return;
  if (Sdl.modeSwitched) SDL_SetWindowFullscreen(Sdl.window, 0);
  Sdl.modeSwitched = false;
}

// Whether the renderer draws with the processor (SDL's software renderer, or
// OpenGL through Mesa's llvmpipe or softpipe, as under Xvfb): copying the
// frame into the window surface then costs a fraction of a texture upload,
// a textured draw and a buffer swap. TESSEL_PRESENT=renderer or surface
// chooses either way (for measuring).
static bool RendererIsSoftware() {
  if (const char* want = SDL_getenv("TESSEL_PRESENT")) return std::strcmp(want, "surface") == 0;
  SDL_RendererInfo info;
  if (SDL_GetRendererInfo(Sdl.renderer, &info) != 0) return false;
  if (info.flags & SDL_RENDERER_SOFTWARE) return true;
  if (!info.name || std::strncmp(info.name, "opengl", 6) != 0) return false;
  typedef const unsigned char* (*GlGetString)(unsigned int);
  GlGetString getString = (GlGetString)SDL_GL_GetProcAddress("glGetString");
  const char* name = getString ? (const char*)getString(0x1F01) : nullptr;  // GL_RENDERER
  return name && (std::strstr(name, "llvmpipe") || std::strstr(name, "softpipe") ||
                  std::strstr(name, "Software Rasterizer"));
}

// Puts the frame into the window surface, scaled with its aspect ratio kept
// where the window is larger; false when this is not the way here.
static bool PresentDirect(const uint8_t* pixels, int32_t pitch, int32_t width, int32_t height, int32_t depth) {
  if (!Sdl.directTried && Sdl.renderer && Sdl.window) {
    Sdl.directTried = true;
    if (RendererIsSoftware()) {
      // The window surface and a renderer do not mix: the renderer goes.
      if (Sdl.texture) SDL_DestroyTexture(Sdl.texture);
      SDL_DestroyRenderer(Sdl.renderer);
      Sdl.texture = nullptr;
      Sdl.renderer = nullptr;
      Sdl.textureWidth = Sdl.textureHeight = 0;
      Sdl.direct = true;
      Sdl.paced = true;  // no vsync without a renderer: a timed wait of one refresh
      // Otherwise SDL backs the window surface with a renderer of its own.
      SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    }
  }
  if (!Sdl.direct) return false;
  SDL_Surface* window = Sdl.window ? SDL_GetWindowSurface(Sdl.window) : nullptr;
  if (!window) return true;  // nothing to show on (the window is being remade)
  if (window->w == width && window->h == height && depth == 32 && window->format->BytesPerPixel == 4 &&
      window->format->Rmask == 0x00FF0000 && window->format->Gmask == 0x0000FF00 &&
      window->format->Bmask == 0x000000FF) {
    for (int32_t y = 0; y < height; y++)
      std::memcpy((uint8_t*)window->pixels + (intptr_t)y * window->pitch, pixels + (intptr_t)y * pitch,
                  (size_t)width * 4);
  } else {
    // Made once per frame size, not every frame: only its pixels move (a flip swaps them).
    SDL_Surface* frame = Sdl.frame;
    if (!frame || frame->w != width || frame->h != height || frame->pitch != pitch ||
        frame->format->format != SdlFormat(depth)) {
      if (frame) SDL_FreeSurface(frame);
      frame = Sdl.frame = SDL_CreateRGBSurfaceWithFormatFrom((void*)pixels, width, height,
                                                             depth == 15 ? 16 : depth, pitch, SdlFormat(depth));
    }
    if (frame) {
      frame->pixels = (void*)pixels;
      // Letterboxed: the largest size of the frame's aspect that fits.
      SDL_Rect to = {0, 0, window->w, (int)((int64_t)window->w * height / width)};
      if (to.h > window->h) to = {0, 0, (int)((int64_t)window->h * width / height), window->h};
      to.x = (window->w - to.w) / 2;
      to.y = (window->h - to.h) / 2;
      SDL_FillRect(window, nullptr, 0);
      SDL_BlitScaled(frame, nullptr, window, &to);
    }
  }
  SDL_UpdateWindowSurface(Sdl.window);
  return true;
}

void BackendPresent(const uint8_t* pixels, int32_t pitch, int32_t width, int32_t height, int32_t depth) {
  if (PresentDirect(pixels, pitch, width, height, depth)) {
    Pace();
    return;
  }
  if (!Sdl.renderer) return;
  if (!Sdl.texture || Sdl.textureWidth != width || Sdl.textureHeight != height) {
    if (Sdl.texture) SDL_DestroyTexture(Sdl.texture);
    Sdl.texture = SDL_CreateTexture(Sdl.renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, width, height);
    Sdl.textureWidth = Sdl.texture ? width : 0;
    Sdl.textureHeight = Sdl.texture ? height : 0;
    SDL_RenderSetLogicalSize(Sdl.renderer, width, height);
  }
  Clear();
  void* out;
  int outPitch;
  if (Sdl.texture && SDL_LockTexture(Sdl.texture, nullptr, &out, &outPitch) == 0) {
    if (depth == 32) {
      for (int32_t y = 0; y < height; y++)
        std::memcpy((uint8_t*)out + (intptr_t)y * outPitch, pixels + (intptr_t)y * pitch, (size_t)width * 4);
    } else {
      SDL_ConvertPixels(width, height, SdlFormat(depth), pixels, pitch, SDL_PIXELFORMAT_RGB888, out, outPitch);
    }
    SDL_UnlockTexture(Sdl.texture);
    SDL_RenderCopy(Sdl.renderer, Sdl.texture, nullptr, nullptr);
  }
  SDL_RenderPresent(Sdl.renderer);
  Pace();
}

void BackendWaitRefresh() { WaitForFrame(true); }

void BackendReadKeys(uint8_t keys[256]) {
  std::memset(keys, 0, 256);
  if (!Sdl.up) return;
  BackendPumpEvents();
  int n = 0;
  const Uint8* state = SDL_GetKeyboardState(&n);
  for (int i = 0; i < n && i < SDL_NUM_SCANCODES; i++)
    if (state[i] && Sdl.dikOf[i]) keys[Sdl.dikOf[i]] = 0x80;
}

void BackendShowWindow(bool show) {
  if (!show) {
    if (Sdl.window) SDL_HideWindow(Sdl.window);
    Sdl.shown = false;
    return;
  }
  if (!WindowUp()) return;
  SDL_ShowWindow(Sdl.window);
  SDL_RaiseWindow(Sdl.window);
  SDL_SetWindowInputFocus(Sdl.window);
  Sdl.shown = true;
  // A window just shown by its program has the foreground; the window system
  // tells otherwise through its focus events.
  UserSetForeground(true);
}

void BackendSetTitle(const char* utf8) {
  std::snprintf(Sdl.title, sizeof Sdl.title, "%s", utf8);
  if (Sdl.window) SDL_SetWindowTitle(Sdl.window, Sdl.title);
}

void BackendShowCursor(bool show) {
  Sdl.cursorHidden = !show;
  if (Sdl.up) SDL_ShowCursor(show ? SDL_ENABLE : SDL_DISABLE);
}

int32_t BackendMessageBox(HWND owner, const char* caption, const char* text, UINT type) {
  SDL_MessageBoxButtonData buttons[3];
  const int32_t count = ButtonsOf(type, buttons);
  const UINT icon = type & 0xF0;
  SDL_MessageBoxData box = {};
  box.flags = icon == MB_ICONHAND ? SDL_MESSAGEBOX_ERROR
              : icon == MB_ICONEXCLAMATION ? SDL_MESSAGEBOX_WARNING
                                           : SDL_MESSAGEBOX_INFORMATION;
  box.window = (owner && owner == UserMainWindow() && Sdl.shown) ? Sdl.window : nullptr;
  box.title = caption;
  box.message = text;
  box.numbuttons = count;
  box.buttons = buttons;
  int pushed = -1;
  const bool drawnFirst = VideoUp() && SdlX11WithoutWindowManager(Sdl.window);
  if (drawnFirst) {
    // SDL's X11 box would never get the keyboard without a window manager
    // (it stays with the program's window), so Return could not answer it.
    pushed = SdlDrawnBox(box.window, box);
    if (pushed >= 0) return pushed;
  }
  int shown = (type & 0xF) == MB_OK ? SDL_ShowSimpleMessageBox(box.flags, caption, text, box.window)
                                    : SDL_ShowMessageBox(&box, &pushed);
  if (shown != 0 && !drawnFirst && VideoUp()) {
    // SDL's box needs what the window system may lack (the X core fonts):
    // draw one ourselves.
    pushed = SdlDrawnBox(box.window, box);
    if (pushed >= 0) return pushed;
  }
  if (shown != 0) {
    // No box can be shown (no display): the user still learns what it said,
    // on the real standard error.
    char line[1024];
    const int n = std::snprintf(line, sizeof line, "%s: %s\n", caption, text);
    DWORD written = 0;
    std::fflush(stderr);
    if (n > 0) WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, (DWORD)std::min(n, (int)sizeof line - 1), &written, nullptr);
    return buttons[0].buttonid;
  }
  if ((type & 0xF) == MB_OK) return IDOK;
  if (pushed <= 0) return count > 1 ? buttons[count - 1].buttonid : IDOK;  // closed without a button
  return pushed;
}
