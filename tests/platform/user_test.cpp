// Windows, the message queue and message boxes: order of delivery,
// WM_ACTIVATE on focus changes, key-up and close messages, WM_PAINT on
// demand, enumeration and enabling, and the boxes the headless backend keeps.
#include <cstring>
#include <thread>
#include <vector>

#include "platform/winmm.h"
#include "tests/platform/fixture.h"

namespace {

struct Seen {
  UINT message;
  WPARAM wParam;
};
std::vector<Seen> Log;

LRESULT LoggingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Log.push_back({message, wParam});
  if (message == WM_PAINT) {
    PAINTSTRUCT ps;
    BeginPaint(window, &ps);
    EndPaint(window, &ps);
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

class QueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HeadlessReset();
    ASSERT_NE(FixtureWindow(), nullptr);
    FixtureDrain();
    Log.clear();
  }
  void TearDown() override {
    FixtureDrain();
    HeadlessReset();
  }
  // Pumps as a frame loop does, through a logging window procedure.
  void Pump() {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      Log.push_back({m.message, m.wParam});
      DispatchMessageA(&m);
    }
  }
};

TEST_F(QueueTest, MessagesInPostingOrder) {
  HeadlessSetForeground(false);
  HeadlessPostKeyUp(VK_TAB, false);
  HeadlessPostKeyUp(VK_MENU, true);
  HeadlessPostClose();
  HeadlessSetForeground(true);
  HeadlessSetForeground(true);  // no change, no message
  Pump();
  ASSERT_EQ(Log.size(), 5u);
  EXPECT_EQ(Log[0].message, (UINT)WM_ACTIVATE);
  EXPECT_EQ(LOWORD(Log[0].wParam), WA_INACTIVE);
  EXPECT_EQ(Log[1].message, (UINT)WM_KEYUP);
  EXPECT_EQ(Log[1].wParam, (WPARAM)VK_TAB);
  EXPECT_EQ(Log[2].message, (UINT)WM_SYSKEYUP);
  EXPECT_EQ(Log[2].wParam, (WPARAM)VK_MENU);
  EXPECT_EQ(Log[3].message, (UINT)WM_CLOSE);
  EXPECT_EQ(Log[4].message, (UINT)WM_ACTIVATE);
  EXPECT_EQ(LOWORD(Log[4].wParam), WA_ACTIVE);
  MSG m;
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(QueueTest, FilterAndNoRemove) {
  HeadlessPostClose();
  HeadlessPostKeyUp(VK_TAB, false);
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_KEYUP, WM_KEYUP, PM_NOREMOVE));
  EXPECT_EQ(m.message, (UINT)WM_KEYUP);
  ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_KEYUP, WM_KEYUP, PM_REMOVE));
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, (UINT)WM_CLOSE);
  EXPECT_EQ(m.hwnd, FixtureWindow());
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(QueueTest, PaintComesWhenShownAndStopsOnceValidated) {
  WNDCLASSEXW wc = {};
  wc.cbSize = 48;  // the platform's 32-bit record size is accepted
  wc.lpfnWndProc = LoggingProc;
  wc.lpszClassName = u"PaintTestClass";
  ASSERT_NE(RegisterClassExW(&wc), 0);
  EXPECT_EQ(RegisterClassExW(&wc), 0);  // twice is refused
  HWND w = CreateWindowExW(0, u"painttestclass", u"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(w, nullptr);
  MSG m;
  EXPECT_FALSE(PeekMessageA(&m, w, 0, 0, PM_REMOVE));  // hidden: nothing to paint
  EXPECT_FALSE(ShowWindow(w, SW_SHOWMAXIMIZED));
  EXPECT_TRUE(IsWindowVisible(w));
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, (UINT)WM_PAINT);
  EXPECT_EQ(m.hwnd, w);
  Log.clear();
  DispatchMessageA(&m);
  ASSERT_EQ(Log.size(), 1u);
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  MoveWindow(w, 0, 0, 20, 20, TRUE);
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, (UINT)WM_PAINT);
  DispatchMessageA(&m);
  EXPECT_TRUE(ShowWindow(w, SW_HIDE));
  EXPECT_FALSE(IsWindowVisible(w));
}

