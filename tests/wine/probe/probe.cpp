// The platform probe: one run of the calls the Parts make, with the results
// they rely on printed one per line ("name: value"). Built twice: on Linux
// against the stand-ins of platform/ (headless backend), and for Windows
// against the real interfaces (platform/windows/). The Wine test runs both
// and compares the lines; every line that differs is a place where a
// stand-in does not behave as the platform does. Values that legitimately
// differ between the two (addresses, text widths of different fonts) are
// printed only as the facts the Parts use (non-null, positive).
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/ddraw.h"
#include "platform/dinput.h"
#include "platform/kernel.h"
#include "platform/seh.h"
#include "platform/user.h"
#include "platform/winmm.h"

namespace {

void Say(const char* name, const char* format, unsigned long long value) {
  std::printf("%s: ", name);
  std::printf(format, value);
  std::printf("\n");
}
void Hr(const char* name, HRESULT hr) { Say(name, "0x%08llX", static_cast<uint32_t>(hr)); }
void Num(const char* name, long long value) { Say(name, "%lld", static_cast<unsigned long long>(value)); }
void Hex(const char* name, unsigned long long value) { Say(name, "0x%llX", value); }
void Flag(const char* name, bool value) { Say(name, "%llu", value ? 1 : 0); }

LRESULT ProbeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(window, message, wParam, lParam);
}

// The surface description of a Lock, as the Parts read it.
void Describe(const char* what, IDirectDrawSurface7* surface, int32_t width) {
  DDSURFACEDESC2 desc = {};
  desc.dwSize = sizeof desc;
  char name[64];
  std::snprintf(name, sizeof name, "%s Lock", what);
  Hr(name, surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr));
  std::snprintf(name, sizeof name, "%s lPitch", what);
  Num(name, desc.lPitch);
  std::snprintf(name, sizeof name, "%s lPitch >= width*4", what);
  Flag(name, desc.lPitch >= width * 4);
  std::snprintf(name, sizeof name, "%s lpSurface set", what);
  Flag(name, desc.lpSurface != nullptr);
  std::snprintf(name, sizeof name, "%s size", what);
  Num(name, static_cast<long long>(desc.dwWidth) * 100000 + desc.dwHeight);
  std::snprintf(name, sizeof name, "%s flags has caps|w|h|pitch|pf|lpsurface", what);
  Hex(name, desc.dwFlags & (DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT | DDSD_LPSURFACE));
  std::snprintf(name, sizeof name, "%s pixel format flags & RGB", what);
  Hex(name, desc.ddpfPixelFormat.dwFlags & DDPF_RGB);
  std::snprintf(name, sizeof name, "%s bits", what);
  Num(name, desc.ddpfPixelFormat.dwRGBBitCount);
  std::snprintf(name, sizeof name, "%s masks R G B", what);
  std::printf("%s: 0x%08X 0x%08X 0x%08X\n", name, unsigned(desc.ddpfPixelFormat.dwRBitMask),
              unsigned(desc.ddpfPixelFormat.dwGBitMask), unsigned(desc.ddpfPixelFormat.dwBBitMask));
  std::snprintf(name, sizeof name, "%s Unlock", what);
  Hr(name, surface->Unlock(nullptr));
}

// Fills a 32-bit surface: KEY in the left half, COLOUR in the right.
void Paint(IDirectDrawSurface7* surface, uint32_t key, uint32_t colour) {
  DDSURFACEDESC2 desc = {};
  desc.dwSize = sizeof desc;
  if (surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr) != DD_OK) return;
  for (DWORD y = 0; y < desc.dwHeight; y++) {
    uint32_t* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(desc.lpSurface) + y * desc.lPitch);
    for (DWORD x = 0; x < desc.dwWidth; x++) row[x] = x < desc.dwWidth / 2 ? key : colour;
  }
  surface->Unlock(nullptr);
}

uint32_t PixelAt(IDirectDrawSurface7* surface, int32_t x, int32_t y) {
  DDSURFACEDESC2 desc = {};
  desc.dwSize = sizeof desc;
  if (surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr) != DD_OK) return 0xDEADBEEF;
  uint32_t value = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(desc.lpSurface) + y * desc.lPitch)[x];
  surface->Unlock(nullptr);
  return value;
}

