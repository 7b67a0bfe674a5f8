// Procedural pixel art of the demo: value noise, shading and a few shapes. Every
// colour that must stay visible is kept away from pure black, which is the
// tiles' transparent colour; tiles in palette formats use few fixed colours.
#include "tools/tessel-demo/art.h"

#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;

uint32_t ArtHash(int x, int y, int seed) {
  uint32_t h = static_cast<uint32_t>(x) * 374761393u + static_cast<uint32_t>(y) * 668265263u +
               static_cast<uint32_t>(seed) * 2246822519u;
  h = (h ^ (h >> 13)) * 1274126177u;
  return h ^ (h >> 16);
}

// A value in [0, 1) fixed by the integer point and the seed.
double ArtRand(int x, int y, int seed) { return (ArtHash(x, y, seed) & 0xFFFF) / 65536.0; }

// Smooth value noise with cells of `cell` pixels, repeating every `period` cells.
double ArtNoise(double x, double y, int cell, int period, int seed) {
  double fx = x / cell, fy = y / cell;
  int x0 = static_cast<int>(std::floor(fx)), y0 = static_cast<int>(std::floor(fy));
  double tx = fx - x0, ty = fy - y0;
  tx = tx * tx * (3 - 2 * tx);
  ty = ty * ty * (3 - 2 * ty);
  auto at = [&](int i, int j) { return ArtRand(((i % period) + period) % period, ((j % period) + period) % period, seed); };
  double a = at(x0, y0) + (at(x0 + 1, y0) - at(x0, y0)) * tx;
  double b = at(x0, y0 + 1) + (at(x0 + 1, y0 + 1) - at(x0, y0 + 1)) * tx;
  return a + (b - a) * ty;
}

uint32_t Rgb(int r, int g, int b) {
  auto clamp = [](int v) { return v < 0 ? 0 : v > 255 ? 255 : v; };
  uint32_t c = (static_cast<uint32_t>(clamp(r)) << 16) | (static_cast<uint32_t>(clamp(g)) << 8) |
               static_cast<uint32_t>(clamp(b));
  return c == 0 ? 0x080808 : c;  // never the transparent black by accident
}

uint32_t Shade(uint32_t c, double f) {
  return Rgb(static_cast<int>(((c >> 16) & 255) * f), static_cast<int>(((c >> 8) & 255) * f),
             static_cast<int>((c & 255) * f));
}

uint32_t Mix(uint32_t a, uint32_t b, double t) {
  auto ch = [&](int s) {
    return static_cast<int>(((a >> s) & 255) * (1 - t) + ((b >> s) & 255) * t + 0.5);
  };
  return Rgb(ch(16), ch(8), ch(0));
}

void Set(DemoImage* im, int x, int y, uint32_t c) {
  if (x >= 0 && y >= 0 && x < im->width && y < im->height) im->pixels[static_cast<size_t>(y) * im->width + x] = c;
}

uint32_t Get(const DemoImage& im, int x, int y) { return im.pixels[static_cast<size_t>(y) * im.width + x]; }

// Dirt shared by the dirt tile and the lower part of the grass tile, so they join.
uint32_t ArtDirtAt(int x, int y) {
  double n = ArtNoise(x, y, 8, 4, 11) * 0.6 + ArtNoise(x, y, 4, 8, 12) * 0.4;
  uint32_t c = Shade(0x7A4E2C, 0.78 + 0.35 * n);
  double pebble = ArtRand(x / 3, y / 3, 13);
  if (pebble > 0.94) c = Shade(0x9C8A78, 0.85 + 0.3 * ArtRand(x, y, 14));
  return c;
}

}  // namespace

bool ArtSame(const DemoImage& a, const DemoImage& b) {
  return a.width == b.width && a.height == b.height && a.pixels == b.pixels;
}

bool ArtEmpty(const DemoImage& image) {
  for (uint32_t p : image.pixels) {
    if (p != 0) return false;
  }
  return true;
}

DemoImage ArtDirt() {
  DemoImage im = DemoImageNew(32, 32);
  for (int y = 0; y < 32; y++)
    for (int x = 0; x < 32; x++) Set(&im, x, y, ArtDirtAt(x, y));
  return im;
}

