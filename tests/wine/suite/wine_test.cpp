// tessel.exe, the Windows build, under Wine on Xvfb with the real DirectDraw,
// DirectInput, GDI and message boxes: its frames against tessel-render's,
// keys sent with xdotool, the error box, processor faults through the test
// build tessel-fault.exe, and the foreground lost to another window and won
// back. One Xvfb at the mode's size (Wine cannot change the mode of an Xvfb)
// and one Wine prefix serve the whole suite. Skipped where Wine or the
// Windows build is missing, unless TESSEL_WINE_REQUIRED is set (scripts/test
// sets it). Screenshots and what the programs printed are kept in the build
// directory under wine/.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

constexpr int kWidth = 1024, kHeight = 768;
// The overlay's three lines, the only place the two renderers' fonts differ.
constexpr int kOverlayRight = 220, kOverlayBottom = 70;
// The longest animation interval: no tile steps for 32 s after the map is loaded.
const char* const kInterval = "32767";



bool Have(const char* program) {
  int code = 1;
  Shell(std::string("command -v ") + program + " >/dev/null 2>&1", &code);
  return code == 0;
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::string Dir() { return std::string(TESSEL_BINARY_DIR) + "/wine"; }
std::string Demo() { return std::string(TESSEL_SOURCE_DIR) + "/demo"; }
std::string WindowsBuild() { return std::string(TESSEL_SOURCE_DIR) + "/build-windows/x86_64/tessel"; }


// Pixels that differ outside the overlay (-1 when the sizes differ).
long DiffersOutsideOverlay(const Shot& a, const Shot& b) {
  if (a.width != b.width || a.height != b.height || a.width == 0) return -1;
  long n = 0;
  for (int y = 0; y < a.height; y++)
    for (int x = 0; x < a.width; x++)
      if ((x >= kOverlayRight || y >= kOverlayBottom) && a.At(x, y) != b.At(x, y)) n++;
  return n;
}

// Pure white pixels in a box: the overlay text is the only pure white on the demo.
int White(const Shot& s, int x0, int y0, int x1, int y1) {
  int n = 0;
  for (int y = y0; y < y1; y++)
    for (int x = x0; x < x1; x++) n += s.At(x, y) == 0xFFFFFF;
  return n;
}

class WineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    bool required = std::getenv("TESSEL_WINE_REQUIRED") != nullptr;
    for (const char* program : {"wine", "wineboot", "wineserver", "Xvfb", "xdotool", "xwininfo", "xdpyinfo", "import",
                                "convert"})
      if (!Have(program)) missing_ = std::string(program) + " is not installed (scripts/setup-windows installs it)";
    for (const char* program : {"tessel.exe", "tessel-fault.exe", "exit-code.exe"})
      if (missing_.empty() && !Exists(WindowsBuild() + "/" + program))
        missing_ = std::string(program) + " is not built (scripts/build-windows builds it)";
    if (!missing_.empty()) {
      if (required) setup_ = "the Wine tests are required, but " + missing_;
      return;
    }
    mkdir(Dir().c_str(), 0755);
    prefix_ = Dir() + "/prefix-" + std::to_string(getpid());
    setup_ = StartXvfb();
    if (!setup_.empty()) return;
    // One prefix for the suite: its first start takes the longest.
    int code = 1;
    std::string out = Shell(WineEnv() + " timeout 180 wineboot -i 2>&1", &code);
    if (code != 0 || !Exists(prefix_ + "/system.reg")) setup_ = "wineboot failed: " + out;
  }

  static void TearDownTestSuite() {
    if (!prefix_.empty() && Exists(prefix_)) {
      Shell(WineEnv() + " wineserver -k 2>/dev/null");
      Shell(WineEnv() + " timeout 20 wineserver -w 2>/dev/null");
      Shell("rm -rf '" + prefix_ + "'");
    }
    if (xvfb_ > 0) {
      kill(xvfb_, SIGTERM);
      waitpid(xvfb_, nullptr, 0);
      xvfb_ = 0;
    }
  }

  void SetUp() override {
    if (!setup_.empty()) FAIL() << setup_;
    if (!missing_.empty()) GTEST_SKIP() << "Wine test skipped: " << missing_;
  }

  void TearDown() override {
    for (pid_t* pid : {&program_, &other_})
      if (*pid > 0) {
        kill(*pid, SIGKILL);
        waitpid(*pid, nullptr, 0);
        *pid = 0;
      }
  }

  static std::string WineEnv() {
    return "DISPLAY=" + display_ + " WINEPREFIX='" + prefix_ +
           "' WINEARCH=win64 WINEDLLOVERRIDES='mscoree,mshtml=' WINEDEBUG=-all";
  }

  // Starts Xvfb at the mode's size.
  static std::string StartXvfb() {
    std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight) + "x24";
    return XvfbStart(size, {}, Dir() + "/xvfb.log", &xvfb_, &display_);
  }

  static std::string X(const std::string& command, int* code = nullptr) {
    return Shell("DISPLAY=" + display_ + " " + command + " 2>/dev/null", code);
  }

  // Starts a Windows program under Wine in DIR with the arguments; what it
  // and Wine's trace channels (DEBUG) print goes to wine/NAME.log.
  pid_t StartWine(const std::string& program, const std::vector<std::string>& args, const std::string& name,
                  const std::string& dir, const std::string& debug, const std::vector<std::string>& env = {}) {
    std::string log = Dir() + "/" + name + ".log";
    pid_t pid = fork();
    if (pid == 0) {
      if (chdir(dir.c_str()) != 0) _exit(126);
      setenv("DISPLAY", display_.c_str(), 1);
      setenv("WINEPREFIX", prefix_.c_str(), 1);
      setenv("WINEARCH", "win64", 1);
      setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
      setenv("WINEDEBUG", debug.c_str(), 1);
      for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
      int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out, 1);
      dup2(out, 2);
      std::vector<char*> argv{const_cast<char*>("wine"), const_cast<char*>(program.c_str())};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execvp("wine", argv.data());
      _exit(127);
    }
    return pid;
  }

  void StartTessel(const std::string& exe, const std::vector<std::string>& args, const std::string& name,
                   const std::vector<std::string>& env = {}) {
    program_ = Launch(exe, args, name, "-all,err+all,trace+fps,trace+msgbox", env);
  }

  // Starts EXE of the Windows build in the demo folder through exit-code.exe,
  // so that Wait gives the code Windows keeps for it.
  pid_t Launch(const std::string& exe, const std::vector<std::string>& args, const std::string& name,
               const std::string& debug, const std::vector<std::string>& env = {}) {
    std::string windowsPath = "Z:" + WindowsBuild() + "/" + exe;
    for (char& c : windowsPath) c = c == '/' ? '\\' : c;
    std::vector<std::string> all{windowsPath};
    all.insert(all.end(), args.begin(), args.end());
    launched_ = name;
    return StartWine(WindowsBuild() + "/exit-code.exe", all, name, Demo(), debug, env);
  }

  static std::string Printed(const std::string& name) {
    return Shell("cat '" + Dir() + "/" + name + ".log' 2>/dev/null");
  }
  static std::string Log(const std::string& name) { return "; it printed: \"" + Printed(name) + "\""; }

  // Waits for the program to end; its exit code, or -1 when it still runs.
  int Wait(std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      int status;
      if (waitpid(program_, &status, WNOHANG) == program_) {
        program_ = 0;
        // The program's own code, as exit-code.exe printed it.
        std::string printed = Printed(launched_);
        size_t at = printed.rfind("exit code ");
        if (!launched_.empty() && at != std::string::npos) return std::atoi(printed.c_str() + at + 10);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(50ms);
    }
    return -1;
  }

  // The id of the top-level window named exactly TITLE, or "" after LIMIT.
  std::string FindWindow(const std::string& title, std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    std::string quoted = "\"" + title + "\"";
    do {
      std::string tree = X("xwininfo -root -children");
      size_t at = tree.find(quoted);
      if (at != std::string::npos) {
        size_t line = tree.rfind('\n', at) + 1;
        size_t id = tree.find("0x", line);
        return tree.substr(id, tree.find(' ', id) - id);
      }
      std::this_thread::sleep_for(100ms);
    } while (std::chrono::steady_clock::now() < end);
    return "";
  }

  // Waits until no top-level window is named TITLE; false after LIMIT.
  bool WindowGone(const std::string& title, std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (X("xwininfo -root -children").find("\"" + title + "\"") != std::string::npos) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(100ms);
    }
    return true;
  }

  Shot Screenshot(const std::string& name) {
    std::string path = Dir() + "/" + name + ".png";
    X("import -window root '" + path + "'");
    return ReadPicture(path);
  }

  // Screenshots until one equals WANT outside the overlay, at most LIMIT;
  // the last one.
  Shot WaitForPicture(const std::string& name, const Shot& want, std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    Shot shot = Screenshot(name);
    while (DiffersOutsideOverlay(shot, want) != 0 && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(200ms);
      shot = Screenshot(name);
    }
    return shot;
  }

  // tessel-render's frame of the demo after KEYS (its --keys script).
  Shot Render(const std::string& keys, const std::string& name) {
    std::string out = Dir() + "/" + name + ".png";
    int code = 1;
    std::string printed = Shell("cd '" + Demo() + "' && '" + TESSEL_BINARY_DIR + "/tessel-render' demo.map " +
                                    std::to_string(kWidth) + " " + std::to_string(kHeight) + " " + kInterval +
                                    " --keys '" + keys + "' --out '" + out + "' 2>&1",
                                &code);
    EXPECT_EQ(code, 0) << printed;
    return ReadPicture(out);
  }

  // Holds Escape until the program ends (at most 30 s); its exit code, or -1.
  int EscapeUntilEnded(const std::string& window) {
    X("xdotool windowfocus " + window);
    X("xdotool keydown Escape");
    int code = Wait(30s);
    X("xdotool keyup Escape");
    return code;
  }

  // Holds a key until the screen changes (at most 20 s: frames come slowly on
  // a loaded machine); the picture after letting go.
  Shot HoldUntilMoved(const std::string& window, const std::string& key, const std::string& name) {
    Shot before = Screenshot(name);
    X("xdotool windowfocus " + window);
    X("xdotool keydown " + key);
    auto end = std::chrono::steady_clock::now() + 20s;
    while (DiffersOutsideOverlay(Screenshot(name), before) == 0 && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(50ms);
    X("xdotool keyup " + key);
    // Settled: alike for a whole second (a key let go may still be seen
    // held by a frame or two on a loaded machine).
    Shot shot = Screenshot(name);
    int alike = 0;
    for (int i = 0; i < 60 && alike < 3; i++) {
      std::this_thread::sleep_for(400ms);
      Shot again = Screenshot(name);
      alike = DiffersOutsideOverlay(again, shot) == 0 ? alike + 1 : 0;
      shot = again;
    }
    return shot;
  }

  // The steps of KEY (tessel-render's name) that bring RENDER-after-BEFORE to
  // SHOT: the counts whose ground layer (scroll factor 1) matches best, each
  // confirmed by tessel-render's frame compared whole. -1 when none is equal.
  int StepsTo(const Shot& shot, const std::string& before, const std::string& key, int step, int most,
              const std::string& name) {
    Shot base = Render(before.empty() ? "none*1" : before, name + "-base");
    bool across = key == "right";
    std::vector<std::pair<long, int>> ranked;  // (-matches, count)
    for (int k = 0; k <= most; k++) {
      int shift = k * step;
      long matches = 0;
      for (int y = kOverlayBottom; y < kHeight - (across ? 0 : shift); y += 2)
        for (int x = kOverlayRight; x < kWidth - (across ? shift : 0); x += 3)
          matches += shot.At(x, y) == base.At(across ? x + shift : x, across ? y : y + shift);
      ranked.push_back({-matches, k});
    }
    std::sort(ranked.begin(), ranked.end());
    // The ranking is led astray when the view has moved far (the hills, at
    // half the speed, cover more of the screen than the ground): every count
    // is tried in its order, each confirmed or refused by a whole frame.
    for (size_t r = 0; r < ranked.size(); r++) {
      int k = ranked[r].second;
      std::string keys = k == 0 ? (before.empty() ? "none*1" : before)
                                : (before.empty() ? "" : before + ",") + key + "*" + std::to_string(k);
      if (DiffersOutsideOverlay(shot, Render(keys, name + "-render")) == 0) return k;
    }
    return -1;
  }

  static std::string missing_, setup_, display_, prefix_;
  static pid_t xvfb_;
  pid_t program_ = 0, other_ = 0;
  std::string launched_;  // the log of the program started through exit-code.exe
};

