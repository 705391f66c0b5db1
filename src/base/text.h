// Small helpers on byte strings that every layer may use.
#pragma once

#include <string>
#include <string_view>

namespace twinmere {

// `text` without its leading and trailing blanks (the space character only).
inline std::string TrimBlanks(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

}  // namespace twinmere
