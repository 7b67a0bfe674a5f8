// Starts Xvfb for the end-to-end tests on a display number it picks itself
// (-displayfd), so parallel runs never collide, with -noreset: otherwise the
// server resets whenever its last client leaves (the tests' own xwininfo runs
// come and go), and a client that connects meanwhile is refused.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/shell.h"

// Starts Xvfb with one screen of SIZE ("1024x768x24") and the EXTRA
// arguments, its output in LOG; *pid gets its process, *display its name
// (":N"). "" once the server answers a client, otherwise what went wrong.
inline std::string XvfbStart(const std::string& size, const std::vector<std::string>& extra, const std::string& log,
                             pid_t* pid, std::string* display) {
  int fds[2];
  if (pipe(fds) != 0) return "no pipe";
  std::vector<std::string> args = {"Xvfb", "-displayfd", "3", "-screen", "0", size, "-nolisten", "tcp", "-noreset"};
  args.insert(args.end(), extra.begin(), extra.end());
  *pid = fork();
  if (*pid == 0) {
    dup2(fds[1], 3);
    int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(out, 2);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execvp("Xvfb", argv.data());
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  while (poll(&p, 1, 10000) > 0) {
    char c;
    if (read(fds[0], &c, 1) != 1 || c == '\n') break;
    number += c;
  }
  close(fds[0]);
  if (number.empty()) return "Xvfb did not start";
  *display = ":" + number;
  // The number comes when the server listens; a client is served once it answers.
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  int code = 1;
  while (Shell("DISPLAY=" + *display + " xdpyinfo >/dev/null 2>&1", &code), code != 0 &&
                                                                               std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return code == 0 ? "" : "Xvfb on " + *display + " does not answer";
}
