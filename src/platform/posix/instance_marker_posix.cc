#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/instance_marker.h"
#include "platform/posix/file_system_posix_internal.h"

namespace twinmere {
namespace {

using posix::Fd;

bool OwnedByUser(const struct stat& st) {
  return st.st_uid == ::geteuid();
}

// A folder of the user that no one else can write into.
bool IsPrivateFolder(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && OwnedByUser(st) &&
         (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The runtime folder when it is private, else "twinmere-<uid>" in the temp
// folder; -1 when neither can be had.
int OpenMarkerFolder(const UserFolders& folders, std::string& path) {
  if (!folders.runtime.empty()) {
    Fd runtime(::open(folders.runtime.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (runtime.valid() && IsPrivateFolder(runtime.get())) {
      path = folders.runtime;
      return runtime.Release();
    }
  }
  if (folders.temp.empty()) return -1;
  Fd temp(::open(folders.temp.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!temp.valid()) return -1;
  const std::string name = "twinmere-" + std::to_string(::geteuid());
  // An existing folder is fine when it passes the checks below.
  (void)::mkdirat(temp.get(), name.c_str(), 0700);
  Fd own(::openat(temp.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!own.valid() || !IsPrivateFolder(own.get())) return -1;
  path = folders.temp + "/" + name;
  return own.Release();
}

}  // namespace

InstanceMarker::InstanceMarker(const UserFolders& folders) {
  std::string folder;
  const Fd dir(OpenMarkerFolder(folders, folder));
  if (!dir.valid()) return;
  Fd marker(::openat(dir.get(), kInstanceMarkerName,
                     O_RDONLY | O_CREAT | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0600));
  struct stat st;
  if (!marker.valid() || ::fstat(marker.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
      !OwnedByUser(st)) {
    return;
  }
  // Never waits: a tool holding the file exclusively must not stall start-up.
  if (::flock(marker.get(), LOCK_SH | LOCK_NB) != 0) return;
  fd_ = marker.Release();
  path_ = folder + "/" + kInstanceMarkerName;
}

InstanceMarker::~InstanceMarker() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace twinmere
