// The simulated desktop's applications and their element trees.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ax.h"
#include "platform/sim/value.h"

namespace sim {

// One element of an application's tree.
struct Node {
  Value id;         // as the test gave it (a number or a string)
  std::string key;  // its canonical text, unique within the application
  int32_t pid = 0;
  Node* parent = nullptr;       // null for a window, whose parent is the application
  std::vector<Node*> children;  // a node may be listed under several parents

  std::optional<std::string> role, subrole, roleDescription, selectedText, domIdentifier;
  Value value;  // a string, a number, or undefined (unsupported)
  bool valueSettable = false;
  enum class Range : uint8_t { unsupported, range, notRange } rangeKind = Range::unsupported;
  platform::TextRange range;
  std::map<std::string, int32_t> errors;          // per attribute, for copies
  std::map<std::string, int32_t> settableErrors;  // per attribute, for settable queries
  double latency = 0;
  double setLatency = 0;  // what the application takes to apply an AXValue set, on top
  // 'apply' (default), 'refuse', 'ignore', or an object of {delay, decompose,
  // lineBreaks, trimTrailingNewline, maxLength} (checked when the tree is built).
  Value onWrite;
  Value focusedElement;  // what the node's own AXFocusedUIElement answers, if anything

  // Observations and pending effects.
  int focusedSets = 0;
  std::vector<std::string> writes;
  // Values set but not shown yet, (due time, value), in the order they land.
  std::deque<std::pair<double, std::string>> pendingValues;
};

// A reference of an application attribute: an element id, null (the query
// succeeds without a value) or a negative error code.
using AppRef = Value;

struct App {
  int32_t pid = 0;
  std::optional<std::string> bundleID, name;
  bool active = false;
  bool running = true;
  double latency = 0;
  double busyUntil = 0;  // the clock time its last request is done
  AppRef focusedWindow, mainWindow, focusedElement;
  std::deque<int32_t> focusedElementErrors;
  std::vector<Node*> windows;
  std::vector<std::unique_ptr<Node>> nodes;  // owns every node of the trees
  std::map<std::string, Node*> byKey;

  Node* find(const std::string& key) const {
    auto it = byKey.find(key);
    return it == byKey.end() ? nullptr : it->second;
  }
};

struct Desktop {
  bool trusted = true;
  std::vector<std::unique_ptr<App>> apps;  // in the order they were added
  std::optional<int32_t> frontmost;
  // A switch of the frontmost application that happens later on the clock
  // (the user moving on while the addon works): (due time, pid or none).
  std::optional<std::pair<double, std::optional<int32_t>>> pendingFrontmost;
  // The system-wide focused application: follows the frontmost one unless set.
  enum class Focus : uint8_t { followFrontmost, app, none, error } focusMode = Focus::followFrontmost;
  int32_t focusValue = 0;
  Value activations = Value::array();
  // The messaging timeout the addon last set on a reference of each element,
  // by element key ("app:<pid>", a node key); queries use each reference's own.
  std::map<std::string, double> timeouts;
  std::optional<double> globalTimeout;  // set through the system-wide element
  std::map<std::string, int64_t> queryCounts;

  App* app(int32_t pid) const {
    for (const auto& a : apps)
      if (a->pid == pid) return a.get();
    return nullptr;
  }
};

inline constexpr double kDefaultMessagingTimeout = 6.0;

// The canonical text of an element id.
std::string elementKey(const Value& id);

// Builds or rebuilds the application's trees; throws ControlError on a
// malformed description.
void setWindows(App& app, const Value& windows);
void applyAppFields(App& app, const Value& fields);

// The node with this id in any application (first match).
Node* findNode(const Value& id);

// Applies the delayed writes whose time has come, in order.
void settlePendingValue(Node& node);
// Makes a later switch of the frontmost application whose time has come.
void settlePendingFrontmost();

// Element references the addon holds right now.
int64_t liveElementCount();

}  // namespace sim
