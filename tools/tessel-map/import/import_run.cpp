// `tessel-map import`: parses the Tiled map, builds Tessel's map and writes
// DIR/Maps/NAME and the tile images it needs into DIR/Tiles/. Every file is
// written under a temporary name first and put in place only when all of them
// are complete; a failure removes what the import made (files and folders),
// so DIR is left as it was. Images are named by their content, so maps
// imported into one DIR share them without clashing. Temporary files that a
// killed import left behind are removed by the next import that succeeds.
#include "tools/tessel-map/import/import_run.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/tessel-map/import/tiled.h"

namespace {

bool RunExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// Makes a folder unless it is there; *made tells whether this call made it.
bool RunMakeDir(const std::string& path, bool* made) {
  *made = false;
  if (mkdir(path.c_str(), 0777) == 0) {
    *made = true;
    return true;
  }
  if (errno != EEXIST) return false;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    return false;
  }
  return true;
}

// Creates a folder and the folders above it; the ones it made go to *made, outermost first.
bool RunMakeDirs(const std::string& path, std::vector<std::string>* made) {
  for (size_t k = 1; k <= path.size(); k++) {
    if (k == path.size() || path[k] == '/') {
      if (path[k - 1] == '/') continue;
      bool fresh;
      if (!RunMakeDir(path.substr(0, k), &fresh)) return false;
      if (fresh) made->push_back(path.substr(0, k));
    }
  }
  return true;
}

bool RunWrite(const std::string& path, const std::vector<uint8_t>& bytes) {
  // A file of this name can only be left by a dead process that had this one's id.
  unlink(path.c_str());
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = ok && std::fflush(f) == 0;
  ok = ok && fsync(fileno(f)) == 0;
  // The first failure's errno is the one reported.
  int saved = errno;
  bool closed = std::fclose(f) == 0;
  if (!ok) errno = saved;
  return ok && closed;
}

std::string RunBaseName(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.size() > 3 && name.compare(name.size() - 3, 3, ".gz") == 0) name.resize(name.size() - 3);
  size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

// Why name cannot be a map's file name in Maps/; "" when it can. Names that
// would be hidden, taken for an option, or break a line of the output are refused.
std::string RunNameProblem(const std::string& name) {
  if (name.empty()) return "is empty";
  if (name == "." || name == ".." || name.find('/') != std::string::npos) return "is not a file name";
  if (name[0] == '.') return "starts with '.'";
  if (name[0] == '-') return "starts with '-'";
  for (char c : name) {
    if ((unsigned char)c < 0x20 || c == 0x7F) return "holds a control character";
  }
  if (name.size() > 255) return "is longer than 255 bytes";
  return "";
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

bool RunDigits(const std::string& s, size_t from, size_t to) {
  if (from >= to || to - from > 9) return false;
  for (size_t k = from; k < to; k++) {
    if (s[k] < '0' || s[k] > '9') return false;
  }
  return true;
}

// The process id in a temporary file's name: ".tmp-PID-K", or ".NAME.tmp-PID"
// as earlier versions named them; 0 when the name is neither.
long RunTempOwner(const std::string& name) {
  if (name.rfind(".tmp-", 0) == 0) {
    size_t dash = name.find('-', 5);
    if (dash == std::string::npos || !RunDigits(name, 5, dash) || !RunDigits(name, dash + 1, name.size())) return 0;
    return std::strtol(name.c_str() + 5, nullptr, 10);
  }
  size_t at = name.rfind(".tmp-");
  if (name.size() < 2 || name[0] != '.' || at == std::string::npos || at == 0) return 0;
  if (!RunDigits(name, at + 5, name.size())) return 0;
  return std::strtol(name.c_str() + at + 5, nullptr, 10);
}

// Removes the temporary files in folder whose import is no longer running.
void RunRemoveStale(const std::string& folder) {
  DIR* d = opendir(folder.c_str());
  if (!d) return;
  std::vector<std::string> stale;
  while (struct dirent* e = readdir(d)) {
    std::string name = e->d_name;
    long pid = RunTempOwner(name);
    if (pid <= 0 || pid == (long)getpid()) continue;
    if (kill((pid_t)pid, 0) != 0 && errno == ESRCH) stale.push_back(folder + "/" + name);
  }
  closedir(d);
  for (const std::string& path : stale) unlink(path.c_str());
}

}  // namespace

