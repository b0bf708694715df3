// Inserting a transcript into the captured field.
#pragma once

#include <string>
#include <string_view>

namespace pelmora {

inline constexpr double kRefocusPause = 0.05;

// The insertion verdict, as its JSON text.
std::string insertTextIntoFocusedElementText(std::string_view text, std::string_view expectedBundleID);

}  // namespace pelmora
