// JSON and TSJ reader: Tiled's JSON map and tileset files, through
// nlohmann-json without exceptions: every value is checked for its type
// before it is taken, and messages name the layer or tileset they are about.
#include <cerrno>
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

// What a parsed value takes in memory, near enough, allocator overhead and
// the room vectors grow into counted: the value itself, a map node per object
// member, a container per array or object (and the parser's stack), its text.
int64_t JsonCost(nlohmann::detail::parse_event_t event, const Json& parsed) {
  using Event = nlohmann::detail::parse_event_t;
  switch (event) {
    case Event::object_start:
    case Event::array_start:
      return 128;
    case Event::key:
      return 128 + (int64_t)(parsed.is_string() ? parsed.get_ref<const std::string&>().size() : 0);
    case Event::value:
      return 32 + (int64_t)(parsed.is_string() ? parsed.get_ref<const std::string&>().size() : 0);
    default:
      return 0;
  }
}

// Parses bytes into out, counting what the tree takes against
// TiledMaxTreeBytes (with the other trees alive); *cost receives what it took.
bool JsonLoad(const JsonFile& f, const std::vector<uint8_t>& bytes, Json* out, int64_t* cost) {
  *cost = 0;
  bool over = false;
  int64_t start = TiledTreeBytes;
  // Past the bound every further value is dropped as it is read, so the tree
  // stops growing; the parse then ends as a refusal.
  auto budget = [&](int, nlohmann::detail::parse_event_t event, Json& parsed) {
    if (over) return false;
    *cost += JsonCost(event, parsed);
    if (start + *cost > TiledMaxTreeBytes) over = true;
    return !over;
  };
  *out = Json::parse(bytes.begin(), bytes.end(), budget, false);
  if (over) {
    *out = Json();
    *cost = 0;
    return JsonFail(f, "", "the JSON takes more than the importer's bound of " + std::to_string(TiledMaxTreeBytes) +
                               " bytes for parsed files");
  }
  if (!out->is_discarded()) {
    TiledTreeBytes += *cost;
    return true;
  }
  *cost = 0;
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

// A whole number within lo..hi: a JSON integer, as in the XML form ("1e1" and "10.0" are not whole numbers).
bool JsonWhole(const JsonFile& f, const std::string& where, const Json& o, const char* key, int64_t lo, int64_t hi,
               int64_t fallback, int64_t* value) {
  const Json* v = JsonMember(o, key);
  if (!v || v->is_null()) {
    *value = fallback;
    return true;
  }
  bool ok = false;
  if (v->is_number_unsigned()) {
    uint64_t u = v->get<uint64_t>();
    ok = u <= (uint64_t)hi && (int64_t)u >= lo;
    *value = (int64_t)u;
  } else if (v->is_number_integer()) {
    int64_t i = v->get<int64_t>();
    ok = i >= lo && i <= hi;
    *value = i;
  }
  if (!ok) {
    return JsonFail(f, where, std::string("\"") + key + "\" is not a whole number from " + std::to_string(lo) +
                                  " to " + std::to_string(hi));
  }
  return true;
}

bool JsonInt(const JsonFile& f, const std::string& where, const Json& o, const char* key, int32_t fallback,
             int32_t* value) {
  int64_t v;
  if (!JsonWhole(f, where, o, key, INT32_MIN, INT32_MAX, fallback, &v)) return false;
  *value = (int32_t)v;
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
        int64_t id;
        if (!TiledWhole(key.c_str(), 0, INT32_MAX, &id)) return JsonFail(f, where, "bad tile id \"" + key + "\"");
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
      if (!v.is_number_integer() || (!v.is_number_unsigned() && v.get<int64_t>() < 0)) {
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
    std::vector<TiledChunk> list;
    int64_t chunkCells = 0;
    for (const Json& ch : *chunks) {
      TiledChunk chunk;
      if (!JsonRequiredInt(f, where, ch, "x", &chunk.x) || !JsonRequiredInt(f, where, ch, "y", &chunk.y) ||
          !JsonRequiredInt(f, where, ch, "width", &chunk.width) ||
          !JsonRequiredInt(f, where, ch, "height", &chunk.height)) {
        return false;
      }
      if (chunk.width <= 0 || chunk.height <= 0 || (int64_t)chunk.width * chunk.height > TiledMaxLayerCells) {
        return JsonFail(f, where, "bad chunk size");
      }
      chunkCells += (int64_t)chunk.width * chunk.height;
      if (chunkCells > TiledMaxLayerCells) break;
      list.push_back(chunk);
    }
    std::string problem;
    if (!TiledChunkBox(list, layer, &problem)) return JsonFail(f, where, problem);
    if (!TiledChunkBudget(f.map, chunkCells, (int64_t)layer->width * layer->height, where, f.report)) return false;
    if (list.empty()) return true;
    layer->cells.assign((size_t)layer->width * layer->height, 0);
    std::vector<uint32_t> cells;
    for (size_t k = 0; k < list.size(); k++) {
      const TiledChunk& chunk = list[k];
      if (!JsonData(f, where, (*chunks)[k], encoding, compression, (int64_t)chunk.width * chunk.height, &cells)) {
        return false;
      }
      if (!TiledChunkPlace(layer, chunk, cells)) return JsonFail(f, where, "a chunk lies outside its layer");
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
    int64_t gid;
    if (!JsonWhole(f, where, oj, "gid", 0, UINT32_MAX, 0, &gid) || !JsonNumber(f, where, oj, "x", 0, &ob.x) ||
        !JsonNumber(f, where, oj, "y", 0, &ob.y) || !JsonNumber(f, where, oj, "width", 0, &ob.width) ||
        !JsonNumber(f, where, oj, "height", 0, &ob.height) ||
        !JsonNumber(f, where, oj, "rotation", 0, &ob.rotation) ||
        !JsonBool(f, where, oj, "visible", true, &ob.visible)) {
      return false;
    }
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
  if (first <= 0 || (uint32_t)first > TiledGidMask) {
    return JsonFail(f, "tileset", "firstgid " + std::to_string(first) + " is out of range (1 to " +
                                      std::to_string(TiledGidMask) + ")");
  }
  t->firstGid = (uint32_t)first;
  t->firstGidWhere = f.label.empty() ? "tileset with firstgid " + std::to_string(first) : f.label;
  std::string source;
  if (!JsonString(f, "tileset", o, "source", &source)) return false;
  if (source.empty()) return JsonTilesetBody(f, o, t);
  std::string path = TiledResolve(f.path, source);
  std::vector<uint8_t> bytes;
  if (!f.read(path, &bytes)) return JsonFail(f, "", "cannot read the tileset " + path + ": " + ImportReadProblem(errno));
  size_t i = 0;
  while (i < bytes.size() && (bytes[i] == ' ' || bytes[i] == '\n' || bytes[i] == '\r' || bytes[i] == '\t')) i++;
  if (i < bytes.size() && bytes[i] == '<') return TiledTmxTilesetFile(bytes, path, source, t, f.report);
  return TiledJsonTilesetFile(bytes, path, source, t, f.report);
}

bool JsonMapBody(const JsonFile& f, const Json& o, TiledMap* map, ImportReport* report);

}  // namespace

bool TiledJsonTilesetFile(const std::vector<uint8_t>& bytes, const std::string& path, const std::string& label,
                          TiledTileset* t, ImportReport* report) {
  JsonFile f{path, label, ImportReadDisk, report, nullptr};
  Json o;
  int64_t cost;
  if (!JsonLoad(f, bytes, &o, &cost)) return false;
  bool ok = JsonTilesetBody(f, o, t);
  TiledTreeBytes -= cost;
  return ok;
}

bool TiledJsonParse(const std::vector<uint8_t>& bytes, const std::string& path, ImportReadFile read, TiledMap* map,
                    ImportReport* report) {
  JsonFile f{path, "", read, report, map};
  Json o;
  int64_t cost;
  if (!JsonLoad(f, bytes, &o, &cost)) return false;
  bool ok = JsonMapBody(f, o, map, report);
  TiledTreeBytes -= cost;
  return ok;
}

namespace {

bool JsonMapBody(const JsonFile& f, const Json& o, TiledMap* map, ImportReport* report) {
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

}  // namespace
