#include "fake_platform.h"

#include <cctype>
#include <mutex>

#include "lister/platform.h"

namespace corvane::fake {

std::vector<FakeApp> gApps;
std::optional<FakeApp> gDefault;
std::vector<std::string> gIconPaths;
std::function<void(const std::string&)> gWhileDrawing;

void reset() {
  gApps.clear();
  gDefault.reset();
  gIconPaths.clear();
  gWhileDrawing = nullptr;
}

}  // namespace corvane::fake

namespace corvane::platform {

struct FileObject {};
struct AppObject {
  fake::FakeApp app;
};

void release(FileObject* file) noexcept { delete file; }
void release(AppObject* app) noexcept { delete app; }

void beginRun() noexcept {}
void beginIcons(const std::vector<const AppObject*>&) noexcept {}
void endIcons() noexcept {}

File fileForPath(std::string_view) { return File(new FileObject); }

App defaultApp(const FileObject&) { return fake::gDefault ? App(new AppObject{*fake::gDefault}) : nullptr; }

std::vector<App> appsForFile(const FileObject&) {
  std::vector<App> apps;
  for (const fake::FakeApp& app : fake::gApps) apps.emplace_back(new AppObject{app});
  return apps;
}

std::optional<std::string> appIdentifier(AppObject& app) { return app.app.identifier; }

std::optional<std::string> appNameValue(AppObject& app, NameKey key) {
  return key == NameKey::displayName ? app.app.displayName : app.app.name;
}

std::string appFileStem(const AppObject& app) { return app.app.stem; }
std::string appPath(const AppObject& app) { return app.app.path; }

std::optional<std::string> appIconPng(const AppObject& app) {
  static std::mutex drawn;
  {
    const std::lock_guard<std::mutex> lock(drawn);
    fake::gIconPaths.push_back(app.app.path);
  }
  if (fake::gWhileDrawing) fake::gWhileDrawing(app.app.path);
  return app.app.png;
}

// Case-insensitive for ASCII, which is all the core's tests need.
int compareNames(std::string_view a, std::string_view b) {
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    const int x = std::tolower(static_cast<unsigned char>(a[i]));
    const int y = std::tolower(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

}  // namespace corvane::platform
