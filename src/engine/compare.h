// The comparison of the enumerator's current item with a counterpart path and
// its result.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "fs/files_enumerator.h"

namespace twinmere {

// What the lookup of the counterpart found.
enum class Counterpart : uint8_t {
  Found,
  Missing,         // no item there
  Inaccessible,    // the lookup failed; AccessError was raised
  ShortNameClash,  // the name found belongs to another item (an alias)
};

// One way in which an item and the counterpart found differ.
enum class Difference : uint16_t {
  ItemNewer = 1 << 0,  // modification times beyond the tolerance
  OtherNewer = 1 << 1,
  Size = 1 << 2,  // also contents: a link against a file, links with other texts
  Kind = 1 << 3,  // a folder against a file
  Attributes = 1 << 4,
  Case = 1 << 5,  // the names differ in letter case only
  Security = 1 << 6,
  OtherSecurityUnreadable = 1 << 7,  // its read failure went to SecurityError
  ItemSecurityUnreadable = 1 << 8,
};

// A set of differences; empty: the two are equal.
class Differences {
 public:
  constexpr Differences() = default;
  constexpr Differences(Difference one) : bits_(static_cast<uint16_t>(one)) {}
  constexpr Differences(std::initializer_list<Difference> all) {
    for (const Difference one : all)
      bits_ = static_cast<uint16_t>(bits_ | static_cast<uint16_t>(one));
  }
  constexpr bool Has(Difference one) const { return (bits_ & static_cast<uint16_t>(one)) != 0; }
  constexpr bool HasAny(Differences set) const { return (bits_ & set.bits_) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  // The set without those of `set`.
  constexpr Differences Without(Differences set) const {
    Differences rest;
    rest.bits_ = static_cast<uint16_t>(bits_ & ~set.bits_);
    return rest;
  }
  constexpr Differences& operator|=(Differences set) {
    bits_ = static_cast<uint16_t>(bits_ | set.bits_);
    return *this;
  }
  constexpr bool operator==(const Differences&) const = default;

 private:
  uint16_t bits_ = 0;
};

// The differences of security alone: the difference and the read failures.
inline constexpr Differences kSecurityDifferences = {
    Difference::Security, Difference::OtherSecurityUnreadable, Difference::ItemSecurityUnreadable};

// The result of a comparison: what the lookup found and, for a counterpart
// found, how it differs.
struct CompareResult {
  Counterpart counterpart = Counterpart::Found;
  Differences differences;

  static constexpr CompareResult Missing() { return {Counterpart::Missing, {}}; }
  bool Found() const { return counterpart == Counterpart::Found; }
  // No counterpart stands at its name: none, or another item's alias.
  bool MissingOrClash() const {
    return counterpart == Counterpart::Missing || counterpart == Counterpart::ShortNameClash;
  }
  // Found, and differing in `difference` (among others).
  bool Has(Difference difference) const { return Found() && differences.Has(difference); }
  // Found, and differing in `set` alone.
  bool Only(Differences set) const { return Found() && differences == set; }
  bool operator==(const CompareResult&) const = default;
};

struct CompareRules {
  bool check_case = false;   // names that differ only in letter case differ in Case
  bool no_daylight = false;  // no one-hour allowance for daylight-saving shifts
  bool security_support = false;
  // The counterpart's side is the one the run writes to: what its volume
  // cannot keep (FileSystem::Abilities) is not compared. Modes count only
  // as far as the volume keeps them, and on a volume that cannot set a
  // link's own times two links are the same when their texts are.
  bool other_receives = false;
  // Only whether the counterpart is there, and of which kind, counts: a
  // counterpart found differs in Kind when one is a folder and the other
  // not, else in nothing.
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

// Compares e's current item with the item at `other_path`: Missing when the
// counterpart is missing (also when a folder of its path is a file or a
// link, never followed); Inaccessible when its lookup failed otherwise
// (callback.AccessError is raised once); ShortNameClash when the lookup
// found an item whose name is not the requested name even ignoring letter
// case (it was found through another name, so it is not the counterpart);
// else Found with the differences. With with_security and
// rules.security_support the security comparison is added (its read failures
// go to the enumerator's SecurityError). Links are compared as themselves:
// their own times, size (link text length) and kind; where the volume of a
// side that receives cannot set a link's times (rules.other_receives,
// rules.item_receives), their texts instead of their times (different
// texts count as a size difference).
CompareResult Compare(FilesEnumerator& e, const std::string& other_path, bool with_security,
                      const CompareRules& rules, IEnumFile& callback);

// Equal apart from letter case, as a case-insensitive file system sees it:
// ASCII letters always, other letters when both names are valid UTF-8
// (simple case mapping of the C.UTF-8 locale). All other bytes must match.
bool NamesEqualIgnoringCase(std::string_view a, std::string_view b);
// A key of a name under that rule: two names are equal ignoring case
// exactly when their keys are equal.
std::string NameIgnoringCase(std::string_view name);

// The time comparison alone: ItemNewer when `item` is newer beyond the
// tolerance, OtherNewer when `other` is, nothing when they count as equal.
Differences CompareTimes(FileTime item, FileTime other, bool no_daylight);

}  // namespace twinmere
