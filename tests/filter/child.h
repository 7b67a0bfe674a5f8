// Runs a piece of a test in a forked child that may fault, end the process or
// hang (a 20 s alarm ends it), and hands back its output and how it ended.
#pragma once

#include <cstdint>
#include <string>

struct ChildResult {
  std::string out;  // everything the child wrote to standard output and error
  std::string end;  // "exit N", "signal N"
};

// body runs in the child on a fresh headless backend; "returned" is written
// and the child exits with 0 should body return.
ChildResult RunChild(void (*body)());
// One line of child output, printf-style, written straight to the descriptor.
void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));
