// Differential tests of the instruction decoder against GNU objdump: lengths of
// a generated set over the whole 32-bit opcode space, and of every instruction
// in the .text of real 64-bit binaries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "errors/decoder.h"

namespace {

bool ObjdumpPresent() {
  FILE* pipe = popen("objdump --version 2>/dev/null", "r");
  if (!pipe) return false;
  char buffer[256];
  bool any = std::fgets(buffer, sizeof buffer, pipe) != nullptr;
  return pclose(pipe) == 0 && any;
}

// One disassembled instruction: where it stands, its bytes and its text.
struct ObjdumpLine {
  uint64_t address;
  std::vector<uint8_t> bytes;
  std::string text;
};

// Runs objdump and parses "address:\tbytes\ttext" lines.
std::vector<ObjdumpLine> RunObjdump(const std::string& arguments) {
  std::vector<ObjdumpLine> lines;
  std::string command = "objdump " + arguments + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return lines;
  static char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, pipe)) {
    char* tab = std::strchr(buffer, '\t');
    if (!tab || tab == buffer || tab[-1] != ':') continue;
    char* end = nullptr;
    uint64_t address = std::strtoull(buffer, &end, 16);
    if (end != tab - 1) continue;
    ObjdumpLine line;
    line.address = address;
    char* p = tab + 1;
    while (p[0] && p[1] && std::isxdigit(uint8_t(p[0])) && std::isxdigit(uint8_t(p[1])) &&
           (p[2] == ' ' || p[2] == '\t' || p[2] == '\n')) {
      line.bytes.push_back(uint8_t(std::strtoul(std::string(p, 2).c_str(), nullptr, 16)));
      p += 3;
      while (*p == ' ') p++;
    }
    if (*p == '\t') p++;
    line.text = p;
    while (!line.text.empty() && (line.text.back() == '\n' || line.text.back() == ' ')) line.text.pop_back();
    if (!line.bytes.empty()) lines.push_back(line);
  }
  pclose(pipe);
  return lines;
}

std::string Hex(const uint8_t* bytes, size_t n) {
  std::string text;
  char digits[4];
  for (size_t i = 0; i < n; i++) {
    std::snprintf(digits, sizeof digits, "%02X", bytes[i]);
    text += digits;
  }
  return text;
}

bool IsBad(const std::string& text) { return text.find("(bad)") != std::string::npos; }

// ---- the generated 32-bit set ---------------------------------------------

struct Case {
  std::vector<uint8_t> bytes;  // exactly the decoder's length
  std::string line;
};

// Bytes that follow the opcode and ModRM: SIB, displacement and immediate.
const uint8_t Filler[] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF1, 0x23, 0x45, 0x67, 0x89};

// Cases already taken, by their bytes (held as strings: GCC 12 warns falsely on
// ordering byte vectors in Release builds).
void AddCase(std::vector<uint8_t> bytes, std::set<std::string>* seen, std::vector<Case>* cases) {
  for (uint8_t b : Filler) bytes.push_back(b);
  int32_t length = InstructionDecodeBytes(bytes.data(), int32_t(bytes.size()), 0, InstructionMode32);
  if (length == 0) return;
  std::string line = InstructionLine();
  if (line.find("???") != std::string::npos) return;  // not defined by this decoder
  bytes.resize(size_t(length));
  if (!seen->insert(std::string(bytes.begin(), bytes.end())).second) return;
  cases->push_back({bytes, line});
}

