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

namespace {

// Unicode's format characters (general category Cf, Unicode 15).
constexpr std::pair<uint32_t, uint32_t> kFormatCharacters[] = {
    {0x00AD, 0x00AD}, {0x0600, 0x0605}, {0x061C, 0x061C}, {0x06DD, 0x06DD}, {0x070F, 0x070F},
    {0x0890, 0x0891}, {0x08E2, 0x08E2}, {0x180E, 0x180E}, {0x200B, 0x200F}, {0x202A, 0x202E},
    {0x2060, 0x2064}, {0x2066, 0x206F}, {0xFEFF, 0xFEFF}, {0xFFF9, 0xFFFB}, {0x110BD, 0x110BD},
    {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
    {0xE0020, 0xE007F}};

}  // namespace

std::optional<size_t> terminalEraseCount(std::string_view typed) {
  size_t count = 0;
  for (size_t i = 0; i < typed.size(); ++count) {
    const size_t length = unicode::utf8SequenceLength(typed, i);
    if (length == 0) return std::nullopt;
    const uint32_t scalar = unicode::utf8Decode(typed, i, length);
    for (const auto& [first, last] : kFormatCharacters)
      if (scalar >= first && scalar <= last) return std::nullopt;
    i += length;
  }
  // A letter before it shows a first code point that would join the line's
  // last character.
  std::string probe = "x";
  probe += typed;
  if (platform::graphemeClusterCount(probe) != count + 1) return std::nullopt;
  return count;
}

platform::TypingOutcome insertViaTTY(std::string_view text, std::string_view bundleID, int32_t pid) {
  using platform::TypingOutcome;
  auto script = ttyScriptFor(bundleID);
  if (!script) return TypingOutcome::untouched;
  // Typed into a shell, a line break would run a command nobody confirmed,
  // and a U+0000 has no key to type it with.
  if (containsControlCharacters(text)) return TypingOutcome::untouched;
  // Without the permission the first byte is refused: asking the terminal
  // first would only cost two programs and, on a Mac, perhaps the consent
  // prompt for automation.
  if (!platform::canTypeIntoOtherTerminals()) return TypingOutcome::untouched;

  std::string ttyPath;
  if (script->empty()) {
    // A terminal without a script to ask: the platform reads where its shell
    // is, and what runs in that tty's foreground.
    auto session = platform::frontTerminalSession(pid);
    if (!session || !isSafeShell(session->foregroundName)) return TypingOutcome::untouched;
    ttyPath = std::move(session->ttyPath);
  } else {
    ProcessResult osa = runProcess(platform::toolPath(platform::Tool::osascript), {"-e", std::string(*script)});
    if (osa.status != 0) return TypingOutcome::untouched;
    ttyPath = trimWhitespaceAndLineBreaks(osa.output);
    if (ttyPath.empty()) return TypingOutcome::untouched;
    std::string device = ttyPath;
    for (size_t at; (at = device.find("/dev/")) != std::string::npos;) device.erase(at, 5);
    if (!isForegroundShell(device)) return TypingOutcome::untouched;
  }
  // Injected as input, the bytes land in the shell's line editor; written,
  // they would only be shown.
  return platform::typeIntoTerminal(ttyPath, text, kTypingPace, terminalEraseCount);
}

}  // namespace pelmora
