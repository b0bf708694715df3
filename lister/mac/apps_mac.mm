// The lister's platform on macOS: the shared workspace names the
// applications, their bundles give identifiers and names.
#import <AppKit/AppKit.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <vector>

#include "unicode/utf8.h"
#include "lister/mac/app_objects_mac.h"

namespace corvane::platform {

void release(FileObject* file) noexcept { delete file; }
void release(AppObject* app) noexcept { delete app; }

namespace {

App wrap(NSURL* url) {
  if (!url) return nullptr;
  auto* app = new AppObject;
  app->url = url;
  return App(app);
}

NSBundle* bundleOf(AppObject& app) {
  if (!app.bundleTried) {
    app.bundleTried = true;
    app.bundle = [[NSBundle alloc] initWithURL:app.url];
  }
  return app.bundle;
}

NSString* stringFromUtf8(std::string_view text) {
  return [[NSString alloc] initWithBytes:text.data() length:text.size() encoding:NSUTF8StringEncoding];
}

}  // namespace

std::string utf8(NSString* text) {
  std::string out;
  if (!text) return out;
  const NSUInteger n = text.length;
  std::vector<unichar> units(n);
  [text getCharacters:units.data() range:NSMakeRange(0, n)];
  out.reserve(n);
  for (NSUInteger i = 0; i < n; ++i) {
    uint32_t c = units[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    unicode::appendUtf8(out, c);
  }
  return out;
}


File fileForPath(std::string_view path) {
  @autoreleasepool {
    // An empty path names no file (not the current folder): nothing opens it.
    if (path.empty()) return File(new FileObject);
    // From the bytes as given: a path that is not UTF-8 still names its file.
    std::string full(path);
    if (full.front() != '/') {
      char cwd[PATH_MAX];
      if (::getcwd(cwd, sizeof cwd)) full = std::string(cwd) + "/" + full;
    }
    struct stat st;
    const BOOL isDirectory = ::stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    auto* file = new FileObject;
    file->url = [NSURL fileURLWithFileSystemRepresentation:full.c_str() isDirectory:isDirectory relativeToURL:nil];
    return File(file);
  }
}

App defaultApp(const FileObject& file) {
  @autoreleasepool {
    if (!file.url) return nullptr;
    return wrap([[NSWorkspace sharedWorkspace] URLForApplicationToOpenURL:file.url]);
  }
}

std::vector<App> appsForFile(const FileObject& file) {
  @autoreleasepool {
    std::vector<App> apps;
    if (!file.url) return apps;
    for (NSURL* url in [[NSWorkspace sharedWorkspace] URLsForApplicationsToOpenURL:file.url]) apps.push_back(wrap(url));
    return apps;
  }
}

std::optional<std::string> appIdentifier(AppObject& app) {
  @autoreleasepool {
    NSString* identifier = bundleOf(app).bundleIdentifier;
    if (!identifier) return std::nullopt;
    return utf8(identifier);
  }
}

std::optional<std::string> appNameValue(AppObject& app, NameKey key) {
  @autoreleasepool {
    NSBundle* bundle = bundleOf(app);
    if (!bundle) return std::nullopt;
    // The localized value where the bundle has one; another type is no name.
    id value = [bundle objectForInfoDictionaryKey:key == NameKey::displayName ? @"CFBundleDisplayName" : @"CFBundleName"];
    if (![value isKindOfClass:[NSString class]]) return std::nullopt;
    return utf8(value);
  }
}

std::string appFileStem(const AppObject& app) {
  @autoreleasepool {
    return utf8(app.url.URLByDeletingPathExtension.lastPathComponent);
  }
}

std::string appPath(const AppObject& app) {
  @autoreleasepool {
    return utf8(app.url.path);
  }
}

int compareNames(std::string_view a, std::string_view b) {
  @autoreleasepool {
    NSString* x = stringFromUtf8(a);
    NSString* y = stringFromUtf8(b);
    if (!x || !y) return a.compare(b);
    switch ([x localizedCaseInsensitiveCompare:y]) {
      case NSOrderedAscending: return -1;
      case NSOrderedDescending: return 1;
      case NSOrderedSame: return 0;
    }
    return 0;
  }
}

}  // namespace corvane::platform
