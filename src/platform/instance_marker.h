// The sign that the program runs: a lock file "TwinmereMutex" that outside
// tools can test (flock with LOCK_EX | LOCK_NB fails while any instance runs).
// It never keeps a second instance from starting.
#pragma once

#include <string>

namespace twinmere {

inline constexpr char kInstanceMarkerName[] = "TwinmereMutex";

class InstanceMarker {
 public:
  // Creates (or opens) folder + "/TwinmereMutex", mode 0600, without
  // following a link, and holds a shared flock on it until the object goes
  // away. Every failure (no folder, a file of another user, no locks on that
  // file system) is ignored: the marker is then simply not held.
  explicit InstanceMarker(const std::string& folder);
  ~InstanceMarker();
  InstanceMarker(const InstanceMarker&) = delete;
  InstanceMarker& operator=(const InstanceMarker&) = delete;

  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace twinmere
