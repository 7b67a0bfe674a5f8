// tessel-x86: decodes one instruction from hexadecimal bytes and prints its
// length and its line, for checking the decoder against other disassemblers.
//   tessel-x86 [--64] [--at ADDRESS] HEXBYTES
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "errors/decoder.h"
#include "tools/version.h"

namespace {

const char UsageText[] =
    "usage: tessel-x86 [--64] [--at ADDRESS] HEXBYTES\n"
    "       tessel-x86 --help | --version\n"
    "  Decodes one x86 instruction (32-bit code unless --64, at address 0 unless --at)\n"
    "  and prints its length and the instruction as text.\n";

int Usage(const char* message) {
  std::fprintf(stderr, "tessel-x86: %s\n%s", message, UsageText);
  return 2;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

const char* SkipHexPrefix(const char* text) {
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) return text + 2;
  return text;
}

// Parses a hexadecimal address of at most 16 digits.
bool ParseAddress(const char* text, uint64_t* address) {
  text = SkipHexPrefix(text);
  size_t n = std::strlen(text);
  if (n == 0 || n > 16) return false;
  uint64_t value = 0;
  for (size_t i = 0; i < n; i++) {
    int digit = HexValue(text[i]);
    if (digit < 0) return false;
    value = value << 4 | uint64_t(digit);
  }
  *address = value;
  return true;
}

// Parses pairs of hexadecimal digits; blanks between pairs are allowed.
bool ParseBytes(const char* text, std::vector<uint8_t>* bytes) {
  text = SkipHexPrefix(text);
  std::string digits;
  for (const char* p = text; *p; p++) {
    if (*p == ' ' || *p == '\t') continue;
    if (HexValue(*p) < 0) return false;
    digits += *p;
  }
  if (digits.empty() || digits.size() % 2 != 0) return false;
  for (size_t i = 0; i < digits.size(); i += 2)
    bytes->push_back(uint8_t(HexValue(digits[i]) << 4 | HexValue(digits[i + 1])));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int32_t mode = InstructionMode32;
  uint64_t address = 0;
  const char* hex = nullptr;
  for (int i = 1; i < argc; i++) {
    if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(UsageText, stdout);
      return 0;
    } else if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("tessel-x86 %s\n", TesselVersion);
      return 0;
    } else if (std::strcmp(argv[i], "--64") == 0) {
      mode = InstructionMode64;
    } else if (std::strcmp(argv[i], "--at") == 0) {
      if (i + 1 >= argc) return Usage("--at needs an address");
      if (!ParseAddress(argv[++i], &address)) return Usage("the address is not hexadecimal");
    } else if (argv[i][0] == '-' && argv[i][1] != 0) {
      return Usage("unknown option");
    } else if (hex != nullptr) {
      return Usage("only one byte string is decoded");
    } else {
      hex = argv[i];
    }
  }
  if (hex == nullptr) return Usage("no bytes given");
  std::vector<uint8_t> bytes;
  if (!ParseBytes(hex, &bytes)) return Usage("the bytes are not pairs of hexadecimal digits");
  if (mode == InstructionMode32 && address > 0xFFFFFFFFu) return Usage("the address does not fit 32 bits");
  int32_t length = InstructionDecodeBytes(bytes.data(), int32_t(bytes.size()), address, mode);
  if (length == 0) return Usage("the instruction runs past the bytes given");
  std::string line;
  for (const char* p = InstructionLine(); *p; p++) {
    if (*p == '\r') line += "\\r";
    else if (*p == '\n') line += "\\n";
    else line += *p;
  }
  std::printf("%d\n%s\n", length, line.c_str());
  return 0;
}
