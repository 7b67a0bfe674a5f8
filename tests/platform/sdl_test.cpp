// The sdl backend in a real X server: a small program (smoke) takes the
// display under Xvfb, the screenshot shows its frame scaled with the aspect
// ratio kept, a key sent with xdotool ends it, Ctrl-C still ends it, and a
// message box without any display is written to standard error at once.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

const std::string Smoke = std::string(TESSEL_BINARY_DIR) + "/sdl_smoke";

bool Installed(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// A child process with its standard output on a pipe.
struct Child {
  pid_t pid = -1;
  int out = -1;
};

Child Start(const std::vector<std::string>& args, const std::string& display) {
  int p[2];
  if (pipe(p) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    dup2(p[1], 1);
    close(p[0]);
    close(p[1]);
    if (display.empty())
      unsetenv("DISPLAY");
    else
      setenv("DISPLAY", display.c_str(), 1);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(p[1]);
  fcntl(p[0], F_SETFL, O_NONBLOCK);
  return {pid, p[0]};
}

// Reads the child's output until it holds `want` or the time is up.
bool WaitFor(Child& c, std::string& seen, const std::string& want, int seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    char buffer[256];
    ssize_t n = read(c.out, buffer, sizeof buffer);
    if (n > 0) seen.append(buffer, (size_t)n);
    if (seen.find(want) != std::string::npos) return true;
    if (n == 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// The exit status, or -1 when the child is still running after `seconds`.
int Reap(Child& c, int seconds) {
  for (int i = 0; i < seconds * 50; i++) {
    int status;
    if (waitpid(c.pid, &status, WNOHANG) == c.pid) {
      close(c.out);
      return status;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(c.pid, SIGKILL);
  int status;
  waitpid(c.pid, &status, 0);
  close(c.out);
  return -1;
}

// Xvfb on a display number it picks itself.
class Xvfb : public ::testing::Test {
 protected:
  Child server;
  std::string display;

  void SetUp() override {
    if (!Installed("Xvfb")) GTEST_SKIP() << "Xvfb is not installed: the sdl backend is not tried in a real X server";
    // -noreset: a server that resets when its last client leaves refuses the
    // clients that connect meanwhile.
    std::vector<std::string> args = {"Xvfb", "-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp",
                                     "-noreset"};
    // Without the core fonts only the server's built-in cursor and "fixed" exist.
    if (!CoreFonts()) args.insert(args.end(), {"-fp", "built-ins"});
    server = Start(args, "");
    std::string number;
    ASSERT_TRUE(WaitFor(server, number, "\n", 10)) << "Xvfb did not start";
    display = ":";
    display += number.substr(0, number.find('\n'));
  }
  virtual bool CoreFonts() const { return true; }
  void TearDown() override {
    if (server.pid > 0) {
      kill(server.pid, SIGTERM);
      Reap(server, 5);
    }
  }
  // The colour at a pixel of a screenshot, as ImageMagick writes it.
  std::string PixelAt(const std::string& shot, int x, int y) {
    std::string command = "convert " + shot + " -format '%[pixel:p{" + std::to_string(x) + "," + std::to_string(y) +
                          "}]' info: 2>/dev/null";
    FILE* p = popen(command.c_str(), "r");
    char line[128] = {};
    if (p) {
      if (!fgets(line, sizeof line, p)) line[0] = 0;
      pclose(p);
    }
    return line;
  }
};

TEST_F(Xvfb, FrameScaledWithAspectAndEscapeEnds) {
  Child smoke = Start({Smoke, "320", "200", "16"}, display);
  std::string out;
  ASSERT_TRUE(WaitFor(smoke, out, "ready", 20)) << out;
  if (Installed("import") && Installed("convert")) {
    const std::string shot = std::string(TESSEL_BINARY_DIR) + "/sdl_smoke_" + display.substr(1) + ".png";
    ASSERT_EQ(std::system(("DISPLAY=" + display + " import -window root " + shot).c_str()), 0);
    // 320 x 200 scaled to 800 x 500, with 50 rows of black above and below.
    EXPECT_EQ(PixelAt(shot, 400, 20), "srgb(0,0,0)");
    EXPECT_EQ(PixelAt(shot, 200, 200), "srgb(255,0,0)");
    EXPECT_EQ(PixelAt(shot, 200, 450), "srgb(0,0,255)");
    std::remove(shot.c_str());
  }
  if (Installed("xdotool"))
    std::system(("DISPLAY=" + display + " xdotool key --delay 120 Escape").c_str());
  else
    kill(smoke.pid, SIGTERM);
  WaitFor(smoke, out, "escape", 10);
  const int status = Reap(smoke, 10);
  ASSERT_NE(status, -1) << out;
  if (Installed("xdotool")) {
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
    EXPECT_NE(out.find("escape"), std::string::npos);
  }
}

TEST_F(Xvfb, InterruptStillEndsTheProgram) {
  Child smoke = Start({Smoke, "800", "600", "32"}, display);
  std::string out;
  ASSERT_TRUE(WaitFor(smoke, out, "ready", 20)) << out;
  kill(smoke.pid, SIGINT);
  const int status = Reap(smoke, 5);
  ASSERT_NE(status, -1) << "SIGINT did not end the program";
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
}

// SDL's own box needs the core fonts; without them the backend draws its box
// itself, with the buttons answering the keyboard.
class XvfbWithoutCoreFonts : public Xvfb {
  bool CoreFonts() const override { return false; }
};

TEST_F(XvfbWithoutCoreFonts, DrawnBoxAnswersTheKeyboard) {
  if (!Installed("xdotool")) GTEST_SKIP() << "xdotool is not installed";
  // Each: the keys sent to the box, the button that answers.
  const std::pair<std::string, std::string> cases[] = {
      {"Return", "button 6"},      // Yes has the focus first
      {"Tab Return", "button 7"},  // Tab moves it to No
      {"Left Return", "button 2"}, // and Left from Yes round to Cancel
      {"Escape", "button 2"},      // Escape is Cancel
  };
  for (const auto& [keys, want] : cases) {
    Child smoke = Start({Smoke, "question"}, display);
    std::string window;
    for (int i = 0; i < 100 && window.empty(); i++) {
      FILE* p = popen(("DISPLAY=" + display + " xdotool search --name '^Frage$' 2>/dev/null").c_str(), "r");
      char line[64] = {};
      if (p) {
        if (fgets(line, sizeof line, p)) window = std::string(line, std::strcspn(line, "\n"));
        pclose(p);
      }
      if (window.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_FALSE(window.empty()) << "no box titled Frage for " << keys;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::system(("DISPLAY=" + display + " xdotool key --delay 60 --window " + window + " " + keys + " 2>/dev/null").c_str());
    std::string out;
    EXPECT_TRUE(WaitFor(smoke, out, want, 10)) << keys << ": " << out;
    Reap(smoke, 5);
  }
}

TEST(SdlMessageBox, WithoutDisplayGoesToStandardErrorAtOnce) {
  const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY " + Smoke + " box 2>&1";
  const auto start = std::chrono::steady_clock::now();
  FILE* p = popen(command.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  char line[512];
  while (fgets(line, sizeof line, p)) out += line;
  EXPECT_EQ(pclose(p), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_NE(out.find("Fehlermeldung: Fehlernummer: 7\n"), std::string::npos) << out;
  EXPECT_NE(out.find("button 1"), std::string::npos) << out;
}

}  // namespace
