// The sign that the program runs: a lock file "TwinmereMutex" that outside
// tools can test (flock with LOCK_EX | LOCK_NB fails while any instance runs).
// It never keeps a second instance from starting.
#pragma once

#include <string>

#include "platform/user_folders.h"

namespace twinmere {

inline constexpr char kInstanceMarkerName[] = "TwinmereMutex";

class InstanceMarker {
 public:
  // Creates (or opens) "TwinmereMutex", mode 0600, in a folder that only the
  // user can write, and holds a shared flock on it until the object goes
  // away. The folder is the runtime folder ($XDG_RUNTIME_DIR) when it is
  // such a folder: owned by the user, writable by no one else. Otherwise
  // (no XDG_RUNTIME_DIR, so the runtime folder is the shared temp folder)
  // it is "twinmere-<uid>" in the temp folder, created with mode 0700 and
  // used only while it is a folder of the user that no one else can write
  // (never a link). The marker is opened without following a link and
  // without waiting (a FIFO in its place cannot stall the start), and held
  // only when it is a regular file of the user. Every failure is ignored:
  // the marker is then simply not held.
  explicit InstanceMarker(const UserFolders& folders);
  ~InstanceMarker();
  InstanceMarker(const InstanceMarker&) = delete;
  InstanceMarker& operator=(const InstanceMarker&) = delete;

  bool Held() const { return fd_ >= 0; }
  // The marker's path while it is held, else empty.
  const std::string& Path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace twinmere
