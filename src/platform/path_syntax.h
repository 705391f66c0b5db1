// How paths are written. The program holds every path with "/" between
// names, on every system; what differs is the root and what the user may
// write. On Linux the root is "/". On Windows a path begins with a drive
// ("C:/") or a network share ("//server/share/"), the user may write "\"
// as well as "/" (FromUserPath turns it into "/" where the program takes a
// path from the user), and a path is shown with "\" (ShownSeparators).
// Windows names never hold "/" or "\", so nothing is lost either way.
//
// Each routine takes the syntax to apply, this system's by default, so
// that the rules of both can be tested anywhere. None touches the disk.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace twinmere {

enum class PathSyntax : unsigned char { Posix, Windows };

#ifdef _WIN32
inline constexpr PathSyntax kSystemPathSyntax = PathSyntax::Windows;
#else
inline constexpr PathSyntax kSystemPathSyntax = PathSyntax::Posix;
#endif

// The length of the root that `path` begins with, its "/" included: 1 for
// "/..." on Linux; on Windows 3 for "C:/...", 2 for a bare "C:", the
// length of "//server/share/" (or of "//server/share" when nothing
// follows), 1 for "/..." (the root of the working folder's drive). 0 for
// a path that has none (relative). Never fails.
size_t PathRootLength(std::string_view path, PathSyntax syntax = kSystemPathSyntax);

// Whether `path` names its root in full, so that it does not depend on the
// working folder: "/..." on Linux; "C:/..." or "//server/share..." on
// Windows (a bare "C:", "C:name" and "/name" depend on it there).
bool IsAbsolutePath(std::string_view path, PathSyntax syntax = kSystemPathSyntax);

// Whether `path` is a network share's root itself: "//server/share" with
// or without a trailing "/". Never on Linux.
bool IsShareRootPath(std::string_view path, PathSyntax syntax = kSystemPathSyntax);

// A path the user wrote, as the program holds it: on Windows every "\"
// becomes "/"; unchanged on Linux, where "\" is a byte of a name.
std::string FromUserPath(std::string path, PathSyntax syntax = kSystemPathSyntax);

// `text`, a path as the program holds it, with the separators this system
// shows: on Windows every "/" becomes "\"; unchanged on Linux.
std::string ShownSeparators(std::string text, PathSyntax syntax = kSystemPathSyntax);

}  // namespace twinmere
