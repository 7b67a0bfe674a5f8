// tessel-render: runs the Map runner on the headless backend, as tessel would
// in the current directory, from a key script and a test clock; prints a trace
// line per frame, echoes message boxes and writes the last frame as a PNG.
//   tessel-render MAP WIDTH HEIGHT INTERVAL [--keys SCRIPT] [--frame-ms MS]
//                 [--out FILE.png] [--trace]
#include <png.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/map.h"
#include "app/runner.h"
#include "platform/dinput.h"
#include "platform/headless.h"
#include "platform/kernel.h"
#include "runtime/runtime.h"
#include "tools/version.h"

namespace {


struct RenderStep {
  std::vector<int32_t> keys;
  uint64_t frames;
};

struct RenderState {
  std::vector<RenderStep> steps;
  uint64_t frameMs = 16;
  const char* out = nullptr;
  bool boxShown = false;
  bool trace = false;
  uint64_t frames = 0;
};

RenderState Render;

const char RenderUsageText[] =
    "usage: tessel-render MAP WIDTH HEIGHT INTERVAL [--keys SCRIPT] [--frame-ms MS] "
    "[--out FILE.png] [--trace]\n"
    "       tessel-render --help | --version\n"
    "  Runs Tessel without a display in the current directory (Maps/ and Tiles/).\n"
    "  SCRIPT: comma-separated KEYS*N steps, KEYS right, left, up, down, esc or none "
    "joined with +;\n"
    "          Escape is held after the last step\n"
    "  --frame-ms MS: clock step per frame (default 16)\n"
    "  --out FILE.png: the last frame as a PNG\n"
    "  --trace: one line per frame, frame F view X Y fps N\n";

[[noreturn]] void RenderUsage(const char* problem) {
  std::fprintf(stderr, "tessel-render: %s\n%s", problem, RenderUsageText);
  std::exit(2);
}

// A decimal number of at most 18 digits; false for anything else.
bool RenderParseCount(const std::string& text, uint64_t* value) {
  if (text.empty() || text.size() > 18) return false;
  uint64_t result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + (uint64_t)(c - '0');
  }
  *value = result;
  return true;
}

bool RenderParseKey(const std::string& name, std::vector<int32_t>* keys) {
  if (name == "right") keys->push_back(DIK_RIGHT);
  else if (name == "left") keys->push_back(DIK_LEFT);
  else if (name == "up") keys->push_back(DIK_UP);
  else if (name == "down") keys->push_back(DIK_DOWN);
  else if (name == "esc") keys->push_back(DIK_ESCAPE);
  else if (name != "none") return false;
  return true;
}

// Parses "KEYS*N,KEYS*N,..." into steps; false on any malformed step.
bool RenderParseScript(const std::string& script, std::vector<RenderStep>* steps) {
  size_t begin = 0;
  while (begin <= script.size()) {
    size_t end = script.find(',', begin);
    if (end == std::string::npos) end = script.size();
    std::string item = script.substr(begin, end - begin);
    size_t star = item.rfind('*');
    if (star == std::string::npos) return false;
    RenderStep step;
    if (!RenderParseCount(item.substr(star + 1), &step.frames)) return false;
    std::string names = item.substr(0, star);
    size_t from = 0;
    while (true) {
      size_t plus = names.find('+', from);
      std::string name = names.substr(from, plus == std::string::npos ? std::string::npos : plus - from);
      if (!RenderParseKey(name, &step.keys)) return false;
      if (plus == std::string::npos) break;
      from = plus + 1;
    }
    steps->push_back(step);
    begin = end + 1;
  }
  return true;
}

// Before each frame's keyboard poll: the clock moves on one frame, and the
// keys of the step this frame falls in are held (Escape once the script ends).
void RenderPoll(uint64_t poll, void*) {
  HeadlessSetClock((DWORD)((poll + 1) * Render.frameMs));
  HeadlessClearKeys();
  uint64_t first = 0;
  for (const RenderStep& step : Render.steps) {
    if (poll < first + step.frames) {
      for (int32_t key : step.keys) HeadlessSetKey(key, true);
      return;
    }
    first += step.frames;
  }
  HeadlessSetKey(DIK_ESCAPE, true);
}

// Only counts and traces: the pixels of the last frame are read once, at the end.
void RenderFlip(const HeadlessFrame&, void*) {
  Render.frames += 1;
  if (Render.trace) {
    std::printf("frame %llu view %d %d fps %d\n", (unsigned long long)Render.frames, (int)Map.viewX,
                (int)Map.viewY, (int)FpsShown);
  }
}

