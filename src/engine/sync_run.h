// Inside of Synchronizer: the state of one run shared by the run driver
// (synchronizer.cc) and the item handler with its plans (item_handler.cc).
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/preview_file_system.h"
#include "engine/synchronizer.h"

namespace twinmere {

struct Synchronizer::Impl {
  Impl(Synchronizer& self, SyncOptions& options, SyncSession& session, const PlatformFacts& facts,
       FileSystem& fs, Reporter& reporter, SyncHost& host)
      : self(self),
        options(options),
        session(session),
        facts(facts),
        real_fs(fs),
        fs(&fs),
        reporter(reporter),
        host(host) {}

  Synchronizer& self;  // the IEnumFile callback and IProgress receiver of every walk
  SyncOptions& options;
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
  // The Case option as it applies to the running phase: off while exploring
  // and deleting, so that letter case is compared only in phases 2 and 3.
  bool check_case = false;
  // Set while RemoveConflict empties a Target folder: the folder goes as a
  // whole, subfolders included, even when subfolders are excluded.
  int removing_conflict = 0;
  // ShowStatus was called with CopyingText for the current item.
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
  // Receiving folders whose time the walk of a copying or deleting phase may
  // still change: in phases 2 and 3 every folder the walk is in, outermost
  // first; in phase 4 the folders it deleted items in, found deepest first.
  // A folder whose contents the run changed gets the time of its counterpart
  // back once the walk has left it, since filling or emptying a folder
  // changes its time.
  struct OpenFolder {
    std::string folder;  // ends in "/"
    bool changed = false;
  };
  std::vector<OpenFolder> open_folders;
  bool keeping_folder_times = false;
  // The Target folder did not exist before the run.
  bool target_created = false;

  // What the deleting phase would delete, counted before it deletes
  // anything: while exploring Target, or by a counting walk of its own
  // (quick start). Items are those the deleting phase looks at.
  struct DeletionCount {
    bool counted = false;
    int64_t items = 0;  // Target's items
    int64_t extra = 0;  // of them, those without a counterpart in Source
  };
  DeletionCount deletions;
  bool counting_deletions = false;  // the counting walk runs

  // A Target that compares names ignoring letter case may hold an item
  // under another case than Source: its counterpart is found by listing
  // Source's folders (names by folder, for the walk of one phase).
  std::unordered_map<std::string, std::vector<std::string>> source_listings;
  std::string case_folder;  // the last Target folder asked about, and its answer
  bool case_folder_ignores = false;

  // --- run driver (synchronizer.cc) ---
  void Synchronize();
  void Run();
  // Before the deleting phase: whether it may delete what it would.
  bool DeletionAllowed();
  void CountDeletions();
  bool SourceIsEmpty();
  // Ends a run that cannot begin: the line (and the one giving its reason,
  // where there is one), the exit code, automatic exit.
  void Refuse(const std::string& line, int exit_code, const std::string& reason = {});
  void DecideSecurity();
  void LocateReport();
  void RunPhases();
  // syncfs of the receiving file systems before the run's last line.
  void SyncToDisk();
  // Walks `folder` in the current phase; `mode` as the phase requires.
  void Walk(FilesEnumerator& e, const std::string& folder, EnumMode mode);
  // Opens a receiving folder for filling (see deferred_modes).
  void OpenForFilling(FilesEnumerator& e, const std::string& folder_path);
  void RestoreDeferredModes();

  // --- folder times (folder_times.cc) ---
  void BeginFolderTimes();
  void EndFolderTimes();
  // The walk reached the item at `receiving_path` on the receiving side:
  // the folders it left behind get their times, and in phases 2 and 3 a
  // folder item is entered.
  void ReachFolderTimesItem(const std::string& receiving_path, bool is_folder);
  // Items were added to, removed from or renamed in the folder of `path`.
  void ContentsChanged(const std::string& path);
  void LeaveFolder();
  bool Stopped() const { return session.StopRequested.load() != 0; }
  bool Exploring() const {
    return session.CurrentPhase == Phase::ExploreSource ||
           session.CurrentPhase == Phase::ExploreTarget;
  }
  void SyncReportFile(bool towards);
  ErrorCode RemoveConflict(const std::string& target_path, FilesEnumerator& source);

  // --- item handler and plans (item_handler.cc) ---
  void File(FilesEnumerator& e);
  int CompareItem(FilesEnumerator& e, const std::string& other_path, bool with_security);
  bool IsReportFile(const std::string& short_form_path) const;
  bool HoldsReportFile(const std::string& folder_path) const;
  bool InBlockedFolder(const std::string& path) const;
  void BlockIfStillInTheWay(const std::string& path);
  void Estimate(int result, FilesEnumerator& e);
  // Counts the item for the deletion guard where the phase does.
  void CountForDeletion(int result, FilesEnumerator& e, bool is_folder);
  // The counterpart in Source of a Target item whose own name found none,
  // on a Target that compares names ignoring case: the Source item whose
  // path is equal ignoring case (from the first name missing there on, the
  // path goes on as it stands). 0 none, 1 one (`variant`), 2 several.
  int SourceCaseVariant(FilesEnumerator& e, const std::string& path, std::string& variant);
  // Only whether each counterpart is there counts in `phase`: the deleting
  // phase, and exploring Target for it.
  bool PresenceOnly(Phase phase) const {
    return phase == Phase::DeleteInTarget || (phase == Phase::ExploreTarget && !options.Bidi);
  }
  // What a walk of the running phase asks of its items and their counterparts.
  WalkPlan PlanOfPhase() const;
  void CopyToTargetPhase(FilesEnumerator& e, const std::string& path, int result);
  void CopyToSourcePhase(FilesEnumerator& e, const std::string& path, int result);
  // The main plan: a kind conflict, a short-name release, then the folder
  // update or the copy.
  void MainPlan(FilesEnumerator& e, const std::string& path, int result, Side side);
  void ActOnMainPlan(FilesEnumerator& e, const std::string& path, int result, Side side);
  void KindConflictLine(FilesEnumerator& e, const std::string& path);
  bool ClaimCounterpart(FilesEnumerator& e, int result);
  void CaseClash(FilesEnumerator& e, const std::string& path, Side side);
  void CopyPlan(FilesEnumerator& e, const std::string& path, int result, Side side);
  void FolderUpdate(FilesEnumerator& e, const std::string& path, int result, Side side);
  void SecurityUpdate(FilesEnumerator& e, const std::string& path, Side side);
  void CaseRename(FilesEnumerator& e, const std::string& path);
  ErrorCode ReleaseShortName(FilesEnumerator& e, const std::string& path, Side side);
  void DeleteExtraItem(FilesEnumerator& e, int result);
  void ShowCopying(const std::string& path);
  void AddWorkDone(double fixed_units, uint64_t size);
};

}  // namespace twinmere
