#include "focus/ax_calls.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "focus/captured_target.h"
#include "frame/elapsed.h"

namespace pelmora::ax {
namespace {

int gDepth = 0;
double gDeadline = std::numeric_limits<double>::infinity();
std::vector<int32_t> gUnresponsive;  // pids, for the current call

bool isUnresponsive(int32_t pid) {
  return pid != 0 && std::find(gUnresponsive.begin(), gUnresponsive.end(), pid) != gUnresponsive.end();
}

platform::AXError errorOf(const platform::AttributeResult& r) { return r.error; }
platform::AXError errorOf(const platform::SettableResult& r) { return r.error; }
platform::AXError errorOf(platform::AXError e) { return e; }
platform::AXError errorOf(const std::vector<platform::AttributeResult>& r) {
  return r.empty() ? platform::kAXSuccess : r.front().error;
}

// Runs one query; notes its application when the reply took the whole
// timeout.
template <class Query>
auto guarded(platform::ElementRef element, Query query, auto failure) {
  const int32_t pid = element ? platform::elementPid(element) : 0;
  if (gDepth > 0 && isUnresponsive(pid)) return failure();
  if (platform::now() > gDeadline) return failure();
  const double start = platform::now();
  auto result = query();
  if (gDepth > 0 && pid != 0 && errorOf(result) == platform::kAXCannotComplete &&
      elapsedSeconds(start, platform::now()) >= kAccessibilityMessagingTimeout)
    gUnresponsive.push_back(pid);
  return result;
}

}  // namespace

Deadline::Deadline(double seconds) : previous_(gDeadline) {
  gDeadline = std::min(gDeadline, platform::now() + seconds);
}

Deadline::~Deadline() { gDeadline = previous_; }

CallScope::CallScope() { ++gDepth; }

CallScope::~CallScope() {
  if (--gDepth == 0) gUnresponsive.clear();
}

platform::AttributeResult copy(platform::ElementRef element, std::string_view attribute) {
  return guarded(element, [&] { return platform::copyAttribute(element, attribute); }, [] {
    platform::AttributeResult r;
    r.error = platform::kAXCannotComplete;
    return r;
  });
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

namespace {
platform::AXError cannotComplete() { return platform::kAXCannotComplete; }
}  // namespace

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
