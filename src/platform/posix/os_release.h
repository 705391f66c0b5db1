// Reading the operating-system description for the platform facts. Internal to
// the posix platform layer; separate so that the text rules can be tested.
#pragma once

#include <string>
#include <string_view>

namespace twinmere::posix {

// The PRETTY_NAME value of an os-release file's contents (shell-style quoting
// undone: double or single quotes, backslash escapes inside double quotes), or
// empty when there is none.
std::string PrettyNameFromOsRelease(std::string_view contents);

// "<sysname> <release>" followed by " (<pretty name>)" when the pretty name is
// not empty, e.g. "Linux 6.1.0-18-amd64 (Debian GNU/Linux 12 (bookworm))".
std::string FormatOsText(const std::string& sysname, const std::string& release,
                         const std::string& pretty_name);

}  // namespace twinmere::posix
