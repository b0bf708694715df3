// The Linux desktop layer against a real application on a desktop of the
// benchmark's own (bench/linux_desktop.js starts it and names the case):
// an insertion into a native field as the user waits for it, counted in
// round trips to the application, and a capture in a large web page.
#include <benchmark/benchmark.h>
#include <dbus/dbus.h>
#include <dlfcn.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "focus/captured_target.h"
#include "focus/focus_queries.h"
#include "insertion/insert_text.h"
#include "platform/linux/desktop_linux.h"

// Every call libatspi makes goes out through this (its waits for a reply
// too): the binary exports it, so the library the layer opens binds to it.
static std::atomic<uint64_t> gSent = 0;

extern "C" __attribute__((visibility("default"))) dbus_bool_t dbus_connection_send_with_reply(
    DBusConnection* connection, DBusMessage* message, DBusPendingCall** pending, int timeout) {
  using Send = dbus_bool_t (*)(DBusConnection*, DBusMessage*, DBusPendingCall**, int);
  static Send real = reinterpret_cast<Send>(
      dlsym(dlopen("libdbus-1.so.3", RTLD_NOW | RTLD_NOLOAD), "dbus_connection_send_with_reply"));
  ++gSent;
  return real(connection, message, pending, timeout);
}

namespace {

// Round trips: each of libatspi's calls waits for its reply alone; each of
// the layer's batches waits once for several.
uint64_t roundTrips() { return gSent + platform::lx::batchesSent(); }

// An insertion into the focused field of the application in front, with
// the target captured before: what the user waits for once the transcript
// is ready. The field grows by a character a round.
void BM_InsertionIntoNativeField(benchmark::State& state) {
  if (!std::getenv("PELMORA_BENCH_NATIVE")) {
    state.SkipWithError("run through bench/linux_desktop.js");
    return;
  }
  pelmora::focusedElementInfoText();
  uint64_t trips = 0;
  for (auto _ : state) {
    const uint64_t before = roundTrips();
    const std::string verdict = pelmora::insertTextIntoFocusedElementText("x", "");
    trips += roundTrips() - before;
    if (verdict.find("\"ok\":true") == std::string::npos) state.SkipWithError(verdict.c_str());
  }
  state.counters["round_trips"] = benchmark::Counter(static_cast<double>(trips), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_InsertionIntoNativeField)->Unit(benchmark::kMillisecond)->UseRealTime();

// A capture: where the toolkit offers Collection (Chromium, a textarea in a
// page of about 5,000 elements) the focus is found in one call; where it
// does not (GTK 4), by walking the active window.
void BM_Capture(benchmark::State& state, const char* variable) {
  if (!std::getenv(variable)) {
    state.SkipWithError("run through bench/linux_desktop.js");
    return;
  }
  uint64_t trips = 0;
  for (auto _ : state) {
    const uint64_t before = roundTrips();
    const std::string info = pelmora::focusedElementInfoText();
    trips += roundTrips() - before;
    if (info.find("\"error\":\"\"") == std::string::npos) state.SkipWithError(info.c_str());
  }
  state.counters["round_trips"] = benchmark::Counter(static_cast<double>(trips), benchmark::Counter::kAvgIterations);
}
BENCHMARK_CAPTURE(BM_Capture, InLargeWebPage, "PELMORA_BENCH_WEB")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Capture, InGtk4Window, "PELMORA_BENCH_WALK")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
