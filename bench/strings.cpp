// Building the overlay's position text in the StringBuffer ("Pos :" x "\" y,
// used as an argument, then given back) against std::to_chars into a reused
// std::u16string.
#include <benchmark/benchmark.h>

#include <charconv>
#include <string>

#include "errors/errors.h"
#include "runtime/runtime.h"
#include "runtime/strings.h"

namespace {

void BM_StrExpression(benchmark::State& state) {
  int32_t x = 0, y = 0;
  for (auto _ : state) {
    int32_t start = StringBufferFill;
    StrAppend(u"Pos :");
    StrFromInt(x, StringBufferFill);
    StrAppend(u"\\");
    StrFromInt(y, StringBufferFill);
    char16_t* text = StrArgBegin(start);
    benchmark::DoNotOptimize(text);
    StrArgEnd(start);
    x += 7919;
    y -= 104729;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StrExpression);

void AppendInt(std::u16string& out, int32_t value) {
  char digits[12];
  char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  for (char* p = digits; p < end; p++) out.push_back(char16_t(*p));
}

void BM_ToCharsU16String(benchmark::State& state) {
  int32_t x = 0, y = 0;
  std::u16string text;
  text.reserve(64);
  for (auto _ : state) {
    text.clear();
    text.append(u"Pos :");
    AppendInt(text, x);
    text.append(u"\\");
    AppendInt(text, y);
    benchmark::DoNotOptimize(text.c_str());
    x += 7919;
    y -= 104729;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ToCharsU16String);

}  // namespace

int main(int argc, char** argv) {
  RuntimeStart();
  ErrorHandlerRemove();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
