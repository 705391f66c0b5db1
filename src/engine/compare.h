// The comparison of the enumerator's current item with a counterpart path and
// the codes of its result.
#pragma once

#include <string>
#include <string_view>

#include "fs/files_enumerator.h"

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

struct CompareRules {
  bool check_case = false;   // names that differ only in letter case set 128
  bool no_daylight = false;  // no one-hour allowance for daylight-saving shifts
  bool security_support = false;
  // The counterpart's side is the one the run writes to: what its volume
  // cannot keep (FileSystem::Abilities) is not compared. Modes count only
  // as far as the volume keeps them, and on a volume that cannot set a
  // link's own times two links are the same when their texts are.
  bool other_receives = false;
  // Only whether the counterpart is there, and of which kind, counts: the
  // result is 3, 4, 5, or 32 when one is a folder and the other not, else 0.
  bool presence_only = false;
  // The item's side is written too (a bidirectional run): two links are
  // also the same when their texts are where the item's volume cannot set
  // a link's own times.
  bool item_receives = false;
};

// Two modification times count as equal when at most this far apart.
inline constexpr int64_t kTimeToleranceNs = 4'000'000'000;
// ... or when their distance lies within one hour plus or minus the tolerance.
inline constexpr int64_t kHourLowNs = 3'596'000'000'000;
inline constexpr int64_t kHourHighNs = 3'604'000'000'000;

// Compares e's current item with the item at `other_path` and returns the
// CompareResult (above): 3 when the counterpart is missing
// (also when a folder of its path is a file or a link, never followed);
// 4 when its lookup failed otherwise (callback.AccessError is raised once);
// 5 when the lookup found an item whose name is not the requested name even
// ignoring letter case (it was found through another name, so it is not the
// counterpart); else the bits of the differences. With with_security and
// rules.security_support the security comparison is added (its read failures
// go to the enumerator's SecurityError). Links are compared as themselves:
// their own times, size (link text length) and kind; where the volume of a
// side that receives cannot set a link's times (rules.other_receives,
// rules.item_receives), their texts instead of their times (different
// texts count as a size difference).
int Compare(FilesEnumerator& e, const std::string& other_path, bool with_security,
            const CompareRules& rules, IEnumFile& callback);

// Equal apart from letter case, as a case-insensitive file system sees it:
// ASCII letters always, other letters when both names are valid UTF-8
// (simple case mapping of the C.UTF-8 locale). All other bytes must match.
bool NamesEqualIgnoringCase(std::string_view a, std::string_view b);
// A key of a name under that rule: two names are equal ignoring case
// exactly when their keys are equal.
std::string NameIgnoringCase(std::string_view name);

// The bits of the time comparison alone: 1 when `item` is newer beyond the
// tolerance, 2 when `other` is, 0 when they count as equal.
int CompareTimes(FileTime item, FileTime other, bool no_daylight);

}  // namespace twinmere
