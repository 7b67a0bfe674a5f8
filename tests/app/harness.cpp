// The whole-runner harness: map and BMP writers, and the child-process run
// with its shared record of frames, boxes and pictures.
#include "tests/app/harness.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/map.h"
#include "app/terminal.h"
#include "app/runner.h"
#include "platform/headless.h"
#include "platform/kernel.h"
#include "runtime/runtime.h"
#include "screen/sprites.h"

// Every C++ allocation of the test program is counted, so a test can show the
// frame loop makes none.
static std::atomic<uint64_t> NewCount{0};

void* operator new(size_t bytes) {
  NewCount.fetch_add(1, std::memory_order_relaxed);
  void* block = std::malloc(bytes != 0 ? bytes : 1);
  if (block == nullptr) std::abort();
  return block;
}
void* operator new[](size_t bytes) { return operator new(bytes); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }
void operator delete[](void* block, size_t) noexcept { std::free(block); }

#ifdef TESSEL_SANITIZE
// Blocks the sanitizer's own operator new handed out can reach the free above.
extern "C" const char* __asan_default_options() { return "alloc_dealloc_mismatch=0"; }
#endif

MapBytes& MapBytes::Line(const std::string& text, const std::string& end) {
  bytes.insert(bytes.end(), text.begin(), text.end());
  bytes.insert(bytes.end(), end.begin(), end.end());
  return *this;
}
MapBytes& MapBytes::I8(int32_t value) {
  bytes.push_back((uint8_t)value);
  return *this;
}
MapBytes& MapBytes::I16(int32_t value) {
  bytes.push_back((uint8_t)value);
  bytes.push_back((uint8_t)(value >> 8));
  return *this;
}
MapBytes& MapBytes::I32(int32_t value) {
  for (int i = 0; i < 4; i++) bytes.push_back((uint8_t)((uint32_t)value >> (8 * i)));
  return *this;
}
MapBytes& MapBytes::F32(float value) {
  uint32_t raw;
  std::memcpy(&raw, &value, 4);
  return I32((int32_t)raw);
}
MapBytes& MapBytes::Raw(const std::vector<uint8_t>& raw) {
  bytes.insert(bytes.end(), raw.begin(), raw.end());
  return *this;
}

MapBytes MapEncode(const MapSpec& spec) {
  MapBytes m;
  m.Line("").Line("").I32(spec.width).I32(spec.height).Line("");
  m.I8((int32_t)spec.layers.size()).I16((int32_t)spec.tiles.size());
  m.I32(spec.startX).I32(spec.startY).Line(spec.background).I8(spec.step);
  for (const LayerSpec& layer : spec.layers) {
    m.Line("layer").I32(layer.width).I32(layer.height).I32(layer.tileWidth).I32(layer.tileHeight);
    m.F32(layer.factor).I8(layer.planes);
  }
  for (const TileSpec& tile : spec.tiles) m.Line(tile.image).I8(tile.frames).I16(0);
  for (const LayerSpec& layer : spec.layers) {
    int64_t count = (int64_t)layer.width * layer.height * (layer.planes + 1);
    for (int64_t i = 0; i < count; i++) m.I16(i < (int64_t)layer.cells.size() ? layer.cells[i] : 0);
  }
  return m;
}

TestDir::TestDir() {
  static int serial = 0;
  path = (std::filesystem::temp_directory_path() /
          ("tessel-app-" + std::to_string(getpid()) + "-" + std::to_string(serial++)))
             .string();
  std::filesystem::remove_all(path);
  std::filesystem::create_directories(path + "/Maps");
  std::filesystem::create_directories(path + "/Tiles");
}

TestDir::~TestDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

void TestDir::Map(const std::string& name, const std::vector<uint8_t>& bytes) const {
  std::ofstream(path + "/Maps/" + name, std::ios::binary).write((const char*)bytes.data(), bytes.size());
}

void TestDir::Tile(const std::string& name, int32_t width, int32_t height, Rgb colour) const {
  Tile(name, width, height, [colour](int32_t, int32_t) { return colour; });
}

