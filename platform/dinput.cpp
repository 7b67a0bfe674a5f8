// DirectInput 7 stand-in: the system keyboard device. GetDeviceState hands
// out the backend's key state in the DIK numbering, laid out by the data
// format the caller set, and fails while the device is not acquired or (for
// a foreground device) the window is not in the foreground.
#include <cstring>

#include "platform/backend.h"
#include "platform/dinput.h"

const GUID GUID_Key = {0x55728220, 0xD33C, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_SysKeyboard = {0x6F1D2B61, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID IID_IDirectInput7W = {0x9A4CB684, 0x236D, 0x11D3, {0x8E, 0x9D, 0x00, 0xC0, 0x4F, 0x68, 0x44, 0xAE}};
const GUID IID_IDirectInputDevice7W = {0x57D7C6BC, 0x2356, 0x11D3, {0x8E, 0x9D, 0x00, 0xC0, 0x4F, 0x68, 0x44, 0xAE}};

namespace {

// The platform's 32-bit records are 24 and 16 bytes; ours are wider because
// of the pointers, and either size is accepted.
constexpr DWORD DataFormatSize32 = 24;
constexpr DWORD ObjectFormatSize32 = 16;
constexpr uint16_t NoOffset = 0xFFFF;

struct KeyboardDevice final : IDirectInputDevice7W {
  uint32_t refs;
  bool formatSet;
  bool acquired;
  DWORD level;  // 0 until SetCooperativeLevel
  HWND window;
  DWORD dataSize;
  uint16_t offsets[256];  // byte of the caller's state for each key, or NoOffset

  uint32_t Release() override;
  HRESULT Acquire() override;
  HRESULT Unacquire() override;
  HRESULT GetDeviceState(DWORD size, void* data) override;
  HRESULT SetDataFormat(const DIDATAFORMAT* format) override;
  HRESULT SetCooperativeLevel(HWND window, DWORD flags) override;

  bool InForeground() const { return !(level & DISCL_FOREGROUND) || GetForegroundWindow() == window; }
};

struct DirectInput final : IDirectInput7W {
  uint32_t refs;

  uint32_t Release() override;
  HRESULT CreateDeviceEx(REFGUID device, REFIID iid, void** out, IUnknown* outer) override;
};

uint32_t KeyboardDevice::Release() {
  if (--refs) return refs;
  delete this;
  return 0;
}

HRESULT KeyboardDevice::Acquire() {
  if (!formatSet) return DIERR_INVALIDPARAM;
  if (acquired) return DI_NOEFFECT;
  if (!InForeground()) return DIERR_OTHERAPPHASPRIO;
  acquired = true;
  return DI_OK;
}

HRESULT KeyboardDevice::Unacquire() {
  if (!acquired) return DI_NOEFFECT;
  acquired = false;
  return DI_OK;
}

HRESULT KeyboardDevice::GetDeviceState(DWORD size, void* data) {
  uint8_t keys[256];
  BackendReadKeys(keys);
  // Without a data format the device cannot have been acquired.
  if (!formatSet) return DIERR_NOTACQUIRED;
  if (!data || size != dataSize) return DIERR_INVALIDPARAM;
  if (!acquired) return DIERR_NOTACQUIRED;
  if (!InForeground()) {
    // Leaving the foreground takes the device away; it must be acquired again.
    acquired = false;
    return DIERR_INPUTLOST;
  }
  uint8_t* out = (uint8_t*)data;
  std::memset(out, 0, size);
  for (int32_t i = 0; i < 256; i++)
    if (offsets[i] != NoOffset) out[offsets[i]] = keys[i];
  return DI_OK;
}

HRESULT KeyboardDevice::SetDataFormat(const DIDATAFORMAT* format) {
  if (acquired) return DIERR_ACQUIRED;
  if (!format) return DIERR_INVALIDPARAM;
  if (BackendFailures & HeadlessFailSetDataFormat) return DIERR_GENERIC;
  if ((format->dwSize != sizeof(DIDATAFORMAT) && format->dwSize != DataFormatSize32) ||
      (format->dwObjSize != sizeof(DIOBJECTDATAFORMAT) && format->dwObjSize != ObjectFormatSize32) ||
      format->dwDataSize != 256 || format->dwNumObjs != 256 || !format->rgodf)
    return DIERR_INVALIDPARAM;
  uint16_t map[256];
  std::memset(map, 0xFF, sizeof map);
  for (DWORD i = 0; i < format->dwNumObjs; i++) {
    const DIOBJECTDATAFORMAT& o = format->rgodf[i];
    const DWORD instance = (o.dwType >> 8) & 0xFFFF;
    if ((o.pguid && !IsEqualGUID(*o.pguid, GUID_Key)) || !(o.dwType & DIDFT_BUTTON) || o.dwOfs >= format->dwDataSize)
      return DIERR_INVALIDPARAM;
    if (instance >= 256) {
      if (!(o.dwType & DIDFT_OPTIONAL)) return DIERR_INVALIDPARAM;
      continue;
    }
    map[instance] = (uint16_t)o.dwOfs;
  }
  std::memcpy(offsets, map, sizeof offsets);
  dataSize = format->dwDataSize;
  formatSet = true;
  return DI_OK;
}

HRESULT KeyboardDevice::SetCooperativeLevel(HWND target, DWORD flags) {
  if (acquired) return DIERR_ACQUIRED;
  const DWORD sharing = flags & (DISCL_EXCLUSIVE | DISCL_NONEXCLUSIVE);
  const DWORD focus = flags & (DISCL_FOREGROUND | DISCL_BACKGROUND);
  if ((sharing != DISCL_EXCLUSIVE && sharing != DISCL_NONEXCLUSIVE) ||
      (focus != DISCL_FOREGROUND && focus != DISCL_BACKGROUND))
    return DIERR_INVALIDPARAM;
  if (sharing == DISCL_EXCLUSIVE && focus == DISCL_BACKGROUND) return DIERR_INVALIDPARAM;  // not for keyboards
  if (!UserIsWindow(target)) return DIERR_INVALIDPARAM;
  level = flags;
  window = target;
  return DI_OK;
}

uint32_t DirectInput::Release() {
  if (--refs) return refs;
  delete this;
  return 0;
}

HRESULT DirectInput::CreateDeviceEx(REFGUID device, REFIID iid, void** out, IUnknown* outer) {
  if (!out) return DIERR_INVALIDPARAM;
  *out = nullptr;
  if (outer) return DIERR_NOAGGREGATION;
  if (!IsEqualGUID(device, GUID_SysKeyboard)) return DIERR_DEVICENOTREG;
  if (!IsEqualGUID(iid, IID_IDirectInputDevice7W)) return DIERR_NOINTERFACE;
  if (BackendFailures & HeadlessFailCreateDevice) return DIERR_GENERIC;
  KeyboardDevice* k = new KeyboardDevice();
  k->refs = 1;
  std::memset(k->offsets, 0xFF, sizeof k->offsets);
  *out = static_cast<IDirectInputDevice7W*>(k);
  return DI_OK;
}

HRESULT DirectInputCreateEx(HINSTANCE, DWORD version, REFIID iid, void** out, IUnknown* outer) {
  if (!out) return DIERR_INVALIDPARAM;
  *out = nullptr;
  if (outer) return DIERR_NOAGGREGATION;
  if (version < 0x0300 || version > DIRECTINPUT_VERSION) return DIERR_INVALIDPARAM;
  if (!IsEqualGUID(iid, IID_IDirectInput7W)) return DIERR_NOINTERFACE;
  if (BackendFailures & HeadlessFailDirectInputCreate) return DIERR_GENERIC;
  DirectInput* di = new DirectInput();
  di->refs = 1;
  *out = static_cast<IDirectInput7W*>(di);
  return DI_OK;
}

}  // namespace

FARPROC DInputCreateEntry() { return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&DirectInputCreateEx)); }
