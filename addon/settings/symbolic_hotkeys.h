// The key combinations that the system's own shortcuts (symbolic hotkeys)
// occupy: the enabled, standard ones with a key.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace pelmora {

inline constexpr char kSymbolicHotKeysKey[] = "AppleSymbolicHotKeys";
inline constexpr char kSymbolicHotKeysDomain[] = "com.apple.symbolichotkeys";
inline constexpr int64_t kNoKeyCode = 65535;  // a shortcut without a key

struct SymbolicHotkey {
  int64_t keyCode;
  int64_t modifiers;
};

// A stored value as an integer: numbers as the platform's number object
// converts them (fraction dropped, saturating), booleans as 0 or 1; nothing
// for anything else, strings of digits included. Null is no value.
std::optional<int64_t> toInt(const platform::PrefValue* value) noexcept;

// The shortcuts of the preference tree that pass every test, in the tree's
// own order, duplicates kept. A tree of any other shape gives none.
std::vector<SymbolicHotkey> symbolicHotkeysFrom(const platform::PrefValue& tree);

// [{"k":key code,"m":modifiers},...], compact.
std::string symbolicHotkeysJson(const std::vector<SymbolicHotkey>& hotkeys);

// Read afresh on every call.
std::string readSystemSymbolicHotkeysJson();

}  // namespace pelmora
