// The two files of an icon theme that corvane reads byte by byte, so that a
// lookup costs no parser: the icon-theme.cache that GTK writes per theme
// folder, and the index.theme where it is a plain key file. Both take bytes
// that anyone may have written: every offset and length is checked against
// the size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace corvane::gio {

// ---- icon-theme.cache (version 1.0, big-endian) -----------------------------

// Which files of one icon a cached folder holds.
enum CacheFlag : uint16_t { kCachedXpm = 1, kCachedSvg = 2, kCachedPng = 4 };

struct CachedImage {
  uint16_t directory;  // index into cacheDirectories()
  uint16_t flags;      // CacheFlag bits
};

// The folders the cache describes, relative to the theme folder; empty when
// the bytes are not a cache of a version this reader knows.
std::vector<std::string_view> cacheDirectories(std::string_view cache);

// The folders that hold the named icon, as the cache lists them; empty when
// it holds none or the bytes do not hold together.
std::vector<CachedImage> cachedImages(std::string_view cache, std::string_view name);

// Whether every chain, name and image list of the cache lies within it, ends,
// and names only its own folders. A cache damaged anywhere would answer some
// icons as missing: it is passed over for the folders themselves.
bool iconCacheIsWhole(std::string_view cache);

// An opened cache, mapped read-only; empty when the folder has none, or it is
// older than the folder (written before the folder last changed).
struct MappedCache {
  MappedCache() = default;
  MappedCache(MappedCache&& other) noexcept;
  MappedCache& operator=(MappedCache&& other) noexcept;
  MappedCache(const MappedCache&) = delete;
  MappedCache& operator=(const MappedCache&) = delete;
  ~MappedCache();

  // iconCacheIsWhole over the mapping, handing its pages back as the walk
  // goes: the walk touches every page, which would otherwise stay resident
  // for the rest of the run (2.3 MiB of Papirus's 2.9 MB cache).
  bool isWhole() const;

  std::string_view bytes;
};
MappedCache openIconCache(const std::string& themeFolder);

// ---- Key files (index.theme), when they are plain ---------------------------------

// The groups and keys of a key file in which every line is blank, a comment,
// a group or a key = value, in ASCII without control characters but tabs
// and line ends, without a backslash, a localized key or an Encoding key, a
// group before the first key. Such a file says one thing, which is what
// GLib's key files read in it, and it reads in a fraction of their time;
// any other file is none, for GLib to judge.
class PlainKeyFile {
 public:
  static std::optional<PlainKeyFile> parse(std::string_view text);

  bool hasGroup(std::string_view group) const { return groups_.count(group) != 0; }
  // The value as written after the blanks that follow '=', the last where a
  // key is given twice (a group given twice is one group).
  std::optional<std::string_view> value(std::string_view group, std::string_view key) const;
  // The value as a number in int range, as GLib's key files judge one:
  // digits after optional blanks and a sign, then the end or a blank.
  std::optional<int> integer(std::string_view group, std::string_view key) const;

 private:
  std::unordered_map<std::string_view, std::vector<std::pair<std::string_view, std::string_view>>> groups_;
};

}  // namespace corvane::gio
