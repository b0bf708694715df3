// The platform seam: everything the addon's logic needs from the operating
// system, as plain functions over small typed values. The build links exactly
// one implementation: platform/mac (the real frameworks) or platform/sim (the
// simulated desktop). Logic code includes this header and nothing from a
// framework.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/ax.h"
#include "platform/handle.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/workspace.h"
#include "platform/hid.h"
#include "platform/prefs.h"

namespace platform {

// ---- Time ------------------------------------------------------------------

// Seconds on a monotonic clock: the wall clock's steps (the user or the
// network setting the time) never lengthen or shorten a duration.
double now() noexcept;

// Blocks the calling thread for the given number of seconds.
void sleepFor(double seconds) noexcept;

// ---- Keyboard event tap and run loops -------------------------------------

struct EventTapObject;       // a keyboard event tap (a mach port on macOS)
struct RunLoopSourceObject;  // a run-loop source
struct RunLoopObject;        // one thread's run loop
struct KeyEventObject;       // one keyboard event, borrowed during a callback

using EventTap = Handle<EventTapObject>;
using RunLoopSource = Handle<RunLoopSourceObject>;
using RunLoop = Handle<RunLoopObject>;
using KeyEventRef = const KeyEventObject*;

enum class TapVerdict : uint8_t { pass, swallow };

// Called on the thread of the run loop that holds the tap's source, for each
// event the tap receives; must not block: the system holds the event until
// it returns.
using TapCallback = TapVerdict (*)(uint32_t type, KeyEventRef event);

struct KeyboardTap {
  EventTap tap;
  // The event types the system's list of taps shows the tap receiving, as
  // bits 1 << type (the system clears from the requested mask what the
  // process may not see). Absent when the list does not show the tap, which
  // tells nothing either way.
  std::optional<uint64_t> listedMask;
};

// Whether the user lets this process listen to key events (Input Monitoring),
// as the system's own check answers it.
bool mayListenToKeyEvents() noexcept;

// An active tap at the head of the HID event stream, for the event types whose
// bits are set in mask. It answers disabled: the system creates taps enabled,
// and an enabled tap that no running run loop serves holds every keystroke of
// the system until it times out. Empty when the system refuses it.
KeyboardTap createKeyboardEventTap(uint64_t mask, TapCallback callback) noexcept;
void setEventTapEnabled(EventTapObject* tap, bool enabled) noexcept;
void invalidateEventTap(EventTapObject* tap) noexcept;
RunLoopSource createEventTapRunLoopSource(EventTapObject* tap) noexcept;

RunLoop mainRunLoop() noexcept;
RunLoop currentRunLoop() noexcept;  // the calling thread's
// In the common modes.
void addSourceToRunLoop(RunLoopObject* loop, RunLoopSourceObject* source) noexcept;
void removeSourceFromRunLoop(RunLoopObject* loop, RunLoopSourceObject* source) noexcept;

// Runs the calling thread's run loop until a block performed on it stops it
// (or nothing is left on it).
void runRunLoopUntilStopped() noexcept;
// From any thread: block(context) runs on the loop's thread while the loop
// runs, after everything queued on it before (a block queued before the loop
// runs waits for its run).
using RunLoopBlock = void (*)(void* context);
void performOnRunLoop(RunLoopObject* loop, RunLoopBlock block, void* context) noexcept;
// From a block on the calling thread's run loop: that run returns.
void stopCurrentRunLoop() noexcept;

uint64_t keyEventFlags(KeyEventRef event) noexcept;
int64_t keyEventKeyCode(KeyEventRef event) noexcept;

// Runs the calling thread's run loop in its default mode for the given time,
// handling every source that fires meanwhile.
void runCurrentRunLoop(double seconds) noexcept;

}  // namespace platform
