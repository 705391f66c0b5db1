// The run driver: the checks before a run, the phases, the end of a run, and
// the two small walks the run makes on request (the report file alone, and
// the removal of a Target item that is in the way of a Source item).
#include "engine/synchronizer.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <utility>

#include "base/exit_codes.h"
#include "engine/kept_items.h"
#include "engine/sync_run.h"
#include "fs/folder_identity.h"
#include "fs/paths.h"
#include "platform/platform_facts.h"
#include "platform/temporary_names.h"
#include "platform/user_folders.h"
#include "report/action_lines.h"

namespace twinmere {
namespace {

constexpr const char* kExploringSource = "Exploring Source files ...   ";
constexpr const char* kExploringTarget = "Exploring Target files ...   ";
constexpr const char* kSearchingTarget = "Searching files to copy to Target ...   ";
constexpr const char* kCopyingTarget = "Copying to Target ...   ";
constexpr const char* kSearchingSource = "Searching files to copy to Source ...   ";
constexpr const char* kCopyingSource = "Copying to Source ...   ";
constexpr const char* kSearchingDelete = "Searching files to delete ...   ";
constexpr const char* kDeleting = "Deleting ...   ";
constexpr const char* kCountingDeletions = "Counting items to delete ...   ";

// The first and the last line of a preview.
constexpr const char* kPreviewBegins = "Preview: nothing in Source or Target will be changed.";
constexpr const char* kPreviewCompleted = "Preview completed. Nothing was changed.";
constexpr const char* kPreviewStopped = "Preview stopped. Nothing was changed.";

double SecondsSinceEpoch() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

Synchronizer::Synchronizer(const SyncOptions& options, SyncSession& session,
                           const PlatformFacts& facts, FileSystem& fs, Reporter& reporter,
                           SyncHost& host)
    : impl_(std::make_unique<Impl>(options, session, facts, fs, reporter, host)) {}

Synchronizer::Impl::Impl(const SyncOptions& options, SyncSession& session,
                         const PlatformFacts& facts, FileSystem& fs, Reporter& reporter,
                         SyncHost& host)
    : given(options),
      session(session),
      facts(facts),
      real_fs(fs),
      fs(&fs),
      reporter(reporter),
      host(host),
      copies(reporter, host, session),
      folder_times(copies) {
  context.fs = &fs;
  context.stop = &session.StopRequested;
  copies.SetEndedCall([this] { folder_times.CopiesEnded(); });
  reporter.SetSelfSync(this);
}

Synchronizer::~Synchronizer() {
  impl_->reporter.SetSelfSync(nullptr);
  impl_->reporter.SetRunOptions(nullptr);
}

RunOutcome Synchronizer::Synchronize() {
  return impl_->Synchronize();
}
void Synchronizer::SetDeletionGuard(const DeletionGuard& guard) {
  impl_->guard = guard;
}

void Synchronizer::Impl::AccessError(const std::string& path, ErrorCode code) {
  if (Exploring()) return explored.Error();
  if (rules.counting_only) return;
  reporter.AccessError(path, code);
}
void Synchronizer::Impl::SecurityError(const std::string& path, ErrorCode code) {
  if (Exploring()) return explored.Error();
  if (rules.counting_only) return;
  reporter.SecurityError(path, code);
}

void Synchronizer::Impl::SetProgress(uint64_t bytes_copied) {
  host.ShowStatus("", "", 0.5);
  host.UpdateProgress(session, static_cast<double>(bytes_copied) / kBytesPerWorkUnit);
  host.PumpEvents();
}

void Synchronizer::Impl::Refuse(const std::string& line, int exit_code, const std::string& reason) {
  if (!reason.empty()) reporter.AddReportLine(line, ReportLineKind::Error, 0, LineFlush::Throttled);
  reporter.AddReportLine(reason.empty() ? line : reason, ReportLineKind::Error, 0,
                         LineFlush::Final);
  session.ExitCode = exit_code;
  reporter.EndRun(exit_code, reason.empty() ? line : line + "\n" + reason);
  session.Running = false;
  if (Quiet()) host.CloseProgram(exit_code);
}

// Security is compared and copied only by a privileged user, without
// NoSecurity, on file systems that keep owners and ACLs on both sides.
void Synchronizer::Impl::DecideSecurity() {
  bool support = facts.IsAdmin && !options.NoSecurity && VolumeSupportsAcls(*fs, options.Source) &&
                 VolumeSupportsAcls(*fs, options.Target);
  if (support && EnablePrivileges() != kSuccess) {
    reporter.AddReportLine(
        "Insufficient User Rights to modify Security. Security attributes would not be copied.",
        ReportLineKind::Error, 0.5, LineFlush::Throttled);
    support = false;
  }
  context.security_support = support;
  reporter.Run().SecuritySupport = support;
}

// Where the report file lies. Items have no short names here, so the short
// form of a path is the path itself, and names are told apart by letter case.
void Synchronizer::Impl::LocateReport() {
  ReportRunState& run = reporter.Run();
  const std::string& report = options.Report;
  if (report.empty()) return;
  if (options.ExcludeSubfolders) {
    run.ReportInSource = FolderPart(report) == options.Source;
    run.ReportInTarget = FolderPart(report) == options.Target;
  } else {
    // The report is found among the items by its path as the walk spells
    // it; its folder must also be one of the tree's, not one the path
    // reaches by leaving it ("/x/dst/../src/" is no folder of "/x/dst/").
    // No path leaves a folder that is not there yet.
    const std::string folder = FolderPart(report);
    const auto holds_report = [&](const std::string& root) {
      return report.starts_with(root) &&
             (!FolderExists(*fs, root, FinalLink::Follow) || FolderLiesWithin(*fs, folder, root));
    };
    run.ReportInSource = holds_report(options.Source);
    run.ReportInTarget = holds_report(options.Target);
  }
}

WalkRules Synchronizer::Impl::RulesFor(Phase phase) const {
  WalkRules walk;
  walk.phase = phase;
  walk.walked =
      phase == Phase::ExploreSource || phase == Phase::CopyToTarget ? Side::Source : Side::Target;
  walk.receiving = phase == Phase::CopyToSource ? Side::Source : Side::Target;
  walk.acting = phase >= Phase::CopyToTarget;
  walk.fills = phase == Phase::CopyToTarget || phase == Phase::CopyToSource;
  walk.deletes = (phase == Phase::CopyToTarget || phase == Phase::DeleteInTarget) && Deletes();
  walk.check_case = walk.fills && options.Case;
  walk.presence_only =
      phase == Phase::DeleteInTarget || (phase == Phase::ExploreTarget && !options.Bidi);
  walk.with_security =
      phase != Phase::DeleteInTarget && !(phase == Phase::ExploreTarget && options.Delete);
  walk.other_receives = phase == Phase::ExploreSource || walk.fills ||
                        (phase == Phase::ExploreTarget && options.Bidi);
  walk.counts_deletions = phase == Phase::ExploreTarget && options.Delete && !options.Bidi;
  if (walk.acting) walk.passed_over = explored.CleanIn(walk.walked);
  switch (phase) {
    case Phase::ExploreSource:
    case Phase::ExploreTarget:
      break;
    case Phase::CopyToTarget:
      walk.searching_text = kSearchingTarget;
      walk.copying_text = kCopyingTarget;
      break;
    case Phase::CopyToSource:
      walk.searching_text = kSearchingSource;
      walk.copying_text = kCopyingSource;
      break;
    case Phase::DeleteInTarget:
      walk.searching_text = kSearchingDelete;
      walk.copying_text = kDeleting;
      break;
  }
  return walk;
}

// Inside a folder that goes whole, every item goes: nothing is taken as
// found, and letter case does not count.
WalkRules Synchronizer::Impl::RemovalRules(bool counting) const {
  WalkRules walk = RulesFor(Phase::DeleteInTarget);
  walk.in_removal = true;
  walk.passed_over = nullptr;
  walk.counts_deletions = counting;
  walk.counting_only = counting;
  return walk;
}

void Synchronizer::Impl::Walk(FilesEnumerator& e, Phase phase, const std::string& folder,
                              EnumMode mode) {
  blocked_folders.clear();
  source_listings.clear();
  case_folder.clear();
  rules = RulesFor(phase);
  const Side receiving = rules.receiving;
  const Side counterpart = receiving == Side::Source ? Side::Target : Side::Source;
  if (rules.acting) {
    folder_times.Begin(*fs, Root(receiving), Root(counterpart),
                       phase == Phase::CopyToTarget && target_created, rules.fills);
  }
  if (Exploring())
    explored.Begin(folder, {.subfolders = !options.ExcludeSubfolders,
                            .security = context.security_support && rules.with_security});
  // Copies that keep what they replace run one at a time.
  if (rules.fills && context.keeper == nullptr)
    copies.Open(fs->ParallelCopies(Root(receiving)), *fs, context.security_support);
  context.plan = PlanOf(rules);
  e.SetFolder(folder);
  e.Enumerate(*this, mode, "*");
  context.plan = WalkPlan{};
  if (Exploring()) Unestimate(explored.End(rules.walked));
  copies.Close();
  if (rules.acting) folder_times.End();
  RestoreDeferredModes();
}

// Every item's counterpart is looked up; its details and both's security
// only where the walk compares them (see CompareItem).
WalkPlan Synchronizer::Impl::PlanOf(const WalkRules& walk) const {
  const ItemDetail detail = walk.presence_only ? ItemDetail::Kind : ItemDetail::Full;
  const bool security = context.security_support && walk.with_security;
  WalkPlan plan;
  plan.items = detail;
  plan.item_security = security;
  plan.counterpart_root = Root(walk.walked == Side::Source ? Side::Target : Side::Source);
  plan.counterparts = detail;
  plan.counterpart_security = security;
  plan.passed_over = walk.passed_over;
  plan.left_out = leave_out.ReadAheadSource();
  return plan;
}

// A folder copied with a mode such as 0555 could not receive its own
// contents (unless the run has root's rights), so the copy would fail for
// every file below it, run after run. It stays writable for its owner until
// the walk that fills it is over.
void Synchronizer::Impl::OpenForFilling(FilesEnumerator& e, const std::string& folder_path) {
  constexpr uint32_t kOwnerWriteSearch = 0300;
  ItemInfo info;
  if (e.IsOtherCached(folder_path)) {
    info = e.Other();
  } else if (fs->Lookup(folder_path, info) != kSuccess) {
    return;
  }
  if (!info.IsFolder()) return;
  if ((info.mode & kOwnerWriteSearch) == kOwnerWriteSearch) return;
  if (fs->SetMode(folder_path, info.mode | kOwnerWriteSearch) == kSuccess) {
    deferred_modes.push_back({folder_path, info.mode});
  }
}

void Synchronizer::Impl::RestoreDeferredModes() {
  for (auto it = deferred_modes.rbegin(); it != deferred_modes.rend(); ++it) {
    fs->SetMode(it->path, it->mode);
  }
  deferred_modes.clear();
}

// A run that says it completed survives a power cut: what it wrote is on
// the disk before the line. That is the receiving folders' file systems
// and every other one the run wrote to (a file system mounted inside
// Target), each synced once. A write-back error is an error of the run.
void Synchronizer::Impl::SyncToDisk() {
  std::vector<uint64_t> synced;  // devices
  const auto sync = [this, &synced](const std::string& folder, const uint64_t* device) {
    if (device != nullptr) {
      if (std::find(synced.begin(), synced.end(), *device) != synced.end()) return;
      synced.push_back(*device);
    }
    if (const ErrorCode code = fs->SyncFileSystem(folder); code != kSuccess)
      reporter.AccessError(folder, code);
  };
  for (const std::string* folder : {&options.Target, options.Bidi ? &options.Source : nullptr}) {
    ItemInfo info;
    // A folder whose device cannot be told is synced all the same.
    if (folder != nullptr) sync(*folder, LookupFolder(*fs, *folder, info) ? &info.device : nullptr);
  }
  for (const WrittenFileSystem& written : fs->WrittenFileSystems())
    sync(written.folder, &written.device);
}

// The exploring, copying and deleting phases in order; a stop skips every
// later one. One enumerator serves every walk.
void Synchronizer::Impl::RunPhases() {
  FilesEnumerator walker(context);
  const EnumMode walk_mode =
      options.ExcludeSubfolders ? EnumMode::NoRecursion : EnumMode::FolderFirst;
  const EnumMode delete_mode =
      options.ExcludeSubfolders ? EnumMode::NoRecursion : EnumMode::ContentsFirst;

  deletions = DeletionCount{};
  deletion_refused = false;
  if (options.QuickStart) {
    session.ProgressText = "0 bytes processed";
    session.PercentMode = false;
  } else {
    host.ShowStatus(kExploringSource, "", 0);
    Walk(walker, Phase::ExploreSource, options.Source, walk_mode);
    if (Stopped()) return;
    if (options.Bidi || options.Delete) {
      host.ShowStatus(kExploringTarget, "", 0);
      Walk(walker, Phase::ExploreTarget, options.Target, walk_mode);
      if (Stopped()) return;
      deletions.counted = options.Delete && !options.Bidi;
    }
    session.ProgressText = "0%";
    session.PercentMode = true;
  }
  // The copying phase deletes too (a Target item in the way of a Source
  // item of another kind): the guard decides before it.
  if (options.Delete && !options.Bidi && !options.ForceDelete) {
    deletion_refused = !DeletionAllowed();
    if (Stopped()) return;
  }

  host.ShowStatus(kSearchingTarget, "", 0);
  session.CopyStartTime = SecondsSinceEpoch();
  Walk(walker, Phase::CopyToTarget, options.Source, walk_mode);
  if (Stopped()) return;

  if (options.Bidi) {  // a bidirectional run never deletes
    host.ShowStatus(kSearchingSource, "", 0);
    Walk(walker, Phase::CopyToSource, options.Target, walk_mode);
  } else if (Deletes()) {
    host.ShowStatus(kSearchingDelete, "", 0);
    Walk(walker, Phase::DeleteInTarget, options.Target, delete_mode);
  }
}

namespace {

// The path of `folder` below `root` ("a/b/"), both spelled any way; empty
// where it is not below it.
std::string PathBelow(FileSystem& fs, const std::string& folder, const std::string& root) {
  const std::string inner = NormalFolderPath(fs, folder);
  const std::string outer = NormalFolderPath(fs, root);
  if (inner.size() <= outer.size() || !inner.starts_with(outer)) return {};
  return inner.substr(outer.size());
}

}  // namespace

// The walks of both trees leave out the place of `folder` in either, as
// they spell it.
void Synchronizer::Impl::LeaveOut(const std::string& folder) {
  for (const std::string* root : {&options.Target, &options.Source}) {
    const std::string rel = RemoveSeparator(PathBelow(*fs, folder, *root));
    if (rel.empty()) continue;
    for (const std::string* side : {&options.Target, &options.Source}) {
      const std::string spelled = *side + rel;
      if (std::find(context.left_out.begin(), context.left_out.end(), spelled) ==
          context.left_out.end())
        context.left_out.push_back(spelled);
    }
  }
}

// Names are matched as the comparison compares them: ignoring letter case
// where either folder's names compare so.
bool Synchronizer::Impl::PrepareLeavingOut() {
  const bool fold = fs->NamesIgnoreCase(options.Target) || fs->NamesIgnoreCase(options.Source);
  const auto error_line = [this](const std::string& line, ErrorCode code, const std::string& path) {
    reporter.ErrorLine(line, code, kAccessErrorAction, path);
  };
  std::string fault;
  if (!leave_out.Begin(*fs, options, fold ? NameIgnoringCase : nullptr, error_line, fault)) {
    Refuse(fault, kExitInvalidCommandLine);
    return false;
  }
  context.filter = &leave_out;
  return true;
}

// A versions folder must neither be, nor hold, Source or Target, nor lie
// inside Source (the run would copy it to Target); inside Target the walks
// leave it out, and a Source item in its place is an error. The Trash of
// Target's file system and the home Trash are left out where they lie
// inside either folder.
bool Synchronizer::Impl::PrepareKeeping(double start_time) {
  keeper.reset();
  versions_folder.clear();
  context.left_out.clear();
  const KeptSides sides{options.Source, options.Target, options.Bidi};
  if (options.Trash) {
    const UserFolders folders = UserFoldersFromEnvironment();
    auto trash = std::make_unique<TrashKeeper>(
        *fs, reporter, sides, TrashPlaces{HomeTrashFolder(folders), CurrentUserId()});
    for (const std::string* root : {&options.Target, &options.Source})
      for (const std::string& folder : trash->TrashFolders(*root)) LeaveOut(folder);
    keeper = std::move(trash);
    return true;
  }
  if (options.Versions.empty()) return true;
  // One spelling from here on, whichever the user gave.
  const std::string folder = NormalFolderPath(*fs, options.Versions);
  const std::string shown = "The versions folder \"" + DisplayPath(folder) + "\"";
  ItemInfo info;
  std::string fault;
  if (LookupFolder(*fs, folder, info) && !info.IsFolder()) {
    fault = shown + " is not a folder.";
  } else if (FolderLiesWithin(*fs, folder, options.Source)) {
    fault = shown + " lies inside the Source folder.";
  } else if (FolderLiesWithin(*fs, options.Source, folder)) {
    fault = shown + " holds the Source folder.";
  } else if (FolderLiesWithin(*fs, options.Target, folder)) {
    fault = shown + " is the Target folder or holds it.";
  } else if (FolderLiesWithin(*fs, folder, options.Target)) {
    const std::string rel = RemoveSeparator(PathBelow(*fs, folder, options.Target));
    if (rel.empty()) {
      fault = shown + " lies inside the Target folder: name it by a path inside \"" +
              DisplayPath(options.Target) + "\".";
    } else {
      LeaveOut(folder);
      const std::string in_source = options.Source + rel;
      ItemInfo there;
      if ((!options.ExcludeSubfolders || rel.find('/') == std::string::npos) &&
          fs->Lookup(in_source, there) == kSuccess) {
        reporter.ErrorLine("Not synchronized: \"" + DisplayPath(in_source) +
                               "\" lies where Target keeps the versions folder.",
                           kErrAlreadyExists, kVersionsFolderErrorAction, in_source);
      }
    }
  }
  if (!fault.empty()) {
    Refuse(fault, kExitInvalidTarget);
    return false;
  }
  versions_folder = folder;
  keeper = std::make_unique<VersionsKeeper>(*fs, reporter, sides, folder, start_time);
  return true;
}

void Synchronizer::Impl::FinishKeeping() {
  auto* versions = dynamic_cast<VersionsKeeper*>(keeper.get());
  if (versions != nullptr && !Stopped()) versions->RemoveOldRuns(options.VersionsKeep);
}

// A preview runs on a file system that keeps every change in memory; its
// first and last lines say that nothing is changed.
RunOutcome Synchronizer::Impl::Synchronize() {
  options = given;
  reporter.SetRunOptions(&options);
  preview.reset();
  fs = &real_fs;
  if (options.Preview) {
    preview = std::make_unique<PreviewFileSystem>(real_fs);
    fs = preview.get();
  }
  context.fs = fs;
  Run();
  context.fs = &real_fs;
  fs = &real_fs;
  preview.reset();
  reporter.SetRunOptions(nullptr);
  return {options.Source, options.Target, Quiet(), session.ExitCode};
}

void Synchronizer::Impl::Run() {
  session.Running = true;
  session.WorkTotal = 0;
  session.WorkDone = 0;
  explored.Clear();
  reporter.BeginRun();
  const double start_time = reporter.RunClock().Now();
  reporter.Run().StopRequested = &session.StopRequested;
  reporter.SetSelfSync(this);
  if (options.Preview) {
    // Its report and its JSON summary are written only where they lie
    // outside both folders.
    const auto inside = [this](const std::string& file, const std::string& root) {
      const std::string folder = FolderPart(file);
      return !root.empty() && !file.empty() &&
             (file.starts_with(AddSeparator(root)) ||
              FolderLiesWithin(real_fs, folder.empty() ? "./" : folder, root));
    };
    const auto inside_either = [&](const std::string& file) {
      return inside(file, options.Source) || inside(file, options.Target);
    };
    reporter.Run().ReportSuppressed = inside_either(options.Report);
    reporter.Run().SummarySuppressed = inside_either(options.JsonSummary);
    reporter.AddReportLine(kPreviewBegins, ReportLineKind::Action, 0, LineFlush::Throttled);
  }

  if (options.Source.empty()) return Refuse("Source Path not set.", kExitSourceNotSet);
  if (options.Target.empty()) return Refuse("Target Path not set.", kExitTargetNotSet);
  // Windows keeps deleted items in its Recycle Bin, which no run writes to
  // yet: a run that asks for it changes nothing.
  if (kBuiltForWindows && options.Trash) {
    return Refuse(
        "The Trash (-tr) is not supported on Windows yet: nothing was changed. A versions "
        "folder (-v) keeps what a run deletes or replaces.",
        kExitInvalidCommandLine);
  }
  // Patterns that cannot be read make the options invalid, as on the
  // command line: nothing is touched.
  {
    LeaveOutList patterns;
    std::string fault;
    if (!ReadLeaveOutOptions(options, patterns, fault))
      return Refuse(fault, kExitInvalidCommandLine);
  }
  options.Source = AddSeparator(options.Source);
  options.Target = AddSeparator(options.Target);
  if (!FolderExists(*fs, options.Source, FinalLink::Follow)) {
    return Refuse("Invalid Source Path: \"" + DisplayPath(options.Source) + "\".",
                  kExitInvalidSource);
  }
  if (const Nesting nesting = CheckNesting(*fs, options.Source, options.Target); nesting.nested) {
    // Where a bind mount could hide the nesting, the line after says why
    // the folders were not told apart.
    std::string reason;
    if (!nesting.unplaced.empty()) {
      reason = "Where \"" + DisplayPath(nesting.unplaced) +
               "\" lies inside its file system cannot be told, so a bind mount may show one "
               "folder inside the other: Error " +
               std::to_string(nesting.unplaced_error) + ". " +
               SystemErrorText(nesting.unplaced_error);
    }
    return Refuse("Source Path and Target Path are the same or included one into other.",
                  kExitNestedFolders, reason);
  }
  LocateReport();
  target_created = !FolderExists(*fs, options.Target, FinalLink::Follow);
  reporter.CreateReportFolder(options.Target, *fs);
  if (!FolderExists(*fs, options.Target, FinalLink::Follow)) {
    return Refuse("Invalid Target Path: \"" + DisplayPath(options.Target) + "\".",
                  kExitInvalidTarget);
  }
  if (!PrepareKeeping(start_time) || !PrepareLeavingOut()) return;
  std::vector<std::string> roots{options.Source, options.Target};
  if (!versions_folder.empty()) roots.push_back(versions_folder);
  fs->SetConfinedRoots(roots);
  context.keeper = keeper.get();
  context.leftover_roots.clear();
  for (const std::string* root : {&options.Target, &options.Source}) {
    if (root == &options.Source && !options.Bidi) continue;  // only read
    ItemInfo info;
    if (LookupFolder(*fs, *root, info)) context.leftover_roots.push_back({info.device, info.inode});
  }
  DecideSecurity();

  host.EnterRunningState(options.DisallowStop);
  if (!options.Report.empty()) reporter.FlushReport(false);

  context.progress = this;
  RunPhases();
  explored.Clear();
  report_case = options.Case;
  FinishKeeping();
  if (!options.Preview) SyncToDisk();

  reporter.Counters().ItemsLeftOut =
      static_cast<int32_t>(std::min<int64_t>(leave_out.ItemsLeftOut(), INT32_MAX));
  const bool stopped = Stopped();
  const std::string last_line =
      options.Preview ? (stopped ? kPreviewStopped : kPreviewCompleted)
                      : std::string("Synchronization ") + (stopped ? "stopped." : "completed.");
  reporter.AddReportLine(last_line, ReportLineKind::Action, 0, LineFlush::Final);
  reporter.AddReportLine("", ReportLineKind::Action, 0, LineFlush::Throttled);
  session.ExitCode =
      (stopped ? kExitStopped : 0) | (reporter.Counters().ErrorCount != 0 ? kExitErrors : 0);
  reporter.EndRun(session.ExitCode);

  context.progress = nullptr;
  context.leftover_roots.clear();
  context.keeper = nullptr;
  context.left_out.clear();
  context.filter = nullptr;
  leave_out.End();
  keeper.reset();
  fs->SetConfinedRoots({});
  if (!reporter.Run().Closing) {
    if (Quiet() && !stopped) {
      session.Running = false;
      host.CloseProgram(session.ExitCode);
      return;
    }
    host.ShowStatus(options.Preview ? (stopped ? "Preview stopped." : "Preview completed.")
                                    : (stopped ? "Stopped." : "Completed."),
                    "", 0);
    session.PercentMode = false;
    session.ProgressText.clear();
    host.EnterIdleState();
    session.StopRequested = 0;
    session.WorkTotal = 0;
    session.WorkDone = 0;
  }
  session.Running = false;
}

// The items of Target that the deleting phase looks at, and those the run
// would delete, as a walk of that phase meets them without acting.
void Synchronizer::Impl::CountDeletions() {
  deletions = DeletionCount{};
  host.ShowStatus(kCountingDeletions, "", 0);
  WalkRules counting = RulesFor(Phase::DeleteInTarget);
  counting.counts_deletions = true;
  counting.counting_only = true;
  counting.passed_over = nullptr;  // every item counts
  const WalkRules outer = std::exchange(rules, counting);
  blocked_folders.clear();
  source_listings.clear();
  case_folder.clear();
  context.plan = PlanOf(rules);
  FilesEnumerator walker(context);
  walker.SetFolder(options.Target);
  walker.Enumerate(
      *this, options.ExcludeSubfolders ? EnumMode::NoRecursion : EnumMode::ContentsFirst, "*");
  context.plan = WalkPlan{};
  rules = outer;
  deletions.counted = true;
}

// Nothing in the Source folder (an empty mount point looks so) but what the
// run writes itself: its report, its JSON summary (from an earlier run),
// the temporary files of copies, folders that hold only these, and what the
// walks leave out (a folder holding only that is something, as an empty
// one is). The files are told by what they are, whatever path
// names them.
bool Synchronizer::Impl::SourceIsEmpty() {
  using Identity = std::pair<uint64_t, uint64_t>;  // device, inode
  std::vector<Identity> own;
  for (const std::string* file : {&options.Report, &options.JsonSummary}) {
    ItemInfo info;
    if (!file->empty() && fs->Lookup(*file, info) == kSuccess && !info.IsFolder())
      own.emplace_back(info.device, info.inode);
  }
  enum class Held : uint8_t { Nothing, OwnOnly, Content };
  const std::function<Held(const std::string&)> holds = [&](const std::string& folder) {
    struct Entered {
      LeaveOutFilter& filter;
      const bool open;
      Entered(LeaveOutFilter& f, const std::string& folder) : filter(f), open(f.Enter(folder)) {}
      ~Entered() { filter.Leave(); }
    } entered(leave_out, folder);
    if (!entered.open) return Held::Nothing;
    std::unique_ptr<FolderReader> reader;
    if (fs->OpenFolder(folder, reader) != kSuccess) return Held::Content;
    Held held = Held::Nothing;
    for (ItemInfo item; reader->Next(item) == kSuccess;) {
      const std::string path = folder + item.name;
      if (std::find(context.left_out.begin(), context.left_out.end(), path) !=
              context.left_out.end() ||
          leave_out.LeavesOut(path, item.kind))
        continue;
      if (item.IsFolder()) {
        // An empty folder is something; one that holds only the run's own
        // files is not.
        if (holds(path + "/") != Held::OwnOnly) return Held::Content;
        held = Held::OwnOnly;
        continue;
      }
      if (IsTemporaryName(item.name)) continue;
      if (own.empty() || (!reader->Detailed() && fs->Lookup(path, item) != kSuccess) ||
          std::find(own.begin(), own.end(), Identity(item.device, item.inode)) == own.end())
        return Held::Content;
      held = Held::OwnOnly;
    }
    return held;
  };
  return holds(options.Source) != Held::Content;
}

// The guard lets the deletions go on, or writes why it stops them (one
// error line): then nothing is deleted. In the window, unless the
// program exits by itself, the user is asked instead; a preview never asks.
bool Synchronizer::Impl::DeletionAllowed() {
  if (!deletions.counted) {
    CountDeletions();
    if (Stopped()) return false;
  }
  DeletionQuestion question;
  question.extra = deletions.extra;
  question.items = deletions.items;
  question.percent = guard.percent;
  if (question.extra == 0) return true;
  question.source_empty = SourceIsEmpty();
  const bool too_many = question.extra >= guard.minimum_items &&
                        question.extra * 100 > int64_t{guard.percent} * question.items;
  if (!question.source_empty && !too_many) return true;

  const std::string counts =
      std::to_string(question.extra) + " of " + std::to_string(question.items) + " items in Target";
  std::string line;
  const DeletionAnswer answer =
      options.Preview || Quiet() ? DeletionAnswer::NotAsked : host.AskDeletion(question);
  switch (answer) {
    case DeletionAnswer::Delete:
      return true;
    case DeletionAnswer::Keep:
      line = "Nothing deleted: deleting " + counts + " was declined.";
      break;
    case DeletionAnswer::NotAsked:
      line = question.source_empty
                 ? "Nothing deleted: Source is empty, and " + counts +
                       " would be deleted. Check that Source is the right folder (not an "
                       "empty mount point); to delete them, run again with -fd (Lift deletion "
                       "guard)."
                 : "Nothing deleted: " + counts + " would be deleted, more than " +
                       std::to_string(guard.percent) +
                       " %. To delete them, run again with -fd (Lift deletion guard).";
      break;
  }
  reporter.ErrorLine(line, kErrCancelled, kGuardErrorAction, options.Target);
  return false;
}

void Synchronizer::Impl::SyncReportFile(bool towards) {
  ReportRunState& run = reporter.Run();
  const std::string& report = options.Report;
  const bool in_target = run.ReportInTarget;
  const std::string& home = in_target ? options.Target : options.Source;
  const std::string& other = in_target ? options.Source : options.Target;
  const std::string folder = FolderPart(report);
  if (!folder.starts_with(home)) return;
  const std::string rel = folder.substr(home.size());
  const std::string name = report.substr(folder.size());

  const bool saved_in_source = run.ReportInSource;
  const bool saved_in_target = run.ReportInTarget;
  const bool saved_copying_shown = copying_shown;
  // The report is the run's own record: its copies keep no old versions.
  ItemKeeper* const saved_keeper = context.keeper;
  context.keeper = nullptr;
  // ... and no pattern leaves it out.
  ItemFilter* const saved_filter = context.filter;
  context.filter = nullptr;

  const bool into_target = towards ? in_target : !in_target;
  WalkRules walk = RulesFor(into_target ? Phase::CopyToTarget : Phase::CopyToSource);
  walk.check_case = report_case;
  walk.searching_text = rules.searching_text;
  const WalkRules outer = std::exchange(rules, walk);
  run.ReportInSource = false;
  run.ReportInTarget = false;
  {
    const FolderTimes::Pause pause(folder_times);
    FilesEnumerator e(context);
    e.SetFolder(towards ? other + rel : folder);
    e.Enumerate(*this, EnumMode::NoRecursion, name);
  }
  rules = outer;
  run.ReportInSource = saved_in_source;
  run.ReportInTarget = saved_in_target;
  copying_shown = saved_copying_shown;
  context.keeper = saved_keeper;
  context.filter = saved_filter;
}

// Deletes the Target item at target_path that is of the other kind than the
// Source item: a folder is emptied first by a walk that deletes its contents
// as extra items, then removed.
ErrorCode Synchronizer::Impl::RemoveConflict(const std::string& target_path,
                                             FilesEnumerator& source) {
  ErrorCode error = kSuccess;
  // The folder as found: kept with its times from before its contents went.
  ItemInfo as_found;
  if (source.LookupOther(target_path) == kSuccess) as_found = source.Other();
  if (!source.IsFolder()) {
    const bool saved_copying_shown = copying_shown;
    const WalkRules outer = std::exchange(rules, RemovalRules(false));
    bool left_out = false;
    {
      const FolderTimes::Pause pause(folder_times);
      FilesEnumerator inner(context);
      inner.SetFolder(target_path + "/");
      error = inner.Enumerate(*this, EnumMode::ContentsFirst, "*");
      left_out = inner.WalkLeftOut();
    }
    rules = outer;
    copying_shown = saved_copying_shown;
    // A stop leaves the folder partly emptied: leave it, silently.
    if (error == kSuccess && Stopped()) error = kErrCancelled;
    // What it holds and the run leaves out stays, and so does the folder.
    if (error == kSuccess && left_out) {
      KindConflictLine(source, target_path);
      error = kErrNotEmpty;
    }
  }
  if (error != kSuccess) return error;

  source.ResetOtherCache();
  error = source.FindOther(target_path);
  if (IsMissingError(error)) return kSuccess;  // already gone
  bool other_is_folder = false;
  uint64_t size = 0;
  if (error == kSuccess) {
    other_is_folder = source.Other().IsFolder();
    size = source.Other().size;
    ShowCopying(target_path);
    error = DeleteEmptiedOther(source, target_path, as_found);
    folder_times.ContentsChanged(target_path);
  }
  reporter.ReportAction(error, target_path, other_is_folder ? kActionRemoveFolder : kActionDelete,
                        size, Side::Target, 0);
  if (!options.QuickStart) session.WorkDone += static_cast<double>(size) / kBytesPerWorkUnit;
  return error;
}

}  // namespace twinmere
