#include "app/dialog_state.h"

#include <algorithm>
#include <climits>
#include <utility>

#include "app/command_line_tokens.h"
#include "fs/leave_out_rules.h"
#include "fs/paths.h"

namespace twinmere {

using command_line::NumberStatus;
using command_line::PathStatus;

void ApplyOptionsDialogRules(OptionsDialogState& state) {
  if (state.chkBidi.checked) {
    state.chkNew.checked = true;
    state.chkDelete.checked = false;
  }
  state.chkNew.enabled = !state.chkBidi.checked;
  state.chkDelete.enabled = !state.chkBidi.checked;
  // An option that cannot take effect is cleared, so that no run, command
  // line or launcher carries it unseen.
  state.chkForceDelete.enabled = state.chkDelete.enabled && state.chkDelete.checked;
  if (!state.chkForceDelete.enabled) state.chkForceDelete.checked = false;

  const bool has_report = !TrimBlanks(state.txtReport).empty();
  state.chkAppend.enabled = has_report;
  state.chkRestrict.enabled = has_report;
  state.reportLevelEnabled = has_report;
  state.txtRestrictEnabled = state.chkRestrict.enabled && state.chkRestrict.checked;
  if (state.txtRestrictEnabled && TrimBlanks(state.txtRestrict).empty()) state.txtRestrict = "500";
  state.versionsEnabled = !state.chkTrash.checked;
  state.versionsKeepEnabled = state.versionsEnabled && !TrimBlanks(state.txtVersions).empty();
}

namespace {

// Each check box that shows one flag of the options, with that flag.
constexpr std::pair<CheckBoxState OptionsDialogState::*, bool SyncOptions::*> kFlagBoxes[] = {
    {&OptionsDialogState::chkBidi, &SyncOptions::Bidi},
    {&OptionsDialogState::chkNew, &SyncOptions::New},
    {&OptionsDialogState::chkDelete, &SyncOptions::Delete},
    {&OptionsDialogState::chkNoSecurity, &SyncOptions::NoSecurity},
    {&OptionsDialogState::chkNoDaylight, &SyncOptions::NoDaylight},
    {&OptionsDialogState::chkAllowDecryption, &SyncOptions::AllowDecryption},
    {&OptionsDialogState::chkCase, &SyncOptions::Case},
    {&OptionsDialogState::chkSubfolders, &SyncOptions::ExcludeSubfolders},
    {&OptionsDialogState::chkStart, &SyncOptions::Start},
    {&OptionsDialogState::chkMinimized, &SyncOptions::Minimized},
    {&OptionsDialogState::chkQuiet, &SyncOptions::Quiet},
    {&OptionsDialogState::chkQuickStart, &SyncOptions::QuickStart},
    {&OptionsDialogState::chkDisallowStop, &SyncOptions::DisallowStop},
    {&OptionsDialogState::chkAppend, &SyncOptions::Append},
    {&OptionsDialogState::chkPreview, &SyncOptions::Preview},
    {&OptionsDialogState::chkForceDelete, &SyncOptions::ForceDelete},
    {&OptionsDialogState::chkTrash, &SyncOptions::Trash},
};

// The check box of a flag switch.
CheckBoxState& BoxOf(OptionsDialogState& state, bool SyncOptions::*flag) {
  for (const auto& [box, box_flag] : kFlagBoxes) {
    if (box_flag == flag) return state.*box;
  }
  return state.chkQuiet;  // not reached: every flag switch has a box (checked below)
}

constexpr bool EveryFlagSwitchHasABox() {
  for (const SwitchRow& row : kSwitches) {
    if (row.value != SwitchValue::None) continue;
    bool found = false;
    for (const auto& entry : kFlagBoxes) found = found || entry.second == row.flag;
    if (!found) return false;
  }
  return true;
}
static_assert(EveryFlagSwitchHasABox());

// Reads switches and folders into `state`; returns early where the reading ends.
void ReadInto(const std::string& args, const std::string& state_folder,
              int32_t default_report_level, OptionsDialogState& state) {
  const std::string text = TrimBlanks(args);
  size_t p = 0;
  const SwitchRow* row = nullptr;
  while (command_line::NextSwitch(text, p, row)) {
    if (row == nullptr) continue;  // unknown switches are skipped
    if (row->list != nullptr) {
      // -x adds a line to the patterns, -xf a file to their list.
      std::string value;
      const PathStatus status = command_line::ReadPath(text, p, value, p);
      if (status == PathStatus::BadQuote) return;
      if (status != PathStatus::Ok) continue;
      if (row->which == Switch::LeaveOutFiles) {
        state.lstLeaveOutFiles.push_back(value);
      } else {
        if (!state.txtLeaveOut.empty()) state.txtLeaveOut += '\n';
        state.txtLeaveOut += value;
      }
      continue;
    }
    if (row->value == SwitchValue::None) {
      BoxOf(state, row->flag).checked = true;
      continue;
    }
    switch (row->which) {
      case Switch::Restriction: {
        std::string token;
        if (!command_line::ReadValueToken(text, p, token, p)) break;
        state.txtRestrict = token;
        state.chkRestrict.checked = command_line::LeadingValueIsPositive(token);
        break;
      }
      case Switch::ReportLevel: {
        std::string token;
        if (!command_line::ReadValueToken(text, p, token, p)) break;
        int32_t level = 0;
        if (command_line::ParseNumber(token, level) != NumberStatus::Ok) break;
        state.ReportLevel = level < 0 ? default_report_level : level;
        break;
      }
      case Switch::Report:
      case Switch::JsonSummary:
      case Switch::Versions: {
        std::string path;
        const PathStatus status = command_line::ReadPath(text, p, path, p);
        if (status == PathStatus::BadQuote) return;
        if (status != PathStatus::Ok) break;
        if (row->which == Switch::Versions) {
          state.txtVersions = AddSeparator(path);
        } else {
          (row->which == Switch::Report ? state.txtReport : state.txtJson) =
              QualifyName(path, state_folder);
        }
        break;
      }
      case Switch::VersionsKeep: {
        std::string token;
        if (!command_line::ReadValueToken(text, p, token, p)) break;
        int32_t keep = 0;
        if (command_line::ParseNumber(token, keep) == NumberStatus::Ok && keep >= 0)
          state.VersionsKeep = keep;
        break;
      }
      default:
        // A value the dialog does not show is read past all the same.
        if (row->value != SwitchValue::None) {
          std::string skipped;
          if (command_line::ReadPath(text, p, skipped, p) == PathStatus::BadQuote) return;
        }
        break;
    }
  }

  const std::string rest = TrimBlanks(std::string_view(text).substr(p));
  if (rest.empty()) return;
  std::string folder;
  size_t next = 0;
  command_line::ReadFolder(rest, 0, folder, next);
  if (next < rest.size() && rest[next] != ' ') return;
  state.txtSource = AddSeparator(folder);
  if (next >= rest.size()) return;
  const std::string second = TrimBlanks(std::string_view(rest).substr(next + 1));
  command_line::ReadFolder(second, 0, folder, next);
  state.txtTarget = AddSeparator(folder);
}

}  // namespace

OptionsDialogState LoadOptionsDialog(const SyncOptions& options, const PlatformFacts& facts) {
  OptionsDialogState state;
  for (const auto& [box, flag] : kFlagBoxes) (state.*box).checked = options.*flag;
  state.chkNoSecurity.enabled = facts.IsAdmin;
  state.chkAllowDecryption.enabled = facts.OsIndex >= 6;
  state.chkRestrict.checked = options.Restriction != 0;
  if (options.Restriction != 0) state.txtRestrict = std::to_string(options.Restriction);
  state.txtReport = options.Report;
  state.txtJson = options.JsonSummary;
  state.txtSource = options.Source;
  state.txtTarget = options.Target;
  state.txtVersions = options.Versions;
  state.VersionsKeep = options.VersionsKeep;
  state.ReportLevel = options.ReportLevel;
  for (const std::string& pattern : options.LeaveOut) {
    if (&pattern != &options.LeaveOut.front()) state.txtLeaveOut += '\n';
    state.txtLeaveOut += pattern;
  }
  state.lstLeaveOutFiles = options.LeaveOutFiles;
  ApplyOptionsDialogRules(state);
  return state;
}

SyncOptions DialogOptions(const OptionsDialogState& state, const std::string& state_folder,
                          int32_t default_versions_keep) {
  SyncOptions o;
  o.Source = state.txtSource;
  o.Target = state.txtTarget;
  for (const auto& [box, flag] : kFlagBoxes) o.*flag = (state.*box).checked;
  o.Report = QualifyName(state.txtReport, state_folder);
  o.JsonSummary = QualifyName(state.txtJson, state_folder);
  o.Restriction = state.chkRestrict.checked ? RestrictionValue(state.txtRestrict) : 0;
  o.ReportLevel = state.ReportLevel;
  if (state.versionsKeepEnabled) o.Versions = state.txtVersions;
  o.VersionsKeep = state.versionsKeepEnabled ? state.VersionsKeep : default_versions_keep;
  o.LeaveOut = LeaveOutPatterns(state.txtLeaveOut);
  o.LeaveOutFiles = state.lstLeaveOutFiles;
  return o;
}

namespace {

// Calls `line(number, text)` for each line of `text`, numbered from 1, its
// line end left off.
template <typename Visit>
void ForEachLine(std::string_view text, const Visit& line) {
  for (int number = 1; !text.empty(); ++number) {
    const size_t end = text.find('\n');
    std::string_view one = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!one.empty() && one.back() == '\r') one.remove_suffix(1);
    line(number, one);
  }
}

}  // namespace

