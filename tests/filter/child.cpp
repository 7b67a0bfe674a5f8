// Forked children for the fault tests: output through a pipe, the end state
// from waitpid.
#include "tests/filter/child.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>

#include "platform/headless.h"

void Say(const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  int length = std::vsnprintf(line, sizeof line - 1, format, args);
  va_end(args);
  if (length < 0) return;
  if (length > int(sizeof line) - 2) length = int(sizeof line) - 2;
  line[length++] = '\n';
  for (int done = 0; done < length;) {
    ssize_t wrote = write(1, line + done, size_t(length - done));
    if (wrote <= 0) return;
    done += int(wrote);
  }
}

ChildResult RunChild(void (*body)()) {
  ChildResult result;
  int pipe[2];
  if (::pipe(pipe) != 0) return {"", "pipe failed"};
  std::fflush(nullptr);
  pid_t child = fork();
  if (child < 0) return {"", "fork failed"};
  if (child == 0) {
    close(pipe[0]);
    dup2(pipe[1], 1);
    dup2(pipe[1], 2);
    close(pipe[1]);
    alarm(20);
    HeadlessReset();
    body();
    Say("returned");
    _exit(0);
  }
  close(pipe[1]);
  char buffer[4096];
  for (;;) {
    ssize_t got = read(pipe[0], buffer, sizeof buffer);
    if (got <= 0) break;
    result.out.append(buffer, size_t(got));
  }
  close(pipe[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFEXITED(status))
    result.end = "exit " + std::to_string(WEXITSTATUS(status));
  else if (WIFSIGNALED(status))
    result.end = "signal " + std::to_string(WTERMSIG(status));
  return result;
}
