// Windows: DirectDraw 7 from mingw-w64's <ddraw.h>, loaded at run time from
// "DDRAW.DLL"; only the type of "DirectDrawCreateEx" as GetProcAddress hands
// it out is added.
#pragma once

#include "platform/win32.h"

#include <ddraw.h>

typedef HRESULT(WINAPI* LPDIRECTDRAWCREATEEX)(GUID* driver, void** directDraw, REFIID iid, IUnknown* outer);
