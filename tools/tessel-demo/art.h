// Procedural pixel art of the demo: each painter returns one tile image (or the
// background), black pixels being the transparent parts.
#pragma once

#include "tools/tessel-demo/images.h"

// Main layer tiles, 32 x 32 pixels.
DemoImage ArtGrass();
DemoImage ArtDirt();
DemoImage ArtStone();
DemoImage ArtCaveWall();
DemoImage ArtBrick();
DemoImage ArtCrate();
DemoImage ArtPole();
DemoImage ArtPoleTop();
// Frame 0-3 of the waving flag's left (half 0) or right (half 1) cell.
DemoImage ArtFlag(int frame, int half);
// Frame 0-3 of the water surface and of the water below it.
DemoImage ArtWaterTop(int frame);
DemoImage ArtWater(int frame);
// A flower with petals of the given colour.
DemoImage ArtFlower(uint32_t petals);

// Far hills, 64 x 64: the cell at column k (0-7, the hills repeat every 8) and
// row r of the far layer; 16 colours at most.
DemoImage ArtHills(int k, int r);
// The cloud variant (0-2), 256 x 128.
DemoImage ArtCloud(int variant);
// Near layer foliage, 64 x 64: grass tuft (variant 0-1), fern top and bottom,
// rock, stalagmite.
DemoImage ArtTuft(int variant);
DemoImage ArtFern(int half);
DemoImage ArtRock();
DemoImage ArtStalagmite();
// A foreground tree: its trunk cell, and cell (k 0-2, r 0-1) of its 3 x 2 canopy.
DemoImage ArtTrunk();
DemoImage ArtCanopy(int k, int r);
// The background: sky, sun and distant mountains.
DemoImage ArtSky(int width, int height);

// Whether two images hold the same pixels.
bool ArtSame(const DemoImage& a, const DemoImage& b);
// Whether every pixel is the transparent black.
bool ArtEmpty(const DemoImage& image);
