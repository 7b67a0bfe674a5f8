// GDI stand-in: device contexts over DirectDraw surfaces (and the paint
// context of a window, which draws nothing), solid brushes and pens with the
// stock objects, rectangle fills and text. Text is FreeType through SDL2_ttf
// with the sans font fontconfig names, one size, glyph coverage cached per
// character and blended onto 15/16/24/32-bit pixels.
#include <SDL2/SDL_ttf.h>
#include <fontconfig/fontconfig.h>

#include <cstdlib>
#include <cstring>

#include "platform/backend.h"
#include "platform/gdi_font.h"

namespace {

constexpr int32_t DcMax = 32;
constexpr int32_t ObjectMax = 256;
constexpr int32_t StockCount = 9;  // WHITE_BRUSH 0 ... NULL_PEN 8
constexpr int32_t FontPointSize = 16;
constexpr int32_t GlyphSlots = 512;

enum ObjectKind : uint8_t { ObjectFree, ObjectBrush, ObjectPen };

struct GdiObject {
  ObjectKind kind;
  bool stock;
  bool hollow;  // NULL_BRUSH, NULL_PEN
  int32_t style, width;
  COLORREF colour;
};

struct DeviceContext {
  bool live;
  IDirectDrawSurface7* surface;  // null for a window's paint context
  COLORREF text, background;
  int32_t backgroundMode, rop2;
  UINT align;
  POINT position;
  GdiObject* brush;
  GdiObject* pen;
};

struct Glyph {
  uint32_t codePoint;  // 0xFFFFFFFF when the slot is empty
  int32_t advance;
  int32_t left;  // column of the bitmap relative to the pen position
  int32_t width, height;
  uint8_t* coverage;  // width x height, 0-255
};

struct GdiState {
  DeviceContext dcs[DcMax];
  GdiObject objects[ObjectMax];
  bool stockReady;
  bool fontTried;
  TTF_Font* font;
  int32_t fontHeight;
  Glyph glyphs[GlyphSlots];
};
GdiState Gdi;

void StockInit() {
  if (Gdi.stockReady) return;
  const COLORREF greys[4] = {0xFFFFFF, 0xC0C0C0, 0x808080, 0x404040};
  for (int32_t i = 0; i < 4; i++) Gdi.objects[i] = {ObjectBrush, true, false, 0, 0, greys[i]};
  Gdi.objects[BLACK_BRUSH] = {ObjectBrush, true, false, 0, 0, 0};
  Gdi.objects[NULL_BRUSH] = {ObjectBrush, true, true, 0, 0, 0};
  Gdi.objects[6] = {ObjectPen, true, false, PS_SOLID, 0, 0xFFFFFF};  // WHITE_PEN
  Gdi.objects[7] = {ObjectPen, true, false, PS_SOLID, 0, 0};         // BLACK_PEN
  Gdi.objects[8] = {ObjectPen, true, true, PS_SOLID, 0, 0};          // NULL_PEN
  for (int32_t i = 0; i < GlyphSlots; i++) Gdi.glyphs[i].codePoint = 0xFFFFFFFFu;
  Gdi.stockReady = true;
}

DeviceContext* DcOf(HDC hdc) {
  const uintptr_t p = (uintptr_t)hdc, base = (uintptr_t)&Gdi.dcs[0];
  if (p < base || p >= base + sizeof Gdi.dcs || (p - base) % sizeof(DeviceContext)) return nullptr;
  DeviceContext* dc = (DeviceContext*)p;
  return dc->live ? dc : nullptr;
}

GdiObject* ObjectOf(HGDIOBJ handle) {
  const uintptr_t p = (uintptr_t)handle, base = (uintptr_t)&Gdi.objects[0];
  if (p < base || p >= base + sizeof Gdi.objects || (p - base) % sizeof(GdiObject)) return nullptr;
  GdiObject* o = (GdiObject*)p;
  return o->kind == ObjectFree ? nullptr : o;
}

GdiObject* NewObject(const GdiObject& value) {
  StockInit();
  for (int32_t i = StockCount; i < ObjectMax; i++)
    if (Gdi.objects[i].kind == ObjectFree) {
      Gdi.objects[i] = value;
      return &Gdi.objects[i];
    }
  return nullptr;
}

uint32_t PixelOf(COLORREF c, int32_t depth) {
  const uint32_t r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
  if (depth == 15) return (r >> 3) << 10 | (g >> 3) << 5 | b >> 3;
  if (depth == 16) return (r >> 3) << 11 | (g >> 2) << 5 | b >> 3;
  return r << 16 | g << 8 | b;
}

// The surface under a context, with the pixels it has now (a flip swaps
// them); false for a paint context or a surface that cannot be drawn on.
bool TargetBits(DeviceContext* dc, SurfaceBits* bits) {
  return dc->surface && DDrawSurfaceBits(dc->surface, bits) && bits->pixels;
}

void FillBits(const SurfaceBits& bits, int32_t left, int32_t top, int32_t right, int32_t bottom, uint32_t pixel) {
  if (left < 0) left = 0;
  if (top < 0) top = 0;
  if (right > bits.width) right = bits.width;
  if (bottom > bits.height) bottom = bits.height;
  if (left >= right || top >= bottom) return;
  const int32_t bpp = bits.depth == 15 ? 2 : bits.depth / 8;
  uint8_t* row = bits.pixels + (intptr_t)top * bits.pitch + (intptr_t)left * bpp;
  for (int32_t y = top; y < bottom; y++, row += bits.pitch)
    for (int32_t x = 0; x < right - left; x++) std::memcpy(row + x * bpp, &pixel, bpp);
}

// ---- the font ----

bool FontReady() {
  if (Gdi.fontTried) return Gdi.font != nullptr;
  Gdi.fontTried = true;
  if (!TTF_WasInit() && TTF_Init() != 0) return false;
  char path[1024] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
  if (FcInit()) {
    if (FcPattern* want = FcNameParse((const FcChar8*)"sans")) {
      FcConfigSubstitute(nullptr, want, FcMatchPattern);
      FcDefaultSubstitute(want);
      FcResult result;
      if (FcPattern* found = FcFontMatch(nullptr, want, &result)) {
        FcChar8* file = nullptr;
        if (FcPatternGetString(found, FC_FILE, 0, &file) == FcResultMatch && file &&
            std::strlen((const char*)file) < sizeof path)
          std::strcpy(path, (const char*)file);
        FcPatternDestroy(found);
      }
      FcPatternDestroy(want);
    }
  }
  Gdi.font = TTF_OpenFont(path, FontPointSize);
  if (!Gdi.font) return false;
  TTF_SetFontHinting(Gdi.font, TTF_HINTING_NORMAL);
  Gdi.fontHeight = TTF_FontHeight(Gdi.font);
  return true;
}

// The cached glyph of a character, rendered on first use.
const Glyph* GlyphOf(uint32_t cp) {
  Glyph& g = Gdi.glyphs[(cp ^ (cp >> 9)) % GlyphSlots];
  if (g.codePoint == cp) return &g;
  std::free(g.coverage);
  g = {cp, 0, 0, 0, 0, nullptr};
  int minx = 0, maxx = 0, miny = 0, maxy = 0, advance = 0;
  if (TTF_GlyphMetrics32(Gdi.font, cp, &minx, &maxx, &miny, &maxy, &advance) != 0) {
    cp = '?';
    TTF_GlyphMetrics32(Gdi.font, cp, &minx, &maxx, &miny, &maxy, &advance);
  }
  g.advance = advance;
  SDL_Surface* s = TTF_RenderGlyph32_Shaded(Gdi.font, cp, SDL_Color{255, 255, 255, 255}, SDL_Color{0, 0, 0, 255});
  if (!s) return &g;
  // The rendered cell starts at the pen position, or further left by the
  // glyph's negative bearing; its rows are the font's line.
  g.left = minx < 0 ? minx : 0;
  g.width = s->w;
  g.height = s->h;
  g.coverage = (uint8_t*)std::malloc((size_t)s->w * s->h);
  if (!g.coverage) {
    g.width = g.height = 0;
  } else {
    SDL_LockSurface(s);
    for (int32_t y = 0; y < s->h; y++) std::memcpy(g.coverage + y * s->w, (uint8_t*)s->pixels + y * s->pitch, s->w);
    SDL_UnlockSurface(s);
  }
  SDL_FreeSurface(s);
  return &g;
}

inline void Unpack(uint32_t p, int32_t depth, uint32_t* r, uint32_t* g, uint32_t* b) {
  if (depth == 15) {
    *r = (p >> 10 & 31) * 255 / 31;
    *g = (p >> 5 & 31) * 255 / 31;
    *b = (p & 31) * 255 / 31;
  } else if (depth == 16) {
    *r = (p >> 11 & 31) * 255 / 31;
    *g = (p >> 5 & 63) * 255 / 63;
    *b = (p & 31) * 255 / 31;
  } else {
    *r = p >> 16 & 255;
    *g = p >> 8 & 255;
    *b = p & 255;
  }
}

inline uint32_t Pack(uint32_t r, uint32_t g, uint32_t b, int32_t depth) {
  return PixelOf(r | g << 8 | b << 16, depth);
}

void BlendGlyph(const SurfaceBits& bits, const Glyph& g, int32_t x0, int32_t y0, COLORREF colour) {
  const int32_t bpp = bits.depth == 15 ? 2 : bits.depth / 8;
  const uint32_t solid = PixelOf(colour, bits.depth);
  const uint32_t fr = colour & 255, fg = colour >> 8 & 255, fb = colour >> 16 & 255;
  for (int32_t y = 0; y < g.height; y++) {
    const int32_t ty = y0 + y;
    if (ty < 0 || ty >= bits.height) continue;
    uint8_t* row = bits.pixels + (intptr_t)ty * bits.pitch;
    const uint8_t* cov = g.coverage + y * g.width;
    for (int32_t x = 0; x < g.width; x++) {
      const uint32_t a = cov[x];
      const int32_t tx = x0 + x;
      if (!a || tx < 0 || tx >= bits.width) continue;
      uint8_t* px = row + (intptr_t)tx * bpp;
      if (a == 255) {
        std::memcpy(px, &solid, bpp);
        continue;
      }
      uint32_t p = 0, r, gg, b;
      std::memcpy(&p, px, bpp);
      Unpack(p, bits.depth, &r, &gg, &b);
      r = (r * (255 - a) + fr * a + 127) / 255;
      gg = (gg * (255 - a) + fg * a + 127) / 255;
      b = (b * (255 - a) + fb * a + 127) / 255;
      const uint32_t out = Pack(r, gg, b, bits.depth);
      std::memcpy(px, &out, bpp);
    }
  }
}

uint32_t NextCodePoint(LPCWSTR text, int32_t length, int32_t* i) {
  uint32_t c = text[(*i)++];
  if (c >= 0xD800 && c <= 0xDBFF && *i < length && text[*i] >= 0xDC00 && text[*i] <= 0xDFFF)
    return 0x10000 + ((c - 0xD800) << 10) + (text[(*i)++] - 0xDC00);
  return (c >= 0xD800 && c <= 0xDFFF) ? 0xFFFD : c;
}

}  // namespace

