// StringBuffer growth and the expression protocol, string variables, and the
// integer conversions.
#include <gtest/gtest.h>

#include "support.h"

namespace {

class Strings : public ::testing::Test {
 protected:
  void SetUp() override { FreshRuntime(); }
};

TEST_F(Strings, GrowsOnlyWhenAppendComesWithinFourBytesOfCapacity) {
  ASSERT_EQ(StringBufferCapacity, 16);
  ASSERT_EQ(StringBufferFill, 0);
  char16_t* before = StringBufferBase;
  StrAppend(u"abcde");
  EXPECT_EQ(StringBufferCapacity, 16);
  EXPECT_EQ(StringBufferBase, before);
  EXPECT_EQ(HeapSize(StringHeap, 0, StringBufferBase), 16u);
  EXPECT_EQ(StringBufferFill, 10);
  EXPECT_EQ(StringBufferBase[5], 0);

  FreshRuntime();
  StrAppend(u"abcdef");
  EXPECT_EQ(StringBufferCapacity, 16396);
  EXPECT_EQ(HeapSize(StringHeap, 0, StringBufferBase), 16406u);
  EXPECT_EQ(BufferText(0), u"abcdef");
  EXPECT_EQ(StringBufferBase[6], 0);
}

TEST_F(Strings, AppendOfNullAddsOnlyTheZeroCharacter) {
  StrAppend(u"xy");
  StringBufferBase[2] = u'!';
  StrAppend(nullptr);
  EXPECT_EQ(StringBufferFill, 4);
  EXPECT_EQ(StringBufferBase[2], 0);
}

TEST_F(Strings, FromIntWritesExactDigitsAndAdvancesByThem) {
  struct Case {
    int32_t value;
    const char16_t* text;
  } cases[] = {{0, u"0"}, {-7, u"-7"}, {2147483647, u"2147483647"}, {INT32_MIN, u"-2147483648"}, {1000, u"1000"}};
  for (const Case& c : cases) {
    int32_t start = StringBufferFill;
    StrFromInt(c.value, start);
    std::u16string expected = c.text;
    EXPECT_EQ(BufferText(start), expected) << c.value;
    EXPECT_EQ(StringBufferFill - start, int32_t(2 * expected.size()));
    EXPECT_EQ(*reinterpret_cast<char16_t*>(reinterpret_cast<char*>(StringBufferBase) + StringBufferFill), 0);
  }
}

TEST_F(Strings, IntFromStrTakesLeadingDigitsAndWraps) {
  EXPECT_EQ(IntFromStr(u"  -12abc"), -12);
  EXPECT_EQ(IntFromStr(u"+7"), 7);
  EXPECT_EQ(IntFromStr(u" \t42"), 42);
  EXPECT_EQ(IntFromStr(u"abc"), 0);
  EXPECT_EQ(IntFromStr(u""), 0);
  EXPECT_EQ(IntFromStr(nullptr), 0);
  EXPECT_EQ(IntFromStr(u"- 5"), 0);
  EXPECT_EQ(IntFromStr(u"4294967297"), 1);
  EXPECT_EQ(IntFromStr(u"2147483648"), INT32_MIN);
  EXPECT_EQ(IntFromStr(u"-2147483648"), INT32_MIN);
}

TEST_F(Strings, CompareIsExactEquality) {
  EXPECT_EQ(StrCompare(nullptr, u""), 1);
  EXPECT_EQ(StrCompare(u"", nullptr), 1);
  EXPECT_EQ(StrCompare(u"a", u"A"), 0);
  EXPECT_EQ(StrCompare(u"abc", u"abcd"), 0);
  EXPECT_EQ(StrCompare(u"abcd", u"abc"), 0);
  EXPECT_EQ(StrCompare(u"Pos", u"Pos"), 1);
}

TEST_F(Strings, AssignSizesVariableExactlyAndResetsFill) {
  StringVariable v = nullptr;
  StrAppend(u"keep");
  int32_t start = StringBufferFill;
  StrAppend(u"Pos :");
  StrFromInt(320, StringBufferFill);
  StrAssign(&v, start);
  EXPECT_EQ(StringBufferFill, start);
  EXPECT_EQ(std::u16string(v), u"Pos :320");
  EXPECT_EQ(HeapSize(StringHeap, 0, v), 2 * 8 + 10u);

  // An empty result still owns a block.
  StringVariable empty = nullptr;
  StrAssign(&empty, StringBufferFill);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty[0], 0);
  EXPECT_EQ(HeapSize(StringHeap, 0, empty), 10u);
  StrFree(v);
  StrFree(empty);
}

