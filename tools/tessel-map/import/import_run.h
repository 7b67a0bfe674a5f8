// The `tessel-map import` command: one Tiled map in, DIR/Maps/NAME and its
// tile images in DIR/Tiles/ out.
#pragma once

#include <string>

#include "tools/tessel-map/import/tiled.h"

struct ImportRunArgs {
  std::string source;
  std::string dir;
  std::string name;    // the map's file name in Maps/, when named
  bool named = false;  // false: the source's file name without its extension
  bool force = false;   // replace a map of that name imported from another source
  ImportOptions options;
};

// Runs one import; the summary goes to *out, "SOURCE: warning: ..." and
// "SOURCE: error: ..." lines to *err. Returns the exit code: 0, or 2 on failure.
int ImportRun(const ImportRunArgs& args, std::string* out, std::string* err);
