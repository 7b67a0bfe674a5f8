// The kernel stand-ins the runtime relies on: heaps, code pages, the current
// directory, files, built-in modules, version and exit.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "support.h"

namespace {

TEST(KernelHeap, ZeroedExactSizedAndResizedKeepingContent) {
  HANDLE heap = HeapCreate(0, 4096, 0);
  ASSERT_NE(heap, nullptr);
  uint64_t before = KernelHeapAllocations();
  unsigned char* block = static_cast<unsigned char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 13));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(KernelHeapAllocations(), before + 1);
  for (int i = 0; i < 13; i++) EXPECT_EQ(block[i], 0);
  EXPECT_EQ(HeapSize(heap, 0, block), 13u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u);
  std::memset(block, 0xAB, 13);
  block = static_cast<unsigned char*>(HeapReAlloc(heap, HEAP_ZERO_MEMORY, block, 5000));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(HeapSize(heap, 0, block), 5000u);
  for (int i = 0; i < 13; i++) ASSERT_EQ(block[i], 0xAB);
  for (int i = 13; i < 5000; i++) ASSERT_EQ(block[i], 0) << i;
  block = static_cast<unsigned char*>(HeapReAlloc(heap, 0, block, 3));
  EXPECT_EQ(HeapSize(heap, 0, block), 3u);
  EXPECT_EQ(block[2], 0xAB);
  // A block of another heap is not this heap's.
  HANDLE other = HeapCreate(HEAP_NO_SERIALIZE, 0, 0);
  void* foreign = HeapAlloc(other, 0, 8);
  EXPECT_EQ(HeapSize(heap, 0, foreign), size_t(-1));
  EXPECT_EQ(HeapFree(heap, 0, foreign), FALSE);
  EXPECT_EQ(HeapReAlloc(heap, 0, foreign, 16), nullptr);
  EXPECT_EQ(HeapFree(other, 0, foreign), TRUE);
  EXPECT_EQ(HeapFree(other, 0, nullptr), TRUE);
  EXPECT_EQ(HeapDestroy(other), TRUE);
  EXPECT_EQ(HeapFree(heap, 0, block), TRUE);
  EXPECT_EQ(KernelHeapBlockCount(heap), 0u);
  EXPECT_EQ(HeapDestroy(heap), TRUE);
}

TEST(KernelHeap, DestroyReleasesEveryBlockAfterMovesAndFrees) {
  HANDLE heap = HeapCreate(0, 0, 0);
  void* blocks[64];
  for (int i = 0; i < 64; i++) blocks[i] = HeapAlloc(heap, 0, size_t(16 + i));
  // Moves and frees in the middle of the list must keep it linked.
  for (int i = 0; i < 64; i += 3) blocks[i] = HeapReAlloc(heap, 0, blocks[i], 100000);
  for (int i = 1; i < 64; i += 4) HeapFree(heap, 0, blocks[i]);
  EXPECT_EQ(KernelHeapBlockCount(heap), 48u);
  EXPECT_EQ(HeapDestroy(heap), TRUE);  // the leak check of the sanitizer run sees the rest
}

TEST(KernelHeap, InjectedFailuresLeaveBlocksIntact) {
  HANDLE heap = HeapCreate(0, 0, 0);
  char* block = static_cast<char*>(HeapAlloc(heap, 0, 4));
  std::memcpy(block, "abc", 4);
  KernelHeapFailAfter(1);
  void* one = HeapAlloc(heap, 0, 4);
  EXPECT_NE(one, nullptr);
  EXPECT_EQ(HeapAlloc(heap, 0, 4), nullptr);
  EXPECT_EQ(HeapReAlloc(heap, 0, block, 1000), nullptr);
  KernelHeapFailAfter(-1);
  EXPECT_STREQ(block, "abc");
  EXPECT_EQ(HeapSize(heap, 0, block), 4u);
  KernelHeapCreateFail(true);
  EXPECT_EQ(HeapCreate(0, 0, 0), nullptr);
  KernelHeapCreateFail(false);
  HeapDestroy(heap);
}

std::u16string Convert(const char* bytes, int length) {
  int n = MultiByteToWideChar(CP_UTF8, 0, bytes, length, nullptr, 0);
  std::u16string out(size_t(n), u'?');
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, bytes, length, out.data(), n), n);
  return out;
}

