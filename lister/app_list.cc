#include "lister/app_list.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <utility>

#include "unicode/utf8.h"
#include "lister/base64.h"
#include "lister/platform.h"

namespace corvane {

namespace {

// First match wins: the display name, the plain name, the file stem. A value
// that is present is taken as it is, even when empty.
std::string displayNameOf(platform::AppObject& app) {
  if (auto value = platform::appNameValue(app, platform::NameKey::displayName)) return std::move(*value);
  if (auto value = platform::appNameValue(app, platform::NameKey::name)) return std::move(*value);
  return platform::appFileStem(app);
}

// Beyond this, more threads only wait on the disk and on each other.
constexpr size_t kMaxDrawingThreads = 8;

// The icons of the applications, drawn on as many threads as there are cores,
// each icon by one thread; an icon whose drawing fails is none.
std::vector<std::optional<std::string>> drawIcons(const std::vector<const platform::AppObject*>& apps) {
  std::vector<std::optional<std::string>> icons(apps.size());
  if (apps.empty()) return icons;
  platform::beginIcons(apps);
  std::atomic<size_t> next{0};
  const auto work = [&] {
    for (size_t i; (i = next.fetch_add(1)) < apps.size();) {
      try {
        if (std::optional<std::string> png = platform::appIconPng(*apps[i])) icons[i] = base64Encode(*png);
      } catch (const std::exception&) {
        // Out of memory for one icon: that application goes without it.
      }
    }
  };
  const size_t cores = std::max(1u, std::thread::hardware_concurrency());
  const size_t threads = std::min({cores, apps.size(), kMaxDrawingThreads});
  std::vector<std::thread> helpers;
  for (size_t t = 1; t < threads; ++t) {
    try {
      helpers.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // the threads that did start, and this one, share the rest
    }
  }
  work();
  for (std::thread& helper : helpers) helper.join();
  platform::endIcons();
  return icons;
}

}  // namespace

void sortApps(std::vector<AppInfo>& apps, const std::optional<std::string>& defaultIdentifier,
              NameComparison compare) {
  std::stable_sort(apps.begin(), apps.end(), [&](const AppInfo& a, const AppInfo& b) {
    if (defaultIdentifier) {
      if (a.identifier == *defaultIdentifier) return true;
      if (b.identifier == *defaultIdentifier) return false;
    }
    return compare(a.name, b.name) < 0;
  });
}

Result listApps(std::string_view path) {
  std::vector<platform::App> named;
  return listApps(path, named);
}

Result listApps(std::string_view path, std::vector<platform::App>& named) {
  namespace pf = platform;
  Result result;
  const pf::File file = pf::fileForPath(path);

  if (pf::App app = pf::defaultApp(*file)) {
    if (auto id = pf::appIdentifier(*app)) result.defaultAppIdentifier = unicode::toWellFormedUtf8(std::move(*id));
  }

  std::unordered_set<std::string> listed;
  named = pf::appsForFile(*file);
  std::vector<const pf::AppObject*> kept;
  for (const pf::App& app : named) {
    std::optional<std::string> id = pf::appIdentifier(*app);
    if (!id) continue;
    // Dedupe on the identifier as the document shows it, so two raw values
    // that print alike are never listed twice.
    std::string identifier = unicode::toWellFormedUtf8(std::move(*id));
    if (!listed.insert(identifier).second) continue;

    AppInfo info;
    info.identifier = std::move(identifier);
    info.name = unicode::toWellFormedUtf8(displayNameOf(*app));
    info.path = unicode::toWellFormedUtf8(pf::appPath(*app));
    result.apps.push_back(std::move(info));
    kept.push_back(app.get());
  }
  std::vector<std::optional<std::string>> icons = drawIcons(kept);
  for (size_t i = 0; i < kept.size(); ++i) result.apps[i].icon = std::move(icons[i]);

  sortApps(result.apps, result.defaultAppIdentifier, pf::compareNames);
  return result;
}

}  // namespace corvane
