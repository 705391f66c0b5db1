#include <sys/capability.h>
#include <unistd.h>

#include "platform/privileges.h"

namespace twinmere {
namespace {

// True when every capability in `caps` is in the effective set; `error` gets
// the error of reading the capabilities.
bool AllEffective(const cap_value_t* caps, int count, ErrorCode& error) {
  error = 0;
  cap_t state = cap_get_proc();
  if (state == nullptr) {
    error = errno;
    return false;
  }
  bool all = true;
  for (int i = 0; i < count; ++i) {
    cap_flag_value_t value = CAP_CLEAR;
    if (cap_get_flag(state, caps[i], CAP_EFFECTIVE, &value) != 0 || value != CAP_SET) all = false;
  }
  cap_free(state);
  return all;
}

}  // namespace

ErrorCode CheckSecurityCapabilities() {
  static constexpr cap_value_t kNeeded[] = {CAP_CHOWN, CAP_FOWNER, CAP_DAC_OVERRIDE};
  ErrorCode error = 0;
  if (AllEffective(kNeeded, 3, error)) return 0;
  return error != 0 ? error : EPERM;
}

bool HasAdministratorRights() {
  if (geteuid() == 0) return true;
  static constexpr cap_value_t kAdmin[] = {CAP_CHOWN, CAP_FOWNER};
  ErrorCode error = 0;
  return AllEffective(kAdmin, 2, error);
}

}  // namespace twinmere