TEST(KernelCodePages, Utf8WithReplacementOfMalformedBytes) {
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0), 4);  // counts the terminator
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "", -1, nullptr, 0), 1);
  EXPECT_EQ(Convert("abc", 3), u"abc");
  EXPECT_EQ(Convert("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", 9), u"\u00E9\u20AC\U0001F600");
  EXPECT_EQ(Convert("\x80x", 2), u"\uFFFDx");                 // lone continuation
  EXPECT_EQ(Convert("\xC0\x80", 2), u"\uFFFD\uFFFD");         // overlong
  EXPECT_EQ(Convert("\xED\xA0\x80", 3), u"\uFFFD\uFFFD\uFFFD");  // surrogate
  EXPECT_EQ(Convert("\xF4\x90\x80\x80", 4), u"\uFFFD\uFFFD\uFFFD\uFFFD");  // above U+10FFFF
  EXPECT_EQ(Convert("\xE2\x82x", 3), u"\uFFFDx");             // truncated sequence
  EXPECT_EQ(Convert("\xE2\x82", 2), u"\uFFFD");               // truncated at the end
  EXPECT_EQ(Convert("\xFF", 1), u"\uFFFD");
  char16_t small[2];
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, small, 2), 0);
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", -1, nullptr, 0), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, nullptr, -1, nullptr, 0), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 0, nullptr, 0), 0);
}

