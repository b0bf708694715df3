#include "settings/symbolic_hotkeys.h"

#include <string_view>

#include "frame/json_text.h"
#include "settings/number_conversion.h"

namespace pelmora {
namespace {

using platform::PrefValue;
using Kind = PrefValue::Kind;

// Only a dictionary whose every key is a string is read as one; the stored
// tree may hold others (keyed by numbers, say), and those are skipped whole.
bool isStringKeyedDictionary(const PrefValue& v) {
  if (v.kind != Kind::dictionary) return false;
  for (const auto& entry : v.entries)
    if (entry.key.kind != Kind::string) return false;
  return true;
}

const PrefValue* member(const PrefValue& dictionary, std::string_view key) {
  for (const auto& entry : dictionary.entries)
    if (entry.key.text == key) return &entry.value;
  return nullptr;
}

bool isEnabled(const PrefValue& entry) {
  const PrefValue* enabled = member(entry, "enabled");
  if (enabled && enabled->kind == Kind::boolean) return enabled->boolean;
  const auto flag = toInt(enabled);
  return flag && *flag != 0;
}

// The tests in order; the first that fails leaves the entry out.
std::optional<SymbolicHotkey> hotkeyFrom(const PrefValue& entry) {
  if (!isStringKeyedDictionary(entry)) return std::nullopt;
  if (!isEnabled(entry)) return std::nullopt;
  const PrefValue* value = member(entry, "value");
  if (!value || !isStringKeyedDictionary(*value) || value->entries.empty()) return std::nullopt;
  const PrefValue* type = member(*value, "type");
  if (!type || type->kind != Kind::string || type->text != "standard") return std::nullopt;
  const PrefValue* parameters = member(*value, "parameters");
  if (!parameters || parameters->kind != Kind::array || parameters->items.size() < 3) return std::nullopt;
  // Element 0 (the character) is not part of the combination.
  const auto keyCode = toInt(&parameters->items[1]);
  if (!keyCode) return std::nullopt;
  const auto modifiers = toInt(&parameters->items[2]);
  if (!modifiers) return std::nullopt;
  if (*keyCode == kNoKeyCode) return std::nullopt;
  return SymbolicHotkey{*keyCode, *modifiers};
}

}  // namespace

std::optional<int64_t> toInt(const PrefValue* value) noexcept {
  if (!value) return std::nullopt;
  switch (value->kind) {
    case Kind::boolean: return value->boolean ? 1 : 0;
    case Kind::integer: return value->integer;
    case Kind::real: return saturatingCast<int64_t>(value->real);
    default: return std::nullopt;
  }
}

std::vector<SymbolicHotkey> symbolicHotkeysFrom(const PrefValue& tree) {
  std::vector<SymbolicHotkey> hotkeys;
  if (!isStringKeyedDictionary(tree)) return hotkeys;
  for (const auto& entry : tree.entries)
    if (auto hotkey = hotkeyFrom(entry.value)) hotkeys.push_back(*hotkey);
  return hotkeys;
}

std::string symbolicHotkeysJson(const std::vector<SymbolicHotkey>& hotkeys) {
  std::string text = "[";
  for (const auto& hotkey : hotkeys) {
    if (text.size() > 1) text += ',';
    text += JsonObjectText().add("k", hotkey.keyCode).add("m", hotkey.modifiers).finish();
  }
  text += ']';
  return text;
}

std::string readSystemSymbolicHotkeysJson() {
  return symbolicHotkeysJson(
      symbolicHotkeysFrom(platform::copyAppPreference(kSymbolicHotKeysKey, kSymbolicHotKeysDomain)));
}

}  // namespace pelmora
