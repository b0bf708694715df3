// The two objects of the macOS platform, shared by its two files. ARC owns
// the references the members hold.
#pragma once

#import <Foundation/Foundation.h>

#include <string>

#include "lister/platform.h"

namespace corvane::platform {

struct FileObject {
  NSURL* url = nil;
};

struct AppObject {
  NSURL* url = nil;        // the application bundle's URL
  NSBundle* bundle = nil;  // opened on the first question about it
  bool bundleTried = false;
};

// UTF-8 of a string; a lone UTF-16 surrogate, which has no UTF-8 form,
// becomes U+FFFD.
std::string utf8(NSString* text);

}  // namespace corvane::platform
