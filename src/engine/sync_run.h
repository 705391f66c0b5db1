// Inside of Synchronizer: the state of one run shared by the run driver
// (synchronizer.cc) and the item handler with its plans (item_handler.cc).
// The copies running beside the walk, the folder times on the receiving
// side and what the exploring phases found equal keep their own state
// (running_copies.h, folder_times.h, explored_folders.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/compare.h"
#include "engine/explored_folders.h"
#include "engine/folder_times.h"
#include "engine/leave_out_filter.h"
#include "engine/running_copies.h"
#include "engine/synchronizer.h"
#include "fs/item_actions.h"
#include "fs/item_keeper.h"
#include "fs/preview_file_system.h"
#include "report/action_lines.h"

namespace twinmere {

// The phases of a run, in their order.
enum class Phase : uint8_t {
  ExploreSource = 0,
  ExploreTarget = 1,
  CopyToTarget = 2,
  CopyToSource = 3,
  DeleteInTarget = 4,
};

// What a walk asks of its items and does with them, fixed when it begins
// (Impl::RulesFor): one for the walk of each phase, and one for each walk
// made inside another (a Target folder removed or counted whole, the count
// of the deletion guard, the report file alone).
struct WalkRules {
  Phase phase = Phase::ExploreSource;
  Side walked = Side::Source;  // the tree the walk goes through
  // The side the walk writes to: copies go there (phases 2 and 3), or it
  // deletes there (phase 4).
  Side receiving = Side::Target;
  // Phases 2 to 4: the walk acts on what it finds (the counts of the
  // deletion guard look at Target as phase 4 does).
  bool acting = false;
  bool fills = false;  // copies go towards `receiving` (phases 2 and 3)
  // Target items may go: the extra ones (phase 4), or those in the way of a
  // Source item of another kind (phase 2); never once the guard kept them.
  bool deletes = false;
  // Letter case is compared (the Case option, in phases 2 and 3).
  bool check_case = false;
  // Only whether each counterpart is there, and of which kind, counts: the
  // deleting phase, and exploring Target for it.
  bool presence_only = false;
  bool with_security = false;     // security is compared, where the run handles it
  bool other_receives = false;    // the counterpart's side is written (CompareRules)
  bool counts_deletions = false;  // items are counted for the deletion guard
  bool counting_only = false;     // ... and nothing else is done
  // Inside a Target folder that goes (or is counted) whole, subfolders
  // included even where they are excluded: nothing is taken as found, and
  // only the walk around it keeps folder times.
  bool in_removal = false;
  // The folders whose files are taken as found (ExploredFolders); null: none.
  std::shared_ptr<FolderSet> passed_over;
  // The status texts while the walk searches and while it acts on an item.
  const char* searching_text = "";
  const char* copying_text = "";
};

// What the search for a Target item's counterpart under another letter case
// found in Source (Impl::SourceCaseVariant).
enum class CaseVariant : uint8_t { None, One, Several };

// The walks report every item and error here (IEnumFile) and the copy of the
// current file its progress (IProgress); the reporter asks here for the
// report file's own synchronization (ReportSelfSync).
struct Synchronizer::Impl final : IEnumFile, IProgress, ReportSelfSync {
  Impl(const SyncOptions& options, SyncSession& session, const PlatformFacts& facts, FileSystem& fs,
       Reporter& reporter, SyncHost& host);

  // --- what the walks and the reporter call ---
  // The item handler (item_handler.cc).
  void File(FilesEnumerator& e) override;
  // What the exploring phases meet, the phase that acts on the same tree
  // meets again: it is reported there, once. So is what the walk that counts
  // the deletions meets.
  void AccessError(const std::string& path, ErrorCode code) override;
  void SecurityError(const std::string& path, ErrorCode code) override;
  void SetProgress(uint64_t bytes_copied) override;
  // The report file alone, with the ordinary item handler: towards = true
  // brings the other side's copy onto the report (before appending to it),
  // false copies the finished report to the other side.
  void SyncReportFile(bool towards) override;

