// File system types as statfs(2) reports them (f_type), and what the posix
// platform layer decides by them. Internal to it; separate so that the
// decisions can be tested without the file systems.
#pragma once

#include <cstdint>

namespace twinmere::posix {

// File system types whose names compare ignoring letter case. FUSE is unknown
// territory and treated the same: the stored name is then looked up.
constexpr uint64_t kMsdosMagic = 0x4d44;  // vfat and msdos
constexpr uint64_t kExfatMagic = 0x2011BAB0;
constexpr uint64_t kNtfs3Magic = 0x7366746e;
constexpr uint64_t kCifsMagic = 0xFF534D42;
constexpr uint64_t kSmb2Magic = 0xFE534D42;
constexpr uint64_t kFuseMagic = 0x65735546;  // also fuseblk
constexpr uint64_t kExt4Magic = 0xEF53;      // also ext2 and ext3
constexpr uint64_t kF2fsMagic = 0xF2F52010;
// Local file systems that, like ext4 and f2fs, keep all that a copy gives them.
constexpr uint64_t kXfsMagic = 0x58465342;
constexpr uint64_t kBtrfsMagic = 0x9123683E;
constexpr uint64_t kTmpfsMagic = 0x01021994;
// More local ones, and the network file system.
constexpr uint64_t kRamfsMagic = 0x858458f6;
constexpr uint64_t kZfsMagic = 0x2FC12FC1;
constexpr uint64_t kBcachefsMagic = 0xca451a4e;
constexpr uint64_t kOverlayMagic = 0x794c7630;
constexpr uint64_t kNfsMagic = 0x6969;

// Whether the requests of a file system of this type stay on this machine,
// in the kernel: the thread that lists ahead of the walk looks up too, and
// more threads that look up or copy in parallel would only cost processor
// time and wake-ups. On network and FUSE file systems, and on types not
// known here, every request is a round trip, and requests in flight at
// once pay.
constexpr bool IsLocalFileSystemType(uint64_t type) {
  switch (type) {
    case kExt4Magic:
    case kXfsMagic:
    case kBtrfsMagic:
    case kTmpfsMagic:
    case kF2fsMagic:
    case kMsdosMagic:
    case kExfatMagic:
    case kNtfs3Magic:
    case kRamfsMagic:
    case kZfsMagic:
    case kBcachefsMagic:
    case kOverlayMagic:
      return true;
    default:
      return false;
  }
}

}  // namespace twinmere::posix
