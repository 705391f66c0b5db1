// How the file attributes of Windows travel in ItemInfo::mode, the field
// that the rest of the program compares, copies and writes as an item's
// "attributes" (on Linux its permission bits).
//
// The bits keep the meaning the program gives them on Linux wherever it
// looks at them: the owner may read and search (0500) always; the write bits
// (0222, all together, as the read-only attribute of vfat shows on Linux)
// are clear exactly when the item is read-only. The other attributes that a
// copy carries (the mask 0x3127 of the original design) take bits that the
// program only compares and copies:
//
//   hidden 0x2 -> 0040   system 0x4 -> 0010   archive 0x20 -> 0004
//   temporary 0x100 -> 0001   offline 0x1000 -> 02000
//   not content-indexed 0x2000 -> 04000
//
// The comparison counts only the bits that VolumeAbilities::kept_mode_bits
// holds. Offline and not content-indexed are never among them (the
// original design compares the mask 0x127), and neither is what the volume
// cannot keep (FAT and exFAT keep no temporary attribute), so the next run
// after a copy is quiet.
#pragma once

#include <cstdint>

namespace twinmere::win32 {

inline constexpr uint32_t kAttrHidden = 0x2;
inline constexpr uint32_t kAttrSystem = 0x4;
inline constexpr uint32_t kAttrArchive = 0x20;
inline constexpr uint32_t kAttrTemporary = 0x100;
inline constexpr uint32_t kAttrOffline = 0x1000;
inline constexpr uint32_t kAttrNotIndexed = 0x2000;
// The attributes a copy carries and that are written to disk.
inline constexpr uint32_t kWrittenAttributes = 0x3127;
// Those that the comparison looks at.
inline constexpr uint32_t kComparedAttributes = 0x127;

struct AttributeBit {
  uint32_t attribute;
  uint32_t mode;
};
inline constexpr AttributeBit kAttributeBits[] = {
    {kAttrHidden, 0040},    {kAttrSystem, 0010},   {kAttrArchive, 0004},
    {kAttrTemporary, 0001}, {kAttrOffline, 02000}, {kAttrNotIndexed, 04000},
};

// The mode that stands for the attribute word `attributes`.
constexpr uint32_t ModeFromAttributes(uint32_t attributes) {
  uint32_t mode = 0500 | ((attributes & 0x1) ? 0 : 0222);
  for (const AttributeBit& bit : kAttributeBits)
    if (attributes & bit.attribute) mode |= bit.mode;
  return mode;
}

// The attributes of kWrittenAttributes that `mode` stands for. Read-only
// is the owner's write bit, as ItemInfo::Attributes reads it.
constexpr uint32_t AttributesFromMode(uint32_t mode) {
  uint32_t attributes = (mode & 0200) ? 0 : 0x1;
  for (const AttributeBit& bit : kAttributeBits)
    if (mode & bit.mode) attributes |= bit.attribute;
  return attributes;
}

// The mode bits that stand for the attributes of `attributes`, with the
// bits that are always set: what kept_mode_bits holds for a volume that
// keeps those attributes.
constexpr uint32_t ModeBitsOf(uint32_t attributes) {
  uint32_t mode = 0700 | ((attributes & 0x1) ? 0222 : 0);
  for (const AttributeBit& bit : kAttributeBits)
    if (attributes & bit.attribute) mode |= bit.mode;
  return mode;
}

static_assert(AttributesFromMode(ModeFromAttributes(kWrittenAttributes)) == kWrittenAttributes);
static_assert(AttributesFromMode(ModeFromAttributes(0)) == 0);
static_assert(ModeBitsOf(kComparedAttributes) == 0777);

}  // namespace twinmere::win32
