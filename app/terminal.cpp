// Tessel on a terminal: --help and --version, the usage line, and the line per
// error number that names what failed. Everything here is worked out after
// the fact from the state the runner's failed step left behind (the first
// layer without cells, the first tile type without a sprite, the phase the
// keyboard and the screen reached) and by asking the platform once more why a
// file does not open, so the runner's own steps stay as they are.
// Depends on the runner's records, the screen and keyboard globals, the
// exception record and the kernel stand-ins (files, standard streams).
#include "app/terminal.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "app/map.h"
#include "errors/errors.h"
#include "input/keyboard.h"
#include "platform/kernel.h"
#include "runtime/objects.h"
#include "screen/screen.h"
#include "screen/sprites.h"
#include "tools/version.h"

namespace {

const char TerminalUsage[] = "usage: tessel MAP WIDTH HEIGHT INTERVAL";

const char TerminalHelp[] =
    "usage: tessel MAP WIDTH HEIGHT INTERVAL\n"
    "       tessel --help | --version\n"
    "  Shows the map Maps/MAP of the current folder full screen at WIDTH x HEIGHT pixels,\n"
    "  its tile images read from Tiles/, tiles animated every INTERVAL ms.\n"
    "  Arrow keys scroll, Escape quits (so do Ctrl+C and SIGTERM).\n"
    "  A failure shows a box \"Fehlernummer:N\" (1 display or keyboard, 2 map file,\n"
    "  5 tile image, 7 layer cells, 9 processor fault) and one line on standard error.\n"
    "  The exit code is always 0. See tessel(1).\n";

struct TerminalState {
  char line[1024];
  char path[512];
};
TerminalState Terminal;

// Writes text to a standard stream through the kernel's handle.
void TerminalWrite(DWORD stream, const char* text) {
  DWORD written = 0;
  std::fflush(nullptr);
  WriteFile(GetStdHandle(stream), text, (DWORD)std::strlen(text), &written, nullptr);
}

// Appends a wide string as UTF-8 (unpaired surrogates as U+FFFD) to out of size bytes.
void TerminalAppendWide(char* out, size_t size, const char16_t* text) {
  size_t n = std::strlen(out);
  for (; text && *text; text++) {
    uint32_t c = *text;
    if (c >= 0xD800 && c <= 0xDBFF && text[1] >= 0xDC00 && text[1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (uint32_t)(text[1] - 0xDC00);
      text++;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    char bytes[4];
    size_t count = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    if (count == 1) bytes[0] = (char)c;
    else if (count == 2) bytes[0] = (char)(0xC0 | (c >> 6));
    else if (count == 3) bytes[0] = (char)(0xE0 | (c >> 12));
    else bytes[0] = (char)(0xF0 | (c >> 18));
    for (size_t i = 1; i < count; i++) bytes[i] = (char)(0x80 | ((c >> (6 * (count - 1 - i))) & 0x3F));
    if (n + count >= size) break;
    std::memcpy(out + n, bytes, count);
    n += count;
  }
  out[n] = 0;
}

// The file FOLDER\name as the loader builds it from the current directory,
// opened once more: 0 when it opens (and *magic gets its first bytes),
// otherwise the platform's reason. Terminal.path gets the name as shown,
// relative to the current folder and with '/' separators.
DWORD TerminalProbe(const char16_t* folder, const char16_t* name, uint8_t magic[8]) {
  char16_t full[1024];
  const DWORD n = GetCurrentDirectoryW(900, full);
  size_t at = n > 0 && n < 900 ? n : 0;
  if (at > 0 && full[at - 1] != u'\\') full[at++] = u'\\';
  for (const char16_t* p = folder; *p && at < 1000; p++) full[at++] = *p;
  for (const char16_t* p = name; p && *p && at < 1023; p++) full[at++] = *p;
  full[at] = 0;
  Terminal.path[0] = 0;
  TerminalAppendWide(Terminal.path, sizeof Terminal.path, folder);
  TerminalAppendWide(Terminal.path, sizeof Terminal.path, name);
  for (char* p = Terminal.path; *p; p++)
    if (*p == '\\') *p = '/';
  HANDLE file = CreateFileW(full, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : ERROR_OPEN_FAILED;
  }
  DWORD got = 0;
  std::memset(magic, 0, 8);
  ReadFile(file, magic, 8, &got, nullptr);
  CloseHandle(file);
  return ERROR_SUCCESS;
}

// Why an open failed, in words.
const char* TerminalReason(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND: return "no such file";
    case ERROR_PATH_NOT_FOUND: return "no such folder";
    case ERROR_ACCESS_DENIED: return "permission denied";
    case ERROR_DIRECTORY: return "it is a folder (only regular files are read)";
    case ERROR_BAD_FILE_TYPE: return "not a regular file (only regular files are read)";
    case ERROR_SHARING_VIOLATION: return "it is in use";
    case ERROR_FILENAME_EXCED_RANGE: return "the name is too long";
    default: return "it cannot be opened";
  }
}

bool TerminalNotFound(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

void TerminalMapLine() {
  uint8_t magic[8];
  if (MapName == nullptr || MapName[0] == 0) {
    std::snprintf(Terminal.line, sizeof Terminal.line,
                  "cannot open the map: no map name was given (maps are looked up in Maps/ of the current folder)");
    return;
  }
  const DWORD error = TerminalProbe(u"Maps\\", MapName, magic);
  std::snprintf(Terminal.line, sizeof Terminal.line, "cannot open the map %s: %s%s", Terminal.path,
                error == ERROR_SUCCESS ? "it could not be read" : TerminalReason(error),
                TerminalNotFound(error) ? " (maps are looked up in Maps/ of the current folder)" : "");
}

void TerminalTileLine() {
  int32_t type = 1;
  while (type <= Map.tileTypeCount && ObjectGet(SpriteTable, TileSpriteBase + type) != nullptr) type++;
  if (TileTypes == nullptr || type > Map.tileTypeCount) {
    std::snprintf(Terminal.line, sizeof Terminal.line, "a tile image cannot be loaded");
    return;
  }
  uint8_t magic[8];
  const DWORD error = TerminalProbe(u"Tiles\\", TileTypes[type].image, magic);
  const char* why = TerminalReason(error);
  if (error == ERROR_SUCCESS) {
    const bool bmp = magic[0] == 'B' && magic[1] == 'M';
    const bool png = std::memcmp(magic, "\x89PNG\r\n\x1a\n", 8) == 0;
    why = !bmp && !png ? "not a BMP or PNG image"
                       : "the image is damaged or of a kind not read, or the images together pass "
                         "the sprite budget of 256 MiB";
  }
  std::snprintf(Terminal.line, sizeof Terminal.line, "cannot load the tile image %s (tile type %d): %s%s",
                Terminal.path, (int)type, why,
                TerminalNotFound(error) ? " (tile images are looked up in Tiles/ of the current folder)" : "");
}

void TerminalLayerLine() {
  int32_t index = 0;
  while (index < Map.layerCount && MapLayers != nullptr && MapLayers[index].cells != nullptr) index++;
  if (MapLayers == nullptr || index >= Map.layerCount) {
    std::snprintf(Terminal.line, sizeof Terminal.line, "the cells of a layer cannot be held");
    return;
  }
  const MapLayer& layer = MapLayers[index];
  char name[256] = "";
  TerminalAppendWide(name, sizeof name, layer.name);
  const int64_t bytes = (int64_t)layer.width * layer.height * 2 * ((int64_t)layer.extraPlanes + 1);
  char size[160];
  std::snprintf(size, sizeof size, "%d x %d cells in %d plane%s", (int)layer.width, (int)layer.height,
                (int)layer.extraPlanes + 1, layer.extraPlanes == 0 ? "" : "s");
  std::snprintf(Terminal.line, sizeof Terminal.line, "the cells of layer %d \"%s\" cannot be held: %s, %s",
                (int)index + 1, name, size,
                bytes <= 0          ? "a block of 0 bytes or less"
                : bytes > INT32_MAX ? "a block past 2 GiB"
                                    : "no memory for them");
}

void TerminalDisplayLine() {
  const int32_t width = (int16_t)ScreenWidth, height = (int16_t)ScreenHeight;
  if (ScreenInitialised == 0 && ScreenWindow != nullptr && KeyboardPhase == 0) {
    std::snprintf(Terminal.line, sizeof Terminal.line, "the keyboard could not be set up");
  } else if (ScreenInitialised == 0 || DirectDrawInterface == nullptr) {
    std::snprintf(Terminal.line, sizeof Terminal.line, "the display could not be set up: no display answers");
  } else if (KeyboardPhase == 0) {
    std::snprintf(Terminal.line, sizeof Terminal.line, "the keyboard could not be set up");
  } else if (width <= 0 || height <= 0) {
    std::snprintf(Terminal.line, sizeof Terminal.line,
                  "the display could not be set up: %d x %d is no screen size (WIDTH and HEIGHT are from 1 to "
                  "32767)",
                  (int)width, (int)height);
  } else {
    std::snprintf(Terminal.line, sizeof Terminal.line,
                  "the display could not be set up at %d x %d pixels: no display answers, or it cannot show "
                  "that size",
                  (int)width, (int)height);
  }
}

}  // namespace

bool TerminalIsNumber(const char* text) {
  while (*text == ' ' || *text == '\t') text++;
  if (*text == '-' || *text == '+') text++;
  if (*text < '0' || *text > '9') return false;
  while (*text >= '0' && *text <= '9') text++;
  return *text == 0;
}

const char* TerminalExplanation(int8_t number) {
  Terminal.line[0] = 0;
  switch (number) {
    case 1: TerminalDisplayLine(); break;
    case 2: TerminalMapLine(); break;
    case 5: TerminalTileLine(); break;
    case 7: TerminalLayerLine(); break;
    case 9:
      std::snprintf(Terminal.line, sizeof Terminal.line,
                    "a processor fault (code 0x%08" PRIX32 " at 0x%" PRIxPTR ", runner line %d)", ErrorInfo.code,
                    ErrorInfo.address, (int)ErrorInfo.line);
      break;
    default: return "";
  }
  static char full[1100];
  std::snprintf(full, sizeof full, "tessel: error %d: %s\n", (int)number, Terminal.line);
  return full;
}

namespace {

void TerminalExplain(int8_t number) {
  const char* line = TerminalExplanation(number);
  if (*line) TerminalWrite(STD_ERROR_HANDLE, line);
}

}  // namespace

int32_t TerminalStart(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    TerminalWrite(STD_OUTPUT_HANDLE, TerminalHelp);
    return 1;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    char line[64];
    std::snprintf(line, sizeof line, "tessel %s\n", TesselVersion);
    TerminalWrite(STD_OUTPUT_HANDLE, line);
    return 1;
  }
  static const char* const names[4] = {"MAP", "WIDTH", "HEIGHT", "INTERVAL"};
  char problems[600] = "";
  for (int i = argc; i <= 4; i++) {
    std::snprintf(problems + std::strlen(problems), sizeof problems - std::strlen(problems), "%s%s",
                  problems[0] ? ", " : "", names[i - 1]);
  }
  if (problems[0]) std::strncat(problems, " missing", sizeof problems - std::strlen(problems) - 1);
  for (int i = 2; i <= 4 && i < argc; i++) {
    if (TerminalIsNumber(argv[i])) continue;
    std::snprintf(problems + std::strlen(problems), sizeof problems - std::strlen(problems),
                  "%s%s \"%.40s\" is not a number", problems[0] ? "; " : "", names[i - 1], argv[i]);
  }
  if (problems[0]) {
    char line[800];
    std::snprintf(line, sizeof line, "tessel: %s (%s)\n", TerminalUsage, problems);
    TerminalWrite(STD_ERROR_HANDLE, line);
  }
  ErrorExitExplain = TerminalExplain;
  return 0;
}