std::string WineTest::missing_, WineTest::setup_, WineTest::display_, WineTest::prefix_;
pid_t WineTest::xvfb_ = 0;

// The demo's step (pixels per frame), from tessel-render's trace of one step right.
int DemoStep() {
  std::string trace = Shell("cd '" + Demo() + "' && '" + TESSEL_BINARY_DIR +
                            "/tessel-render' demo.map 1024 768 120 --keys right*1 --trace 2>/dev/null");
  int frame = 0, x = 0, y = 0;
  if (std::sscanf(trace.c_str(), "frame %d view %d %d", &frame, &x, &y) != 3) return 0;
  return x;
}

TEST_F(WineTest, DemoFrameEqualsTheRenderersScrollsByTheStepAndEndsOnEscape) {
  StartTessel("tessel.exe", {"demo.map", std::to_string(kWidth), std::to_string(kHeight), kInterval}, "demo");
  std::string window = FindWindow("Tessel", 60s);
  ASSERT_NE(window, "") << "no window titled Tessel" << Log("demo");
  Shot want = Render("none*2", "demo-render");
  ASSERT_EQ(want.width, kWidth);
  Shot start = WaitForPicture("demo-start", want, 30s);
  ASSERT_EQ(start.width, kWidth) << "the screenshot has another size";
  long differing = DiffersOutsideOverlay(start, want);
  std::printf("[ figures  ] first frame: %ld of %d pixels outside the overlay differ from tessel-render's\n",
              differing, kWidth * kHeight - kOverlayRight * kOverlayBottom);
  EXPECT_EQ(differing, 0) << "the frame under Wine differs from tessel-render's (see wine/demo-start.png)";
  // The overlay's three lines, white at the top left.
  EXPECT_GT(White(start, 8, 8, kOverlayRight, 28), 15) << "no \"ESC Quit\"";
  EXPECT_GT(White(start, 8, 28, kOverlayRight, 48), 15) << "no position line";
  EXPECT_GT(White(start, 8, 48, kOverlayRight, 68), 15) << "no FPS line";

  // Each held arrow moves the view by whole steps: the frame is tessel-render's
  // after that many steps.
  int step = DemoStep();
  ASSERT_GT(step, 0);
  Shot right = HoldUntilMoved(window, "Right", "demo-right");
  int across = StepsTo(right, "", "right", step, (3200 - kWidth) / step, "demo-right");
  EXPECT_GT(across, 0) << "after Right the frame is none of tessel-render's (see wine/demo-right.png)";
  if (across > 0) {
    Shot down = HoldUntilMoved(window, "Down", "demo-down");
    // The Right that Wine saw last may have come a frame after the screenshot.
    int below = -1;
    for (int more = 0; more <= 2 && below < 0; more++) {
      below = StepsTo(down, "right*" + std::to_string(across + more), "down", step, (1200 - kHeight) / step,
                      "demo-down");
      if (below > 0) across += more;
    }
    EXPECT_GT(below, 0) << "after Down the frame is none of tessel-render's (see wine/demo-down.png)";
    std::printf("[ figures  ] Right moved the view %d steps of %d pixels, Down %d steps\n", across, step, below);
  }
  std::string fps = Printed("demo");
  size_t at = fps.rfind("update_frontbuffer");
  if (at != std::string::npos)
    std::printf("[ figures  ] Wine's frame rate: %s\n", fps.substr(at, fps.find('\n', at) - at).c_str());

  EXPECT_EQ(EscapeUntilEnded(window), 0) << "tessel.exe did not end with code 0 on Escape" << Log("demo");
}