// Faults: what the filter is handed, then a skip of the instruction.
struct FaultSeen {
  DWORD code;
  DWORD parameters;
  uintptr_t info0, info1;
  uint8_t firstByte;  // the byte at ExceptionAddress
  intptr_t ripMinusAddress;
};
FaultSeen Seen;
int SkipBytes;

LONG ProbeFilter(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  Seen.code = record->ExceptionCode;
  Seen.parameters = record->NumberParameters;
  Seen.info0 = record->NumberParameters > 0 ? record->ExceptionInformation[0] : 99;
  Seen.info1 = record->NumberParameters > 1 ? record->ExceptionInformation[1] : 99;
  uintptr_t address = reinterpret_cast<uintptr_t>(record->ExceptionAddress);
  SehRead(address, &Seen.firstByte, 1);
  Seen.ripMinusAddress = static_cast<intptr_t>(pointers->ContextRecord->Rip - address);
  pointers->ContextRecord->Rip = address + SkipBytes;
  return EXCEPTION_CONTINUE_EXECUTION;
}

void ReportFault(const char* what) {
  char name[64];
  std::snprintf(name, sizeof name, "fault %s code", what);
  Hex(name, Seen.code);
  std::snprintf(name, sizeof name, "fault %s parameters", what);
  Num(name, Seen.parameters);
  std::snprintf(name, sizeof name, "fault %s information", what);
  std::printf("%s: %llu 0x%llX\n", name, (unsigned long long)Seen.info0, (unsigned long long)Seen.info1);
  std::snprintf(name, sizeof name, "fault %s first byte at address", what);
  Hex(name, Seen.firstByte);
  std::snprintf(name, sizeof name, "fault %s Rip - ExceptionAddress", what);
  Num(name, Seen.ripMinusAddress);
  Seen = {};
}

void Faults() {
  LPTOP_LEVEL_EXCEPTION_FILTER before = SetUnhandledExceptionFilter(ProbeFilter);
  Flag("SetUnhandledExceptionFilter first returns null", before == nullptr);
  SkipBytes = 6;  // movl $1, (%rax)
  asm volatile("movl $1, (%%rax)" ::"a"(0) : "memory");
  ReportFault("write to 0");
  SkipBytes = 2;  // movl (%rax), %eax
  long value = 16;
  asm volatile("movl (%%rax), %%eax" : "+a"(value)::"memory");
  ReportFault("read from 16");
  SkipBytes = 1;
  asm volatile("int3");
  ReportFault("int3");
  SkipBytes = 2;
  asm volatile("ud2");
  ReportFault("ud2");
  SkipBytes = 2;  // idivl %ecx
  asm volatile("xorl %%edx, %%edx\n\tmovl $1, %%eax\n\txorl %%ecx, %%ecx\n\tidivl %%ecx" ::: "eax", "ecx", "edx");
  ReportFault("divide by 0");
  Flag("SetUnhandledExceptionFilter gives ours back", SetUnhandledExceptionFilter(nullptr) == ProbeFilter);
}

