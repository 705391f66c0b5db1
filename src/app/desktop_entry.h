// Launchers stored as freedesktop desktop entries (".desktop" files): the
// program's executable and an argument string in its own command-line syntax
// (command_line.h), with a comment, an optional working folder and icon.
//
// A written entry looks like this (keys in this order, the optional ones only
// when their field is set):
//
//   [Desktop Entry]
//   Type=Application
//   Version=1.4
//   Name=<the file's name without ".desktop">
//   Comment=<description>
//   Exec=<executable> <argument> <argument> ...
//   Path=<working directory>
//   Icon=<icon file>
//   X-Twinmere-IconIndex=<icon index, when not 0>
//   X-Twinmere-ShowCommand=<show command>
//
// Exec follows the Desktop Entry Specification: an argument that is empty or
// holds a reserved character (blank, tab, newline, quotes, "\", "$", "`", ...)
// is enclosed in double quotes, with '"', "`", "$" and "\" escaped by a
// backslash inside them, and "%" is written "%%". Every value then gets the
// escapes of the format ("\\", "\n", "\t", "\r", and "\s" for a blank at either
// end), so no field can add a line, a key or a shell command.
//
// The argument string is split into the program's arguments with the command
// line's own item reader: items are separated by blanks, a double-quoted item
// may hold blanks. An entry's arguments are joined back with JoinArguments,
// exactly as the started program joins its argv before reading it. Text that
// cannot be carried unchanged either way is refused with a description, never
// altered: text that is not valid UTF-8 (the format is UTF-8), control
// characters other than tab, newline and carriage return, "=" in the
// executable, an item whose written form is not the one JoinArguments gives it
// (a closing quote followed by something other than a blank, a quoted item
// without a blank ...). Blanks at either end inside quotes belong to the item.
// Runs of blanks between items count as one: the program reads them alike.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"

namespace twinmere {

inline constexpr char kDesktopEntryExtension[] = ".desktop";

// Show commands kept with a launcher (the values of the window show states).
inline constexpr int32_t kShowNormal = 1;  // what an entry without the key gives
inline constexpr int32_t kShowShow = 5;    // what the shortcut dialog writes

// True when `name` ends in ".desktop" in any letter case.
bool HasDesktopEntryExtension(std::string_view name);
// `name` without a ".desktop" at its end (any letter case).
std::string WithoutDesktopEntryExtension(std::string_view name);

// What a launcher carries.
struct ShortcutFields {
  std::string target_path;        // the executable
  std::string working_directory;  // empty: none
  std::string arguments;          // the argument string, without the executable
  std::string description;        // the comment
  std::string icon_file;          // empty: none
  int32_t icon_index = 0;
  int32_t show_command = kShowNormal;
  bool operator==(const ShortcutFields&) const = default;
};

// The outcome of writing or reading a launcher: 0 and an empty text on
// success, else an error code and a description of the fault (the system's
// text for a failed call, a sentence of its own for a field or entry it
// refuses: kErrInvalidArgument, kErrInvalidText for text that is not UTF-8,
// kErrFileTooLarge for a file too large to be a launcher).
struct ShortcutStatus {
  ErrorCode number = kSuccess;
  std::string text;
  bool ok() const { return number == kSuccess; }
};

// The text of a desktop entry named `name` (shown in menus; bytes that are
// not UTF-8 and control characters are shown escaped as the report shows
// them) that carries `fields`. Fails, with `text` untouched, when a field
// cannot be stored unchanged (see above) or the executable is empty.
ShortcutStatus FormatDesktopEntry(std::string_view name, const ShortcutFields& fields,
                                  std::string& text);

// Reads the text of a desktop entry. Strict: the whole text must be UTF-8;
// only comments ("#"), blank lines, group headers and Key=Value lines;
// "[Desktop Entry]" must be the first group; no group or key twice; the escapes
// of the format only. Localized keys ("Comment[de]"), other groups and keys
// the program does not use are skipped. Type must be Application and Exec
// must name an executable; Exec is split as the Desktop Entry Specification
// says, and reserved characters outside quotes, unknown escapes inside them
// and field codes other than "%%" are refused. Nothing is cut. On failure
// `fields` is untouched. Whatever it accepts, FormatDesktopEntry writes back
// to a text that reads to the same fields.
ShortcutStatus ParseDesktopEntry(std::string_view text, ShortcutFields& fields);

// A launcher's argument string as the arguments the started program gets
// (argv[1] on), split as a desktop entry's Exec carries them: the program
// joins them back (JoinArguments) to the same string, runs of blanks aside.
// Fails as FormatDesktopEntry does for an argument string it cannot carry.
ShortcutStatus SplitLauncherArguments(std::string_view arguments, std::vector<std::string>& items);

// Writes `fields` as the desktop entry `shortcut_path` (Name: the file's name
// without ".desktop") through WriteWholeFile: a temporary file in the same
// folder, flushed to disk and renamed over the name, so a failure leaves an
// existing file as it was and no partial one, nor the temporary file. A new
// entry gets mode 0644 (no execute bit, in any folder: a desktop that asks
// before starting an untrusted launcher keeps asking); an existing regular
// file keeps its permission mode. Nothing but a regular file is replaced:
// a link at `shortcut_path` is refused, never written through. Fails with kErrInvalidArgument for
// an empty path or executable, with the errors of FormatDesktopEntry, or with those of
// WriteWholeFile.
ShortcutStatus CreateShortcut(const std::string& shortcut_path, const ShortcutFields& fields);

// Reads the desktop entry `shortcut_path` (a link is followed) into `fields`.
// Fails with the error of opening or reading it, kErrInvalidArgument for
// something that is not a regular file, kErrFileTooLarge above 1 MiB, or the
// errors of ParseDesktopEntry; `fields` is then untouched.
ShortcutStatus ReadShortcut(const std::string& shortcut_path, ShortcutFields& fields);

}  // namespace twinmere
