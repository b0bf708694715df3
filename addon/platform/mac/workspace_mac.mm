// Running applications and the workspace over AppKit.
#import <AppKit/AppKit.h>

#include "platform/platform.h"

namespace platform {
namespace {

std::optional<std::string> text(NSString* s) {
  if (s == nil) return std::nullopt;
  const char* utf8 = [s UTF8String];
  return utf8 ? std::optional<std::string>(utf8) : std::nullopt;
}

RunningApplication record(NSRunningApplication* app) {
  return RunningApplication{app.processIdentifier, text(app.bundleIdentifier), text(app.localizedName), app.active != NO};
}

}  // namespace

std::optional<RunningApplication> runningApplication(int32_t pid) {
  @autoreleasepool {
    NSRunningApplication* app = [NSRunningApplication runningApplicationWithProcessIdentifier:pid];
    if (app == nil) return std::nullopt;
    return record(app);
  }
}

std::vector<RunningApplication> runningApplicationsWithBundleID(std::string_view bundleID) {
  @autoreleasepool {
    std::vector<RunningApplication> found;
    NSString* identifier = [[NSString alloc] initWithBytes:bundleID.data()
                                                    length:bundleID.size()
                                                  encoding:NSUTF8StringEncoding];
    if (identifier == nil) return found;
    for (NSRunningApplication* app in [NSRunningApplication runningApplicationsWithBundleIdentifier:identifier])
      found.push_back(record(app));
    return found;
  }
}

std::optional<RunningApplication> frontmostApplication() {
  @autoreleasepool {
    NSRunningApplication* app = [[NSWorkspace sharedWorkspace] frontmostApplication];
    if (app == nil) return std::nullopt;
    return record(app);
  }
}

void activateApplication(int32_t pid, uint32_t options) noexcept {
  @autoreleasepool {
    NSRunningApplication* app = [NSRunningApplication runningApplicationWithProcessIdentifier:pid];
    [app activateWithOptions:static_cast<NSApplicationActivationOptions>(options)];
  }
}

}  // namespace platform
