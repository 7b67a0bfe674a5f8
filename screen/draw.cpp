// Text drawing on the screen: one drawing state over the device context of a
// DrawTarget (the back buffer's, from ScreenTarget), bracketed by DrawBegin
// and DrawEnd. Stands on the GDI stand-ins of platform/user.h.
#include "screen/draw.h"

#include <string>

#include "screen/screen.h"

struct DrawState {
  HDC dc;  // null outside a DrawBegin ... DrawEnd bracket
  int32_t kind;
  void (*release)();
  int32_t mode;
  uint32_t textColour;
  HBRUSH fillBrush;
  HBRUSH stockBrush;  // kept for the whole run
  HPEN stockPen;      // kept for the whole run
  HGDIOBJ previousBrush;
  HGDIOBJ previousPen;
};

static DrawState Draw;

void DrawSystemInit() {
  // A second initialisation closes an open bracket and keeps the stock objects.
  DrawEnd();
  HBRUSH brush = Draw.stockBrush;
  HPEN pen = Draw.stockPen;
  Draw = {};
  Draw.stockBrush = brush ? brush : CreateSolidBrush(RGB(0, 0, 0));
  Draw.stockPen = pen ? pen : CreatePen(PS_SOLID, 0, RGB(0, 0, 0));
}

HDC DrawBegin(DrawTarget* target) {
  DrawEnd();
  if (!target) return nullptr;
  Draw.kind = target->kind;
  Draw.release = target->release;
  Draw.mode = 0;
  Draw.dc = target->dc;
  if (Draw.dc) {
    SetTextAlign(Draw.dc, TA_UPDATECP);
    Draw.previousBrush = SelectObject(Draw.dc, Draw.stockBrush);
    Draw.previousPen = SelectObject(Draw.dc, Draw.stockPen);
    Draw.textColour = 0;
    Draw.fillBrush = CreateSolidBrush(RGB(0, 0, 0));
    SetTextColor(Draw.dc, RGB(0, 0, 0));
  }
  return Draw.dc;
}

int32_t DrawModeSet(int32_t mode) {
  if (!Draw.dc) return 0;
  Draw.mode = mode;
  SetROP2(Draw.dc, (mode & 2) ? R2_XORPEN : R2_COPYPEN);
  SelectObject(Draw.dc, (mode & 4) ? GetStockObject(NULL_BRUSH) : Draw.fillBrush);
  return SetBkMode(Draw.dc, (mode & 1) ? TRANSPARENT : OPAQUE);
}

int32_t DrawString(int32_t x, int32_t y, const char16_t* text, uint32_t colour) {
  if (!Draw.dc) return 0;
  bool recolour = colour != Draw.textColour;
  if (recolour) SetTextColor(Draw.dc, colour);
  MoveToEx(Draw.dc, x, y, nullptr);
  // With TA_UPDATECP the coordinates of TextOutW are ignored: the text starts
  // at the current position, which then advances by the text's width.
  if (text && text[0]) TextOutW(Draw.dc, 0, 0, text, static_cast<int>(std::char_traits<char16_t>::length(text)));
  if (recolour) SetTextColor(Draw.dc, Draw.textColour);
  POINT end = {0, 0};
  MoveToEx(Draw.dc, 0, 0, &end);
  return end.x;
}

int32_t DrawEnd() {
  if (!Draw.dc) return 0;
  SelectObject(Draw.dc, Draw.previousBrush);
  SelectObject(Draw.dc, Draw.previousPen);
  DeleteObject(Draw.fillBrush);
  Draw.fillBrush = nullptr;
  if (Draw.kind == 7 && Draw.release) Draw.release();
  Draw.dc = nullptr;
  return 1;
}
