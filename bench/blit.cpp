// Tile blits over a 1920x1080 32-bit surface, one frame per iteration: tiles
// of 32x32 or 16x16 pixels cover the surface from an offset, so the tiles at
// the edges are clipped as the sprite layer clips them. About 30% of each
// tile's pixels are the key colour, in a fixed random pattern. Measured in
// the same run: keyed BltFast through the stand-in (and each kernel set on
// its own), SDL_BlitSurface with SDL_SetColorKey on the same pixels, memcpy
// of every tile row (the bandwidth limit), opaque BltFast, and colour fills.
#include <SDL2/SDL.h>
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "platform/ddraw.h"
#include "platform/ddraw_blit.h"
#include "platform/kernel.h"

namespace {

constexpr int Width = 1920, Height = 1080;
constexpr int TileKinds = 8;
constexpr uint32_t Key = 0x00FF00FF;

struct Placement {
  int tile;
  DWORD x, y;
  RECT source;
};

struct Scene {
  IDirectDraw7* dd = nullptr;
  IDirectDrawSurface7* target = nullptr;
  IDirectDrawSurface7* tiles[TileKinds] = {};
  SDL_Surface* sdlTarget = nullptr;
  SDL_Surface* sdlTiles[TileKinds] = {};
  std::vector<uint32_t> pixels[TileKinds];  // the tiles' pixels, rows of `size`
  std::vector<Placement> placements;
  uint8_t* targetBits = nullptr;
  int targetPitch = 0;
  const uint8_t* tileBits[TileKinds] = {};
  int tilePitch[TileKinds] = {};
};

IDirectDrawSurface7* Offscreen(IDirectDraw7* dd, int w, int h) {
  DDSURFACEDESC2 desc = {};
  desc.dwSize = sizeof desc;
  desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
  desc.dwWidth = (DWORD)w;
  desc.dwHeight = (DWORD)h;
  desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN;
  IDirectDrawSurface7* s = nullptr;
  dd->CreateSurface(&desc, &s, nullptr);
  return s;
}

// The surface's memory; the stand-in's surfaces do not move unless flipped.
uint8_t* Bits(IDirectDrawSurface7* s, int* pitch) {
  DDSURFACEDESC2 d = {};
  d.dwSize = sizeof d;
  s->Lock(nullptr, &d, DDLOCK_WAIT, nullptr);
  s->Unlock(nullptr);
  *pitch = d.lPitch;
  return (uint8_t*)d.lpSurface;
}

Scene* Build(int size) {
  Scene* scene = new Scene();
  void* out = nullptr;
  auto create = reinterpret_cast<LPDIRECTDRAWCREATEEX>(
      reinterpret_cast<void (*)()>(GetProcAddress(LoadLibraryW(u"DDRAW.DLL"), "DirectDrawCreateEx")));
  create(nullptr, &out, IID_IDirectDraw7, nullptr);
  scene->dd = static_cast<IDirectDraw7*>(out);
  scene->target = Offscreen(scene->dd, Width, Height);
  scene->targetBits = Bits(scene->target, &scene->targetPitch);
  scene->sdlTarget = SDL_CreateRGBSurfaceWithFormat(0, Width, Height, 32, SDL_PIXELFORMAT_RGB888);
  std::mt19937 rng(2024);
  for (int t = 0; t < TileKinds; t++) {
    std::vector<uint32_t>& px = scene->pixels[t];
    px.resize((size_t)size * size);
    for (uint32_t& p : px) p = rng() % 10 < 3 ? Key : (rng() & 0x00FFFFFF) | 0x00010101;
    scene->tiles[t] = Offscreen(scene->dd, size, size);
    int pitch;
    uint8_t* bits = Bits(scene->tiles[t], &pitch);
    for (int y = 0; y < size; y++) std::memcpy(bits + y * pitch, &px[(size_t)y * size], (size_t)size * 4);
    scene->tileBits[t] = bits;
    scene->tilePitch[t] = pitch;
    DDCOLORKEY key = {Key, Key};
    scene->tiles[t]->SetColorKey(DDCKEY_SRCBLT, &key);
    scene->sdlTiles[t] = SDL_CreateRGBSurfaceWithFormatFrom(px.data(), size, size, 32, size * 4, SDL_PIXELFORMAT_RGB888);
    SDL_SetColorKey(scene->sdlTiles[t], SDL_TRUE, Key);
  }
  // The grid starts off the surface's top-left corner, so every edge clips.
  const int ox = -size / 2 + 3, oy = -size / 2 + 5;
  int n = 0;
  for (int ty = oy; ty < Height; ty += size)
    for (int tx = ox; tx < Width; tx += size, n++) {
      int x = tx, y = ty, w = size, h = size;
      if (x + w > Width) w = Width - x;
      if (y + h > Height) h = Height - y;
      const int dx = x < 0 ? -x : 0, dy = y < 0 ? -y : 0;
      x += dx;
      y += dy;
      scene->placements.push_back({n % TileKinds, (DWORD)x, (DWORD)y, {dx, dy, w, h}});
    }
  return scene;
}

Scene* SceneOf(int size) {
  static Scene* scenes[2];
  Scene*& s = scenes[size == 32 ? 0 : 1];
  if (!s) s = Build(size);
  return s;
}

void KeyedBltFast(benchmark::State& state) {
  Scene* s = SceneOf((int)state.range(0));
  for (auto _ : state)
    for (const Placement& p : s->placements)
      s->target->BltFast(p.x, p.y, s->tiles[p.tile], const_cast<RECT*>(&p.source),
                         DDBLTFAST_SRCCOLORKEY | DDBLTFAST_WAIT);
  benchmark::DoNotOptimize(s->targetBits[0]);
  state.SetLabel(BlitActiveKernels()->name);
}

void OpaqueBltFast(benchmark::State& state) {
  Scene* s = SceneOf((int)state.range(0));
  for (auto _ : state)
    for (const Placement& p : s->placements)
      s->target->BltFast(p.x, p.y, s->tiles[p.tile], const_cast<RECT*>(&p.source), DDBLTFAST_WAIT);
  benchmark::DoNotOptimize(s->targetBits[0]);
}

void SdlKeyedBlit(benchmark::State& state) {
  Scene* s = SceneOf((int)state.range(0));
  for (auto _ : state)
    for (const Placement& p : s->placements) {
      SDL_Rect from = {p.source.left, p.source.top, p.source.right - p.source.left, p.source.bottom - p.source.top};
      SDL_Rect to = {(int)p.x, (int)p.y, from.w, from.h};
      SDL_BlitSurface(s->sdlTiles[p.tile], &from, s->sdlTarget, &to);
    }
  benchmark::DoNotOptimize(s->sdlTarget->pixels);
}

void MemcpyRows(benchmark::State& state) {
  Scene* s = SceneOf((int)state.range(0));
  for (auto _ : state)
    for (const Placement& p : s->placements) {
      const int w = p.source.right - p.source.left;
      const uint8_t* src = s->tileBits[p.tile] + p.source.top * s->tilePitch[p.tile] + p.source.left * 4;
      uint8_t* dst = s->targetBits + (intptr_t)p.y * s->targetPitch + p.x * 4;
      for (int y = p.source.top; y < p.source.bottom; y++, src += s->tilePitch[p.tile], dst += s->targetPitch)
        std::memcpy(dst, src, (size_t)w * 4);
      benchmark::ClobberMemory();
    }
}

// One kernel set's keyed 32-bit kernel over the same tiles, without the call.
void KeyedKernel(benchmark::State& state) {
  Scene* s = SceneOf((int)state.range(0));
  const BlitKernels* k = BlitKernelAt((int)state.range(1));
  if (!k) {
    state.SkipWithError("the processor lacks this kernel set");
    return;
  }
  state.SetLabel(k->name);
  for (auto _ : state)
    for (const Placement& p : s->placements) {
      const uint8_t* src = s->tileBits[p.tile] + p.source.top * s->tilePitch[p.tile] + p.source.left * 4;
      uint8_t* dst = s->targetBits + (intptr_t)p.y * s->targetPitch + p.x * 4;
      k->keyed32(dst, s->targetPitch, src, s->tilePitch[p.tile], p.source.right - p.source.left,
                 p.source.bottom - p.source.top, Key);
    }
  benchmark::DoNotOptimize(s->targetBits[0]);
}

void ColourFill(benchmark::State& state) {
  Scene* s = SceneOf(32);
  DDBLTFX fx = {};
  fx.dwSize = sizeof fx;
  fx.dwFillColor = 0x00336699;
  for (auto _ : state) s->target->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx);
  benchmark::DoNotOptimize(s->targetBits[0]);
}

void SdlFill(benchmark::State& state) {
  Scene* s = SceneOf(32);
  for (auto _ : state) SDL_FillRect(s->sdlTarget, nullptr, 0x00336699);
  benchmark::DoNotOptimize(s->sdlTarget->pixels);
}

BENCHMARK(KeyedBltFast)->Arg(32)->Arg(16)->Unit(benchmark::kMicrosecond);
BENCHMARK(SdlKeyedBlit)->Arg(32)->Arg(16)->Unit(benchmark::kMicrosecond);
BENCHMARK(MemcpyRows)->Arg(32)->Arg(16)->Unit(benchmark::kMicrosecond);
BENCHMARK(KeyedKernel)->ArgsProduct({{32, 16}, {0, 1, 2, 3}})->Unit(benchmark::kMicrosecond);
BENCHMARK(OpaqueBltFast)->Arg(32)->Arg(16)->Unit(benchmark::kMicrosecond);
BENCHMARK(ColourFill)->Unit(benchmark::kMicrosecond);
BENCHMARK(SdlFill)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
