// A small program on the sdl backend for the platform tests: takes the
// display at the mode on its command line, shows a frame of four coloured
// quarters with a line of text, reports on standard output and ends when
// Escape is held (exit 0) or after ten seconds (exit 3). With "box" it only
// shows a message box and prints the button pushed; "question" does the same
// with a two-line Yes/No/Cancel box.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/ddraw.h"
#include "platform/dinput.h"
#include "platform/kernel.h"
#include "platform/user.h"
#include "platform/winmm.h"

namespace {

LRESULT Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT ps;
    BeginPaint(window, &ps);
    EndPaint(window, &ps);
    return 0;
  }
  if (message == WM_CLOSE) return 0;
  return DefWindowProcW(window, message, wParam, lParam);
}

template <typename T>
T Entry(const char16_t* module, const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<void (*)()>(GetProcAddress(LoadLibraryW(module), name)));
}

int Fail(const char* what) {
  std::printf("failed: %s\n", what);
  std::fflush(stdout);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  KernelSetArguments(argc, argv);
  if (argc > 1 && std::strcmp(argv[1], "box") == 0) {
    std::printf("button %d\n", MessageBoxW(nullptr, u"Fehlernummer: 7", u"Fehlermeldung", MB_OK));
    return 0;
  }
  if (argc > 1 && std::strcmp(argv[1], "question") == 0) {
    std::printf("button %d\n", MessageBoxW(nullptr, u"Eins\r\nZwei", u"Frage", MB_YESNOCANCEL));
    return 0;
  }
  const DWORD width = argc > 2 ? (DWORD)std::atoi(argv[1]) : 320, height = argc > 2 ? (DWORD)std::atoi(argv[2]) : 200;
  const DWORD depth = argc > 3 ? (DWORD)std::atoi(argv[3]) : 16;

  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = Proc;
  wc.lpszClassName = u"Smoke";
  if (!RegisterClassExW(&wc)) return Fail("class");
  HWND window = CreateWindowExW(0, u"Smoke", u"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  if (!window) return Fail("window");
  SetWindowTextW(window, u"Tessel smoke");

  void* out = nullptr;
  auto ddCreate = Entry<LPDIRECTDRAWCREATEEX>(u"DDRAW.DLL", "DirectDrawCreateEx");
  if (!ddCreate || ddCreate(nullptr, &out, IID_IDirectDraw7, nullptr) != DD_OK) return Fail("ddraw");
  IDirectDraw7* dd = static_cast<IDirectDraw7*>(out);
  MoveWindow(window, 0, 0, (int)width, (int)height, TRUE);
  ShowCursor(FALSE);
  if (dd->SetCooperativeLevel(window, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE) != DD_OK) return Fail("level");
  if (dd->SetDisplayMode(width, height, depth, 0, 0) != DD_OK) return Fail("mode");
  DDSURFACEDESC2 desc = {};
  desc.dwSize = 124;
  desc.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
  desc.dwBackBufferCount = 1;
  desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX | DDSCAPS_3DDEVICE;
  IDirectDrawSurface7 *primary = nullptr, *back = nullptr;
  if (dd->CreateSurface(&desc, &primary, nullptr) != DD_OK) return Fail("primary");
  DDSCAPS2 caps = {DDSCAPS_BACKBUFFER | DDSCAPS_3DDEVICE, 0, 0, 0};
  if (primary->GetAttachedSurface(&caps, &back) != DD_OK) return Fail("back");
  ShowWindow(window, SW_SHOWMAXIMIZED);
  timeBeginPeriod(1);

  void* input = nullptr;
  auto diCreate = Entry<LPDIRECTINPUTCREATEEX>(u"DINPUT.DLL", "DirectInputCreateEx");
  if (!diCreate || diCreate(nullptr, DIRECTINPUT_VERSION, IID_IDirectInput7W, &input, nullptr) != DI_OK)
    return Fail("dinput");
  void* device = nullptr;
  if (static_cast<IDirectInput7W*>(input)->CreateDeviceEx(GUID_SysKeyboard, IID_IDirectInputDevice7W, &device,
                                                          nullptr) != DI_OK)
    return Fail("device");
  IDirectInputDevice7W* keyboard = static_cast<IDirectInputDevice7W*>(device);
  static DIOBJECTDATAFORMAT objects[256];
  for (int i = 0; i < 256; i++) objects[i] = {&GUID_Key, (DWORD)i, DIDFT_OPTIONAL | DIDFT_BUTTON | DIDFT_MAKEINSTANCE(i), 0};
  DIDATAFORMAT format = {24, 16, DIDF_RELAXIS, 256, 256, objects};
  if (keyboard->SetDataFormat(&format) != DI_OK) return Fail("format");
  keyboard->SetCooperativeLevel(window, DISCL_NONEXCLUSIVE | DISCL_FOREGROUND | DISCL_NOWINKEY);
  keyboard->Acquire();

  // Four quarters: red, green, blue, white.
  const DWORD colours[4][4] = {{0x7C00, 0x03E0, 0x001F, 0x7FFF},
                               {0xF800, 0x07E0, 0x001F, 0xFFFF},
                               {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF},
                               {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF}};
  const int row = depth == 15 ? 0 : depth == 16 ? 1 : depth == 24 ? 2 : 3;
  bool reported = false;
  for (int frame = 0; frame < 600; frame++) {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      DispatchMessageA(&m);
    }
    for (int q = 0; q < 4; q++) {
      RECT r = {(LONG)(q % 2 * width / 2), (LONG)(q / 2 * height / 2), (LONG)((q % 2 + 1) * width / 2),
                (LONG)((q / 2 + 1) * height / 2)};
      DDBLTFX fx = {};
      fx.dwSize = 100;
      fx.dwFillColor = colours[row][q];
      back->Blt(&r, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
    }
    HDC dc;
    if (back->GetDC(&dc) == DD_OK) {
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, RGB(255, 255, 0));
      TextOutW(dc, 10, 10, u"ESC Quit", 8);
      back->ReleaseDC(dc);
    }
    HRESULT flipped = primary->Flip(nullptr, DDFLIP_WAIT);
    if (flipped == DDERR_SURFACELOST) {
      dd->SetCooperativeLevel(window, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE);
      dd->SetDisplayMode(width, height, depth, 0, 0);
      dd->RestoreAllSurfaces();
    }
    if (!reported && flipped == DD_OK && frame >= 2) {
      std::printf("ready %dx%dx%d\n", (int)width, (int)height, (int)depth);
      std::fflush(stdout);
      reported = true;
    }
    uint8_t keys[256];
    HRESULT read = keyboard->GetDeviceState(256, keys);
    if (read != DI_OK) {
      keyboard->Acquire();
      continue;
    }
    if (keys[DIK_ESCAPE] & 0x80) {
      std::printf("escape after %d frames\n", frame);
      std::fflush(stdout);
      keyboard->Unacquire();
      keyboard->Release();
      static_cast<IDirectInput7W*>(input)->Release();
      back->Release();
      primary->Release();
      dd->SetCooperativeLevel(nullptr, DDSCL_NORMAL);
      dd->Release();
      timeEndPeriod(1);
      ExitProcess(0);
    }
  }
  std::printf("no escape\n");
  return 3;
}
