// Every tool answers --help on standard output and --version with its name
// and version, exit code 0, and does nothing else.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct Answer {
  int code;
  std::string out;
};

Answer Ask(const std::string& directory, const std::string& command) {
  Answer answer{-1, ""};
  FILE* p = popen(("cd '" + directory + "' && " + command + " 2>/dev/null").c_str(), "r");
  if (!p) return answer;
  char buffer[1024];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) answer.out.append(buffer, n);
  int status = pclose(p);
  answer.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return answer;
}

TEST(ToolOptions, HelpAndVersionOnEveryTool) {
  char scratch[] = "/tmp/tessel-help-XXXXXX";
  ASSERT_NE(mkdtemp(scratch), nullptr);
  for (const char* tool : {"tessel-map", "tessel-render", "tessel-demo", "tessel-x86"}) {
    SCOPED_TRACE(tool);
    const std::string binary = std::string("'") + TESSEL_BINARY_DIR + "/" + tool + "'";
    Answer help = Ask(scratch, binary + " --help");
    EXPECT_EQ(help.code, 0);
    EXPECT_EQ(help.out.rfind(std::string("usage: ") + tool + " ", 0), 0u) << help.out;
    Answer version = Ask(scratch, binary + " --version");
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out.rfind(std::string(tool) + " ", 0), 0u) << version.out;
    EXPECT_EQ(version.out.find('\n'), version.out.size() - 1) << "one line";
  }
  // tessel-demo takes no option for the folder to write into.
  EXPECT_EQ(Ask(scratch, std::string("'") + TESSEL_BINARY_DIR + "/tessel-demo' --bogus").code, 2);
  EXPECT_EQ(std::system((std::string("rmdir '") + scratch + "'").c_str()), 0) << "a tool wrote into " << scratch;
}

}  // namespace