void Kernel() {
  DWORD needed = GetCurrentDirectoryW(0, nullptr);
  char16_t directory[1024];
  DWORD written = GetCurrentDirectoryW(1024, directory);
  Num("GetCurrentDirectoryW(0) - written", static_cast<long long>(needed) - written);
  Num("GetCurrentDirectoryW too small - written", static_cast<long long>(GetCurrentDirectoryW(2, directory)) -
                                                     static_cast<long long>(GetCurrentDirectoryW(1024, directory)));
  Flag("directory uses backslashes", std::char_traits<char16_t>::find(directory, written, u'\\') != nullptr);

  HANDLE missing = CreateFileW(u"Maps\\no-such.map", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  Flag("CreateFileW missing gives INVALID_HANDLE_VALUE", missing == INVALID_HANDLE_VALUE);
  HANDLE folder = CreateFileW(u"Maps", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
  Flag("CreateFileW on a folder fails", folder == INVALID_HANDLE_VALUE);
  if (folder != INVALID_HANDLE_VALUE) CloseHandle(folder);
  HANDLE file = CreateFileW(u"Maps\\demo.map", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  Flag("CreateFileW Maps\\demo.map opens", file != INVALID_HANDLE_VALUE);
  HANDLE upper = CreateFileW(u"MAPS\\DEMO.MAP", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  Flag("CreateFileW MAPS\\DEMO.MAP opens", upper != INVALID_HANDLE_VALUE);
  if (upper != INVALID_HANDLE_VALUE) CloseHandle(upper);
  DWORD size = GetFileSize(file, nullptr);
  Num("GetFileSize", size);
  Num("SetFilePointer past the end", SetFilePointer(file, 100000, nullptr, FILE_BEGIN));
  uint8_t buffer[16];
  DWORD got = 7;
  BOOL read = ReadFile(file, buffer, sizeof buffer, &got, nullptr);
  Num("ReadFile past the end result", read != 0);
  Num("ReadFile past the end bytes", got);
  Num("SetFilePointer -1 from the start", SetFilePointer(file, -1, nullptr, FILE_BEGIN));
  Num("SetFilePointer back to 0", SetFilePointer(file, 0, nullptr, FILE_BEGIN));
  read = ReadFile(file, buffer, 4, &got, nullptr);
  Num("ReadFile 4 bytes", static_cast<long long>(read != 0) * 10 + got);
  Flag("CloseHandle", CloseHandle(file) != 0);

  HANDLE heap = HeapCreate(0, 4096, 0);
  Flag("HeapCreate", heap != nullptr);
  void* block = HeapAlloc(heap, HEAP_ZERO_MEMORY, 37);
  Num("HeapSize of 37", static_cast<long long>(HeapSize(heap, 0, block)));
  void* none = HeapAlloc(heap, 0, 0);
  Flag("HeapAlloc of 0 gives a block", none != nullptr);
  Num("HeapSize of 0", none ? static_cast<long long>(HeapSize(heap, 0, none)) : -1);
  block = HeapReAlloc(heap, HEAP_ZERO_MEMORY, block, 100);
  bool zero = block != nullptr;
  for (int i = 37; zero && i < 100; i++) zero = static_cast<uint8_t*>(block)[i] == 0;
  Flag("HeapReAlloc zeroes the growth", zero);
  Num("HeapSize after HeapReAlloc", static_cast<long long>(HeapSize(heap, 0, block)));
  Flag("HeapFree", HeapFree(heap, 0, block) != 0);
  Flag("HeapDestroy", HeapDestroy(heap) != 0);

  char16_t wide[16] = {};
  Num("MultiByteToWideChar UTF-8 \"a\\xC3\\xA9\"", MultiByteToWideChar(CP_UTF8, 0, "a\xC3\xA9", -1, wide, 16));
  Hex("MultiByteToWideChar second unit", wide[1]);
  Num("MultiByteToWideChar bad byte", MultiByteToWideChar(CP_UTF8, 0, "a\xFF" "b", -1, wide, 16));
  Hex("MultiByteToWideChar bad byte unit", wide[1]);
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  Flag("GetVersionExA", GetVersionExA(&version) != 0);
  Num("GetVersionExA platform", version.dwPlatformId);
  DWORD tick = GetTickCount();
  Flag("GetTickCount does not go back", GetTickCount() >= tick);
  Num("timeBeginPeriod(1)", timeBeginPeriod(1));
  Num("timeEndPeriod(1)", timeEndPeriod(1));
  Num("timeBeginPeriod(0)", timeBeginPeriod(0));
  HMODULE nothing = LoadLibraryW(u"NO-SUCH.DLL");
  Flag("LoadLibraryW of a missing DLL fails", nothing == nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  KernelSetArguments(argc, argv);
  const int32_t width = 1024, height = 768;
  HINSTANCE instance = GetModuleHandleW(nullptr);
  Flag("GetModuleHandleW(null)", instance != nullptr);
  Kernel();

  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(WNDCLASSEXW);
  windowClass.style = CS_DBLCLKS;
  windowClass.lpfnWndProc = ProbeWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  windowClass.lpszClassName = u"Probe Class";
  Flag("LoadIconW of a missing icon", windowClass.hIcon != nullptr);
  Flag("RegisterClassExW", RegisterClassExW(&windowClass) != 0);
  Flag("RegisterClassExW twice", RegisterClassExW(&windowClass) != 0);
  HWND window = CreateWindowExW(0, u"Probe Class", u"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, instance, nullptr);
  Flag("CreateWindowExW", window != nullptr);
  Flag("SetWindowTextW", SetWindowTextW(window, u"Probe") != 0);
  Flag("MoveWindow", MoveWindow(window, 0, 0, width, height, TRUE) != 0);
  Num("ShowCursor(FALSE)", ShowCursor(FALSE));
  Num("ShowCursor(TRUE)", ShowCursor(TRUE));
  Flag("IsWindowVisible before ShowWindow", IsWindowVisible(window) != 0);

  HMODULE ddraw = LoadLibraryW(u"DDRAW.DLL");
  Flag("LoadLibraryW DDRAW.DLL", ddraw != nullptr);
  FARPROC routine = GetProcAddress(ddraw, "DirectDrawCreateEx");
  Flag("GetProcAddress DirectDrawCreateEx", routine != nullptr);
  LPDIRECTDRAWCREATEEX create = reinterpret_cast<LPDIRECTDRAWCREATEEX>(reinterpret_cast<void (*)()>(routine));
  void* created = nullptr;
  Hr("DirectDrawCreateEx", create(nullptr, &created, IID_IDirectDraw7, nullptr));
  IDirectDraw7* dd = static_cast<IDirectDraw7*>(created);
  if (!dd) return 1;
  DDSURFACEDESC2 desc = {};
  desc.dwSize = sizeof desc;
  desc.dwFlags = DDSD_CAPS;
  desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN;
  IDirectDrawSurface7* early = nullptr;
  Hr("CreateSurface before SetCooperativeLevel", dd->CreateSurface(&desc, &early, nullptr));
  if (early) early->Release();
  Hr("SetCooperativeLevel exclusive", dd->SetCooperativeLevel(window, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE));
  Hr("SetDisplayMode 0x0", dd->SetDisplayMode(0, 0, 32, 0, 0));
  Hr("SetDisplayMode 32 bits", dd->SetDisplayMode(width, height, 32, 0, 0));
  desc = {};
  desc.dwSize = sizeof desc;
  desc.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
  desc.dwBackBufferCount = 1;
  desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX | DDSCAPS_3DDEVICE;
  IDirectDrawSurface7* primary = nullptr;
  Hr("CreateSurface primary", dd->CreateSurface(&desc, &primary, nullptr));
  IDirectDrawSurface7* second = nullptr;
  Hr("CreateSurface second primary", dd->CreateSurface(&desc, &second, nullptr));
  if (second) second->Release();
  if (!primary) return 1;
  DDSCAPS2 caps = {};
  caps.dwCaps = DDSCAPS_BACKBUFFER | DDSCAPS_3DDEVICE;
  IDirectDrawSurface7* back = nullptr;
  Hr("GetAttachedSurface back buffer", primary->GetAttachedSurface(&caps, &back));
  if (!back) return 1;
  ShowWindow(window, SW_SHOWMAXIMIZED);
  Flag("IsWindowVisible after ShowWindow", IsWindowVisible(window) != 0);
  Flag("IsWindowEnabled", IsWindowEnabled(window) != 0);
  Flag("EnableWindow(FALSE) was disabled", EnableWindow(window, FALSE) != 0);
  Flag("EnableWindow(TRUE) was disabled", EnableWindow(window, TRUE) != 0);
  DWORD process = 0;
  Flag("GetWindowThreadProcessId thread", GetWindowThreadProcessId(window, &process) == GetCurrentThreadId());
  Flag("GetWindowThreadProcessId process", process == GetCurrentProcessId());
  Describe("primary", primary, width);
  Describe("back buffer", back, width);

  // A sprite as the Parts make one: off-screen, the display's format, odd width.
  desc = {};
  desc.dwSize = sizeof desc;
  desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH;
  desc.dwWidth = 33;
  desc.dwHeight = 7;
  desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN;
  IDirectDrawSurface7* sprite = nullptr;
  Hr("CreateSurface 33x7 off-screen", dd->CreateSurface(&desc, &sprite, nullptr));
  desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
  IDirectDrawSurface7* system = nullptr;
  Hr("CreateSurface 33x7 system memory", dd->CreateSurface(&desc, &system, nullptr));
  desc.dwWidth = 0;
  IDirectDrawSurface7* empty = nullptr;
  Hr("CreateSurface 0x7", dd->CreateSurface(&desc, &empty, nullptr));
  if (empty) empty->Release();
  if (!sprite || !system) return 1;
  Describe("sprite", sprite, 33);
  Describe("system sprite", system, 33);

  // Colour keys and blits.
  DDBLTFX fx = {};
  fx.dwSize = sizeof fx;
  fx.dwFillColor = 0x00123456;
  Hr("Blt colour fill whole back buffer", back->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx));
  Hex("pixel after the fill", PixelAt(back, 10, 10));
  RECT outside = {width - 10, 0, width + 10, 10};
  Hr("Blt colour fill past the right edge", back->Blt(&outside, nullptr, nullptr, DDBLT_COLORFILL, &fx));
  RECT upside = {10, 10, 5, 5};
  Hr("Blt colour fill inverted rect", back->Blt(&upside, nullptr, nullptr, DDBLT_COLORFILL, &fx));
  Paint(sprite, 0x00000000, 0x00ABCDEF);
  Hr("BltFast no key before a key is set", back->BltFast(100, 100, sprite, nullptr, DDBLTFAST_SRCCOLORKEY));
  Hex("pixel of the keyed half without a key", PixelAt(back, 101, 101));
  Hex("pixel of the other half without a key", PixelAt(back, 130, 101));
  DDCOLORKEY key = {0, 0};
  Hr("SetColorKey black", sprite->SetColorKey(DDCKEY_SRCBLT, &key));
  Hr("Blt colour fill again", back->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx));
  RECT source = {0, 0, 33, 7};
  Hr("BltFast keyed", back->BltFast(100, 100, sprite, &source, DDBLTFAST_SRCCOLORKEY | DDBLTFAST_WAIT));
  Hex("pixel of the keyed half", PixelAt(back, 101, 101));
  Hex("pixel of the other half", PixelAt(back, 130, 101));
  Hr("BltFast unkeyed", back->BltFast(200, 100, sprite, &source, DDBLTFAST_NOCOLORKEY));
  Hex("pixel of the keyed half unkeyed", PixelAt(back, 201, 101));
  Hr("BltFast past the right edge", back->BltFast(width - 10, 100, sprite, &source, DDBLTFAST_SRCCOLORKEY));
  Hr("BltFast past the bottom edge", back->BltFast(100, height - 3, sprite, &source, DDBLTFAST_SRCCOLORKEY));
  RECT beyond = {0, 0, 40, 7};
  Hr("BltFast source rect past the sprite", back->BltFast(300, 100, sprite, &beyond, 0));
  key = {0x00ABCDEF, 0x00ABCDEF};
  Hr("SetColorKey the other colour", sprite->SetColorKey(DDCKEY_SRCBLT, &key));
  Hr("BltFast keyed on the other colour", back->BltFast(400, 100, sprite, &source, DDBLTFAST_SRCCOLORKEY));
  Hex("pixel under the other colour", PixelAt(back, 430, 101));
  Hex("pixel of black with the other key", PixelAt(back, 401, 101));
  Hr("SetColorKey null (removes it)", sprite->SetColorKey(DDCKEY_SRCBLT, nullptr));
  Hr("BltFast keyed without a key", back->BltFast(500, 100, sprite, &source, DDBLTFAST_SRCCOLORKEY));
  Hex("pixel after the key was removed", PixelAt(back, 501, 101));
  Hex("pixel of the other half after the key was removed", PixelAt(back, 530, 101));

  // Device contexts and text.
  HDC dc = nullptr;
  Hr("GetDC", back->GetDC(&dc));
  HDC again = nullptr;
  Hr("GetDC twice", back->GetDC(&again));
  DDSURFACEDESC2 locked = {};
  locked.dwSize = sizeof locked;
  HRESULT lockWithDc = back->Lock(nullptr, &locked, DDLOCK_WAIT, nullptr);
  Hr("Lock while the DC is held", lockWithDc);
  if (lockWithDc == DD_OK) back->Unlock(nullptr);
  Num("SetTextAlign TA_UPDATECP gives", SetTextAlign(dc, TA_UPDATECP));
  Hex("SetTextColor first gives", SetTextColor(dc, RGB(255, 255, 255)));
  Num("SetBkMode TRANSPARENT gives", SetBkMode(dc, TRANSPARENT));
  Num("SetROP2 R2_COPYPEN gives", SetROP2(dc, R2_COPYPEN));
  HBRUSH brush = CreateSolidBrush(RGB(0, 0, 0));
  Flag("CreateSolidBrush", brush != nullptr);
  Flag("SelectObject gives the previous", SelectObject(dc, brush) != nullptr);
  Flag("GetStockObject NULL_BRUSH", GetStockObject(NULL_BRUSH) != nullptr);
  RECT box = {0, 0, 8, 8};
  Flag("FillRect", FillRect(dc, &box, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH))) != 0);
  Flag("MoveToEx", MoveToEx(dc, 10, 20, nullptr) != 0);
  Flag("TextOutW", TextOutW(dc, 500, 500, u"ESC Quit", 8) != 0);
  POINT end = {0, 0};
  MoveToEx(dc, 0, 0, &end);
  Flag("TextOutW moved the position right", end.x > 10);
  Num("TextOutW kept the position's y", end.y);
  Hr("ReleaseDC", back->ReleaseDC(dc));
  Hex("pixel of FillRect white", PixelAt(back, 2, 2));
  Hr("ReleaseDC twice", back->ReleaseDC(dc));
  Flag("DeleteObject", DeleteObject(brush) != 0);

  // Flips, loss and restore.
  Hr("Flip", primary->Flip(nullptr, DDFLIP_WAIT));
  Hr("Flip the back buffer", back->Flip(nullptr, DDFLIP_WAIT));
  Hr("IsLost", primary->IsLost());
  Hr("Restore when not lost", sprite->Restore());
  Hr("RestoreAllSurfaces when not lost", dd->RestoreAllSurfaces());
  Hr("WaitForVerticalBlank", dd->WaitForVerticalBlank(DDWAITVB_BLOCKBEGIN, nullptr));
  Hr("Unlock not locked", sprite->Unlock(nullptr));

  // The keyboard.
  HMODULE dinput = LoadLibraryW(u"DINPUT.DLL");
  Flag("LoadLibraryW DINPUT.DLL", dinput != nullptr);
  routine = GetProcAddress(dinput, "DirectInputCreateEx");
  Flag("GetProcAddress DirectInputCreateEx", routine != nullptr);
  LPDIRECTINPUTCREATEEX createInput =
      reinterpret_cast<LPDIRECTINPUTCREATEEX>(reinterpret_cast<void (*)()>(routine));
  created = nullptr;
  Hr("DirectInputCreateEx 0x0700", createInput(instance, DIRECTINPUT_VERSION, IID_IDirectInput7W, &created, nullptr));
  IDirectInput7W* input = static_cast<IDirectInput7W*>(created);
  if (!input) return 1;
  void* deviceOut = nullptr;
  Hr("CreateDeviceEx keyboard", input->CreateDeviceEx(GUID_SysKeyboard, IID_IDirectInputDevice7W, &deviceOut, nullptr));
  IDirectInputDevice7W* device = static_cast<IDirectInputDevice7W*>(deviceOut);
  if (!device) return 1;
  uint8_t keys[256];
  Hr("GetDeviceState before SetDataFormat", device->GetDeviceState(256, keys));
  Hr("Acquire before SetDataFormat", device->Acquire());
  static DIOBJECTDATAFORMAT objects[256];
  for (DWORD i = 0; i < 256; i++) objects[i] = {&GUID_Key, i, DIDFT_OPTIONAL | DIDFT_BUTTON | DIDFT_MAKEINSTANCE(i), 0};
  DIDATAFORMAT format = {sizeof(DIDATAFORMAT), sizeof(DIOBJECTDATAFORMAT), DIDF_RELAXIS, 256, 256, objects};
  Hr("SetDataFormat", device->SetDataFormat(&format));
  Hr("GetDeviceState before Acquire", device->GetDeviceState(256, keys));
  Hr("SetCooperativeLevel 0x16", device->SetCooperativeLevel(window, 0x16));
  Hr("Acquire", device->Acquire());
  Hr("Acquire twice", device->Acquire());
  std::memset(keys, 0x55, sizeof keys);
  Hr("GetDeviceState", device->GetDeviceState(256, keys));
  int held = 0;
  for (uint8_t k : keys) held += k != 0;
  Num("keys not 0", held);
  Hr("GetDeviceState 255 bytes", device->GetDeviceState(255, keys));
  Hr("Unacquire", device->Unacquire());
  Hr("Unacquire twice", device->Unacquire());
  Hr("GetDeviceState after Unacquire", device->GetDeviceState(256, keys));
  device->Release();
  input->Release();

  Faults();

  Hr("SetCooperativeLevel normal", dd->SetCooperativeLevel(nullptr, DDSCL_NORMAL));
  sprite->Release();
  system->Release();
  back->Release();
  primary->Release();
  dd->Release();
  Flag("FreeLibrary", FreeLibrary(ddraw) != 0);
  std::fflush(stdout);
  ExitProcess(0);
}
