// The lister's platform seam: what corvane asks of the operating system, as
// plain functions over two opaque objects. The build links exactly one
// implementation: lister/mac (NSWorkspace, NSBundle, NSImage) or lister/gio
// (the GIO application database, the icon theme, gdk-pixbuf). The decisions
// (skip rules, dedupe, names, order, the document) stay in the core.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::platform {

struct FileObject;  // the file asked about: its file URL, or its content type
struct AppObject;   // one application the platform named: a bundle URL, or a desktop entry

void release(FileObject* file) noexcept;
void release(AppObject* app) noexcept;

struct Releaser {
  template <class T>
  void operator()(T* object) const noexcept {
    release(object);
  }
};
using File = std::unique_ptr<FileObject, Releaser>;
using App = std::unique_ptr<AppObject, Releaser>;

// Once, before anything else: what the platform needs for a run (the locale).
void beginRun() noexcept;

// The file at the path given on the command line, absolute or relative to
// the current directory; the file need not exist. Never empty.
File fileForPath(std::string_view path);

// The application that opens the file by default, or none.
App defaultApp(const FileObject& file);

// Every application that can open the file, in the platform's order.
std::vector<App> appsForFile(const FileObject& file);

// The application's identifier, or none when its bundle does not open or has
// no identifier.
std::optional<std::string> appIdentifier(AppObject& app);

// The two name values of the application's info, first match wins: the
// display name, then the plain name. A value that is missing or not a string
// is none; an empty string is a value.
enum class NameKey { displayName, name };
std::optional<std::string> appNameValue(AppObject& app, NameKey key);

// The last path component of the application's location without its
// extension (TextEdit.app gives TextEdit).
std::string appFileStem(const AppObject& app);

// The file-system path of the application's location.
std::string appPath(const AppObject& app);

// The application's icon drawn onto a 32 x 32 canvas, as PNG bytes, or none
// when any step fails. Called on several threads at once, each call for
// another application, after every other question about the applications
// has been answered.
std::optional<std::string> appIconPng(const AppObject& app);

// Once, before the first of these applications' icons and on the calling
// thread, which then draws too: what their icons need is read here, so that
// no drawing thread waits for another to read it.
void beginIcons(const std::vector<const AppObject*>& apps) noexcept;

// Once, after the last icon: what the drawing kept from icon to icon goes.
void endIcons() noexcept;

// Names compared case-insensitively under the user's locale: negative, zero
// or positive as a sorts before, with or after b.
int compareNames(std::string_view a, std::string_view b);

}  // namespace corvane::platform
