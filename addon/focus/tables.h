// Fixed tables of roles and application bundle identifiers that select
// special handling.
#pragma once

#include <array>
#include <string_view>

namespace pelmora {

inline constexpr std::array<std::string_view, 3> editableTextRoles = {"AXTextField", "AXTextArea", "AXComboBox"};
// The editable roles of one line. Search and secure fields are text fields
// by role (their subroles AXSearchField, AXSecureTextField).
inline constexpr std::array<std::string_view, 2> singleLineTextRoles = {"AXTextField", "AXComboBox"};

// By their macOS bundle identifiers, then by the ids of their Linux desktop
// files (Debian's, the vendors' packages', Flathub's).
inline constexpr std::array<std::string_view, 25> chromeBundleIDs = {
    "com.google.Chrome",  "com.google.Chrome.canary",        "com.microsoft.edgemac",
    "com.brave.Browser",  "com.vivaldi.Vivaldi",             "com.operasoftware.Opera",
    "com.naver.Whale",    "ru.yandex.desktop.yandex-browser", "com.openai.atlas",
    // Linux
    "chromium",           "chromium-browser",                "org.chromium.Chromium",
    "google-chrome",      "google-chrome-beta",              "google-chrome-unstable",
    "microsoft-edge",     "microsoft-edge-beta",             "com.microsoft.Edge",
    "brave-browser",      "vivaldi-stable",                  "opera",
    "com.opera.Opera",    "yandex-browser",                  "naver-whale",
    "io.github.ungoogled_software.ungoogled_chromium",
};

inline constexpr std::array<std::string_view, 34> jetbrainsIDs = {
    "com.jetbrains.intellij", "com.jetbrains.intellij.ce", "com.jetbrains.pycharm",
    "com.jetbrains.pycharm.ce", "com.jetbrains.WebStorm",  "com.jetbrains.goland",
    "com.jetbrains.CLion",    "com.jetbrains.rider",       "com.jetbrains.rubymine",
    "com.jetbrains.PhpStorm", "com.jetbrains.datagrip",    "com.jetbrains.AppCode",
    "com.jetbrains.fleet",
    // Linux: the Toolbox's and the archives' desktop files, then Flathub's
    "jetbrains-idea", "jetbrains-idea-ce", "jetbrains-pycharm", "jetbrains-pycharm-ce",
    "jetbrains-webstorm", "jetbrains-goland", "jetbrains-clion", "jetbrains-rider",
    "jetbrains-rubymine", "jetbrains-phpstorm", "jetbrains-datagrip", "jetbrains-fleet",
    "com.jetbrains.IntelliJ-IDEA-Ultimate", "com.jetbrains.IntelliJ-IDEA-Community",
    "com.jetbrains.PyCharm-Professional", "com.jetbrains.PyCharm-Community", "com.jetbrains.GoLand",
    "com.jetbrains.Rider", "com.jetbrains.RubyMine", "com.jetbrains.PhpStorm", "com.jetbrains.DataGrip",
};  // Flathub's CLion and WebStorm carry the macOS identifiers

// Web-based code editors, matched as prefixes at a dot boundary.
inline constexpr std::array<std::string_view, 3> webEditorBundlePrefixes = {
    "com.tarnwick.ide", "com.vantor.ressel.ide", "com.openai.codex"};

inline constexpr std::string_view kElectronBundlePrefix = "com.electron.";

// Exact, case-sensitive membership.
template <size_t N>
constexpr bool contains(const std::array<std::string_view, N>& table, std::string_view value) {
  for (std::string_view entry : table)
    if (entry == value) return true;
  return false;
}

bool isWebEditorBundle(std::string_view bundleID);

}  // namespace pelmora