DemoImage ArtGrass() {
  DemoImage im = DemoImageNew(32, 32);
  for (int x = 0; x < 32; x++) {
    int top = 1 + static_cast<int>(ArtRand(x, 0, 21) * 4) + (x % 3 == 1 ? 2 : 0);
    int root = 9 + static_cast<int>(ArtRand(x, 1, 22) * 3);
    for (int y = 0; y < 32; y++) {
      if (y < top) continue;
      if (y < root) {
        double t = static_cast<double>(y - top) / (root - top);
        uint32_t c = Mix(0x8CD65A, 0x3E8E2E, t);
        if ((x + y) % 5 == 0) c = Shade(c, 0.85);
        Set(&im, x, y, c);
      } else if (y == root) {
        Set(&im, x, y, 0x2F6B25);
      } else {
        Set(&im, x, y, ArtDirtAt(x, y));
      }
    }
  }
  return im;
}

DemoImage ArtStone() {
  // Few colours in long runs: this tile is stored run-length encoded.
  const uint32_t shades[4] = {0x6E6E78, 0x787884, 0x82828C, 0x8C8C96};
  DemoImage im = DemoImageNew(32, 32);
  for (int y = 0; y < 32; y++) {
    int band = y / 16;
    int shift = band % 2 ? 8 : 0;
    for (int x = 0; x < 32; x++) {
      int bx = (x + shift) % 32 / 16;
      int ly = y % 16, lx = (x + shift) % 16;
      uint32_t c = shades[ArtHash(bx, band, 31) % 4];
      if (ly == 15 || lx == 15) c = 0x44444C;
      else if (ly == 0 || lx == 0) c = 0xA4A4AE;
      Set(&im, x, y, c);
    }
  }
  return im;
}

DemoImage ArtCaveWall() {
  const uint32_t shades[6] = {0x2A211C, 0x2F2520, 0x342923, 0x392D26, 0x3E3129, 0x43352C};
  DemoImage im = DemoImageNew(32, 32);
  for (int y = 0; y < 32; y++)
    for (int x = 0; x < 32; x++) {
      double n = ArtNoise(x, y, 8, 4, 41) * 0.7 + ArtRand(x, y, 42) * 0.3;
      Set(&im, x, y, shades[static_cast<int>(n * 5.99)]);
    }
  return im;
}

DemoImage ArtBrick() {
  DemoImage im = DemoImageNew(32, 32);
  for (int y = 0; y < 32; y++) {
    int course = y / 8;
    int shift = course % 2 ? 8 : 0;
    for (int x = 0; x < 32; x++) {
      int bx = (x + shift) % 32 / 16;
      int ly = y % 8, lx = (x + shift) % 16;
      uint32_t c;
      if (ly == 7 || lx == 15) {
        c = 0xB8B0A0;  // mortar
      } else {
        c = Shade(0xA8442C, 0.85 + 0.25 * ArtRand(bx, course, 51) + 0.08 * ArtRand(x, y, 52));
        if (ly == 0) c = Shade(c, 1.15);
        if (ly == 6) c = Shade(c, 0.8);
      }
      Set(&im, x, y, c);
    }
  }
  return im;
}

DemoImage ArtCrate() {
  DemoImage im = DemoImageNew(32, 32);
  for (int y = 0; y < 32; y++)
    for (int x = 0; x < 32; x++) {
      uint32_t plank = Shade(0xB5803F, 0.85 + 0.2 * ArtNoise(x, y * 0.2, 4, 8, 61) + ((y / 8) % 2 ? 0.05 : -0.05));
      bool frame = x < 3 || y < 3 || x > 28 || y > 28;
      bool brace = std::abs(x - y) < 3 || std::abs(x + y - 31) < 3;
      uint32_t c = frame || brace ? Shade(0x8A5A26, 0.9 + 0.1 * ArtRand(x, y, 62)) : plank;
      if (frame && (x == 0 || y == 0 || x == 31 || y == 31)) c = 0x4A3014;
      if ((x == 4 || x == 27) && (y == 4 || y == 27)) c = 0xD0D0D8;  // nails
      Set(&im, x, y, c);
    }
  return im;
}

DemoImage ArtPole() {
  DemoImage im = DemoImageNew(32, 32);
  for (int y = 0; y < 32; y++)
    for (int x = 27; x < 31; x++) Set(&im, x, y, 0xC8C8D0);
  return im;
}

DemoImage ArtPoleTop() {
  const uint32_t gold[4] = {0x8A6A10, 0xC09018, 0xE8B830, 0xFFE890};
  DemoImage im = DemoImageNew(32, 32);
  for (int y = 28; y < 32; y++)
    for (int x = 27; x < 31; x++) Set(&im, x, y, 0xC8C8D0);
  for (int y = 0; y < 32; y++)
    for (int x = 0; x < 32; x++) {
      double dx = x - 28.5, dy = y - 23.5;
      if (dx * dx + dy * dy > 25) continue;
      double light = 1 - (dx + 2) * (dx + 2) / 40 - (dy + 2) * (dy + 2) / 40;
      int level = light > 0.75 ? 3 : light > 0.35 ? 2 : light > -0.1 ? 1 : 0;
      Set(&im, x, y, gold[level]);
    }
  return im;
}

