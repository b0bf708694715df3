// One Accessibility-route insertion into a 10 KB field, one into a field
// that never shows the text, and the tty route end to end against real
// shells in pseudo-terminals.
#include <benchmark/benchmark.h>
#ifdef __APPLE__
#include <util.h>
#else
#include <pty.h>
#endif
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "focus/captured_target.h"
#include "focus/focus_queries.h"
#include "insertion/ax_write.h"
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
void installEditor(const std::string& bundleID, const std::string& value, int depth = 1, bool inWebArea = false,
                   const Value& fieldExtra = Value::object()) {
  sim::reset();
  auto app = std::make_unique<sim::App>();
  app->pid = 5;
  app->bundleID = bundleID;
  app->name = "Bench";
  app->active = true;
  Value field = Value::object({{"id", "field"}, {"role", "AXTextArea"}, {"value", value}, {"valueSettable", true}});
  field.set("selectedRange", Value::object({{"location", static_cast<int64_t>(value.size() / 2)}, {"length", 0}}));
  for (const auto& [name, member] : fieldExtra.members) field.set(name, member);
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

// A field that never shows the text: the whole read-back, the original set
// back and read back, the paste preparation. The figure that matters is the
// time on the platform's clock (the pauses and the application's replies),
// reported as `clock_seconds`: 0, an application that answers at once; 1,
// one that answers every query in 0.999 s, just inside the timeout; 2, one
// that takes the set and answers nothing more.
void BM_InsertionNeverShown(benchmark::State& state) {
  const int64_t kind = state.range(0);
  Value field = Value::object();
  if (kind == 2) field.set("setLatency", 100.0);
  else field.set("onWrite", "ignore");
  if (kind == 1) field.set("latency", 0.999);
  double clock = 0;
  int64_t trips = 0;
  for (auto _ : state) {
    state.PauseTiming();
    installEditor("com.example.never", std::string(1024, 'x'), 1, false, field);
    pelmora::gClipboardPreferredAppendBundles().erase("com.example.never");
    pelmora::focusedElementInfoText();
    const double before = platform::now();
    const int64_t tripsBefore = roundTrips();
    state.ResumeTiming();
    benchmark::DoNotOptimize(pelmora::insertTextIntoFocusedElementText("dictated words", ""));
    state.PauseTiming();
    clock = platform::now() - before;
    trips = roundTrips() - tripsBefore;
    pelmora::gCapturedTextTarget.reset();
    sim::world().log.clear();
    state.ResumeTiming();
  }
  state.counters["clock_seconds"] = clock;
  state.counters["round_trips"] = static_cast<double>(trips);
}
BENCHMARK(BM_InsertionNeverShown)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// A shell at its prompt in a fresh pseudo-terminal, whose output is read
// all along as a terminal application reads it, and an osascript stand-in
// that names its terminal.
struct ShellInPty {
  int master = -1;
  int slave = -1;  // to see what the shell has not read yet
  pid_t shell = -1;
  std::string script = "/tmp/pelmora-bench-osascript";
  std::atomic<bool> done{false};
  std::thread drain;

  explicit ShellInPty(const char* const argv[]) {
    char name[256] = {0};
    struct winsize size = {24, 80, 0, 0};
    shell = forkpty(&master, name, nullptr, &size);
    if (shell == 0) {
      setenv("TERM", "xterm-256color", 1);
      setenv("LC_ALL", "C.UTF-8", 1);
      execvp(argv[0], const_cast<char* const*>(argv));
      _exit(127);
    }
    drain = std::thread([this] {
      char buffer[65536];
      while (!done && read(master, buffer, sizeof buffer) > 0) {
      }
    });
    usleep(500000);  // at its prompt
    slave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    std::ofstream(script) << "#!/bin/sh\necho " << name << "\n";
    chmod(script.c_str(), 0755);
    installEditor("com.apple.Terminal", "");
    sim::world().tools.osascript = script;
  }
  ~ShellInPty() {
    done = true;
    kill(shell, SIGKILL);
    waitpid(shell, nullptr, 0);
    close(slave);  // the drain's read ends once no one holds the terminal
    drain.join();
    close(master);
    unlink(script.c_str());
  }
  // Until the shell has read everything typed.
  void waitRead() const {
    for (int queued = 1; ioctl(slave, FIONREAD, &queued) == 0 && queued > 0;) usleep(200);
  }
  // Types a key as the keyboard would, and lets the shell take it.
  void press(char key) const {
    ioctl(slave, TIOCSTI, &key);
    waitRead();
    usleep(50000);
  }
};

const char* const kBash[] = {"bash", "--norc", "--noprofile", "-i", nullptr};
const char* const kZsh[] = {"zsh", "-f", "-i", nullptr};
const char* const kFish[] = {"fish", "--no-config", "-i", nullptr};

void BM_TtyRouteEndToEnd(benchmark::State& state) {
  ShellInPty pty(kBash);
  for (auto _ : state) {
    benchmark::DoNotOptimize(pelmora::insertViaTTY("x", "com.apple.Terminal", 0));
    state.PauseTiming();
    sim::world().log.clear();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_TtyRouteEndToEnd)->Unit(benchmark::kMillisecond)->Iterations(30);

// The bytes a shell takes through the terminal route, a second of wall time,
// to the last byte read (the two tools included): a long dictation of prose
// (2,000 bytes of unquoted words with accents, CJK and symbols), a line like
// the tests' long one (20,000 bytes, a space every 200 characters, in
// quotes), and 20,000 bytes of prose, which fish cannot take within the
// bound. `typed` is
// the share of runs whose text was typed whole; the others were declined and
// erased (their time is the decline's).
void BM_TtyDeliveredRate(benchmark::State& state, const char* const* shell, bool prose, size_t length) {
  ShellInPty pty(shell);
  std::string text = "echo ";
  const std::string words = prose ? "caf\xC3\xA9 na\xC3\xAFve \xE4\xB8\xAD\xE6\x96\x87 \xE2\x82\xAC" "5 dictated words of prose and more "
                                  : [] {
                                      std::string w;
                                      for (int i = 0; i < 8; ++i) w += "Dictated,caf\xC3\xA9-na\xC3\xAFve/\xE4\xB8\xAD\xE6\x96\x87:\xE2\x82\xAC" "5.";
                                      return w + " ";
                                    }();
  if (!prose) text += "'";
  while (text.size() < length - 1) text += words;
  text.resize(length - 1);
  while ((static_cast<unsigned char>(text.back()) & 0xC0) == 0x80 || static_cast<unsigned char>(text.back()) >= 0xC0)
    text.pop_back();  // whole characters
  if (!prose) text += "'";
  int64_t typed = 0, runs = 0;
  for (auto _ : state) {
    const bool whole = pelmora::insertViaTTY(text, "com.apple.Terminal", 0) == platform::TypingOutcome::typed;
    pty.waitRead();
    state.PauseTiming();
    typed += whole;
    ++runs;
    pty.press('\x15');  // the line killed for the next run (Control-U in all three)
    sim::world().log.clear();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(text.size()) * runs);
  state.counters["typed"] = static_cast<double>(typed) / static_cast<double>(runs);
}
BENCHMARK_CAPTURE(BM_TtyDeliveredRate, bash_prose, kBash, true, 2000)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK_CAPTURE(BM_TtyDeliveredRate, zsh_prose, kZsh, true, 2000)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK_CAPTURE(BM_TtyDeliveredRate, fish_prose, kFish, true, 2000)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK_CAPTURE(BM_TtyDeliveredRate, bash_long_line, kBash, false, 20000)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_TtyDeliveredRate, zsh_long_line, kZsh, false, 20000)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_TtyDeliveredRate, fish_long_line, kFish, false, 20000)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_TtyDeliveredRate, fish_prose_20000, kFish, true, 20000)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
