// Writing the Tiled maps and tilesets of the import tests.
#include "tests/tools/tiled_maps.h"

#include <cstdlib>
#include <cstring>
#include <utility>

namespace tiled {

Image TilesetImage(const TilesetPlan& plan) {
  Image image = TilesetPicture(plan.columns, plan.rows, plan.tileWidth, plan.tileHeight, plan.margin, plan.spacing,
                               plan.seed);
  // Opaque black in every tile: it must stay visible over what lies below.
  for (int32_t row = 0; row < plan.rows; row++) {
    for (int32_t column = 0; column < plan.columns; column++) {
      int32_t left = plan.margin + column * (plan.tileWidth + plan.spacing) + plan.tileWidth / 2;
      int32_t top = plan.margin + row * (plan.tileHeight + plan.spacing) + plan.tileHeight / 2;
      for (int32_t y = 0; y < 3; y++) {
        for (int32_t x = 0; x < 3; x++) ImageSet(&image, left + x, top + y, 0, 0, 0);
      }
    }
  }
  if (plan.format == "bmp" || plan.format == "jpg") {
    for (size_t i = 0; i < image.rgba.size(); i += 4) {
      if (image.rgba[i + 3] == 0) {
        image.rgba[i] = 255;
        image.rgba[i + 1] = 0;
        image.rgba[i + 2] = 255;
        image.rgba[i + 3] = 255;
      }
    }
  }
  return image;
}

std::string TilesetWrite(const std::string& dir, const TilesetPlan& plan) {
  Image image = TilesetImage(plan);
  std::string file = plan.name + "." + plan.format;
  std::string path = dir + "/" + file;
  if (plan.format == "png") {
    PngWrite(path, image);
  } else if (plan.format == "bmp") {
    BmpWrite(path, image);
  } else {
    // GIF keeps binary transparency; JPEG at full quality without chroma subsampling.
    std::string png = dir + "/" + plan.name + ".source.png";
    PngWrite(png, image);
    std::string options = plan.format == "jpg" ? " -quality 100 -sampling-factor 1x1" : "";
    std::system(("convert " + Quote(png) + options + " " + Quote(path) + " 2>/dev/null").c_str());
    std::remove(png.c_str());
  }
  std::string xml = "<tileset firstgid=\"" + std::to_string(plan.firstGid) + "\" name=\"" + plan.name +
                    "\" tilewidth=\"" + std::to_string(plan.tileWidth) + "\" tileheight=\"" +
                    std::to_string(plan.tileHeight) + "\" tilecount=\"" + std::to_string(plan.columns * plan.rows) +
                    "\" columns=\"" + std::to_string(plan.columns) + "\"";
  if (plan.margin != 0) xml += " margin=\"" + std::to_string(plan.margin) + "\"";
  if (plan.spacing != 0) xml += " spacing=\"" + std::to_string(plan.spacing) + "\"";
  xml += ">\n" + plan.extra + "<image source=\"" + file + "\"" + (plan.keyed ? " trans=\"ff00ff\"" : "") +
         " width=\"" + std::to_string(image.width) + "\" height=\"" + std::to_string(image.height) + "\"/>\n";
  return xml + "</tileset>\n";
}

std::string LayerXml(const std::string& name, int32_t width, int32_t height, const std::vector<uint32_t>& cells,
                     const std::string& encoding, const std::string& attributes) {
  return "<layer name=\"" + name + "\" width=\"" + std::to_string(width) + "\" height=\"" + std::to_string(height) +
         "\"" + (attributes.empty() ? "" : " " + attributes) + ">\n" + TmxData(cells, encoding) + "\n</layer>\n";
}

std::string MapXml(int32_t width, int32_t height, int32_t tileWidth, int32_t tileHeight, const std::string& body,
                   const std::string& attributes) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<map version=\"1.8\" orientation=\"orthogonal\" "
         "renderorder=\"right-down\" width=\"" +
         std::to_string(width) + "\" height=\"" + std::to_string(height) + "\" tilewidth=\"" +
         std::to_string(tileWidth) + "\" tileheight=\"" + std::to_string(tileHeight) + "\"" +
         (attributes.empty() ? "" : " " + attributes) + ">\n" + body + "</map>\n";
}

std::vector<uint32_t> RandomCells(Random* random, size_t size, uint32_t first, uint32_t count, uint32_t emptyPercent,
                                  bool flips) {
  static const uint32_t kFlips[8] = {0, kFlipH, kFlipV, kFlipD, kFlipH | kFlipV, kFlipH | kFlipD, kFlipV | kFlipD,
                                     kFlipH | kFlipV | kFlipD};
  std::vector<uint32_t> cells(size);
  for (uint32_t& cell : cells) {
    if (random->Below(100) < emptyPercent) continue;
    cell = first + random->Below(count);
    if (flips) cell |= kFlips[random->Below(8)];
  }
  return cells;
}

Image DrawLayers(int32_t width, int32_t height, const TilesetPlan& plan,
                 const std::vector<std::vector<uint32_t>>& layers) {
  Image tiles = TilesetImage(plan);
  int32_t tw = plan.tileWidth;
  int32_t th = plan.tileHeight;
  Image out = ImageMake(width * tw, height * th, 0);
  for (const std::vector<uint32_t>& cells : layers) {
    for (int32_t row = 0; row < height; row++) {
      for (int32_t column = 0; column < width; column++) {
        uint32_t cell = cells[(size_t)row * (size_t)width + (size_t)column];
        uint32_t gid = cell & 0x0FFFFFFFu;
        if (gid < plan.firstGid || gid >= plan.firstGid + (uint32_t)(plan.columns * plan.rows)) continue;
        int32_t tile = (int32_t)(gid - plan.firstGid);
        int32_t left = plan.margin + (tile % plan.columns) * (tw + plan.spacing);
        int32_t top = plan.margin + (tile / plan.columns) * (th + plan.spacing);
        for (int32_t y = 0; y < th; y++) {
          for (int32_t x = 0; x < tw; x++) {
            // The diagonal flip swaps x and y; horizontal and vertical mirror after it.
            int32_t sx = (cell & kFlipH) ? tw - 1 - x : x;
            int32_t sy = (cell & kFlipV) ? th - 1 - y : y;
            if (cell & kFlipD) std::swap(sx, sy);
            const uint8_t* p = tiles.At(left + sx, top + sy);
            if (p[3] == 0 || (plan.keyed && p[0] == 255 && p[1] == 0 && p[2] == 255)) continue;
            std::memcpy(out.At(column * tw + x, row * th + y), p, 4);
          }
        }
      }
    }
  }
  return out;
}

}  // namespace tiled