DemoImage ArtFlag(int frame, int half) {
  DemoImage im = DemoImageNew(32, 32);
  double phase = frame * kPi / 2;
  for (int x = 0; x < 32; x++) {
    int gx = half * 32 + x;
    if (gx > 58) continue;
    double reach = gx / 58.0;
    double wave = std::sin(gx * 2 * kPi / 36 - phase) * 3.5 * reach;
    double slope = std::cos(gx * 2 * kPi / 36 - phase);
    double top = 4 + wave, bottom = 26 + wave - 2 * reach;
    for (int y = 0; y < 32; y++) {
      if (y < top || y > bottom) continue;
      double v = (y - top) / (bottom - top);
      uint32_t c = 0xD02838;
      if (v > 0.4 && v < 0.6) c = 0xF4F0E8;  // white stripe
      double cx = gx - 22, cy = (v - 0.5) * 22;
      if (cx * cx + cy * cy < 30) c = 0xF8C830;  // golden disc
      Set(&im, x, y, Shade(c, 0.82 + 0.18 * slope));
    }
  }
  return im;
}

DemoImage ArtWaterTop(int frame) {
  DemoImage im = DemoImageNew(32, 32);
  double phase = frame * kPi / 2;
  for (int x = 0; x < 32; x++) {
    double surface = 9 + 2 * std::sin(2 * kPi * x / 32 + phase);
    for (int y = 0; y < 32; y++) {
      if (y < surface) continue;
      uint32_t c;
      if (y < surface + 2) {
        c = 0xD8F0FF;
      } else {
        c = Mix(0x3C82D0, 0x2460B0, (y - surface) / 23.0);
        if (std::sin(2 * kPi * 2 * x / 32 + y * 0.9 - phase * 2) > 0.92) c = 0x7CB8F0;
      }
      Set(&im, x, y, c);
    }
  }
  return im;
}

DemoImage ArtWater(int frame) {
  DemoImage im = DemoImageNew(32, 32);
  double phase = frame * kPi / 2;
  for (int y = 0; y < 32; y++)
    for (int x = 0; x < 32; x++) {
      double v = std::sin(2 * kPi * (x + y) / 32 + phase) + std::sin(2 * kPi * 2 * (x - y) / 32 - phase);
      uint32_t c = Mix(0x2460B0, 0x1C4E98, y / 31.0);
      if (v > 1.45) c = 0x5A9CE0;
      else if (v > 1.1) c = 0x3A78C8;
      Set(&im, x, y, c);
    }
  return im;
}

DemoImage ArtFlower(uint32_t petals) {
  DemoImage im = DemoImageNew(32, 32);
  for (int y = 18; y < 32; y++) Set(&im, 16, y, 0x2F7A28);
  for (int k = 0; k < 4; k++) {
    Set(&im, 17 + k, 26 - k / 2, 0x3E9A32);
    Set(&im, 15 - k, 28 - k / 2, 0x3E9A32);
  }
  for (int y = 8; y < 24; y++)
    for (int x = 8; x < 24; x++) {
      double dx = x - 16, dy = y - 15;
      double r = std::sqrt(dx * dx + dy * dy);
      double angle = std::atan2(dy, dx);
      if (r < 2.2) Set(&im, x, y, 0xFFD830);
      else if (r < 4.5 + 1.5 * std::cos(5 * angle)) Set(&im, x, y, r < 3.5 ? Shade(petals, 0.8) : petals);
    }
  return im;
}

namespace {

// Surface of the far hills in the layer's pixels; repeats every 512 pixels.
double ArtHillSurface(int gx) {
  return 470 + 50 * std::sin(2 * kPi * gx / 512) + 25 * std::sin(4 * kPi * gx / 512 + 1.3);
}

}  // namespace

