// Real files from the shared test data: every file of the BMP Suite, the
// PngSuite and libpng's test images (damaged ones included) loads or is
// refused without harm; good BMPs of the supported subset match their
// reference renderings; interlaced PNGs match their plain twins.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "sprite_fixture.h"

namespace {

const std::filesystem::path TestData = TESSEL_TESTDATA_DIR;

// The whole file in an exact-size heap block (a read past it is a sanitizer finding).
struct FileBytes {
  uint8_t* data = nullptr;
  uint32_t size = 0;
  explicit FileBytes(const std::filesystem::path& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return;
    std::fseek(f, 0, SEEK_END);
    size = static_cast<uint32_t>(std::ftell(f));
    std::fseek(f, 0, SEEK_SET);
    data = static_cast<uint8_t*>(std::malloc(size ? size : 1));
    if (std::fread(data, 1, size, f) != size) size = 0;
    std::fclose(f);
  }
  ~FileBytes() { std::free(data); }
};

// A reference PNG as 0x00RRGGBB pixels through libpng's simplified reader.
std::vector<uint32_t> Reference(const std::filesystem::path& path, uint32_t* width, uint32_t* height) {
  std::vector<uint32_t> out;
  png_image image = {};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return out;
  image.format = PNG_FORMAT_BGR;
  Bytes pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return out;
  *width = image.width;
  *height = image.height;
  for (size_t i = 0; i + 2 < pixels.size(); i += 3)
    out.push_back(static_cast<uint32_t>(pixels[i + 2]) << 16 | pixels[i + 1] << 8 | pixels[i]);
  return out;
}

int32_t ChannelDistance(uint32_t a, uint32_t b) {
  int32_t worst = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    int32_t d = std::abs(static_cast<int32_t>(a >> shift & 0xFF) - static_cast<int32_t>(b >> shift & 0xFF));
    if (d > worst) worst = d;
  }
  return worst;
}

}  // namespace

TEST_F(SpriteTest, EveryTestFileLoadsOrIsRefusedWithoutHarm) {
  Open();
  int32_t files = 0, loaded = 0;
  for (const char* folder : {"bmpsuite-2.8", "pngsuite", "libpng-testpngs"}) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(TestData / folder)) {
      std::string ext = entry.path().extension().string();
      if (!entry.is_regular_file() || (ext != ".bmp" && ext != ".png")) continue;
      SCOPED_TRACE(entry.path().string());
      FileBytes file(entry.path());
      files++;
      auto start = std::chrono::steady_clock::now();
      intptr_t number = SpriteFromMemory(-1, file.data, file.size, 0);
      // A hostile header must not cost a long allocation either.
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
      if (!number) continue;
      loaded++;
      SpriteDrawKeyed(static_cast<int32_t>(number), -3, -3);
      EXPECT_NE(SpriteFree(static_cast<int32_t>(number)), 0);
    }
  }
  EXPECT_GT(files, 200);
  EXPECT_GT(loaded, 150);
  EXPECT_EQ(SpriteCount(), 0);

  // Damaged BMPs the reader must refuse.
  for (const char* name : {"badbitcount", "badwidth", "reallybig", "shortfile", "rletopdown", "badrle4",
                           "badrle4bis", "badrle4ter"}) {
    FileBytes file(TestData / "bmpsuite-2.8" / "b" / (std::string(name) + ".bmp"));
    EXPECT_EQ(SpriteFromMemory(1, file.data, file.size, 0), 0) << name;
  }
  // Outside the supported subset: OS/2 headers, 4-bit run-length.
  for (const char* name : {"pal8os2", "pal4rle"}) {
    FileBytes file(TestData / "bmpsuite-2.8" / "g" / (std::string(name) + ".bmp"));
    EXPECT_EQ(SpriteFromMemory(1, file.data, file.size, 0), 0) << name;
  }
  // Damaged 8-bit run-length streams and palette indices are clipped, not refused.
  for (const char* name : {"badrle", "badrlebis", "badrleter", "pal8badindex"}) {
    FileBytes file(TestData / "bmpsuite-2.8" / "b" / (std::string(name) + ".bmp"));
    EXPECT_NE(SpriteFromMemory(1, file.data, file.size, 0), 0) << name;
  }
}

