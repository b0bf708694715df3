// Simulated user preferences: any value tree under any domain and key. Every
// read hands out a fresh copy, as the real store does, so nothing the addon
// does to a value it read can change what the next read sees.
#include <string>

#include "platform/platform.h"
#include "platform/sim/world.h"

namespace sim {

void resetPrefs() { world().prefs.clear(); }

void setPreference(const std::string& domain, const std::string& key, platform::PrefValue value) {
  world().prefs[{domain, key}] = std::move(value);
}

void removePreference(const std::string& domain, const std::string& key) { world().prefs.erase({domain, key}); }

}  // namespace sim

namespace platform {

PrefValue copyAppPreference(std::string_view key, std::string_view domain) noexcept {
  std::string k(key), d(domain);
  sim::log("prefsRead", sim::Value::object({{"domain", d}, {"key", k}}));
  const auto& prefs = sim::world().prefs;
  auto it = prefs.find({d, k});
  return it == prefs.end() ? PrefValue{} : it->second;
}

}  // namespace platform