// Every opcode of both maps with every ModRM, SIB bytes across all their
// forms, and the prefix combinations over a sample of ModRM bytes that covers
// every mod, every reg and the special rm values.
std::vector<Case> GenerateCases() {
  std::vector<std::vector<uint8_t>> opcodes;
  const std::set<int> prefixes = {0x0F, 0x26, 0x2E, 0x36, 0x3E, 0x64, 0x65, 0x66, 0x67, 0xF0, 0xF2, 0xF3};
  for (int b = 0; b < 256; b++) {
    if (!prefixes.count(b)) opcodes.push_back({uint8_t(b)});
  }
  for (int b = 0; b < 256; b++) opcodes.push_back({0x0F, uint8_t(b)});

  std::set<std::string> seen;
  std::vector<Case> cases;
  int rotation = 0;
  for (const auto& opcode : opcodes) {
    for (int modrm = 0; modrm < 256; modrm++) {
      std::vector<uint8_t> bytes = opcode;
      bytes.push_back(uint8_t(modrm));
      bytes.push_back(uint8_t((rotation++ * 29) & 0xFF));  // a SIB byte where one is read
      AddCase(bytes, &seen, &cases);
    }
  }
  // Every SIB byte under each displacement form.
  const std::vector<std::vector<uint8_t>> sibOpcodes = {{0x8B}, {0xC7}, {0x81}, {0x0F, 0xAF}, {0xD9}, {0x0F, 0xBA}};
  for (const auto& opcode : sibOpcodes) {
    for (int modrm : {0x04, 0x44, 0x84, 0x3C, 0x7C, 0xBC}) {
      for (int sib = 0; sib < 256; sib++) {
        std::vector<uint8_t> bytes = opcode;
        bytes.push_back(uint8_t(modrm));
        bytes.push_back(uint8_t(sib));
        AddCase(bytes, &seen, &cases);
      }
    }
  }
  std::vector<int> sample;
  for (int mod = 0; mod < 4; mod++) {
    for (int reg = 0; reg < 8; reg++) {
      for (int rm : {4, 5, 6, (reg + mod) & 7}) sample.push_back(mod << 6 | reg << 3 | rm);
    }
  }
  const std::vector<std::vector<uint8_t>> combinations = {
      {0x66}, {0x67}, {0x66, 0x67}, {0x67, 0x66}, {0xF3}, {0xF2}, {0xF0}, {0x2E},
      {0x64}, {0x26, 0x66}, {0xF3, 0x66}, {0x67, 0x3E}, {0xF0, 0x66, 0x67}, {0x65, 0xF2, 0x67}};
  for (const auto& combination : combinations) {
    for (const auto& opcode : opcodes) {
      for (int modrm : sample) {
        std::vector<uint8_t> bytes = combination;
        bytes.insert(bytes.end(), opcode.begin(), opcode.end());
        bytes.push_back(uint8_t(modrm));
        bytes.push_back(uint8_t((rotation++ * 29) & 0xFF));
        AddCase(bytes, &seen, &cases);
      }
    }
  }
  return cases;
}

// Places where the documented 80486-generation decoder and objdump read
// different instructions from the same bytes, by design: later processors
// took these encodings over.
const char* DocumentedDivergence(const std::vector<uint8_t>& bytes) {
  size_t i = 0;
  while (i < bytes.size() && (bytes[i] == 0x66 || bytes[i] == 0x67 || bytes[i] == 0xF0 ||
                              bytes[i] == 0xF2 || bytes[i] == 0xF3 || bytes[i] == 0x26 ||
                              bytes[i] == 0x2E || bytes[i] == 0x36 || bytes[i] == 0x3E ||
                              bytes[i] == 0x64 || bytes[i] == 0x65))
    i++;
  if (i < bytes.size() && bytes[i] == 0x9B) return "WAIT read by objdump as a prefix of what follows";
  if (i + 1 >= bytes.size()) return nullptr;
  uint8_t opcode = bytes[i];
  uint8_t next = bytes[i + 1];
  if ((opcode == 0xC4 || opcode == 0xC5) && next >= 0xC0) return "LES/LDS register form read as VEX";
  if (opcode == 0x62 && next >= 0xC0) return "BOUND register form read as EVEX";
  if (opcode == 0x8F && ((next >> 3) & 7) != 0) return "POP r/m with reg not 0 read as XOP";
  return nullptr;
}

}  // namespace

TEST(DecoderObjdump, GeneratedThirtyTwoBitSetAgreesOnLength) {
  if (!ObjdumpPresent()) GTEST_SKIP() << "objdump (GNU binutils) is not installed; differential test skipped";
  std::vector<Case> cases = GenerateCases();
  ASSERT_GT(cases.size(), 50000u);

  // Each case stands at the start of a 16-byte slot; the rest of the slot is
  // one instruction of 66h prefixes and a NOP, so objdump finds every slot
  // start again even after a disagreement.
  constexpr size_t Slot = 16;
  std::vector<uint8_t> image(cases.size() * Slot, 0x66);
  for (size_t c = 0; c < cases.size(); c++) {
    std::memcpy(&image[c * Slot], cases[c].bytes.data(), cases[c].bytes.size());
    image[c * Slot + Slot - 1] = 0x90;
  }
  std::string path = std::string(TESSEL_BINARY_DIR) + "/decoder_objdump_32.bin";
  {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
  }
  std::vector<ObjdumpLine> lines = RunObjdump("-D -b binary -m i386 --insn-width=16 " + path);
  std::remove(path.c_str());
  ASSERT_FALSE(lines.empty());
  std::map<uint64_t, const ObjdumpLine*> at;
  for (const auto& line : lines) at[line.address] = &line;

  size_t agreed = 0, bad = 0, lost = 0;
  bool previousBad = false;
  std::map<std::string, size_t> divergences;
  std::vector<std::string> disagreements;
  for (size_t c = 0; c < cases.size(); c++) {
    auto found = at.find(c * Slot);
    if (found == at.end()) {
      // objdump's (bad) may run on into the next slot.
      if (previousBad) {
        bad++;
        continue;
      }
      lost++;
      if (disagreements.size() < 40) {
        disagreements.push_back("slot lost after " + Hex(cases[c - 1].bytes.data(), cases[c - 1].bytes.size()) +
                                " \"" + cases[c - 1].line + "\"");
      }
      continue;
    }
    const ObjdumpLine& theirs = *found->second;
    previousBad = IsBad(theirs.text);
    if (previousBad) {
      bad++;
      continue;
    }
    if (theirs.bytes.size() == cases[c].bytes.size()) {
      agreed++;
      continue;
    }
    if (const char* why = DocumentedDivergence(cases[c].bytes)) {
      divergences[why]++;
      continue;
    }
    if (disagreements.size() < 40) {
      disagreements.push_back(Hex(cases[c].bytes.data(), cases[c].bytes.size()) + " ours " +
                              std::to_string(cases[c].bytes.size()) + " \"" + cases[c].line +
                              "\", objdump " + std::to_string(theirs.bytes.size()) + " \"" + theirs.text + "\"");
    }
  }
  size_t disagreed = cases.size() - agreed - bad - lost;
  for (const auto& d : divergences) disagreed -= d.second;
  std::printf("32-bit: %zu instructions, %zu agree, %zu objdump (bad), %zu disagree\n", cases.size(), agreed, bad,
              disagreed);
  for (const auto& d : divergences) std::printf("  documented divergence: %s: %zu\n", d.first.c_str(), d.second);
  for (const auto& d : disagreements) std::printf("  %s\n", d.c_str());
  EXPECT_EQ(disagreed, 0u);
  EXPECT_EQ(lost, 0u);
}

