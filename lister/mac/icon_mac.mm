// An application's icon redrawn into a 32 x 32-pixel bitmap and encoded as
// PNG: the same pixels on every Mac, whatever its screen's scale and
// whatever sizes the icon file offers. Called on several threads at once;
// each call draws into a context of its own.
#import <AppKit/AppKit.h>

#include "lister/mac/app_objects_mac.h"

namespace corvane::platform {

void beginRun() noexcept {
  // Cocoa guards its shared state only once it knows the process runs more
  // than one thread, and only an NSThread tells it: one that ends at once,
  // before the icon drawing starts threads of its own.
  if (![NSThread isMultiThreaded]) [NSThread detachNewThreadWithBlock:^{}];
}

// Nothing is shared between icons: each has its bitmap, its context and
// its autorelease pool.
void beginIcons(const std::vector<const AppObject*>&) noexcept {}
void endIcons() noexcept {}

std::optional<std::string> appIconPng(const AppObject& app) {
  @autoreleasepool {
    NSString* path = app.url.path;
    if (!path) return std::nullopt;
    constexpr NSInteger kPixels = 32;
    // AppKit reports a failed drawing by raising: it costs this icon only.
    @try {
      // Always an image: the generic application icon when the bundle has none.
      NSImage* icon = [[NSWorkspace sharedWorkspace] iconForFile:path];
      NSBitmapImageRep* bitmap = [[NSBitmapImageRep alloc] initWithBitmapDataPlanes:nullptr
                                                                         pixelsWide:kPixels
                                                                         pixelsHigh:kPixels
                                                                      bitsPerSample:8
                                                                    samplesPerPixel:4
                                                                           hasAlpha:YES
                                                                           isPlanar:NO
                                                                     colorSpaceName:NSDeviceRGBColorSpace
                                                                        bytesPerRow:0
                                                                       bitsPerPixel:0];
      if (!bitmap) return std::nullopt;
      // As many points as pixels: no screen's scale comes into it.
      bitmap.size = NSMakeSize(kPixels, kPixels);
      NSGraphicsContext* context = [NSGraphicsContext graphicsContextWithBitmapImageRep:bitmap];
      if (!context) return std::nullopt;
      [NSGraphicsContext saveGraphicsState];
      @try {
        NSGraphicsContext.currentContext = context;
        // The whole icon into the whole canvas: a non-square icon is stretched.
        [icon drawInRect:NSMakeRect(0, 0, kPixels, kPixels)
                fromRect:NSMakeRect(0, 0, icon.size.width, icon.size.height)
               operation:NSCompositingOperationSourceOver
                fraction:1.0];
        [context flushGraphics];
      } @finally {
        [NSGraphicsContext restoreGraphicsState];
      }
      NSData* png = [bitmap representationUsingType:NSBitmapImageFileTypePNG properties:@{}];
      if (!png) return std::nullopt;
      return std::string(static_cast<const char*>(png.bytes), png.length);
    } @catch (NSException*) {
      return std::nullopt;
    }
  }
}

}  // namespace corvane::platform
