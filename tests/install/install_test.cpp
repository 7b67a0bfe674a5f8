// Tessel as it is installed: `cmake --install` with DESTDIR into a scratch
// folder, and the Debian package unpacked with dpkg -x. In both, the
// installed tessel-render runs on the installed demo from outside the build
// and source trees and must draw exactly the frame the build tree's one
// draws on the source demo; every manual page renders without a warning.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/shell.h"

namespace {

const std::string Binary = TESSEL_BINARY_DIR;
const std::string Source = TESSEL_SOURCE_DIR;
// Runs a shell command with its standard error in its output.
std::string ShellBoth(const std::string& command, int* code) { return Shell(command + " 2>&1", code); }

const char* const Programs[] = {"tessel", "tessel-map", "tessel-render", "tessel-demo", "tessel-x86"};



bool Have(const char* program) {
  int code = 1;
  ShellBoth(std::string("command -v ") + program + " >/dev/null", &code);
  return code == 0;
}

// A scratch folder, removed with the object.
struct Scratch {
  std::string path;
  Scratch() {
    char name[] = "/tmp/tessel-install-XXXXXX";
    path = mkdtemp(name) ? name : "";
  }
  ~Scratch() {
    int code;
    if (!path.empty()) ShellBoth("rm -rf '" + path + "'", &code);
  }
};

// The demo scrolled right and down, rendered by PROGRAM in DEMO (its
// working folder, as tessel's); the PNG's bytes, "" when none was written.
std::string Render(const std::string& program, const std::string& demo, const std::string& png) {
  int code = -1;
  std::string out = ShellBoth("cd '" + demo + "' && env -u DISPLAY '" + program +
                              "' demo.map 320 240 120 --keys 'right*40,down*20' --out '" + png + "'",
                          &code);
  EXPECT_EQ(code, 0) << program << ": " << out;
  return ReadAll(png);
}

// The installed tree under ROOT/PREFIX: programs, pages, demo, documents; the
// installed renderer's frame against the build tree's.
void ExpectInstalled(const std::string& root, const std::string& prefix, const std::string& scratch) {
  const std::string at = root + prefix;
  for (const char* program : Programs) {
    EXPECT_EQ(access((at + "/bin/" + program).c_str(), X_OK), 0) << program;
    const std::string page = at + "/share/man/man1/" + program + ".1.gz";
    int code = -1;
    std::string warnings = ShellBoth("MANWIDTH=80 man --warnings -l '" + page + "' >/dev/null", &code);
    EXPECT_EQ(code, 0) << page;
    EXPECT_EQ(warnings, "") << page;
    std::string text = ShellBoth("MANWIDTH=80 man -l '" + page + "'", &code);
    for (const char* section : {"SYNOPSIS", "FILES", "EXIT STATUS", "EXAMPLE"})
      EXPECT_NE(text.find(section), std::string::npos) << page << " has no " << section;
  }
  for (const char* file : {"/share/tessel/demo/Maps/demo.map", "/share/tessel/demo/Tiles/sky.png",
                           "/share/doc/tessel/README.md", "/share/doc/tessel/LICENSE"})
    EXPECT_EQ(access((at + file).c_str(), R_OK), 0) << file;
  EXPECT_NE(ReadAll(at + "/share/doc/tessel/LICENSE").find("MIT License"), std::string::npos);

  const std::string expected = Render(Binary + "/tessel-render", Source + "/demo", scratch + "/expected.png");
  const std::string installed =
      Render(at + "/bin/tessel-render", at + "/share/tessel/demo", scratch + "/installed.png");
  ASSERT_GT(expected.size(), 1000u);
  EXPECT_EQ(expected.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  EXPECT_TRUE(installed == expected) << "the installed tessel-render drew another frame";
}

TEST(Install, DestdirInstallRunsFromAnUnrelatedFolder) {
  if (!Have("man")) GTEST_SKIP() << "man is not installed (scripts/setup installs man-db)";
  Scratch scratch;
  int code = -1;
  std::string out = ShellBoth("DESTDIR='" + scratch.path + "/root' cmake --install '" + Binary + "' --prefix /opt/tessel",
                          &code);
  ASSERT_EQ(code, 0) << out;
  ExpectInstalled(scratch.path + "/root", "/opt/tessel", scratch.path);
}

TEST(Install, DebianPackageUnpacksRunsAndPassesLintian) {
  for (const char* program : {"cpack", "dpkg-deb", "dpkg-shlibdeps", "man"})
    if (!Have(program)) GTEST_SKIP() << program << " is not installed (scripts/setup installs it)";
  Scratch scratch;
  int code = -1;
  std::string out =
      ShellBoth("cpack -G DEB --config '" + Binary + "/CPackConfig.cmake' -B '" + scratch.path + "/pkg'", &code);
  ASSERT_EQ(code, 0) << out;
  const std::string deb = scratch.path + "/pkg/tessel_0.1.0_amd64.deb";
  std::string fields = ShellBoth("dpkg-deb -f '" + deb + "' Package Version Architecture Depends Description", &code);
  ASSERT_EQ(code, 0) << fields;
  EXPECT_NE(fields.find("Package: tessel\n"), std::string::npos) << fields;
  EXPECT_NE(fields.find("Architecture: amd64\n"), std::string::npos) << fields;
  // Computed from the binaries, not written by hand.
  EXPECT_NE(fields.find("libsdl2-2.0-0"), std::string::npos) << fields;
  EXPECT_NE(fields.find("libpng16-16"), std::string::npos) << fields;
  EXPECT_NE(fields.find("Description: full-screen 2D tile-map runner\n Tessel"), std::string::npos) << fields;
  out = ShellBoth("dpkg -x '" + deb + "' '" + scratch.path + "/root'", &code);
  ASSERT_EQ(code, 0) << out;
  EXPECT_EQ(access((scratch.path + "/root/usr/share/doc/tessel/copyright").c_str(), R_OK), 0);
  ExpectInstalled(scratch.path + "/root", "/usr", scratch.path);
#ifndef TESSEL_SANITIZE
  if (Have("lintian")) {
    std::string said = ShellBoth("lintian --fail-on error '" + deb + "'", &code);
    EXPECT_EQ(code, 0) << said;
    EXPECT_EQ(("\n" + said).find("\nE: "), std::string::npos) << said;
  }
#endif
}

}  // namespace