namespace {

struct BinaryResult {
  size_t checked = 0;
  size_t bad = 0;
  std::vector<std::string> disagreements;
  size_t disagreed = 0;
};

// Walks every instruction objdump finds in the file's .text.
BinaryResult CheckBinary(const std::string& file) {
  BinaryResult result;
  std::vector<ObjdumpLine> lines = RunObjdump("-d -z -j .text --insn-width=16 " + file);
  // The instructions of .text follow each other without gaps; decode each
  // from a stream that goes on past it, as in memory.
  std::vector<uint8_t> stream;
  std::vector<size_t> offsets;
  for (const auto& line : lines) {
    offsets.push_back(stream.size());
    stream.insert(stream.end(), line.bytes.begin(), line.bytes.end());
  }
  for (size_t i = 0; i < lines.size(); i++) {
    if (i > 0 && lines[i].address != lines[i - 1].address + lines[i - 1].bytes.size()) continue;
    if (IsBad(lines[i].text) || lines[i].text.rfind(".byte", 0) == 0) {
      result.bad++;
      continue;
    }
    size_t offset = offsets[i];
    int32_t length = InstructionDecodeBytes(stream.data() + offset, int32_t(std::min<size_t>(stream.size() - offset, 64)),
                                            lines[i].address, InstructionMode64);
    result.checked++;
    if (size_t(length) != lines[i].bytes.size()) {
      result.disagreed++;
      if (result.disagreements.size() < 20) {
        result.disagreements.push_back(Hex(lines[i].bytes.data(), lines[i].bytes.size()) + " ours " +
                                       std::to_string(length) + ", objdump \"" + lines[i].text + "\"");
      }
    }
  }
  return result;
}

void ExpectBinaryAgrees(const std::string& file) {
  BinaryResult result = CheckBinary(file);
  std::printf("64-bit %s: %zu instructions, %zu disagree, %zu objdump (bad)\n", file.c_str(), result.checked,
              result.disagreed, result.bad);
  for (const auto& d : result.disagreements) std::printf("  %s\n", d.c_str());
  EXPECT_GT(result.checked, 1000u) << file;
  EXPECT_EQ(result.disagreed, 0u) << file;
}

}  // namespace

TEST(DecoderObjdump, TestBinaryTextAgreesOnLength) {
  if (!ObjdumpPresent()) GTEST_SKIP() << "objdump (GNU binutils) is not installed; differential test skipped";
  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  ASSERT_FALSE(error) << error.message();
  ExpectBinaryAgrees(self.string());
}

TEST(DecoderObjdump, TesselBinaryTextAgreesOnLength) {
  if (!ObjdumpPresent()) GTEST_SKIP() << "objdump (GNU binutils) is not installed; differential test skipped";
  std::string tessel = std::string(TESSEL_BINARY_DIR) + "/tessel";
  if (!std::ifstream(tessel).good()) GTEST_SKIP() << "the tessel binary is not built in " << TESSEL_BINARY_DIR;
  ExpectBinaryAgrees(tessel);
}

TEST(DecoderObjdump, CLibraryTextAgreesOnLength) {
  if (!ObjdumpPresent()) GTEST_SKIP() << "objdump (GNU binutils) is not installed; differential test skipped";
  const char* libc = "/lib/x86_64-linux-gnu/libc.so.6";
  if (!std::ifstream(libc).good()) GTEST_SKIP() << libc << " is not present";
  ExpectBinaryAgrees(libc);
}
