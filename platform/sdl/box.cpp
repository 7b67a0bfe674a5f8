// A message box Tessel draws itself, for where SDL cannot show its own: SDL's
// X11 box needs the X server's core fonts, which many machines lack, and the
// user would otherwise never see why the program ended. One window titled
// with the caption, the text line by line in the sans font, the buttons in a
// row at the bottom right. Return or Space pushes the focused button, Escape
// the cancelling one, Tab and the arrow keys move the focus, a click pushes the
// button under the pointer; closing the window counts as Escape.
#include "platform/sdl/box.h"

#include <cstring>

#include "platform/backend.h"
#include "platform/gdi_font.h"

namespace {

constexpr int32_t LineMax = 40;
constexpr int32_t LineBytes = 512;
constexpr int32_t ButtonMax = 3;
constexpr int32_t Margin = 16;
constexpr int32_t Gap = 8;
constexpr int32_t ButtonWidthMin = 88;
constexpr Uint32 BoxPollMilliseconds = 10;

struct Layout {
  int32_t lines;
  char text[LineMax][LineBytes];
  int32_t lineSkip;
  int32_t width, height;
  SDL_Rect buttons[ButtonMax];
};

// Splits TEXT at line feeds (a carriage return before one is dropped); lines
// past the last that fits, or bytes past a line's room, are left out.
void SplitLines(const char* text, Layout* layout) {
  layout->lines = 0;
  const char* p = text ? text : "";
  while (layout->lines < LineMax) {
    const char* end = std::strchr(p, '\n');
    size_t n = end ? (size_t)(end - p) : std::strlen(p);
    size_t kept = n;
    if (kept && p[kept - 1] == '\r') kept--;
    if (kept >= LineBytes) {
      kept = LineBytes - 1;
      while (kept && ((unsigned char)p[kept] & 0xC0) == 0x80) kept--;  // not inside a character
    }
    std::memcpy(layout->text[layout->lines], p, kept);
    layout->text[layout->lines][kept] = 0;
    layout->lines++;
    if (!end) break;
    p = end + 1;
  }
  while (layout->lines > 1 && layout->text[layout->lines - 1][0] == 0) layout->lines--;
}

int32_t TextWidth(TTF_Font* font, const char* utf8) {
  int w = 0, h = 0;
  if (!*utf8 || TTF_SizeUTF8(font, utf8, &w, &h) != 0) return 0;
  return w;
}

// Sizes the box to its text and buttons, at most WIDTHMAX wide (longer lines
// are cut at the box's edge).
void Measure(TTF_Font* font, const SDL_MessageBoxData& box, int32_t widthMax, Layout* layout) {
  layout->lineSkip = TTF_FontLineSkip(font);
  int32_t textWidth = 0;
  for (int32_t i = 0; i < layout->lines; i++) {
    const int32_t w = TextWidth(font, layout->text[i]);
    if (w > textWidth) textWidth = w;
  }
  const int32_t buttonHeight = layout->lineSkip + 12;
  int32_t rowWidth = 0;
  int32_t widths[ButtonMax];
  for (int32_t i = 0; i < box.numbuttons; i++) {
    widths[i] = TextWidth(font, box.buttons[i].text) + 32;
    if (widths[i] < ButtonWidthMin) widths[i] = ButtonWidthMin;
    rowWidth += widths[i] + (i ? Gap : 0);
  }
  layout->width = (textWidth > rowWidth ? textWidth : rowWidth) + 2 * Margin;
  if (layout->width < 280) layout->width = 280;
  if (layout->width > widthMax && widthMax >= rowWidth + 2 * Margin) layout->width = widthMax;
  layout->height = Margin + layout->lines * layout->lineSkip + 2 * Margin + buttonHeight + Margin;
  int32_t x = layout->width - Margin - rowWidth;
  for (int32_t i = 0; i < box.numbuttons; i++) {
    layout->buttons[i] = {x, layout->height - Margin - buttonHeight, widths[i], buttonHeight};
    x += widths[i] + Gap;
  }
}

void Fill(SDL_Surface* s, const SDL_Rect& r, Uint8 red, Uint8 green, Uint8 blue) {
  SDL_FillRect(s, &r, SDL_MapRGB(s->format, red, green, blue));
}

void Print(SDL_Surface* target, TTF_Font* font, const char* utf8, int32_t x, int32_t y) {
  if (!*utf8) return;
  SDL_Surface* line = TTF_RenderUTF8_Blended(font, utf8, SDL_Color{0, 0, 0, 255});
  if (!line) return;
  SDL_Rect at = {x, y, line->w, line->h};
  SDL_BlitSurface(line, nullptr, target, &at);
  SDL_FreeSurface(line);
}

void Draw(SDL_Window* window, TTF_Font* font, const SDL_MessageBoxData& box, const Layout& layout, int32_t focus) {
  SDL_Surface* s = SDL_GetWindowSurface(window);
  if (!s) return;
  Fill(s, {0, 0, s->w, s->h}, 240, 240, 240);
  for (int32_t i = 0; i < layout.lines; i++) Print(s, font, layout.text[i], Margin, Margin + i * layout.lineSkip);
  for (int32_t i = 0; i < box.numbuttons; i++) {
    const SDL_Rect& b = layout.buttons[i];
    const int32_t edge = i == focus ? 2 : 1;
    if (i == focus)
      Fill(s, b, 0, 90, 200);
    else
      Fill(s, b, 130, 130, 130);
    Fill(s, {b.x + edge, b.y + edge, b.w - 2 * edge, b.h - 2 * edge}, 225, 225, 225);
    const int32_t w = TextWidth(font, box.buttons[i].text);
    Print(s, font, box.buttons[i].text, b.x + (b.w - w) / 2, b.y + (b.h - layout.lineSkip) / 2);
  }
  SDL_UpdateWindowSurface(window);
}

int32_t ButtonWith(const SDL_MessageBoxData& box, Uint32 flag) {
  for (int32_t i = 0; i < box.numbuttons; i++)
    if (box.buttons[i].flags & flag) return i;
  return -1;
}

}  // namespace

