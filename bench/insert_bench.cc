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

void installEditor(const std::string& bundleID, const std::string& value) {
  sim::reset();
  auto app = std::make_unique<sim::App>();
  app->pid = 5;
  app->bundleID = bundleID;
  app->name = "Bench";
  app->active = true;
  Value field = Value::object({{"id", "field"}, {"role", "AXTextArea"}, {"value", value}, {"valueSettable", true}});
  field.set("selectedRange", Value::object({{"location", 5000}, {"length", 0}}));
  Value window = Value::object({{"id", "window"}, {"role", "AXWindow"}});
  window.set("children", Value::array({field}));
  sim::setWindows(*app, Value::array({window}));
  app->focusedWindow = Value("window");
  app->focusedElement = Value("field");
  sim::world().desktop.apps.push_back(std::move(app));
  sim::world().desktop.frontmost = 5;
}

void BM_AccessibilityInsertion10KB(benchmark::State& state) {
  installEditor("com.example.bench", std::string(10 * 1024, 'x'));
  pelmora::focusedElementInfoText();  // the capture, outside the measurement
  sim::Node* node = sim::world().desktop.apps[0]->find("field");
  const std::string original = node->value.string;
  for (auto _ : state) {
    benchmark::DoNotOptimize(pelmora::insertTextIntoFocusedElementText("dictated words", ""));
    state.PauseTiming();
    node->value = Value(original);
    node->range = {5000, 0};
    node->writes.clear();
    sim::world().log.clear();
    state.ResumeTiming();
  }
  pelmora::gCapturedTextTarget.reset();
}
BENCHMARK(BM_AccessibilityInsertion10KB)->Unit(benchmark::kMicrosecond);

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
