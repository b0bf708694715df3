#include "lister/gio/lookup/theme_files.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <utility>

namespace corvane::gio {
namespace {

std::optional<uint32_t> u32(std::string_view b, uint64_t at) {
  if (at + 4 > b.size()) return std::nullopt;
  const auto* p = reinterpret_cast<const unsigned char*>(b.data() + at);
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

std::optional<uint16_t> u16(std::string_view b, uint64_t at) {
  if (at + 2 > b.size()) return std::nullopt;
  const auto* p = reinterpret_cast<const unsigned char*>(b.data() + at);
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

// A NUL-terminated string inside the bytes, or none.
std::optional<std::string_view> cString(std::string_view b, uint32_t at) {
  if (at >= b.size()) return std::nullopt;
  const size_t end = b.find('\0', at);
  if (end == std::string_view::npos) return std::nullopt;
  return b.substr(at, end - at);
}

bool knownVersion(std::string_view cache) { return u16(cache, 0) == 1 && u16(cache, 2) == 0; }

// GTK's hash of icon names, over signed chars as GTK computes it.
uint32_t nameHash(std::string_view name) {
  if (name.empty()) return 0;
  uint32_t h = static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(name[0])));
  for (size_t i = 1; i < name.size(); ++i)
    h = (h << 5) - h + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(name[i])));
  return h;
}

constexpr uint32_t kEndOfChain = 0xFFFFFFFF;

}  // namespace

std::vector<std::string_view> cacheDirectories(std::string_view cache) {
  std::vector<std::string_view> dirs;
  if (!knownVersion(cache)) return dirs;
  const auto listAt = u32(cache, 8);
  const auto count = listAt ? u32(cache, *listAt) : std::nullopt;
  // Each entry takes four bytes: a count beyond the file is a lie.
  if (!count || *count > (cache.size() - *listAt) / 4) return dirs;
  dirs.reserve(*count);
  for (uint32_t i = 0; i < *count; ++i) {
    const auto at = u32(cache, uint64_t{*listAt} + 4 + 4 * uint64_t{i});
    const auto name = at ? cString(cache, *at) : std::nullopt;
    if (!name) return {};
    dirs.push_back(*name);
  }
  return dirs;
}

std::vector<CachedImage> cachedImages(std::string_view cache, std::string_view name) {
  std::vector<CachedImage> images;
  if (!knownVersion(cache) || name.empty() || name.find('\0') != std::string_view::npos) return images;
  const auto hashAt = u32(cache, 4);
  const auto buckets = hashAt ? u32(cache, *hashAt) : std::nullopt;
  if (!buckets || *buckets == 0) return images;
  auto entry = u32(cache, uint64_t{*hashAt} + 4 + 4 * uint64_t{nameHash(name) % *buckets});
  // A chain can be no longer than the icons the file has room for; a longer
  // one loops.
  for (uint64_t steps = 0; entry && *entry != kEndOfChain && steps <= cache.size() / 12; ++steps) {
    const auto nameAt = u32(cache, uint64_t{*entry} + 4);
    const auto entryName = nameAt ? cString(cache, *nameAt) : std::nullopt;
    if (!entryName) return images;
    if (*entryName == name) {
      const auto listAt = u32(cache, uint64_t{*entry} + 8);
      const auto count = listAt ? u32(cache, *listAt) : std::nullopt;
      if (!count || *count > (cache.size() - *listAt) / 8) return images;
      for (uint32_t i = 0; i < *count; ++i) {
        const uint64_t at = uint64_t{*listAt} + 4 + 8 * uint64_t{i};
        images.push_back({*u16(cache, at), *u16(cache, at + 2)});
      }
      return images;
    }
    entry = u32(cache, *entry);
  }
  return images;
}

namespace {

// The walk of iconCacheIsWhole, calling step() every 1024 entries.
template <class Step>
bool wholeCache(std::string_view cache, Step step) {
  const size_t folders = cacheDirectories(cache).size();
  if (folders == 0) return false;
  const auto hashAt = u32(cache, 4);
  const auto buckets = hashAt ? u32(cache, *hashAt) : std::nullopt;
  if (!buckets || *buckets == 0 || *buckets > (cache.size() - *hashAt - 4) / 4) return false;
  // Every entry takes at least twelve bytes: more steps than that, over all
  // the chains together, is a loop.
  uint64_t budget = cache.size() / 12;
  for (uint32_t bucket = 0; bucket < *buckets; ++bucket) {
    auto entry = u32(cache, uint64_t{*hashAt} + 4 + 4 * uint64_t{bucket});
    for (; entry && *entry != kEndOfChain; entry = u32(cache, *entry)) {
      if (budget-- == 0) return false;
      if ((budget & 1023) == 0) step();
      const auto nameAt = u32(cache, uint64_t{*entry} + 4);
      const auto listAt = u32(cache, uint64_t{*entry} + 8);
      if (!nameAt || !cString(cache, *nameAt) || !listAt) return false;
      const auto count = u32(cache, *listAt);
      if (!count || *count > (cache.size() - *listAt - 4) / 8) return false;
      for (uint32_t i = 0; i < *count; ++i)
        if (*u16(cache, uint64_t{*listAt} + 4 + 8 * uint64_t{i}) >= folders) return false;
    }
    if (!entry) return false;
  }
  return true;
}

}  // namespace

