// The modal message box over MessageBoxW: the calling thread's other windows
// are disabled around it and exactly those are enabled again afterwards. The
// disabled windows are kept in DisabledWindowList (runtime object lists).
#include "errors/messagebox.h"

#include "platform/kernel.h"
#include "platform/user.h"
#include "runtime/objects.h"

ObjectNode* DisabledWindowList;

// EnumWindows routine: disables one window of this thread that is visible,
// enabled and not in the foreground; always continues.
static BOOL MessageDisableWindow(HWND window, LPARAM foreground) {
  DWORD thread = GetCurrentThreadId();
  if (GetWindowThreadProcessId(window, nullptr) != thread) return TRUE;
  if (!IsWindowVisible(window) || !IsWindowEnabled(window)) return TRUE;
  if (window == reinterpret_cast<HWND>(foreground)) return TRUE;
  // Listed before it is disabled: a window that could not be listed would
  // never be enabled again.
  DisabledWindow* entry = static_cast<DisabledWindow*>(ObjectListAdd(&DisabledWindowList, sizeof(DisabledWindow)));
  if (!entry) return TRUE;
  entry->threadId = thread;
  entry->window = window;
  EnableWindow(window, FALSE);
  return TRUE;
}

int32_t MessageShow(const char16_t* caption, const char16_t* text, uint32_t type) {
  EnumWindows(MessageDisableWindow, reinterpret_cast<LPARAM>(GetForegroundWindow()));
  HWND owner = GetForegroundWindow();
  if (owner) {
    DWORD process = 0;
    GetWindowThreadProcessId(owner, &process);
    if (process != GetCurrentProcessId()) owner = nullptr;
  }
  int32_t result = MessageBoxW(owner, text, caption, type);
  DWORD thread = GetCurrentThreadId();
  ObjectNode* node = DisabledWindowList;
  while (node) {
    ObjectNode* next = node->older;
    DisabledWindow* entry = reinterpret_cast<DisabledWindow*>(node->record);
    if (entry->threadId == thread) {
      EnableWindow(entry->window, TRUE);
      ObjectListRemove(&DisabledWindowList, entry);
    }
    node = next;
  }
  return result;
}

int32_t MessageShowOk(const char16_t* caption, const char16_t* text) { return MessageShow(caption, text, 0); }
