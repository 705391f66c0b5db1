// Names of the temporary files and links that this program writes next to
// their target (a file copy, a whole file written at once): the prefix, the
// origin of the process, its id, a random part and a counter, joined by "-"
// (".twinmere-tmp-3f09c2a1d4e5b678-4711-839201137-12").
//
// The origin is 16 lowercase hexadecimal digits, a hash of the boot of this
// machine and of the process-id namespace the process runs in: a process
// id means something only where the origin is the reader's own. A process
// that cannot learn its origin writes the name without it
// (".twinmere-tmp-4711-839201137-12"), as earlier versions did.
//
// A copy that is killed may leave such an item behind. Only a name of one of
// these whole patterns is taken for one: the walk never hands it to the
// engine as an item, and removes it where the run writes once it cannot
// belong to a live copy (MayRemoveLeftover). Any other name, also one that
// merely begins with the prefix, is an ordinary item.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace twinmere {

inline constexpr std::string_view kTemporaryNamePrefix = ".twinmere-tmp-";
inline constexpr size_t kOriginDigits = 16;

// The name of temporary item number `counter` of the process `pid` of
// `origin` (empty: unknown), whose random part (digits, drawn once per
// process) is `random`.
inline std::string ComposeTemporaryName(std::string_view origin, int64_t pid,
                                        std::string_view random, uint64_t counter) {
  std::string name(kTemporaryNamePrefix);
  if (!origin.empty()) {
    name += origin;
    name += '-';
  }
  name += std::to_string(pid);
  name += '-';
  name += random;
  name += '-';
  name += std::to_string(counter);
  return name;
}

// The origin of this process: boot and process-id namespace, hashed; empty
// when it cannot be learned. A forked child learns its own.
std::string ThisOrigin();

// ComposeTemporaryName with this process's origin.
std::string TemporaryName(int64_t pid, std::string_view random, uint64_t counter);

// A temporary name that this process has not given before: its own id, a
// random part drawn once per process and a counter that every name of the
// process, on any thread, moves on. Every temporary item the program makes
// takes its name from here.
std::string NewTemporaryName();

struct TemporaryNameParts {
  std::string_view origin;  // empty: a name without origin
  int64_t pid = 0;
};

// The parts of a name of the whole pattern, with or without origin; nothing
// for any other name.
inline std::optional<TemporaryNameParts> ParseTemporaryName(std::string_view name) {
  if (!name.starts_with(kTemporaryNamePrefix)) return std::nullopt;
  name.remove_prefix(kTemporaryNamePrefix.size());
  std::string_view fields[4];
  size_t count = 0;
  for (;;) {
    if (count == 4) return std::nullopt;
    const size_t dash = name.find('-');
    fields[count++] = name.substr(0, dash);
    if (dash == std::string_view::npos) break;
    name.remove_prefix(dash + 1);
  }
  if (count < 3) return std::nullopt;
  TemporaryNameParts parts;
  const size_t first = count - 3;
  if (first == 1) {
    if (fields[0].size() != kOriginDigits) return std::nullopt;
    for (const char c : fields[0])
      if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return std::nullopt;
    parts.origin = fields[0];
  }
  for (size_t i = 0; i < 3; ++i) {
    const std::string_view digits = fields[first + i];
    if (digits.empty() || digits.size() > (i == 0 ? 10u : 20u)) return std::nullopt;
    for (const char c : digits)
      if (c < '0' || c > '9') return std::nullopt;
  }
  for (const char c : fields[first]) parts.pid = parts.pid * 10 + (c - '0');
  return parts;
}

inline bool IsTemporaryName(std::string_view name) {
  return ParseTemporaryName(name).has_value();
}

// The name that a FUSE file system (libfuse) gives a file removed while it
// is open, until its last close: ".fuse_hidden" and 16 hexadecimal digits.
// It is another process's open file, or what a lost release left; never an
// item, and never this program's to remove.
inline bool IsFuseHiddenName(std::string_view name) {
  constexpr std::string_view kPrefix = ".fuse_hidden";
  if (name.size() != kPrefix.size() + 16 || !name.starts_with(kPrefix)) return false;
  for (const char c : name.substr(kPrefix.size()))
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
  return true;
}

// A temporary item that nothing has changed for this long is no live copy's.
// A copy writes its file from end to end, then gives it its times and its
// name, waiting on nothing but the disks; a day is far beyond any pause of
// that, and a killed run's leftover keeps its folder from being removed
// for a day at most.
inline constexpr int64_t kLeftoverAgeNs = int64_t{24} * 3600 * 1'000'000'000;

// What the age of a temporary item is judged by.
struct LeftoverTimes {
  FileTime changed;          // its change time (ctime)
  FileTime modified;         // its modification time
  FileTime folder_modified;  // the modification time of its folder
};

// Whether nothing has changed the item for kLeftoverAgeNs at `now`. The
// change time tells, not the modification time, which the copy sets to the
// Source's own before the rename. A change time equal to the modification
// time is none of the file system's own (sftp carries no change time, and
// sshfs shows the modification time in its place): there the folder's
// modification time, which the item's creation moved, must be as old (only
// a copy that has run for a day, caught between its times and its rename
// in a folder nothing else changed, would then look old).
inline bool LeftoverIsOld(const LeftoverTimes& times, FileTime now) {
  FileTime changed = times.changed;
  if (changed == times.modified && times.folder_modified > changed) changed = times.folder_modified;
  return now.ns - changed.ns >= kLeftoverAgeNs;
}

// The process `pid` of this process-id namespace has ended.
bool ProcessEnded(int64_t pid);

// The present time of the wall clock.
FileTime WallClockNow();

// Whether a temporary item of the name `name` cannot belong to a live copy:
// it was made in this boot and process-id namespace (this origin) by a
// process that has ended, or it is old (LeftoverIsOld, at the present
// time). `read_times(LeftoverTimes&)` is called only where the first does
// not hold; it returns false when the times cannot be read (then no).
template <typename ReadTimes>
bool MayRemoveLeftover(std::string_view name, ReadTimes&& read_times) {
  const std::optional<TemporaryNameParts> parts = ParseTemporaryName(name);
  if (!parts) return false;
  if (!parts->origin.empty() && parts->origin == ThisOrigin() && ProcessEnded(parts->pid))
    return true;
  LeftoverTimes times;
  return read_times(times) && LeftoverIsOld(times, WallClockNow());
}

}  // namespace twinmere