TTF_Font* GdiFont() { return FontReady() ? Gdi.font : nullptr; }

// ---- for the surfaces ----

HDC GdiCreateSurfaceDC(IDirectDrawSurface7* surface) {
  StockInit();
  for (int32_t i = 0; i < DcMax; i++) {
    DeviceContext& dc = Gdi.dcs[i];
    if (dc.live) continue;
    dc = {};
    dc.live = true;
    dc.surface = surface;
    dc.text = 0;
    dc.background = 0xFFFFFF;
    dc.backgroundMode = OPAQUE;
    dc.rop2 = R2_COPYPEN;
    dc.align = TA_NOUPDATECP;
    dc.brush = &Gdi.objects[0];  // WHITE_BRUSH
    dc.pen = &Gdi.objects[7];    // BLACK_PEN
    return (HDC)&dc;
  }
  return nullptr;
}

void GdiReleaseSurfaceDC(HDC hdc) {
  if (DeviceContext* dc = DcOf(hdc)) dc->live = false;
}

// ---- the stand-ins ----

HBRUSH CreateSolidBrush(COLORREF colour) { return (HBRUSH)NewObject({ObjectBrush, false, false, 0, 0, colour & 0xFFFFFF}); }

HPEN CreatePen(int style, int width, COLORREF colour) {
  if (style < 0 || style > 6) return nullptr;  // PS_SOLID ... PS_INSIDEFRAME
  return (HPEN)NewObject({ObjectPen, false, style == 5, style, width, colour & 0xFFFFFF});  // 5: PS_NULL
}

