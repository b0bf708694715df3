// Running applications and the workspace over AppKit, and the front process
// over the Process Manager.
#import <AppKit/AppKit.h>
#include <ApplicationServices/ApplicationServices.h>

#include "platform/mac/cf_text.h"
#include "platform/platform.h"

namespace platform {
namespace {

std::optional<std::string> text(NSString* s) {
  if (s == nil) return std::nullopt;
  return mac::toUtf8((__bridge CFStringRef)s);
}

std::optional<std::string> text(CFTypeRef s) {
  if (!s || CFGetTypeID(s) != CFStringGetTypeID()) return std::nullopt;
  return mac::toUtf8(static_cast<CFStringRef>(s));
}

// Bundle identifier and localized name do not change while an application
// runs, so a running-application record answers them truly whenever its
// time-varying properties were last updated.
RunningApplication record(NSRunningApplication* app) {
  return RunningApplication{app.processIdentifier, text(app.bundleIdentifier), text(app.localizedName)};
}

// NSRunningApplication and NSWorkspace update what varies (the frontmost
// application, isActive, the list of applications) only when the main run
// loop turns in a common mode, which a host need not do between calls. The
// Process Manager is documented thread safe and is not tied to the run loop,
// so it is taken to answer at the moment of the call (the macOS smoke run
// checks that); it is deprecated, and nothing current answers that way.
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wdeprecated-declarations"

std::optional<pid_t> frontProcessID() {
  ProcessSerialNumber psn = {0, kNoProcess};
  pid_t pid = -1;
  if (GetFrontProcess(&psn) != noErr || GetProcessPID(&psn, &pid) != noErr || pid <= 0) return std::nullopt;
  return pid;
}

// For a process the running-application records do not know yet: one
// launched since the host's main run loop last turned.
std::optional<RunningApplication> processManagerRecord(pid_t pid) {
  ProcessSerialNumber psn = {0, kNoProcess};
  if (GetProcessForPID(pid, &psn) != noErr) return std::nullopt;
  CFDictionaryRef info = ProcessInformationCopyDictionary(&psn, kProcessDictionaryIncludeAllInformationMask);
  if (!info) return std::nullopt;
  mac::ScopedCF owned(info);
  return RunningApplication{pid, text(CFDictionaryGetValue(info, kCFBundleIdentifierKey)),
                            text(CFDictionaryGetValue(info, kCFBundleNameKey))};
}

#pragma clang diagnostic pop

std::optional<RunningApplication> applicationOfProcess(pid_t pid) {
  NSRunningApplication* app = [NSRunningApplication runningApplicationWithProcessIdentifier:pid];
  if (app != nil) return record(app);
  return processManagerRecord(pid);
}

}  // namespace

std::optional<RunningApplication> runningApplication(int32_t pid) {
  @autoreleasepool {
    return applicationOfProcess(pid);
  }
}

std::optional<RunningApplication> frontmostApplication() {
  @autoreleasepool {
    auto pid = frontProcessID();
    if (!pid) return std::nullopt;
    if (auto app = applicationOfProcess(*pid)) return app;
    // Without names it matches no target that has a bundle identifier: the
    // safe side when nothing names the front process.
    return RunningApplication{*pid, std::nullopt, std::nullopt};
  }
}

void activateApplication(int32_t pid, uint32_t options) noexcept {
  @autoreleasepool {
    NSRunningApplication* app = [NSRunningApplication runningApplicationWithProcessIdentifier:pid];
    [app activateWithOptions:static_cast<NSApplicationActivationOptions>(options)];
  }
}

}  // namespace platform
