#include "unicode/icu_library.h"

#include <dirent.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>

namespace unicode {
namespace {

// Majors to try when nothing names one (ICU 50 came out in 2012; a major a
// half-year since).
constexpr int kOldestMajor = 50;
constexpr int kNewestMajor = 150;

#if defined(__APPLE__)
std::string versionedName(std::string_view stem, int major) { return std::string(stem) + "." + std::to_string(major) + ".dylib"; }
std::string unversionedName(std::string_view stem) { return std::string(stem) + ".dylib"; }
// "libicuuc.72.dylib", "libicuuc.72.1.dylib": the text between stem and
// extension.
std::string_view versionPart(std::string_view stem, std::string_view name) {
  const std::string prefix = std::string(stem) + ".";
  if (!name.starts_with(prefix) || !name.ends_with(".dylib")) return {};
  return name.substr(prefix.size(), name.size() - prefix.size() - 6);
}
#else
std::string versionedName(std::string_view stem, int major) { return std::string(stem) + ".so." + std::to_string(major); }
std::string unversionedName(std::string_view stem) { return std::string(stem) + ".so"; }
// "libicuuc.so.72", "libicuuc.so.72.1": the text after ".so.".
std::string_view versionPart(std::string_view stem, std::string_view name) {
  const std::string prefix = std::string(stem) + ".so.";
  return name.starts_with(prefix) ? name.substr(prefix.size()) : std::string_view();
}
#endif

// The major of a version part ("72", "72.1"), or 0 for anything else.
long majorOf(std::string_view version) {
  const size_t digits = std::min(version.find_first_not_of("0123456789"), version.size());
  if (digits == 0 || digits > 4 || (digits < version.size() && version[digits] != '.')) return 0;
  return std::strtol(std::string(version.substr(0, digits)).c_str(), nullptr, 10);
}

std::string_view baseName(std::string_view file) {
  const size_t slash = file.rfind('/');
  return slash == std::string_view::npos ? file : file.substr(slash + 1);
}

// The major a file name carries, whatever ICU library it names, or 0.
long majorOfFile(std::string_view file) {
  const std::string_view name = baseName(file);
  for (std::string_view stem : {"libicuuc", "libicui18n", "libicudata"})
    if (const long major = majorOf(versionPart(stem, name))) return major;
  return 0;
}

bool hasFunction(void* handle, const char* probe, const std::string& suffix) {
  return dlsym(handle, (probe + suffix).c_str()) != nullptr;
}

// The suffix the library's names carry, or false when the probe is not
// among them under any.
bool findSuffix(void* handle, const std::string& file, const char* probe, std::string& suffix) {
  std::vector<long> majors;
  if (const long major = majorOfFile(file)) majors.push_back(major);
  if (char* real = file.find('/') == std::string::npos ? nullptr : realpath(file.c_str(), nullptr)) {
    if (const long major = majorOfFile(real)) majors.push_back(major);
    std::free(real);
  }
  for (long major : majors) {
    if (hasFunction(handle, probe, "_" + std::to_string(major))) {
      suffix = "_" + std::to_string(major);
      return true;
    }
  }
  if (hasFunction(handle, probe, "")) {
    suffix.clear();
    return true;
  }
  for (int major = kNewestMajor; major >= kOldestMajor; --major) {
    if (hasFunction(handle, probe, "_" + std::to_string(major))) {
      suffix = "_" + std::to_string(major);
      return true;
    }
  }
  return false;
}

}  // namespace

std::vector<std::string> icuLibraryCandidates(std::string_view stem, int builtMajor,
                                              const std::vector<std::string>& folders) {
  std::vector<std::string> candidates{versionedName(stem, builtMajor)};
  struct Found {
    size_t folder;
    std::string path;
  };
  std::map<long, Found, std::greater<>> found;
  for (size_t f = 0; f < folders.size(); ++f) {
    const std::string& folder = folders[f];
    DIR* dir = folder.empty() ? nullptr : ::opendir(folder.c_str());
    if (!dir) continue;
    while (const dirent* entry = ::readdir(dir)) {
      const long major = majorOf(versionPart(stem, entry->d_name));
      if (major == 0) continue;
      std::string path = folder + (folder.back() == '/' ? "" : "/") + entry->d_name;
      const auto [it, added] = found.try_emplace(major, Found{f, path});
      if (!added && it->second.folder == f && path.size() < it->second.path.size()) it->second.path = std::move(path);
    }
    ::closedir(dir);
  }
  for (const auto& [major, where] : found) candidates.push_back(where.path);
  candidates.push_back(unversionedName(stem));
  return candidates;
}

IcuLibrary openIcuLibrary(const std::vector<std::string>& candidates, const char* probe) {
  IcuLibrary library;
  for (const std::string& file : candidates) {
    void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      if (library.error.empty()) library.error = dlerror();
      continue;
    }
    std::string suffix;
    if (findSuffix(handle, file, probe, suffix)) {
      library.handle = handle;
      library.file = file;
      library.suffix = std::move(suffix);
      library.error.clear();
      return library;
    }
    if (library.error.empty()) library.error = file + " lacks ICU's functions";
    dlclose(handle);
  }
  return library;
}

void* icuFunction(const IcuLibrary& library, const char* name) {
  if (!library.handle) return nullptr;
  return dlsym(library.handle, (name + library.suffix).c_str());
}

void closeIcuLibrary(IcuLibrary& library) {
  if (library.handle) dlclose(library.handle);
  library.handle = nullptr;
}

}  // namespace unicode