DemoImage ArtHills(int k, int r) {
  const uint32_t shades[5] = {0x4A7570, 0x4F7F7A, 0x557F78, 0x5A8A80, 0x3F6A66};
  DemoImage im = DemoImageNew(64, 64);
  for (int x = 0; x < 64; x++) {
    int gx = k * 64 + x;
    double surface = ArtHillSurface(gx);
    for (int y = 0; y < 64; y++) {
      int gy = r * 64 + y;
      if (gy < surface) continue;
      uint32_t c;
      if (gy < surface + 3) {
        c = 0x8CB8A8;  // sunlit rim
      } else {
        double n = ArtNoise(x, y, 8, 8, 71);
        c = shades[static_cast<int>(n * 3.99)];
        if (ArtRand(x / 4, y / 4, 72) > 0.86 && (x % 4) + (y % 4) < 4) c = shades[4];  // distant trees
      }
      Set(&im, x, y, c);
    }
  }
  return im;
}

DemoImage ArtCloud(int variant) {
  DemoImage im = DemoImageNew(256, 128);
  double cx[7], cy[7], cr[7];
  int n = 5 + variant % 3;
  for (int i = 0; i < n; i++) {
    double t = (i + 0.5) / n;
    cx[i] = 40 + t * 176 + (ArtRand(i, 0, 80 + variant) - 0.5) * 20;
    cr[i] = 22 + 26 * std::sin(t * kPi) * (0.7 + 0.6 * ArtRand(i, 1, 80 + variant));
    cy[i] = 92 - cr[i] * 0.6;
  }
  for (int y = 0; y < 128; y++)
    for (int x = 0; x < 256; x++) {
      bool inside = false;
      double light = 0;
      for (int i = 0; i < n; i++) {
        double dx = x - cx[i], dy = y - cy[i];
        double d = std::sqrt(dx * dx + dy * dy);
        if (d < cr[i] && y < 104) {
          inside = true;
          light = std::fmax(light, 1 - (dy + cr[i] * 0.5) / (cr[i] * 2));
        }
      }
      if (!inside) continue;
      Set(&im, x, y, Mix(0xB8C6D8, 0xF8FAFE, std::fmin(1.0, std::fmax(0.0, light * 1.4))));
    }
  return im;
}

namespace {

// One blade from (x0, 63) bending to (tip x, tip y), tapering from 3 pixels.
void ArtBlade(DemoImage* im, double x0, double tipX, double tipY, uint32_t c) {
  for (int y = 63; y >= static_cast<int>(tipY); y--) {
    double t = (63 - y) / (63 - tipY);
    double x = x0 + (tipX - x0) * t * t;
    double w = 1.6 * (1 - t) + 0.5;
    for (int px = static_cast<int>(x - w); px <= static_cast<int>(x + w); px++) Set(im, px, y, c);
  }
}

}  // namespace

DemoImage ArtTuft(int variant) {
  DemoImage im = DemoImageNew(64, 64);
  for (int i = 0; i < 14; i++) {
    double x0 = 6 + ArtRand(i, 0, 90 + variant) * 52;
    double lean = (ArtRand(i, 1, 90 + variant) - 0.5) * 30;
    double height = 14 + ArtRand(i, 2, 90 + variant) * 44;
    uint32_t c = Shade(0x1C4A22, 0.75 + 0.5 * ArtRand(i, 3, 90 + variant));
    ArtBlade(&im, x0, x0 + lean, 63 - height, c);
  }
  return im;
}

DemoImage ArtFern(int half) {
  // A 64 x 128 fern cut into a top (half 0) and a bottom (half 1) cell.
  DemoImage whole = DemoImageNew(64, 128);
  for (int y = 10; y < 128; y++) {
    double t = (y - 10) / 118.0;
    double x = 32 + 10 * std::sin(t * 2.2) - 8 * t;
    Set(&whole, static_cast<int>(x), y, 0x163A1A);
    Set(&whole, static_cast<int>(x) + 1, y, 0x163A1A);
    if (y % 7 == 0 && y < 118) {
      double len = 26 * std::sin(t * kPi) + 4;
      for (int side = -1; side <= 1; side += 2)
        for (int k = 0; k < len; k++) {
          int lx = static_cast<int>(x + side * k);
          int ly = y + k / 3;
          uint32_t c = Shade(0x24552A, 0.85 + 0.3 * ArtRand(k, y, 95));
          Set(&whole, lx, ly, c);
          Set(&whole, lx, ly + 1, c);
          if (k % 3 == 0) Set(&whole, lx, ly + 2, c);
        }
    }
  }
  DemoImage im = DemoImageNew(64, 64);
  for (int y = 0; y < 64; y++)
    for (int x = 0; x < 64; x++) Set(&im, x, y, Get(whole, x, y + half * 64));
  return im;
}

