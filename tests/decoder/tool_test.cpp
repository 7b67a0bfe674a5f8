// Tests of tessel-x86: its two output lines and its refusal of bad arguments.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// Runs tessel-x86 with the arguments; its standard output and exit code.
std::string RunTool(const std::string& arguments) {
  std::string command = std::string(TESSEL_BINARY_DIR) + "/tessel-x86 " + arguments + " 2>/dev/null; echo rc=$?";
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return output;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
  pclose(pipe);
  return output;
}

}  // namespace

TEST(DecoderTool, PrintsLengthAndLineWithEscapedLineBreaks) {
  EXPECT_EQ(RunTool("8B442408"), "4\nMOV Eax,[esp+08]\nrc=0\n");
  EXPECT_EQ(RunTool("0x66B83412"), "4\ndb 66h\\r\\nMOV ax,1234\nrc=0\n");
  EXPECT_EQ(RunTool("--at 0x401000 E800000000"), "5\nCALL 00401005\nrc=0\n");
  EXPECT_EQ(RunTool("--64 --at 1000 E8FBFFFFFF"), "5\nCALL 0000000000001000\nrc=0\n");
  EXPECT_EQ(RunTool("--64 62F17C4828C1"), "6\n??? \nrc=0\n");
}

TEST(DecoderTool, BadArgumentsExitWithTwo) {
  EXPECT_EQ(RunTool(""), "rc=2\n");
  EXPECT_EQ(RunTool("8B4"), "rc=2\n");
  EXPECT_EQ(RunTool("XY"), "rc=2\n");
  EXPECT_EQ(RunTool("--at"), "rc=2\n");
  EXPECT_EQ(RunTool("--at 1G 90"), "rc=2\n");
  EXPECT_EQ(RunTool("--at 100000000 90"), "rc=2\n");
  EXPECT_EQ(RunTool("--32 90"), "rc=2\n");
  EXPECT_EQ(RunTool("90 90"), "rc=2\n");
  EXPECT_EQ(RunTool("E800"), "rc=2\n");  // the instruction needs more bytes
}
