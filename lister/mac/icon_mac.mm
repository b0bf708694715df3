// An application's icon redrawn onto a 32 x 32-point canvas and encoded as
// PNG, so every icon of the document has the same size whatever sizes the
// icon file offers.
#import <AppKit/AppKit.h>

#include "lister/mac/app_objects_mac.h"

namespace corvane::platform {

std::optional<std::string> appIconPng(const AppObject& app) {
  @autoreleasepool {
    NSString* path = app.url.path;
    if (!path) return std::nullopt;
    // Always an image: the generic application icon when the bundle has none.
    NSImage* icon = [[NSWorkspace sharedWorkspace] iconForFile:path];
    const NSSize canvasSize = NSMakeSize(32.0, 32.0);
    NSImage* canvas = [[NSImage alloc] initWithSize:canvasSize];
    [canvas lockFocus];
    // The whole icon into the whole canvas: a non-square icon is stretched.
    [icon drawInRect:NSMakeRect(0, 0, canvasSize.width, canvasSize.height)
            fromRect:NSMakeRect(0, 0, icon.size.width, icon.size.height)
           operation:NSCompositingOperationSourceOver
            fraction:1.0];
    [canvas unlockFocus];

    NSData* tiff = canvas.TIFFRepresentation;
    if (!tiff) return std::nullopt;
    NSBitmapImageRep* bitmap = [[NSBitmapImageRep alloc] initWithData:tiff];
    if (!bitmap) return std::nullopt;
    NSData* png = [bitmap representationUsingType:NSBitmapImageFileTypePNG properties:@{}];
    if (!png) return std::nullopt;
    return std::string(static_cast<const char*>(png.bytes), png.length);
  }
}

}  // namespace corvane::platform
