// Real file systems of other kinds, mounted for a test by root: vfat through
// FUSE (case-insensitive, no modes, no links), ext4 through FUSE, a small
// tmpfs, and a folder of this machine through sshfs (sftp to an sshd of the
// test's own on 127.0.0.1).
#pragma once

#include <sys/types.h>

#include <string>

#include "support/temp_tree.h"

namespace twinmere::testing {

// Both mount on construction and unmount (and stop what they started) when
// they go away. SkipReason() is empty when the mount is there, else it says
// why it is not (no root, no FUSE, a tool missing), for GTEST_SKIP.
class VfatMount {
 public:
  // An image of `kilobytes` in `tree`, mounted on tree.Path(folder).
  VfatMount(TempTree& tree, const std::string& folder, int kilobytes = 8192);
  ~VfatMount();
  VfatMount(const VfatMount&) = delete;
  VfatMount& operator=(const VfatMount&) = delete;
  const std::string& SkipReason() const { return skip_; }

 private:
  std::string mount_point_;
  std::string skip_;
};

// A tmpfs of `size` (as mount takes it: "4m") on tree.Path(folder): a real
// full disk, and a fast one for trees of many folders.
class TmpfsMount {
 public:
  TmpfsMount(TempTree& tree, const std::string& folder, const std::string& size);
  ~TmpfsMount();
  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;
  const std::string& SkipReason() const { return skip_; }

 private:
  std::string mount_point_;
  std::string skip_;
};

// An ext4 image of `kilobytes` through FUSE (fuse2fs), on tree.Path(folder):
// a FUSE file system with hard links and inode numbers of its own. Its top
// folder holds lost+found.
class FuseExt4Mount {
 public:
  FuseExt4Mount(TempTree& tree, const std::string& folder, int kilobytes = 16384);
  ~FuseExt4Mount();
  FuseExt4Mount(const FuseExt4Mount&) = delete;
  FuseExt4Mount& operator=(const FuseExt4Mount&) = delete;
  const std::string& SkipReason() const { return skip_; }

 private:
  std::string mount_point_;
  std::string skip_;
};

class SshfsMount {
 public:
  // tree.Path(remote) (created) mounted on tree.Path(folder); the keys, the
  // configuration and the log of the sshd go to tree.Path(".ssh-" + folder).
  // One remote folder may be mounted more than once, as two machines do.
  SshfsMount(TempTree& tree, const std::string& remote, const std::string& folder);
  ~SshfsMount();
  SshfsMount(const SshfsMount&) = delete;
  SshfsMount& operator=(const SshfsMount&) = delete;
  const std::string& SkipReason() const { return skip_; }

 private:
  std::string Start(TempTree& tree, const std::string& remote);

  std::string mount_point_;
  std::string skip_;
  pid_t sshd_ = -1;
  bool mounted_ = false;
  bool made_privsep_folder_ = false;
};

}  // namespace twinmere::testing