HGDIOBJ GetStockObject(int object) {
  StockInit();
  return (object >= 0 && object < StockCount) ? (HGDIOBJ)&Gdi.objects[object] : nullptr;
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ handle) {
  DeviceContext* dc = DcOf(hdc);
  GdiObject* o = ObjectOf(handle);
  if (!dc || !o) return nullptr;
  GdiObject** slot = o->kind == ObjectBrush ? &dc->brush : &dc->pen;
  GdiObject* previous = *slot;
  *slot = o;
  return (HGDIOBJ)previous;
}

BOOL DeleteObject(HGDIOBJ handle) {
  GdiObject* o = ObjectOf(handle);
  if (!o) return FALSE;
  if (o->stock) return TRUE;
  for (int32_t i = 0; i < DcMax; i++)
    if (Gdi.dcs[i].live && (Gdi.dcs[i].brush == o || Gdi.dcs[i].pen == o)) return FALSE;  // still selected
  o->kind = ObjectFree;
  return TRUE;
}

int FillRect(HDC hdc, const RECT* rect, HBRUSH brush) {
  DeviceContext* dc = DcOf(hdc);
  GdiObject* o = ObjectOf(brush);
  if (!dc || !rect || !o || o->kind != ObjectBrush) return 0;
  SurfaceBits bits;
  if (!o->hollow && TargetBits(dc, &bits))
    FillBits(bits, rect->left, rect->top, rect->right, rect->bottom, PixelOf(o->colour, bits.depth));
  return 1;
}

