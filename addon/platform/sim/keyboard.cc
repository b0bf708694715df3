// Simulated keyboard event taps, run loops and the window server between them.
//
// As on the real system:
// - a tap sees an event only while it is enabled and its source is on a run
//   loop, and only when that run loop runs: the main run loop during
//   runCurrentRunLoop on the main thread, a thread's own run loop as soon as
//   that thread is free;
// - the window server holds each event until the taps that receive it have
//   answered, and waits for an answer only so long: an event not decided in
//   time goes on, and the tap is disabled by timeout, which it learns through
//   the notification type when its run loop next runs;
// - a tap the system disabled stays disabled until its owner enables it;
// - the system clears from a tap's mask the types the process may not see,
//   and refuses the tap when nothing is left.
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/world.h"

namespace sim {

// What became of one event at one tap, filled in by the tap's run loop.
struct Decision {
  bool done = false;
  bool swallowed = false;
  bool sawTap = true;
};

// An event handed to a run loop: for one tap (with a decision someone waits
// for, or none for the server's own notifications), or, with no tap, for the
// whole chain of taps that receive it, queued by a synchronous post.
struct TapRequest {
  KeyEvent event;
  platform::EventTapObject* tap = nullptr;  // retained while queued
  std::shared_ptr<Decision> decision;
  platform::RunLoopBlock block = nullptr;  // set: a block performed on the loop, nothing else
  void* context = nullptr;
};

}  // namespace sim

namespace platform {

struct EventTapObject : sim::Object {
  EventTapObject(uint64_t m, TapCallback cb) : Object(Kind::eventTap), mask(m), callback(cb) {}
  ~EventTapObject() override;
  const uint64_t mask;  // what the tap really receives
  const TapCallback callback;
  bool enabled = false;
  bool valid = true;
  // Requests for a tap whose source is on no run loop: its port keeps them
  // until a run loop serves it, or until it is invalidated.
  std::deque<sim::TapRequest> parked;
};

struct RunLoopObject;

struct RunLoopSourceObject : sim::Object {
  explicit RunLoopSourceObject(EventTapObject* t) : Object(Kind::runLoopSource), tap(t) {
    sim::retain(tap);  // as on macOS, the source keeps its port alive
  }
  ~RunLoopSourceObject() override;
  EventTapObject* const tap;
  RunLoopObject* loop = nullptr;  // the run loop it is on, which retains it
};

struct RunLoopObject : sim::Object {
  explicit RunLoopObject(bool main) : Object(Kind::runLoop), isMain(main) {}
  ~RunLoopObject() override;
  const bool isMain;
  std::vector<RunLoopSourceObject*> sources;  // retained
  std::deque<sim::TapRequest> inbox;
  bool stopAsked = false;
  bool running = false;  // a thread is running it right now
};

}  // namespace platform

