#include "insertion/tty.h"

#include "platform/platform.h"
#include "unicode/utf8.h"

namespace pelmora {
namespace {

// Tab and the space separators of Unicode category Zs, as UTF-8.
constexpr std::string_view kBlanks[] = {
    "\t", " ", "\xC2\xA0", "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82", "\xE2\x80\x83",
    "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89",
    "\xE2\x80\x8A", "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80"};
// LF, VT, FF, CR, NEL and the separators of categories Zl and Zp.
constexpr std::string_view kLineBreaks[] = {"\n", "\v", "\f", "\r", "\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9"};

size_t spaceLengthAt(std::string_view s, size_t i, bool lineBreaks) {
  for (std::string_view b : kBlanks)
    if (s.substr(i, b.size()) == b) return b.size();
  if (lineBreaks)
    for (std::string_view b : kLineBreaks)
      if (s.substr(i, b.size()) == b) return b.size();
  return 0;
}

std::string_view trimSpaces(std::string_view s, bool lineBreaks) {
  for (size_t n; !s.empty() && (n = spaceLengthAt(s, 0, lineBreaks));) s.remove_prefix(n);
  // Trailing ones: step back over whole sequences.
  for (bool trimmed = true; trimmed && !s.empty();) {
    trimmed = false;
    for (size_t n = 1; n <= 3 && n <= s.size(); ++n) {
      if (spaceLengthAt(s, s.size() - n, lineBreaks) == n) {
        s.remove_suffix(n);
        trimmed = true;
        break;
      }
    }
  }
  return s;
}

bool isSafeShell(std::string_view name) {
  for (std::string_view shell : safeShellNames)
    if (shell == name) return true;
  return false;
}

}  // namespace

std::string_view trimWhitespaceAndLineBreaks(std::string_view s) { return trimSpaces(s, true); }

std::optional<std::string_view> ttyScriptFor(std::string_view bundleID) {
  for (const auto& [bundle, script] : ttyWriteApps)
    if (bundle == bundleID) return script;
  return std::nullopt;
}

ProcessResult runProcess(const std::string& path, const std::vector<std::string>& arguments) {
  platform::ChildResult child = platform::runChildProcess(path, arguments, kChildProcessTimeout);
  ProcessResult result;
  result.status = child.status;
  if (child.status != -1 && unicode::isWellFormedUtf8(child.output)) result.output = std::move(child.output);
  return result;
}

bool foregroundShellInListing(std::string_view listing) {
  while (!listing.empty()) {
    const size_t eol = listing.find('\n');
    std::string_view line = trimSpaces(listing.substr(0, eol), false);
    listing.remove_prefix(eol == std::string_view::npos ? listing.size() : eol + 1);
    const size_t space = line.find(' ');
    if (line.empty() || space == std::string_view::npos) continue;
    const std::string_view state = line.substr(0, space);
    // ps pads its columns: the command starts after every space.
    std::string_view command = line.substr(space + 1);
    while (!command.empty() && command.front() == ' ') command.remove_prefix(1);
    if (state.find('+') == std::string_view::npos) continue;
    const size_t slash = command.rfind('/');
    return isSafeShell(slash == std::string_view::npos ? command : command.substr(slash + 1));
  }
  return false;
}

bool isForegroundShell(const std::string& tty) {
  ProcessResult ps = runProcess(platform::toolPath(platform::Tool::ps), {"-t", tty, "-o", "stat=,comm="});
  return ps.status == 0 && foregroundShellInListing(ps.output);
}

bool containsControlCharacters(std::string_view s) {
  for (size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x20 || c == 0x7F) return true;
    // U+0080..U+009F are C2 80..C2 9F.
    if (c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) <= 0x9F &&
        static_cast<unsigned char>(s[i + 1]) >= 0x80)
      return true;
  }
  return false;
}

bool insertViaTTY(std::string_view text, std::string_view bundleID) {
  auto script = ttyScriptFor(bundleID);
  if (!script) return false;
  // Typed into a shell, a line break would run a command nobody confirmed.
  if (containsControlCharacters(text)) return false;
  // Without the permission the first byte is refused: asking the terminal
  // first would only cost two programs and, on a Mac, perhaps the consent
  // prompt for automation.
  if (!platform::canTypeIntoOtherTerminals()) return false;

  ProcessResult osa = runProcess(platform::toolPath(platform::Tool::osascript), {"-e", std::string(*script)});
  if (osa.status != 0) return false;
  const std::string ttyPath(trimWhitespaceAndLineBreaks(osa.output));
  if (ttyPath.empty()) return false;

  std::string device = ttyPath;
  for (size_t at; (at = device.find("/dev/")) != std::string::npos;) device.erase(at, 5);
  if (!isForegroundShell(device)) return false;
  // Injected as input, the bytes land in the shell's line editor; written,
  // they would only be shown.
  return platform::typeIntoTerminal(ttyPath, text, kTypingPace);
}

}  // namespace pelmora