UINT SetTextAlign(HDC hdc, UINT align) {
  DeviceContext* dc = DcOf(hdc);
  if (!dc) return 0xFFFFFFFFu;  // GDI_ERROR
  const UINT previous = dc->align;
  dc->align = align;
  return previous;
}

COLORREF SetTextColor(HDC hdc, COLORREF colour) {
  DeviceContext* dc = DcOf(hdc);
  if (!dc) return 0xFFFFFFFFu;  // CLR_INVALID
  const COLORREF previous = dc->text;
  dc->text = colour & 0xFFFFFF;
  return previous;
}

COLORREF SetBkColor(HDC hdc, COLORREF colour) {
  DeviceContext* dc = DcOf(hdc);
  if (!dc) return 0xFFFFFFFFu;
  const COLORREF previous = dc->background;
  dc->background = colour & 0xFFFFFF;
  return previous;
}

int SetBkMode(HDC hdc, int mode) {
  DeviceContext* dc = DcOf(hdc);
  if (!dc || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
  const int previous = dc->backgroundMode;
  dc->backgroundMode = mode;
  return previous;
}

int SetROP2(HDC hdc, int mode) {
  DeviceContext* dc = DcOf(hdc);
  if (!dc || mode < 1 || mode > 16) return 0;
  const int previous = dc->rop2;
  dc->rop2 = mode;
  return previous;
}

BOOL MoveToEx(HDC hdc, int x, int y, POINT* previous) {
  DeviceContext* dc = DcOf(hdc);
  if (!dc) return FALSE;
  if (previous) *previous = dc->position;
  dc->position = {x, y};
  return TRUE;
}

BOOL TextOutW(HDC hdc, int x, int y, LPCWSTR text, int length) {
  DeviceContext* dc = DcOf(hdc);
  if (!dc || length < 0 || (length > 0 && !text)) return FALSE;
  if (length == 0) return TRUE;
  if (!FontReady()) return FALSE;
  if (dc->align & TA_UPDATECP) {
    x = dc->position.x;
    y = dc->position.y;
  }
  int32_t width = 0;
  for (int32_t i = 0; i < length;) width += GlyphOf(NextCodePoint(text, length, &i))->advance;
  SurfaceBits bits;
  if (TargetBits(dc, &bits)) {
    if (dc->backgroundMode == OPAQUE)
      FillBits(bits, x, y, x + width, y + Gdi.fontHeight, PixelOf(dc->background, bits.depth));
    int32_t pen = x;
    for (int32_t i = 0; i < length;) {
      const Glyph* g = GlyphOf(NextCodePoint(text, length, &i));
      if (g->coverage) BlendGlyph(bits, *g, pen + g->left, y, dc->text);
      pen += g->advance;
    }
  }
  if (dc->align & TA_UPDATECP) dc->position.x = x + width;
  return TRUE;
}
