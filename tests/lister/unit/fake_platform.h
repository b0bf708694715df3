// A scripted platform for the lister's core: the unit tests link it in place
// of lister/mac or lister/gio and say what each application answers.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace corvane::fake {

struct FakeApp {
  std::optional<std::string> identifier;  // none: the bundle does not open or has no identifier
  std::optional<std::string> displayName;
  std::optional<std::string> name;
  std::string stem;
  std::string path;
  std::optional<std::string> png;
};

extern std::vector<FakeApp> gApps;           // what appsForFile answers, in order
extern std::optional<FakeApp> gDefault;      // what defaultApp answers
extern std::vector<std::string> gIconPaths;  // the apps whose icon was drawn, in the order drawing began
extern std::function<void(const std::string& path)> gWhileDrawing;  // runs inside each drawing, on its thread

void reset();

}  // namespace corvane::fake