TEST_F(WineTest, MissingMapShowsErrorTwoAndReturnClosesIt) {
  StartTessel("tessel.exe", {"no-such.map", "1024", "768", "120"}, "missing-map");
  std::string box = FindWindow("Fehlermeldung", 60s);
  ASSERT_NE(box, "") << "no box captioned Fehlermeldung" << Log("missing-map");
  Screenshot("missing-map-box");
  // Wine's message box traces the text it shows.
  EXPECT_NE(Printed("missing-map").find("MSGBOX_OnInit L\"Fehlernummer:2\""), std::string::npos)
      << Log("missing-map");
  EXPECT_EQ(Wait(300ms), -1) << "tessel.exe must wait for the box to be closed";
  X("xdotool windowfocus " + box);
  X("xdotool key --delay 120 --window " + box + " Return");
  EXPECT_EQ(Wait(20s), 0) << "tessel.exe did not end with code 0 after Return" << Log("missing-map");
}

// The test build faults once before the runner selects its error exit (the
// filter skips the instruction) and once in the frame loop (error 9).
TEST_F(WineTest, FaultIsSkippedBeforeTheErrorExitAndEndsWithErrorNineAfterIt) {
  StartTessel("tessel-fault.exe", {"demo.map", "1024", "768", "120"}, "fault", {"TESSEL_FAULT_TICK=40"});
  std::string box = FindWindow("Fehlermeldung", 60s);
  ASSERT_NE(box, "") << "no box captioned Fehlermeldung" << Log("fault");
  std::string printed = Printed("fault");
  EXPECT_NE(printed.find("fault before the error exit: skipped"), std::string::npos) << Log("fault");
  EXPECT_NE(printed.find("MSGBOX_OnInit L\"Fehlernummer:9\""), std::string::npos) << Log("fault");
  X("xdotool windowfocus " + box);
  X("xdotool key --delay 120 --window " + box + " Return");
  EXPECT_EQ(Wait(20s), 0) << "tessel-fault.exe did not end with code 0 after Return" << Log("fault");
}

