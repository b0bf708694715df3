// The three focus and application queries, as their JSON answer texts.
#pragma once

#include <string>

namespace pelmora {

// Captures the focused text target, stores it (or drops the old one on
// failure) and describes the chosen element.
std::string focusedElementInfoText();
std::string frontmostApplicationInfoText();
// The captured element's current text, while the target is valid.
std::string capturedFocusedElementText();

}  // namespace pelmora