TEST_F(Strings, AssignOfExpressionStartingWithTheVariableItself) {
  StringVariable v = nullptr;
  StrInit(&v, u"tile");
  for (int i = 0; i < 50; i++) {
    int32_t start = StringBufferFill;
    StrAppend(v);
    StrAppend(u"-more-text-to-force-moves");
    StrAssign(&v, start);
  }
  std::u16string expected = u"tile";
  for (int i = 0; i < 50; i++) expected += u"-more-text-to-force-moves";
  EXPECT_EQ(std::u16string(v), expected);
  StrFree(v);
}

TEST_F(Strings, InitSetAndFreeOfVariables) {
  StringVariable v = nullptr;
  StrInit(&v, nullptr);
  EXPECT_EQ(v, nullptr);
  StrInit(&v, u"abc");
  EXPECT_EQ(HeapSize(StringHeap, 0, v), 16u);
  StrSet(&v, u"longer text");
  EXPECT_EQ(std::u16string(v), u"longer text");
  EXPECT_EQ(HeapSize(StringHeap, 0, v), 2 * 11 + 10u);
  uint64_t blocks = KernelHeapBlockCount(StringHeap);
  StrSet(&v, nullptr);
  EXPECT_EQ(v, nullptr);
  EXPECT_EQ(KernelHeapBlockCount(StringHeap), blocks - 1);
  StrFree(nullptr);
}

TEST_F(Strings, CopyCharsNeverReadsPastAnOddSource) {
  // A source of exactly three characters with no terminator behind it: a
  // pairwise copy would read a fourth (the sanitizer run catches that).
  char16_t* source = static_cast<char16_t*>(HeapAlloc(MainHeap, 0, 3 * sizeof(char16_t)));
  source[0] = u'a';
  source[1] = u'b';
  source[2] = u'c';
  char16_t destination[4] = {u'x', u'x', u'x', u'x'};
  StrCopyChars(destination, source, 3);
  EXPECT_EQ(std::u16string(destination), u"abc");
  StrCopyChars(destination, source, 0);
  EXPECT_EQ(destination[0], 0);
  HeapFree(MainHeap, 0, source);
}

TEST_F(Strings, NestedArgumentSurvivesGrowthAndRestoresFill) {
  StrAppend(u"before");
  int32_t outer = StringBufferFill;
  StrAppend(u"Fehlernummer:");
  StrFromInt(7, StringBufferFill);
  char16_t* argument = StrArgBegin(outer);
  EXPECT_EQ(StringBufferFill, outer + 2 * 14 + 2);
  EXPECT_EQ(std::u16string(argument), u"Fehlernummer:7");
  // The called operation builds its own temporaries, growing the buffer.
  int32_t inner = StringBufferFill;
  for (int i = 0; i < 2000; i++) StrAppend(u"0123456789");
  StrArgEnd(inner);
  char16_t* again = reinterpret_cast<char16_t*>(reinterpret_cast<char*>(StringBufferBase) + outer);
  EXPECT_EQ(std::u16string(again), u"Fehlernummer:7");
  StrArgEnd(outer);
  EXPECT_EQ(StringBufferFill, outer);
  EXPECT_EQ(BufferText(0), u"before");
}

TEST_F(Strings, ArgumentStepsWithoutAppendsStayInsideTheStorage) {
  for (int i = 0; i < 100; i++) {
    StrArgBegin(StringBufferFill);
    StrAppend(nullptr);
  }
  EXPECT_EQ(StringBufferFill, 200);
  EXPECT_GE(HeapSize(StringHeap, 0, StringBufferBase), 202u);
}

TEST_F(Strings, AppendOfTextInsideTheBufferItself) {
  StrAppend(u"abcde");
  ASSERT_EQ(StringBufferCapacity, 16);
  const char16_t* inside = StringBufferBase;  // the append below grows and may move the storage
  StrAppend(inside);
  EXPECT_GT(StringBufferCapacity, 16);
  EXPECT_EQ(BufferText(0), u"abcdeabcde");
}

TEST_F(Strings, FromAnsiConvertsUtf8) {
  StrAppend(u"x");
  StrFromAnsi("caf\xC3\xA9", StringBufferFill);
  EXPECT_EQ(BufferText(0), u"xcaf\u00E9");
  StrFromAnsi("", StringBufferFill);
  EXPECT_EQ(BufferText(0), u"xcaf\u00E9");
}

TEST(StringsDeath, ExhaustedStringHeapEndsWithMessage) {
  EXPECT_EXIT(
      {
        FreshRuntime();
        KernelHeapFailAfter(0);
        StrAppend(u"more than five");
      },
      ::testing::ExitedWithCode(RUNTIME_EXIT_OUT_OF_MEMORY), "out of memory: the StringHeap cannot grow");
  EXPECT_EXIT(
      {
        FreshRuntime();
        KernelHeapFailAfter(0);
        StringVariable v = nullptr;
        StrInit(&v, u"a");
      },
      ::testing::ExitedWithCode(RUNTIME_EXIT_OUT_OF_MEMORY), "out of memory: the StringHeap cannot supply");
}

}  // namespace
