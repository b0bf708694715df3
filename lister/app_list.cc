#include "lister/app_list.h"

#include <algorithm>
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
  namespace pf = platform;
  Result result;
  const pf::File file = pf::fileForPath(path);

  if (pf::App app = pf::defaultApp(*file)) {
    if (auto id = pf::appIdentifier(*app)) result.defaultAppIdentifier = unicode::toWellFormedUtf8(std::move(*id));
  }

  std::unordered_set<std::string> listed;
  for (const pf::App& app : pf::appsForFile(*file)) {
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
    if (std::optional<std::string> png = pf::appIconPng(*app)) info.icon = base64Encode(*png);
    result.apps.push_back(std::move(info));
  }

  sortApps(result.apps, result.defaultAppIdentifier, pf::compareNames);
  return result;
}

}  // namespace corvane
