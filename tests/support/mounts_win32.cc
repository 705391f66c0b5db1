// Windows mounts no file systems for a test: every test that asks for one
// skips, saying so.
#include "support/mounts.h"

namespace twinmere::testing {
namespace {

constexpr char kNoMounts[] = "no test mounts on Windows";

}  // namespace

VfatMount::VfatMount(TempTree&, const std::string&, int) : skip_(kNoMounts) {}
VfatMount::~VfatMount() = default;
TmpfsMount::TmpfsMount(TempTree&, const std::string&, const std::string&) : skip_(kNoMounts) {}
TmpfsMount::~TmpfsMount() = default;
FuseExt4Mount::FuseExt4Mount(TempTree&, const std::string&, int) : skip_(kNoMounts) {}
FuseExt4Mount::~FuseExt4Mount() = default;
SshfsMount::SshfsMount(TempTree&, const std::string&, const std::string&) : skip_(kNoMounts) {}
SshfsMount::~SshfsMount() = default;

}  // namespace twinmere::testing
