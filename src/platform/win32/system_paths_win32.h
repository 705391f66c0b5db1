// Paths as the system takes them. The program writes a path with "/" or "\"
// between names; every call gets it absolute, with "\" only, in the
// long-path form that lifts the limit of 260 characters and turns off the
// system's own rewriting of names ("\\?\C:\a\b", "\\?\UNC\server\share\a").
// That rewriting would strip trailing dots and blanks from names, which
// NTFS keeps, so this layer resolves "." and ".." itself, by the text, as
// Windows does (never through a link).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"

namespace twinmere::win32 {

struct SystemPath {
  std::wstring text;  // the long-path form, without a trailing "\" except at the root
  size_t root = 0;    // the length of the root: "\\?\C:\", "\\?\UNC\server\share\"
  // The names below the root, in order.
  std::vector<std::wstring_view> Names() const;
  // The path of the folder holding the last name (the root for a name at
  // the root); the path itself for the root.
  SystemPath Parent() const;
  bool IsRoot() const { return text.size() <= root; }
  // The last name; empty for the root.
  std::wstring_view LastName() const;
};

// The system form of `path`. A relative path is taken from the current
// folder ("\a" from its drive). Fails with kErrNotFound for an empty path,
// ERROR_INVALID_NAME for bytes that are not WTF-8 (text_win32.h),
// ERROR_BAD_PATHNAME for a network path without a share.
ErrorCode ToSystemPath(std::string_view path, SystemPath& out);

// True for a path that names its root itself: "C:\...", "C:/...",
// "\\server\share...", "//server/share..." and the long-path forms.
bool IsAbsolutePath(std::string_view path);

// The place of the last "/" or "\" of `path`, or npos.
size_t LastSeparator(std::string_view path);

// Whether the names `a` and `b` are equal ignoring letter case as the
// system compares names (its upper-case table, not the locale's).
bool SameNameIgnoringCase(std::wstring_view a, std::wstring_view b);

}  // namespace twinmere::win32
