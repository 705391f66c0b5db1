// The Windows version as the program classifies it (OsIndex) and writes it
// in the report (OsText).
#pragma once

#include <cstdint>
#include <string>

namespace twinmere::win32 {

struct WindowsVersion {
  uint32_t platform = 2;  // 1: Windows 95, 98 and Me; 2: the NT family
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t build = 0;
  std::string service_pack;  // "Service Pack 1", or empty
};

// OsIndex of the version: 0 (95) to 8 (newer than Windows Server 2003), or
// -1 for a version that is not supported (before 4, or an unknown platform).
int32_t ClassifyWindowsVersion(const WindowsVersion& version);

// "Windows XP, version 5.01.2600 Service Pack 2"; "Windows, version
// 10.00.19045" for index 8.
std::string FormatWindowsVersion(const WindowsVersion& version, int32_t index);

}  // namespace twinmere::win32
