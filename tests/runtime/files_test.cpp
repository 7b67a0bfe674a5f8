// Binary file reading: typed reads, the read-ahead buffer and block reads,
// text lines, open and close under numbers, and the path lookup.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "runtime/files.h"
#include "runtime/objects.h"
#include "support.h"

namespace {

class Files : public ::testing::Test {
 protected:
  Files() : dir("files") {}
  void SetUp() override { FreshRuntime(); }
  void TearDown() override { FileCloseAll(); }
  std::u16string Write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir.path / name, std::ios::binary) << bytes;
    return dir.WidePath(name);
  }
  static std::u16string Line(int32_t number) {
    int32_t start = StringBufferFill;
    FileReadLine(number, start);
    std::u16string text = BufferText(start);
    StringBufferFill = start;
    return text;
  }
  static FileRecord* Record(int32_t number) { return static_cast<FileRecord*>(ObjectGet(FileTable, number)); }
  ScratchDir dir;
};

TEST_F(Files, TypedReadsAreLittleEndianAndSigned) {
  std::string bytes = {char(200), char(0x34), char(0x12), char(0xFE), char(0xFF), 0, 0, char(0x80), char(0x3F), 7};
  auto name = Write("typed.bin", bytes);
  ASSERT_NE(FileOpenRead(1, name.c_str()), 0);
  EXPECT_EQ(FileReadByte(1), -56);
  EXPECT_EQ(FileReadWord(1), 0x1234);
  EXPECT_EQ(FileReadWord(1), -2);
  EXPECT_EQ(FileReadFloat(1), 1.0f);
  EXPECT_EQ(FileReadWord(1), 7);  // one byte left: it is the low byte
  EXPECT_EQ(FileReadByte(1), 0);
  EXPECT_EQ(FileReadFloat(1), 0.0f);
  // A number that names no open file reads nothing.
  EXPECT_EQ(FileReadByte(2), 0);
  EXPECT_EQ(FileReadWord(-7), 0);
  char sink[4];
  EXPECT_EQ(FileReadBlock(3, sink, 4), 0);
  EXPECT_EQ(Line(3), u"");
}

TEST_F(Files, LargeBlockAfterOneByteBypassesTheBuffer) {
  std::string bytes(20000, '\0');
  for (size_t i = 0; i < bytes.size(); i++) bytes[i] = char(i * 7 + i / 251);
  auto name = Write("block.bin", bytes);
  ASSERT_NE(FileOpenRead(5, name.c_str()), 0);
  EXPECT_EQ(FileReadByte(5), int8_t(bytes[0]));
  FileRecord* record = Record(5);
  EXPECT_EQ(record->valid, 4096);
  EXPECT_EQ(record->count, 4095);
  std::string block(10000, '\0');
  EXPECT_EQ(FileReadBlock(5, block.data(), 10000), 10000);
  EXPECT_EQ(block, bytes.substr(1, 10000));
  // 4095 came from the buffer, 5905 straight from the file: the buffer still
  // holds the first refill and is empty.
  EXPECT_EQ(record->count, 0);
  EXPECT_EQ(record->valid, 4096);
  EXPECT_EQ(FileReadByte(5), int8_t(bytes[10001]));
  EXPECT_EQ(record->count, 4095);
  // A short block across the end of the buffer refills and continues.
  std::string rest(9998, '\0');
  EXPECT_EQ(FileReadBlock(5, rest.data(), 9998), 9998);
  EXPECT_EQ(rest, bytes.substr(10002));
  EXPECT_EQ(FileReadBlock(5, rest.data(), 10), 0);
}

TEST_F(Files, EveryLineEndGivesTheSameText) {
  auto name = Write("ends.txt", std::string("abc\r\nabc\nabc\rabc") + '\0' + "abc\r\rlast");
  ASSERT_NE(FileOpenRead(1, name.c_str()), 0);
  for (int i = 0; i < 5; i++) EXPECT_EQ(Line(1), u"abc") << i;
  EXPECT_EQ(Line(1), u"");  // CR CR: the second CR ends an empty line
  EXPECT_EQ(Line(1), u"last");
  EXPECT_EQ(Line(1), u"");
  EXPECT_EQ(Line(1), u"");
}

