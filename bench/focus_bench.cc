// The editable-element search and a whole capture over simulated trees.
#include <benchmark/benchmark.h>

#include <string>

#include "focus/ax_calls.h"
#include "focus/editable_search.h"
#include "focus/focus_queries.h"
#include "platform/sim/world.h"

namespace {

using sim::Value;

Value element(const std::string& id, const char* role, Value children = Value::array()) {
  Value v = Value::object({{"id", id}, {"role", role}});
  v.set("children", std::move(children));
  return v;
}

// `count` plain elements in rows of 10 under one root, nothing editable.
Value wideTree(int count) {
  Value rows = Value::array();
  int made = 1;
  for (int r = 0; made < count; ++r) {
    Value cells = Value::array();
    for (int c = 0; c < 10 && made + 1 < count; ++c, ++made) cells.push(element("c" + std::to_string(made), "AXButton"));
    rows.push(element("r" + std::to_string(r), "AXGroup", std::move(cells)));
    ++made;
  }
  return element("root", "AXGroup", std::move(rows));
}

// A web editor's window: about 300 elements, the field at depth 6 after the
// chrome of the page.
Value webEditorWindow() {
  Value page = Value::array();
  for (int block = 0; block < 5; ++block) {
    Value items = Value::array();
    for (int i = 0; i < 55; ++i) items.push(element("b" + std::to_string(block) + "_" + std::to_string(i), "AXStaticText"));
    page.push(element("block" + std::to_string(block), "AXGroup", std::move(items)));
  }
  Value field = Value::object({{"id", "field"}, {"role", "AXTextArea"}, {"value", "draft"}, {"valueSettable", true}});
  field.set("selectedRange", Value::object({{"location", 0}, {"length", 0}}));
  Value d5 = element("d5", "AXGroup", Value::array({field}));
  Value d4 = element("d4", "AXGroup", Value::array({d5}));
  Value d3 = element("d3", "AXScrollArea", Value::array({d4}));
  page.push(element("d2", "AXGroup", Value::array({d3})));
  Value web = element("web", "AXWebArea", std::move(page));
  return element("window", "AXWindow", Value::array({web}));
}

sim::App& installApp(const std::string& bundleID, Value windows, const char* focused) {
  sim::reset();
  auto app = std::make_unique<sim::App>();
  app->pid = 77;
  app->bundleID = bundleID;
  app->name = "Bench";
  sim::setWindows(*app, windows);
  app->focusedWindow = Value("window");
  app->focusedElement = Value(focused);
  sim::world().desktop.apps.push_back(std::move(app));
  sim::world().desktop.frontmost = 77;
  return *sim::world().desktop.apps.back();
}

void BM_SearchEditableElement500(benchmark::State& state) {
  sim::App& app = installApp("com.example.bench", Value::array({wideTree(700)}), "root");
  platform::Element root;
  {
    platform::Element appElement = platform::applicationElement(app.pid);
    root = std::move(pelmora::ax::copy(appElement.get(), "AXFocusedUIElement").element);
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(pelmora::searchEditableElement(root.get()));
    sim::world().log.clear();
  }
  state.SetItemsProcessed(state.iterations() * pelmora::kSearchMaxElements);
  state.counters["per_element_ns"] = benchmark::Counter(
      static_cast<double>(state.iterations() * pelmora::kSearchMaxElements),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_SearchEditableElement500)->Unit(benchmark::kMicrosecond);

void BM_CaptureWebEditor(benchmark::State& state) {
  installApp("com.google.Chrome", Value::array({webEditorWindow()}), "web");
  int64_t roundTrips = 0;
  for (auto _ : state) {
    sim::world().desktop.queryCounts.clear();
    benchmark::DoNotOptimize(pelmora::focusedElementInfoText());
    sim::world().log.clear();
    roundTrips = 0;
    for (const auto& [kind, n] : sim::world().desktop.queryCounts) roundTrips += n;
  }
  state.counters["round_trips"] = static_cast<double>(roundTrips);
}
BENCHMARK(BM_CaptureWebEditor)->Unit(benchmark::kMicrosecond);

}  // namespace
