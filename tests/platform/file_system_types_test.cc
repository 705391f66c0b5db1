#include "platform/posix/file_system_types.h"

#include <gtest/gtest.h>

namespace twinmere::posix {
namespace {

// The walk's threads and parallel copies are decided by this answer: local
// file systems keep up with one thread, the others (and unknown ones) are
// given requests in flight at once.
TEST(FileSystemTypes, LocalAreThoseWhoseRequestsStayInTheKernel) {
  struct Case {
    uint64_t type;
    bool local;
  };
  const Case cases[] = {
      {kExt4Magic, true},  {kXfsMagic, true},     {kBtrfsMagic, true}, {kTmpfsMagic, true},
      {kMsdosMagic, true}, {kExfatMagic, true},   {kNtfs3Magic, true}, {kF2fsMagic, true},
      {kRamfsMagic, true}, {kOverlayMagic, true}, {kFuseMagic, false}, {kNfsMagic, false},
      {kCifsMagic, false}, {kSmb2Magic, false},   {0x517B, false},  // smbfs
      {0x12345678, false},                                          // unknown
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsLocalFileSystemType(c.type), c.local) << std::hex << c.type;
}

}  // namespace
}  // namespace twinmere::posix