TEST_F(Files, CrPushbackAtBufferBoundaryAndUnbuffered) {
  // The CR is the last byte of the first refill; the byte after it comes
  // from the second refill and must still be delivered.
  std::string bytes(4095, 'x');
  bytes += "\rnext\rz";
  auto name = Write("edge.txt", bytes);
  ASSERT_NE(FileOpenRead(1, name.c_str()), 0);
  EXPECT_EQ(Line(1), Wide(std::string(4095, 'x')));
  EXPECT_EQ(Line(1), u"next");
  EXPECT_EQ(Line(1), u"z");

  // Without a buffer the pushback moves the file position back.
  ASSERT_NE(FileOpenRead(2, name.c_str()), 0);
  FileRecord* record = Record(2);
  HeapFree(MainHeap, 0, record->buffer);
  record->buffer = nullptr;
  EXPECT_EQ(Line(2), Wide(std::string(4095, 'x')));
  EXPECT_EQ(Line(2), u"next");
  EXPECT_EQ(Line(2), u"z");
  EXPECT_EQ(FileReadByte(2), 0);
}

TEST_F(Files, LongLinesInvalidUtf8AndByteOrderMark) {
  std::string longLine(10000, 'q');
  longLine[4095] = 'A';
  longLine[9999] = 'Z';
  auto name = Write("text.txt", "\xEF\xBB\xBFhead\n" + longLine + "\nbad\xFF\xC3(end\n\xE2\x82\xAC\xF0\x9F\x98\x80");
  ASSERT_NE(FileOpenRead(1, name.c_str()), 0);
  EXPECT_EQ(Line(1), u"\uFEFFhead");
  EXPECT_EQ(Line(1), Wide(longLine));
  EXPECT_EQ(Line(1), u"bad\uFFFD\uFFFD(end");
  EXPECT_EQ(Line(1), u"\u20AC\U0001F600");
}

// A megabyte line costs a handful of buffer enlargements, not one per 4096 bytes.
TEST_F(Files, LongLineBufferGrowsGeometrically) {
  std::string longLine(1 << 20, 'w');
  auto name = Write("long.txt", longLine + "\nafter");
  ASSERT_NE(FileOpenRead(1, name.c_str()), 0);
  uint64_t before = KernelHeapAllocations();
  EXPECT_EQ(Line(1), Wide(longLine));
  EXPECT_LE(KernelHeapAllocations() - before, 12u);
  EXPECT_EQ(Line(1), u"after");
}

// An exhausted MainHeap ends the run instead of handing out part of a line
// (or none of it), which the map loader would read as other fields.
TEST_F(Files, ExhaustedMainHeapEndsALineReadAtOnce) {
  auto name = Write("long.txt", std::string(10000, 'q') + "\nrest");
  for (int64_t allowed : {0, 1}) {
    EXPECT_EXIT(
        {
          FileOpenRead(1, name.c_str());
          KernelHeapFailAfter(allowed);
          Line(1);
          std::exit(0);
        },
        ::testing::ExitedWithCode(RUNTIME_EXIT_OUT_OF_MEMORY),
        allowed == 0 ? "out of memory: the MainHeap cannot supply a text line" : "out of memory: the MainHeap cannot grow a text line");
  }
}

TEST_F(Files, ReopeningANumberClosesTheOldFileOnlyOnSuccess) {
  auto first = Write("first.bin", "A");
  auto second = Write("second.bin", "B");
  intptr_t handle = FileOpenRead(99, first.c_str());
  ASSERT_NE(handle, 0);
  EXPECT_EQ(FileOpenRead(99, dir.WidePath("missing.bin").c_str()), 0);
  EXPECT_EQ(FileReadByte(99), 'A');  // the failed open left it alone
  ASSERT_NE(FileOpenRead(99, second.c_str()), 0);
  EXPECT_EQ(CloseHandle(reinterpret_cast<HANDLE>(handle)), FALSE);  // closed already
  EXPECT_EQ(FileReadByte(99), 'B');
  FileClose(99);
  EXPECT_EQ(Record(99), nullptr);
  FileClose(99);
  FileClose(-1);
}

