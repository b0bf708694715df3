// Whether setting an element's messaging timeout is a local call (its cost
// beside a query's, and its answer without trust), and what
// AXUIElementGetPid answers for the system-wide element. Never sets a timeout
// on the system-wide element. Prints one JSON line.
#import <AppKit/AppKit.h>
#include <stdio.h>
#include <time.h>

int main(void) {
  @autoreleasepool {
    AXUIElementRef system = AXUIElementCreateSystemWide();
    pid_t systemPid = -1;
    const AXError pidError = AXUIElementGetPid(system, &systemPid);
    CFRelease(system);
    const pid_t finder =
        [NSRunningApplication runningApplicationsWithBundleIdentifier:@"com.apple.finder"].firstObject.processIdentifier;
    printf("{\"trusted\":%s,\"systemWidePid\":%d,\"systemWidePidError\":%d,\"finder\":%d",
           AXIsProcessTrusted() ? "true" : "false", systemPid, pidError, finder);
    if (finder > 0) {
      AXUIElementRef app = AXUIElementCreateApplication(finder);
      const int n = 10000;
      AXError setError = kAXErrorSuccess;
      const uint64_t t0 = clock_gettime_nsec_np(CLOCK_UPTIME_RAW);
      for (int i = 0; i < n; ++i) setError = AXUIElementSetMessagingTimeout(app, 1.0f);
      const uint64_t t1 = clock_gettime_nsec_np(CLOCK_UPTIME_RAW);
      CFTypeRef role = NULL;
      const AXError copyError = AXUIElementCopyAttributeValue(app, kAXRoleAttribute, &role);
      const uint64_t t2 = clock_gettime_nsec_np(CLOCK_UPTIME_RAW);
      if (role) CFRelease(role);
      CFRelease(app);
      printf(",\"setError\":%d,\"nsPerSet\":%.0f,\"copyError\":%d,\"nsPerCopy\":%llu", setError, (double)(t1 - t0) / n,
             copyError, (unsigned long long)(t2 - t1));
    }
    printf("}\n");
  }
  return 0;
}
