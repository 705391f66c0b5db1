// Where the running program is: its own executable, the working folder
// that relative paths start from, and the arguments it was started with.
// Paths are as the program holds them (platform/path_syntax.h).
#pragma once

#include <string>
#include <vector>

namespace twinmere {

// The absolute path of the running program's executable, links resolved;
// empty when it cannot be read.
std::string ExecutablePath();

// The process's working folder: absolute, without a trailing "/" (the root
// keeps it); empty when it cannot be read (removed, too long, outside the
// process's root).
std::string WorkingFolder();

// The program's arguments, argv[0] first, as main received them. On
// Windows they are read again from the wide command line (the C runtime's
// argv holds them in the ANSI code page, which cannot spell every name),
// split as CommandLineToArgvW splits it, in UTF-8 (WTF-8). Never fails.
std::vector<std::string> ProgramArguments(int argc, const char* const* argv);

}  // namespace twinmere
