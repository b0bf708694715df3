// getSystemSymbolicHotkeys reads the preference afresh on every call, so a
// call costs the read (a copy of the whole tree), the filter and the text.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/sim/world.h"
#include "settings/symbolic_hotkeys.h"

namespace {

using namespace pelmora;
using platform::PrefValue;

PrefValue str(const char* s) { return PrefValue::ofString(s); }

// The shape of a user's file: about 300 shortcuts, most enabled and standard,
// some disabled or keyless.
PrefValue realisticTree(int count) {
  PrefValue tree = PrefValue::ofDictionary();
  for (int id = 0; id < count; ++id) {
    const int64_t key = (id * 37) % 128;
    const int64_t modifiers = (id % 4) * 262144 + ((id % 3) ? 1048576 : 0);
    PrefValue parameters =
        PrefValue::ofArray({PrefValue::ofInteger(65535), PrefValue::ofInteger(id % 10 == 9 ? 65535 : key),
                            PrefValue::ofInteger(modifiers)});
    PrefValue value = PrefValue::ofDictionary({{str("parameters"), std::move(parameters)}, {str("type"), str("standard")}});
    PrefValue entry =
        PrefValue::ofDictionary({{str("enabled"), PrefValue::ofBool(id % 5 != 4)}, {str("value"), std::move(value)}});
    tree.entries.push_back({PrefValue::ofString(std::to_string(id)), std::move(entry)});
  }
  return tree;
}

void BM_SymbolicHotkeysPerCall(benchmark::State& state) {
  sim::reset();
  sim::setPreference(kSymbolicHotKeysDomain, kSymbolicHotKeysKey, realisticTree(static_cast<int>(state.range(0))));
  size_t bytes = 0;
  for (auto _ : state) {
    std::string json = readSystemSymbolicHotkeysJson();
    bytes = json.size();
    benchmark::DoNotOptimize(json);
    sim::world().log.clear();  // each read is logged; keep the log from growing
  }
  state.counters["answer_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_SymbolicHotkeysPerCall)->Arg(300);

// The filter and the text alone, over a tree already read.
void BM_SymbolicHotkeysFilterOnly(benchmark::State& state) {
  const PrefValue tree = realisticTree(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(symbolicHotkeysJson(symbolicHotkeysFrom(tree)));
}
BENCHMARK(BM_SymbolicHotkeysFilterOnly)->Arg(300);

}  // namespace