TEST_F(Files, DynamicNumbersAndCloseAll) {
  auto name = Write("dyn.bin", "xyz");
  intptr_t a = FileOpenRead(-1, name.c_str());
  intptr_t b = FileOpenRead(-1, name.c_str());
  ASSERT_LE(a, -2);
  ASSERT_LE(b, -2);
  EXPECT_NE(a, b);
  ASSERT_NE(FileOpenRead(40, name.c_str()), 0);
  EXPECT_EQ(FileReadByte(int32_t(b)), 'x');
  EXPECT_EQ(FileReadByte(int32_t(b)), 'y');
  EXPECT_EQ(FileReadByte(int32_t(a)), 'x');
  FileCloseAll();
  EXPECT_EQ(Record(int32_t(a)), nullptr);
  EXPECT_EQ(Record(40), nullptr);
  EXPECT_EQ(FileTable->listHead, nullptr);
  EXPECT_EQ(KernelHeapBlockCount(ObjectListHeap), 0u);
}

TEST_F(Files, NamesWithBackslashesAndOtherCase) {
  std::filesystem::create_directories(dir.path / "Maps" / "Sub");
  Write("Maps/Sub/Level1.Map", "M");
  std::filesystem::current_path(dir.path);
  EXPECT_NE(FileOpenRead(1, u"Maps\\Sub\\Level1.Map"), 0);
  EXPECT_EQ(FileReadByte(1), 'M');
  EXPECT_NE(FileOpenRead(2, u"MAPS\\sub\\LEVEL1.MAP"), 0);
  EXPECT_EQ(FileReadByte(2), 'M');
  std::u16string absolute = dir.WidePath("maps/SUB/level1.map");
  for (char16_t& c : absolute)
    if (c == u'/') c = u'\\';
  EXPECT_NE(FileOpenRead(3, absolute.c_str()), 0);
  EXPECT_EQ(FileReadByte(3), 'M');
  EXPECT_EQ(FileOpenRead(4, u"Maps\\Nothing\\Level1.Map"), 0);
  EXPECT_EQ(FileOpenRead(4, u"Maps\\Sub"), 0);  // a folder is not a file
  EXPECT_EQ(FileOpenRead(4, u""), 0);
}

TEST_F(Files, AccessModesCreateTruncateAndShare) {
  auto name = dir.WidePath("modes.bin");
  EXPECT_EQ(FileOpenRead(1, name.c_str()), 0);
  ASSERT_NE(FileOpenUpdate(1, name.c_str()), 0);  // created
  EXPECT_TRUE(std::filesystem::exists(dir.path / "modes.bin"));
  FileClose(1);
  Write("modes.bin", "content");
  ASSERT_NE(FileOpenWrite(1, name.c_str()), 0);  // emptied
  EXPECT_EQ(std::filesystem::file_size(dir.path / "modes.bin"), 0u);
  // A writer sharing only reading: another writer is refused, and so is a
  // reader, which does not share writing.
  EXPECT_EQ(FileOpenUpdate(2, name.c_str()), 0);
  EXPECT_EQ(FileOpenRead(2, name.c_str()), 0);
  FileClose(1);
  Write("modes.bin", "content");
  ASSERT_NE(FileOpenExclusive(1, name.c_str()), 0);
  EXPECT_EQ(FileOpenRead(2, name.c_str()), 0);  // shared with nobody
  EXPECT_EQ(FileReadByte(1), 'c');
  FileClose(1);
  ASSERT_NE(FileOpenRead(2, name.c_str()), 0);
  ASSERT_NE(FileOpenRead(3, name.c_str()), 0);   // readers share
  EXPECT_EQ(FileOpenExclusive(4, name.c_str()), 0);
  EXPECT_EQ(FileOpen(5, name.c_str(), 0), 0);
  EXPECT_EQ(FileOpen(5, name.c_str(), 5), 0);
}

}  // namespace
