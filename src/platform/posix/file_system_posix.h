// The file system of this machine with its fallbacks selectable, so that tests
// can run the paths taken on older kernels and other file systems.
#pragma once

#include <memory>

#include "platform/file_system.h"

namespace twinmere {

struct PosixFileSystemOptions {
  // Resolve paths below a confined root with openat2; otherwise (and where the
  // kernel lacks it) one component at a time with O_NOFOLLOW.
  bool use_openat2 = true;
  // Write copies to an unnamed O_TMPFILE file where the file system supports
  // it; otherwise to a named temporary file that is renamed over the target.
  bool use_tmpfile = true;
  // After ExpectWalk, a second thread lists the walked tree ahead of the
  // walk, so that its listings and stats overlap the work done per item,
  // and more threads read what the walk will ask of its items ahead.
  bool read_ahead = true;
  // Read ACLs with one getxattrat(2) relative to the open folder where the
  // kernel has it; otherwise through a descriptor of each item.
  bool use_getxattrat = true;
  // Threads that look up ahead of a walk: 0 chooses by the file systems
  // (none where both trees are local: the thread that lists looks up too;
  // several where every lookup is a round trip); more than one runs every
  // lookup as on a network file system.
  int lookup_threads = 0;
  // Copies that run at once (FileSystem::ParallelCopies): 0 chooses by the
  // file system (one where the Target is local, several where every
  // request is a round trip); more than one runs that many on any.
  int copy_threads = 0;
};

// CreatePlatformFileSystem() is CreatePosixFileSystem({}).
//
// While confined roots are set (during a run), the file system keeps the two
// folders used last and the roots open between calls, so that lookups in one
// folder cost one fstatat each. Any SetConfinedRoots call closes them all;
// with no roots set, nothing stays open after a call returns: call it with
// an empty list when a run ends, so that a removable Target can be unmounted.
std::unique_ptr<FileSystem> CreatePosixFileSystem(const PosixFileSystemOptions& options);

// FileSystem::LocateFolder of this machine: the folder's mount from
// /proc/self/mountinfo, that mount's root joined with the folder's path below
// the mount point, on the mount's device. Fails with the errno of opening the
// folder or of reading /proc (ENOENT where /proc is not mounted), or ENODATA
// where the kernel or the mount table does not tell the folder's mount.
ErrorCode LocateMountedFolder(const std::string& folder, FolderPlace& place);

}  // namespace twinmere
