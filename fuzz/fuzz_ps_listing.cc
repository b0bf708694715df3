// The foreground-shell rule over arbitrary ps listings, against a reference
// that works on code points rather than bytes.
#include <algorithm>
#include <cstdlib>

#include "fuzz_support.h"
#include "insertion/tty.h"

namespace {

bool isBlank(uint32_t cp) {
  static const uint32_t kBlanks[] = {0x09, 0x20, 0xA0, 0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004,
                                     0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x202F, 0x205F, 0x3000};
  return std::find(std::begin(kBlanks), std::end(kBlanks), cp) != std::end(kBlanks);
}

bool reference(std::string_view listing) {
  // Invalid bytes stay opaque units that are never blanks, spaces or slashes.
  const std::vector<uint32_t> all = fuzzref::decodeWithReplacement(listing, true);
  std::vector<std::vector<uint32_t>> lines(1);
  for (uint32_t cp : all) {
    if (cp == '\n') lines.emplace_back();
    else lines.back().push_back(cp);
  }
  static const std::vector<std::vector<uint32_t>> shells = [] {
    std::vector<std::vector<uint32_t>> s;
    for (std::string_view name : pelmora::safeShellNames) s.emplace_back(name.begin(), name.end());
    return s;
  }();
  for (auto line : lines) {
    while (!line.empty() && isBlank(line.front())) line.erase(line.begin());
    while (!line.empty() && isBlank(line.back())) line.pop_back();
    auto space = std::find(line.begin(), line.end(), uint32_t{' '});
    if (line.empty() || space == line.end()) continue;
    std::vector<uint32_t> state(line.begin(), space);
    std::vector<uint32_t> command(space + 1, line.end());
    while (!command.empty() && command.front() == ' ') command.erase(command.begin());
    if (std::find(state.begin(), state.end(), uint32_t{'+'}) == state.end()) continue;
    auto slash = std::find(command.rbegin(), command.rend(), uint32_t{'/'});
    std::vector<uint32_t> name(slash.base(), command.end());
    return std::find(shells.begin(), shells.end(), name) != shells.end();
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view listing(reinterpret_cast<const char*>(data), size);
  if (pelmora::foregroundShellInListing(listing) != reference(listing)) abort();
  return 0;
}
