#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/instance_marker.h"

namespace twinmere {

InstanceMarker::InstanceMarker(const std::string& folder) {
  if (folder.empty()) return;
  const std::string path = folder + "/" + kInstanceMarkerName;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return;
  // Never waits: a tool holding the file exclusively must not stall start-up.
  if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
    ::close(fd);
    return;
  }
  fd_ = fd;
}

InstanceMarker::~InstanceMarker() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace twinmere
