// The item handler: for every item of a walk, the counterpart on the other
// side, the comparison, the decision by phase and options, the plan that
// carries it out, and the progress accounting.
#include <algorithm>

#include "engine/compare.h"
#include "engine/sync_run.h"
#include "report/action_lines.h"

namespace twinmere {
namespace {

// Work units of the fixed parts of the estimate and of the progress.
constexpr double kPlanUnits = 0.15;   // an item that will be acted on
constexpr double kItemUnits = 0.05;   // any item looked at
constexpr double kActionUnits = 0.1;  // an action done

double Units(uint64_t size) {
  return static_cast<double>(size) / kBytesPerWorkUnit;
}

// Newer or missing on the other side (or found only through another name):
// the results that an only-newer copy acts on.
bool NewerOrMissing(int result) {
  const int low = result & 15;
  return low == kItemNewer || low == kOtherMissing || low == kShortNameClash;
}

bool IsMissingOrClash(int result) {
  return result == kOtherMissing || result == kShortNameClash;
}

// The ActionCode for a comparison value r, the item's attribute word and
// whether the item is being deleted: 128 when r is exactly a case
// difference; 32 (in place) unless the counterpart was missing; one of
// 2 (delete), 4 (attributes, r = 64), 8 (security, r = 256) or 1 (copy);
// 16 for a folder.
constexpr int ActionCodeFor(int r, uint32_t attrs, bool deleting) {
  int code = 0;
  if (r == kCaseDiffers) code |= 128;
  if (r != kOtherMissing) code |= 32;
  if (deleting) {
    code |= 2;
  } else if (r == kAttributesDiffer) {
    code |= 4;
  } else if (r == kSecurityDiffers) {
    code |= 8;
  } else {
    code |= 1;
  }
  if (attrs & kAttrFolder) code |= 16;
  return code;
}

}  // namespace

bool Synchronizer::Impl::IsReportFile(const std::string& short_form_path) const {
  const std::string& report = reporter.Run().ReportShortPath;
  return !report.empty() && short_form_path == report;
}

bool Synchronizer::Impl::HoldsReportFile(const std::string& folder_path) const {
  const std::string& report = reporter.Run().ReportShortPath;
  return report.size() > folder_path.size() + 1 &&
         report.compare(0, folder_path.size(), folder_path) == 0 &&
         report[folder_path.size()] == '/';
}

bool Synchronizer::Impl::HoldsLeftOut(const std::string& folder_path) const {
  for (const std::string& path : context.left_out) {
    if (path.size() > folder_path.size() + 1 &&
        path.compare(0, folder_path.size(), folder_path) == 0 && path[folder_path.size()] == '/')
      return true;
  }
  return false;
}

bool Synchronizer::Impl::InBlockedFolder(const std::string& path) const {
  for (const std::string& folder : blocked_folders) {
    if (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
        path[folder.size()] == '/') {
      return true;
    }
  }
  return false;
}

void Synchronizer::Impl::BlockIfStillInTheWay(const std::string& path) {
  ItemInfo info;
  if (fs.Lookup(path, info) == kSuccess && !info.IsFolder()) blocked_folders.push_back(path);
}

int Synchronizer::Impl::CompareItem(FilesEnumerator& e, const std::string& other_path,
                                    bool with_security) {
  const Phase phase = session.CurrentPhase;
  const bool other_receives = phase == Phase::ExploreSource || phase == Phase::CopyToTarget ||
                              phase == Phase::CopyToSource ||
                              (phase == Phase::ExploreTarget && options.Bidi);
  const CompareRules rules{check_case, options.NoDaylight, context.security_support, other_receives,
                           PresenceOnly(phase)};
  return Compare(e, other_path, with_security, rules, self);
}

void Synchronizer::Impl::File(FilesEnumerator& e) {
  if (Stopped()) {
    e.Stop();
    return;
  }
  const Phase phase = session.CurrentPhase;
  const bool is_folder = e.IsFolder();
  if (is_folder && options.ExcludeSubfolders && removing_conflict == 0) return;

  // The report file is synchronized on its own (SyncReportFile), never as an item.
  const ReportRunState& run = reporter.Run();
  const bool acting = phase >= Phase::CopyToTarget;
  const bool report_here = phase == Phase::CopyToTarget ? run.ReportInSource : run.ReportInTarget;
  const bool report_there = phase == Phase::CopyToTarget ? run.ReportInTarget : run.ReportInSource;
  if (acting && !is_folder && report_here && IsReportFile(e.ShortFormPath())) return;
  // A Target folder that holds the report file, or a folder the walks leave
  // out, cannot be removed as an extra item; trying would end every such run
  // with an error.
  if (phase == Phase::DeleteInTarget && is_folder &&
      ((report_here && HoldsReportFile(e.FullPath())) || HoldsLeftOut(e.FullPath()))) {
    return;
  }

  const bool from_source = phase == Phase::ExploreSource || phase == Phase::CopyToTarget;
  const std::string& home = from_source ? options.Source : options.Target;
  const std::string& other_root = from_source ? options.Target : options.Source;
  const std::string& full = e.FullPath();
  std::string path;
  path.reserve(other_root.size() + full.size());
  path.append(other_root).append(full, std::min(full.size(), home.size()));
  if (keeping_folder_times && removing_conflict == 0)
    ReachFolderTimesItem(phase == Phase::DeleteInTarget ? full : path, is_folder);

  if (acting && !is_folder && report_there && IsReportFile(e.OtherShortFormPath(path))) return;
  if (acting && !blocked_folders.empty() && InBlockedFolder(path)) return;

  const bool with_security =
      phase != Phase::DeleteInTarget && !(phase == Phase::ExploreTarget && options.Delete);
  const int result = CompareItem(e, path, with_security);

  copying_shown = false;
  const bool fills_folder = phase == Phase::CopyToTarget || phase == Phase::CopyToSource;
  const bool clash = fills_folder && !ClaimCounterpart(e, result);
  switch (phase) {
    case Phase::ExploreSource:
    case Phase::ExploreTarget:
      Estimate(result, e);
      break;
    case Phase::CopyToTarget:
    case Phase::CopyToSource:
      if (clash) {
        CaseClash(e, path, phase == Phase::CopyToTarget ? Side::Target : Side::Source);
      } else if (phase == Phase::CopyToTarget) {
        CopyToTargetPhase(e, path, result);
      } else {
        CopyToSourcePhase(e, path, result);
      }
      break;
    case Phase::DeleteInTarget:
      if (IsMissingOrClash(result)) {
        DeleteExtraItem(e, result);
        AddWorkDone(kActionUnits, 0);
      }
      break;
  }
  if (acting && is_folder && (result & kKindDiffers)) BlockIfStillInTheWay(path);
  if (fills_folder && is_folder && !clash && !options.ExcludeSubfolders) OpenForFilling(e, path);
  if (acting) {
    AddWorkDone(kItemUnits, 0);
    if (copying_shown) host.ShowStatus(session.SearchingText, "", 2);
    host.UpdateProgress(session, 0);
  }
  host.PumpEvents();
}

// Phases 0 and 1 only estimate the work of the phases that follow. The
// item's size is asked for only where it counts.
void Synchronizer::Impl::Estimate(int result, FilesEnumerator& e) {
  double units = kItemUnits;
  if (session.CurrentPhase == Phase::ExploreSource) {
    if (options.New) {
      if (NewerOrMissing(result)) units = kPlanUnits + Units(e.Size());
    } else {
      switch (result & ~0xF00) {
        case 0:
          if (result == kSecurityDiffers) units = kPlanUnits;
          break;
        case kOtherInaccessible:
          break;
        case kAttributesDiffer:
          units = kPlanUnits;
          break;
        default:
          units = kPlanUnits + Units(e.Size());
      }
    }
  } else if (options.Bidi) {
    if (NewerOrMissing(result)) units = kPlanUnits + Units(e.Size());
  } else if (IsMissingOrClash(result)) {
    units = kPlanUnits;
  }
  session.WorkTotal += units;
}

void Synchronizer::Impl::AddWorkDone(double fixed_units, uint64_t size) {
  session.WorkDone += (options.QuickStart ? 0.0 : fixed_units) + Units(size);
}

void Synchronizer::Impl::CopyToTargetPhase(FilesEnumerator& e, const std::string& path,
                                           int result) {
  if (options.New) {
    // Only newer or missing items; nothing else, not even attributes or case.
    if (NewerOrMissing(result)) MainPlan(e, path, result, Side::Target);
    return;
  }
  const bool is_folder = e.IsFolder();
  const int m = result & (is_folder ? 0x30 : 0x3F);
  if (m == 0 && (result & kCaseDiffers)) {
    CaseRename(e, path);
    return;
  }
  switch (result & ~0xF80) {
    case 0:
      if (result & kSecurityDiffers) {
        SecurityUpdate(e, path, Side::Target);
        AddWorkDone(kActionUnits, 0);
      }
      break;
    case kOtherInaccessible:  // the error line is written
      break;
    case kAttributesDiffer:
      FolderUpdate(e, path, result, Side::Target);
      AddWorkDone(kActionUnits, 0);
      break;
    default:
      MainPlan(e, path, result, Side::Target);
  }
}

void Synchronizer::Impl::CopyToSourcePhase(FilesEnumerator& e, const std::string& path,
                                           int result) {
  if (!NewerOrMissing(result)) return;
  MainPlan(e, path, result, Side::Source);
}

// The item's work counts as done once its plan has run, whatever became of
// it: while its file is copied, the copy's progress stands for the share done
// so far, on top of the work of the items before it.
void Synchronizer::Impl::MainPlan(FilesEnumerator& e, const std::string& path, int result,
                                  Side side) {
  const uint64_t size = e.Size();
  ActOnMainPlan(e, path, result, side);
  AddWorkDone(kActionUnits, size);
}

void Synchronizer::Impl::ActOnMainPlan(FilesEnumerator& e, const std::string& path, int result,
                                       Side side) {
  if (result & kKindDiffers) {
    if (side == Side::Source || !options.Delete) {
      KindConflictLine(e, path);
      return;
    }
    if (RemoveConflict(path, e) != kSuccess) return;
    result = CompareItem(e, path, true);
  }
  if (result == kShortNameClash) {
    if (ReleaseShortName(e, path, side) != kSuccess) return;
    result = CompareItem(e, path, true);
    if (result == kShortNameClash) return;
  }
  // A counterpart that cannot be looked up any more was reported by the
  // comparison; acting on it would only add a second error line.
  if (result == kOtherInaccessible) return;
  if (e.IsFolder() && result != kOtherMissing) {
    // A folder on both sides: time differences cause no action.
    if (result & kAttributesDiffer) {
      FolderUpdate(e, path, result, side);
    } else if (result & kSecurityDiffers) {
      SecurityUpdate(e, path, side);
    }
    return;
  }
  CopyPlan(e, path, result, side);
}

// Notes the counterpart the item was matched with. False when another item
// of its folder was matched with it before: on a side whose names compare
// ignoring case, "File.txt" and "file.txt" both find the one item there.
bool Synchronizer::Impl::ClaimCounterpart(FilesEnumerator& e, int result) {
  const std::string& name = e.Name();
  const bool found =
      result != kOtherMissing && result != kOtherInaccessible && result != kShortNameClash;
  std::vector<std::string>& matched = e.MatchedNames();
  if (found && e.OtherName() != name) {
    for (const std::string& earlier : matched)
      if (NamesEqualIgnoringCase(earlier, e.OtherName())) return false;
  }
  matched.push_back(found ? e.OtherName() : name);
  return true;
}

// The second of two names that meet one counterpart: nothing is written or
// deleted for it, its contents are passed over, and every run says so.
void Synchronizer::Impl::CaseClash(FilesEnumerator& e, const std::string& path, Side side) {
  if (e.IsFolder()) blocked_folders.push_back(path);
  reporter.ReportAction(kErrAlreadyExists, path,
                        ActionCodeFor(kOtherMissing, e.Attributes(), false), 0, side, 0);
}

void Synchronizer::Impl::KindConflictLine(FilesEnumerator& e, const std::string& path) {
  const char* text = e.IsFolder()
                         ? "Can't create folder because the file with this name already exists: "
                         : "Can't copy file because the folder with this name already exists: ";
  reporter.AddReportLine(std::string(text) + "\"" + path + "\".", ReportLineKind::Error, 0.5,
                         LineFlush::Throttled);
  // For the JSON summary: what stands in the way, as the system would say it.
  reporter.CountError(e.IsFolder() ? EEXIST : EISDIR,
                      e.IsFolder() ? kActionCreateFolder : kActionCopy, path);
}

void Synchronizer::Impl::ShowCopying(const std::string& path) {
  host.ShowStatus(session.CopyingText, path, 0.5);
  copying_shown = true;
}

void Synchronizer::Impl::CopyPlan(FilesEnumerator& e, const std::string& path, int result,
                                  Side side) {
  ShowCopying(path);
  const uint64_t old_size = result == kOtherMissing ? 0 : e.OtherSize(path);
  const ErrorCode error = e.CopyTo(path);
  ContentsChanged(path);
  if (error == kSuccess) {
    // Follow-up steps whose failures are not reported.
    if (result & kCaseDiffers) e.RenameOtherToItemName(path);
    // A copied file already has the item's mode (the copy carries it); only
    // a security copy, whose ACL may change the mode, needs it set again.
    if ((context.security_support || e.IsFolder()) && !e.CopyCarriedSecurity()) {
      e.CopySecurityTo(path);
      e.SetAttributesOn(path);
    }
  }
  const uint64_t size = e.Size();
  reporter.ReportAction(error, path, ActionCodeFor(result, e.Attributes(), false), size, side,
                        static_cast<int64_t>(size) - static_cast<int64_t>(old_size));
}

// Security, then the attributes; also the attribute plan of phase 2. On a
// file that is an attribute change whatever security or case difference came
// with it: nothing is copied, so nothing may be counted as copied.
void Synchronizer::Impl::FolderUpdate(FilesEnumerator& e, const std::string& path, int result,
                                      Side side) {
  ShowCopying(path);
  e.CopySecurityTo(path);
  const ErrorCode error = e.SetAttributesOn(path);
  const int r = e.IsFolder() ? result : kAttributesDiffer;
  reporter.ReportAction(error, path, ActionCodeFor(r, e.Attributes(), false), e.Size(), side, 0);
}

void Synchronizer::Impl::SecurityUpdate(FilesEnumerator& e, const std::string& path, Side side) {
  ShowCopying(path);
  const ErrorCode error = e.CopySecurityTo(path);
  if (error == kSuccess) e.SetAttributesOn(path);
  reporter.ReportAction(error, path, ActionCodeFor(kSecurityDiffers, e.Attributes(), false),
                        e.Size(), side, 0);
}

void Synchronizer::Impl::CaseRename(FilesEnumerator& e, const std::string& path) {
  ShowCopying(path);
  const ErrorCode error = e.RenameOtherToItemName(path);
  ContentsChanged(path);
  e.CopySecurityTo(path);
  e.SetAttributesOn(path);
  reporter.ReportAction(error, path, ActionCodeFor(kCaseDiffers, e.Attributes(), false), 0,
                        Side::Target, 0);
}

// The item at `path` answers to a name that is not its own (an 8.3 alias):
// it is given another alias, and the line names that item, not this one.
ErrorCode Synchronizer::Impl::ReleaseShortName(FilesEnumerator& e, const std::string& path,
                                               Side side) {
  ShowCopying(path);
  std::string other_path;
  const ErrorCode error = e.FreeShortName(path, other_path);
  ContentsChanged(path);
  const int code = e.IsFolder() ? kActionFolderShortName : kActionFileShortName;
  reporter.ReportAction(error, other_path.empty() ? path : other_path, code, 0, side, 0);
  return error;
}

void Synchronizer::Impl::DeleteExtraItem(FilesEnumerator& e, int result) {
  ShowCopying(e.FullPath());
  const std::string item_path = e.FullPath();
  const uint64_t size = e.Size();
  const uint32_t attrs = e.Attributes();
  const ErrorCode error = e.DeleteItem();
  ContentsChanged(item_path);
  reporter.ReportAction(error, item_path, ActionCodeFor(result, attrs, true), size, Side::Target,
                        0);
}

}  // namespace twinmere
