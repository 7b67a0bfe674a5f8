// Tessel on a terminal: --help and --version, the usage line for parameters
// that are missing or not numbers, and one line on standard error per error
// number saying what failed. The box and the exit code stay as they are.
#pragma once

#include <cstdint>

// Before RuntimeStart: --help or --version as the only argument print on
// standard output and give 1 (the program ends with code 0, nothing else
// runs); otherwise says on standard error what is wrong with the parameters,
// if anything, has ErrorExit explain its number, and gives 0.
int32_t TerminalStart(int argc, char** argv);
// The line ErrorExit prints for a number, worked out from the state the
// failed step left (which layer, which file and why); "" for no line.
// Valid until the next call.
const char* TerminalExplanation(int8_t number);
// Whether text is a number as the runner reads one: optional spaces or tabs,
// an optional sign, then digits only.
bool TerminalIsNumber(const char* text);
