// Command-line parameters, handed out one at a time into the StringBuffer,
// and the working directory.
#pragma once

#include <cstdint>

// Creates the parameter cursor with its counter at 0.
void ArgCursorCreate();
void ArgNext(int32_t position);
void ArgAt(int32_t index, int32_t position);
int32_t ArgCount();
// Appends the current directory, ending in a backslash (empty on failure).
void WorkingDirectory(int32_t position);
