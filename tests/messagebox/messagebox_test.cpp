// The modal message box on the headless backend: which windows are disabled
// while the box is up, which are enabled again, and who owns the box.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "errors/messagebox.h"
#include "platform/headless.h"
#include "platform/kernel.h"
#include "platform/user.h"
#include "runtime/objects.h"
#include "runtime/runtime.h"

namespace {

LRESULT TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(window, message, wParam, lParam);
}

// The windows of the test process; the first one created is the one that
// holds the foreground while the process has it.
struct TestWindows {
  HWND main;       // visible, enabled: the foreground window
  HWND shown;      // visible, enabled
  HWND disabled;   // visible, disabled before the box
  HWND hidden;     // invisible, enabled
  HWND otherOwn;   // visible, enabled, made by another thread
};
TestWindows Windows;

HWND MakeWindow() {
  return CreateWindowExW(0, u"MessageTest Class", u"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                         nullptr);
}

// Enabled state of every test window while the box is shown.
struct Seen {
  int boxes;
  BOOL main, shown, disabled, hidden, otherOwn;
  bool listed[5];
};
Seen During;

bool Listed(HWND window) {
  for (ObjectNode* node = DisabledWindowList; node; node = node->older)
    if (reinterpret_cast<DisabledWindow*>(node->record)->window == window) return true;
  return false;
}

void LookAtWindows(const HeadlessMessageBox&, void*) {
  During.boxes++;
  During.main = IsWindowEnabled(Windows.main);
  During.shown = IsWindowEnabled(Windows.shown);
  During.disabled = IsWindowEnabled(Windows.disabled);
  During.hidden = IsWindowEnabled(Windows.hidden);
  During.otherOwn = IsWindowEnabled(Windows.otherOwn);
  HWND all[5] = {Windows.main, Windows.shown, Windows.disabled, Windows.hidden, Windows.otherOwn};
  for (int i = 0; i < 5; i++) During.listed[i] = Listed(all[i]);
}

int32_t ListLength() {
  int32_t n = 0;
  for (ObjectNode* node = DisabledWindowList; node; node = node->older) n++;
  return n;
}

class MessageBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static bool started = false;
    if (!started) {
      started = true;
      RuntimeStart();
      WNDCLASSEXW windowClass = {};
      windowClass.cbSize = sizeof windowClass;
      windowClass.lpfnWndProc = TestWindowProc;
      windowClass.lpszClassName = u"MessageTest Class";
      ASSERT_NE(RegisterClassExW(&windowClass), 0);
      Windows.main = MakeWindow();
      Windows.shown = MakeWindow();
      Windows.disabled = MakeWindow();
      Windows.hidden = MakeWindow();
      std::thread([] { Windows.otherOwn = MakeWindow(); }).join();
      ASSERT_NE(Windows.otherOwn, nullptr);
      ASSERT_NE(GetWindowThreadProcessId(Windows.otherOwn, nullptr), GetCurrentThreadId());
    }
    HeadlessReset();
    for (HWND window : {Windows.main, Windows.shown, Windows.disabled, Windows.hidden, Windows.otherOwn}) {
      ShowWindow(window, window == Windows.hidden ? SW_HIDE : SW_SHOW);
      EnableWindow(window, window != Windows.disabled);
    }
    During = {};
    HeadlessSetMessageBoxHook(LookAtWindows, nullptr);
  }
  void TearDown() override { HeadlessReset(); }
};

}  // namespace

TEST_F(MessageBoxTest, DisablesTheThreadsOtherWindowsAndEnablesExactlyThoseAgain) {
  ASSERT_EQ(GetForegroundWindow(), Windows.main);
  HeadlessSetMessageBoxAnswer(IDCANCEL);
  EXPECT_EQ(MessageShow(u"Caption", u"Text", MB_OKCANCEL), IDCANCEL);
  ASSERT_EQ(During.boxes, 1);
  EXPECT_TRUE(During.main);       // the foreground window stays usable
  EXPECT_FALSE(During.shown);     // disabled for the box
  EXPECT_FALSE(During.disabled);  // was disabled already
  EXPECT_TRUE(During.hidden);     // invisible windows are left alone
  EXPECT_TRUE(During.otherOwn);   // so are other threads' windows
  EXPECT_FALSE(During.listed[0]);
  EXPECT_TRUE(During.listed[1]);
  EXPECT_FALSE(During.listed[2]);
  EXPECT_FALSE(During.listed[3]);
  EXPECT_FALSE(During.listed[4]);

  EXPECT_TRUE(IsWindowEnabled(Windows.shown));
  EXPECT_FALSE(IsWindowEnabled(Windows.disabled));  // not ours to enable
  EXPECT_EQ(DisabledWindowList, nullptr);

  ASSERT_EQ(HeadlessMessageBoxCount(), 1);
  const HeadlessMessageBox* box = HeadlessMessageBoxAt(0);
  EXPECT_STREQ(box->caption, "Caption");
  EXPECT_STREQ(box->text, "Text");
  EXPECT_EQ(box->type, static_cast<uint32_t>(MB_OKCANCEL));
  EXPECT_EQ(box->owner, Windows.main);
}