void TestDir::Tile(const std::string& name, int32_t width, int32_t height,
                   const std::function<Rgb(int32_t, int32_t)>& pixel) const {
  int32_t rowSize = (width * 3 + 3) & ~3;
  MapBytes b;
  b.I8('B').I8('M').I32(54 + rowSize * height).I32(0).I32(54);
  b.I32(40).I32(width).I32(height).I16(1).I16(24).I32(0).I32(rowSize * height).I32(2835).I32(2835).I32(0).I32(0);
  for (int32_t y = height - 1; y >= 0; y--) {
    for (int32_t x = 0; x < width; x++) {
      Rgb c = pixel(x, y);
      b.I8(c.b).I8(c.g).I8(c.r);
    }
    for (int32_t pad = width * 3; pad < rowSize; pad++) b.I8(0);
  }
  std::ofstream(path + "/Tiles/" + name, std::ios::binary).write((const char*)b.bytes.data(), b.bytes.size());
}

void TestDir::File(const std::string& relative, const std::vector<uint8_t>& bytes) const {
  std::ofstream(path + "/" + relative, std::ios::binary).write((const char*)bytes.data(), bytes.size());
}

void TestDir::Fifo(const std::string& relative) const { mkfifo((path + "/" + relative).c_str(), 0600); }

Rgb Picture::At(int32_t x, int32_t y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return {1, 2, 3};
  const uint8_t* p = &bgr[((size_t)y * width + x) * 3];
  return {p[2], p[1], p[0]};
}

namespace {

constexpr int32_t MaxFrames = 4096;
constexpr size_t MaxPixels = 8u << 20;

struct SharedPicture {
  int32_t width, height;
  uint8_t bgr[MaxPixels];
};

// Written by the child, read by the parent after the child has ended.
struct SharedRun {
  int32_t frameCount;
  FrameInfo frames[MaxFrames];
  int32_t boxCount;
  char boxes[8][1400];
  int32_t mapWidth, mapHeight, layerCount, tileTypeCount, scrollStep, startX, startY;
  int32_t backgroundMode, backgroundSprite, animatedCount, animated[8];
  int32_t layerWidth, layerHeight, layerTileWidth, layerTileHeight, layerPlanes;
  float layerFactor;
  uint32_t layerBlockSize;
  char text1[64], text2[64], text3[64], background[64], layerName[64], tileImage[64];
  char records[32768];
  char explained[1200];
  SharedPicture last, captured;
};

SharedRun* Shared;
const RunOptions* Options;
int* volatile NullAddress;

// A store to address 0: the processor fault a bad map could cause.
__attribute__((no_sanitize("address", "undefined"))) void Fault() { *NullAddress = 1; }

HRESULT CountingCellDraw(int32_t number, int32_t x, int32_t y) {
  Shared->frames[Shared->frameCount < MaxFrames ? Shared->frameCount : MaxFrames - 1].cells += 1;
  return SpriteDrawKeyed(number, x, y);
}

// FNV-1a over bytes, continued from hash.
uint64_t Fnv(uint64_t hash, const void* data, size_t bytes) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < bytes; i++) hash = (hash ^ p[i]) * 1099511628211ull;
  return hash;
}

uint64_t FnvText(uint64_t hash, const char16_t* text) {
  size_t n = 0;
  while (text != nullptr && text[n] != 0) n++;
  hash = Fnv(hash, &n, sizeof n);
  return Fnv(hash, text, n * 2);
}

// The map records in text, written once into the shared record.
void DigestRecords() {
  SharedRun* s = Shared;
  if (s->records[0] != 0) return;
  std::string out;
  char line[512];
  uint64_t texts = 1469598103934665603ull;
  for (const char16_t* text : {Map.text1, Map.text2, Map.text3, Map.background}) texts = FnvText(texts, text);
  std::snprintf(line, sizeof line, "map %d %d layers %d tiles %d start %d %d step %d view %d %d texts %016llx\n",
                Map.mapWidth, Map.mapHeight, Map.layerCount, Map.tileTypeCount, Map.startX, Map.startY,
                Map.scrollStep, Map.viewX, Map.viewY, (unsigned long long)texts);
  out += line;
  for (int32_t i = 0; i < Map.layerCount && MapLayers != nullptr; i++) {
    const MapLayer& layer = MapLayers[i];
    uint32_t factor;
    std::memcpy(&factor, &layer.scrollFactor, 4);
    uint32_t size = BlockSize(layer.cells);
    std::snprintf(line, sizeof line,
                  "layer %d name %016llx cells %d %d tile %d %d factor %08x planes %d offset %d %d block %u %016llx\n",
                  i, (unsigned long long)FnvText(1469598103934665603ull, layer.name), layer.width, layer.height,
                  layer.tileWidth, layer.tileHeight, factor, layer.extraPlanes, layer.offsetX, layer.offsetY, size,
                  (unsigned long long)Fnv(1469598103934665603ull, layer.cells, layer.cells ? size : 0));
    out += line;
  }
  uint64_t tiles = 1469598103934665603ull;
  for (int32_t t = 1; t <= Map.tileTypeCount && TileTypes != nullptr; t++) {
    const TileType& type = TileTypes[t];
    tiles = FnvText(tiles, type.image);
    int32_t fields[3] = {type.frameCount, type.currentImage, type.spare};
    tiles = Fnv(tiles, fields, sizeof fields);
  }
  uint64_t animated = Fnv(1469598103934665603ull, &AnimatedTileCount, sizeof AnimatedTileCount);
  for (int32_t k = 1; k <= AnimatedTileCount && AnimatedTileList != nullptr; k++)
    animated = Fnv(animated, &AnimatedTileList[k], 2);
  std::snprintf(line, sizeof line, "tile types %016llx animated %d %016llx background %d %s\n",
                (unsigned long long)tiles, AnimatedTileCount, (unsigned long long)animated, BackgroundMode,
                BackgroundSprite != 0 ? "sprite" : "no sprite");
  out += line;
  std::snprintf(s->records, sizeof s->records, "%s", out.c_str());
}