namespace sim {
namespace {

using platform::EventTapObject;
using platform::RunLoopObject;
using platform::RunLoopSourceObject;
using SteadyClock = std::chrono::steady_clock;

constexpr uint32_t kTapDisabledByTimeout = 0xFFFFFFFE;
constexpr uint32_t kTapDisabledByUserInput = 0xFFFFFFFF;

// Everything below is touched by the addon's calling threads, the tap's own
// thread and the window server's thread. Recursive, because releasing an
// object under the lock may free it, and its destructor takes the lock too.
// Waits always hold it exactly once.
std::recursive_mutex& keyboardMutex() {
  static auto& m = *new std::recursive_mutex();  // immortal: see world()
  return m;
}
using Lock = std::unique_lock<std::recursive_mutex>;

// Signalled whenever a decision is made or a run loop has work.
std::condition_variable_any& keyboardChanged() {
  static auto& cv = *new std::condition_variable_any();
  return cv;
}

struct KeyboardState {
  std::vector<EventTapObject*> taps;          // live taps, oldest first (not retained)
  std::vector<RunLoopSourceObject*> sources;  // live sources (not retained)
  std::vector<KeyResult> results;
  std::deque<KeyEvent> asyncQueue;  // postKeyEventsAsync events the server has not taken yet
  size_t asyncPending = 0;          // ... plus the one it is deciding
  bool serverStarted = false;
};

KeyboardState& state() {
  static auto& s = *new KeyboardState();  // immortal: see world()
  return s;
}

// The main run loop belongs to the system, not to the world's configuration,
// so a world reset leaves it alone.
RunLoopObject* mainLoop() {
  static auto* loop = new RunLoopObject(true);  // immortal: its first reference is never given up
  return loop;
}

bool isMainThread() { return syscall(SYS_gettid) == getpid(); }

// The loop the calling thread is running right now (inside runCurrentRunLoop
// or runRunLoopUntilStopped): a request for it is handled in place.
thread_local RunLoopObject* tRunning = nullptr;

bool isDisabledNotification(uint32_t type) {
  return type == kTapDisabledByTimeout || type == kTapDisabledByUserInput;
}

bool wants(const EventTapObject& tap, uint32_t type) {
  if (isDisabledNotification(type)) return true;
  return type < 64 && (tap.mask & (uint64_t{1} << type)) != 0;
}

RunLoopObject* loopOf(const EventTapObject* tap) {
  for (auto* source : state().sources)
    if (source->tap == tap && source->loop) return source->loop;
  return nullptr;
}

// Taps that would see the event now, in the order the system chains them: a
// disabled tap still hears the notifications that say so, and an enabled one
// holds the event whether or not a run loop serves it.
std::vector<EventTapObject*> tapsFor(const KeyEvent& event) {
  std::vector<EventTapObject*> taps;
  for (auto* tap : state().taps) {
    if (!tap->valid || !wants(*tap, event.type)) continue;
    if (isDisabledNotification(event.type) ? !loopOf(tap) : !tap->enabled) continue;
    taps.push_back(tap);
  }
  return taps;
}


void record(KeyResult result) { state().results.push_back(result); }

void finish(const std::shared_ptr<Decision>& decision, bool swallowed, bool sawTap) {
  if (!decision) return;
  decision->done = true;
  decision->swallowed = swallowed;
  decision->sawTap = sawTap;
  keyboardChanged().notify_all();
}

// Lets go of requests the server no longer waits on, or whose tap is gone.
void dropRequest(TapRequest& request) {
  finish(request.decision, false, false);
  release(request.tap);
}

// The tap's callback, with the lock let go: the callback enables its tap
// again and reports to JavaScript, and the window server must be able to
// give up on it meanwhile.
bool callTap(Lock& lock, EventTapObject* tap, const KeyEvent& event) {
  if (isDisabledNotification(event.type)) tap->enabled = false;
  retain(tap);  // the callback may release its owner's reference
  platform::KeyEventObject object{event};
  lock.unlock();
  const bool swallowed = tap->callback(event.type, &object) == platform::TapVerdict::swallow;
  lock.lock();
  release(tap);
  return swallowed;
}

// The window server asks one tap for its verdict and waits for it, up to the
// tap timeout, unless the calling thread is the one running that tap's loop.
// A tap whose source is on no run loop, or on one that nobody runs, holds the
// event all the same (`held`): its port keeps the request until a run loop
// serves it, the tap is invalidated, or the server gives up. nullopt: no
// verdict in time.
std::optional<bool> askTap(Lock& lock, EventTapObject* tap, const KeyEvent& event, bool& held) {
  RunLoopObject* loop = loopOf(tap);
  if (!tap->valid) return false;
  if (loop && tRunning == loop) return callTap(lock, tap, event);
  if (!loop || !loop->running) held = true;

  auto decision = std::make_shared<Decision>();
  retain(tap);
  (loop ? loop->inbox : tap->parked).push_back(TapRequest{event, tap, decision, nullptr, nullptr});
  keyboardChanged().notify_all();
  const auto deadline = SteadyClock::now() + std::chrono::duration_cast<SteadyClock::duration>(
                                                 std::chrono::duration<double>(world().keyboard.tapTimeout));
  keyboardChanged().wait_until(lock, deadline, [&] { return decision->done; });
  if (decision->done) return decision->swallowed;

  // Given up: the event goes on without this tap. If no run loop took the
  // request, the server withdraws it; either way the tap is disabled and told
  // so when its loop next runs.
  RunLoopObject* current = loopOf(tap);
  auto& queue = current ? current->inbox : tap->parked;
  for (auto it = queue.begin(); it != queue.end(); ++it) {
    if (it->decision == decision) {
      release(it->tap);
      queue.erase(it);
      break;
    }
  }
  if (tap->valid) {
    tap->enabled = false;
    retain(tap);
    queue.push_back(TapRequest{KeyEvent{kTapDisabledByTimeout, 0, 0}, tap, nullptr, nullptr, nullptr});
    keyboardChanged().notify_all();
  }
  return std::nullopt;
}

// The window server's verdict on one event: through every tap that receives
// it, until one swallows it; straight on when none does.
KeyResult decide(Lock& lock, const KeyEvent& event, const std::vector<EventTapObject*>& taps) {
  KeyResult result{event, false, !taps.empty()};
  for (auto* tap : taps) {
    retain(tap);
    const std::optional<bool> swallowed = askTap(lock, tap, event, result.held);
    release(tap);
    if (!swallowed) result.timedOut = true;
    if (swallowed.value_or(false)) {
      result.swallowed = true;
      break;
    }
  }
  return result;
}

// One request taken off a run loop by the thread running it.
void handle(Lock& lock, RunLoopObject* loop, TapRequest request) {
  if (request.block) {
    lock.unlock();
    request.block(request.context);
    lock.lock();
    return;
  }
  if (!request.tap) {  // a whole chain, queued by a synchronous post
    record(decide(lock, request.event, tapsFor(request.event)));
    return;
  }
  EventTapObject* tap = request.tap;
  bool swallowed = false;
  const bool present = tap->valid && loopOf(tap) == loop;
  if (present) swallowed = callTap(lock, tap, request.event);
  finish(request.decision, swallowed, present);
  release(tap);
}

// A tap that leaves a run loop answers nothing more there: what waits for it
// goes on without it.
void abandonRequests(RunLoopObject* loop, const EventTapObject* tap) {
  auto& inbox = loop->inbox;
  for (auto it = inbox.begin(); it != inbox.end();) {
    if (it->tap && it->tap == tap) {
      dropRequest(*it);
      it = inbox.erase(it);
    } else {
      ++it;
    }
  }
}

// Events a synchronous post left to the main run loop go straight on once no
// tap would receive them.
void flushUntapped() {
  auto& inbox = mainLoop()->inbox;
  for (auto it = inbox.begin(); it != inbox.end();) {
    if (!it->tap && tapsFor(it->event).empty()) {
      record(KeyResult{it->event, false, false});
      it = inbox.erase(it);
    } else {
      ++it;
    }
  }
}

void detachSource(Lock&, RunLoopSourceObject* source) {
  RunLoopObject* loop = source->loop;
  if (!loop) return;
  auto& sources = loop->sources;
  sources.erase(std::remove(sources.begin(), sources.end(), source), sources.end());
  source->loop = nullptr;
  if (!loopOf(source->tap)) abandonRequests(loop, source->tap);
  flushUntapped();
  release(source);
}

// The window server's own thread, for postKeyEventsAsync.
void serveAsync() {
  Lock lock(keyboardMutex());
  auto& s = state();
  for (;;) {
    keyboardChanged().wait(lock, [&] { return !s.asyncQueue.empty(); });
    const KeyEvent event = s.asyncQueue.front();
    s.asyncQueue.pop_front();
    const auto started = SteadyClock::now();
    KeyResult result = decide(lock, event, tapsFor(event));
    result.async = true;
    result.waitedMs = std::chrono::duration<double, std::milli>(SteadyClock::now() - started).count();
    record(result);
    --s.asyncPending;
  }
}

// The loop of the calling thread: the main run loop on the main thread, else
// one of its own, made on first use and given up when the thread ends.
RunLoopObject* threadLoop() {
  if (isMainThread()) return mainLoop();
  thread_local platform::RunLoop own = platform::RunLoop::adopt(new RunLoopObject(false));
  return own.get();
}

}  // namespace

void resetKeyboard() {
  Lock lock(keyboardMutex());
  auto& kb = world().keyboard;
  kb.allowTap = true;
  kb.allowedTypes = ~uint64_t{0};
  kb.tapTimeout = 1.0;
  kb.listenPreflight = true;
  kb.listed = true;
  auto& s = state();
  s.results.clear();
  s.asyncPending -= s.asyncQueue.size();
  s.asyncQueue.clear();
  // Whole-chain events queued for the main run loop are configuration of the
  // old world; requests the server waits for are not.
  auto& inbox = mainLoop()->inbox;
  inbox.erase(std::remove_if(inbox.begin(), inbox.end(), [](const TapRequest& r) { return !r.tap; }), inbox.end());
}

void postKeyEvent(const KeyEvent& event) {
  Lock lock(keyboardMutex());
  const auto taps = tapsFor(event);
  const bool onMain = std::any_of(taps.begin(), taps.end(), [](auto* tap) { return loopOf(tap)->isMain; });
  if (onMain && tRunning != mainLoop()) {
    mainLoop()->inbox.push_back(TapRequest{event, nullptr, nullptr, nullptr, nullptr});
    return;
  }
  record(decide(lock, event, taps));
}

void postKeyEventsAsync(const std::vector<KeyEvent>& events) {
  Lock lock(keyboardMutex());
  auto& s = state();
  s.asyncQueue.insert(s.asyncQueue.end(), events.begin(), events.end());
  s.asyncPending += events.size();
  if (!s.serverStarted) {
    std::thread(serveAsync).detach();  // lives as long as the process, like the real server
    s.serverStarted = true;
  }
  keyboardChanged().notify_all();
}

size_t pendingAsyncKeyEvents() {
  Lock lock(keyboardMutex());
  return state().asyncPending;
}

std::vector<KeyResult> takeKeyResults() {
  Lock lock(keyboardMutex());
  return std::exchange(state().results, {});
}

TapState tapState() {
  Lock lock(keyboardMutex());
  TapState result;
  for (auto* tap : state().taps) {
    if (!tap->valid) continue;
    result.exists = true;
    result.enabled = tap->enabled;
    result.onRunLoop = loopOf(tap) != nullptr;
    result.mask = tap->mask;
  }
  return result;
}

void runCurrentThreadRunLoop(double seconds) {
  {
    Lock lock(keyboardMutex());
    RunLoopObject* loop = threadLoop();
    RunLoopObject* outer = std::exchange(tRunning, loop);
    const bool wasRunning = std::exchange(loop->running, true);
    while (!loop->inbox.empty() && !loop->stopAsked) {
      TapRequest request = std::move(loop->inbox.front());
      loop->inbox.pop_front();
      handle(lock, loop, std::move(request));
    }
    loop->stopAsked = false;
    loop->running = wasRunning;
    tRunning = outer;
  }
  if (isMainThread()) deliverHidInputs();
  advanceClock(seconds);
}

}  // namespace sim

