// The real tessel binary as a person would use it: started on the demo under
// Xvfb, driven with xdotool, watched through screenshots (ImageMagick import).
// Skipped where Xvfb, xdotool, xwininfo or ImageMagick is missing. Screenshots
// and what tessel printed are kept in the build directory under e2e/.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/shell.h"
#include "tests/support/xvfb.h"

namespace {

using namespace std::chrono_literals;


double Lit(const Shot& s);


bool Have(const char* program) {
  int code = 1;
  Shell(std::string("command -v ") + program + " >/dev/null 2>&1", &code);
  return code == 0;
}

std::string ShotDir() { return std::string(TESSEL_BINARY_DIR) + "/e2e"; }

class XvfbTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const char* program : {"Xvfb", "xdotool", "xwininfo", "xdpyinfo", "import", "convert"}) {
      if (!Have(program)) {
        missing_ = std::string(program) + " is not installed (scripts/setup installs it)";
        return;
      }
    }
    mkdir(ShotDir().c_str(), 0755);
  }

  void SetUp() override {
    if (!missing_.empty()) GTEST_SKIP() << "end-to-end test skipped: " << missing_;
    struct stat st;
    ASSERT_EQ(stat((std::string(TESSEL_BINARY_DIR) + "/tessel").c_str(), &st), 0) << "tessel is not built";
    StartXvfb(CoreFonts());
  }

  virtual bool CoreFonts() const { return true; }

  void TearDown() override {
    if (tessel_ > 0) {
      kill(tessel_, SIGKILL);
      waitpid(tessel_, nullptr, 0);
    }
    if (wm_ > 0) {
      kill(wm_, SIGTERM);
      waitpid(wm_, nullptr, 0);
    }
    if (xvfb_ > 0) {
      kill(xvfb_, SIGTERM);
      waitpid(xvfb_, nullptr, 0);
    }
  }

  // Without core fonts only the server's built-in cursor and "fixed" exist
  // (with them, the list ends before "-fp").
  void StartXvfb(bool coreFonts) {
    std::vector<std::string> extra;
    if (!coreFonts) extra = {"-fp", "built-ins"};
    std::string problem = XvfbStart("1024x768x24", extra, ShotDir() + "/xvfb.log", &xvfb_, &display_);
    ASSERT_EQ(problem, "");
  }

  std::string X(const std::string& command, int* code = nullptr) {
    return Shell("DISPLAY=" + display_ + " " + command + " 2>/dev/null", code);
  }

  // Starts tessel in DIR (the demo by default) with the arguments and the
  // environment variables NAME=VALUE in ENV; its output goes to e2e/NAME.log.
  void StartTessel(const std::vector<std::string>& args, const std::string& name,
                   std::string demo = std::string(TESSEL_SOURCE_DIR) + "/demo",
                   const std::vector<std::string>& env = {}) {
    std::string binary = std::string(TESSEL_BINARY_DIR) + "/tessel";
    std::string log = ShotDir() + "/" + name + ".log";
    tessel_ = fork();
    if (tessel_ == 0) {
      if (chdir(demo.c_str()) != 0) _exit(126);
      setenv("DISPLAY", display_.c_str(), 1);
      for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
      int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out, 1);
      dup2(out, 2);
      std::vector<char*> argv{const_cast<char*>(binary.c_str())};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(binary.c_str(), argv.data());
      _exit(127);
    }
  }

  // What tessel printed in its run NAME, for failure messages.
  static std::string Log(const std::string& name) {
    return "; tessel printed: \"" + Printed(name) + "\"";
  }
  static std::string Printed(const std::string& name) {
    return Shell("cat '" + ShotDir() + "/" + name + ".log' 2>/dev/null");
  }

  // Tessel ended with code 0 within LIMIT, and no X error reached its output.
  void ExpectEndsWithZero(const std::string& name, std::chrono::milliseconds limit, const std::string& when) {
    EXPECT_EQ(WaitTessel(limit), 0) << "tessel did not end with code 0 " << when << Log(name);
    EXPECT_EQ(Printed(name).find("X Error"), std::string::npos) << Log(name);
  }

  // Presses and lets go of a key as a person would: it goes to the window
  // that has the keyboard, not to a window named by the sender.
  void Press(const std::string& key) {
    X("xdotool keydown " + key);
    std::this_thread::sleep_for(120ms);
    X("xdotool keyup " + key);
  }

  // Starts the window manager the tests use and waits until it has taken the
  // display; fails the test when none runs.
  void StartWindowManager() {
    ASSERT_TRUE(Have("openbox")) << "no window manager to test with (scripts/setup installs openbox)";
    wm_ = fork();
    if (wm_ == 0) {
      setenv("DISPLAY", display_.c_str(), 1);
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execlp("openbox", "openbox", "--sm-disable", nullptr);
      _exit(127);
    }
    auto end = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < end) {
      if (X("xprop -root _NET_SUPPORTING_WM_CHECK").find("window id") != std::string::npos) return;
      int status;
      if (waitpid(wm_, &status, WNOHANG) == wm_) {
        wm_ = 0;
        break;
      }
      std::this_thread::sleep_for(100ms);
    }
    FAIL() << "the window manager is not running";
  }

  // Whether tessel still runs, and the windows on the display, for failure
  // messages.
  std::string Situation() {
    int status = 0;
    std::string state = "tessel has ended";
    if (tessel_ > 0 && waitpid(tessel_, &status, WNOHANG) == 0) state = "tessel is still running";
    else if (tessel_ > 0) {
      state += " with status " + std::to_string(status);
      tessel_ = 0;
    }
    int code = 1;
    X("xdpyinfo >/dev/null", &code);
    return "; " + state + (code == 0 ? "; Xvfb answers" : "; Xvfb does not answer") +
           "; Xvfb printed: \"" + Shell("cat '" + ShotDir() + "/xvfb.log'") + "\"; the windows: " +
           X("xwininfo -root -tree");
  }

  // Waits for tessel to end; its exit code, or -1 when it is still running.
  int WaitTessel(std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      int status;
      if (waitpid(tessel_, &status, WNOHANG) == tessel_) {
        tessel_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(50ms);
    }
    return -1;
  }

  // The id of the window named exactly TITLE anywhere in the window tree, or "".
  std::string FindWindow(const std::string& title, std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    std::string quoted = "\"" + title + "\"";
    while (std::chrono::steady_clock::now() < end) {
      std::string tree = X("xwininfo -root -tree");
      size_t at = tree.find(quoted);
      if (at != std::string::npos) {
        size_t line = tree.rfind('\n', at) + 1;
        size_t id = tree.find("0x", line);
        return tree.substr(id, tree.find(' ', id) - id);
      }
      std::this_thread::sleep_for(100ms);
    }
    return "";
  }

  // Takes a screenshot of the root window into e2e/NAME.png and reads it back.
  Shot Screenshot(const std::string& name) {
    std::string path = ShotDir() + "/" + name + ".png";
    X("import -window root '" + path + "'");
    return ReadPicture(path);
  }

  // Screenshots until the map is on the screen (loading the demo's tiles takes
  // a while on a loaded machine), at most 30 s; the last one.
  Shot WaitForMap(const std::string& name) {
    auto end = std::chrono::steady_clock::now() + 30s;
    Shot shot = Screenshot(name);
    while (Lit(shot) <= 0.9 && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(300ms);
      shot = Screenshot(name);
    }
    // One more second, so the frame counter has published its first count.
    std::this_thread::sleep_for(1200ms);
    return Screenshot(name);
  }

  // Presses a key long enough for a once-per-frame poll to see it.
  void Hold(const std::string& key, std::chrono::milliseconds time) {
    X("xdotool keydown " + key);
    std::this_thread::sleep_for(time);
    X("xdotool keyup " + key);
  }

  // Fails the test when the Tessel window did not appear, saying whether an
  // error box came instead (kept as e2e/NAME-box.png, then closed).
  std::string ExpectTesselWindow(const std::string& name) {
    std::string window = FindWindow("Tessel", 10s);
    if (window.empty()) {
      std::string box = FindWindow("Fehlermeldung", 100ms);
      if (!box.empty()) {
        Screenshot(name + "-box");
        X("xdotool key --window " + box + " Return");
      }
      ADD_FAILURE() << "no window titled Tessel appeared"
                    << (box.empty() ? "" : "; tessel showed its error box instead (see e2e/" + name + "-box.png)");
    }
    return window;
  }

  static std::string missing_;
  std::string display_;
  pid_t xvfb_ = 0, tessel_ = 0, wm_ = 0;
};

