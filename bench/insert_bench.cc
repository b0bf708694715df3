// One Accessibility-route insertion into a 10 KB field, and the tty route
// end to end against a real shell in a pseudo-terminal.
#include <benchmark/benchmark.h>
#ifdef __APPLE__
#include <util.h>
#else
#include <pty.h>
#endif
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "focus/captured_target.h"
#include "focus/focus_queries.h"
#include "insertion/insert_text.h"
#include "insertion/tty.h"
#include "platform/sim/world.h"

namespace {

using sim::Value;

Value element(const std::string& id, const char* role, Value children = Value::array()) {
  Value v = Value::object({{"id", id}, {"role", role}});
  v.set("children", std::move(children));
  return v;
}

// A text field `depth` levels under the window (or under a web area at that
// depth), the caret in the middle of its value.
void installEditor(const std::string& bundleID, const std::string& value, int depth = 1, bool inWebArea = false) {
  sim::reset();
  auto app = std::make_unique<sim::App>();
  app->pid = 5;
  app->bundleID = bundleID;
  app->name = "Bench";
  app->active = true;
  Value field = Value::object({{"id", "field"}, {"role", "AXTextArea"}, {"value", value}, {"valueSettable", true}});
  field.set("selectedRange", Value::object({{"location", static_cast<int64_t>(value.size() / 2)}, {"length", 0}}));
  Value inner = field;
  for (int level = depth - 1; level >= 1; --level)
    inner = element("g" + std::to_string(level), level == 1 && inWebArea ? "AXWebArea" : "AXGroup", Value::array({inner}));
  sim::setWindows(*app, Value::array({element("window", "AXWindow", Value::array({inner}))}));
  app->focusedWindow = Value("window");
  app->focusedElement = Value("field");
  sim::world().desktop.apps.push_back(std::move(app));
  sim::world().desktop.frontmost = 5;
}

int64_t roundTrips() {
  int64_t n = 0;
  for (const auto& [kind, count] : sim::world().desktop.queryCounts) n += count;
  return n;
}

// Repeats the insertion into the captured field, reporting the round trips
// of the capture and of each insertion (every one waits on the other
// application: about a millisecond each, several in Chromium-based ones).
void insertRepeatedly(benchmark::State& state) {
  int64_t before = roundTrips();
  pelmora::focusedElementInfoText();  // the capture, outside the measurement
  state.counters["capture_round_trips"] = static_cast<double>(roundTrips() - before);
  sim::Node* node = sim::world().desktop.apps[0]->find("field");
  const Value original = node->value;
  const platform::TextRange range = node->range;
  for (auto _ : state) {
    before = roundTrips();
    benchmark::DoNotOptimize(pelmora::insertTextIntoFocusedElementText("dictated words", ""));
    state.PauseTiming();
    state.counters["round_trips"] = static_cast<double>(roundTrips() - before);
    node->value = original;
    node->range = range;
    node->writes.clear();
    sim::world().log.clear();
    state.ResumeTiming();
  }
  pelmora::gCapturedTextTarget.reset();
}

void BM_AccessibilityInsertion10KB(benchmark::State& state) {
  installEditor("com.example.bench", std::string(10 * 1024, 'x'));
  insertRepeatedly(state);
}
BENCHMARK(BM_AccessibilityInsertion10KB)->Unit(benchmark::kMicrosecond);

// Nine levels under a web area: the insertion declines for the clipboard.
void BM_InsertionWebField(benchmark::State& state) {
  installEditor("com.example.bench", "draft", 10, true);
  insertRepeatedly(state);
}
BENCHMARK(BM_InsertionWebField)->Unit(benchmark::kMicrosecond);

// A bash at its prompt in a fresh pseudo-terminal, and an osascript stand-in
// that names it.
void BM_TtyRouteEndToEnd(benchmark::State& state) {
  int master = -1;
  char name[256] = {0};
  pid_t shell = forkpty(&master, name, nullptr, nullptr);
  if (shell == 0) {
    execl("/bin/bash", "bash", "--norc", "--noprofile", "-i", static_cast<char*>(nullptr));
    _exit(127);
  }
  usleep(300000);
  const std::string script = "/tmp/pelmora-bench-osascript";
  {
    std::ofstream out(script);
    out << "#!/bin/sh\necho " << name << "\n";
  }
  chmod(script.c_str(), 0755);
  installEditor("com.apple.Terminal", "");
  sim::world().tools.osascript = script;
  pelmora::focusedElementInfoText();
  for (auto _ : state) {
    benchmark::DoNotOptimize(pelmora::insertViaTTY("x", "com.apple.Terminal"));
    state.PauseTiming();
    sim::world().log.clear();
    state.ResumeTiming();
  }
  pelmora::gCapturedTextTarget.reset();
  kill(shell, SIGKILL);
  waitpid(shell, nullptr, 0);
  close(master);
  unlink(script.c_str());
}
BENCHMARK(BM_TtyRouteEndToEnd)->Unit(benchmark::kMillisecond)->Iterations(30);

}  // namespace