TEST_F(QueueTest, EnumerationEnablingAndForeground) {
  HWND main = FixtureWindow();
  EXPECT_EQ(GetForegroundWindow(), main);
  HeadlessSetForeground(false);
  EXPECT_EQ(GetForegroundWindow(), nullptr);
  HeadlessSetForeground(true);
  EXPECT_EQ(GetForegroundWindow(), main);

  // A window of another thread belongs to that thread.
  HWND other = nullptr;
  std::thread([&] {
    other = CreateWindowExW(0, u"PlatformTestClass", u"", WS_POPUP | WS_VISIBLE, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                            nullptr);
  }).join();
  ASSERT_NE(other, nullptr);
  DWORD process = 0;
  EXPECT_NE(GetWindowThreadProcessId(other, &process), GetCurrentThreadId());
  EXPECT_EQ(process, GetCurrentProcessId());
  EXPECT_EQ(GetWindowThreadProcessId(main, nullptr), GetCurrentThreadId());

  struct Found {
    HWND a, b;
    int count;
  } found = {main, other, 0};
  EXPECT_TRUE(EnumWindows(
      [](HWND w, LPARAM l) -> BOOL {
        Found* f = (Found*)l;
        f->count += (w == f->a) + (w == f->b);
        return TRUE;
      },
      (LPARAM)&found));
  EXPECT_EQ(found.count, 2);

  EXPECT_TRUE(IsWindowEnabled(other));
  EXPECT_FALSE(EnableWindow(other, FALSE));  // was enabled
  EXPECT_FALSE(IsWindowEnabled(other));
  EXPECT_TRUE(EnableWindow(other, TRUE));  // was disabled
  EXPECT_TRUE(IsWindowEnabled(other));
  EXPECT_FALSE(IsWindowEnabled(nullptr));
  EXPECT_EQ(GetWindowThreadProcessId((HWND)&found, nullptr), 0u);  // not a window
}

TEST_F(QueueTest, MessageBoxesRecordedAndEchoed) {
  HeadlessSetMessageBoxHook(
      [](const HeadlessMessageBox& box, void*) { EXPECT_STREQ(box.caption, "Fehlermeldung"); }, nullptr);
  HeadlessSetMessageBoxEcho(true);
  testing::internal::CaptureStdout();
  EXPECT_EQ(MessageBoxW(FixtureWindow(), u"Fehlernummer: 5", u"Fehlermeldung", MB_OK), IDOK);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Fehlermeldung: Fehlernummer: 5\n");
  HeadlessSetMessageBoxEcho(false);
  HeadlessSetMessageBoxHook(nullptr, nullptr);
  HeadlessSetMessageBoxAnswer(IDNO);
  EXPECT_EQ(MessageBoxW(nullptr, u"\u00dcber \U0001F600", u"Frage", MB_YESNO | MB_ICONHAND), IDNO);
  EXPECT_EQ(MessageBoxW((HWND)&Log, u"x", u"y", MB_OK), 0);  // an owner that is no window
  ASSERT_EQ(HeadlessMessageBoxCount(), 2);
  const HeadlessMessageBox* first = HeadlessMessageBoxAt(0);
  EXPECT_STREQ(first->text, "Fehlernummer: 5");
  EXPECT_EQ(first->owner, FixtureWindow());
  EXPECT_EQ(first->type, (uint32_t)MB_OK);
  const HeadlessMessageBox* second = HeadlessMessageBoxAt(1);
  EXPECT_STREQ(second->text, "\xC3\x9C" "ber \xF0\x9F\x98\x80");
  EXPECT_EQ(second->owner, nullptr);
  EXPECT_EQ(second->type, (uint32_t)(MB_YESNO | MB_ICONHAND));
  EXPECT_EQ(HeadlessMessageBoxAt(2), nullptr);
  // A text longer than the record keeps whole characters.
  std::u16string longText(2000, u'\u00e9');
  MessageBoxW(nullptr, longText.c_str(), u"Long", MB_OK);
  const HeadlessMessageBox* third = HeadlessMessageBoxAt(2);
  EXPECT_EQ(strlen(third->text), 1022u);
}

TEST_F(QueueTest, CursorCounterAndTimerPeriods) {
  const int start = ShowCursor(TRUE) - 1;
  EXPECT_EQ(ShowCursor(FALSE), start);
  EXPECT_EQ(ShowCursor(FALSE), start - 1);
  EXPECT_EQ(ShowCursor(TRUE), start);
  EXPECT_EQ(timeBeginPeriod(1), (UINT)TIMERR_NOERROR);
  EXPECT_EQ(timeEndPeriod(1), (UINT)TIMERR_NOERROR);
  EXPECT_EQ(timeEndPeriod(1), (UINT)TIMERR_NOCANDO);
  EXPECT_EQ(timeBeginPeriod(0), (UINT)TIMERR_NOCANDO);
  // The program has no icon resource; the application icon is the platform's.
  EXPECT_EQ(LoadIconW(nullptr, MAKEINTRESOURCEW(1)), nullptr);
  EXPECT_NE(LoadIconW(nullptr, MAKEINTRESOURCEW(32512)), nullptr);
}

TEST_F(QueueTest, ClockIsTheTests) {
  HeadlessSetClock(123456);
  EXPECT_EQ(GetTickCount(), 123456u);
  HeadlessReset();
  EXPECT_EQ(GetTickCount(), 0u);
}

}  // namespace
