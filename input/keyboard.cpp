// The keyboard: the system keyboard device of the DirectInput stand-in
// ("DINPUT.DLL"), read once per frame into KeyState and queried by scan code.
// The device's cooperative level is tied to ScreenWindow (screen/screen.h).
#include "input/keyboard.h"

#include "platform/kernel.h"
#include "runtime/runtime.h"
#include "screen/screen.h"

uint8_t KeyState[256];
int32_t KeyboardPhase;
DIDATAFORMAT KeyboardFormat;

enum : int32_t { KeyboardClosed = 0, KeyboardCreated = 1, KeyboardAcquired = 2 };

struct KeyboardModule {
  IDirectInput7W* input;  // shared by every opener
  int32_t uses;           // KeyboardInit calls not yet matched by KeyboardRelease
  HMODULE library;
  IDirectInputDevice7W* device;
  int32_t opened;
  DIOBJECTDATAFORMAT* objects;  // the format's 256 records
  HANDLE objectsHeap;           // the heap they came from
};

static KeyboardModule Keyboard;

static const DWORD KeyboardCooperativeLevel = DISCL_NONEXCLUSIVE | DISCL_FOREGROUND | DISCL_NOWINKEY;

// Fills the 256 object records and the format record; 0 when no memory.
static int32_t KeyboardFormatBuild() {
  if (!Keyboard.objects || Keyboard.objectsHeap != MainHeap) {
    if (!MainHeap) return 0;
    Keyboard.objects = static_cast<DIOBJECTDATAFORMAT*>(HeapAlloc(MainHeap, 0, 256 * sizeof(DIOBJECTDATAFORMAT)));
    Keyboard.objectsHeap = MainHeap;
    if (!Keyboard.objects) return 0;
  }
  for (DWORD i = 0; i < 256; i++) {
    DIOBJECTDATAFORMAT& object = Keyboard.objects[i];
    object.pguid = &GUID_Key;
    object.dwOfs = i;
    object.dwType = DIDFT_OPTIONAL | DIDFT_BUTTON | DIDFT_MAKEINSTANCE(i);
    object.dwFlags = 0;
  }
  KeyboardFormat.dwSize = sizeof(DIDATAFORMAT);
  KeyboardFormat.dwObjSize = sizeof(DIOBJECTDATAFORMAT);
  KeyboardFormat.dwFlags = DIDF_RELAXIS;
  KeyboardFormat.dwDataSize = sizeof(KeyState);
  KeyboardFormat.dwNumObjs = 256;
  KeyboardFormat.rgodf = Keyboard.objects;
  return 1;
}

int32_t KeyboardInit() {
  if (!Keyboard.input) {
    Keyboard.library = LoadLibraryW(u"DINPUT.DLL");
    if (Keyboard.library) {
      FARPROC routine = GetProcAddress(Keyboard.library, "DirectInputCreateEx");
      if (routine) {
        LPDIRECTINPUTCREATEEX create =
            reinterpret_cast<LPDIRECTINPUTCREATEEX>(reinterpret_cast<void (*)()>(routine));
        void* created = nullptr;
        // Only whether an interface came back counts, not the result code.
        create(InstanceHandle, DIRECTINPUT_VERSION, IID_IDirectInput7W, &created, nullptr);
        Keyboard.input = static_cast<IDirectInput7W*>(created);
      }
      if (!Keyboard.input) {
        FreeLibrary(Keyboard.library);
        Keyboard.library = nullptr;
      }
    }
  }
  Keyboard.uses++;
  Keyboard.opened = 1;
  if (!Keyboard.input) return 0;
  if (KeyboardPhase != KeyboardClosed) return 1;
  if (!KeyboardFormatBuild()) return 0;
  void* device = nullptr;
  if (Keyboard.input->CreateDeviceEx(GUID_SysKeyboard, IID_IDirectInputDevice7W, &device, nullptr) != DI_OK ||
      !device)
    return 0;
  Keyboard.device = static_cast<IDirectInputDevice7W*>(device);
  if (Keyboard.device->SetDataFormat(&KeyboardFormat) != DI_OK) {
    // A device without its format is of no use; the next call makes a new one.
    Keyboard.device->Release();
    Keyboard.device = nullptr;
    return 0;
  }
  KeyboardPhase = KeyboardCreated;
  return 1;
}

int32_t KeyboardPoll() {
  if (KeyboardPhase == KeyboardClosed || !Keyboard.device) return 0;
  if (KeyboardPhase == KeyboardCreated) {
    Keyboard.device->SetCooperativeLevel(ScreenWindow, KeyboardCooperativeLevel);
    Keyboard.device->Acquire();
    KeyboardPhase = KeyboardAcquired;
  }
  if (Keyboard.device->GetDeviceState(sizeof(KeyState), KeyState) == DI_OK) return 1;
  // KeyState keeps its old bytes, but KeyDown reads nothing until a poll succeeds.
  KeyboardPhase = KeyboardCreated;
  return 0;
}

int32_t KeyDown(int32_t code) {
  if (KeyboardPhase != KeyboardAcquired) return 0;
  if (code == -1) {
    // Entry 255 is not examined.
    for (int32_t i = 0; i < 255; i++)
      if (KeyState[i] & 0x80) return 1;
    return 0;
  }
  if (code < 0 || code > 255) return 0;
  return KeyState[code] & 0x80;
}

void KeyboardRelease() {
  if (!Keyboard.opened) return;
  if (Keyboard.device) {
    Keyboard.device->Unacquire();
    Keyboard.device->Release();
    Keyboard.device = nullptr;
    KeyboardPhase = KeyboardClosed;
  }
  Keyboard.uses--;
  if (Keyboard.uses <= 0) {
    if (Keyboard.input) Keyboard.input->Release();
    if (Keyboard.library) FreeLibrary(Keyboard.library);
    Keyboard.input = nullptr;
    Keyboard.library = nullptr;
    // Every use is given back: a further release has nothing to do.
    Keyboard.uses = 0;
    Keyboard.opened = 0;
  }
}
