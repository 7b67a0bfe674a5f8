// TMX and TSX reader: Tiled's XML map and tileset files, through pugixml.
// Messages name the file and line of the element they are about.
#include <pugixml.hpp>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "tools/tessel-map/import/tiled.h"

namespace {

struct TmxFile {
  std::string path;
  std::string label;  // "" for the map itself, the file name for a tileset
  const std::vector<uint8_t>* bytes;
  ImportReadFile read;
  ImportReport* report;
  TiledMap* map;
};

int32_t TmxLine(const TmxFile& f, ptrdiff_t offset) {
  if (offset < 0) return 0;
  int32_t line = 1;
  size_t end = std::min((size_t)offset, f.bytes->size());
  for (size_t i = 0; i < end; i++) line += (*f.bytes)[i] == '\n';
  return line;
}

std::string TmxWhere(const TmxFile& f, pugi::xml_node node) {
  std::string line = "line " + std::to_string(TmxLine(f, node.offset_debug()));
  return f.label.empty() ? line : f.label + " " + line;
}

bool TmxFail(const TmxFile& f, pugi::xml_node node, const std::string& text) {
  return ImportFail(f.report, TmxWhere(f, node) + ": " + text);
}

// A number attribute; missing gives fallback. False (after reporting) when it is not a number.
bool TmxNumber(const TmxFile& f, pugi::xml_node node, const char* name, double fallback, double* value) {
  pugi::xml_attribute a = node.attribute(name);
  if (!a) {
    *value = fallback;
    return true;
  }
  const char* s = a.value();
  char* end = nullptr;
  double v = std::strtod(s, &end);
  if (end == s || *end != 0 || !std::isfinite(v)) {
    return TmxFail(f, node, std::string("<") + node.name() + "> " + name + "=\"" + s + "\" is not a number");
  }
  *value = v;
  return true;
}

bool TmxInt(const TmxFile& f, pugi::xml_node node, const char* name, int32_t fallback, int32_t* value) {
  double v;
  if (!TmxNumber(f, node, name, fallback, &v)) return false;
  if (v != std::floor(v) || v < -2147483648.0 || v > 2147483647.0) {
    return TmxFail(f, node, std::string("<") + node.name() + "> " + name + "=\"" +
                                node.attribute(name).value() + "\" is not a whole 32-bit number");
  }
  *value = (int32_t)v;
  return true;
}

bool TmxRequiredInt(const TmxFile& f, pugi::xml_node node, const char* name, int32_t* value) {
  if (!node.attribute(name)) {
    return TmxFail(f, node, std::string("<") + node.name() + "> has no " + name + " attribute");
  }
  return TmxInt(f, node, name, 0, value);
}

bool TmxImage(const TmxFile& f, pugi::xml_node node, TiledImage* image) {
  if (!node.attribute("source")) {
    if (node.child("data")) return TmxFail(f, node, "images embedded in the file cannot be imported");
    return TmxFail(f, node, "<image> has no source attribute");
  }
  image->source = TiledResolve(f.path, node.attribute("source").value());
  if (!TmxInt(f, node, "width", 0, &image->width) || !TmxInt(f, node, "height", 0, &image->height)) return false;
  if (node.attribute("trans")) {
    uint32_t argb;
    if (!TiledColour(node.attribute("trans").value(), &argb)) {
      return TmxFail(f, node, std::string("bad trans colour \"") + node.attribute("trans").value() + "\"");
    }
    image->hasTrans = true;
    image->trans = argb & 0xFFFFFFu;
  }
  return true;
}

bool TmxTilesetBody(const TmxFile& f, pugi::xml_node node, TiledTileset* t) {
  t->name = node.attribute("name").value();
  t->where = TmxWhere(f, node);
  if (!TmxInt(f, node, "tilewidth", 0, &t->tileWidth) || !TmxInt(f, node, "tileheight", 0, &t->tileHeight) ||
      !TmxInt(f, node, "spacing", 0, &t->spacing) || !TmxInt(f, node, "margin", 0, &t->margin) ||
      !TmxInt(f, node, "tilecount", 0, &t->tileCount) || !TmxInt(f, node, "columns", 0, &t->columns)) {
    return false;
  }
  t->gridRenderSize = std::strcmp(node.attribute("tilerendersize").value(), "grid") == 0;
  t->objectAlignment = node.attribute("objectalignment").value();
  if (pugi::xml_node off = node.child("tileoffset")) {
    if (!TmxInt(f, off, "x", 0, &t->offsetX) || !TmxInt(f, off, "y", 0, &t->offsetY)) return false;
  }
  if (pugi::xml_node image = node.child("image")) {
    if (!TmxImage(f, image, &t->image)) return false;
  }
  for (pugi::xml_node tn : node.children("tile")) {
    TiledTile tile;
    if (!TmxRequiredInt(f, tn, "id", &tile.id)) return false;
    if (pugi::xml_node image = tn.child("image")) {
      if (!TmxImage(f, image, &tile.image)) return false;
      if (!TmxInt(f, tn, "x", 0, &tile.x) || !TmxInt(f, tn, "y", 0, &tile.y) ||
          !TmxInt(f, tn, "width", -1, &tile.width) || !TmxInt(f, tn, "height", -1, &tile.height)) {
        return false;
      }
    }
    if (pugi::xml_node anim = tn.child("animation")) {
      for (pugi::xml_node fr : anim.children("frame")) {
        TiledFrame frame;
        if (!TmxRequiredInt(f, fr, "tileid", &frame.tileId) || !TmxRequiredInt(f, fr, "duration", &frame.duration)) {
          return false;
        }
        tile.animation.push_back(frame);
      }
    }
    t->tiles.push_back(tile);
  }
  return TiledTilesetCheck(t, f.report);
}

bool TmxExternalTileset(const TmxFile& map, pugi::xml_node node, TiledTileset* t);

bool TmxTileset(const TmxFile& f, pugi::xml_node node, TiledTileset* t) {
  int32_t first;
  if (!TmxRequiredInt(f, node, "firstgid", &first)) return false;
  if (first <= 0) return TmxFail(f, node, "firstgid " + std::to_string(first) + " is out of range");
  t->firstGid = (uint32_t)first;
  if (node.attribute("source")) return TmxExternalTileset(f, node, t);
  return TmxTilesetBody(f, node, t);
}

bool TmxData(const TmxFile& f, pugi::xml_node data, int64_t count, std::vector<uint32_t>* cells) {
  std::string encoding = data.attribute("encoding").value();
  std::string compression = data.attribute("compression").value();
  if (encoding.empty()) {
    // The oldest form: one <tile gid="..."/> element per cell.
    cells->clear();
    for (pugi::xml_node tn : data.children("tile")) {
      if ((int64_t)cells->size() >= count) return TmxFail(f, tn, "the layer data has more cells than the layer");
      double gid;
      if (!TmxNumber(f, tn, "gid", 0, &gid)) return false;
      if (gid < 0 || gid > 4294967295.0 || gid != std::floor(gid)) return TmxFail(f, tn, "bad gid");
      cells->push_back((uint32_t)gid);
    }
    // Tiled leaves trailing empty cells out of this form.
    cells->resize((size_t)count, 0);
    return true;
  }
  std::string problem;
  if (!TiledDecodeData(data.text().get(), encoding, compression, count, cells, &problem)) {
    return TmxFail(f, data, problem);
  }
  return true;
}

bool TmxLayerCommon(const TmxFile& f, pugi::xml_node node, TiledLayer* layer) {
  layer->name = node.attribute("name").value();
  layer->line = TmxLine(f, node.offset_debug());
  int32_t visible;
  if (!TmxInt(f, node, "visible", 1, &visible)) return false;
  layer->visible = visible != 0;
  if (!TmxNumber(f, node, "opacity", 1.0, &layer->opacity) || !TmxNumber(f, node, "offsetx", 0, &layer->offsetX) ||
      !TmxNumber(f, node, "offsety", 0, &layer->offsetY) ||
      !TmxNumber(f, node, "parallaxx", 1.0, &layer->parallaxX) ||
      !TmxNumber(f, node, "parallaxy", 1.0, &layer->parallaxY)) {
    return false;
  }
  if (node.attribute("tintcolor")) {
    if (!TiledColour(node.attribute("tintcolor").value(), &layer->tint)) return TmxFail(f, node, "bad tintcolor");
    layer->hasTint = true;
  }
  return true;
}

bool TmxTileLayer(const TmxFile& f, pugi::xml_node node, TiledLayer* layer) {
  layer->kind = TiledLayerKind::Tile;
  pugi::xml_node data = node.child("data");
  if (!data) return TmxFail(f, node, "<layer> has no <data>");
  if (f.map->infinite) {
    // The layer becomes the chunks' bounding box; chunks are read twice, once for the box.
    int64_t x0 = INT64_MAX, y0 = INT64_MAX, x1 = INT64_MIN, y1 = INT64_MIN;
    for (pugi::xml_node ch : data.children("chunk")) {
      int32_t x, y, w, h;
      if (!TmxRequiredInt(f, ch, "x", &x) || !TmxRequiredInt(f, ch, "y", &y) || !TmxRequiredInt(f, ch, "width", &w) ||
          !TmxRequiredInt(f, ch, "height", &h)) {
        return false;
      }
      if (w <= 0 || h <= 0 || (int64_t)w * h > TiledMaxLayerCells) return TmxFail(f, ch, "bad chunk size");
      x0 = std::min<int64_t>(x0, x);
      y0 = std::min<int64_t>(y0, y);
      x1 = std::max<int64_t>(x1, (int64_t)x + w);
      y1 = std::max<int64_t>(y1, (int64_t)y + h);
    }
    if (x0 == INT64_MAX) {
      layer->width = layer->height = 0;
      return true;
    }
    if (x1 - x0 > INT32_MAX || y1 - y0 > INT32_MAX || (x1 - x0) * (y1 - y0) > TiledMaxLayerCells) {
      return TmxFail(f, node, "the chunks span more than the importer's " + std::to_string(TiledMaxLayerCells) +
                                  " cells");
    }
    layer->cellX = (int32_t)x0;
    layer->cellY = (int32_t)y0;
    layer->width = (int32_t)(x1 - x0);
    layer->height = (int32_t)(y1 - y0);
    if (!TiledCellBudget(f.map, (int64_t)layer->width * layer->height, TmxWhere(f, node), f.report)) return false;
    layer->cells.assign((size_t)layer->width * layer->height, 0);
    for (pugi::xml_node ch : data.children("chunk")) {
      int32_t x = ch.attribute("x").as_int(), y = ch.attribute("y").as_int();
      int32_t w = ch.attribute("width").as_int(), h = ch.attribute("height").as_int();
      pugi::xml_node chunkData = ch;
      // The chunk carries its parent's encoding.
      std::string encoding = data.attribute("encoding").value();
      std::string compression = data.attribute("compression").value();
      std::vector<uint32_t> cells;
      if (encoding.empty()) {
        for (pugi::xml_node tn : chunkData.children("tile")) {
          if ((int64_t)cells.size() >= (int64_t)w * h) return TmxFail(f, tn, "the chunk has more cells than its size");
          cells.push_back((uint32_t)tn.attribute("gid").as_uint());
        }
        cells.resize((size_t)w * h, 0);
      } else {
        std::string problem;
        if (!TiledDecodeData(ch.text().get(), encoding, compression, (int64_t)w * h, &cells, &problem)) {
          return TmxFail(f, ch, problem);
        }
      }
      for (int32_t r = 0; r < h; r++) {
        for (int32_t c = 0; c < w; c++) {
          uint32_t v = cells[(size_t)r * w + c];
          if (v) layer->cells[(size_t)(y - y0 + r) * layer->width + (size_t)(x - x0 + c)] = v;
        }
      }
    }
    return true;
  }
  if (!TmxRequiredInt(f, node, "width", &layer->width) || !TmxRequiredInt(f, node, "height", &layer->height)) {
    return false;
  }
  if (layer->width < 0 || layer->height < 0) return TmxFail(f, node, "negative layer size");
  int64_t count = (int64_t)layer->width * layer->height;
  if (!TiledCellBudget(f.map, count, TmxWhere(f, node), f.report)) return false;
  return TmxData(f, data, count, &layer->cells);
}

bool TmxObjectLayer(const TmxFile& f, pugi::xml_node node, TiledLayer* layer) {
  layer->kind = TiledLayerKind::Object;
  layer->indexOrder = std::strcmp(node.attribute("draworder").value(), "index") == 0;
  for (pugi::xml_node on : node.children("object")) {
    TiledObject o;
    o.line = TmxLine(f, on.offset_debug());
    double gid;
    int32_t visible;
    if (!TmxNumber(f, on, "gid", 0, &gid) || !TmxNumber(f, on, "x", 0, &o.x) || !TmxNumber(f, on, "y", 0, &o.y) ||
        !TmxNumber(f, on, "width", 0, &o.width) || !TmxNumber(f, on, "height", 0, &o.height) ||
        !TmxNumber(f, on, "rotation", 0, &o.rotation) || !TmxInt(f, on, "visible", 1, &visible)) {
      return false;
    }
    if (gid < 0 || gid > 4294967295.0 || gid != std::floor(gid)) return TmxFail(f, on, "bad gid");
    o.gid = (uint32_t)gid;
    o.visible = visible != 0;
    o.hasSize = on.attribute("width") && on.attribute("height");
    if (o.gid) o.kind = "tile";
    else if (on.attribute("template")) o.kind = "template";
    else if (on.child("ellipse")) o.kind = "ellipse";
    else if (on.child("polygon")) o.kind = "polygon";
    else if (on.child("polyline")) o.kind = "polyline";
    else if (on.child("point")) o.kind = "point";
    else if (on.child("text")) o.kind = "text";
    else o.kind = "rectangle";
    layer->objects.push_back(o);
  }
  return true;
}

bool TmxLayers(const TmxFile& f, pugi::xml_node parent, std::vector<TiledLayer>* out, int depth) {
  if (depth > TiledMaxGroupDepth) return TmxFail(f, parent, "groups nested too deeply");
  for (pugi::xml_node node : parent.children()) {
    std::string kind = node.name();
    if (kind != "layer" && kind != "objectgroup" && kind != "imagelayer" && kind != "group") continue;
    TiledLayer layer;
    if (!TmxLayerCommon(f, node, &layer)) return false;
    if (kind == "layer") {
      if (!TmxTileLayer(f, node, &layer)) return false;
    } else if (kind == "objectgroup") {
      if (!TmxObjectLayer(f, node, &layer)) return false;
    } else if (kind == "imagelayer") {
      layer.kind = TiledLayerKind::Image;
      int32_t rx, ry;
      if (!TmxInt(f, node, "repeatx", 0, &rx) || !TmxInt(f, node, "repeaty", 0, &ry)) return false;
      layer.repeatX = rx != 0;
      layer.repeatY = ry != 0;
      pugi::xml_node image = node.child("image");
      // An image layer without an image draws nothing.
      if (image && image.attribute("source") && image.attribute("source").value()[0] != 0) {
        if (!TmxImage(f, image, &layer.image)) return false;
      }
    } else {
      layer.kind = TiledLayerKind::Group;
      if (!TmxLayers(f, node, &layer.children, depth + 1)) return false;
    }
    out->push_back(std::move(layer));
  }
  return true;
}

bool TmxLoad(TmxFile* f, pugi::xml_document* doc) {
  pugi::xml_parse_result r = doc->load_buffer(f->bytes->data(), f->bytes->size());
  if (!r) {
    std::string line = "line " + std::to_string(TmxLine(*f, r.offset));
    return ImportFail(f->report, (f->label.empty() ? line : f->label + " " + line) + ": damaged XML (" +
                                     r.description() + ")");
  }
  return true;
}

bool TmxExternalTileset(const TmxFile& map, pugi::xml_node node, TiledTileset* t) {
  std::string name = node.attribute("source").value();
  std::string path = TiledResolve(map.path, name);
  std::vector<uint8_t> bytes;
  if (!map.read(path, &bytes)) return TmxFail(map, node, "cannot read the tileset " + path);
  size_t i = 0;
  while (i < bytes.size() && (bytes[i] == ' ' || bytes[i] == '\n' || bytes[i] == '\r' || bytes[i] == '\t' ||
                              bytes[i] == 0xEF || bytes[i] == 0xBB || bytes[i] == 0xBF)) {
    i++;
  }
  TmxFile f = map;
  f.path = path;
  f.label = name;
  f.bytes = &bytes;
  if (i < bytes.size() && bytes[i] != '<') {
    // A JSON tileset named from a TMX map.
    uint32_t first = t->firstGid;
    if (!TiledJsonTilesetFile(bytes, path, name, t, map.report)) return false;
    t->firstGid = first;
    return true;
  }
  pugi::xml_document doc;
  if (!TmxLoad(&f, &doc)) return false;
  pugi::xml_node root = doc.child("tileset");
  if (!root) return ImportFail(f.report, name + ": not a tileset file");
  return TmxTilesetBody(f, root, t);
}

}  // namespace

