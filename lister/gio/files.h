// What corvane reads of files that anyone may have written on Linux: a whole
// regular file within a bound, and the settings texts (desktop files,
// mimeinfo.cache, GTK's and KDE's settings) read line by line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::gio {

// The whole content of a regular file of at most maxBytes, or none: a pipe or
// a device in the file's place is not waited on, and a larger file is not
// read at all.
std::optional<std::string> readRegularFile(const std::string& path, size_t maxBytes);

// ---- Settings texts, line by line -----------------------------------------------

// The text without the spaces, tabs and carriage returns around it.
std::string_view trimmed(std::string_view s);

// The items of a list separated by separator, at most `most` of them, each
// without the blanks around it, empty ones left out.
std::vector<std::string> listItems(std::string_view list, char separator, size_t most = SIZE_MAX);

// The value of key in [group] of a settings text (an ini file, a desktop
// file, a mimeinfo.cache), trimmed, the last where it is given twice. Read
// line by line, so a line GLib's key files would reject (KDE writes some)
// costs only that line.
std::optional<std::string> iniValue(std::string_view text, std::string_view group, std::string_view key);

}  // namespace corvane::gio
