#include <signal.h>

#include <cerrno>
#include <cstdint>

#include "platform/temporary_names.h"

namespace twinmere {

bool IsLeftoverOfEndedProcess(std::string_view name) {
  const std::optional<int64_t> pid = TemporaryNameProcess(name);
  if (!pid || *pid <= 0 || *pid > INT32_MAX) return false;
  // Signal 0 only asks whether the process exists; EPERM means it does.
  return kill(static_cast<pid_t>(*pid), 0) != 0 && errno == ESRCH;
}

}  // namespace twinmere
