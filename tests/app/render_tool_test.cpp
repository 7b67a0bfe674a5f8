// tessel-render as a map author runs it: key scripts, trace lines, the echoed
// message boxes, the PNG of the last frame, its exit codes.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/app/harness.h"

namespace {

struct ToolRun {
  int32_t exitCode;
  std::string out, err;
};

std::string ReadAll(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

ToolRun RunTool(const TestDir& dir, const std::string& arguments) {
  std::string command = "cd '" + dir.path + "' && '" TESSEL_BINARY_DIR "/tessel-render' " + arguments +
                        " > out.txt 2> err.txt";
  int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(dir.path + "/out.txt"),
          ReadAll(dir.path + "/err.txt")};
}

void ScrollMap(const TestDir& dir) {
  dir.Tile("t.bmp", 16, 16, Rgb{0, 200, 0});
  MapSpec spec;
  spec.width = 400;
  spec.height = 300;
  spec.step = 10;
  spec.layers.push_back({25, 19, 16, 16, 1.0f, 0, std::vector<int16_t>(25 * 19, 1)});
  spec.tiles.push_back({"t.bmp", 1});
  dir.Map("m", spec);
}

TEST(TesselRender, TracesEveryFrameOfTheKeyScript) {
  TestDir dir;
  ScrollMap(dir);
  ToolRun run = RunTool(dir, "m 320 200 100 --keys right*3,right+down*2,none*1,left*1 --frame-ms 250 --trace");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out,
            "frame 1 view 10 0 fps 0\n"
            "frame 2 view 20 0 fps 0\n"
            "frame 3 view 30 0 fps 0\n"
            "frame 4 view 40 10 fps 3\n"
            "frame 5 view 50 20 fps 3\n"
            "frame 6 view 50 20 fps 3\n"
            "frame 7 view 40 20 fps 3\n"
            "frame 8 view 40 20 fps 3\n");
}

TEST(TesselRender, WritesTheLastFrameAsRgbPng) {
  TestDir dir;
  ScrollMap(dir);
  ToolRun run = RunTool(dir, "m 320 200 0 --keys esc*1 --out shot.png");
  EXPECT_EQ(run.exitCode, 0);
  std::string png = ReadAll(dir.path + "/shot.png");
  ASSERT_GT(png.size(), 33u);
  EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  EXPECT_EQ(png.substr(12, 4), "IHDR");
  auto be32 = [&](size_t at) {
    return (uint32_t)(uint8_t)png[at] << 24 | (uint32_t)(uint8_t)png[at + 1] << 16 |
           (uint32_t)(uint8_t)png[at + 2] << 8 | (uint32_t)(uint8_t)png[at + 3];
  };
  EXPECT_EQ(be32(16), 320u);
  EXPECT_EQ(be32(20), 200u);
  EXPECT_EQ(png[24], 8);  // bit depth
  EXPECT_EQ(png[25], 2);  // RGB

  // The pixels: a tile of red 200, green 100, blue 30 reads back as such, not with red and blue swapped.
  dir.Tile("t.bmp", 16, 16, Rgb{200, 100, 30});
  ASSERT_EQ(RunTool(dir, "m 320 200 0 --keys esc*1 --out shot.png").exitCode, 0);
  png_image image = {};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&image, (dir.path + "/shot.png").c_str()));
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr));
  ASSERT_EQ(image.width, 320u);
  const uint8_t* pixel = &rgb[(150 * 320 + 300) * 3];
  EXPECT_EQ(pixel[0], 200);
  EXPECT_EQ(pixel[1], 100);
  EXPECT_EQ(pixel[2], 30);
}

TEST(TesselRender, EchoesTheErrorBoxAndKeepsExitCodeZero) {
  TestDir dir;
  ToolRun run = RunTool(dir, "missing 320 200 0 --trace --out shot.png");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "Fehlermeldung: Fehlernummer:2\n");
  // Standard error names the file and says that no PNG came of the run; none
  // is left behind, not even an empty one.
  EXPECT_NE(run.err.find("could not load " + dir.path + "/Maps/missing\n"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("no PNG was written to shot.png"), std::string::npos) << run.err;
  EXPECT_FALSE(std::ifstream(dir.path + "/shot.png").good());

  // A tile image that cannot be loaded is named the same way.
  MapSpec spec;
  spec.width = 16;
  spec.height = 16;
  spec.layers.push_back({1, 1, 16, 16, 1.0f, 0, std::vector<int16_t>(1, 1)});
  spec.tiles.push_back({"gone.bmp", 1});
  dir.Map("m", spec);
  run = RunTool(dir, "m 320 200 0");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "Fehlermeldung: Fehlernummer:5\n");
  EXPECT_NE(run.err.find("could not load " + dir.path + "/Tiles/gone.bmp\n"), std::string::npos) << run.err;
}

TEST(TesselRender, BadArgumentsExitWithTwo) {
  TestDir dir;
  ScrollMap(dir);
  for (std::string arguments : {"m 320 200", "m 320 200 0 --keys jump*2", "m 320 200 0 --keys right",
                                "m 320 200 0 --frame-ms fast", "m 320 200 0 --bogus",
                                "m 320 200 0 --out /nonexistent/dir/x.png"}) {
    SCOPED_TRACE(arguments);
    ToolRun run = RunTool(dir, arguments);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("tessel-render:"), std::string::npos);
    EXPECT_EQ(run.out, "");
  }
}

}  // namespace