TEST(KernelProcess, CurrentDirectoryWithBackslashesAndSizeQuery) {
  ScratchDir dir("kernelcwd");
  std::filesystem::current_path(dir.path);
  std::string expected = dir.path.string();
  for (char& c : expected)
    if (c == '/') c = '\\';
  DWORD needed = GetCurrentDirectoryW(0, nullptr);
  EXPECT_EQ(needed, expected.size() + 1);
  std::u16string buffer(needed, u'?');
  EXPECT_EQ(GetCurrentDirectoryW(needed, buffer.data()), needed - 1);
  EXPECT_EQ(buffer.substr(0, needed - 1), Wide(expected));
  EXPECT_EQ(buffer[needed - 1], 0);
  char16_t tiny[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(GetCurrentDirectoryW(4, tiny), needed);
  EXPECT_EQ(tiny[0], u'x');  // nothing written when it does not fit
}

TEST(KernelProcess, CommandLineQuotesItemsWithSpacesOrEmpty) {
  const char* argv[] = {"/opt/my apps/tessel", "demo.map", "", "a\"b", "x y z"};
  KernelSetArguments(5, const_cast<char**>(argv));
  EXPECT_EQ(std::u16string(GetCommandLineW()), u"\"/opt/my apps/tessel\" demo.map \"\" a\"b \"x y z\"");
  KernelSetCommandLine(u"raw line");
  EXPECT_EQ(std::u16string(GetCommandLineW()), u"raw line");
  KernelSetCommandLine(nullptr);
  EXPECT_NE(GetCommandLineW(), nullptr);  // rebuilt from the process's own arguments
  EXPECT_NE(std::u16string(GetCommandLineW()).find(u"test_runtime"), std::u16string::npos);
}

TEST(KernelProcess, VersionIsNtAndIdsAreSet) {
  OSVERSIONINFOA info = {};
  EXPECT_EQ(GetVersionExA(&info), FALSE);  // the size must be filled in
  info.dwOSVersionInfoSize = sizeof info;
  EXPECT_EQ(GetVersionExA(&info), TRUE);
  EXPECT_EQ(info.dwPlatformId, DWORD(VER_PLATFORM_WIN32_NT));
  EXPECT_NE(GetCurrentProcessId(), 0u);
  EXPECT_NE(GetCurrentThreadId(), 0u);
  InitCommonControls();
}

intptr_t SevenRoutine() { return 7; }
intptr_t EightRoutine() { return 8; }

TEST(KernelModules, RegisteredModulesLoadByNameIgnoringCase) {
  static const KernelExport Exports[] = {{"Seven", SevenRoutine}, {nullptr, nullptr}};
  static const KernelExport Replaced[] = {{"Seven", EightRoutine}, {nullptr, nullptr}};
  KernelRegisterModule("TESTMOD.DLL", Exports);
  HMODULE module = LoadLibraryW(u"testmod.dll");
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(LoadLibraryW(u"TestMod"), module);  // the extension is implied
  EXPECT_EQ(GetModuleHandleW(u"TESTMOD.dll"), module);
  FARPROC seven = GetProcAddress(module, "Seven");
  ASSERT_NE(seven, nullptr);
  EXPECT_EQ(seven(), 7);
  EXPECT_EQ(GetProcAddress(module, "seven"), nullptr);  // export names keep their case
  EXPECT_EQ(GetProcAddress(module, reinterpret_cast<LPCSTR>(1)), nullptr);
  EXPECT_EQ(GetProcAddress(reinterpret_cast<HMODULE>(&module), "Seven"), nullptr);
  KernelRegisterModule("testmod.dll", Replaced);
  EXPECT_EQ(GetProcAddress(module, "Seven")(), 8);
  EXPECT_EQ(LoadLibraryW(u"nosuch.dll"), nullptr);
  EXPECT_EQ(FreeLibrary(module), TRUE);
  EXPECT_EQ(FreeLibrary(module), TRUE);
  EXPECT_EQ(FreeLibrary(module), FALSE);
  EXPECT_EQ(GetModuleHandleW(u"testmod.dll"), nullptr);
}

TEST(KernelFiles, DispositionsPositionsAndHandles) {
  ScratchDir dir("kernelfiles");
  std::u16string name = dir.WidePath("data.bin");
  EXPECT_EQ(CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  HANDLE file = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  ASSERT_NE(file, nullptr);
  DWORD done = 0;
  EXPECT_EQ(WriteFile(file, "0123456789", 10, &done, nullptr), TRUE);
  EXPECT_EQ(done, 10u);
  EXPECT_EQ(GetFileSize(file, nullptr), 10u);
  EXPECT_EQ(SetFilePointer(file, 2, nullptr, FILE_BEGIN), 2u);
  char buffer[16] = {};
  EXPECT_EQ(ReadFile(file, buffer, 3, &done, nullptr), TRUE);
  EXPECT_EQ(std::string(buffer, done), "234");
  EXPECT_EQ(SetFilePointer(file, -1, nullptr, FILE_CURRENT), 4u);
  EXPECT_EQ(SetFilePointer(file, -2, nullptr, FILE_END), 8u);
  EXPECT_EQ(ReadFile(file, buffer, 16, &done, nullptr), TRUE);
  EXPECT_EQ(std::string(buffer, done), "89");
  EXPECT_EQ(ReadFile(file, buffer, 16, &done, nullptr), TRUE);  // the end is no error
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(SetFilePointer(file, -100, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(CloseHandle(file), TRUE);
  EXPECT_EQ(CloseHandle(file), FALSE);
  EXPECT_EQ(ReadFile(file, buffer, 1, &done, nullptr), FALSE);
  EXPECT_EQ(GetFileSize(file, nullptr), INVALID_FILE_SIZE);

  // OPEN_ALWAYS keeps the content, CREATE_ALWAYS empties it, CREATE_NEW refuses.
  file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
  EXPECT_EQ(GetFileSize(file, nullptr), 10u);
  CloseHandle(file);
  EXPECT_EQ(CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
  file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  EXPECT_EQ(GetFileSize(file, nullptr), 0u);
  CloseHandle(file);
}

TEST(KernelFiles, SharingViolationDoesNotTruncate) {
  ScratchDir dir("kernelshare");
  std::ofstream(dir.path / "kept.bin") << "keep me";
  std::u16string name = dir.WidePath("kept.bin");
  HANDLE reader = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_EQ(CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(std::filesystem::file_size(dir.path / "kept.bin"), 7u);
  HANDLE both = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(both, INVALID_HANDLE_VALUE);
  CloseHandle(both);
  CloseHandle(reader);
}

// A FIFO, a directory or a device is not a file to read: the open comes back
// at once (it does not wait for a writer) and is refused.
TEST(KernelFiles, OnlyRegularFilesOpen) {
  ScratchDir dir("kernelfifo");
  ASSERT_EQ(mkfifo((dir.path / "pipe").c_str(), 0600), 0);
  std::filesystem::create_directories(dir.path / "folder");
  alarm(30);  // a blocking open would hang here
  for (const char* name : {"pipe", "folder"}) {
    std::u16string path = dir.WidePath(name);
    EXPECT_EQ(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE)
        << name;
    EXPECT_EQ(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE)
        << name;
  }
  EXPECT_EQ(CreateFileW(u"/dev/zero", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  alarm(0);
  // A regular file still opens and reads as before.
  std::ofstream(dir.path / "plain.bin") << "abc";
  std::u16string plain = dir.WidePath("plain.bin");
  HANDLE file = CreateFileW(plain.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  char buffer[4] = {};
  DWORD done = 0;
  EXPECT_EQ(ReadFile(file, buffer, 4, &done, nullptr), TRUE);
  EXPECT_EQ(std::string(buffer, done), "abc");
  CloseHandle(file);
}

void HookA() { std::fputs("A", stderr); }
void HookB() { std::fputs("B", stderr); }

TEST(KernelProcessDeath, ExitRunsHooksNewestFirstAndFlushes) {
  EXPECT_EXIT(
      {
        // Fully buffered: the text is lost unless the exit flushes stdio.
        static char buffer[256];
        std::setvbuf(stderr, buffer, _IOFBF, sizeof buffer);
        KernelOnExit(HookA);
        KernelOnExit(HookB);
        std::fputs("flushed", stderr);
        ExitProcess(5);
      },
      ::testing::ExitedWithCode(5), "flushedBA");
}

}  // namespace
