// Which keyboard taps this process may create without any permission,
// whether each reads enabled as created and after CGEventTapEnable(false),
// and the entry the system's list of taps shows for it. Asks nothing of the
// user (no CGRequest... call). Prints one JSON line.
#include <ApplicationServices/ApplicationServices.h>
#include <stdio.h>
#include <unistd.h>

static CGEventRef pass(CGEventTapProxy proxy, CGEventType type, CGEventRef event, void *info) {
  (void)proxy;
  (void)type;
  (void)info;
  return event;
}

static const char *yes(bool b) { return b ? "true" : "false"; }

int main(void) {
  // The Fn monitor's mask: key down, key up, flags changed, system-defined.
  const CGEventMask asked = CGEventMaskBit(kCGEventKeyDown) | CGEventMaskBit(kCGEventKeyUp) |
                            CGEventMaskBit(kCGEventFlagsChanged) | CGEventMaskBit(14);
  printf("{\"listen\":%s,\"post\":%s,\"trusted\":%s,\"asked\":%llu,\"taps\":[", yes(CGPreflightListenEventAccess()),
         yes(CGPreflightPostEventAccess()), yes(AXIsProcessTrusted()), (unsigned long long)asked);
  const struct {
    const char *name;
    CGEventTapLocation at;
    CGEventTapOptions options;
  } kinds[] = {
      {"HID, active", kCGHIDEventTap, kCGEventTapOptionDefault},  // the Fn monitor's kind
      {"session, active", kCGSessionEventTap, kCGEventTapOptionDefault},
      {"session, listen-only", kCGSessionEventTap, kCGEventTapOptionListenOnly},
  };
  for (size_t i = 0; i < sizeof kinds / sizeof kinds[0]; ++i) {
    CFMachPortRef tap = CGEventTapCreate(kinds[i].at, kCGHeadInsertEventTap, kinds[i].options, asked, pass, NULL);
    printf("%s{\"tap\":\"%s\",\"created\":%s", i ? "," : "", kinds[i].name, yes(tap != NULL));
    if (tap) {
      const bool enabled = CGEventTapIsEnabled(tap);
      CGEventTapEnable(tap, false);
      printf(",\"enabled\":%s,\"enabledAfterDisable\":%s,\"listed\":[", yes(enabled), yes(CGEventTapIsEnabled(tap)));
      CGEventTapInformation list[256];
      uint32_t count = 0;
      int shown = 0;
      if (CGGetEventTapList(256, list, &count) == kCGErrorSuccess)
        for (uint32_t k = 0; k < count && k < 256; ++k)
          if (list[k].tappingProcess == getpid() && list[k].tapPoint == kinds[i].at &&
              list[k].options == kinds[i].options)
            printf("%s{\"mask\":%llu,\"enabled\":%s}", shown++ ? "," : "",
                   (unsigned long long)list[k].eventsOfInterest, yes(list[k].enabled));
      printf("]");
      CFMachPortInvalidate(tap);
      CFRelease(tap);
    }
    printf("}");
  }
  printf("]}\n");
  return 0;
}
