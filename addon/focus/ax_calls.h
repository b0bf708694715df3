// Accessibility queries as the logic makes them: through here, so that one
// hung application costs one messaging timeout per export call, not one per
// query. A query that ran into the timeout marks its application as
// unresponsive until the call ends; its further queries fail at once with the
// same error instead of waiting out the timeout again. A healthy application
// never notices: only a reply that took the whole timeout trips it.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace pelmora::ax {

// Each Accessibility query of another application is a round trip that
// waits for that application. The system's default timeout is about six
// seconds per query, so one hung application would freeze the editor for
// tens of seconds across a capture with its retries. A second is far longer
// than a healthy reply (milliseconds) and short enough that the worst capture
// stays bounded to a few seconds; a query past it simply fails. It is set on
// every element the addon queries; the system-wide element, where it would
// hold for every Accessibility client of the host, never leaves the seam.
inline constexpr double kAccessibilityMessagingTimeout = 1.0;

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

// Tells whether the queries made since it was created all got the
// application's own answer: none was refused for the deadline or an
// unresponsive application, and no reply ran into the messaging timeout.
// A test answered from fewer queries than it needed must not decide.
class AnswerWatch {
 public:
  AnswerWatch();
  bool allAnswered() const;
  // A query reached the application but its reply ran into the timeout.
  bool anyLate() const;

 private:
  uint64_t refused_;
  uint64_t late_;
};

// Each query is bounded by the messaging timeout, set on the element queried.
platform::AttributeResult copy(platform::ElementRef element, std::string_view attribute);
std::vector<platform::AttributeResult> copyMany(platform::ElementRef element,
                                               std::span<const std::string_view> attributes);
platform::SettableResult settable(platform::ElementRef element, std::string_view attribute);
platform::AXError setString(platform::ElementRef element, std::string_view attribute, std::string_view value);
platform::AXError setBool(platform::ElementRef element, std::string_view attribute, bool value);
platform::AXError setRange(platform::ElementRef element, std::string_view attribute, platform::TextRange value);

// The system-wide element keeps the host's timeout: one set there would hold
// for every Accessibility client of the host.
platform::AttributeResult copySystemWide(std::string_view attribute);

// A read-back after a write: the application has the request, so it is asked
// even when it was marked unresponsive (each read still bounded by the
// timeout), and a reply in time clears the mark.
platform::AttributeResult copyAfterWrite(platform::ElementRef element, std::string_view attribute);
// A write that undoes one still in the application's hands: sent on the
// same terms as the read-backs, since it must land after that one.
platform::AXError setStringAfterWrite(platform::ElementRef element, std::string_view attribute, std::string_view value);

}  // namespace pelmora::ax
