// ICU behind the simulated platform's text services.
#pragma once

#include <string>
#include <string_view>

namespace sim {

// The canonical decomposition (NFD) of UTF-8 text: what an application that
// stores decomposed text answers.
std::string canonicalDecomposition(std::string_view utf8);

}  // namespace sim