std::vector<std::string> LeaveOutPatterns(std::string_view text) {
  std::vector<std::string> patterns;
  ForEachLine(text, [&patterns](int, std::string_view line) {
    if (!line.empty()) patterns.emplace_back(line);
  });
  return patterns;
}

std::optional<int> FirstInvalidLeaveOutLine(std::string_view text) {
  std::optional<int> invalid;
  ForEachLine(text, [&invalid](int number, std::string_view line) {
    LeaveOutList list;
    if (!invalid && !line.empty() && !list.AddPattern(line)) invalid = number;
  });
  return invalid;
}

int32_t RestrictionValue(std::string_view text) {
  size_t begin = command_line::SkipBlanks(text, 0);
  size_t end = begin;
  const auto digits = [&] {
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
  };
  if (end < text.size() && (text[end] == '+' || text[end] == '-')) ++end;
  digits();
  if (end < text.size() && text[end] == '.') {
    ++end;
    digits();
  }
  int32_t value = 0;
  switch (command_line::ParseNumber(text.substr(begin, end - begin), value)) {
    case NumberStatus::Ok:
      return value < 0 ? 0 : value;
    case NumberStatus::OutOfRange:
      return text[begin] == '-' ? 0 : INT32_MAX;
    case NumberStatus::NotANumber:
      return 0;
  }
  return 0;
}

bool CheckRestrictionText(std::string& text, int32_t& last_valid) {
  if (TrimBlanks(text).empty()) {
    last_valid = 0;
    return false;
  }
  int32_t value = 0;
  if (command_line::ParseNumber(TrimBlanks(text), value) == NumberStatus::Ok && value >= 1) {
    last_valid = value;
    return false;
  }
  text = last_valid == 0 ? std::string() : std::to_string(last_valid);
  return true;
}

OptionsDialogState ReadCommandLineIntoDialog(const std::string& args,
                                             const std::string& state_folder,
                                             int32_t default_report_level,
                                             int32_t default_versions_keep) {
  OptionsDialogState state;
  state.ReportLevel = default_report_level;
  state.VersionsKeep = default_versions_keep;
  ReadInto(args, state_folder, default_report_level, state);
  if (state.chkBidi.checked) {
    state.chkDelete.checked = false;
    state.chkNew.checked = true;
  }
  ApplyOptionsDialogRules(state);
  return state;
}

}  // namespace twinmere
