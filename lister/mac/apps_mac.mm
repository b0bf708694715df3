// The lister's platform on macOS: the shared workspace names the
// applications, their bundles give identifiers and names.
#import <AppKit/AppKit.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <vector>

#include "unicode/utf16.h"
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

// From the UTF-16 of the text, as the addon makes its strings: nil for text
// that is not UTF-8.
NSString* stringFromUtf8(std::string_view text) {
  auto units = unicode::utf16FromUtf8(text);
  if (!units) return nil;
  return [NSString stringWithCharacters:units->data() length:units->size()];
}

}  // namespace

std::string utf8(NSString* text) {
  if (!text) return {};
  std::vector<uint16_t> units(text.length);
  [text getCharacters:units.data() range:NSMakeRange(0, units.size())];
  return unicode::utf8FromUtf16(units);
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