  const SyncOptions& given;
  // The run's own copy of `given`, its folders normalised; the reporter
  // reads it while the run goes on.
  SyncOptions options;
  SyncSession& session;
  const PlatformFacts& facts;
  FileSystem& real_fs;
  // The file system the run works on: real_fs, or for a preview the
  // PreviewFileSystem in front of it, which writes nothing.
  FileSystem* fs;
  std::unique_ptr<PreviewFileSystem> preview;
  Reporter& reporter;
  SyncHost& host;
  DeletionGuard guard;

  EnumeratorContext context;
  // The rules of the walk under way (of the last one, between walks).
  WalkRules rules;
  // The Case option as the report file's own synchronization applies it:
  // off until the phases are over.
  bool report_case = false;
  // ShowStatus was called with the copying text for the current item.
  bool copying_shown = false;
  // Counterparts of folders that met an item of the other kind which stayed
  // in place: nothing inside such a folder can be placed there, so its
  // contents are passed over silently instead of failing one by one.
  std::vector<std::string> blocked_folders;
  // Folders on the receiving side whose mode lacks owner write or search
  // permission: they get both while the walk fills them, and their own mode
  // back when the walk is over (in reverse order, deepest first).
  struct DeferredMode {
    std::string path;
    uint32_t mode;
  };
  std::vector<DeferredMode> deferred_modes;
  RunningCopies copies;
  FolderTimes folder_times;
  ExploredFolders explored;
  // The items the walks leave out by their names (context.filter while the
  // phases run).
  LeaveOutFilter leave_out;
  // The Target folder did not exist before the run.
  bool target_created = false;
  // Where the items the run deletes or replaces go first (null: they
  // vanish), and the versions folder as the run names it (absolute, ending
  // in "/"; empty without one).
  std::unique_ptr<ItemKeeper> keeper;
  std::string versions_folder;

  // What the run would delete, counted before the copying phase, whose
  // removal of Target items in the way of Source items of another kind is
  // the first deletion: while exploring Target, or by a counting walk of
  // its own (quick start). Items are those the deleting phase looks at,
  // and those the removals take with them.
  struct DeletionCount {
    bool counted = false;
    int64_t items = 0;  // Target's items
    // Of them, those without a counterpart in Source, those of another kind
    // than theirs that the copying phase removes, and what these hold.
    int64_t extra = 0;
  };
  DeletionCount deletions;
  // The guard (or the user) kept Target's items: nothing is deleted, not
  // even an item in the way of a Source item of another kind.
  bool deletion_refused = false;

  // A Target that compares names ignoring letter case may hold an item
  // under another case than Source: its counterpart is found by listing
  // Source's folders (names by folder, for the walk of one phase).
  std::unordered_map<std::string, std::vector<std::string>> source_listings;
  std::string case_folder;  // the last Target folder asked about, and its answer
  bool case_folder_ignores = false;

  // --- run driver (synchronizer.cc) ---
  RunOutcome Synchronize();
  // Quiet, unless a report or JSON summary could not be written.
  bool Quiet() const { return options.Quiet && !reporter.Run().WriteFailed; }
  void Run();
  // Before the first deletion: whether the run may delete what it would.
  bool DeletionAllowed();
  void CountDeletions();
  bool SourceIsEmpty();
  // Whether the run deletes: with Delete, one way, unless the guard kept
  // Target's items.
  bool Deletes() const { return options.Delete && !options.Bidi && !deletion_refused; }
  // Ends a run that cannot begin: the line (and the one giving its reason,
  // where there is one), the exit code, automatic exit.
  void Refuse(const std::string& line, int exit_code, const std::string& reason = {});
  void DecideSecurity();
  // The keeper of the run and the folders its walks leave out (a versions
  // folder or a Trash inside Target); false when the run was refused for
  // its versions folder. `start_time`: the run's start.
  bool PrepareKeeping(double start_time);
  // Leaves the given folder out of every walk, as each side spells it.
  void LeaveOut(const std::string& folder);
  // The patterns of the run: false when the run was refused for them.
  bool PrepareLeavingOut();
  // The newest run folders of the versions folder stay, the others go.
  void FinishKeeping();
  void LocateReport();
  void RunPhases();
  // syncfs of the receiving file systems before the run's last line.
  void SyncToDisk();
  // The folder of `side` (ending in "/").
  const std::string& Root(Side side) const {
    return side == Side::Source ? options.Source : options.Target;
  }
  WalkRules RulesFor(Phase phase) const;
  // The rules of a walk inside a Target folder that goes whole; `counting`:
  // it only counts what would go.
  WalkRules RemovalRules(bool counting) const;
  // What a walk under `walk` asks of its items and their counterparts.
  WalkPlan PlanOf(const WalkRules& walk) const;
  // Walks `folder` in `phase`; `mode` as the phase requires.
  void Walk(FilesEnumerator& e, Phase phase, const std::string& folder, EnumMode mode);
  // Opens a receiving folder for filling (see deferred_modes).
  void OpenForFilling(FilesEnumerator& e, const std::string& folder_path);
  void RestoreDeferredModes();
  bool Stopped() const { return session.StopRequested.load() != 0; }
  bool Exploring() const {
    return rules.phase == Phase::ExploreSource || rules.phase == Phase::ExploreTarget;
  }
  // Removes a Target item of the other kind than the Source item `source`
  // (a folder with all its contents). Returns 0 when it is gone.
  ErrorCode RemoveConflict(const std::string& target_path, FilesEnumerator& source);