DemoImage ArtRock() {
  DemoImage im = DemoImageNew(64, 64);
  for (int y = 20; y < 64; y++)
    for (int x = 0; x < 64; x++) {
      double dx = (x - 32) / 30.0, dy = (y - 64) / 42.0;
      if (dx * dx + dy * dy > 1) continue;
      double light = -dx * 0.4 - dy * 0.6;
      Set(&im, x, y, Shade(0x2E2C36, 0.8 + 0.5 * light + 0.1 * ArtRand(x / 2, y / 2, 97)));
    }
  return im;
}

DemoImage ArtStalagmite() {
  DemoImage im = DemoImageNew(64, 64);
  for (int y = 0; y < 64; y++) {
    double w = 4 + 18 * y / 63.0;
    for (int x = 0; x < 64; x++) {
      double dx = x - 32;
      if (std::abs(dx) > w) continue;
      Set(&im, x, y, Shade(0x3A3440, 0.75 + 0.35 * (dx < 0 ? 1 : 0) * (1 - std::abs(dx) / w) +
                                             0.1 * ArtRand(x / 2, y / 3, 98)));
    }
  }
  return im;
}

DemoImage ArtTrunk() {
  DemoImage im = DemoImageNew(64, 64);
  for (int y = 0; y < 64; y++)
    for (int x = 12; x < 52; x++) {
      double bark = 0.8 + 0.25 * ArtNoise(x * 3.0, y * 0.4, 6, 8, 150) - (x < 18 || x > 45 ? 0.2 : 0);
      Set(&im, x, y, Shade(0x2E2218, bark));
    }
  return im;
}

DemoImage ArtCanopy(int k, int r) {
  // The whole canopy is 192 x 128: leaf clusters around the trunk's top.
  DemoImage im = DemoImageNew(64, 64);
  const double blobs[][3] = {{96, 70, 52}, {52, 84, 36}, {140, 84, 38}, {74, 44, 34}, {122, 46, 34}, {96, 30, 28}};
  for (int y = 0; y < 64; y++)
    for (int x = 0; x < 64; x++) {
      int gx = k * 64 + x, gy = r * 64 + y;
      bool inside = false;
      for (const auto& b : blobs) {
        double edge = b[2] * (0.85 + 0.3 * ArtNoise(gx, gy, 6, 64, 151));
        if (std::hypot(gx - b[0], gy - b[1]) < edge) inside = true;
      }
      if (gx >= 76 && gx < 116 && gy > 100) inside = true;  // the trunk's top
      if (!inside) continue;
      bool trunk = gx >= 76 && gx < 116 && gy > 100 && ArtNoise(gx, gy, 6, 64, 151) < 0.5;
      uint32_t c = trunk ? 0x2E2218 : Shade(0x1E4A24, 0.7 + 0.6 * ArtNoise(gx, gy, 3, 64, 152));
      Set(&im, x, y, c);
    }
  return im;
}

DemoImage ArtSky(int width, int height) {
  DemoImage im = DemoImageNew(width, height);
  for (int y = 0; y < height; y++) {
    uint32_t sky = y < 700 ? Mix(0x3E72C0, 0xBCD8F0, y / 700.0) : 0xBCD8F0;
    for (int x = 0; x < width; x++) Set(&im, x, y, sky);
  }
  // The sun with a soft glow.
  for (int y = 40; y < 340; y++)
    for (int x = 1300; x < 1700; x++) {
      double d = std::hypot(x - 1500.0, y - 180.0);
      if (d < 46) Set(&im, x, y, 0xFFF6D0);
      else if (d < 150) Set(&im, x, y, Mix(Get(im, x, y), 0xFFF0C0, 0.45 * (1 - (d - 46) / 104) * (1 - (d - 46) / 104)));
    }
  // Two ranges of distant mountains, the far one paler.
  for (int range = 0; range < 2; range++) {
    uint32_t rock = range == 0 ? 0x9AAECB : 0x7D93B5;
    for (int x = 0; x < width; x++) {
      double ridge = (range == 0 ? 470 : 540) - 150 * ArtNoise(x, range * 7, 160 - 40 * range, 1000, 120 + range) -
                     40 * ArtNoise(x, range * 3, 40, 1000, 130 + range);
      for (int y = static_cast<int>(ridge); y < height; y++) {
        uint32_t c = Mix(rock, 0xBCD8F0, std::fmax(0.0, std::fmin(0.75, (y - 420.0) / 420.0 + 0.12 * range)));
        if (range == 0 && ridge < 370 && y < ridge + 10 + 14 * ArtNoise(x, 0, 12, 1000, 140)) c = 0xECF2FA;  // snow
        Set(&im, x, y, c);
      }
    }
  }
  return im;
}
