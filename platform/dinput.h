// DirectInput 7 stand-in: the system keyboard as a 256-byte state in the DIK
// scan-code numbering. Obtained through LoadLibraryW("DINPUT.DLL") and
// GetProcAddress("DirectInputCreateEx").
#pragma once

#include "platform/win32.h"

#define DI_OK 0
#define DIERR_GENERIC ((HRESULT)0x80004005)
#define DIERR_INVALIDPARAM ((HRESULT)0x80070057)
#define DIERR_NOTACQUIRED ((HRESULT)0x8007000C)
#define DIERR_INPUTLOST ((HRESULT)0x8007001E)
#define DIERR_DEVICENOTREG ((HRESULT)0x80040154)
#define DIERR_ACQUIRED ((HRESULT)0x800700AA)

#define DIRECTINPUT_VERSION 0x0700

#define DISCL_EXCLUSIVE 0x00000001
#define DISCL_NONEXCLUSIVE 0x00000002
#define DISCL_FOREGROUND 0x00000004
#define DISCL_BACKGROUND 0x00000008
#define DISCL_NOWINKEY 0x00000010

#define DIDF_ABSAXIS 0x00000001
#define DIDF_RELAXIS 0x00000002
#define DIDFT_BUTTON 0x0000000C
#define DIDFT_OPTIONAL 0x80000000u
#define DIDFT_MAKEINSTANCE(n) ((WORD)(n) << 8)

struct DIOBJECTDATAFORMAT {
  const GUID* pguid;
  DWORD dwOfs;
  DWORD dwType;
  DWORD dwFlags;
};

struct DIDATAFORMAT {
  DWORD dwSize;
  DWORD dwObjSize;
  DWORD dwFlags;
  DWORD dwDataSize;
  DWORD dwNumObjs;
  DIOBJECTDATAFORMAT* rgodf;
};

struct IDirectInputDevice7W : IUnknown {
  virtual HRESULT Acquire() = 0;
  virtual HRESULT Unacquire() = 0;
  virtual HRESULT GetDeviceState(DWORD size, void* data) = 0;
  virtual HRESULT SetDataFormat(const DIDATAFORMAT* format) = 0;
  virtual HRESULT SetCooperativeLevel(HWND window, DWORD flags) = 0;

 protected:
  ~IDirectInputDevice7W() = default;
};

struct IDirectInput7W : IUnknown {
  virtual HRESULT CreateDeviceEx(REFGUID device, REFIID iid, void** out, IUnknown* outer) = 0;

 protected:
  ~IDirectInput7W() = default;
};

extern const GUID GUID_Key;                  // {55728220-D33C-11CF-BFC7-444553540000}
extern const GUID GUID_SysKeyboard;          // {6F1D2B61-D5A0-11CF-BFC7-444553540000}
extern const GUID IID_IDirectInput7W;        // {9A4CB684-236D-11D3-8E9D-00C04F6844AE}
extern const GUID IID_IDirectInputDevice7W;  // {57D7C6BC-2356-11D3-8E9D-00C04F6844AE}

typedef HRESULT (*LPDIRECTINPUTCREATEEX)(HINSTANCE instance, DWORD version, REFIID iid, void** out,
                                         IUnknown* outer);

// Scan codes (DIK numbering).
#define DIK_ESCAPE 0x01
#define DIK_TAB 0x0F
#define DIK_RETURN 0x1C
#define DIK_LCONTROL 0x1D
#define DIK_LSHIFT 0x2A
#define DIK_RSHIFT 0x36
#define DIK_LMENU 0x38
#define DIK_SPACE 0x39
#define DIK_UP 0xC8
#define DIK_LEFT 0xCB
#define DIK_RIGHT 0xCD
#define DIK_DOWN 0xD0
