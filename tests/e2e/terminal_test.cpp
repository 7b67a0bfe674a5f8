// The real tessel binary on a terminal without a display: --help and
// --version answer on standard output without touching a display, and every
// other run prints only Tessel's own lines on standard error (the usage line,
// the line naming what failed, the box's text), whatever the libraries say.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

struct Output {
  int code = -1;
  std::string out, err;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs tessel in the demo folder without a display (DISPLAY names one where
// no server runs when given) and keeps its two streams apart.
Output RunTessel(const std::string& args, const std::string& display = "") {
  const std::string base = std::string(TESSEL_BINARY_DIR) + "/terminal-" + std::to_string(getpid());
  const std::string env = display.empty() ? "-u DISPLAY" : "DISPLAY=" + display;
  const std::string command = "cd '" + std::string(TESSEL_SOURCE_DIR) + "/demo' && timeout 20 env -u WAYLAND_DISPLAY " +
                              env + " '" + TESSEL_BINARY_DIR + "/tessel' " + args + " >'" + base + ".out' 2>'" + base +
                              ".err' </dev/null";
  Output result;
  const int status = std::system(command.c_str());
  result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = ReadAll(base + ".out");
  result.err = ReadAll(base + ".err");
  std::remove((base + ".out").c_str());
  std::remove((base + ".err").c_str());
  return result;
}

// A display number where no X server runs.
std::string DeadDisplay() {
  struct stat st;
  int number = 99;
  while (stat(("/tmp/.X11-unix/X" + std::to_string(number)).c_str(), &st) == 0 ||
         stat(("/tmp/.X" + std::to_string(number) + "-lock").c_str(), &st) == 0)
    number++;
  return ":" + std::to_string(number);
}

TEST(Terminal, HelpAndVersionAnswerOnStandardOutputWithoutADisplay) {
  for (const std::string& display : {std::string(""), DeadDisplay()}) {
    Output help = RunTessel("--help", display);
    EXPECT_EQ(help.code, 0);
    EXPECT_EQ(help.out.rfind("usage: tessel MAP WIDTH HEIGHT INTERVAL\n", 0), 0u) << help.out;
    EXPECT_EQ(help.err, "");
    Output version = RunTessel("--version", display);
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, "tessel 0.1.0\n");
    EXPECT_EQ(version.err, "");
  }
  // Not as the only argument: a map named --help, as before.
  Output other = RunTessel("--help 640 480 100");
  EXPECT_EQ(other.out, "");
  EXPECT_NE(other.err.find("Fehlermeldung: Fehlernummer:1\n"), std::string::npos) << other.err;
}

// Exactly Tessel's lines, in order: nothing from SDL or the libraries under it
// (no XDG_RUNTIME_DIR warning), and the exit code stays 0.
TEST(Terminal, StandardErrorHoldsOnlyTesselsOwnLines) {
  const std::string box = "Fehlermeldung: Fehlernummer:1\n";
  const std::string noDisplay =
      "tessel: error 1: the display could not be set up at 1024 x 768 pixels: no display answers, or it cannot "
      "show that size\n";
  const std::string usage = "tessel: usage: tessel MAP WIDTH HEIGHT INTERVAL";
  const struct {
    std::string args, err;
  } cases[] = {
      {"", usage + " (MAP, WIDTH, HEIGHT, INTERVAL missing)\n" +
               "tessel: error 1: the display could not be set up: 0 x 0 is no screen size (WIDTH and HEIGHT are "
               "from 1 to 32767)\n" + box},
      {"demo.map 1280", usage + " (HEIGHT, INTERVAL missing)\n" +
                            "tessel: error 1: the display could not be set up: 1280 x 0 is no screen size (WIDTH "
                            "and HEIGHT are from 1 to 32767)\n" + box},
      {"abc def 120 100", usage + " (WIDTH \"def\" is not a number)\n" +
                              "tessel: error 1: the display could not be set up: 0 x 120 is no screen size (WIDTH "
                              "and HEIGHT are from 1 to 32767)\n" + box},
      {"demo.map 1024 768 12x", usage + " (INTERVAL \"12x\" is not a number)\n" + noDisplay + box},
      {"demo.map 1024 768 120", noDisplay + box},
  };
  for (const std::string& display : {std::string(""), DeadDisplay()}) {
    for (const auto& c : cases) {
      Output run = RunTessel(c.args, display);
      EXPECT_EQ(run.code, 0) << c.args;
      EXPECT_EQ(run.out, "") << c.args;
      EXPECT_EQ(run.err, c.err) << "tessel " << c.args << " with DISPLAY " << display;
    }
  }
}

}  // namespace
