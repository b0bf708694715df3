// Simulated keyboard event tap and main run loop.
//
// Like the real system, a tap sees an event only when it is enabled, its
// source is on the run loop and the run loop runs; a tap that the system
// disables (timeout or user input) is told so through the two notification
// types and stays disabled until its owner enables it again.
#include <algorithm>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/world.h"

namespace platform {

struct EventTapObject : sim::Object {
  EventTapObject(uint64_t m, TapCallback cb) : Object(Kind::eventTap), mask(m), callback(cb) {}
  ~EventTapObject() override;
  uint64_t mask;
  TapCallback callback;
  bool enabled = false;
  bool valid = true;
};

struct RunLoopSourceObject : sim::Object {
  explicit RunLoopSourceObject(EventTapObject* t) : Object(Kind::runLoopSource), tap(t) {
    sim::retain(tap);  // as on macOS, the source keeps its port alive
  }
  ~RunLoopSourceObject() override { sim::release(tap); }
  EventTapObject* tap;
};

}  // namespace platform

namespace sim {
namespace {

constexpr uint32_t kTapDisabledByTimeout = 0xFFFFFFFE;
constexpr uint32_t kTapDisabledByUserInput = 0xFFFFFFFF;

// Taps that exist, oldest first; the objects remove themselves when freed.
std::vector<platform::EventTapObject*>& liveTaps() {
  static auto& taps = *new std::vector<platform::EventTapObject*>();  // immortal: see world()
  return taps;
}

// The main run loop's sources, each retained while it is on the loop. The run
// loop belongs to the system, not to the world's configuration, so a world
// reset leaves it alone.
std::vector<platform::RunLoopSourceObject*>& mainRunLoop() {
  static auto& sources = *new std::vector<platform::RunLoopSourceObject*>();  // immortal: see world()
  return sources;
}

bool isDisabledNotification(uint32_t type) {
  return type == kTapDisabledByTimeout || type == kTapDisabledByUserInput;
}

bool wants(const platform::EventTapObject& tap, uint32_t type) {
  if (isDisabledNotification(type)) return true;
  return type < 64 && (tap.mask & (uint64_t{1} << type)) != 0;
}

// Taps that would see an event of this type now, in the order the system
// chains them.
std::vector<platform::EventTapObject*> receivingTaps(uint32_t type, bool requireEnabled) {
  std::vector<platform::EventTapObject*> taps;
  for (auto* source : mainRunLoop()) {
    auto* tap = source->tap;
    if (!tap->valid || !wants(*tap, type)) continue;
    if (requireEnabled && !tap->enabled) continue;
    if (std::find(taps.begin(), taps.end(), tap) == taps.end()) taps.push_back(tap);
  }
  return taps;
}

void passUntapped(const KeyEvent& event) {
  world().keyboard.results.push_back(KeyResult{event, false, false});
}

void flushQueueIfNoTap() {
  auto& kb = world().keyboard;
  for (auto it = kb.queue.begin(); it != kb.queue.end();) {
    if (receivingTaps(it->type, false).empty()) {
      passUntapped(*it);
      it = kb.queue.erase(it);
    } else {
      ++it;
    }
  }
}

void deliver(const KeyEvent& event) {
  auto taps = receivingTaps(event.type, !isDisabledNotification(event.type));
  if (taps.empty()) {
    passUntapped(event);
    return;
  }
  platform::KeyEventObject object{event};
  bool swallowed = false;
  for (auto* tap : taps) {
    retain(tap);  // the callback may release its owner's reference
    if (isDisabledNotification(event.type)) tap->enabled = false;
    swallowed = tap->callback(event.type, &object) == platform::TapVerdict::swallow;
    release(tap);
    if (swallowed) break;
  }
  world().keyboard.results.push_back(KeyResult{event, swallowed, true});
}

}  // namespace

void resetKeyboard() {
  auto& kb = world().keyboard;
  kb.allowTap = true;
  kb.queue.clear();
  kb.results.clear();
}

void postKeyEvent(const KeyEvent& event) {
  if (receivingTaps(event.type, !isDisabledNotification(event.type)).empty()) {
    passUntapped(event);
  } else {
    world().keyboard.queue.push_back(event);
  }
}

std::vector<KeyResult> takeKeyResults() { return std::exchange(world().keyboard.results, {}); }

TapState tapState() {
  TapState state;
  for (auto* tap : liveTaps()) {
    if (!tap->valid) continue;
    state.exists = true;
    state.enabled = tap->enabled;
    state.onRunLoop = std::any_of(mainRunLoop().begin(), mainRunLoop().end(),
                                  [tap](auto* source) { return source->tap == tap; });
  }
  return state;
}

void runMainRunLoop(double seconds) {
  auto& queue = world().keyboard.queue;
  while (!queue.empty()) {
    KeyEvent event = queue.front();
    queue.pop_front();
    deliver(event);
  }
  deliverHidInputs();
  advanceClock(seconds);
}

}  // namespace sim

namespace platform {

EventTapObject::~EventTapObject() {
  auto& taps = sim::liveTaps();
  taps.erase(std::remove(taps.begin(), taps.end(), this), taps.end());
}

EventTap createKeyboardEventTap(uint64_t mask, TapCallback callback) noexcept {
  bool ok = sim::world().keyboard.allowTap && callback != nullptr;
  sim::log("tapCreate", sim::Value::object({{"ok", ok}}));
  if (!ok) return {};
  auto* tap = new EventTapObject(mask, callback);
  // A new tap is enabled, as CGEventTapCreate's are.
  tap->enabled = true;
  sim::liveTaps().push_back(tap);
  return EventTap::adopt(tap);
}

void setEventTapEnabled(EventTapObject* tap, bool enabled) noexcept {
  sim::log("tapEnable", sim::Value::object({{"enabled", enabled}}));
  if (tap && tap->valid) tap->enabled = enabled;
}

void invalidateEventTap(EventTapObject* tap) noexcept {
  if (!tap || !tap->valid) return;
  tap->valid = false;
  tap->enabled = false;
  // An invalidated port's sources leave every run loop.
  auto& loop = sim::mainRunLoop();
  for (auto it = loop.begin(); it != loop.end();) {
    if ((*it)->tap == tap) {
      sim::release(*it);
      it = loop.erase(it);
    } else {
      ++it;
    }
  }
  sim::flushQueueIfNoTap();
}

RunLoopSource createEventTapRunLoopSource(EventTapObject* tap) noexcept {
  if (!tap || !tap->valid) return {};
  return RunLoopSource::adopt(new RunLoopSourceObject(tap));
}

void addSourceToMainRunLoop(RunLoopSourceObject* source) noexcept {
  auto& loop = sim::mainRunLoop();
  if (!source || std::find(loop.begin(), loop.end(), source) != loop.end()) return;
  sim::retain(source);
  loop.push_back(source);
}

void removeSourceFromMainRunLoop(RunLoopSourceObject* source) noexcept {
  auto& loop = sim::mainRunLoop();
  auto it = std::find(loop.begin(), loop.end(), source);
  if (it == loop.end()) return;
  loop.erase(it);
  sim::release(source);
  sim::flushQueueIfNoTap();
}

uint64_t keyEventFlags(KeyEventRef event) noexcept { return event->event.flags; }

int64_t keyEventKeyCode(KeyEventRef event) noexcept { return event->event.keyCode; }

void runCurrentRunLoop(double seconds) noexcept { sim::runMainRunLoop(seconds); }

}  // namespace platform
