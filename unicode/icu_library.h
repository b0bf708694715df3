// ICU's libraries opened with the dynamic loader rather than linked: both
// programs need ICU only for some runs, and mapping it costs every run
// milliseconds and megabytes. ICU renames its functions by major version
// ("ubrk_open_72"), so the suffix is found in the library that was opened.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace unicode {

// Where one of ICU's libraries ("libicuuc", "libicui18n") may be, best
// first: the major version the program was built against by its versioned
// name, then every versioned file of that library in the folders given,
// newest major first (within a major the first folder's, and there the
// shortest name: the major's own link before the full version it names),
// then the unversioned development name.
std::vector<std::string> icuLibraryCandidates(std::string_view stem, int builtMajor,
                                              const std::vector<std::string>& folders);

struct IcuLibrary {
  void* handle = nullptr;  // none opened when null; kept open for the process
  std::string file;        // the candidate that was opened
  std::string suffix;      // of its versioned names ("_72"), or empty
  std::string error;       // when none was opened: the first candidate's failure
  explicit operator bool() const { return handle != nullptr; }
};

// The first candidate in which the function `probe` can be found, with the
// suffix of its names: the version its file name (or the file a link names)
// carries, else none (an ICU built without renaming), else any other major.
IcuLibrary openIcuLibrary(const std::vector<std::string>& candidates, const char* probe);

// A function of the opened library by its plain name; null when it has none.
void* icuFunction(const IcuLibrary& library, const char* name);

void closeIcuLibrary(IcuLibrary& library);

}  // namespace unicode
