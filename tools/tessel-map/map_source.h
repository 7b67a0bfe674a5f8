// Map source compiler and map dump: the text description of a map that
// tessel-map builds, and the reader that prints a binary map back in it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Compiles map source text into the binary map file's bytes. Returns true on
// success; otherwise false with one "NAME:LINE: message" line per error in
// *errors. Warnings ("NAME:LINE: warning: message", for what Tessel will not
// show or will refuse) go to *errors too and do not stop the build.
bool MapSourceBuild(const std::string& text, const std::string& name,
                    std::vector<uint8_t>* out, std::string* errors);

// Prints every field of a binary map as map source, read exactly as the runner
// reads it, with "# warning:" lines for what the runner cannot show. Returns the
// number of warnings.
int MapDumpText(const std::vector<uint8_t>& bytes, const std::string& name, std::string* out);
