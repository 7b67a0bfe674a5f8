// exit-code.exe COMMAND-LINE: starts the program the rest of its command line
// names, with its own standard handles, waits for it and prints the exit code
// Windows keeps for it ("exit code N"). The Wine tests read a program's code
// here rather than from the status of Wine's Unix process, which Wine now and
// then ends with SIGKILL after the program itself has exited with its code.
#include <windows.h>

#include <cstdio>

int main() {
  // The command line after this program's own name, quoted or not.
  wchar_t* line = GetCommandLineW();
  bool quoted = false;
  while (*line && (quoted || (*line != L' ' && *line != L'\t'))) {
    if (*line == L'"') quoted = !quoted;
    line++;
  }
  while (*line == L' ' || *line == L'\t') line++;

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    std::printf("exit-code: cannot start the program (error %lu)\n", GetLastError());
    std::fflush(stdout);
    return 2;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  std::printf("exit code %lu\n", code);
  std::fflush(stdout);
  return 0;
}
