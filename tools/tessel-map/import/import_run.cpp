// `tessel-map import`: parses the Tiled map, builds Tessel's map and writes
// DIR/Maps/NAME and the tile images it needs into DIR/Tiles/. Every file is
// written under a temporary name first and renamed only when all of them are
// complete, so a failure leaves nothing half-written. Images are named by
// their content, so maps imported into one DIR share them without clashing.
#include "tools/tessel-map/import/import_run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/tessel-map/import/tiled.h"

namespace {

bool RunExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

bool RunMakeDir(const std::string& path) {
  if (mkdir(path.c_str(), 0777) == 0 || errno == EEXIST) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }
  return false;
}

// Creates a folder and the folders above it.
bool RunMakeDirs(const std::string& path) {
  for (size_t k = 1; k <= path.size(); k++) {
    if (k == path.size() || path[k] == '/') {
      if (!RunMakeDir(path.substr(0, k))) return false;
    }
  }
  return true;
}

bool RunWrite(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fflush(f) == 0 && ok;
  ok = fsync(fileno(f)) == 0 && ok;
  ok = std::fclose(f) == 0 && ok;
  return ok;
}

std::string RunBaseName(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.size() > 3 && name.compare(name.size() - 3, 3, ".gz") == 0) name.resize(name.size() - 3);
  size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

std::string RunQuote(const std::string& s) {
  if (!s.empty() && s.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_./~+,:@") ==
                        std::string::npos) {
    return s;
  }
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The source's absolute path, its links resolved (the .gz read in its place when it is missing).
std::string RunAbsolute(const std::string& path) {
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved)) return resolved;
  if (realpath((path + ".gz").c_str(), resolved)) {
    std::string s = resolved;
    return s.substr(0, s.size() - 3);
  }
  return path;
}

std::string RunPlural(int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

int ImportRun(const ImportRunArgs& args, std::string* out, std::string* err) {
  const std::string& source = args.source;
  ImportReport report;
  auto finish = [&](bool ok) {
    for (const std::string& w : report.warnings) *err += source + ": warning: " + w + "\n";
    if (!ok) *err += source + ": error: " + report.error + "\n";
    return ok ? 0 : 2;
  };
  std::string name = args.name.empty() ? RunBaseName(source) : args.name;
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
      name.find('\n') != std::string::npos) {
    ImportFail(&report, "the map name \"" + name + "\" cannot be a file name in Maps/");
    return finish(false);
  }
  // The map records where it came from; a map of that name from elsewhere is not replaced unasked.
  ImportOptions options = args.options;
  options.sourceText = "Tiled map " + RunAbsolute(source);
  std::string mapFinal = args.dir + "/Maps/" + name;
  std::vector<uint8_t> bytes;
  if (!args.force && ImportReadDisk(mapFinal, &bytes)) {
    std::string text(bytes.begin(), bytes.end());
    size_t first = text.find('\n'), second = first == std::string::npos ? first : text.find('\n', first + 1);
    std::string recorded = second == std::string::npos ? "" : text.substr(first + 1, second - first - 1);
    if (!recorded.empty() && recorded.back() == '\r') recorded.pop_back();
    if (recorded != options.sourceText) {
      ImportFail(&report, mapFinal + " holds another map (" + (recorded.empty() ? "not imported" : recorded) +
                              "); choose another name with --name, or replace it with --force");
      return finish(false);
    }
  }
  if (!ImportReadDiskOrGz(source, &bytes)) {
    ImportFail(&report, std::string("cannot read the map: ") + std::strerror(errno));
    return finish(false);
  }
  TiledMap map;
  if (!TiledMapParse(bytes, source, ImportReadDiskOrGz, &map, &report)) return finish(false);
  bytes.clear();
  bytes.shrink_to_fit();
  ImportResult result;
  if (!ImportBuild(map, options, ImportReadDiskOrGz, &result, &report)) return finish(false);

  std::string maps = args.dir + "/Maps", tiles = args.dir + "/Tiles";
  if (!RunMakeDirs(maps) || !RunMakeDirs(tiles)) {
    ImportFail(&report, "cannot make the folders Maps/ and Tiles/ in " + args.dir + ": " + std::strerror(errno));
    return finish(false);
  }
  std::string suffix = ".tmp-" + std::to_string(getpid());
  std::vector<std::pair<std::string, std::string>> renames;  // temporary, final
  auto undo = [&]() {
    for (const auto& r : renames) unlink(r.first.c_str());
  };
  int64_t fresh = 0;
  std::vector<uint8_t> png;
  for (const ImportImage& image : result.images) {
    std::string final = tiles + "/" + image.name;
    // Same name, same pixels: another import already wrote it.
    if (RunExists(final)) continue;
    if (std::any_of(renames.begin(), renames.end(), [&](const auto& r) { return r.second == final; })) continue;
    std::string temp = tiles + "/." + image.name + suffix;
    renames.push_back({temp, final});
    if (!ImportPngEncode(image.width, image.height, image.rgb, &png) || !RunWrite(temp, png)) {
      undo();
      ImportFail(&report, "cannot write " + final + ": " + std::strerror(errno));
      return finish(false);
    }
    fresh++;
  }
  std::string mapTemp = maps + "/." + name + suffix;
  renames.push_back({mapTemp, mapFinal});
  if (!RunWrite(mapTemp, MapFileEncode(result.map))) {
    undo();
    ImportFail(&report, "cannot write " + mapFinal + ": " + std::strerror(errno));
    return finish(false);
  }
  // The map goes last, so it never names an image that is not in place.
  for (size_t k = 0; k < renames.size(); k++) {
    if (rename(renames[k].first.c_str(), renames[k].second.c_str()) != 0) {
      int saved = errno;
      for (size_t j = k; j < renames.size(); j++) unlink(renames[j].first.c_str());
      ImportFail(&report, "cannot write " + renames[k].second + ": " + std::strerror(saved));
      return finish(false);
    }
  }

  int32_t screenW = result.screenW, screenH = result.screenH;
  int64_t tileImages = (int64_t)result.images.size() - (result.background ? 1 : 0);
  *out += "imported " + source + " as " + mapFinal + ": " + RunPlural(result.layerCount, "layer", "layers") + ", " +
          RunPlural(result.tileTypeCount, "tile type", "tile types") + ", " +
          RunPlural(tileImages, "tile image", "tile images") + (result.background ? " and a background image" : "") +
          " (" + std::to_string(fresh) + " new in " + tiles + "), " + std::to_string(result.mapWidth) + "x" +
          std::to_string(result.mapHeight) + " pixels\n";
  if (result.composedFrom > 0) {
    *out += RunPlural(result.composedFrom, "layer", "layers") + " composed into " +
            RunPlural(result.composedInto, "layer", "layers") + " (" + RunPlural(result.tileTypeCount, "tile type", "tile types") +
            ")\n";
  }
  *out += "animation interval " + std::to_string(result.interval) + " ms; run it with:\n";
  *out += "  cd " + RunQuote(args.dir) + " && tessel " + RunQuote(name) + " " + std::to_string(screenW) + " " +
          std::to_string(screenH) + " " + std::to_string(result.interval) + "\n";
  if (result.startY < 0) {
    *out += "(the map is smaller than the overlay in the top-left corner: it starts below it, on a screen that "
            "leaves room for both)\n";
  }
  return finish(true);
}
