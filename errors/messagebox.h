// The modal message box: the calling thread's other visible, enabled
// top-level windows are disabled while the box is up.
#pragma once

#include <cstdint>

#include "platform/win32.h"

struct ObjectNode;

// A window MessageShow disabled and has not enabled again.
struct DisabledWindow {
  DWORD threadId;
  HWND window;
};

// Plain object list (ObjectListAdd/ObjectListRemove) of DisabledWindow records,
// newest first; empty at start.
extern ObjectNode* DisabledWindowList;

// The button pushed (MessageBoxW's result); type is the MessageBoxW style word.
int32_t MessageShow(const char16_t* caption, const char16_t* text, uint32_t type);
// MessageShow with one OK button and no icon.
int32_t MessageShowOk(const char16_t* caption, const char16_t* text);
