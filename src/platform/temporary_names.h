// Names of the temporary files that a file copy writes next to its target.
//
// A copy that is killed may leave such a file behind; the walk recognises the
// prefix and never hands a leftover to the engine as an item.
#pragma once

#include <string_view>

namespace twinmere {

inline constexpr std::string_view kTemporaryNamePrefix = ".twinmere-tmp-";

inline bool IsTemporaryName(std::string_view name) {
  return name.substr(0, kTemporaryNamePrefix.size()) == kTemporaryNamePrefix;
}

}  // namespace twinmere
