#include "focus/ax_calls.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "frame/elapsed.h"

namespace pelmora::ax {
namespace {

int gDepth = 0;
double gDeadline = std::numeric_limits<double>::infinity();
std::vector<int32_t> gUnresponsive;  // pids, for the current call
uint64_t gRefused = 0;  // queries not sent: deadline passed, application unresponsive
uint64_t gLate = 0;     // queries whose reply ran into the timeout

bool isUnresponsive(int32_t pid) {
  return pid != 0 && std::find(gUnresponsive.begin(), gUnresponsive.end(), pid) != gUnresponsive.end();
}

platform::AXError errorOf(const platform::AttributeResult& r) { return r.error; }
platform::AXError errorOf(const platform::SettableResult& r) { return r.error; }
platform::AXError errorOf(platform::AXError e) { return e; }
platform::AXError errorOf(const std::vector<platform::AttributeResult>& r) {
  return r.empty() ? platform::kAXSuccess : r.front().error;
}

enum class Rule : uint8_t { all, afterWrite };

// Runs one query, bounded by the messaging timeout; notes its application
// when the reply took the whole timeout. Every element the logic holds is an
// application's (the system-wide one never leaves the seam). Setting the
// timeout asks nothing of the application: the header ties it to the
// reference, not to a reply.
template <class Query>
auto guarded(platform::ElementRef element, Query query, auto failure, Rule rule = Rule::all) {
  const int32_t pid = element ? platform::elementPid(element) : 0;
  if ((rule == Rule::all && gDepth > 0 && isUnresponsive(pid)) || platform::now() > gDeadline) {
    ++gRefused;
    return failure();
  }
  if (element) platform::setMessagingTimeout(element, kAccessibilityMessagingTimeout);
  const double start = platform::now();
  auto result = query();
  // A bus's timer may fire a hair before the full timeout: what took nearly
  // all of it ran into it.
  const bool late = errorOf(result) == platform::kAXCannotComplete &&
                    elapsedSeconds(start, platform::now()) >= kAccessibilityMessagingTimeout * 0.95;
  if (late) {
    ++gLate;
    if (gDepth > 0 && pid != 0 && !isUnresponsive(pid)) gUnresponsive.push_back(pid);
  } else if (rule == Rule::afterWrite) {
    std::erase(gUnresponsive, pid);
  }
  return result;
}

platform::AttributeResult cannotCompleteResult() {
  platform::AttributeResult r;
  r.error = platform::kAXCannotComplete;
  return r;
}

platform::AXError cannotComplete() { return platform::kAXCannotComplete; }

}  // namespace

Deadline::Deadline(double seconds) : previous_(gDeadline) {
  gDeadline = std::min(gDeadline, platform::now() + seconds);
}

Deadline::~Deadline() { gDeadline = previous_; }

CallScope::CallScope() { ++gDepth; }

CallScope::~CallScope() {
  if (--gDepth == 0) gUnresponsive.clear();
}

AnswerWatch::AnswerWatch() : refused_(gRefused), late_(gLate) {}

bool AnswerWatch::allAnswered() const { return gRefused == refused_ && gLate == late_; }

bool AnswerWatch::anyLate() const { return gLate != late_; }

platform::AttributeResult copy(platform::ElementRef element, std::string_view attribute) {
  return guarded(element, [&] { return platform::copyAttribute(element, attribute); }, cannotCompleteResult);
}

platform::AttributeResult copySystemWide(std::string_view attribute) {
  if (platform::now() > gDeadline) {
    ++gRefused;
    return cannotCompleteResult();
  }
  return platform::copySystemWideAttribute(attribute);
}

platform::AttributeResult copyAfterWrite(platform::ElementRef element, std::string_view attribute) {
  return guarded(element, [&] { return platform::copyAttribute(element, attribute); }, cannotCompleteResult,
                 Rule::afterWrite);
}

platform::AXError setStringAfterWrite(platform::ElementRef element, std::string_view attribute, std::string_view value) {
  return guarded(element, [&] { return platform::setStringAttribute(element, attribute, value); }, cannotComplete,
                 Rule::afterWrite);
}

std::vector<platform::AttributeResult> copyMany(platform::ElementRef element,
                                               std::span<const std::string_view> attributes) {
  return guarded(element, [&] { return platform::copyAttributes(element, attributes); }, [&] {
    std::vector<platform::AttributeResult> failed(attributes.size());
    for (auto& r : failed) r.error = platform::kAXCannotComplete;
    return failed;
  });
}

platform::SettableResult settable(platform::ElementRef element, std::string_view attribute) {
  return guarded(element, [&] { return platform::isAttributeSettable(element, attribute); },
                 [] { return platform::SettableResult{platform::kAXCannotComplete, false}; });
}

platform::AXError setString(platform::ElementRef element, std::string_view attribute, std::string_view value) {
  return guarded(element, [&] { return platform::setStringAttribute(element, attribute, value); }, cannotComplete);
}

platform::AXError setBool(platform::ElementRef element, std::string_view attribute, bool value) {
  return guarded(element, [&] { return platform::setBoolAttribute(element, attribute, value); }, cannotComplete);
}

platform::AXError setRange(platform::ElementRef element, std::string_view attribute, platform::TextRange value) {
  return guarded(element, [&] { return platform::setRangeAttribute(element, attribute, value); }, cannotComplete);
}

}  // namespace pelmora::ax
