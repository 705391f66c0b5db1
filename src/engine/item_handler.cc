// The item handler: for every item of a walk, the counterpart on the other
// side, the comparison, the decision by the walk's rules and the options,
// the plan that carries it out, and the progress accounting.
#include <algorithm>
#include <utility>

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
bool NewerOrMissing(const CompareResult& result) {
  return result.MissingOrClash() || result.Has(Difference::ItemNewer);
}

// The ActionCode for a comparison result r, the item's attribute word and
// whether the item is being deleted: 128 when r is exactly a case
// difference; 32 (in place) unless the counterpart was missing; one of
// 2 (delete), 4 (attributes alone), 8 (security alone) or 1 (copy); 16 for
// a folder.
ActionCode ActionCodeFor(const CompareResult& r, uint32_t attrs, bool deleting) {
  int code = 0;
  if (r.Only(Difference::Case)) code |= 128;
  if (r.counterpart != Counterpart::Missing) code |= 32;
  if (deleting) {
    code |= 2;
  } else if (r.Only(Difference::Attributes)) {
    code |= 4;
  } else if (r.Only(Difference::Security)) {
    code |= 8;
  } else {
    code |= 1;
  }
  if (attrs & kAttrFolder) code |= 16;
  return static_cast<ActionCode>(code);
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

bool Synchronizer::Impl::CounterpartLeftOut(FilesEnumerator& e, const std::string& path) {
  return !e.IsFolder() && e.IsOtherCached(path) && e.OtherIsFolder() &&
         leave_out.LeavesOut(path, ItemKind::Folder);
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
  if (fs->Lookup(path, info) == kSuccess && !info.IsFolder()) blocked_folders.push_back(path);
}

CompareResult Synchronizer::Impl::CompareItem(FilesEnumerator& e, const std::string& other_path,
                                              bool with_security) {
  const CompareRules compare{rules.check_case,     options.NoDaylight,  context.security_support,
                             rules.other_receives, rules.presence_only, options.Bidi};
  return Compare(e, other_path, with_security, compare, *this);
}

void Synchronizer::Impl::File(FilesEnumerator& e) {
  if (Stopped()) {
    e.Stop();
    return;
  }
  if (copies.Active()) copies.Collect(RunningCopies::Wait::None);
  // The rules of this walk: a walk made inside it for this item (a removal)
  // has its own while it runs.
  const WalkRules& walk = rules;
  const bool is_folder = e.IsFolder();
  // Subfolders excluded, the walks pass over folders; only the counts of
  // the deletion guard look at those the copying phase would remove.
  const bool passed_over_folder = is_folder && options.ExcludeSubfolders && !walk.in_removal;
  if (passed_over_folder && !walk.counts_deletions) return;

  // The report file is synchronized on its own (SyncReportFile), never as an item.
  const ReportRunState& run = reporter.Run();
  const Side other_side = walk.walked == Side::Source ? Side::Target : Side::Source;
  const bool report_here = walk.walked == Side::Source ? run.ReportInSource : run.ReportInTarget;
  const bool report_there = other_side == Side::Source ? run.ReportInSource : run.ReportInTarget;
  if (walk.acting && !is_folder && report_here && IsReportFile(e.ShortFormPath())) return;
  // A Target folder that holds the report file, or an item the walks leave
  // out, cannot be removed as an extra item; trying would end every such run
  // with an error.
  if (walk.phase == Phase::DeleteInTarget && is_folder &&
      ((report_here && HoldsReportFile(e.FullPath())) || HoldsLeftOut(e.FullPath()) ||
       e.ContentsLeftOut())) {
    return;
  }

  const std::string& home = Root(walk.walked);
  const std::string& other_root = Root(other_side);
  const std::string& full = e.FullPath();
  std::string path;
  path.reserve(other_root.size() + full.size());
  path.append(other_root).append(full, std::min(full.size(), home.size()));
  folder_times.Reach(walk.receiving == walk.walked ? full : path, is_folder);

  if (walk.acting && !is_folder && report_there && IsReportFile(e.OtherShortFormPath(path))) return;
  if (walk.acting && !blocked_folders.empty() && InBlockedFolder(path)) return;

  if (walk.acting && !is_folder &&
      explored.FilesPassedOver(walk.passed_over.get(), e.FolderPath())) {
    // Found equal while exploring, with the same name: nothing to do.
    if (walk.fills) e.MatchedNames().push_back(e.Name());
    AddWorkDone(kItemUnits, 0);
    host.UpdateProgress(session, copies.Units());
    host.PumpEvents();
    return;
  }

  CompareResult result = CompareResult::Missing();
  bool known_missing = false;
  if (copies.Active() && walk.fills) copies.AwaitName(path);
  if (copies.Active() && walk.fills && !is_folder && folder_times.InFolderCreatedHere(path)) {
    // Nothing is there but what this walk copied, whose copies take only
    // free names: no need to look.
    e.NoteOtherMissing(path);
    known_missing = true;
  } else {
    // The security of a folder in a clean folder may be known to be equal.
    const bool security_known = walk.acting && is_folder && walk.with_security &&
                                explored.FilesPassedOver(walk.passed_over.get(), e.FolderPath()) &&
                                explored.SubfolderSecurityPassedOver(walk.walked, e.FolderPath());
    result = CompareItem(e, path, walk.with_security && !security_known);
  }
  // A Target that compares names ignoring case may hold the item under
  // another case than Source: that is its counterpart, never an extra item.
  if (result.counterpart == Counterpart::Missing && !known_missing && walk.walked == Side::Target) {
    std::string variant;
    switch (SourceCaseVariant(e, path, variant)) {
      case CaseVariant::None:
        break;
      case CaseVariant::One:
        path = std::move(variant);
        if (walk.acting && !blocked_folders.empty() && InBlockedFolder(path)) return;
        result = CompareItem(e, path, walk.with_security);
        break;
      case CaseVariant::Several:  // the copying phase met the clash and said so
        result = CompareResult{};
        break;
    }
  }
  // Where only the acting phases could act on it, the counterpart left
  // out stands in the item's way (ActOnMainPlan); elsewhere it is missing.
  if (result.Has(Difference::Kind) && !walk.fills && CounterpartLeftOut(e, path))
    result = CompareResult::Missing();
  if (passed_over_folder) {
    if (RemovedForConflict(result, e)) CountRemovedFolder(e.FullPath());
    return;
  }
  if (walk.counts_deletions) CountForDeletion(result, e, is_folder);
  if (walk.counting_only) {
    host.PumpEvents();
    return;
  }

  copying_shown = false;
  const bool clash = walk.fills && !ClaimCounterpart(e, result);
  switch (walk.phase) {
    case Phase::ExploreSource:
    case Phase::ExploreTarget:
      Estimate(result, e);
      explored.Note(e, result);
      break;
    case Phase::CopyToTarget:
    case Phase::CopyToSource:
      if (clash) {
        CaseClash(e, path);
      } else if (walk.phase == Phase::CopyToTarget) {
        CopyToTargetPhase(e, path, result);
      } else {
        CopyToSourcePhase(e, path, result);
      }
      break;
    case Phase::DeleteInTarget:
      if (result.MissingOrClash()) {
        DeleteExtraItem(e, result);
        AddWorkDone(kActionUnits, 0);
      }
      break;
  }
  if (walk.acting && is_folder && result.Has(Difference::Kind)) BlockIfStillInTheWay(path);
  if (walk.fills && is_folder && !clash && !options.ExcludeSubfolders) OpenForFilling(e, path);
  if (walk.acting) {
    AddWorkDone(kItemUnits, 0);
    if (copying_shown) host.ShowStatus(walk.searching_text, "", 2);
    host.UpdateProgress(session, copies.Units());
  }
  host.PumpEvents();
}

// Phases 0 and 1 only estimate the work of the phases that follow. The
// item's size is asked for only where it counts.
void Synchronizer::Impl::Estimate(const CompareResult& result, FilesEnumerator& e) {
  double units = kItemUnits;
  if (rules.phase == Phase::ExploreSource) {
    // As the copying phase decides: a security or an attribute update, or
    // a copy; security that could not be read is left alone.
    const Differences beside_security = result.differences.Without(kSecurityDifferences);
    if (options.New) {
      if (NewerOrMissing(result)) units = kPlanUnits + Units(e.Size());
    } else if (result.counterpart == Counterpart::Inaccessible) {
    } else if (result.Found() && beside_security.Empty()) {
      if (result.Only(Difference::Security)) units = kPlanUnits;
    } else if (result.Found() && beside_security == Difference::Attributes) {
      units = kPlanUnits;
    } else {
      units = kPlanUnits + Units(e.Size());
    }
  } else if (options.Bidi) {
    if (NewerOrMissing(result)) units = kPlanUnits + Units(e.Size());
  } else if (result.MissingOrClash()) {
    units = kPlanUnits;
  }
  session.WorkTotal += units;
}

void Synchronizer::Impl::Unestimate(int64_t files) {
  session.WorkTotal -= static_cast<double>(files) * kItemUnits;
}

void Synchronizer::Impl::CountForDeletion(const CompareResult& result, FilesEnumerator& e,
                                          bool is_folder) {
  // What the deleting phase passes over is not counted either: the report
  // file, the folder that holds it, the counterpart of one in Source.
  const ReportRunState& run = reporter.Run();
  if (run.ReportInTarget && !is_folder && IsReportFile(e.ShortFormPath())) return;
  if (run.ReportInTarget && is_folder && HoldsReportFile(e.FullPath())) return;
  deletions.items += 1;
  if (result.MissingOrClash() || RemovedForConflict(result, e)) deletions.extra += 1;
}

// As the copying phase decides it from the Source item's side: a folder
// goes for a file at any time, a file for a folder only where the walk
// goes into folders; with New only for a newer Source item.
bool Synchronizer::Impl::RemovedForConflict(const CompareResult& result, FilesEnumerator& e) const {
  if (!result.Has(Difference::Kind) || !options.Delete || options.Bidi) return false;
  if (!e.IsFolder() && options.ExcludeSubfolders) return false;
  return !options.New || CompareTimes(e.Other().modify_time, e.Item().modify_time,
                                      options.NoDaylight) == Difference::ItemNewer;
}

// The folder and everything in it, counted by a walk as the one that
// removes them meets them.
void Synchronizer::Impl::CountRemovedFolder(const std::string& folder) {
  deletions.items += 1;
  deletions.extra += 1;
  const WalkRules outer = std::exchange(rules, RemovalRules(true));
  {
    const FolderTimes::Pause pause(folder_times);
    FilesEnumerator inner(context);
    inner.SetFolder(folder + "/");
    inner.Enumerate(*this, EnumMode::ContentsFirst, "*");
  }
  rules = outer;
}

CaseVariant Synchronizer::Impl::SourceCaseVariant(FilesEnumerator& e, const std::string& path,
                                                  std::string& variant) {
  if (e.FolderPath() != case_folder) {
    case_folder = e.FolderPath();
    case_folder_ignores = fs->NamesIgnoreCase(case_folder) && !fs->NamesIgnoreCase(options.Source);
  }
  if (!case_folder_ignores || !path.starts_with(options.Source)) return CaseVariant::None;
  // Below Source, name by name: the name itself where it is there, else
  // the one name of the folder equal to it ignoring case.
  std::string found = options.Source;
  size_t start = options.Source.size();
  bool several = false;
  while (start < path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string name = path.substr(start, end - start);
    ItemInfo info;
    if (fs->Lookup(found + name, info) != kSuccess || info.name != name) {
      auto listing = source_listings.find(found);
      if (listing == source_listings.end()) {
        std::vector<std::string> names;
        std::unique_ptr<FolderReader> reader;
        if (fs->OpenFolder(found, reader) == kSuccess) {
          for (ItemInfo item; reader->Next(item) == kSuccess;) names.push_back(item.name);
        }
        listing = source_listings.emplace(found, std::move(names)).first;
      }
      int matches = 0;
      std::string match;
      for (const std::string& candidate : listing->second) {
        if (NamesEqualIgnoringCase(candidate, name)) {
          ++matches;
          match = candidate;
        }
      }
      // A name missing there is missing in the folder found under another
      // case: the rest of the path goes on from that folder as it stands.
      if (matches == 0) {
        found.append(path, start);
        break;
      }
      several = several || matches > 1;
      found += match;
    } else {
      found += name;
    }
    if (end < path.size()) found += '/';
    start = end + 1;
  }
  if (several) return CaseVariant::Several;
  if (found == path) return CaseVariant::None;
  variant = std::move(found);
  return CaseVariant::One;
}

void Synchronizer::Impl::AddWorkDone(double fixed_units, uint64_t size) {
  session.WorkDone += (options.QuickStart ? 0.0 : fixed_units) + Units(size);
}

void Synchronizer::Impl::CopyToTargetPhase(FilesEnumerator& e, const std::string& path,
                                           const CompareResult& result) {
  if (options.New) {
    // Only newer or missing items; nothing else, not even attributes or case.
    if (NewerOrMissing(result)) MainPlan(e, path, result);
    return;
  }
  // Only the name's case differs, as far as copying goes (a folder's times
  // cause no copy): the counterpart is renamed.
  const Differences copied = e.IsFolder()
                                 ? Differences{Difference::Size, Difference::Kind}
                                 : Differences{Difference::ItemNewer, Difference::OtherNewer,
                                               Difference::Size, Difference::Kind};
  if (result.Has(Difference::Case) && !result.differences.HasAny(copied)) {
    CaseRename(e, path);
    return;
  }
  const Differences rest =
      result.differences.Without(kSecurityDifferences).Without(Difference::Case);
  if (result.counterpart == Counterpart::Inaccessible) return;  // the error line is written
  if (result.Found() && rest.Empty()) {
    if (result.Has(Difference::Security)) {
      SecurityUpdate(e, path);
      AddWorkDone(kActionUnits, 0);
    }
  } else if (result.Found() && rest == Difference::Attributes) {
    FolderUpdate(e, path, result);
    AddWorkDone(kActionUnits, 0);
  } else {
    MainPlan(e, path, result);
  }
}

void Synchronizer::Impl::CopyToSourcePhase(FilesEnumerator& e, const std::string& path,
                                           const CompareResult& result) {
  if (!NewerOrMissing(result)) return;
  MainPlan(e, path, result);
}

// The item's work counts as done once its plan has run, whatever became of
// it: while its file is copied, the copy's progress stands for the share done
// so far, on top of the work of the items before it.
void Synchronizer::Impl::MainPlan(FilesEnumerator& e, const std::string& path,
                                  const CompareResult& result) {
  const uint64_t size = e.Size();
  ActOnMainPlan(e, path, result);
  AddWorkDone(kActionUnits, size);
}

void Synchronizer::Impl::ActOnMainPlan(FilesEnumerator& e, const std::string& path,
                                       CompareResult result) {
  if (result.Has(Difference::Kind)) {
    if (!rules.deletes || CounterpartLeftOut(e, path)) {
      KindConflictLine(e, path);
      return;
    }
    if (RemoveConflict(path, e) != kSuccess) return;
    result = CompareItem(e, path, true);
  }
  if (result.counterpart == Counterpart::ShortNameClash) {
    if (ReleaseShortName(e, path) != kSuccess) return;
    result = CompareItem(e, path, true);
    if (result.counterpart == Counterpart::ShortNameClash) return;
  }
  // A counterpart that cannot be looked up any more was reported by the
  // comparison; acting on it would only add a second error line.
  if (result.counterpart == Counterpart::Inaccessible) return;
  if (e.IsFolder() && result.counterpart != Counterpart::Missing) {
    // A folder on both sides: time differences cause no action.
    if (result.Has(Difference::Attributes)) {
      FolderUpdate(e, path, result);
    } else if (result.Has(Difference::Security)) {
      SecurityUpdate(e, path);
    }
    return;
  }
  CopyPlan(e, path, result);
}

// Notes the counterpart the item was matched with. False when another item
// of its folder was matched with it before: on a side whose names compare
// ignoring case, "File.txt" and "file.txt" both find the one item there.
bool Synchronizer::Impl::ClaimCounterpart(FilesEnumerator& e, const CompareResult& result) {
  const std::string& name = e.Name();
  const bool found = result.Found();
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
void Synchronizer::Impl::CaseClash(FilesEnumerator& e, const std::string& path) {
  if (e.IsFolder()) blocked_folders.push_back(path);
  reporter.ReportAction(kErrAlreadyExists, path,
                        ActionCodeFor(CompareResult::Missing(), e.Attributes(), false), 0,
                        rules.receiving, 0);
}

void Synchronizer::Impl::KindConflictLine(FilesEnumerator& e, const std::string& path) {
  const char* text = e.IsFolder()
                         ? "Can't create folder because the file with this name already exists: "
                         : "Can't copy file because the folder with this name already exists: ";
  reporter.AddReportLine(std::string(text) + "\"" + DisplayPath(path) + "\".",
                         ReportLineKind::Error, 0.5, LineFlush::Throttled);
  // For the JSON summary: what stands in the way, as the system would say it.
  reporter.CountError(e.IsFolder() ? kErrAlreadyExists : kErrIsAFolder,
                      e.IsFolder() ? kActionCreateFolder : kActionCopy, path);
}

void Synchronizer::Impl::ShowCopying(const std::string& path) {
  host.ShowStatus(rules.copying_text, path, 0.5);
  copying_shown = true;
}

void Synchronizer::Impl::CopyPlan(FilesEnumerator& e, const std::string& path,
                                  const CompareResult& result) {
  const Side side = rules.receiving;
  ShowCopying(path);
  const bool missing = result.counterpart == Counterpart::Missing;
  const uint64_t old_size = missing ? 0 : e.OtherSize(path);
  // A file's copy may run beside the walk; one that renames (a case
  // difference) runs here.
  if (copies.Active() && !e.IsFolder() && !result.Has(Difference::Case)) {
    copies.Start(e, path, ActionCodeFor(result, e.Attributes(), false), side, old_size);
    folder_times.ContentsChanged(path);
    return;
  }
  bool carried_security = false;
  const ErrorCode error = CopyTo(e, path, &carried_security);
  folder_times.ContentsChanged(path);
  if (error == kSuccess && missing && e.IsFolder()) folder_times.FolderCreated(path);
  if (error == kSuccess) {
    // Follow-up steps whose failures are not reported.
    if (result.Has(Difference::Case)) RenameOtherToItemName(e, path);
    // A copied file already has the item's mode (the copy carries it); only
    // a security copy, whose ACL may change the mode, needs it set again.
    if ((context.security_support || e.IsFolder()) && !carried_security) {
      CopySecurityTo(e, path);
      SetAttributesOn(e, path);
    }
  }
  const uint64_t size = e.Size();
  reporter.ReportAction(error, path, ActionCodeFor(result, e.Attributes(), false), size, side,
                        static_cast<int64_t>(size) - static_cast<int64_t>(old_size));
}

// Security, then the attributes; also the attribute plan of phase 2. On a
// file that is an attribute change whatever security or case difference came
// with it: nothing is copied, so nothing may be counted as copied.
void Synchronizer::Impl::FolderUpdate(FilesEnumerator& e, const std::string& path,
                                      const CompareResult& result) {
  ShowCopying(path);
  CopySecurityTo(e, path);
  const ErrorCode error = SetAttributesOn(e, path);
  const CompareResult r =
      e.IsFolder() ? result : CompareResult{Counterpart::Found, Difference::Attributes};
  reporter.ReportAction(error, path, ActionCodeFor(r, e.Attributes(), false), e.Size(),
                        rules.receiving, 0);
}

void Synchronizer::Impl::SecurityUpdate(FilesEnumerator& e, const std::string& path) {
  ShowCopying(path);
  const ErrorCode error = CopySecurityTo(e, path);
  if (error == kSuccess) SetAttributesOn(e, path);
  reporter.ReportAction(
      error, path, ActionCodeFor({Counterpart::Found, Difference::Security}, e.Attributes(), false),
      e.Size(), rules.receiving, 0);
}

void Synchronizer::Impl::CaseRename(FilesEnumerator& e, const std::string& path) {
  ShowCopying(path);
  const ErrorCode error = RenameOtherToItemName(e, path);
  folder_times.ContentsChanged(path);
  CopySecurityTo(e, path);
  SetAttributesOn(e, path);
  reporter.ReportAction(
      error, path, ActionCodeFor({Counterpart::Found, Difference::Case}, e.Attributes(), false), 0,
      rules.receiving, 0);
}

// The item at `path` answers to a name that is not its own (an 8.3 alias):
// it is given another alias, and the line names that item, not this one.
ErrorCode Synchronizer::Impl::ReleaseShortName(FilesEnumerator& e, const std::string& path) {
  ShowCopying(path);
  std::string other_path;
  const ErrorCode error = FreeShortName(e, path, other_path);
  folder_times.ContentsChanged(path);
  const ActionCode code = e.IsFolder() ? kActionFolderShortName : kActionFileShortName;
  reporter.ReportAction(error, other_path.empty() ? path : other_path, code, 0, rules.receiving, 0);
  return error;
}

void Synchronizer::Impl::DeleteExtraItem(FilesEnumerator& e, const CompareResult& result) {
  ShowCopying(e.FullPath());
  const std::string item_path = e.FullPath();
  const uint64_t size = e.Size();
  const uint32_t attrs = e.Attributes();
  const ErrorCode error = DeleteItem(e);
  folder_times.ContentsChanged(item_path);
  reporter.ReportAction(error, item_path, ActionCodeFor(result, attrs, true), size, Side::Target,
                        0);
}

}  // namespace twinmere
