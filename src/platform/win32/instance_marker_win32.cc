// The sign that the program runs is the named mutex "TwinmereMutex" of the
// user's session, held while the object lives; outside tools test for it
// with OpenMutexW. It never keeps a second instance from starting.
#include <cstdint>

#include "platform/instance_marker.h"
#include "platform/win32/windows_api.h"

namespace twinmere {
namespace {

// The marker's handle in the place of a descriptor: 64-bit Windows keeps
// handles to 32 significant bits, so one survives being truncated to an
// int and sign-extended back.
HANDLE HandleOf(int fd) {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
}

}  // namespace

InstanceMarker::InstanceMarker(const UserFolders& folders) {
  (void)folders;  // the mutex lives in the session's namespace, not in a folder
  const HANDLE mutex = CreateMutexW(nullptr, FALSE, L"TwinmereMutex");
  if (mutex == nullptr) return;
  const auto value = static_cast<int>(reinterpret_cast<intptr_t>(mutex));
  if (value < 0 || HandleOf(value) != mutex) {
    CloseHandle(mutex);
    return;
  }
  fd_ = value;
  path_ = kInstanceMarkerName;
}

InstanceMarker::~InstanceMarker() {
  if (fd_ >= 0) CloseHandle(HandleOf(fd_));
}

}  // namespace twinmere