int ImportRun(const ImportRunArgs& args, std::string* out, std::string* err) {
  const std::string& source = args.source;
  ImportReport report;
  // Names and values from the file reach the terminal only with their control characters escaped.
  auto finish = [&](bool ok) {
    for (const std::string& w : report.warnings) *err += ImportPrintable(source + ": warning: " + w) + "\n";
    if (!ok) *err += ImportPrintable(source + ": error: " + report.error) + "\n";
    return ok ? 0 : 2;
  };
  std::string name = args.named ? args.name : RunBaseName(source);
  std::string nameProblem = RunNameProblem(name);
  if (!nameProblem.empty()) {
    ImportFail(&report, "the map name \"" + name + "\" " + nameProblem +
                            (args.named ? "" : "; give another with --name") + ": it cannot be a file name in Maps/");
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
    ImportFail(&report, "cannot read the map: " + ImportReadProblem(errno));
    return finish(false);
  }
  TiledMap map;
  if (!TiledMapParse(bytes, source, ImportReadDiskOrGz, &map, &report)) return finish(false);
  bytes = std::vector<uint8_t>();
  ImportResult result;
  if (!ImportBuild(map, options, ImportReadDiskOrGz, &result, &report)) return finish(false);
  map = TiledMap();

  std::string maps = args.dir + "/Maps", tiles = args.dir + "/Tiles";
  std::vector<std::string> madeDirs;   // folders this import made, outermost first
  std::vector<std::string> temps;      // temporary files written
  std::vector<std::string> placed;     // tile images put in place by this import
  // Takes back everything this import did; the errno of the failure is kept for its message.
  auto undo = [&](const std::string& text) {
    std::string why = std::strerror(errno);
    for (const std::string& path : temps) unlink(path.c_str());
    for (const std::string& path : placed) unlink(path.c_str());
    for (size_t k = madeDirs.size(); k-- > 0;) rmdir(madeDirs[k].c_str());
    ImportFail(&report, text + ": " + why);
    return finish(false);
  };
  if (!RunMakeDirs(maps, &madeDirs) || !RunMakeDirs(tiles, &madeDirs)) {
    return undo("cannot make the folders Maps/ and Tiles/ in " + args.dir);
  }
  struct stat st;
  if (lstat(mapFinal.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : EEXIST;
    return undo("cannot write " + mapFinal + ": it is there and not a file");
  }
  // Short temporary names: a map name of 255 bytes must still fit.
  std::string prefix = "/.tmp-" + std::to_string(getpid()) + "-";
  std::vector<std::pair<std::string, std::string>> images;  // temporary, final
  int64_t fresh = 0;
  std::vector<uint8_t> png;
  for (const ImportImage& image : result.images) {
    std::string final = tiles + "/" + image.name;
    // Same name, same pixels: another import already wrote it.
    if (RunExists(final)) continue;
    if (std::any_of(images.begin(), images.end(), [&](const auto& r) { return r.second == final; })) continue;
    std::string temp = tiles + prefix + std::to_string(temps.size());
    if (!ImportPngEncode(image.width, image.height, image.rgb, &png)) {
      errno = ENOMEM;
      return undo("cannot encode " + final);
    }
    if (!RunWrite(temp, png)) {
      int saved = errno;
      unlink(temp.c_str());
      errno = saved;
      return undo("cannot write " + final);
    }
    temps.push_back(temp);
    images.push_back({temp, final});
    fresh++;
  }
  std::string mapTemp = maps + prefix + std::to_string(temps.size());
  if (!RunWrite(mapTemp, MapFileEncode(result.map))) {
    int saved = errno;
    unlink(mapTemp.c_str());
    errno = saved;
    return undo("cannot write " + mapFinal);
  }
  temps.push_back(mapTemp);
  // Tile images are linked into place, so one another import put there meanwhile
  // (the same pixels) is neither replaced nor, on failure, taken away.
  for (const auto& [temp, final] : images) {
    if (link(temp.c_str(), final.c_str()) == 0) {
      placed.push_back(final);
    } else if (errno != EEXIST) {
      // File systems without hard links: a rename where nothing is.
      if (RunExists(final)) continue;
      if (rename(temp.c_str(), final.c_str()) != 0) return undo("cannot write " + final);
      placed.push_back(final);
    }
  }
  // The map goes last, so it never names an image that is not in place.
  if (rename(mapTemp.c_str(), mapFinal.c_str()) != 0) return undo("cannot write " + mapFinal);
  for (const std::string& path : temps) unlink(path.c_str());
  RunRemoveStale(maps);
  RunRemoveStale(tiles);

  int32_t screenW = result.screenW, screenH = result.screenH;
  int64_t tileImages = (int64_t)result.images.size() - (result.background ? 1 : 0);
  *out += ImportPrintable("imported " + source + " as " + mapFinal + ": " +
                          RunPlural(result.layerCount, "layer", "layers") + ", " +
                          RunPlural(result.tileTypeCount, "tile type", "tile types") + ", " +
                          RunPlural(tileImages, "tile image", "tile images") +
                          (result.background ? " and a background image" : "") + " (" + std::to_string(fresh) +
                          " new in " + tiles + "), " + std::to_string(result.mapWidth) + "x" +
                          std::to_string(result.mapHeight) + " pixels") +
          "\n";
  if (result.composedFrom > 0) {
    *out += RunPlural(result.composedFrom, "layer", "layers") + " composed into " +
            RunPlural(result.composedInto, "layer", "layers") + " (" +
            RunPlural(result.tileTypeCount, "tile type", "tile types") + ")\n";
  }
  *out += "animation interval " + std::to_string(result.interval) + " ms; run it with:\n";
  *out += ImportPrintable("  cd " + RunQuote(args.dir) + " && tessel " + RunQuote(name) + " " +
                          std::to_string(screenW) + " " + std::to_string(screenH) + " " +
                          std::to_string(result.interval)) +
          "\n";
  if (result.startY < 0) {
    *out += "(the map is smaller than the overlay in the top-left corner: it starts below it, on a screen that "
            "leaves room for both)\n";
  }
  return finish(true);
}