std::string XvfbTest::missing_;

// Share of pixels that are not black.
double Lit(const Shot& s) {
  size_t lit = 0;
  for (int y = 0; y < s.height; y++)
    for (int x = 0; x < s.width; x++) lit += s.At(x, y) != 0;
  return static_cast<double>(lit) / (static_cast<double>(s.width) * s.height);
}

// Pure white pixels in a box: the overlay text is the only pure white on the demo.
std::vector<int> WhiteMask(const Shot& s, int x0, int y0, int x1, int y1) {
  std::vector<int> mask;
  for (int y = y0; y < y1; y++)
    for (int x = x0; x < x1; x++) mask.push_back(s.At(x, y) == 0xFFFFFF);
  return mask;
}

int Count(const std::vector<int>& mask) {
  int n = 0;
  for (int v : mask) n += v;
  return n;
}

double Changed(const Shot& a, const Shot& b) {
  size_t changed = 0;
  for (int y = 0; y < a.height; y++)
    for (int x = 0; x < a.width; x++) changed += a.At(x, y) != b.At(x, y);
  return static_cast<double>(changed) / (static_cast<double>(a.width) * a.height);
}

TEST_F(XvfbTest, DemoShowsTheMapScrollsRightAndEndsOnEscape) {
  StartTessel({"demo.map", "1024", "768", "120"}, "demo");
  std::string window = ExpectTesselWindow("demo");
  if (window.empty()) return;
  Shot start = WaitForMap("demo-start");
  ASSERT_EQ(start.width, 1024);
  EXPECT_GT(Lit(start), 0.9) << "the frame is mostly black";
  // The three overlay lines are drawn in white at the top left.
  std::vector<int> escLine = WhiteMask(start, 10, 8, 160, 28);
  std::vector<int> posLine = WhiteMask(start, 10, 28, 160, 48);
  EXPECT_GT(Count(escLine), 15) << "no \"ESC Quit\" text";
  EXPECT_GT(Count(posLine), 15) << "no position text";
  EXPECT_GT(Count(WhiteMask(start, 10, 48, 160, 68)), 15) << "no FPS text";

  X("xdotool windowfocus --sync " + window);
  Hold("Right", 1200ms);
  std::this_thread::sleep_for(300ms);
  Shot moved = Screenshot("demo-right");
  ASSERT_EQ(moved.width, 1024);
  EXPECT_GT(Changed(start, moved), 0.3) << "holding Right did not move the view";
  EXPECT_EQ(WhiteMask(moved, 10, 8, 160, 28), escLine) << "\"ESC Quit\" should not change";
  EXPECT_NE(WhiteMask(moved, 10, 28, 160, 48), posLine) << "the position line did not change";

  Hold("Escape", 300ms);
  ExpectEndsWithZero("demo", 10s, "on Escape");
}