// Another program takes the foreground (Wine's notepad); when it closes,
// tessel.exe gets it back, finds its surfaces lost, restores them and the
// sprites' pixels, and shows the same frame as before.
TEST_F(WineTest, ForegroundLostAndWonBackRestoresTheSprites) {
  program_ = Launch("tessel.exe", {"demo.map", "1024", "768", kInterval}, "foreground", "-all,trace+ddraw");
  std::string window = FindWindow("Tessel", 60s);
  ASSERT_NE(window, "") << "no window titled Tessel" << Log("foreground");
  Shot want = Render("none*2", "foreground-render");
  Shot before = WaitForPicture("foreground-before", want, 30s);
  ASSERT_EQ(DiffersOutsideOverlay(before, want), 0) << "the first frame is not tessel-render's";

  other_ = StartWine("notepad.exe", {}, "notepad", Dir(), "-all");
  std::string notepad = FindWindow("Untitled - Notepad", 30s);
  ASSERT_NE(notepad, "") << "notepad did not open" << Log("notepad");
  std::this_thread::sleep_for(500ms);
  Shot away = Screenshot("foreground-away");
  EXPECT_GT(DiffersOutsideOverlay(away, want), 0) << "notepad is not on the screen";

  X("xdotool windowfocus " + notepad);
  X("xdotool key --delay 120 alt+F4");
  EXPECT_TRUE(WindowGone("Untitled - Notepad", 20s)) << "notepad did not close";
  Shot back = WaitForPicture("foreground-back", want, 20s);
  EXPECT_EQ(DiffersOutsideOverlay(back, want), 0) << "the frame after the foreground came back differs "
                                                     "(see wine/foreground-back.png)";
  std::string trace = Printed("foreground");
  EXPECT_NE(trace.find("device_parent_activate device_parent"), std::string::npos);
  EXPECT_NE(trace.find(", activate 0."), std::string::npos) << "tessel.exe never lost the foreground";
  EXPECT_NE(trace.find("ddraw7_RestoreAllSurfaces"), std::string::npos) << "the surfaces were not restored";
  EXPECT_EQ(EscapeUntilEnded(window), 0) << "tessel.exe did not end with code 0 on Escape";
  int status;
  if (other_ > 0 && waitpid(other_, &status, 0) == other_) other_ = 0;
}