TEST_F(MessageBoxTest, ForegroundWindowOfAnotherProcessGivesAnUnownedBox) {
  HeadlessSetForeignForeground(true);
  HWND foreign = GetForegroundWindow();
  ASSERT_NE(foreign, nullptr);
  DWORD process = 0;
  EXPECT_NE(GetWindowThreadProcessId(foreign, &process), GetCurrentThreadId());
  ASSERT_NE(process, GetCurrentProcessId());
  EXPECT_EQ(MessageShowOk(u"Fehlermeldung", u"Fehlernummer:9"), IDOK);
  ASSERT_EQ(HeadlessMessageBoxCount(), 1);
  EXPECT_EQ(HeadlessMessageBoxAt(0)->owner, nullptr);
  // Our own windows are all disabled for the box; the other process's is not ours to touch.
  EXPECT_FALSE(During.main);
  EXPECT_FALSE(During.shown);
  EXPECT_TRUE(IsWindowEnabled(foreign));
  EXPECT_TRUE(IsWindowEnabled(Windows.main));
  EXPECT_EQ(DisabledWindowList, nullptr);
  HeadlessReset();
  EXPECT_EQ(GetForegroundWindow(), Windows.main);
}

TEST_F(MessageBoxTest, NoForegroundWindowGivesAnUnownedBox) {
  HeadlessSetForeground(false);
  ASSERT_EQ(GetForegroundWindow(), nullptr);
  EXPECT_EQ(MessageShowOk(u"Fehlermeldung", u"Fehlernummer:1"), IDOK);
  ASSERT_EQ(HeadlessMessageBoxCount(), 1);
  const HeadlessMessageBox* box = HeadlessMessageBoxAt(0);
  EXPECT_EQ(box->owner, nullptr);
  EXPECT_EQ(box->type, 0u);
  EXPECT_STREQ(box->caption, "Fehlermeldung");
  EXPECT_STREQ(box->text, "Fehlernummer:1");
  // Without a foreground window of its own, the main window is disabled too.
  EXPECT_FALSE(During.main);
  EXPECT_FALSE(During.shown);
  EXPECT_TRUE(IsWindowEnabled(Windows.main));
  EXPECT_TRUE(IsWindowEnabled(Windows.shown));
  EXPECT_EQ(DisabledWindowList, nullptr);
}

TEST_F(MessageBoxTest, NothingToDisableLeavesTheListEmpty) {
  ShowWindow(Windows.shown, SW_HIDE);
  EXPECT_EQ(MessageShowOk(u"A", u"B"), IDOK);
  EXPECT_EQ(During.boxes, 1);
  for (bool listed : During.listed) EXPECT_FALSE(listed);
  EXPECT_TRUE(During.main);
  EXPECT_EQ(DisabledWindowList, nullptr);
}

TEST_F(MessageBoxTest, EntriesOfOtherThreadsStay) {
  DisabledWindow* foreign = static_cast<DisabledWindow*>(ObjectListAdd(&DisabledWindowList, sizeof(DisabledWindow)));
  ASSERT_NE(foreign, nullptr);
  foreign->threadId = GetWindowThreadProcessId(Windows.otherOwn, nullptr);
  foreign->window = Windows.otherOwn;
  EnableWindow(Windows.otherOwn, FALSE);

  MessageShowOk(u"A", u"B");
  EXPECT_FALSE(During.shown);
  EXPECT_TRUE(IsWindowEnabled(Windows.shown));
  EXPECT_FALSE(IsWindowEnabled(Windows.otherOwn));
  ASSERT_EQ(ListLength(), 1);
  EXPECT_EQ(reinterpret_cast<DisabledWindow*>(DisabledWindowList->record), foreign);

  ObjectListRemove(&DisabledWindowList, foreign);
  EXPECT_EQ(DisabledWindowList, nullptr);
}
