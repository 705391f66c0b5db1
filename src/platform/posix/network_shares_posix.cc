#include "platform/network_shares.h"

namespace twinmere {

bool IsNetworkDiskShare(const std::string& /*path*/) {
  return false;
}

}  // namespace twinmere