// tessel-map.exe against the Linux tessel-map: the same Tiled import (paths
// typed with backslashes, imported twice into one folder), and the demo's map
// printed and built again, byte for byte.
TEST_F(WineTest, MapToolWritesWhatTheLinuxOneWrites) {
  const std::string tmx = "/usr/share/doc/tiled/examples/desert.tmx";
  if (!Exists(tmx)) GTEST_SKIP() << tmx << " is missing (scripts/setup installs tiled)";
  const std::string linuxDir = Dir() + "/import-linux", windowsDir = Dir() + "/import-windows";
  Shell("rm -rf '" + linuxDir + "' '" + windowsDir + "'");
  const std::string linuxTool = std::string(TESSEL_BINARY_DIR) + "/tessel-map";
  const std::string windowsTool = WineEnv() + " wine '" + WindowsBuild() + "/tessel-map.exe'";
  auto windowsPath = [](std::string path) {
    for (char& c : path)
      if (c == '/') c = '\\';
    return "'Z:" + path + "'";
  };
  int code = 1;
  std::string out = Shell(linuxTool + " import " + tmx + " -o '" + linuxDir + "' 2>&1", &code);
  ASSERT_EQ(code, 0) << out;
  for (int run = 0; run < 2; run++) {
    out = Shell(windowsTool + " import " + windowsPath(tmx) + " -o " + windowsPath(windowsDir) + " 2>&1", &code);
    ASSERT_EQ(code, 0) << "import " << run + 1 << ": " << out;
  }
  // The tiles byte for byte; the maps alike but for the source they record,
  // which each system names by its own full path (and so for the file
  // offsets that follow it).
  EXPECT_EQ(Shell("diff -r '" + linuxDir + "/Tiles' '" + windowsDir + "/Tiles' 2>&1"), "");
  const std::string noOffsets = " | tail -n +2 | sed -e 's/file offset [0-9]*//'";
  std::string linuxMap = Shell(linuxTool + " dump '" + linuxDir + "/Maps/desert'" + noOffsets);
  std::string windowsMap = Shell(linuxTool + " dump '" + windowsDir + "/Maps/desert'" + noOffsets);
  EXPECT_NE(windowsMap.find("\"Tiled map Z:" + tmx + "\""), std::string::npos) << windowsMap.substr(0, 200);
  size_t drive = windowsMap.find("Tiled map Z:");
  if (drive != std::string::npos) windowsMap.erase(drive + 10, 2);
  EXPECT_GT(linuxMap.size(), 1000u);
  EXPECT_TRUE(windowsMap == linuxMap) << "the maps differ beyond the source they record";

  const std::string map = Demo() + "/Maps/demo.map", text = Dir() + "/demo-map.txt", rebuilt = Dir() + "/demo.map";
  // The first line names the file as each system writes its path.
  std::string linuxDump = Shell(linuxTool + " dump '" + map + "' | tail -n +2");
  std::string windowsDump = Shell(windowsTool + " dump " + windowsPath(map) + " | tr -d '\\r' | tail -n +2");
  EXPECT_GT(linuxDump.size(), 1000u);
  EXPECT_TRUE(windowsDump == linuxDump) << "tessel-map.exe dump differs from tessel-map dump";
  Shell(linuxTool + " dump '" + map + "' > '" + text + "'");
  out = Shell(windowsTool + " build " + windowsPath(text) + " -o " + windowsPath(rebuilt) + " 2>&1", &code);
  ASSERT_EQ(code, 0) << out;
  EXPECT_EQ(Shell("cmp '" + map + "' '" + rebuilt + "' 2>&1"), "");
}

