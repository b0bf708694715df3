// What the front process and the running-application records answer for an
// application launched while this process's main run loop stands still, and
// after one turn of it. Launches Calculator with open(1); the caller ends
// it. Prints one JSON line.
#import <AppKit/AppKit.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;
static NSString *const kCalculator = @"com.apple.calculator";

// The Process Manager's front process, as the addon reads it.
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wdeprecated-declarations"
static NSDictionary *processManagerFront(void) {
  ProcessSerialNumber psn = {0, kNoProcess};
  pid_t pid = -1;
  if (GetFrontProcess(&psn) != noErr || GetProcessPID(&psn, &pid) != noErr) return @{@"pid" : @(-1), @"bundleID" : @""};
  NSDictionary *info = CFBridgingRelease(ProcessInformationCopyDictionary(&psn, kProcessDictionaryIncludeAllInformationMask));
  id bundle = info[(__bridge NSString *)kCFBundleIdentifierKey];
  return @{@"pid" : @(pid), @"bundleID" : [bundle isKindOfClass:[NSString class]] ? bundle : @""};
}
#pragma clang diagnostic pop

static NSDictionary *records(pid_t pid) {
  NSWorkspace *workspace = [NSWorkspace sharedWorkspace];
  NSRunningApplication *byPid = [NSRunningApplication runningApplicationWithProcessIdentifier:pid];
  BOOL listed = NO;
  for (NSRunningApplication *app in workspace.runningApplications) listed |= [app.bundleIdentifier isEqual:kCalculator];
  return @{
    @"frontmostApplication" : workspace.frontmostApplication.bundleIdentifier ?: @"",
    @"withBundleIdentifier" : @([NSRunningApplication runningApplicationsWithBundleIdentifier:kCalculator].count),
    @"inRunningApplications" : @(listed),
    @"withProcessIdentifier" : byPid ? (byPid.bundleIdentifier ?: @"(no bundle identifier)") : @"(none)",
    @"isActive" : @(byPid.active),
  };
}

int main(void) {
  @autoreleasepool {
    NSMutableDictionary *out = [NSMutableDictionary dictionary];
    NSDictionary *front = processManagerFront();
    out[@"before"] = @{@"processManager" : front[@"bundleID"], @"records" : records([front[@"pid"] intValue])};

    // Launch Services launches it; no run loop of this process turns meanwhile.
    pid_t child = 0;
    char *argv[] = {"/usr/bin/open", "-b", (char *)kCalculator.UTF8String, NULL};
    int status = -1;
    if (posix_spawn(&child, argv[0], NULL, NULL, argv, environ) == 0) waitpid(child, &status, 0);
    out[@"openStatus"] = @(status);

    // Until the Process Manager shows it in front, or 10 s.
    NSDate *start = [NSDate date];
    while ([[NSDate date] timeIntervalSinceDate:start] < 10) {
      front = processManagerFront();
      if ([front[@"bundleID"] isEqual:kCalculator]) break;
      usleep(100000);
    }
    const pid_t pid = [front[@"pid"] intValue];
    out[@"standingStill"] = @{
      @"processManager" : front[@"bundleID"],
      @"seconds" : @(round([[NSDate date] timeIntervalSinceDate:start] * 10) / 10),
      @"records" : records(pid),
    };
    CFRunLoopRunInMode(kCFRunLoopDefaultMode, 1.0, false);  // one turn, in a common mode
    out[@"afterATurn"] = @{@"processManager" : processManagerFront()[@"bundleID"], @"records" : records(pid)};

    NSData *json = [NSJSONSerialization dataWithJSONObject:out options:0 error:NULL];
    printf("%.*s\n", (int)json.length, (const char *)json.bytes);
  }
  return 0;
}