TEST_F(SpriteTest, GoodBmpsMatchTheirReferenceRenderings) {
  Open();
  struct Pair {
    const char* bmp;  // in g/, or in b/ with the folder named
    const char* reference;
    int32_t tolerance;  // 5-bit channels without masks are widened by 8 here, by 255/31 in the references
  } pairs[] = {
      {"pal1", "pal1", 0},         {"pal4", "pal4", 0},          {"pal4gs", "pal4gs", 0},
      {"pal8", "pal8", 0},         {"pal8-0", "pal8", 0},        {"pal8gs", "pal8gs", 0},
      {"pal8rle", "pal8", 0},      {"pal8topdown", "pal8", 0},   {"pal8v4", "pal8", 0},
      {"pal8v5", "pal8", 0},       {"pal8w124", "pal8w124", 0},  {"pal8w125", "pal8w125", 0},
      {"pal8w126", "pal8w126", 0}, {"rgb16", "rgb16", 7},        {"rgb16bfdef", "rgb16", 0},
      {"rgb24", "rgb24", 0},       {"rgb24pal", "rgb24", 0},     {"rgb32", "rgb24", 0},
      {"rgb32bfdef", "rgb24", 0},
      // Bit-field masks: 5-6-5, 5-6-5 with an unused palette, 8-8-8 in another
      // order, and 8-8-0 in 16 bits (no blue at all).
      {"rgb16-565", "rgb16-565", 0}, {"rgb16-565pal", "rgb16-565", 0}, {"rgb32bf", "rgb24", 0},
      {"../b/rgb16-880", "rgb16-880", 0},
  };
  const std::filesystem::path suite = TestData / "bmpsuite-2.8";
  for (const Pair& p : pairs) {
    SCOPED_TRACE(p.bmp);
    uint32_t width = 0, height = 0;
    std::vector<uint32_t> expect = Reference(suite / "html" / (std::string(p.reference) + ".png"), &width, &height);
    ASSERT_FALSE(expect.empty());
    FileBytes file(suite / "g" / (std::string(p.bmp) + ".bmp"));
    ASSERT_NE(SpriteFromMemory(1, file.data, file.size, 0), 0);
    ASSERT_EQ(Get(1)->width, static_cast<int32_t>(width));
    ASSERT_EQ(Get(1)->height, static_cast<int32_t>(height));
    std::vector<uint32_t> got = Pixels(1);
    int32_t worst = 0;
    for (size_t i = 0; i < got.size(); i++) worst = std::max(worst, ChannelDistance(got[i], expect[i]));
    EXPECT_LE(worst, p.tolerance);
  }
}

TEST_F(SpriteTest, RealInterlacedPngsMatchTheirPlainTwins) {
  Open();
  int32_t twins = 0;
  const std::filesystem::path suite = TestData / "pngsuite";
  for (const std::filesystem::path& dir : {suite, suite / "interlaced"}) {
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      std::string name = entry.path().filename().string();
      if (name[0] != 'i' || entry.path().extension() != ".png") continue;
      std::filesystem::path plain = suite / name.substr(1);
      if (!std::filesystem::exists(plain)) continue;
      SCOPED_TRACE(name);
      FileBytes a(plain), b(entry.path());
      ASSERT_NE(SpriteFromMemory(1, a.data, a.size, 0), 0);
      ASSERT_NE(SpriteFromMemory(2, b.data, b.size, 0), 0);
      EXPECT_EQ(Pixels(1), Pixels(2));
      twins++;
    }
  }
  EXPECT_GE(twins, 10);
  // Grey below 8 bits with a transparency chunk: the same grey pixels as without it.
  for (const char* depth : {"1", "2", "4"}) {
    SCOPED_TRACE(depth);
    std::filesystem::path dir = TestData / "libpng-testpngs";
    FileBytes plain(dir / ("gray-" + std::string(depth) + ".png"));
    FileBytes keyed(dir / ("gray-" + std::string(depth) + "-tRNS.png"));
    ASSERT_NE(SpriteFromMemory(1, plain.data, plain.size, 0), 0);
    ASSERT_NE(SpriteFromMemory(2, keyed.data, keyed.size, 0), 0);
    EXPECT_EQ(Get(2)->bits, 24);
    std::vector<uint32_t> pixels = Pixels(2);
    EXPECT_EQ(Pixels(1), pixels);
    for (uint32_t c : pixels) ASSERT_TRUE((c & 0xFF) == (c >> 8 & 0xFF) && (c & 0xFF) == (c >> 16 & 0xFF));
  }
}
