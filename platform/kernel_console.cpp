// Console control stand-in over POSIX signals: SIGINT arrives at the handlers
// as CTRL_C_EVENT, SIGTERM as CTRL_CLOSE_EVENT. Handlers run inside the signal
// handler, newest first, until one takes the request; when none does, the
// signal's own action (ending the process) follows, as it would without them.
#include <signal.h>

#include <cstring>

#include "platform/kernel.h"

namespace {

constexpr int MaxHandlers = 8;

// Process state. The list is written only outside the signal handler, and a
// handler's slot is filled before the count that makes it visible grows.
struct ConsoleState {
  PHANDLER_ROUTINE handlers[MaxHandlers];
  volatile sig_atomic_t count;
  bool installed;
  struct sigaction previous[2];
};
ConsoleState Console;

constexpr int ConsoleSignals[2] = {SIGINT, SIGTERM};

void ConsoleSignal(int signal) {
  const DWORD type = signal == SIGINT ? CTRL_C_EVENT : CTRL_CLOSE_EVENT;
  for (int i = Console.count - 1; i >= 0; i--)
    if (Console.handlers[i] && Console.handlers[i](type)) return;
  // Nobody took it: the signal's default action ends the process.
  struct sigaction fallback = {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal, &fallback, nullptr);
  raise(signal);
}

}  // namespace

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add) {
  if (!handler) return FALSE;
  if (!add) {
    for (int i = 0; i < Console.count; i++)
      if (Console.handlers[i] == handler) {
        for (int j = i; j + 1 < Console.count; j++) Console.handlers[j] = Console.handlers[j + 1];
        Console.count = Console.count - 1;
        return TRUE;
      }
    return FALSE;
  }
  if (Console.count >= MaxHandlers) return FALSE;
  Console.handlers[Console.count] = handler;
  Console.count = Console.count + 1;
  if (!Console.installed) {
    Console.installed = true;
    struct sigaction action = {};
    action.sa_handler = ConsoleSignal;
    sigemptyset(&action.sa_mask);
    // Blocking calls go on after the handler; the flag it sets is read by the
    // program's own loop.
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 2; i++) sigaction(ConsoleSignals[i], &action, &Console.previous[i]);
  }
  return TRUE;
}
