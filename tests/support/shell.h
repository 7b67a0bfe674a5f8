// What the end-to-end tests share: running a shell command, reading a file
// whole, and a picture (a screenshot or a PNG) read through ImageMagick as
// 8-bit RGB.
#pragma once

#include <sys/wait.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// Runs a shell command; returns its standard output, *code its exit status
// (-1 when it did not exit).
inline std::string Shell(const std::string& command, int* code = nullptr) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  int status = pclose(p);
  if (code) *code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

// A file's bytes; empty when it cannot be read.
inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A picture as 8-bit RGB, row by row from the top.
struct Shot {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
  uint32_t At(int x, int y) const {
    size_t i = (static_cast<size_t>(y) * width + x) * 3;
    return (uint32_t(rgb[i]) << 16) | (uint32_t(rgb[i + 1]) << 8) | rgb[i + 2];
  }
};

// Reads a picture file through ImageMagick; an empty Shot when it cannot.
inline Shot ReadPicture(const std::string& path) {
  std::string ppm = Shell("convert '" + path + "' -depth 8 ppm:- 2>/dev/null");
  Shot shot;
  // P6 header: magic, width, height, maximum, then one whitespace byte.
  if (ppm.compare(0, 2, "P6") != 0) return shot;
  size_t pos = 2;
  std::vector<long> fields;
  while (fields.size() < 3 && pos < ppm.size()) {
    while (pos < ppm.size() && !isdigit(static_cast<unsigned char>(ppm[pos]))) pos++;
    size_t start = pos;
    while (pos < ppm.size() && isdigit(static_cast<unsigned char>(ppm[pos]))) pos++;
    fields.push_back(std::strtol(ppm.c_str() + start, nullptr, 10));
  }
  pos++;
  if (fields.size() < 3 || ppm.size() < pos + static_cast<size_t>(fields[0] * fields[1] * 3)) return shot;
  shot.width = static_cast<int>(fields[0]);
  shot.height = static_cast<int>(fields[1]);
  shot.rgb.assign(ppm.begin() + static_cast<long>(pos), ppm.begin() + static_cast<long>(pos) + fields[0] * fields[1] * 3);
  return shot;
}
