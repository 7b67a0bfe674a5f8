// The keyboard device: the data format it accepts, acquisition, the key
// state in DIK numbering, and failing while the window is in the background.
#include "platform/dinput.h"
#include "tests/platform/fixture.h"

namespace {

DIOBJECTDATAFORMAT Objects[256];

DIDATAFORMAT KeyboardFormat() {
  for (int i = 0; i < 256; i++)
    Objects[i] = {&GUID_Key, (DWORD)i, DIDFT_OPTIONAL | DIDFT_BUTTON | DIDFT_MAKEINSTANCE(i), 0};
  return {24, 16, DIDF_RELAXIS, 256, 256, Objects};
}

class KeyboardTest : public ::testing::Test {
 protected:
  IDirectInput7W* input = nullptr;
  IDirectInputDevice7W* keyboard = nullptr;

  void SetUp() override {
    HeadlessReset();
    ASSERT_NE(FixtureWindow(), nullptr);
    FixtureDrain();
    auto create = reinterpret_cast<LPDIRECTINPUTCREATEEX>(
        reinterpret_cast<void (*)()>(GetProcAddress(LoadLibraryW(u"DINPUT.DLL"), "DirectInputCreateEx")));
    ASSERT_NE(create, nullptr);
    void* out = nullptr;
    ASSERT_EQ(create(nullptr, DIRECTINPUT_VERSION, IID_IDirectInput7W, &out, nullptr), DI_OK);
    input = static_cast<IDirectInput7W*>(out);
    ASSERT_EQ(input->CreateDeviceEx(GUID_SysKeyboard, IID_IDirectInputDevice7W, &out, nullptr), DI_OK);
    keyboard = static_cast<IDirectInputDevice7W*>(out);
  }
  void TearDown() override {
    if (keyboard) keyboard->Release();
    if (input) input->Release();
    FixtureDrain();
    HeadlessReset();
  }
  void Ready() {
    DIDATAFORMAT f = KeyboardFormat();
    ASSERT_EQ(keyboard->SetDataFormat(&f), DI_OK);
    ASSERT_EQ(keyboard->SetCooperativeLevel(FixtureWindow(), DISCL_NONEXCLUSIVE | DISCL_FOREGROUND | DISCL_NOWINKEY),
              DI_OK);
    ASSERT_EQ(keyboard->Acquire(), DI_OK);
  }
};

TEST_F(KeyboardTest, AcceptsOnlyTheKeyboardFormat) {
  DIDATAFORMAT f = KeyboardFormat();
  DIDATAFORMAT wrong = f;
  wrong.dwDataSize = 128;
  EXPECT_EQ(keyboard->SetDataFormat(&wrong), DIERR_INVALIDPARAM);
  wrong = f;
  wrong.dwNumObjs = 255;
  EXPECT_EQ(keyboard->SetDataFormat(&wrong), DIERR_INVALIDPARAM);
  wrong = f;
  wrong.dwSize = 20;
  EXPECT_EQ(keyboard->SetDataFormat(&wrong), DIERR_INVALIDPARAM);
  wrong = f;
  wrong.dwObjSize = 12;
  EXPECT_EQ(keyboard->SetDataFormat(&wrong), DIERR_INVALIDPARAM);
  EXPECT_EQ(keyboard->SetDataFormat(nullptr), DIERR_INVALIDPARAM);
  Objects[7].dwOfs = 300;  // outside the data
  EXPECT_EQ(keyboard->SetDataFormat(&f), DIERR_INVALIDPARAM);
  f = KeyboardFormat();
  EXPECT_EQ(keyboard->Acquire(), DIERR_INVALIDPARAM);  // no format yet
  EXPECT_EQ(keyboard->SetDataFormat(&f), DI_OK);
  f.dwSize = sizeof(DIDATAFORMAT);  // the native record size is accepted too
  f.dwObjSize = sizeof(DIOBJECTDATAFORMAT);
  EXPECT_EQ(keyboard->SetDataFormat(&f), DI_OK);
}

TEST_F(KeyboardTest, StateInDikNumbering) {
  Ready();
  HeadlessSetKey(DIK_ESCAPE, true);
  HeadlessSetKey(DIK_RIGHT, true);
  uint8_t keys[256];
  ASSERT_EQ(keyboard->GetDeviceState(256, keys), DI_OK);
  EXPECT_EQ(keys[DIK_ESCAPE], 0x80);
  EXPECT_EQ(keys[DIK_RIGHT], 0x80);
  EXPECT_EQ(keys[DIK_LEFT], 0);
  HeadlessClearKeys();
  ASSERT_EQ(keyboard->GetDeviceState(256, keys), DI_OK);
  EXPECT_EQ(keys[DIK_ESCAPE], 0);
  EXPECT_EQ(keyboard->GetDeviceState(128, keys), DIERR_INVALIDPARAM);
  // Format and level cannot change while acquired.
  DIDATAFORMAT f = KeyboardFormat();
  EXPECT_EQ(keyboard->SetDataFormat(&f), DIERR_ACQUIRED);
  EXPECT_EQ(keyboard->Unacquire(), DI_OK);
  EXPECT_EQ(keyboard->GetDeviceState(256, keys), DIERR_NOTACQUIRED);
}

TEST_F(KeyboardTest, FailsInTheBackgroundUntilAcquiredAgain) {
  Ready();
  HeadlessSetKey(DIK_UP, true);
  uint8_t keys[256];
  HeadlessSetForeground(false);
  EXPECT_EQ(keyboard->GetDeviceState(256, keys), DIERR_INPUTLOST);
  EXPECT_EQ(keyboard->GetDeviceState(256, keys), DIERR_NOTACQUIRED);
  EXPECT_EQ(keyboard->Acquire(), DIERR_OTHERAPPHASPRIO);
  HeadlessSetForeground(true);
  EXPECT_EQ(keyboard->GetDeviceState(256, keys), DIERR_NOTACQUIRED);
  ASSERT_EQ(keyboard->Acquire(), DI_OK);
  ASSERT_EQ(keyboard->GetDeviceState(256, keys), DI_OK);
  EXPECT_EQ(keys[DIK_UP], 0x80);
}

struct Script {
  uint64_t seen[4];
  int count;
};

TEST_F(KeyboardTest, PollHookRunsBeforeEveryRead) {
  Ready();
  Script script = {};
  HeadlessSetPollHook(
      [](uint64_t poll, void* user) {
        Script* s = static_cast<Script*>(user);
        if (s->count < 4) s->seen[s->count++] = poll;
        HeadlessSetClock((DWORD)(poll * 16));
        HeadlessSetKey(DIK_SPACE, poll == 1);
      },
      &script);
  uint8_t keys[256];
  ASSERT_EQ(keyboard->GetDeviceState(256, keys), DI_OK);
  EXPECT_EQ(keys[DIK_SPACE], 0);
  ASSERT_EQ(keyboard->GetDeviceState(256, keys), DI_OK);
  EXPECT_EQ(keys[DIK_SPACE], 0x80);
  EXPECT_EQ(GetTickCount(), 16u);
  ASSERT_EQ(script.count, 2);
  EXPECT_EQ(script.seen[0], 0u);
  EXPECT_EQ(script.seen[1], 1u);
}

TEST_F(KeyboardTest, RefusedLevelsAndDevices) {
  EXPECT_EQ(keyboard->SetCooperativeLevel(FixtureWindow(), DISCL_NONEXCLUSIVE), DIERR_INVALIDPARAM);
  EXPECT_EQ(keyboard->SetCooperativeLevel(FixtureWindow(), DISCL_EXCLUSIVE | DISCL_NONEXCLUSIVE | DISCL_FOREGROUND),
            DIERR_INVALIDPARAM);
  EXPECT_EQ(keyboard->SetCooperativeLevel(nullptr, DISCL_NONEXCLUSIVE | DISCL_FOREGROUND), DIERR_INVALIDPARAM);
  void* out = &out;
  EXPECT_EQ(input->CreateDeviceEx(GUID_Key, IID_IDirectInputDevice7W, &out, nullptr), DIERR_DEVICENOTREG);
  EXPECT_EQ(out, nullptr);
  HeadlessSetFailures(HeadlessFailCreateDevice);
  EXPECT_NE(input->CreateDeviceEx(GUID_SysKeyboard, IID_IDirectInputDevice7W, &out, nullptr), DI_OK);
  HeadlessSetFailures(HeadlessFailSetDataFormat);
  DIDATAFORMAT f = KeyboardFormat();
  EXPECT_NE(keyboard->SetDataFormat(&f), DI_OK);
  HeadlessSetFailures(0);
}

}  // namespace
