// tessel-map: compiles map source into a binary map (build), prints a
// binary map as map source with warnings (dump) and imports maps made in
// Tiled (import).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "tools/tessel-map/import/import_run.h"
#include "tools/tessel-map/import/tiled.h"
#include "tools/tessel-map/map_source.h"
#include "tools/version.h"

namespace {

const char MapToolUsageText[] =
    "usage: tessel-map build SOURCE -o FILE   compile map source into a binary map\n"
    "       tessel-map dump FILE              print a binary map as map source, with warnings\n"
    "       tessel-map import SOURCE -o DIR [--name NAME] [--hide-layer NAME]... [--show-layer NAME]...\n"
    "                  [--step N] [--screen W H] [--layers] [--force]\n"
    "                                         import a Tiled map (TMX or JSON) into DIR/Maps and DIR/Tiles\n"
    "       tessel-map --help | --version\n";

// The source being imported, for the message of an allocation that fails.
const char* MapToolSource = "tessel-map";

// The importer bounds what a file can make it allocate; should an allocation
// still fail (a small ulimit), the import ends as a refusal, not an abort.
void MapToolOutOfMemory() {
  std::fprintf(stderr, "%s: error: out of memory\n", ImportPrintable(MapToolSource).c_str());
  std::fflush(stderr);
  std::_Exit(2);
}

// build and dump read regular files only, whole, up to this size.
constexpr int64_t MapToolMaxFileBytes = (int64_t)1 << 30;

bool MapToolRead(const char* path, std::vector<uint8_t>* bytes) {
  if (ImportReadDiskUpTo(path, MapToolMaxFileBytes, bytes)) return true;
  int err = errno;
  std::string why = err == EFBIG ? "larger than " + std::to_string(MapToolMaxFileBytes) + " bytes" : ImportReadProblem(err);
  std::fprintf(stderr, "tessel-map: cannot read %s: %s\n", ImportPrintable(path).c_str(), why.c_str());
  return false;
}

int MapToolUsage() {
  std::fputs(MapToolUsageText, stderr);
  return 2;
}

int MapToolBuild(const char* source, const char* output) {
  std::vector<uint8_t> text;
  if (!MapToolRead(source, &text)) return 2;
  std::vector<uint8_t> map;
  std::string errors;
  bool built = MapSourceBuild(std::string(text.begin(), text.end()), source, &map, &errors);
  // Errors stop the build; warnings (what Tessel will not show) come with a map.
  std::fputs(errors.c_str(), stderr);
  if (!built) return 2;
  std::FILE* f = std::fopen(output, "wb");
  if (!f) {
    std::fprintf(stderr, "tessel-map: cannot write %s: %s\n", output, std::strerror(errno));
    return 2;
  }
  bool ok = std::fwrite(map.data(), 1, map.size(), f) == map.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok) {
    std::fprintf(stderr, "tessel-map: cannot write %s\n", output);
    return 2;
  }
  return 0;
}

int MapToolDump(const char* path) {
  std::vector<uint8_t> bytes;
  if (!MapToolRead(path, &bytes)) return 2;
  std::string text;
  MapDumpText(bytes, path, &text);
  std::fputs(text.c_str(), stdout);
  return 0;
}

// import SOURCE -o DIR [--name NAME] [--hide-layer NAME]... [--show-layer NAME]... [--step N] [--screen W H] [--layers] [--force]
int MapToolImport(int argc, char** argv) {
  ImportRunArgs args;
  bool haveDir = false;
  for (int i = 2; i < argc; i++) {
    std::string a = argv[i];
    bool value = i + 1 < argc;
    if (a == "-o" && value) {
      args.dir = argv[++i];
      haveDir = true;
    } else if (a == "--name" && value) {
      args.name = argv[++i];
      args.named = true;
    } else if (a == "--hide-layer" && value) {
      args.options.hideLayers.push_back(argv[++i]);
    } else if (a == "--show-layer" && value) {
      args.options.showLayers.push_back(argv[++i]);
    } else if (a == "--step" && value) {
      char* end = nullptr;
      long step = std::strtol(argv[++i], &end, 10);
      if (*argv[i] == 0 || *end != 0 || step < 1 || step > 127) {
        std::fprintf(stderr, "tessel-map: --step takes a number of pixels from 1 to 127\n");
        return 2;
      }
      args.options.step = (int32_t)step;
    } else if (a == "--screen" && i + 2 < argc) {
      int32_t size[2];
      for (int k = 0; k < 2; k++) {
        char* end = nullptr;
        long v = std::strtol(argv[++i], &end, 10);
        if (*argv[i] == 0 || *end != 0 || v < 1 || v > 32767) {
          std::fprintf(stderr, "tessel-map: --screen takes a width and a height in pixels, 1 to 32767\n");
          return 2;
        }
        size[k] = (int32_t)v;
      }
      args.options.screenW = size[0];
      args.options.screenH = size[1];
    } else if (a == "--layers") {
      args.options.layers = true;
    } else if (a == "--force") {
      args.force = true;
    } else if (a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "tessel-map: unknown or incomplete option %s\n", a.c_str());
      return MapToolUsage();
    } else if (args.source.empty()) {
      args.source = a;
    } else {
      return MapToolUsage();
    }
  }
  if (args.source.empty() || !haveDir || args.dir.empty()) return MapToolUsage();
  MapToolSource = args.source.c_str();
  std::set_new_handler(MapToolOutOfMemory);
  std::string out, err;
  int code = ImportRun(args, &out, &err);
  std::fputs(out.c_str(), stdout);
  std::fputs(err.c_str(), stderr);
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(MapToolUsageText, stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("tessel-map %s\n", TesselVersion);
    return 0;
  }
  if (argc >= 2 && std::strcmp(argv[1], "import") == 0) return MapToolImport(argc, argv);
  if (argc == 3 && std::strcmp(argv[1], "dump") == 0) return MapToolDump(argv[2]);
  if (argc == 5 && std::strcmp(argv[1], "build") == 0) {
    if (std::strcmp(argv[3], "-o") == 0) return MapToolBuild(argv[2], argv[4]);
    if (std::strcmp(argv[2], "-o") == 0) return MapToolBuild(argv[4], argv[3]);
  }
  return MapToolUsage();
}
