// JSON and TSJ reader: Tiled's JSON map and tileset files, through
// nlohmann-json without exceptions: every value is checked for its type
// before it is taken, and messages name the layer or tileset they are about.
#include <cmath>
#include <nlohmann/json.hpp>

#include "tools/tessel-map/import/tiled.h"

namespace {

using Json = nlohmann::json;

// Records where the first syntax error is, as a byte position.
struct JsonErrorSax : nlohmann::json_sax<Json> {
  size_t position = 0;
  std::string what;
  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_object(std::size_t) override { return true; }
  bool key(string_t&) override { return true; }
  bool end_object() override { return true; }
  bool start_array(std::size_t) override { return true; }
  bool end_array() override { return true; }
  bool parse_error(std::size_t pos, const std::string&, const nlohmann::detail::exception& ex) override {
    position = pos;
    what = ex.what();
    return false;
  }
};

struct JsonFile {
  std::string path;
  std::string label;  // "" for the map itself
  ImportReadFile read;
  ImportReport* report;
  TiledMap* map;
};

bool JsonFail(const JsonFile& f, const std::string& where, const std::string& text) {
  std::string w = f.label.empty() ? where : (where.empty() ? f.label : f.label + " " + where);
  return ImportFail(f.report, (w.empty() ? "" : w + ": ") + text);
}

bool JsonLoad(const JsonFile& f, const std::vector<uint8_t>& bytes, Json* out) {
  *out = Json::parse(bytes.begin(), bytes.end(), nullptr, false);
  if (!out->is_discarded()) return true;
  JsonErrorSax sax;
  Json::sax_parse(bytes.begin(), bytes.end(), &sax);
  int32_t line = 1;
  size_t end = std::min(sax.position, bytes.size());
  for (size_t i = 0; i + 1 < end; i++) line += bytes[i] == '\n';
  std::string what = sax.what;
  // nlohmann's text starts with its own "[json.exception.parse_error.101] " tag.
  size_t tag = what.find("] ");
  if (tag != std::string::npos) what = what.substr(tag + 2);
  return JsonFail(f, "line " + std::to_string(line), "damaged JSON (" + what + ")");
}

const Json* JsonMember(const Json& o, const char* key) {
  if (!o.is_object()) return nullptr;
  auto it = o.find(key);
  return it == o.end() ? nullptr : &*it;
}

bool JsonNumber(const JsonFile& f, const std::string& where, const Json& o, const char* key, double fallback,
                double* value) {
  const Json* v = JsonMember(o, key);
  if (!v || v->is_null()) {
    *value = fallback;
    return true;
  }
  if (!v->is_number()) return JsonFail(f, where, std::string("\"") + key + "\" is not a number");
  double d = v->get<double>();
  if (!std::isfinite(d)) return JsonFail(f, where, std::string("\"") + key + "\" is not a finite number");
  *value = d;
  return true;
}

bool JsonInt(const JsonFile& f, const std::string& where, const Json& o, const char* key, int32_t fallback,
             int32_t* value) {
  double d;
  if (!JsonNumber(f, where, o, key, fallback, &d)) return false;
  if (d != std::floor(d) || d < -2147483648.0 || d > 2147483647.0) {
    return JsonFail(f, where, std::string("\"") + key + "\" is not a whole 32-bit number");
  }
  *value = (int32_t)d;
  return true;
}

bool JsonRequiredInt(const JsonFile& f, const std::string& where, const Json& o, const char* key, int32_t* value) {
  if (!JsonMember(o, key)) return JsonFail(f, where, std::string("\"") + key + "\" is missing");
  return JsonInt(f, where, o, key, 0, value);
}

bool JsonBool(const JsonFile& f, const std::string& where, const Json& o, const char* key, bool fallback,
              bool* value) {
  const Json* v = JsonMember(o, key);
  if (!v) {
    *value = fallback;
    return true;
  }
  if (v->is_boolean()) *value = v->get<bool>();
  else if (v->is_number()) *value = v->get<double>() != 0;
  else return JsonFail(f, where, std::string("\"") + key + "\" is not true or false");
  return true;
}

bool JsonString(const JsonFile& f, const std::string& where, const Json& o, const char* key, std::string* value) {
  const Json* v = JsonMember(o, key);
  if (!v || v->is_null()) {
    value->clear();
    return true;
  }
  if (!v->is_string()) return JsonFail(f, where, std::string("\"") + key + "\" is not a string");
  *value = v->get<std::string>();
  return true;
}

bool JsonImage(const JsonFile& f, const std::string& where, const Json& o, const char* key, const char* widthKey,
               const char* heightKey, TiledImage* image) {
  std::string source;
  if (!JsonString(f, where, o, key, &source)) return false;
  image->source = source.empty() ? "" : TiledResolve(f.path, source);
  if (!JsonInt(f, where, o, widthKey, 0, &image->width) || !JsonInt(f, where, o, heightKey, 0, &image->height)) {
    return false;
  }
  std::string trans;
  if (!JsonString(f, where, o, "transparentcolor", &trans)) return false;
  if (!trans.empty()) {
    uint32_t argb;
    if (!TiledColour(trans, &argb)) return JsonFail(f, where, "bad transparentcolor \"" + trans + "\"");
    image->hasTrans = true;
    image->trans = argb & 0xFFFFFFu;
  }
  return true;
}

bool JsonTile(const JsonFile& f, const std::string& where, const Json& tj, int32_t id, TiledTile* tile) {
  tile->id = id;
  if (JsonMember(tj, "image")) {
    if (!JsonImage(f, where, tj, "image", "imagewidth", "imageheight", &tile->image)) return false;
    if (!JsonInt(f, where, tj, "x", 0, &tile->x) || !JsonInt(f, where, tj, "y", 0, &tile->y) ||
        !JsonInt(f, where, tj, "width", -1, &tile->width) || !JsonInt(f, where, tj, "height", -1, &tile->height)) {
      return false;
    }
  }
  if (const Json* anim = JsonMember(tj, "animation")) {
    if (!anim->is_array()) return JsonFail(f, where, "\"animation\" is not a list");
    for (const Json& fr : *anim) {
      TiledFrame frame;
      if (!JsonRequiredInt(f, where, fr, "tileid", &frame.tileId) ||
          !JsonRequiredInt(f, where, fr, "duration", &frame.duration)) {
        return false;
      }
      tile->animation.push_back(frame);
    }
  }
  return true;
}

bool JsonTilesetBody(const JsonFile& f, const Json& o, TiledTileset* t) {
  if (!o.is_object()) return JsonFail(f, "", "a tileset is not an object");
  std::string name;
  if (!JsonString(f, "", o, "name", &name)) return false;
  t->name = name;
  std::string where = "tileset \"" + name + "\"";
  t->where = f.label.empty() ? where : f.label;
  if (!JsonInt(f, where, o, "tilewidth", 0, &t->tileWidth) || !JsonInt(f, where, o, "tileheight", 0, &t->tileHeight) ||
      !JsonInt(f, where, o, "spacing", 0, &t->spacing) || !JsonInt(f, where, o, "margin", 0, &t->margin) ||
      !JsonInt(f, where, o, "tilecount", 0, &t->tileCount) || !JsonInt(f, where, o, "columns", 0, &t->columns)) {
    return false;
  }
  std::string renderSize;
  if (!JsonString(f, where, o, "tilerendersize", &renderSize)) return false;
  t->gridRenderSize = renderSize == "grid";
  if (!JsonString(f, where, o, "objectalignment", &t->objectAlignment)) return false;
  if (const Json* off = JsonMember(o, "tileoffset")) {
    if (!JsonInt(f, where, *off, "x", 0, &t->offsetX) || !JsonInt(f, where, *off, "y", 0, &t->offsetY)) return false;
  }
  if (!JsonImage(f, where, o, "image", "imagewidth", "imageheight", &t->image)) return false;
  if (const Json* tiles = JsonMember(o, "tiles")) {
    if (tiles->is_array()) {
      for (const Json& tj : *tiles) {
        int32_t id;
        if (!JsonRequiredInt(f, where, tj, "id", &id)) return false;
        TiledTile tile;
        if (!JsonTile(f, where, tj, id, &tile)) return false;
        t->tiles.push_back(tile);
      }
    } else if (tiles->is_object()) {
      // Files of Tiled before 1.2 keep the tiles in an object keyed by id.
      for (auto it = tiles->begin(); it != tiles->end(); ++it) {
        const std::string& key = it.key();
        char* end = nullptr;
        long id = std::strtol(key.c_str(), &end, 10);
        if (key.empty() || *end != 0 || id < 0 || id > INT32_MAX) return JsonFail(f, where, "bad tile id \"" + key + "\"");
        TiledTile tile;
        if (!JsonTile(f, where, it.value(), (int32_t)id, &tile)) return false;
        t->tiles.push_back(tile);
      }
    } else {
      return JsonFail(f, where, "\"tiles\" is not a list");
    }
  }
  return TiledTilesetCheck(t, f.report);
}

bool JsonData(const JsonFile& f, const std::string& where, const Json& o, const std::string& encoding,
              const std::string& compression, int64_t count, std::vector<uint32_t>* cells) {
  const Json* data = JsonMember(o, "data");
  if (!data) return JsonFail(f, where, "\"data\" is missing");
  if (data->is_array()) {
    if ((int64_t)data->size() != count) {
      return JsonFail(f, where, "the layer data has " + std::to_string(data->size()) + " cells, the layer " +
                                    std::to_string(count));
    }
    cells->resize((size_t)count);
    size_t k = 0;
    for (const Json& v : *data) {
      if (!v.is_number_unsigned() && !(v.is_number_integer() && v.get<int64_t>() >= 0)) {
        return JsonFail(f, where, "a cell of the layer data is not a tile number");
      }
      uint64_t u = v.get<uint64_t>();
      if (u > 0xFFFFFFFFull) return JsonFail(f, where, "a cell of the layer data is past 32 bits");
      (*cells)[k++] = (uint32_t)u;
    }
    return true;
  }
  if (!data->is_string()) return JsonFail(f, where, "\"data\" is neither a list nor a string");
  std::string problem;
  if (!TiledDecodeData(data->get<std::string>(), encoding.empty() ? "base64" : encoding, compression, count, cells,
                       &problem)) {
    return JsonFail(f, where, problem);
  }
  return true;
}

bool JsonTileLayer(const JsonFile& f, const std::string& where, const Json& o, TiledLayer* layer) {
  std::string encoding, compression;
  if (!JsonString(f, where, o, "encoding", &encoding) || !JsonString(f, where, o, "compression", &compression)) {
    return false;
  }
  if (const Json* chunks = JsonMember(o, "chunks")) {
    if (!chunks->is_array()) return JsonFail(f, where, "\"chunks\" is not a list");
    int64_t x0 = INT64_MAX, y0 = INT64_MAX, x1 = INT64_MIN, y1 = INT64_MIN;
    for (const Json& ch : *chunks) {
      int32_t x, y, w, h;
      if (!JsonRequiredInt(f, where, ch, "x", &x) || !JsonRequiredInt(f, where, ch, "y", &y) ||
          !JsonRequiredInt(f, where, ch, "width", &w) || !JsonRequiredInt(f, where, ch, "height", &h)) {
        return false;
      }
      if (w <= 0 || h <= 0 || (int64_t)w * h > TiledMaxLayerCells) return JsonFail(f, where, "bad chunk size");
      x0 = std::min<int64_t>(x0, x);
      y0 = std::min<int64_t>(y0, y);
      x1 = std::max<int64_t>(x1, (int64_t)x + w);
      y1 = std::max<int64_t>(y1, (int64_t)y + h);
    }
    if (x0 == INT64_MAX) return true;
    if (x1 - x0 > INT32_MAX || y1 - y0 > INT32_MAX || (x1 - x0) * (y1 - y0) > TiledMaxLayerCells) {
      return JsonFail(f, where, "the chunks span more than the importer's " + std::to_string(TiledMaxLayerCells) +
                                    " cells");
    }
    layer->cellX = (int32_t)x0;
    layer->cellY = (int32_t)y0;
    layer->width = (int32_t)(x1 - x0);
    layer->height = (int32_t)(y1 - y0);
    if (!TiledCellBudget(f.map, (int64_t)layer->width * layer->height, where, f.report)) return false;
    layer->cells.assign((size_t)layer->width * layer->height, 0);
    for (const Json& ch : *chunks) {
      int32_t x = ch["x"].get<int32_t>(), y = ch["y"].get<int32_t>();
      int32_t w = ch["width"].get<int32_t>(), h = ch["height"].get<int32_t>();
      std::vector<uint32_t> cells;
      if (!JsonData(f, where, ch, encoding, compression, (int64_t)w * h, &cells)) return false;
      for (int32_t r = 0; r < h; r++) {
        for (int32_t c = 0; c < w; c++) {
          uint32_t v = cells[(size_t)r * w + c];
          if (v) layer->cells[(size_t)(y - y0 + r) * layer->width + (size_t)(x - x0 + c)] = v;
        }
      }
    }
    return true;
  }
  if (!JsonRequiredInt(f, where, o, "width", &layer->width) || !JsonRequiredInt(f, where, o, "height", &layer->height)) {
    return false;
  }
  if (layer->width < 0 || layer->height < 0) return JsonFail(f, where, "negative layer size");
  int64_t count = (int64_t)layer->width * layer->height;
  if (!TiledCellBudget(f.map, count, where, f.report)) return false;
  return JsonData(f, where, o, encoding, compression, count, &layer->cells);
}

bool JsonObjects(const JsonFile& f, const std::string& where, const Json& o, TiledLayer* layer) {
  std::string order;
  if (!JsonString(f, where, o, "draworder", &order)) return false;
  layer->indexOrder = order == "index";
  const Json* objects = JsonMember(o, "objects");
  if (!objects) return true;
  if (!objects->is_array()) return JsonFail(f, where, "\"objects\" is not a list");
  for (const Json& oj : *objects) {
    TiledObject ob;
    double gid;
    if (!JsonNumber(f, where, oj, "gid", 0, &gid) || !JsonNumber(f, where, oj, "x", 0, &ob.x) ||
        !JsonNumber(f, where, oj, "y", 0, &ob.y) || !JsonNumber(f, where, oj, "width", 0, &ob.width) ||
        !JsonNumber(f, where, oj, "height", 0, &ob.height) ||
        !JsonNumber(f, where, oj, "rotation", 0, &ob.rotation) ||
        !JsonBool(f, where, oj, "visible", true, &ob.visible)) {
      return false;
    }
    if (gid < 0 || gid > 4294967295.0 || gid != std::floor(gid)) return JsonFail(f, where, "bad object gid");
    ob.gid = (uint32_t)gid;
    ob.hasSize = JsonMember(oj, "width") && JsonMember(oj, "height");
    bool flag = false;
    if (ob.gid) ob.kind = "tile";
    else if (JsonMember(oj, "template")) ob.kind = "template";
    else if (JsonBool(f, where, oj, "ellipse", false, &flag) && flag) ob.kind = "ellipse";
    else if (JsonMember(oj, "polygon")) ob.kind = "polygon";
    else if (JsonMember(oj, "polyline")) ob.kind = "polyline";
    else if (JsonBool(f, where, oj, "point", false, &flag) && flag) ob.kind = "point";
    else if (JsonMember(oj, "text")) ob.kind = "text";
    else ob.kind = "rectangle";
    if (f.report->failed) return false;
    layer->objects.push_back(ob);
  }
  return true;
}

bool JsonLayers(const JsonFile& f, const Json& list, std::vector<TiledLayer>* out, int depth) {
  if (depth > TiledMaxGroupDepth) return JsonFail(f, "", "groups nested too deeply");
  if (!list.is_array()) return JsonFail(f, "", "\"layers\" is not a list");
  for (const Json& o : list) {
    TiledLayer layer;
    std::string type;
    if (!JsonString(f, "", o, "name", &layer.name)) return false;
    std::string where = "layer \"" + layer.name + "\"";
    if (!JsonString(f, where, o, "type", &type)) return false;
    if (!JsonBool(f, where, o, "visible", true, &layer.visible) ||
        !JsonNumber(f, where, o, "opacity", 1.0, &layer.opacity) ||
        !JsonNumber(f, where, o, "offsetx", 0, &layer.offsetX) ||
        !JsonNumber(f, where, o, "offsety", 0, &layer.offsetY) ||
        !JsonNumber(f, where, o, "parallaxx", 1.0, &layer.parallaxX) ||
        !JsonNumber(f, where, o, "parallaxy", 1.0, &layer.parallaxY)) {
      return false;
    }
    std::string tint;
    if (!JsonString(f, where, o, "tintcolor", &tint)) return false;
    if (!tint.empty()) {
      if (!TiledColour(tint, &layer.tint)) return JsonFail(f, where, "bad tintcolor");
      layer.hasTint = true;
    }
    if (type == "tilelayer") {
      layer.kind = TiledLayerKind::Tile;
      if (!JsonTileLayer(f, where, o, &layer)) return false;
    } else if (type == "objectgroup") {
      layer.kind = TiledLayerKind::Object;
      if (!JsonObjects(f, where, o, &layer)) return false;
    } else if (type == "imagelayer") {
      layer.kind = TiledLayerKind::Image;
      if (!JsonImage(f, where, o, "image", "imagewidth", "imageheight", &layer.image) ||
          !JsonBool(f, where, o, "repeatx", false, &layer.repeatX) ||
          !JsonBool(f, where, o, "repeaty", false, &layer.repeatY)) {
        return false;
      }
    } else if (type == "group") {
      layer.kind = TiledLayerKind::Group;
      const Json* children = JsonMember(o, "layers");
      if (children && !JsonLayers(f, *children, &layer.children, depth + 1)) return false;
    } else {
      return JsonFail(f, where, "unknown layer type \"" + type + "\"");
    }
    out->push_back(std::move(layer));
  }
  return true;
}

bool JsonTileset(const JsonFile& f, const Json& o, TiledTileset* t) {
  int32_t first;
  if (!JsonRequiredInt(f, "tileset", o, "firstgid", &first)) return false;
  if (first <= 0) return JsonFail(f, "tileset", "firstgid " + std::to_string(first) + " is out of range");
  t->firstGid = (uint32_t)first;
  std::string source;
  if (!JsonString(f, "tileset", o, "source", &source)) return false;
  if (source.empty()) return JsonTilesetBody(f, o, t);
  std::string path = TiledResolve(f.path, source);
  std::vector<uint8_t> bytes;
  if (!f.read(path, &bytes)) return JsonFail(f, "", "cannot read the tileset " + path);
  size_t i = 0;
  while (i < bytes.size() && (bytes[i] == ' ' || bytes[i] == '\n' || bytes[i] == '\r' || bytes[i] == '\t')) i++;
  if (i < bytes.size() && bytes[i] == '<') return TiledTmxTilesetFile(bytes, path, source, t, f.report);
  return TiledJsonTilesetFile(bytes, path, source, t, f.report);
}

}  // namespace