bool iconCacheIsWhole(std::string_view cache) {
  return wholeCache(cache, [] {});
}

bool MappedCache::isWhole() const {
  // The pages are the file's, unchanged: dropped, they are read back from
  // the page cache when a lookup needs them.
  const auto release = [this] { ::madvise(const_cast<char*>(bytes.data()), bytes.size(), MADV_DONTNEED); };
  const bool whole = wholeCache(bytes, release);
  release();
  return whole;
}

MappedCache::MappedCache(MappedCache&& other) noexcept : bytes(std::exchange(other.bytes, {})) {}

MappedCache& MappedCache::operator=(MappedCache&& other) noexcept {
  if (this != &other) std::swap(bytes, other.bytes);
  return *this;
}

MappedCache::~MappedCache() {
  if (!bytes.empty()) ::munmap(const_cast<char*>(bytes.data()), bytes.size());
}

MappedCache openIconCache(const std::string& themeFolder) {
  MappedCache mapped;
  struct stat folder;
  if (::stat(themeFolder.c_str(), &folder) != 0) return mapped;
  const std::string file = themeFolder + "/icon-theme.cache";
  // Non-blocking, so that a pipe in its place cannot hold the lister.
  const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return mapped;
  struct stat st;
  // As GTK judges it: a cache older than its folder misses what was added.
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 12 && st.st_mtime >= folder.st_mtime) {
    void* at = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (at != MAP_FAILED) mapped.bytes = std::string_view(static_cast<const char*>(at), static_cast<size_t>(st.st_size));
  }
  ::close(fd);
  return mapped;
}

namespace {

// Blanks as GLib's key files count them around keys and values.
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

}  // namespace

std::optional<PlainKeyFile> PlainKeyFile::parse(std::string_view text) {
  // Every byte printable ASCII, a tab, or a line end ('\r' only before
  // '\n', which the key file drops): nothing to unescape, nothing to
  // validate, no blank that only some readers skip.
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool lineEnd = c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n');
    if (!lineEnd && c != '\t' && (c < 0x20 || c > 0x7E || c == '\\')) return std::nullopt;
  }
  PlainKeyFile file;
  std::vector<std::pair<std::string_view, std::string_view>>* group = nullptr;
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (line.ends_with('\r')) line.remove_suffix(1);
    while (!line.empty() && isBlank(line.front())) line.remove_prefix(1);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      // "[name]" and at most spaces and tabs after it; a name without
      // brackets or a tab (a control character to GLib).
      const size_t close = line.find(']');
      if (close == std::string_view::npos || line.find_first_not_of(" \t", close + 1) != std::string_view::npos) return std::nullopt;
      const std::string_view name = line.substr(1, close - 1);
      if (name.empty() || name.find_first_of("[\t") != std::string_view::npos) return std::nullopt;
      group = &file.groups_[name];
      continue;
    }
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos || equals == 0 || !group) return std::nullopt;
    std::string_view key = line.substr(0, equals), value = line.substr(equals + 1);
    while (!key.empty() && isBlank(key.back())) key.remove_suffix(1);
    while (!value.empty() && isBlank(value.front())) value.remove_prefix(1);
    if (key.empty() || key.find_first_of("[]") != std::string_view::npos || key == "Encoding") return std::nullopt;
    group->emplace_back(key, value);
  }
  return file;
}

std::optional<std::string_view> PlainKeyFile::value(std::string_view group, std::string_view key) const {
  const auto it = groups_.find(group);
  if (it == groups_.end()) return std::nullopt;
  for (auto pair = it->second.rbegin(); pair != it->second.rend(); ++pair)
    if (pair->first == key) return pair->second;
  return std::nullopt;
}

std::optional<int> PlainKeyFile::integer(std::string_view group, std::string_view key) const {
  const std::optional<std::string_view> v = value(group, key);
  if (!v || v->empty()) return std::nullopt;
  const std::string text(*v);
  char* end = nullptr;
  errno = 0;
  const long number = std::strtol(text.c_str(), &end, 10);
  if ((*end != '\0' && !isBlank(*end)) || errno == ERANGE || number < INT_MIN || number > INT_MAX) return std::nullopt;
  return static_cast<int>(number);
}

}  // namespace corvane::gio
