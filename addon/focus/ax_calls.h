// Accessibility queries as the logic makes them: through here, so that one
// hung application costs one messaging timeout per export call, not one per
// query. A query that ran into the timeout marks its application as
// unresponsive until the call ends; its further queries fail at once with the
// same error instead of waiting out the timeout again. A healthy application
// never notices: only a reply that took the whole timeout trips it.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace pelmora::ax {

// Marks the extent of one export call; nested scopes share the outermost.
class CallScope {
 public:
  CallScope();
  ~CallScope();
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;
};

// Bounds the reads that decide where text goes (a capture, the route tests):
// once the deadline has passed, further queries fail at once instead of
// adding round trips of an application that answers, but slowly. Writes and
// their verification are never cut short. Nested deadlines keep the earliest.
class Deadline {
 public:
  explicit Deadline(double seconds);
  ~Deadline();
  Deadline(const Deadline&) = delete;
  Deadline& operator=(const Deadline&) = delete;

 private:
  double previous_;
};

// What the reads of one capture, or of one insertion's route tests, may take.
inline constexpr double kDecisionBudget = 2.0;

platform::AttributeResult copy(platform::ElementRef element, std::string_view attribute);
std::vector<platform::AttributeResult> copyMany(platform::ElementRef element,
                                               std::span<const std::string_view> attributes);
platform::SettableResult settable(platform::ElementRef element, std::string_view attribute);
platform::AXError setString(platform::ElementRef element, std::string_view attribute, std::string_view value);
platform::AXError setBool(platform::ElementRef element, std::string_view attribute, bool value);
platform::AXError setRange(platform::ElementRef element, std::string_view attribute, platform::TextRange value);

}  // namespace pelmora::ax
