// Command-line parameters from the scanner and the working directory.
#include <gtest/gtest.h>

#include "runtime/args.h"
#include "support.h"

namespace {

class Args : public ::testing::Test {
 protected:
  void SetUp() override { FreshRuntime(); }
  void TearDown() override { KernelSetCommandLine(nullptr); }
  static std::u16string Next() {
    int32_t start = StringBufferFill;
    ArgNext(start);
    std::u16string text = BufferText(start);
    StringBufferFill = start;
    return text;
  }
};

TEST_F(Args, PlainParametersThenEmptyForever) {
  KernelSetCommandLine(u"tessel.exe 640 480");
  EXPECT_EQ(ArgCount(), 2);
  EXPECT_EQ(Next(), u"640");
  EXPECT_EQ(Next(), u"480");
  EXPECT_EQ(Next(), u"");
  EXPECT_EQ(Next(), u"");
  EXPECT_EQ(ArgCount(), 2);
}

TEST_F(Args, QuotedProgramNameIsSkippedWhole) {
  KernelSetCommandLine(u"\"C:\\Program Files\\Tessel\\tessel.exe\" level1.map 800");
  EXPECT_EQ(ArgCount(), 2);
  EXPECT_EQ(Next(), u"level1.map");
  EXPECT_EQ(Next(), u"800");
}

TEST_F(Args, QuotesGroupAndEndAParameter) {
  KernelSetCommandLine(u"prog \"my map.map\" \"a b\"cd \"open to the end");
  EXPECT_EQ(ArgCount(), 4);
  EXPECT_EQ(Next(), u"my map.map");
  EXPECT_EQ(Next(), u"a b");
  EXPECT_EQ(Next(), u"cd");
  EXPECT_EQ(Next(), u"open to the end");
  EXPECT_EQ(Next(), u"");
}

TEST_F(Args, EmptyQuotesCountAndAdvance) {
  KernelSetCommandLine(u"prog \"\" x");
  EXPECT_EQ(ArgCount(), 2);
  EXPECT_EQ(Next(), u"");
  EXPECT_EQ(Next(), u"x");
}

TEST_F(Args, TabIsNoSeparatorAndTrailingSpacesNoParameter) {
  KernelSetCommandLine(u"prog a\tb   ");
  EXPECT_EQ(ArgCount(), 1);
  EXPECT_EQ(Next(), u"a\tb");
  EXPECT_EQ(Next(), u"");
  KernelSetCommandLine(u"prog");
  EXPECT_EQ(ArgCount(), 0);
  EXPECT_EQ(Next(), u"");
}

TEST_F(Args, ArgAtSetsTheCounter) {
  KernelSetCommandLine(u"prog zero one two three");
  int32_t start = StringBufferFill;
  ArgAt(1, start);
  EXPECT_EQ(BufferText(start), u"one");
  StringBufferFill = start;
  EXPECT_EQ(Next(), u"two");
  ArgAt(-1, start);  // a negative index keeps the counter
  EXPECT_EQ(BufferText(start), u"three");
  StringBufferFill = start;
  ArgAt(9, start);
  EXPECT_EQ(BufferText(start), u"");
  StringBufferFill = start;
  ArgAt(0, start);
  EXPECT_EQ(BufferText(start), u"zero");
}

TEST_F(Args, WorkingDirectoryEndsInOneBackslash) {
  ScratchDir dir("cwd");
  std::filesystem::current_path(dir.path);
  StrAppend(u"<");
  int32_t start = StringBufferFill;
  WorkingDirectory(start);
  std::string expected = dir.path.string() + "/";
  for (char& c : expected)
    if (c == '/') c = '\\';
  EXPECT_EQ(BufferText(start), Wide(expected));
  std::u16string marked = u"<";
  marked += Wide(expected);
  EXPECT_EQ(BufferText(0), marked);

  std::filesystem::current_path("/");
  StringBufferFill = start;
  WorkingDirectory(start);
  EXPECT_EQ(BufferText(start), u"\\");
}

TEST_F(Args, WorkingDirectoryOfAnyLength) {
  ScratchDir dir("longcwd");
  std::filesystem::path deep = dir.path;
  for (int i = 0; i < 12; i++) deep /= std::string(40, char('a' + i));
  std::filesystem::create_directories(deep);
  std::filesystem::current_path(deep);
  ASSERT_GT(deep.string().size(), 500u);
  int32_t start = StringBufferFill;
  WorkingDirectory(start);
  std::u16string text = BufferText(start);
  EXPECT_EQ(text.size(), deep.string().size() + 1);
  EXPECT_EQ(text.back(), u'\\');
  EXPECT_EQ(text.substr(text.size() - 41), Wide(std::string(40, 'l')) + u"\\");
}

}  // namespace
