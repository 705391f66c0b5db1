// Where the running program is: its own executable, and the working folder
// that relative paths start from.
#pragma once

#include <string>

namespace twinmere {

// The absolute path of the running program's executable, links resolved;
// empty when it cannot be read.
std::string ExecutablePath();

// The process's working folder: absolute, without a trailing "/" (the root
// keeps it); empty when it cannot be read (removed, too long, outside the
// process's root).
std::string WorkingFolder();

}  // namespace twinmere
