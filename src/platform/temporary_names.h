// Names of the temporary files and links that a file copy writes next to its
// target: the prefix, the id of the process, a random part and a counter,
// joined by "-" (".twinmere-tmp-4711-839201137-12").
//
// A copy that is killed may leave such an item behind. Only a name of that
// whole pattern is taken for one: the walk never hands it to the engine as an
// item, and removes it once its process has ended. Any other name, also one
// that merely begins with the prefix, is an ordinary item.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace twinmere {

inline constexpr std::string_view kTemporaryNamePrefix = ".twinmere-tmp-";

// The name of temporary item number `counter` of the process `pid`, whose
// random part (digits, drawn once per process) is `random`.
inline std::string TemporaryName(int64_t pid, std::string_view random, uint64_t counter) {
  std::string name(kTemporaryNamePrefix);
  name += std::to_string(pid);
  name += '-';
  name += random;
  name += '-';
  name += std::to_string(counter);
  return name;
}

// The process id of a name of the whole pattern; nothing for any other name.
inline std::optional<int64_t> TemporaryNameProcess(std::string_view name) {
  if (!name.starts_with(kTemporaryNamePrefix)) return std::nullopt;
  name.remove_prefix(kTemporaryNamePrefix.size());
  int64_t pid = 0;
  for (int part = 0; part < 3; ++part) {
    size_t digits = 0;
    while (digits < name.size() && name[digits] >= '0' && name[digits] <= '9') ++digits;
    if (digits == 0 || digits > (part == 0 ? 10u : 20u)) return std::nullopt;
    if (part == 0) {
      for (size_t i = 0; i < digits; ++i) pid = pid * 10 + (name[i] - '0');
    }
    name.remove_prefix(digits);
    if (part < 2) {
      if (name.empty() || name.front() != '-') return std::nullopt;
      name.remove_prefix(1);
    }
  }
  if (!name.empty()) return std::nullopt;
  return pid;
}

inline bool IsTemporaryName(std::string_view name) {
  return TemporaryNameProcess(name).has_value();
}

// True for a temporary name whose process no longer runs on this machine:
// what a killed copy left behind, safe to remove. A process that runs (also
// one of another user) keeps its items.
bool IsLeftoverOfEndedProcess(std::string_view name);

}  // namespace twinmere
