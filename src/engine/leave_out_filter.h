// The items a run leaves out by their names and paths, in every walk of
// either tree: the command line's patterns and the .twinmereignore files of
// Source's folders (fs/leave_out_rules.h says how patterns read and which
// one decides).
//
// What this program decided:
// - The command line's list holds the patterns of the -xf files, each file
//   in its turn, then the -x patterns: a -x pattern can take back what a
//   file leaves out. A file that cannot be read, or a line of it or a -x
//   pattern that is invalid, makes the options invalid: nothing is run.
// - Only Source's .twinmereignore files are read, and each applies to both
//   trees at the same place below the synchronized folder, so that both
//   directions and every phase leave out the same items. A .twinmereignore
//   in Target is an item like any other (copied, deleted, compared); with
//   -bi one that reaches Source counts from the next run on. Each folder's
//   file is read once per run (the first walk that goes into the folder),
//   whichever walk or phase asks. A link, a folder or any other item of
//   that name holds no patterns.
// - A .twinmereignore that cannot be read, or holds an invalid pattern,
//   gives one error line, and then everything in its folder is left out
//   for the run (in both trees): what the file meant to leave out is never
//   copied over or deleted by mistake.
// - Names are matched as the comparison compares them: ignoring letter
//   case (NameIgnoringCase) where either folder's names compare so, else
//   exactly; the Case option does not change it.
// - Items left out (ItemsLeftOut) are those the walks met, each place
//   below the synchronized folders once however often the walks met it
//   (an item and its counterpart once), not what a left-out folder holds.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/sync_options.h"
#include "fs/files_enumerator.h"
#include "fs/leave_out_rules.h"
#include "platform/file_system.h"

namespace twinmere {

// The name of the files that hold a folder's own patterns.
inline constexpr char kLeaveOutFileName[] = ".twinmereignore";
// Larger patterns files (-xf) and .twinmereignore files are not read.
inline constexpr size_t kPatternsFileLimit = size_t{16} << 20;

// Adds one -x pattern to `list`. False for an invalid one, with the line
// that says so in `fault`.
bool AddLeaveOutPattern(std::string_view pattern, LeaveOutList& list, std::string& fault);
// Adds the patterns of one -xf file (a final link followed). False, with
// the line that says which file (and line) in `fault`, for a file that
// cannot be read or a line that holds an invalid pattern.
bool AddLeaveOutFile(const std::string& path, LeaveOutList& list, std::string& fault);
// The command line's list of `options`: the -xf files, then the -x
// patterns. False on the first fault, as above.
bool ReadLeaveOutOptions(const SyncOptions& options, LeaveOutList& list, std::string& fault);

class LeaveOutFilter final : public ItemFilter {
 public:
  // An error line of the run: the text, the code that stands for it and the
  // path it names (Reporter::ErrorLine).
  using ErrorLine =
      std::function<void(const std::string& line, ErrorCode code, const std::string& path)>;

  LeaveOutFilter();
  ~LeaveOutFilter() override;
  LeaveOutFilter(const LeaveOutFilter&) = delete;
  LeaveOutFilter& operator=(const LeaveOutFilter&) = delete;

  // A run begins on `fs` with the folders `source` and `target` (ending in
  // "/"): the command line's list is read, names matched through `fold`
  // (null: exactly). False, with the line that says why in `fault`, when
  // the options cannot be read: the run must not begin.
  bool Begin(FileSystem& fs, const SyncOptions& options, NameFold fold, ErrorLine error_line,
             std::string& fault);
  // The run is over: everything it read is let go.
  void End();

  // The items left out so far (see above).
  int64_t ItemsLeftOut() const { return static_cast<int64_t>(met_.size()); }
  // Whether anything can be left out: a pattern on the command line, or a
  // .twinmereignore met.
  bool Active() const { return active_; }
  // What a walk's read-ahead asks (WalkPlan::left_out).
  std::shared_ptr<WalkFilterSource> ReadAheadSource() const;

  // ItemFilter. LeavesOut also answers for the counterpart of an item of
  // the folder entered last: the same place in the other tree.
  bool Enter(const std::string& folder) override;
  void Leave() override;
  bool LeavesOut(const std::string& path, ItemKind kind) override;

 private:
  class Source;
  struct Rules {
    std::shared_ptr<const LeaveOutList> list;  // null: none
    bool unusable = false;                     // could not be read, or holds an invalid pattern
  };
  struct Level {
    std::string folder;  // "" or "a/b/", below the synchronized folders
    std::shared_ptr<const LeaveOutList> list;
  };
  struct Frame {
    bool inside = false;  // in Source or Target
    std::string folder;   // below it, "" or "a/b/"
    int pushed = 0;       // levels pushed for it
    bool jumped = false;  // the levels before it were set aside (`saved`)
    std::vector<Level> saved;
  };

  // The rules of Source's folder at `folder` ("" or "a/b/"); `from_source`:
  // asked by a walk of Source, whose spelling of the folder is Source's.
  Rules RulesOf(const std::string& folder, bool from_source);
  // `path` below whichever folder holds it; false for a path in neither.
  bool Below(std::string_view path, std::string_view& rel, bool& in_source) const;
  void Push(const std::string& folder, const std::shared_ptr<const LeaveOutList>& list);
  void PopAll();
  std::string Key(std::string_view rel) const;

  FileSystem* fs_ = nullptr;
  std::string source_folder_;
  std::string target_folder_;
  NameFold fold_ = nullptr;
  ErrorLine error_line_;
  bool active_ = false;
  std::shared_ptr<const LeaveOutList> command_line_;
  LeaveOutRules rules_;
  std::vector<Level> levels_;  // those pushed on rules_, in order
  std::vector<Frame> frames_;
  // Folders whose rules are known: those with a file, and those known to
  // have none (by a hash of their key, as FolderSet keeps folders).
  std::unordered_map<std::string, Rules> known_;
  std::unordered_set<uint64_t> without_;
  std::unordered_set<uint64_t> met_;  // the items left out, by a hash of their key
  std::shared_ptr<Source> source_;
};

}  // namespace twinmere
