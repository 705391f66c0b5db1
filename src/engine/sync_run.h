// Inside of Synchronizer: the state of one run shared by the run driver
// (synchronizer.cc) and the item handler with its plans (item_handler.cc).
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/compare.h"
#include "engine/synchronizer.h"
#include "fs/item_actions.h"
#include "fs/item_keeper.h"
#include "fs/preview_file_system.h"
#include "platform/folder_set.h"
#include "report/action_lines.h"

namespace twinmere {

// What the search for a Target item's counterpart under another letter case
// found in Source (Impl::SourceCaseVariant).
enum class CaseVariant : uint8_t { None, One, Several };

struct Synchronizer::Impl {
  Impl(Synchronizer& self, const SyncOptions& options, SyncSession& session,
       const PlatformFacts& facts, FileSystem& fs, Reporter& reporter, SyncHost& host)
      : self(self),
        given(options),
        session(session),
        facts(facts),
        real_fs(fs),
        fs(&fs),
        reporter(reporter),
        host(host) {}

  Synchronizer& self;  // the IEnumFile callback and IProgress receiver of every walk
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
    // Made by this walk (or, the top one, by this run): it holds nothing
    // but what the walk put there.
    bool created = false;
  };
  std::vector<OpenFolder> open_folders;
  bool keeping_folder_times = false;
  // The Target folder did not exist before the run.
  bool target_created = false;
  // Where the items the run deletes or replaces go first (null: they
  // vanish), and the versions folder as the run names it (absolute, ending
  // in "/"; empty without one).
  std::unique_ptr<ItemKeeper> keeper;
  std::string versions_folder;

  // The folders whose every item an exploring phase found equal to its
  // counterpart, by the tree walked: the phase that walks the same tree
  // again passes over their files (see File). Sealed when their phase ends;
  // null without an exploring phase, and outside the phases.
  std::shared_ptr<FolderSet> clean_in_source;
  std::shared_ptr<FolderSet> clean_in_target;
  // While exploring: the set being filled, and the folders of the walk not
  // yet left, outermost first, with what their items showed so far.
  std::shared_ptr<FolderSet> exploring_into;
  struct ExploredFolder {
    std::string folder;  // ends in "/"
    bool clean = true;
    bool has_files = false;
  };
  std::vector<ExploredFolder> explored;
  // Copies of files running beside the walk of phase 2 or 3 where the
  // receiving file system makes every request a round trip (null: one copy
  // at a time, on the walk's thread), in the order started. Their lines
  // keep their places (Reporter::ReservePlace); the walk collects them
  // between items, and all of them before it ends.
  std::unique_ptr<CopyPool> copy_pool;
  struct RunningCopy {
    uint64_t tag = 0;
    StartedCopy copy;
    std::string folder;               // of copy.to, ending in "/"
    std::string name;                 // of copy.to, as NameIgnoringCase gives it
    ActionCode action = kActionCopy;  // of its line
    uint64_t size = 0;
    uint64_t old_size = 0;  // of the file it replaces
    Side side = Side::Target;
    uint64_t place = 0;
  };
  std::vector<std::unique_ptr<RunningCopy>> running_copies;
  uint64_t copy_tags = 0;
  // Folders the walk has left that get their times back once the copies
  // into them are over.
  std::vector<std::string> folders_awaiting_times;

  // The folder of the last item of an acting phase, whether the set of
  // `passing_set` holds it.
  std::string passing_folder;
  const FolderSet* passing_set = nullptr;
  bool passing = false;

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
  bool counting_deletions = false;  // the counting walk runs
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
  // The newest run folders of the versions folder stay, the others go.
  void FinishKeeping();
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
  // The walk created the receiving folder `path` (OpenFolder::created).
  void FolderCreated(const std::string& path);
  // `path` is a name in a receiving folder the walk created.
  bool InFolderCreatedHere(const std::string& path) const;
  void LeaveFolder();
  // Gives a receiving folder the times of its counterpart again.
  void RestoreFolderTimes(const std::string& folder);
  bool Stopped() const { return session.StopRequested.load() != 0; }
  bool Exploring() const {
    return session.CurrentPhase == Phase::ExploreSource ||
           session.CurrentPhase == Phase::ExploreTarget;
  }
  void SyncReportFile(bool towards);
  ErrorCode RemoveConflict(const std::string& target_path, FilesEnumerator& source);