void DigestAtBox(const HeadlessMessageBox&, void*) { DigestRecords(); }

void CopyText(char* destination, const char16_t* text) {
  int i = 0;
  for (; text != nullptr && text[i] != 0 && i < 63; i++) destination[i] = (char)text[i];
  destination[i] = 0;
}

void CopyPicture(SharedPicture* to, const HeadlessFrame& frame) {
  size_t bytes = (size_t)frame.width * frame.height * 3;
  if (bytes > MaxPixels) return;
  to->width = frame.width;
  to->height = frame.height;
  std::memcpy(to->bgr, frame.bgr, bytes);
}

void ChildPoll(uint64_t poll, void*) {
  int32_t frame = (int32_t)poll + 1;
  HeadlessSetClock(Options->clock(frame));
  HeadlessClearKeys();
  if (Options->faultAtFrame2 && frame == 2) Fault();
  int32_t first = 0;
  for (const KeyStep& step : Options->keys) {
    if (poll < (uint64_t)(first + step.frames)) {
      for (int32_t key : step.keys) HeadlessSetKey(key, true);
      return;
    }
    first += step.frames;
  }
  HeadlessSetKey(KeyEsc, true);
}

void ChildFlip(const HeadlessFrame& frame, void*) {
  SharedRun* s = Shared;
  if (Options->digest) DigestRecords();
  if (s->frameCount == 0) {
    s->mapWidth = Map.mapWidth;
    s->mapHeight = Map.mapHeight;
    s->layerCount = Map.layerCount;
    s->tileTypeCount = Map.tileTypeCount;
    s->scrollStep = Map.scrollStep;
    s->startX = Map.startX;
    s->startY = Map.startY;
    s->backgroundMode = BackgroundMode;
    s->backgroundSprite = BackgroundSprite;
    s->animatedCount = AnimatedTileCount;
    for (int k = 1; k <= AnimatedTileCount && k <= 8; k++) s->animated[k - 1] = AnimatedTileList[k];
    CopyText(s->text1, Map.text1);
    CopyText(s->text2, Map.text2);
    CopyText(s->text3, Map.text3);
    CopyText(s->background, Map.background);
    if (Map.layerCount > 0) {
      const MapLayer& layer = MapLayers[0];
      s->layerWidth = layer.width;
      s->layerHeight = layer.height;
      s->layerTileWidth = layer.tileWidth;
      s->layerTileHeight = layer.tileHeight;
      s->layerPlanes = layer.extraPlanes;
      s->layerFactor = layer.scrollFactor;
      s->layerBlockSize = BlockSize(layer.cells);
      CopyText(s->layerName, layer.name);
    }
    if (Map.tileTypeCount > 0) CopyText(s->tileImage, TileTypes[1].image);
  }
  if (s->frameCount < MaxFrames) {
    FrameInfo& info = s->frames[s->frameCount];
    info.viewX = Map.viewX;
    info.viewY = Map.viewY;
    info.fps = FpsShown;
    for (int i = 0; i < 2; i++) {
      info.offsetX[i] = i < Map.layerCount ? MapLayers[i].offsetX : 0;
      info.offsetY[i] = i < Map.layerCount ? MapLayers[i].offsetY : 0;
    }
    for (size_t k = 0; k < Options->watchTiles.size() && k < 8; k++) {
      info.current[k] = TileTypes[Options->watchTiles[k]].currentImage;
    }
    info.heapAllocations = KernelHeapAllocations();
    info.newAllocations = NewCount.load();
    info.stringFill = StringBufferFill;
  }
  s->frameCount += 1;
  CopyPicture(&s->last, frame);
  if (s->frameCount == Options->captureFrame) CopyPicture(&s->captured, frame);
}

