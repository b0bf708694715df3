// AT-SPI's roles in the Accessibility vocabulary the logic speaks.
#pragma once

#include <optional>
#include <string_view>

#include <atspi/atspi.h>

namespace platform::lx {

struct RoleName {
  std::string_view role;     // "AXTextField", ...
  std::string_view subrole;  // empty when there is none
};

// What kind of element the role is; for the text roles the multi-line state
// tells a field from an area, and a paragraph is a text area only when it is
// editable (web content made editable).
RoleName axRole(AtspiRole role, bool multiLine, bool editable);

// Whether the role's name depends on the element's states.
bool roleNeedsStates(AtspiRole role);

}  // namespace platform::lx
