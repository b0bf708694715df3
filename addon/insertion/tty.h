// Dictation into the two terminal applications: the text is typed into the
// shell of the front window's tty.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/process.h"

namespace pelmora {

// Bundle identifier -> the script that answers the tty of its front window.
// The Linux terminals, by their desktop-file ids, have none: the platform
// finds their shell's tty itself (frontTerminalSession).
inline constexpr std::array<std::pair<std::string_view, std::string_view>, 22> ttyWriteApps = {{
    {"com.apple.Terminal", "tell application \"Terminal\" to get tty of selected tab of front window"},
    {"com.googlecode.iterm2", "tell application \"iTerm2\" to get the tty of the current session of the current window"},
    // Linux
    {"org.gnome.Terminal", ""},
    {"org.gnome.Console", ""},
    {"org.gnome.Ptyxis", ""},
    {"org.kde.konsole", ""},
    {"xfce4-terminal", ""},
    {"org.xfce.terminal", ""},
    {"com.gexperts.Tilix", ""},
    {"terminator", ""},
    {"mate-terminal", ""},
    {"lxterminal", ""},
    {"qterminal", ""},
    {"io.elementary.terminal", ""},
    {"com.raggesilver.BlackBox", ""},
    {"kitty", ""},
    {"Alacritty", ""},
    {"org.wezfurlong.wezterm", ""},
    {"foot", ""},
    {"debian-xterm", ""},
    {"xterm", ""},
    {"terminology", ""},
}};

inline constexpr std::array<std::string_view, 14> safeShellNames = {
    "zsh", "-zsh", "bash", "-bash", "fish", "-fish", "sh", "-sh", "dash", "-dash", "tcsh", "-tcsh", "csh", "-csh"};

// osascript waits on the terminal application (and, the first time, on the
// user's consent to automation); ps answers in milliseconds. Past this a tool
// is killed and the route declines, so the host pastes instead.
inline constexpr double kChildProcessTimeout = 2.0;

// Typing keeps a few hundred bytes at most in the terminal's input queue,
// far below what it holds (1024 bytes on macOS), so nothing overflows while
// the line editor redraws. A shell that takes nothing for a second has
// stopped reading; ten seconds is plenty for any dictation (and the same
// again for erasing a text that could not be finished).
inline constexpr platform::TypingPace kTypingPace{256, 1.0, 10.0};

std::optional<std::string_view> ttyScriptFor(std::string_view bundleID);

struct ProcessResult {
  int32_t status = -1;
  std::string output;  // empty when the output was not valid UTF-8
};
ProcessResult runProcess(const std::string& path, const std::vector<std::string>& arguments);

// Whether a listing of "state command" lines (ps -o stat=,comm=) has a plain
// shell as its first foreground process.
bool foregroundShellInListing(std::string_view listing);
bool isForegroundShell(const std::string& tty);

// The tool's answer without the white space and line breaks at its ends
// (those of Unicode, as the system's character set of them has).
std::string_view trimWhitespaceAndLineBreaks(std::string_view s);

// Text that the shell's line editor would act on rather than show: C0
// controls (tab and line breaks included), DEL and C1 controls.
bool containsControlCharacters(std::string_view utf8);

// The erase characters that take back typed text in every shell's line
// editor: one per code point, when each code point is a character of its own
// (no combining mark, joiner, modifier or flag pair, nothing that joins the
// line's last character) and none is an invisible format character, which
// line editors skip or count differently.
std::optional<size_t> terminalEraseCount(std::string_view typed);

// untouched: declined, nothing of the text left with the shell; partial: a
// part of it stayed on the shell's line.
platform::TypingOutcome insertViaTTY(std::string_view text, std::string_view bundleID, int32_t pid);

}  // namespace pelmora
