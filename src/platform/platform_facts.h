// Facts about the running system, established once at start-up and read-only
// afterwards.
#pragma once

#include <cstdint>
#include <string>

namespace twinmere {

// Whether the program is built for Windows, where launchers (desktop
// entries), scheduled runs (systemd timers) and the Trash of the Linux
// desktops do not exist: the program says they are not supported there yet.
#ifdef _WIN32
inline constexpr bool kBuiltForWindows = true;
#else
inline constexpr bool kBuiltForWindows = false;
#endif

struct PlatformFacts {
  int32_t OsIndex = 8;   // version class; 8 is the newest, every feature enabled
  std::string OsText;    // "Linux 6.1.0-18-amd64 (Debian GNU/Linux 12 (bookworm))"
  bool IsNT = true;      // always: one path type, no ANSI variant
  bool IsAdmin = false;  // effective uid 0, or CAP_CHOWN and CAP_FOWNER effective
};

// Reads uname, /etc/os-release and the process capabilities. Never fails: an
// unreadable os-release leaves the part in parentheses out.
PlatformFacts DetectPlatformFacts();

}  // namespace twinmere
