// Network shares as the system's network providers know them.
#pragma once

#include <string>

namespace twinmere {

// True when the network names `path` ("//server/share", the program's form)
// as a disk share itself, with nothing below it: a share whose folder
// cannot be read still exists. Always false on Linux, where network file
// systems are mounted folders. Never fails: any error gives false.
bool IsNetworkDiskShare(const std::string& path);

}  // namespace twinmere
