// The keepers of a run (fs/item_keeper.h): what a run deletes or replaces
// goes to a versions folder or to the desktop's Trash first.
//
// Versions folder: each run that keeps anything makes a folder named for its
// start time in local time, "2026-12-07 093015" (a second run in the same
// second "2026-12-07 093015-2", and so on), and keeps every item at its path
// relative to Target there; a bidirectional run keeps each side's items
// under a subfolder named "Target" or "Source". On the file system of the
// item a file is renamed there (a replaced one hard-linked), elsewhere copied
// there first; nothing kept ever takes the name of another. A folder keeps
// its mode and times, and with security its owner, group and ACLs.
//
// The run folder holds the run's mark, kRunMarkName, which says when the run
// began (in UTC) and which the run keeps locked for its life. Retention
// (RemoveOldRuns) counts and removes only marked folders with valid names,
// newest first by that time: never one whose mark is locked (a live run's),
// never the run's own. Folders without a mark (made by the user, or by
// versions of the program before the mark) are left alone.
//
// Trash: the freedesktop.org Trash of the item's file system, the user's home
// Trash ($XDG_DATA_HOME/Trash) where it lies on the same one, else
// $topdir/.Trash/$uid (a shared .Trash with its sticky bit) or
// $topdir/.Trash-$uid. Each entry's .trashinfo is written first (its name
// reserved, "name", "name.2", ...; a name too long for that is shortened,
// the .trashinfo keeps the original path), then the item moved to files/; a
// folder that the run deletes is one entry, filled item by item as the walk
// removes its contents. Nothing is copied to a Trash on another file system:
// where none can be used, one error line says why, and nothing there is
// deleted or replaced.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "base/sync_options.h"
#include "fs/item_keeper.h"
#include "platform/file_system.h"
#include "report/reporter.h"

namespace twinmere {

// The name of a run folder for `seconds` since the epoch, in local time:
// "YYYY-MM-DD HHMMSS".
std::string RunFolderName(double seconds);

// Whether `name` is the name of a run folder ("YYYY-MM-DD HHMMSS" of a real
// date and time, optionally followed by "-N" with N from 2 on, without
// leading zeros); `order` then gives N (1 for none).
bool IsRunFolderName(std::string_view name, uint32_t* order = nullptr);

// The mark in a run folder, and its text for a run that began at `seconds`
// since the epoch; the start a mark's text gives, nothing for other text.
inline constexpr char kRunMarkName[] = ".twinmere-run";
std::string RunMarkText(double seconds);
std::optional<double> RunMarkStart(std::string_view text);

// `folder` as one absolute spelling, ending in "/": from the working folder,
// "//" and "." left out, and "name/.." where "name" is a folder (not a link).
std::string NormalFolderPath(FileSystem& fs, const std::string& folder);

// The text of a .trashinfo file: the original path percent-encoded (every
// byte but letters, digits, "-", ".", "_", "~" and "/"), and the deletion
// time in local time.
std::string TrashInfoText(std::string_view original_path, double deletion_time);
// The percent-encoding of TrashInfoText, and back (nullopt-free: a bad
// escape is taken as it stands).
std::string PercentEncodePath(std::string_view path);
std::string PercentDecode(std::string_view text);

// The Source and Target folders (normalised, ending in "/") and whether
// the run is bidirectional.
struct KeptSides {
  std::string source;
  std::string target;
  bool bidi = false;
};

class VersionsKeeper final : public ItemKeeper {
 public:
  // `folder`: the versions folder, absolute, ending in "/"; `start_time`:
  // the run's start, seconds since the epoch.
  VersionsKeeper(FileSystem& fs, Reporter& reporter, KeptSides sides, std::string folder,
                 double start_time);

  ErrorCode Prepare(const std::string& path, const ItemInfo& item, KeepReason reason,
                    KeepPlace& place) override;
  void Finish(const KeepPlace& place, bool kept) override;

  // This run's folder, ending in "/"; empty while nothing was kept.
  const std::string& RunFolder() const { return run_folder_; }

  // Removes the oldest marked run folders so that `keep` remain (0: all
  // remain), each reported with a line ("Removed versions:"), a failure
  // with an error line; see above for which are never removed.
  void RemoveOldRuns(int32_t keep);

 private:
  ErrorCode MakeRunFolder();
  // Makes every missing folder of `folder` (ending in "/") below the run folder.
  ErrorCode MakeFolders(const std::string& folder);

  FileSystem& fs_;
  Reporter& reporter_;
  KeptSides sides_;
  std::string folder_;
  double start_time_;
  std::string run_folder_;
  std::unique_ptr<FileLock> lock_;        // of the run folder's mark
  std::unordered_set<std::string> made_;  // folders below the run folder known to exist
  std::mutex mutex_;                      // copies may replace items on several threads
};

// Where the trashes are looked for.
struct TrashPlaces {
  std::string home_trash;  // $XDG_DATA_HOME/Trash, without a trailing "/"; empty: none
  uint32_t uid = 0;        // the user whose trashes they are
};

class TrashKeeper final : public ItemKeeper {
 public:
  TrashKeeper(FileSystem& fs, Reporter& reporter, KeptSides sides, TrashPlaces places);

  ErrorCode Prepare(const std::string& path, const ItemInfo& item, KeepReason reason,
                    KeepPlace& place) override;
  void Finish(const KeepPlace& place, bool kept) override;

  // The folder that holds the file system's top folder's trash for an item
  // of `folder` on `device`: its top folder (the highest folder on that
  // device above it).
  std::string TopFolder(const std::string& folder, uint64_t device);
  // Where the trash of the file system of `folder` would be, as a user of
  // `places` sees it, made or not: the home trash, else $topdir/.Trash and
  // $topdir/.Trash-$uid (both, since either may be used).
  std::vector<std::string> TrashFolders(const std::string& folder);

 private:
  struct Trash {
    uint64_t device = 0;
    std::string folder;  // holds files/ and info/; without a trailing "/"
    std::string topdir;  // where relative Path= values start; empty: absolute ones
    bool usable = false;
  };
  struct Entry {
    std::string root;                      // the deleted item the entry stands for
    std::string files;                     // its place in files/
    std::string info;                      // its .trashinfo
    std::unordered_set<std::string> made;  // folders made inside it
  };

  const Trash& TrashFor(const std::string& path, uint64_t device);
  ErrorCode FindTrash(const std::string& path, uint64_t device, Trash& trash, std::string& made);
  // A folder with mode 0700 that is the user's own: made, or found so.
  ErrorCode UserFolder(const std::string& path);
  // The outermost folder that holds `path`, lies on `device` and is itself
  // deleted (no folder of its name on the other side); `path` when none.
  std::string OutermostDeleted(const std::string& path, uint64_t device);
  ErrorCode NewEntry(const Trash& trash, const std::string& root, Entry& entry);

  FileSystem& fs_;
  Reporter& reporter_;
  KeptSides sides_;
  TrashPlaces places_;
  std::vector<Trash> trashes_;    // by device
  std::unique_ptr<Entry> entry_;  // the deleted folder being filled
  // Target folders known to stay: the other side has a folder of the name.
  std::unordered_set<std::string> staying_;
  std::mutex mutex_;  // copies may replace items on several threads
};

}  // namespace twinmere
