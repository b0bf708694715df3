// The run of corvane: which applications open a file, in display order.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lister/platform.h"

namespace corvane {

// One application of the document. Strings are well-formed UTF-8.
struct AppInfo {
  std::string identifier;
  std::string name;
  std::string path;
  std::optional<std::string> icon;  // base64 PNG
};

// The whole document.
struct Result {
  std::optional<std::string> defaultAppIdentifier;
  std::vector<AppInfo> apps;
};

using NameComparison = int (*)(std::string_view a, std::string_view b);

// Stable: the default application first, the rest by name; names that
// compare equal keep the platform's order.
void sortApps(std::vector<AppInfo>& apps, const std::optional<std::string>& defaultIdentifier,
              NameComparison compare);

// Asks the platform about the file at path and builds the document: skips
// applications without an identifier, keeps the first location of each
// identifier, draws icons only for the applications that are kept. The
// platform's objects for the applications go to named, for the caller to
// release when it likes (after the document is out: releasing them is work
// its reader need not wait for).
Result listApps(std::string_view path, std::vector<platform::App>& named);
Result listApps(std::string_view path);

}  // namespace corvane
