// The capabilities that let the process set owners and security of any item.
#pragma once

#include "platform/errors.h"

namespace twinmere {

// 0 when CAP_CHOWN, CAP_FOWNER and CAP_DAC_OVERRIDE are all effective;
// otherwise kErrNotPermitted (or the error of reading the process capabilities).
ErrorCode CheckSecurityCapabilities();

// True for effective uid 0, or CAP_CHOWN and CAP_FOWNER in the effective set.
bool HasAdministratorRights();

}  // namespace twinmere