TEST_F(XvfbTest, MissingMapShowsErrorTwoAndReturnClosesIt) {
  StartTessel({"no-such.map", "1024", "768", "120"}, "missing-map");
  std::string box = FindWindow("Fehlermeldung", 10s);
  ASSERT_NE(box, "") << "no box captioned Fehlermeldung appeared" << Log("missing-map") << Situation();
  std::this_thread::sleep_for(500ms);
  Shot shot = Screenshot("missing-map-box");
  EXPECT_GT(Lit(shot), 0.0);
  EXPECT_EQ(WaitTessel(200ms), -1) << "tessel must wait for the box to be closed";
  // Without a window manager too the box has the keyboard: Return closes it.
  Press("Return");
  ExpectEndsWithZero("missing-map", 10s, "after Return in the box");
  EXPECT_EQ(Printed("missing-map"),
            "tessel: error 2: cannot open the map Maps/no-such.map: no such file (maps are looked up in Maps/ of "
            "the current folder)\n");

  // A missing tile image gives a box of the same size with another number: the
  // text shown depends on the error number.
  std::string tiles = "/tmp/tessel-e2e-" + std::to_string(getpid());
  Shell("rm -rf " + tiles + " && mkdir -p " + tiles + "/Maps " + tiles + "/Tiles && cp '" + TESSEL_SOURCE_DIR +
        "/demo/Maps/demo.map' " + tiles + "/Maps/");
  StartTessel({"demo.map", "1024", "768", "120"}, "missing-tile", tiles);
  std::string box2 = FindWindow("Fehlermeldung", 10s);
  ASSERT_NE(box2, "") << "no box for the missing tile" << Log("missing-tile") << Situation();
  std::this_thread::sleep_for(500ms);
  Shot shot5 = Screenshot("missing-tile-box");
  X("xdotool key --window " + box2 + " Return");
  ExpectEndsWithZero("missing-tile", 10s, "after the box");
  EXPECT_EQ(Printed("missing-tile").rfind("tessel: error 5: cannot load the tile image Tiles/", 0), 0u)
      << Log("missing-tile");
  EXPECT_NE(Printed("missing-tile").find(": no such file (tile images are looked up in Tiles/"), std::string::npos)
      << Log("missing-tile");
  Shell("rm -rf " + tiles);
  EXPECT_GT(Changed(shot, shot5), 0.0) << "the boxes for errors 2 and 5 look the same";
}