// Writes B,G,R rows as an 8-bit RGB PNG; false on failure.
bool RenderWritePng(const char* path, const uint8_t* bgr, int32_t width, int32_t height) {
  FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    std::fclose(file);
    return false;
  }
  // libpng reports errors by longjmp; nothing here needs unwinding.
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, (png_uint_32)width, (png_uint_32)height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_set_bgr(png);
  for (int32_t y = 0; y < height; y++) {
    png_write_row(png, (png_const_bytep)(bgr + (size_t)y * (size_t)width * 3));
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0;
}

// A message box ends the run: the user learns which file could not be
// loaded (errors 2 and 5 are the map and a tile image).
void RenderBox(const HeadlessMessageBox& box, void*) {
  Render.boxShown = true;
  const size_t length = std::strlen(box.text);
  const char last = length ? box.text[length - 1] : 0;
  const bool fileError = length >= 2 && box.text[length - 2] == ':' && (last == '2' || last == '5');
  if (fileError && *KernelLastFileName()) {
    std::fprintf(stderr, "tessel-render: could not load %s\n", KernelLastFileName());
    std::fflush(stderr);
  }
}

// At the end of the run (the runner ends the process through ExitProcess).
void RenderAtExit() {
  std::fflush(stdout);
  if (Render.out == nullptr) return;
  HeadlessFrame last = HeadlessLastFrame();
  if (last.width == 0 || last.bgr == nullptr) {
    std::fprintf(stderr, "tessel-render: no PNG was written to %s: %s\n", Render.out,
                 Render.boxShown ? "the run ended at its message box before any frame was shown"
                                 : "no frame was shown");
    return;
  }
  if (!RenderWritePng(Render.out, last.bgr, last.width, last.height)) {
    std::fprintf(stderr, "tessel-render: cannot write %s\n", Render.out);
    std::fflush(stderr);
    std::_Exit(2);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> positional;
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i];
    if (arg == "--help") {
      std::fputs(RenderUsageText, stdout);
      return 0;
    } else if (arg == "--version") {
      std::printf("tessel-render %s\n", TesselVersion);
      return 0;
    } else if (arg == "--trace") {
      Render.trace = true;
    } else if (arg == "--keys" || arg == "--frame-ms" || arg == "--out") {
      if (i + 1 >= argc) RenderUsage((arg + " needs a value").c_str());
      std::string value = argv[++i];
      if (arg == "--keys") {
        Render.steps.clear();
        if (!RenderParseScript(value, &Render.steps)) RenderUsage(("bad key script: " + value).c_str());
      } else if (arg == "--frame-ms") {
        if (!RenderParseCount(value, &Render.frameMs)) RenderUsage(("bad frame time: " + value).c_str());
      } else {
        Render.out = argv[i];
      }
    } else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
      RenderUsage(("unknown option " + arg).c_str());
    } else {
      positional.push_back(argv[i]);
    }
  }
  if (positional.size() != 4) RenderUsage("expected MAP WIDTH HEIGHT INTERVAL");
  if (Render.out != nullptr) {
    // Refuse an unwritable output before the run rather than after it; a
    // file made only for that test goes again, so a run that shows no frame
    // leaves no empty PNG behind.
    std::error_code error;
    const bool existed = std::filesystem::exists(Render.out, error);
    FILE* probe = std::fopen(Render.out, "ab");
    if (probe == nullptr) {
      std::fprintf(stderr, "tessel-render: cannot write %s\n", Render.out);
      return 2;
    }
    std::fclose(probe);
    if (!existed) std::remove(Render.out);
  }

  HeadlessReset();
  HeadlessSetMessageBoxEcho(true);
  HeadlessSetPollHook(RenderPoll, nullptr);
  HeadlessSetFlipHook(RenderFlip, nullptr);
  HeadlessSetMessageBoxHook(RenderBox, nullptr);
  // The last frame is converted once, for --out; frames nobody writes never are.
  HeadlessSetCapture(Render.out != nullptr ? HeadlessCaptureLast : HeadlessCaptureNone);
  KernelOnExit(RenderAtExit);

  char program[] = "tessel";
  char* runnerArgs[] = {program, positional[0], positional[1], positional[2], positional[3], nullptr};
  KernelSetArguments(5, runnerArgs);
  RuntimeStart();
  MapRunnerMain();
}