bool TiledJsonTilesetFile(const std::vector<uint8_t>& bytes, const std::string& path, const std::string& label,
                          TiledTileset* t, ImportReport* report) {
  JsonFile f{path, label, ImportReadDisk, report, nullptr};
  Json o;
  if (!JsonLoad(f, bytes, &o)) return false;
  return JsonTilesetBody(f, o, t);
}

bool TiledJsonParse(const std::vector<uint8_t>& bytes, const std::string& path, ImportReadFile read, TiledMap* map,
                    ImportReport* report) {
  JsonFile f{path, "", read, report, map};
  Json o;
  if (!JsonLoad(f, bytes, &o)) return false;
  if (!o.is_object()) return ImportFail(report, "not a Tiled map: the JSON is not an object");
  if (!JsonString(f, "", o, "orientation", &map->orientation)) return false;
  if (map->orientation.empty()) return ImportFail(report, "the map has no \"orientation\"");
  if (map->orientation != "orthogonal") {
    return ImportFail(report, map->orientation + " maps cannot be imported: only orthogonal maps");
  }
  std::string order;
  if (!JsonString(f, "", o, "renderorder", &order)) return false;
  if (!order.empty()) map->renderOrder = order;
  if (!JsonRequiredInt(f, "map", o, "width", &map->width) || !JsonRequiredInt(f, "map", o, "height", &map->height) ||
      !JsonRequiredInt(f, "map", o, "tilewidth", &map->tileWidth) ||
      !JsonRequiredInt(f, "map", o, "tileheight", &map->tileHeight) ||
      !JsonBool(f, "map", o, "infinite", false, &map->infinite)) {
    return false;
  }
  if (!JsonNumber(f, "map", o, "parallaxoriginx", 0, &map->parallaxOriginX) ||
      !JsonNumber(f, "map", o, "parallaxoriginy", 0, &map->parallaxOriginY)) {
    return false;
  }
  std::string background;
  if (!JsonString(f, "map", o, "backgroundcolor", &background)) return false;
  if (!background.empty()) {
    if (!TiledColour(background, &map->background)) return ImportFail(report, "map: bad backgroundcolor");
    map->hasBackground = true;
  }
  if (const Json* tilesets = JsonMember(o, "tilesets")) {
    if (!tilesets->is_array()) return ImportFail(report, "\"tilesets\" is not a list");
    for (const Json& tj : *tilesets) {
      TiledTileset t;
      if (!JsonTileset(f, tj, &t)) return false;
      map->tilesets.push_back(std::move(t));
    }
  }
  const Json* layers = JsonMember(o, "layers");
  if (!layers) return ImportFail(report, "the map has no \"layers\"");
  return JsonLayers(f, *layers, &map->layers, 0);
}