// Ctrl+C and SIGTERM end the run as Escape does: the frame loop ends, the
// window goes and the screen is given back, exit code 0, at once. The signal
// is sent only once the map is on the screen, so the frame loop is running.
TEST_F(XvfbTest, SigintAndSigtermEndTheRunAsEscapeDoes) {
  for (int signal : {SIGINT, SIGTERM}) {
    const std::string name = signal == SIGINT ? "sigint" : "sigterm";
    StartTessel({"demo.map", "1024", "768", "120"}, name);
    std::string window = ExpectTesselWindow(name);
    if (window.empty()) return;
    Shot shown = WaitForMap(name + "-start");
    ASSERT_GT(Lit(shown), 0.9) << "the map is not on the screen" << Situation();
    const pid_t pid = tessel_;
    kill(pid, signal);
    ExpectEndsWithZero(name, 1000ms, "within a second of " + name);
    EXPECT_EQ(FindWindow("Tessel", 100ms), "") << "the window is still there";
    Shot after = Screenshot(name + "-after");
    EXPECT_LT(Lit(after), 0.01) << "the screen was not given back";
    EXPECT_EQ(Printed(name), "") << "nothing belongs on standard error";
  }
}

// An X error (here: after every window destroyed, a request for it) does not
// end tessel; Xlib's own handler would end it with code 1.
TEST_F(XvfbTest, XErrorsDoNotEndTessel) {
  const std::string library = ShotDir() + "/x-error-after-destroy.so";
  int code = -1;
  std::string built = Shell("c++ -shared -fPIC -o '" + library + "' '" + TESSEL_SOURCE_DIR +
                                "/tests/e2e/shim/x_error_after_destroy.cpp' -ldl 2>&1",
                            &code);
  ASSERT_EQ(code, 0) << built;
  const char* asan = std::getenv("ASAN_OPTIONS");
  // The sanitizer runtime would refuse a library loaded before it.
  std::string asanOptions = std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0";
  StartTessel({"no-such.map", "1024", "768", "120"}, "x-error", std::string(TESSEL_SOURCE_DIR) + "/demo",
              {"LD_PRELOAD=" + library, asanOptions});
  std::string box = FindWindow("Fehlermeldung", 20s);
  ASSERT_NE(box, "") << "no box captioned Fehlermeldung appeared" << Log("x-error") << Situation();
  std::this_thread::sleep_for(500ms);
  Press("Return");
  ExpectEndsWithZero("x-error", 10s, "after X errors");
}

// A window system without the X core fonts cannot show SDL's own box; Tessel
// draws its box itself.
class XvfbWithoutCoreFontsTest : public XvfbTest {
  bool CoreFonts() const override { return false; }
};

TEST_F(XvfbWithoutCoreFontsTest, ErrorBoxIsStillShown) {
  StartTessel({"no-such.map", "1024", "768", "120"}, "fontless");
  std::string box = FindWindow("Fehlermeldung", 10s);
  ASSERT_NE(box, "") << "no box captioned Fehlermeldung appeared" << Log("fontless") << Situation();
  std::this_thread::sleep_for(500ms);
  Shot shot = Screenshot("fontless-box");
  ASSERT_EQ(shot.width, 1024);
  // Dark text on a light box in the middle of the screen.
  int light = 0, dark = 0;
  for (int y = 300; y < 468; y++)
    for (int x = 362; x < 662; x++) {
      uint32_t p = shot.At(x, y);
      light += p == 0xF0F0F0;
      dark += p == 0x000000 && shot.At(x - 1, y) != 0x000000;
    }
  EXPECT_GT(light, 5000) << "no box drawn in the middle";
  EXPECT_GT(dark, 10) << "no text in the box";

  EXPECT_EQ(WaitTessel(200ms), -1) << "tessel must wait for the box to be closed";
  Press("Return");
  ExpectEndsWithZero("fontless", 10s, "after Return in the box");
}

