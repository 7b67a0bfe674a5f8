// Windows: DirectInput 7 (DIRECTINPUT_VERSION 0x0700) from mingw-w64's
// <dinput.h>, loaded at run time from "DINPUT.DLL"; only the type of
// "DirectInputCreateEx" as GetProcAddress hands it out is added.
#pragma once

#include "platform/win32.h"

#include <dinput.h>

typedef HRESULT(WINAPI* LPDIRECTINPUTCREATEEX)(HINSTANCE instance, DWORD version, REFIID iid, void** out,
                                              IUnknown* outer);