void ChildAtExit() {
  SharedRun* s = Shared;
  int32_t count = HeadlessMessageBoxCount();
  for (int32_t i = 0; i < count && i < 8; i++) {
    const HeadlessMessageBox* box = HeadlessMessageBoxAt(i);
    std::snprintf(s->boxes[i], sizeof s->boxes[i], "%s: %s", box->caption, box->text);
  }
  s->boxCount = count < 8 ? count : 8;
}

void ChildExplain(int8_t number) {
  std::snprintf(Shared->explained, sizeof Shared->explained, "%s", TerminalExplanation(number));
}

[[noreturn]] void ChildRun(const TestDir& dir, const RunOptions& options) {
  alarm(120);
  if (chdir(dir.path.c_str()) != 0) _exit(99);
  Options = &options;
  HeadlessReset();
  HeadlessSetPollHook(ChildPoll, nullptr);
  HeadlessSetFlipHook(ChildFlip, nullptr);
  KernelOnExit(ChildAtExit);
  if (options.digest) HeadlessSetMessageBoxHook(DigestAtBox, nullptr);
  if (options.countCells) MapCellDraw = CountingCellDraw;
  if (options.explain) ErrorExitExplain = ChildExplain;
  HeadlessSetFailures(options.failures);
  std::vector<std::string> args = options.args;
  args.insert(args.begin(), "tessel");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  KernelSetArguments((int)args.size(), argv.data());
  RuntimeStart();
  MapRunnerMain();
}

}  // namespace

RunResult RunRunner(const TestDir& dir, const RunOptions& options) {
  void* memory = mmap(nullptr, sizeof(SharedRun), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  RunResult result;
  if (memory == MAP_FAILED) return result;
  Shared = (SharedRun*)memory;
  std::fflush(stdout);
  auto started = std::chrono::steady_clock::now();
  pid_t child = fork();
  if (child == 0) ChildRun(dir, options);
  int status = 0;
  struct rusage usage = {};
  wait4(child, &status, 0, &usage);
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  result.maxRssKb = usage.ru_maxrss;
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) result.timedOut = true;
  SharedRun* s = Shared;
  int32_t frames = s->frameCount < MaxFrames ? s->frameCount : MaxFrames;
  result.frames.assign(s->frames, s->frames + frames);
  for (int32_t i = 0; i < s->boxCount; i++) result.boxes.push_back(s->boxes[i]);
  result.explained = s->explained;
  result.mapWidth = s->mapWidth;
  result.mapHeight = s->mapHeight;
  result.layerCount = s->layerCount;
  result.tileTypeCount = s->tileTypeCount;
  result.scrollStep = s->scrollStep;
  result.startX = s->startX;
  result.startY = s->startY;
  result.backgroundMode = s->backgroundMode;
  result.backgroundSprite = s->backgroundSprite;
  result.animatedCount = s->animatedCount;
  std::memcpy(result.animated, s->animated, sizeof result.animated);
  result.layerWidth = s->layerWidth;
  result.layerHeight = s->layerHeight;
  result.layerTileWidth = s->layerTileWidth;
  result.layerTileHeight = s->layerTileHeight;
  result.layerPlanes = s->layerPlanes;
  result.layerFactor = s->layerFactor;
  result.layerBlockSize = s->layerBlockSize;
  result.text1 = s->text1;
  result.text2 = s->text2;
  result.text3 = s->text3;
  result.background = s->background;
  result.layerName = s->layerName;
  result.tileImage = s->tileImage;
  result.records = std::string(s->records, strnlen(s->records, sizeof s->records));
  for (auto [from, to] : {std::pair{&s->last, &result.last}, std::pair{&s->captured, &result.captured}}) {
    to->width = from->width;
    to->height = from->height;
    to->bgr.assign(from->bgr, from->bgr + (size_t)from->width * from->height * 3);
  }
  munmap(memory, sizeof(SharedRun));
  return result;
}
