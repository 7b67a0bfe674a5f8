// TMX and TSX reader: Tiled's XML map and tileset files, through pugixml.
// Messages name the file and line of the element they are about.
#include <pugixml.hpp>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "tools/tessel-map/import/tiled.h"

namespace {

struct TmxFile {
  std::string path;
  std::string label;  // "" for the map itself, the file name for a tileset
  const std::vector<uint8_t>* bytes;
  ImportReadFile read;
  ImportReport* report;
  TiledMap* map;
  std::shared_ptr<TiledLines> lines;  // the line starts of bytes, found once
};

int32_t TmxLine(const TmxFile& f, ptrdiff_t offset) {
  if (offset < 0) return 0;
  return TiledLineAt(*f.lines, (size_t)offset);
}

// pugixml takes its memory here, so that the trees of one import stay under
// TiledMaxTreeBytes: past it an allocation fails and the parse ends with
// pugixml's out-of-memory status. Each block carries its size in front.
void* TmxAllocate(size_t size) {
  if (size > (size_t)TiledMaxTreeBytes || TiledTreeBytes + (int64_t)size > TiledMaxTreeBytes) return nullptr;
  void* block = std::malloc(size + 16);
  if (!block) return nullptr;
  std::memcpy(block, &size, sizeof size);
  TiledTreeBytes += (int64_t)size;
  return (char*)block + 16;
}

void TmxDeallocate(void* ptr) {
  if (!ptr) return;
  char* block = (char*)ptr - 16;
  size_t size;
  std::memcpy(&size, block, sizeof size);
  TiledTreeBytes -= (int64_t)size;
  std::free(block);
}

std::string TmxWhere(const TmxFile& f, pugi::xml_node node) {
  std::string line = "line " + std::to_string(TmxLine(f, node.offset_debug()));
  return f.label.empty() ? line : f.label + " " + line;
}

bool TmxFail(const TmxFile& f, pugi::xml_node node, const std::string& text) {
  return ImportFail(f.report, TmxWhere(f, node) + ": " + text);
}

// A real-number attribute; missing gives fallback. False (after reporting) when it is not a number.
bool TmxNumber(const TmxFile& f, pugi::xml_node node, const char* name, double fallback, double* value) {
  pugi::xml_attribute a = node.attribute(name);
  if (!a) {
    *value = fallback;
    return true;
  }
  if (!TiledReal(a.value(), value)) {
    return TmxFail(f, node, std::string("<") + node.name() + "> " + name + "=\"" + a.value() + "\" is not a number");
  }
  return true;
}

// A whole-number attribute within lo..hi; missing gives fallback.
bool TmxWhole(const TmxFile& f, pugi::xml_node node, const char* name, int64_t lo, int64_t hi, int64_t fallback,
              int64_t* value) {
  pugi::xml_attribute a = node.attribute(name);
  if (!a) {
    *value = fallback;
    return true;
  }
  if (!TiledWhole(a.value(), lo, hi, value)) {
    return TmxFail(f, node, std::string("<") + node.name() + "> " + name + "=\"" + a.value() +
                                "\" is not a whole number from " + std::to_string(lo) + " to " + std::to_string(hi));
  }
  return true;
}

bool TmxInt(const TmxFile& f, pugi::xml_node node, const char* name, int32_t fallback, int32_t* value) {
  int64_t v;
  if (!TmxWhole(f, node, name, INT32_MIN, INT32_MAX, fallback, &v)) return false;
  *value = (int32_t)v;
  return true;
}

// A global tile number with its flags: 0 to 2^32 - 1.
bool TmxGid(const TmxFile& f, pugi::xml_node node, uint32_t* gid) {
  int64_t v;
  if (!TmxWhole(f, node, "gid", 0, UINT32_MAX, 0, &v)) return false;
  *gid = (uint32_t)v;
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
  if (first <= 0 || (uint32_t)first > TiledGidMask) {
    return TmxFail(f, node, "firstgid " + std::to_string(first) + " is out of range (1 to " +
                                std::to_string(TiledGidMask) + ")");
  }
  t->firstGid = (uint32_t)first;
  t->firstGidWhere = TmxWhere(f, node);
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
      uint32_t gid;
      if (!TmxGid(f, tn, &gid)) return false;
      cells->push_back(gid);
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
    // The layer becomes the chunks' bounding box: the chunks are read first, then decoded into it.
    std::vector<TiledChunk> chunks;
    std::vector<pugi::xml_node> nodes;
    int64_t chunkCells = 0;
    for (pugi::xml_node ch : data.children("chunk")) {
      TiledChunk chunk;
      if (!TmxRequiredInt(f, ch, "x", &chunk.x) || !TmxRequiredInt(f, ch, "y", &chunk.y) ||
          !TmxRequiredInt(f, ch, "width", &chunk.width) || !TmxRequiredInt(f, ch, "height", &chunk.height)) {
        return false;
      }
      if (chunk.width <= 0 || chunk.height <= 0 || (int64_t)chunk.width * chunk.height > TiledMaxLayerCells) {
        return TmxFail(f, ch, "bad chunk size");
      }
      chunkCells += (int64_t)chunk.width * chunk.height;
      if (chunkCells > TiledMaxLayerCells) break;
      chunks.push_back(chunk);
      nodes.push_back(ch);
    }
    std::string problem;
    if (!TiledChunkBox(chunks, layer, &problem)) return TmxFail(f, node, problem);
    if (!TiledChunkBudget(f.map, chunkCells, (int64_t)layer->width * layer->height, TmxWhere(f, node), f.report)) {
      return false;
    }
    if (chunks.empty()) return true;
    layer->cells.assign((size_t)layer->width * layer->height, 0);
    // The chunks carry their parent's encoding.
    std::string encoding = data.attribute("encoding").value();
    std::string compression = data.attribute("compression").value();
    std::vector<uint32_t> cells;
    for (size_t k = 0; k < chunks.size(); k++) {
      const TiledChunk& chunk = chunks[k];
      pugi::xml_node ch = nodes[k];
      int64_t count = (int64_t)chunk.width * chunk.height;
      cells.clear();
      if (encoding.empty()) {
        for (pugi::xml_node tn : ch.children("tile")) {
          if ((int64_t)cells.size() >= count) return TmxFail(f, tn, "the chunk has more cells than its size");
          uint32_t gid;
          if (!TmxGid(f, tn, &gid)) return false;
          cells.push_back(gid);
        }
        cells.resize((size_t)count, 0);
      } else if (!TiledDecodeData(ch.text().get(), encoding, compression, count, &cells, &problem)) {
        return TmxFail(f, ch, problem);
      }
      if (!TiledChunkPlace(layer, chunk, cells)) return TmxFail(f, ch, "the chunk lies outside its layer");
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
    int32_t visible;
    if (!TmxGid(f, on, &o.gid) || !TmxNumber(f, on, "x", 0, &o.x) || !TmxNumber(f, on, "y", 0, &o.y) ||
        !TmxNumber(f, on, "width", 0, &o.width) || !TmxNumber(f, on, "height", 0, &o.height) ||
        !TmxNumber(f, on, "rotation", 0, &o.rotation) || !TmxInt(f, on, "visible", 1, &visible)) {
      return false;
    }
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
  static bool hooked = (pugi::set_memory_management_functions(TmxAllocate, TmxDeallocate), true);
  (void)hooked;
  f->lines = std::make_shared<TiledLines>();
  TiledLinesOf(*f->bytes, f->lines.get());
  pugi::xml_parse_result r = doc->load_buffer(f->bytes->data(), f->bytes->size());
  if (!r) {
    std::string line = "line " + std::to_string(TmxLine(*f, r.offset));
    std::string where = f->label.empty() ? line : f->label + " " + line;
    if (r.status == pugi::status_out_of_memory) {
      return ImportFail(f->report, (f->label.empty() ? "" : f->label + ": ") +
                                       "the XML takes more than the importer's bound of " +
                                       std::to_string(TiledMaxTreeBytes) + " bytes for parsed files");
    }
    return ImportFail(f->report, where + ": damaged XML (" + r.description() + ")");
  }
  return true;
}

bool TmxExternalTileset(const TmxFile& map, pugi::xml_node node, TiledTileset* t) {
  std::string name = node.attribute("source").value();
  std::string path = TiledResolve(map.path, name);
  std::vector<uint8_t> bytes;
  if (!map.read(path, &bytes)) {
    return TmxFail(map, node, "cannot read the tileset " + path + ": " + ImportReadProblem(errno));
  }
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
  TmxFile f{path, label, &bytes, ImportReadDisk, report, nullptr, nullptr};
  pugi::xml_document doc;
  if (!TmxLoad(&f, &doc)) return false;
  pugi::xml_node root = doc.child("tileset");
  if (!root) return ImportFail(report, label + ": not a tileset file");
  return TmxTilesetBody(f, root, t);
}

bool TiledTmxParse(const std::vector<uint8_t>& bytes, const std::string& path, ImportReadFile read, TiledMap* map,
                   ImportReport* report) {
  TmxFile f{path, "", &bytes, read, report, map, nullptr};
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
