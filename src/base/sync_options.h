// The options of the next synchronization run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace twinmere {

// The built-in default report level: successful operations, errors, options,
// summary, OS version and privileges, folders (1 + 2 + 4 + 16 + 64 + 128).
inline constexpr int32_t kDefaultReportLevel = 215;

// The default share of Target's items, in percent, above which the deletion
// guard stops a run's deletions (a program setting).
inline constexpr int32_t kDefaultDeletionGuardPercent = 50;

// Bits of SyncOptions::ReportLevel.
enum ReportLevelBit : int32_t {
  kLevelActions = 1,
  kLevelErrors = 2,
  kLevelOptions = 4,
  kLevelCommandLine = 8,
  kLevelSummary = 16,
  kLevelZeroValues = 32,
  kLevelSystem = 64,
  kLevelFolders = 128,
};

// One record of every option of a run. Folder paths, once normalised, end in "/".
// Field names follow the option names used throughout the program.
struct SyncOptions {
  std::string Source;
  std::string Target;
  bool ExcludeSubfolders = false;
  bool Bidi = false;  // implies New, excludes Delete
  bool Delete = false;
  bool New = false;
  bool Case = false;
  bool NoDaylight = false;
  bool NoSecurity = false;
  bool AllowDecryption = false;
  bool Start = false;
  bool Minimized = false;
  bool Quiet = false;
  bool QuickStart = false;
  bool DisallowStop = false;
  // Walk, compare and plan as the run would and show its lines, but change
  // nothing in Source or Target.
  bool Preview = false;
  // Lift the guard against mass deletion (Delete) for this run.
  bool ForceDelete = false;
  std::string Report;
  bool Append = false;
  int32_t Restriction = 0;  // report size limit in KB, 0 = none
  int32_t ReportLevel = kDefaultReportLevel;
  std::string JsonSummary;  // JSON summary file written at the end of each run; empty: none
  // Where deleted and replaced items go first: a versions folder (empty:
  // none), in which only the newest VersionsKeep run folders are kept (0:
  // all); or the desktop's Trash.
  std::string Versions;
  int32_t VersionsKeep = 0;
  bool Trash = false;
  // Patterns of the items the run leaves out (-x), in the order given, and
  // files that hold more of them, one per line (-xf).
  std::vector<std::string> LeaveOut;
  std::vector<std::string> LeaveOutFiles;

  bool operator==(const SyncOptions&) const = default;
};

}  // namespace twinmere
