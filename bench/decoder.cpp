// InstructionDecode over mixed instruction streams: the .text of the C library
// in long mode (through the host entry, guard included) and a generated 32-bit
// stream. Reports instructions per second and the allocations made while
// decoding, which must be none.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <new>
#include <vector>

#include "errors/decoder.h"

namespace {

std::atomic<long> Allocations{0};

uint64_t Read64(const std::vector<uint8_t>& file, size_t at) {
  uint64_t value = 0;
  if (at + 8 <= file.size()) std::memcpy(&value, &file[at], 8);
  return value;
}
uint32_t Read32(const std::vector<uint8_t>& file, size_t at) {
  uint32_t value = 0;
  if (at + 4 <= file.size()) std::memcpy(&value, &file[at], 4);
  return value;
}
uint16_t Read16(const std::vector<uint8_t>& file, size_t at) {
  uint16_t value = 0;
  if (at + 2 <= file.size()) std::memcpy(&value, &file[at], 2);
  return value;
}

// The bytes of the .text section of a 64-bit ELF file, empty if none.
std::vector<uint8_t> TextSection(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (file.size() < 64 || std::memcmp(file.data(), "\x7F" "ELF\x02", 5) != 0) return {};
  uint64_t sections = Read64(file, 0x28);
  uint16_t entrySize = Read16(file, 0x3A), count = Read16(file, 0x3C), names = Read16(file, 0x3E);
  uint64_t namesOffset = Read64(file, sections + uint64_t(names) * entrySize + 0x18);
  for (uint16_t i = 0; i < count; i++) {
    size_t header = sections + size_t(i) * entrySize;
    size_t name = namesOffset + Read32(file, header);
    if (name + 6 > file.size() || std::memcmp(&file[name], ".text", 6) != 0) continue;
    uint64_t offset = Read64(file, header + 0x18), size = Read64(file, header + 0x20);
    if (offset + size > file.size()) return {};
    return std::vector<uint8_t>(file.begin() + long(offset), file.begin() + long(offset + size));
  }
  return {};
}

// A 32-bit stream mixing the instruction forms compilers of that generation
// emit, with prefixes, x87 and two-byte opcodes among them.
std::vector<uint8_t> ThirtyTwoBitStream() {
  static const std::vector<std::vector<uint8_t>> forms = {
      {0x8B, 0x44, 0x24, 0x08}, {0xC7, 0x45, 0xF8, 0x01, 0x00, 0x00, 0x00}, {0x55}, {0x89, 0xE5},
      {0xE8, 0x10, 0x00, 0x00, 0x00}, {0x0F, 0x84, 0x00, 0x01, 0x00, 0x00}, {0x74, 0x10},
      {0x66, 0xB8, 0x34, 0x12}, {0xF3, 0xA5}, {0xD9, 0x45, 0xFC}, {0xDD, 0x5D, 0xF8}, {0xD9, 0xE8},
      {0x81, 0xEC, 0x00, 0x01, 0x00, 0x00}, {0x83, 0xC4, 0x08}, {0x0F, 0xB6, 0xC3}, {0x8D, 0x0C, 0x40},
      {0x64, 0xA1, 0x00, 0x00, 0x00, 0x00}, {0xC3}, {0xF7, 0xD8}, {0x0F, 0x00, 0xD0}, {0x67, 0x8B, 0x46, 0x10},
      {0x8B, 0x04, 0x8D, 0x00, 0x10, 0x00, 0x00}, {0xC1, 0xE0, 0x04}, {0xFF, 0x15, 0x78, 0x56, 0x34, 0x12}};
  std::vector<uint8_t> stream;
  uint32_t seed = 12345;
  while (stream.size() < (1u << 20)) {
    seed = seed * 1103515245u + 12345u;
    const auto& form = forms[(seed >> 16) % forms.size()];
    stream.insert(stream.end(), form.begin(), form.end());
  }
  return stream;
}

void BM_DecodeLongModeCLibrary(benchmark::State& state) {
  static const std::vector<uint8_t> text = TextSection("/lib/x86_64-linux-gnu/libc.so.6");
  if (text.size() < 4096) {
    state.SkipWithError("the C library's .text could not be read");
    return;
  }
  uintptr_t start = reinterpret_cast<uintptr_t>(text.data());
  uintptr_t end = start + text.size() - 32;  // the last instructions may need bytes past the end
  uintptr_t address = start;
  long instructions = 0;
  long before = Allocations.load();
  for (auto _ : state) {
    uintptr_t next = InstructionDecode(address);
    address = next == 0 || next >= end ? start : next;
    benchmark::DoNotOptimize(address);
    instructions++;
  }
  state.counters["allocations"] = double(Allocations.load() - before);
  state.SetItemsProcessed(instructions);
}
BENCHMARK(BM_DecodeLongModeCLibrary);

void BM_DecodeThirtyTwoBitStream(benchmark::State& state) {
  static const std::vector<uint8_t> stream = ThirtyTwoBitStream();
  size_t offset = 0;
  long instructions = 0;
  long before = Allocations.load();
  for (auto _ : state) {
    int32_t length = InstructionDecodeBytes(stream.data() + offset, int32_t(stream.size() - offset),
                                            0x00401000 + offset, InstructionMode32);
    offset = length == 0 || offset + size_t(length) + 16 >= stream.size() ? 0 : offset + size_t(length);
    benchmark::DoNotOptimize(offset);
    instructions++;
  }
  state.counters["allocations"] = double(Allocations.load() - before);
  state.SetItemsProcessed(instructions);
}
BENCHMARK(BM_DecodeThirtyTwoBitStream);

}  // namespace

// Kept out of line: inlined into a caller, the free below is paired with that
// caller's operator new and optimised builds warn of a mismatch.
__attribute__((noinline)) void* operator new(size_t size) {
  Allocations++;
  if (void* p = std::malloc(size ? size : 1)) return p;
  std::abort();
}
__attribute__((noinline)) void operator delete(void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, size_t) noexcept { std::free(p); }

BENCHMARK_MAIN();
