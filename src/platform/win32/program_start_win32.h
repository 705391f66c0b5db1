// Command lines of programs started on Windows.
#pragma once

#include <string>
#include <vector>

namespace twinmere::win32 {

// The command line that hands `arguments` to a program exactly as they
// are: each quoted where it is empty or holds a blank, a tab or a quote,
// with the backslashes before a quote (and before the closing quote)
// doubled, as the C runtime of the started program splits them again.
std::wstring CommandLine(const std::vector<std::wstring>& arguments);

}  // namespace twinmere::win32
