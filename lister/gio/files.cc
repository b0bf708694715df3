#include "lister/gio/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace corvane::gio {

std::optional<std::string> readRegularFile(const std::string& path, size_t maxBytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::optional<std::string> content;
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) <= maxBytes) {
    const auto size = static_cast<size_t>(st.st_size);
    // Read in place, one byte more than fstat gave: a regular file reads
    // short only at its end, so one read takes a whole file, and one that
    // has grown since shows it. Bounded by what is read too.
    content.emplace(size + 1, '\0');
    size_t got = 0;
    for (;;) {
      if (got == content->size()) {
        if (content->size() > maxBytes) {
          content.reset();
          break;
        }
        content->resize(std::min(2 * content->size(), maxBytes + 1));
      }
      const size_t asked = content->size() - got;
      const ssize_t n = ::read(fd, content->data() + got, asked);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        content.reset();
        break;
      }
      got += static_cast<size_t>(n);
      if (n == 0 || (got == size && static_cast<size_t>(n) < asked)) {
        content->resize(got);
        break;
      }
    }
  }
  ::close(fd);
  return content;
}

std::string_view trimmed(std::string_view s) {
  const size_t first = s.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

std::vector<std::string> listItems(std::string_view list, char separator, size_t most) {
  std::vector<std::string> items;
  while (!list.empty() && items.size() < most) {
    const size_t end = std::min(list.find(separator), list.size());
    if (const std::string_view item = trimmed(list.substr(0, end)); !item.empty()) items.emplace_back(item);
    list.remove_prefix(std::min(end + 1, list.size()));
  }
  return items;
}

std::optional<std::string> iniValue(std::string_view text, std::string_view group, std::string_view key) {
  std::optional<std::string> value;
  bool inGroup = false;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = trimmed(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line[0] == '[') {
      inGroup = line.size() == group.size() + 2 && line.back() == ']' && line.substr(1, group.size()) == group;
      continue;
    }
    const size_t eq = line.find('=');
    if (inGroup && eq != std::string_view::npos && trimmed(line.substr(0, eq)) == key) value = trimmed(line.substr(eq + 1));
  }
  return value;
}

}  // namespace corvane::gio