// The platform probe (tests/wine/probe) run on the stand-ins and under Wine:
// every result the Parts rely on must be the same, except where the
// platform's own latitude is known to differ from the stand-in's choice.
struct KnownDifference {
  const char* line;
  const char* why;
};
const KnownDifference kKnownDifferences[] = {
    {"SetDisplayMode 0x0", "Wine takes an empty mode; the stand-in refuses it, as the Parts do before asking"},
    {"CreateSurface second primary",
     "Wine makes a second primary; the stand-in keeps the documented DDERR_PRIMARYSURFACEALREADYEXISTS"},
    {"sprite lPitch", "row alignment is the driver's: Wine 8 bytes, the stand-in 16; the Parts step by lPitch"},
    {"system sprite lPitch", "as for the sprite"},
    {"BltFast no key before a key is set",
     "Wine blits with key 0; the stand-in refuses (DDERR_NOCOLORKEY); the Parts set a key first"},
    {"pixel of the other half without a key", "as for the blit"},
    {"BltFast keyed without a key", "Wine blits with the removed key; the stand-in refuses; the Parts never remove one"},
    {"pixel after the key was removed", "as for the blit"},
};

std::vector<std::pair<std::string, std::string>> ProbeLines(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    size_t colon = line.find(": ");
    if (colon != std::string::npos) lines.push_back({line.substr(0, colon), line.substr(colon + 2)});
    start = end + 1;
  }
  return lines;
}

