#include "focus/tables.h"

namespace pelmora {

bool isWebEditorBundle(std::string_view bundleID) {
  for (std::string_view prefix : webEditorBundlePrefixes) {
    if (bundleID == prefix) return true;
    if (bundleID.size() > prefix.size() && bundleID.substr(0, prefix.size()) == prefix &&
        bundleID[prefix.size()] == '.')
      return true;
  }
  return false;
}

}  // namespace pelmora