  // --- what the exploring phases found equal (item_handler.cc) ---
  void BeginExploring(const std::string& folder);
  void EndExploring();
  // An item of an exploring walk and its comparison's result.
  void NoteExplored(FilesEnumerator& e, const CompareResult& result);
  void LeaveExplored();
  // An error met while exploring: the folders of the walk not yet left are
  // not clean.
  void ExploringError();
  // The set whose folders' files the running phase passes over, or null.
  std::shared_ptr<FolderSet> PassedOverOfPhase() const;
  bool FilesPassedOver(const std::string& folder);

  // --- item handler and plans (item_handler.cc) ---
  void File(FilesEnumerator& e);
  CompareResult CompareItem(FilesEnumerator& e, const std::string& other_path, bool with_security);
  bool IsReportFile(const std::string& short_form_path) const;
  bool HoldsReportFile(const std::string& folder_path) const;
  // The folder holds an item that the walks leave out.
  bool HoldsLeftOut(const std::string& folder_path) const;
  bool InBlockedFolder(const std::string& path) const;
  void BlockIfStillInTheWay(const std::string& path);
  void Estimate(const CompareResult& result, FilesEnumerator& e);
  // Counts the item for the deletion guard where the phase does.
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
  // Only whether each counterpart is there counts in `phase`: the deleting
  // phase, and exploring Target for it.
  bool PresenceOnly(Phase phase) const {
    return phase == Phase::DeleteInTarget || (phase == Phase::ExploreTarget && !options.Bidi);
  }
  // What a walk of the running phase asks of its items and their counterparts.
  WalkPlan PlanOfPhase() const;
  void CopyToTargetPhase(FilesEnumerator& e, const std::string& path, const CompareResult& result);
  void CopyToSourcePhase(FilesEnumerator& e, const std::string& path, const CompareResult& result);
  // The main plan: a kind conflict, a short-name release, then the folder
  // update or the copy.
  void MainPlan(FilesEnumerator& e, const std::string& path, const CompareResult& result,
                Side side);
  void ActOnMainPlan(FilesEnumerator& e, const std::string& path, CompareResult result, Side side);
  void KindConflictLine(FilesEnumerator& e, const std::string& path);
  bool ClaimCounterpart(FilesEnumerator& e, const CompareResult& result);
  void CaseClash(FilesEnumerator& e, const std::string& path, Side side);
  void CopyPlan(FilesEnumerator& e, const std::string& path, const CompareResult& result,
                Side side);
  // The copy plan of a file whose copy runs beside the walk; `action` is
  // the code of its line.
  void StartCopy(FilesEnumerator& e, const std::string& path, ActionCode action, Side side,
                 uint64_t old_size);
  // Takes the copies that ended; with `wait`, first waits until another may
  // start (Room) or until none runs (All).
  enum class CopyWait : uint8_t { None, Room, All };
  void CollectCopies(CopyWait wait);
  // The rest of the copy plan once the copy ended with `error`.
  void EndCopy(RunningCopy& running, ErrorCode error);
  bool CopiesRunningInto(const std::string& folder) const;
  // Waits for the copies running to a name in the folder of `path` that is
  // equal to its name ignoring letter case: what such a copy leaves there
  // may be the counterpart the item is compared with.
  void AwaitCopiesOfName(const std::string& path);
  // Takes one copy that ended, waiting up to `seconds`; false when none did.
  bool CollectOne(double seconds);
  // Work units of the copies running, as far as they got.
  double RunningCopyUnits() const;
  void FolderUpdate(FilesEnumerator& e, const std::string& path, const CompareResult& result,
                    Side side);
  void SecurityUpdate(FilesEnumerator& e, const std::string& path, Side side);
  void CaseRename(FilesEnumerator& e, const std::string& path);
  ErrorCode ReleaseShortName(FilesEnumerator& e, const std::string& path, Side side);
  void DeleteExtraItem(FilesEnumerator& e, const CompareResult& result);
  void ShowCopying(const std::string& path);
  void AddWorkDone(double fixed_units, uint64_t size);
};

}  // namespace twinmere