bool TiledTmxTilesetFile(const std::vector<uint8_t>& bytes, const std::string& path, const std::string& label,
                         TiledTileset* t, ImportReport* report) {
  TmxFile f{path, label, &bytes, ImportReadDisk, report, nullptr};
  pugi::xml_document doc;
  if (!TmxLoad(&f, &doc)) return false;
  pugi::xml_node root = doc.child("tileset");
  if (!root) return ImportFail(report, label + ": not a tileset file");
  return TmxTilesetBody(f, root, t);
}

bool TiledTmxParse(const std::vector<uint8_t>& bytes, const std::string& path, ImportReadFile read, TiledMap* map,
                   ImportReport* report) {
  TmxFile f{path, "", &bytes, read, report, map};
  pugi::xml_document doc;
  if (!TmxLoad(&f, &doc)) return false;
  pugi::xml_node root = doc.child("map");
  if (!root) return ImportFail(report, "not a Tiled map: no <map> element");
  map->orientation = root.attribute("orientation").value();
  if (map->orientation.empty()) return TmxFail(f, root, "<map> has no orientation attribute");
  if (map->orientation != "orthogonal") {
    return TmxFail(f, root, map->orientation + " maps cannot be imported: only orthogonal maps");
  }
  if (root.attribute("renderorder")) map->renderOrder = root.attribute("renderorder").value();
  int32_t infinite;
  if (!TmxRequiredInt(f, root, "width", &map->width) || !TmxRequiredInt(f, root, "height", &map->height) ||
      !TmxRequiredInt(f, root, "tilewidth", &map->tileWidth) ||
      !TmxRequiredInt(f, root, "tileheight", &map->tileHeight) || !TmxInt(f, root, "infinite", 0, &infinite)) {
    return false;
  }
  map->infinite = infinite != 0;
  if (!TmxNumber(f, root, "parallaxoriginx", 0, &map->parallaxOriginX) ||
      !TmxNumber(f, root, "parallaxoriginy", 0, &map->parallaxOriginY)) {
    return false;
  }
  if (root.attribute("backgroundcolor")) {
    if (!TiledColour(root.attribute("backgroundcolor").value(), &map->background)) {
      return TmxFail(f, root, "bad backgroundcolor");
    }
    map->hasBackground = true;
  }
  for (pugi::xml_node tn : root.children("tileset")) {
    TiledTileset t;
    if (!TmxTileset(f, tn, &t)) return false;
    map->tilesets.push_back(std::move(t));
  }
  return TmxLayers(f, root, &map->layers, 0);
}