// Under a window manager the window covers the screen without a frame, and
// an error box shows above it and takes Return.
TEST_F(XvfbTest, DemoUnderAWindowManager) {
  StartWindowManager();
  if (HasFatalFailure()) return;
  StartTessel({"demo.map", "1024", "768", "120"}, "demo-wm");
  std::string window = ExpectTesselWindow("demo-wm");
  if (window.empty()) return;
  Shot start = WaitForMap("demo-wm-start");
  std::string geometry = X("xwininfo -id " + window);
  EXPECT_NE(geometry.find("Absolute upper-left X:  0\n"), std::string::npos) << geometry;
  EXPECT_NE(geometry.find("Absolute upper-left Y:  0\n"), std::string::npos) << geometry;
  EXPECT_NE(geometry.find("Width: 1024\n"), std::string::npos) << geometry;
  EXPECT_NE(geometry.find("Height: 768\n"), std::string::npos) << geometry;
  ASSERT_EQ(start.width, 1024);
  EXPECT_GT(Lit(start), 0.9);
  // No title bar above the frame: the overlay is at the screen's corner, and
  // the frame's last rows are on the screen's last rows.
  EXPECT_GT(Count(WhiteMask(start, 10, 8, 160, 28)), 15) << "no \"ESC Quit\" at the top left";
  size_t bottomLit = 0;
  for (int x = 0; x < 1024; x++) bottomLit += start.At(x, 767) != 0;
  EXPECT_GT(bottomLit, 900u) << "the bottom row is not the frame's";

  X("xdotool windowactivate --sync " + window);
  Hold("Right", 1200ms);
  std::this_thread::sleep_for(300ms);
  Shot moved = Screenshot("demo-wm-right");
  ASSERT_EQ(moved.width, 1024);
  EXPECT_GT(Changed(start, moved), 0.3) << "holding Right did not move the view";
  Hold("Escape", 300ms);
  ExpectEndsWithZero("demo-wm", 10s, "on Escape");

  // The error box of a missing map comes up above the full-screen window.
  StartTessel({"no-such.map", "1024", "768", "120"}, "missing-map-wm");
  std::string box = FindWindow("Fehlermeldung", 10s);
  ASSERT_NE(box, "") << "no box captioned Fehlermeldung appeared" << Log("missing-map-wm") << Situation();
  std::this_thread::sleep_for(1000ms);
  std::string state = X("xwininfo -id " + box);
  EXPECT_NE(state.find("IsViewable"), std::string::npos) << state;
  Shot shot = Screenshot("missing-map-wm-box");
  ASSERT_EQ(shot.width, 1024);
  EXPECT_GT(Lit(shot), 0.01) << "the box is not on the screen";
  EXPECT_EQ(WaitTessel(200ms), -1) << "tessel must wait for the box to be closed";
  Press("Return");
  ExpectEndsWithZero("missing-map-wm", 10s, "after Return in the box");
}

// No display that a person could see: error 1, its text on standard error,
// at once (never a run on a driver that shows nothing).
TEST(UnusableDisplayTest, EndsWithErrorOne) {
  struct stat st;
  ASSERT_EQ(stat((std::string(TESSEL_BINARY_DIR) + "/tessel").c_str(), &st), 0) << "tessel is not built";
  int number = 99;
  while (stat(("/tmp/.X11-unix/X" + std::to_string(number)).c_str(), &st) == 0 ||
         stat(("/tmp/.X" + std::to_string(number) + "-lock").c_str(), &st) == 0)
    number++;
  for (const std::string& display : {"DISPLAY=:" + std::to_string(number), std::string("-u DISPLAY")}) {
    std::string command = "cd '" + std::string(TESSEL_SOURCE_DIR) + "/demo' && timeout 20 env -u WAYLAND_DISPLAY " +
                          display + " '" + TESSEL_BINARY_DIR + "/tessel' demo.map 1024 768 120 2>&1";
    auto begin = std::chrono::steady_clock::now();
    int code = -1;
    std::string out = Shell(command, &code);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 10s) << display;
    EXPECT_EQ(code, 0) << display << "; tessel printed: \"" << out << "\"";
    EXPECT_NE(out.find("Fehlermeldung: Fehlernummer:1\n"), std::string::npos) << display << "; tessel printed: \"" << out << "\"";
  }
}

}  // namespace