int32_t SdlDrawnBox(SDL_Window* owner, const SDL_MessageBoxData& box) {
  if (box.numbuttons < 1 || box.numbuttons > ButtonMax) return -1;
  TTF_Font* font = GdiFont();
  if (!font) return -1;
  static Layout layout;  // a box is modal: one at a time
  SDL_Rect desktop;
  const bool bounds = SDL_GetDisplayBounds(0, &desktop) == 0;
  SplitLines(box.message, &layout);
  Measure(font, box, bounds ? desktop.w : INT32_MAX, &layout);
  if (!bounds) desktop = {0, 0, layout.width, layout.height};
  SDL_Window* window = SDL_CreateWindow("", desktop.x + (desktop.w - layout.width) / 2,
                                        desktop.y + (desktop.h - layout.height) / 2, layout.width, layout.height,
                                        SDL_WINDOW_ALWAYS_ON_TOP | SDL_WINDOW_SKIP_TASKBAR | SDL_WINDOW_HIDDEN);
  if (!window) return -1;
  // SDL may replace the X window when it first makes the window's surface.
  // That happens here, hidden and untitled, so the window that is shown,
  // titled and given the keyboard is the one that stays (the keyboard given
  // to a replaced window is gone with it).
  if (!SDL_GetWindowSurface(window)) {
    SDL_DestroyWindow(window);
    return -1;
  }
  SDL_SetWindowTitle(window, box.title ? box.title : "");
  if (owner) SDL_SetWindowModalFor(window, owner);
  SDL_ShowWindow(window);
  SDL_RaiseWindow(window);
  SDL_SetWindowInputFocus(window);
  const Uint32 id = SDL_GetWindowID(window);

  int32_t focus = ButtonWith(box, SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT);
  if (focus < 0) focus = 0;
  const int32_t cancel = ButtonWith(box, SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT);
  int32_t pressed = -1;  // the button the pointer went down on
  int32_t pushed = -1;
  SDL_Keycode armed = SDLK_UNKNOWN;  // the answering key pressed in the box
  Draw(window, font, box, layout, focus);

  // Polled, not waited for: while SDL waits it sends itself a wake-up event
  // for the box's window on a second X connection, which can reach the
  // server after the window was destroyed on the first.
  SDL_Event e;
  while (pushed < 0) {
    if (!SDL_PollEvent(&e)) {
      SDL_Delay(BoxPollMilliseconds);
      continue;
    }
    switch (e.type) {
      case SDL_WINDOWEVENT:
        if (e.window.windowID != id) {
          // The program's own window keeps telling about its focus.
          if (e.window.event == SDL_WINDOWEVENT_FOCUS_GAINED) UserSetForeground(true);
          if (e.window.event == SDL_WINDOWEVENT_FOCUS_LOST) UserSetForeground(false);
        } else if (e.window.event == SDL_WINDOWEVENT_CLOSE) {
          if (cancel >= 0) pushed = cancel;
          else if (box.numbuttons == 1) pushed = 0;
        } else if (e.window.event == SDL_WINDOWEVENT_EXPOSED || e.window.event == SDL_WINDOWEVENT_SHOWN ||
                   e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
          Draw(window, font, box, layout, focus);
        }
        break;
      case SDL_KEYDOWN:
        // Modal: the keys are the box's whichever window has the focus.
        switch (e.key.keysym.sym) {
          case SDLK_RETURN:
          case SDLK_KP_ENTER:
          case SDLK_SPACE:
          case SDLK_ESCAPE:
            if (!e.key.repeat) armed = e.key.keysym.sym;
            break;
          case SDLK_TAB:
          case SDLK_RIGHT:
            focus = (e.key.keysym.mod & KMOD_SHIFT) && e.key.keysym.sym == SDLK_TAB
                        ? (focus + box.numbuttons - 1) % box.numbuttons
                        : (focus + 1) % box.numbuttons;
            Draw(window, font, box, layout, focus);
            break;
          case SDLK_LEFT:
            focus = (focus + box.numbuttons - 1) % box.numbuttons;
            Draw(window, font, box, layout, focus);
            break;
          default:
            break;
        }
        break;
      case SDL_KEYUP:
        // A button is pushed when its key is let go after a press the box
        // saw, so a release left over from before the box does not answer
        // it, and whoever sent the key can still send the release.
        if (e.key.keysym.sym != armed) break;
        armed = SDLK_UNKNOWN;
        if (e.key.keysym.sym != SDLK_ESCAPE) pushed = focus;
        else if (cancel >= 0) pushed = cancel;
        break;
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP: {
        if (e.button.windowID != id || e.button.button != SDL_BUTTON_LEFT) break;
        const SDL_Point at = {e.button.x, e.button.y};
        int32_t under = -1;
        for (int32_t i = 0; i < box.numbuttons; i++)
          if (SDL_PointInRect(&at, &layout.buttons[i])) under = i;
        if (e.type == SDL_MOUSEBUTTONDOWN) {
          pressed = under;
          if (under >= 0 && under != focus) {
            focus = under;
            Draw(window, font, box, layout, focus);
          }
        } else {
          if (under >= 0 && under == pressed) pushed = under;
          pressed = -1;
        }
        break;
      }
      default:
        break;  // a quit request from closing the last window is the box's own
    }
  }
  SDL_DestroyWindow(window);
  SDL_FlushEvent(SDL_QUIT);
  return pushed >= 0 ? box.buttons[pushed].buttonid : -1;
}
