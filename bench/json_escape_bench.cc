#include <benchmark/benchmark.h>

#include <string>

#include "frame/json_text.h"

namespace {

std::string repeatTo(const std::string& unit, size_t size) {
  std::string s;
  while (s.size() < size) s += unit;
  s.resize(size);
  return s;
}

void escapeBench(benchmark::State& state, const std::string& text) {
  std::string out;
  for (auto _ : state) {
    out.clear();
    pelmora::appendJsonEscaped(out, text);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

void BM_JsonEscapeAsciiNoEscapes(benchmark::State& state) {
  escapeBench(state, repeatTo("The quick brown fox jumps over the lazy dog. /path/to/file 0123456789 ", 64 * 1024));
}
BENCHMARK(BM_JsonEscapeAsciiNoEscapes);

void BM_JsonEscapeMixedText(benchmark::State& state) {
  // Prose with accents, a few quotes and line breaks, CJK and an emoji.
  escapeBench(state, repeatTo("Caf\xC3\xA9 \"na\xC3\xAFve\" r\xC3\xA9sum\xC3\xA9\n\t\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E "
                              "text \xF0\x9F\x91\x8D back\\slash ",
                              64 * 1024));
}
BENCHMARK(BM_JsonEscapeMixedText);

}  // namespace
