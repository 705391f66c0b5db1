// The comparison values of one item against its counterpart, and the action
// codes that the report turns into lines and counters.
#pragma once

#include <cstdint>

#include "fs/files_enumerator.h"
#include "platform/file_system.h"

namespace twinmere {

// CompareResult: three exclusive codes, otherwise a bit set (0 = equal).
inline constexpr int kOtherMissing = 3;       // the counterpart does not exist
inline constexpr int kOtherInaccessible = 4;  // its lookup failed; AccessError was raised
inline constexpr int kShortNameClash = 5;     // the name found belongs to another item
inline constexpr int kItemNewer = 1;
inline constexpr int kOtherNewer = 2;
inline constexpr int kSizeDiffers = 16;
inline constexpr int kKindDiffers = 32;  // a folder against a file
inline constexpr int kAttributesDiffer = 64;
inline constexpr int kCaseDiffers = 128;
// kSecurityDiffers (256), kOtherSecurityUnreadable (512) and
// kItemSecurityUnreadable (1024) come from the enumerator.

// Action codes that are not computed by ActionCodeFor.
inline constexpr int kActionDeleteFile = 2;
inline constexpr int kActionRemoveFolder = 18;
inline constexpr int kActionFileShortName = 96;
inline constexpr int kActionFolderShortName = 112;

// The action code for a comparison value r, the item's attribute word and
// whether the item is being deleted: 128 when r is exactly a case
// difference; 32 (in place) unless the counterpart was missing; one of
// 2 (delete), 4 (attributes, r = 64), 8 (security, r = 256) or 1 (copy);
// 16 for a folder.
constexpr int ActionCodeFor(int r, uint32_t attrs, bool deleting) {
  int code = 0;
  if (r == kCaseDiffers) code |= 128;
  if (r != kOtherMissing) code |= 32;
  if (deleting) {
    code |= 2;
  } else if (r == kAttributesDiffer) {
    code |= 4;
  } else if (r == kSecurityDiffers) {
    code |= 8;
  } else {
    code |= 1;
  }
  if (attrs & kAttrFolder) code |= 16;
  return code;
}

}  // namespace twinmere