TEST_F(WineTest, PlatformProbeAgreesWithTheStandIns) {
  int code = 1;
  std::string standIns = Shell("cd '" + Demo() + "' && '" + TESSEL_BINARY_DIR + "/platform_probe' 2>&1", &code);
  ASSERT_EQ(code, 0) << standIns;
  std::string real = Shell("cd '" + Demo() + "' && " + WineEnv() + " timeout 120 wine '" + WindowsBuild() +
                               "/platform-probe.exe' 2>&1 | tr -d '\\r'",
                           &code);
  ASSERT_EQ(code, 0) << real;
  auto expected = ProbeLines(standIns), seen = ProbeLines(real);
  ASSERT_GT(expected.size(), 150u) << standIns;
  ASSERT_EQ(seen.size(), expected.size()) << "the probe under Wine did not run to its end: " << real;
  int same = 0, known = 0;
  for (size_t i = 0; i < expected.size(); i++) {
    ASSERT_EQ(seen[i].first, expected[i].first);
    const char* why = nullptr;
    for (const KnownDifference& d : kKnownDifferences)
      if (expected[i].first == d.line) why = d.why;
    if (seen[i].second == expected[i].second) {
      same++;
      if (why) std::printf("[ figures  ] no longer differs: %s\n", expected[i].first.c_str());
    } else if (why) {
      known++;
      std::printf("[ figures  ] %s: stand-in %s, Wine %s (%s)\n", expected[i].first.c_str(),
                  expected[i].second.c_str(), seen[i].second.c_str(), why);
    } else {
      ADD_FAILURE() << expected[i].first << ": the stand-in gives " << expected[i].second << ", Wine "
                    << seen[i].second;
    }
  }
  std::printf("[ figures  ] probe: %d results alike, %d known differences\n", same, known);
}

}  // namespace
