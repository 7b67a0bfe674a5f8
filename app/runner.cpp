// The Map runner's main program: start-up (parameters, decoder, screen,
// keyboard, map), the frame loop with its text overlay and frame counter, the
// end of run, and the error exit through which every failure ends the run.
// Depends on every module of the runtime, screen, input and errors.
#include "app/map.h"
#include "app/runner.h"
#include "errors/errors.h"
#include "errors/messagebox.h"
#include "input/keyboard.h"
#include "platform/kernel.h"
#include "runtime/args.h"
#include "runtime/runtime.h"
#include "runtime/strings.h"
#include "runtime/timing.h"
#include "screen/decoders.h"
#include "screen/draw.h"
#include "screen/screen.h"
#include "app/line.h"

int32_t MapFileNumber;
int32_t TileSpriteBase;
StringVariable MapName;
int32_t ScreenWidth;
int32_t ScreenHeight;
int32_t AnimationInterval;
int16_t FpsFrames;
int16_t FpsShown;
int64_t FpsLastTick;

void (*ErrorExitExplain)(int8_t number);
volatile int32_t RunnerStopAsked;

void ErrorExit(int8_t number) {
  // Before the box: the terminal learns what failed while the box waits.
  L if (ErrorExitExplain != nullptr) {
    L ErrorExitExplain(number);
  }
  L int32_t start = StringBufferFill;
  L StrAppend(u"Fehlernummer:");
  L StrFromInt(number, StringBufferFill);
  L MessageShowOk(u"Fehlermeldung", StrArgBegin(start));
  L StrArgEnd(start);
  L RuntimeEnd();
}

void ErrorExitFault() {
  // A processor fault carries no number of its own; 9 is the one it shows.
  L ErrorExit(9);
}

void FpsCount() {
  // Widened as a signed 32-bit value: past 2^31 ms the count stops publishing.
  L int64_t now = (int32_t)TimerMilliseconds();
  L if (now >= FpsLastTick + 1000) {
    L FpsLastTick = now;
    L FpsShown = FpsFrames;
    L FpsFrames = 0;
  } else {
    // 16 bits, as the count always was: it wraps after 32767 frames unpublished.
    L FpsFrames = (int16_t)(FpsFrames + 1);
  }
}

// A stop request from the terminal (Ctrl+C, a termination request) is taken
// and noted; the frame loop ends on it as on Escape. A second one is left to
// the system, which ends the process at once: a run held up before the loop
// (in its error box, say) can still be stopped. Runs in a signal handler.
static BOOL RunnerStopHandler(DWORD) {
  if (RunnerStopAsked != 0) return FALSE;
  RunnerStopAsked = 1;
  return TRUE;
}

// Reads the next command-line parameter as a number (0 when missing or not numeric).
static int32_t RunnerNumberArg() {
  L int32_t start = StringBufferFill;
  L ArgNext(StringBufferFill);
  L int32_t value = IntFromStr(StrArgBegin(start));
  L StrArgEnd(start);
  L return value;
}

// The three overlay lines, white on the map, through the back buffer's device context.
static void RunnerOverlayDraw() {
  L int32_t start = 0;
  L DrawBegin(ScreenTarget());
  L DrawModeSet(1);
  L DrawString(10, 10, u"ESC Quit", 0xFFFFFF);
  L start = StringBufferFill;
  L StrAppend(u"Pos :");
  L StrFromInt(Map.viewX, StringBufferFill);
  L StrAppend(u"\\");
  L StrFromInt(Map.viewY, StringBufferFill);
  L DrawString(10, 30, StrArgBegin(start), 0xFFFFFF);
  L StrArgEnd(start);
  L start = StringBufferFill;
  L StrAppend(u"FPS : ");
  L StrFromInt(FpsShown, StringBufferFill);
  L DrawString(10, 50, StrArgBegin(start), 0xFFFFFF);
  L StrArgEnd(start);
  L DrawEnd();
}

int32_t RunnerFrame() {
  L KeyboardPoll();
  // Independent tests: with several arrows held each scroll runs, in this order.
  L if (KeyDown(DIK_RIGHT) != 0) {
    L MapScroll(1, 0);
  }
  L if (KeyDown(DIK_LEFT) != 0) {
    L MapScroll(-1, 0);
  }
  L if (KeyDown(DIK_UP) != 0) {
    L MapScroll(0, -1);
  }
  L if (KeyDown(DIK_DOWN) != 0) {
    L MapScroll(0, 1);
  }
  // The low 16 bits: 40000 becomes -25536 and steps every frame, 65636 becomes 100.
  L TileAnimate((int16_t)AnimationInterval);
  L MapDraw();
  L RunnerOverlayDraw();
  L FpsCount();
  L ScreenPresent();
  // Escape is tested on the state polled at the top of this frame.
  L return KeyDown(DIK_ESCAPE);
}

void MapRunnerMain() {
  L MapFileNumber = 99;
  L TileSpriteBase = 500;
  L ErrorExitSet(ErrorExitFault);
  L SetConsoleCtrlHandler(RunnerStopHandler, TRUE);

  L int32_t start = StringBufferFill;
  L ArgNext(StringBufferFill);
  L StrAssign(&MapName, start);
  L ScreenWidth = RunnerNumberArg();
  L ScreenHeight = RunnerNumberArg();
  L AnimationInterval = RunnerNumberArg();

  L PngDecoderUse();
  L if (ScreenSystemInit() == nullptr) {
    L ErrorExit(1);
  }
  L if (KeyboardInit() == 0) {
    L ErrorExit(1);
  }
  L if (ScreenOpen(ScreenWidth, ScreenHeight, 32, u"Tessel") == 0) {
    L ErrorExit(1);
  }
  L MapLoad(MapName);

  L for (;;) {
    L if (RunnerFrame() != 0 || RunnerStopAsked != 0) {
      L break;
    }
  }

  L MapFree();
  L RuntimeEnd();
}