namespace platform {

EventTapObject::~EventTapObject() {
  sim::Lock lock(sim::keyboardMutex());
  auto& taps = sim::state().taps;
  taps.erase(std::remove(taps.begin(), taps.end(), this), taps.end());
}

RunLoopSourceObject::~RunLoopSourceObject() {
  {
    sim::Lock lock(sim::keyboardMutex());
    auto& sources = sim::state().sources;
    sources.erase(std::remove(sources.begin(), sources.end(), this), sources.end());
  }
  sim::release(tap);
}

RunLoopObject::~RunLoopObject() {
  sim::Lock lock(sim::keyboardMutex());
  while (!sources.empty()) sim::detachSource(lock, sources.back());
  for (auto& request : inbox) sim::dropRequest(request);
}

KeyboardTap createKeyboardEventTap(uint64_t mask, TapCallback callback) noexcept {
  sim::Lock lock(sim::keyboardMutex());
  const auto& kb = sim::world().keyboard;
  // As CGEventTapCreate: what the process may not see is cleared from the
  // mask, and a tap left with nothing is refused.
  const uint64_t received = mask & kb.allowedTypes;
  const bool ok = kb.allowTap && callback != nullptr && received != 0;
  sim::log("tapCreate", sim::Value::object({{"ok", ok}}));
  if (!ok) return {};
  auto* tap = new EventTapObject(received, callback);
  sim::state().taps.push_back(tap);
  // CGEventTapCreate's taps start enabled; the macOS layer disables the new
  // tap before it answers. The moment between the two is not modelled.
  tap->enabled = true;
  setEventTapEnabled(tap, false);
  std::optional<uint64_t> listed;
  if (kb.listed) listed = received;
  return {EventTap::adopt(tap), listed};
}

bool mayListenToKeyEvents() noexcept {
  sim::log("listenPreflight");
  return sim::world().keyboard.listenPreflight;
}

void setEventTapEnabled(EventTapObject* tap, bool enabled) noexcept {
  sim::log("tapEnable", sim::Value::object({{"enabled", enabled}}));
  sim::Lock lock(sim::keyboardMutex());
  if (tap && tap->valid) tap->enabled = enabled;
}

void invalidateEventTap(EventTapObject* tap) noexcept {
  sim::Lock lock(sim::keyboardMutex());
  if (!tap || !tap->valid) return;
  tap->valid = false;
  tap->enabled = false;
  // Its port is gone, and with it what waited in it: those events go on.
  for (auto& request : std::exchange(tap->parked, {})) sim::dropRequest(request);
  sim::flushUntapped();
  // An invalidated port's sources leave every run loop.
  auto sources = sim::state().sources;
  for (auto* source : sources)
    if (source->tap == tap) sim::detachSource(lock, source);
}

RunLoopSource createEventTapRunLoopSource(EventTapObject* tap) noexcept {
  sim::Lock lock(sim::keyboardMutex());
  if (!tap || !tap->valid) return {};
  auto* source = new RunLoopSourceObject(tap);
  sim::state().sources.push_back(source);
  return RunLoopSource::adopt(source);
}

RunLoop mainRunLoop() noexcept { return RunLoop::retain(sim::mainLoop()); }

RunLoop currentRunLoop() noexcept {
  sim::Lock lock(sim::keyboardMutex());
  return RunLoop::retain(sim::threadLoop());
}

void addSourceToRunLoop(RunLoopObject* loop, RunLoopSourceObject* source) noexcept {
  sim::Lock lock(sim::keyboardMutex());
  if (!loop || !source || source->loop == loop) return;
  sim::detachSource(lock, source);
  sim::retain(source);
  loop->sources.push_back(source);
  source->loop = loop;
  // What the tap's port kept meanwhile is served by this loop now.
  auto& parked = source->tap->parked;
  for (auto& request : parked) loop->inbox.push_back(std::move(request));
  parked.clear();
  sim::keyboardChanged().notify_all();
}

void removeSourceFromRunLoop(RunLoopObject* loop, RunLoopSourceObject* source) noexcept {
  sim::Lock lock(sim::keyboardMutex());
  if (loop && source && source->loop == loop) sim::detachSource(lock, source);
}

void runRunLoopUntilStopped() noexcept {
  sim::Lock lock(sim::keyboardMutex());
  RunLoopObject* loop = sim::threadLoop();
  RunLoopObject* outer = std::exchange(sim::tRunning, loop);
  const bool wasRunning = std::exchange(loop->running, true);
  for (;;) {
    if (loop->stopAsked) {
      loop->stopAsked = false;
      break;
    }
    if (loop->inbox.empty()) {
      if (loop->sources.empty()) break;  // nothing left to run for, as CFRunLoopRun
      sim::keyboardChanged().wait(lock);
      continue;
    }
    sim::TapRequest request = std::move(loop->inbox.front());
    loop->inbox.pop_front();
    sim::handle(lock, loop, std::move(request));
  }
  loop->running = wasRunning;
  sim::tRunning = outer;
}

void performOnRunLoop(RunLoopObject* loop, RunLoopBlock block, void* context) noexcept {
  sim::Lock lock(sim::keyboardMutex());
  if (!loop || !block) return;
  loop->inbox.push_back(sim::TapRequest{{}, nullptr, nullptr, block, context});
  sim::keyboardChanged().notify_all();
}

// As CFRunLoopStop: only a run in progress ends.
void stopCurrentRunLoop() noexcept {
  sim::Lock lock(sim::keyboardMutex());
  if (sim::tRunning) sim::tRunning->stopAsked = true;
}

uint64_t keyEventFlags(KeyEventRef event) noexcept { return event->event.flags; }

int64_t keyEventKeyCode(KeyEventRef event) noexcept { return event->event.keyCode; }

void runCurrentRunLoop(double seconds) noexcept { sim::runCurrentThreadRunLoop(seconds); }

}  // namespace platform
