// The README as a newcomer follows it: every command of its sh blocks, in the
// order written, run on a copy of the repository's files (what a fresh clone
// holds) without a display. Only `scripts/test` is left out, which is what
// runs this test. Runs in the plain pass only: the commands build their own
// plain build/ in the copy. The copy and its output stay in readme-copy/ of
// the build directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/shell.h"

namespace {

const std::string Source = TESSEL_SOURCE_DIR;
const std::string Copy = std::string(TESSEL_BINARY_DIR) + "/readme-copy";



// The lines of every ```sh block, in order.
std::vector<std::string> ShellBlocks(const std::string& markdown) {
  std::vector<std::string> blocks;
  std::istringstream in(markdown);
  std::string line, block;
  bool inside = false;
  while (std::getline(in, line)) {
    if (!inside && line == "```sh") {
      inside = true;
      block.clear();
    } else if (inside && line == "```") {
      inside = false;
      blocks.push_back(block);
    } else if (inside) {
      block += line + "\n";
    }
  }
  return blocks;
}

off_t FileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

TEST(Readme, CommandsWorkAsWrittenOnAFreshCopy) {
#ifdef TESSEL_SANITIZE
  GTEST_SKIP() << "the README's commands make a plain build; they run in the plain pass";
#endif
  int code = 0;
  Shell("command -v git >/dev/null", &code);
  if (code != 0) GTEST_SKIP() << "git is not installed";
  std::vector<std::string> blocks = ShellBlocks(ReadAll(Source + "/README.md"));
  ASSERT_GE(blocks.size(), 6u) << "README.md has lost its sh blocks";

  std::string script = "set -euo pipefail\n";
  bool runDemo = false;
  for (const std::string& block : blocks) {
    std::istringstream lines(block);
    std::string line;
    while (std::getline(lines, line)) {
      if (line == "scripts/test") continue;
      runDemo = runDemo || line.rfind("scripts/run-demo", 0) == 0;
      script += line + "\n";
    }
  }
  ASSERT_TRUE(runDemo) << "README.md no longer says to run scripts/run-demo";

  // The files a clone holds: tracked ones and new ones not ignored.
  Shell("rm -rf '" + Copy + "' && mkdir -p '" + Copy + "' && cd '" + Source +
            "' && git ls-files -z --cached --others --exclude-standard | tar --null --ignore-failed-read -T - -cf - "
            "| tar -xf - -C '" + Copy + "'",
        &code);
  ASSERT_EQ(code, 0) << "the repository could not be copied";
  std::ofstream(Copy + "/readme-commands.sh") << script;
  std::string out = Shell("cd '" + Copy + "' && env -u DISPLAY -u WAYLAND_DISPLAY bash readme-commands.sh 2>&1", &code);
  std::ofstream(Copy + "/readme-commands.log") << out;
  ASSERT_EQ(code, 0) << "a README command failed; the commands and what they printed are in " << Copy
                     << "; the last lines:\n"
                     << out.substr(out.size() > 3000 ? out.size() - 3000 : 0);

  // The run command builds Tessel and every tool the README names.
  for (const char* program : {"tessel", "tessel-render", "tessel-map", "tessel-demo", "tessel-x86"})
    EXPECT_GT(FileSize(Copy + "/build/" + program), 0) << program << " was not built";
  // Without a display the demo is rendered to the PNG the run command names.
  EXPECT_NE(out.find("the last frame is in " + Copy + "/build/demo.png"), std::string::npos) << out;
  EXPECT_GT(FileSize(Copy + "/build/demo.png"), 0);
  // The map example builds in its own folder and renders; demo/ is left as it was.
  EXPECT_GT(FileSize(Copy + "/mymap/Maps/mymap"), 0);
  EXPECT_GT(FileSize(Copy + "/build/mymap.png"), 0);
  EXPECT_NE(out.find("tile \"water_1.png\" frames 3"), std::string::npos) << "dump did not print the map";
  EXPECT_NE(out.find("tessel-map 0.1.0"), std::string::npos) << out;
  // Installed into a prefix, the renderer draws the installed demo; the package is made.
  EXPECT_GT(FileSize(Copy + "/build/installed.png"), 0);
  EXPECT_NE(out.find("package-deb: build/tessel_0.1.0_amd64.deb"), std::string::npos) << out;
  std::string demoDiff = Shell("diff -r '" + Source + "/demo' '" + Copy + "/demo' 2>&1", &code);
  EXPECT_EQ(code, 0) << "the README's commands changed demo/:\n" << demoDiff;
}

}  // namespace