  // --- item handler and plans (item_handler.cc) ---
  CompareResult CompareItem(FilesEnumerator& e, const std::string& other_path, bool with_security);
  bool IsReportFile(const std::string& short_form_path) const;
  bool HoldsReportFile(const std::string& folder_path) const;
  // The folder holds an item that the walks leave out.
  bool HoldsLeftOut(const std::string& folder_path) const;
  // The counterpart at `path`, just compared, is a folder left out where
  // the item, of another kind, is not (a pattern for folders only): it
  // takes no part in the run, and is never removed for the item.
  bool CounterpartLeftOut(FilesEnumerator& e, const std::string& path);
  bool InBlockedFolder(const std::string& path) const;
  void BlockIfStillInTheWay(const std::string& path);
  void Estimate(const CompareResult& result, FilesEnumerator& e);
  // Takes back the estimate of `files` equal files that the acting phase
  // will not meet (ExploredFolders::End).
  void Unestimate(int64_t files);
  // Counts the item for the deletion guard.
  void CountForDeletion(const CompareResult& result, FilesEnumerator& e, bool is_folder);
  // Whether the copying phase removes the Target item `e` (of the counting
  // walk or of exploring Target) for its counterpart of another kind.
  bool RemovedForConflict(const CompareResult& result, FilesEnumerator& e) const;
  // Counts a Target folder that the copying phase removes with all it
  // holds, where the walk does not go into it (subfolders excluded).
  void CountRemovedFolder(const std::string& folder);
  // The counterpart in Source of a Target item whose own name found none,
  // on a Target that compares names ignoring case: the Source item whose
  // path is equal ignoring case (from the first name missing there on, the
  // path goes on as it stands): One fills `variant`.
  CaseVariant SourceCaseVariant(FilesEnumerator& e, const std::string& path, std::string& variant);
  void CopyToTargetPhase(FilesEnumerator& e, const std::string& path, const CompareResult& result);
  void CopyToSourcePhase(FilesEnumerator& e, const std::string& path, const CompareResult& result);
  // The main plan: a kind conflict, a short-name release, then the folder
  // update or the copy. The plans write to the walk's receiving side.
  void MainPlan(FilesEnumerator& e, const std::string& path, const CompareResult& result);
  void ActOnMainPlan(FilesEnumerator& e, const std::string& path, CompareResult result);
  void KindConflictLine(FilesEnumerator& e, const std::string& path);
  bool ClaimCounterpart(FilesEnumerator& e, const CompareResult& result);
  void CaseClash(FilesEnumerator& e, const std::string& path);
  void CopyPlan(FilesEnumerator& e, const std::string& path, const CompareResult& result);
  void FolderUpdate(FilesEnumerator& e, const std::string& path, const CompareResult& result);
  void SecurityUpdate(FilesEnumerator& e, const std::string& path);
  void CaseRename(FilesEnumerator& e, const std::string& path);
  ErrorCode ReleaseShortName(FilesEnumerator& e, const std::string& path);
  void DeleteExtraItem(FilesEnumerator& e, const CompareResult& result);
  void ShowCopying(const std::string& path);
  void AddWorkDone(double fixed_units, uint64_t size);
};

}  // namespace twinmere
