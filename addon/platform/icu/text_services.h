// ICU behind the text services of the simulated desktop and of the Linux desktop.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform::icu {

// The canonical decomposition (NFD) of UTF-8 text: what an application that
// stores decomposed text answers.
std::string canonicalDecomposition(std::string_view utf8);

// ICU is opened on first use, not linked: linking it made every require of
// the addon half as slow again, for services that most runs never call.
struct IcuLibrary {
  bool opened = false;
  std::string file;    // the library that was opened
  std::string suffix;  // of its versioned names ("_72"), or empty
  std::string error;   // why nothing was opened: what was tried, what to install
};

// What the text services use: opened once, on the first call.
const IcuLibrary& icuLibrary();

// Opens ICU's common library from the first candidate (a file name for the
// dynamic loader) that has every function the text services call, finding
// its symbol version whatever the file is named. Installs nothing for the
// text services: a probe for the tests.
IcuLibrary probeIcu(const std::vector<std::string>& candidates);

}  // namespace platform::icu
