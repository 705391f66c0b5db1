// The state of the options dialog's controls as a plain record, and the
// lenient reader that loads a launcher's argument string into it. The dialog
// binds this record to its widgets; everything here works without a GUI.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/sync_options.h"
#include "platform/platform_facts.h"

namespace twinmere {

struct CheckBoxState {
  bool checked = false;
  bool enabled = true;
  bool operator==(const CheckBoxState&) const = default;
};

// Member names follow the dialog's control names.
struct OptionsDialogState {
  CheckBoxState chkBidi;
  CheckBoxState chkNew;
  CheckBoxState chkDelete;
  CheckBoxState chkNoSecurity;
  CheckBoxState chkNoDaylight;
  CheckBoxState chkAllowDecryption;
  CheckBoxState chkCase;
  CheckBoxState chkSubfolders;  // subfolders excluded
  CheckBoxState chkStart;
  CheckBoxState chkMinimized;
  CheckBoxState chkQuiet;
  CheckBoxState chkQuickStart;
  CheckBoxState chkDisallowStop;
  CheckBoxState chkPreview;
  CheckBoxState chkForceDelete;  // the deletion guard lifted
  CheckBoxState chkAppend;
  CheckBoxState chkRestrict;
  CheckBoxState chkTrash;
  std::string txtRestrict = "500";
  bool txtRestrictEnabled = false;  // also the "Kbytes" label
  bool reportLevelEnabled = false;  // the level label and its drop-down button
  std::string txtReport;
  std::string txtJson;  // the JSON summary file
  std::string txtSource;
  std::string txtTarget;
  std::string txtVersions;
  int32_t VersionsKeep = 0;          // the number of newest versions-folder runs kept
  bool versionsEnabled = true;       // the versions folder and its chooser
  bool versionsKeepEnabled = false;  // the number: with a versions folder in the field
  int32_t ReportLevel = 0;           // the edited report level
  // The patterns of the items a run leaves out, one per line, and the files
  // of more patterns, in their order.
  std::string txtLeaveOut;
  std::vector<std::string> lstLeaveOutFiles;
  bool operator==(const OptionsDialogState&) const = default;
};

// The dialog's rules that tie controls together, applied once to `state`:
// with chkBidi checked, chkNew is checked and chkDelete cleared and both are
// disabled, else both are enabled; chkForceDelete is enabled exactly when
// chkDelete is enabled and checked (it keeps its check mark otherwise); with a non-blank report
// text, chkAppend, chkRestrict and the level controls are enabled, else disabled; txtRestrict is
// enabled only when chkRestrict is enabled and checked, and becomes "500" when
// it is enabled with a blank text; with chkTrash checked the versions folder
// and its number are disabled. Never fails.
void ApplyOptionsDialogRules(OptionsDialogState& state);

// Reads a launcher's argument string the lenient way. Every check box starts
// cleared, txtRestrict "500", report and folders empty, the level the settings'
// default. Unknown switches and missing -rr / -rl values are skipped; the -rr
// value goes into txtRestrict as written, chkRestrict checked exactly when its
// leading numeric value is above 0; an -rl value that is not a number leaves
// the level, a negative one gives the default. -bi and -d do not exclude each
// other: with chkBidi checked at the end, chkDelete is cleared and chkNew
// checked. A quoted report path or folder followed by something other than a
// blank ends the reading; that item is not taken, what was read before stays.
// -s without folders is accepted. Paths are taken as written, blanks at their
// ends included. A bare report or JSON summary name goes into `state_folder`;
// folders (the -v one too) get a trailing "/" but no lookup. Each -x adds its
// pattern as a line of txtLeaveOut, each -xf its file to lstLeaveOutFiles. VersionsKeep
// starts as `default_versions_keep`; a -vk value that is no number or
// negative leaves it. Finally ApplyOptionsDialogRules. Never fails.
OptionsDialogState ReadCommandLineIntoDialog(const std::string& args,
                                             const std::string& state_folder,
                                             int32_t default_report_level,
                                             int32_t default_versions_keep = 0);

// The dialog as it opens on `options`: every check box from its option, the
// report, the JSON summary file, the folders and the edited level as they are; with a restriction
// the box is checked and txtRestrict shows the number, else "500" with the box
// cleared; the patterns one per line, the patterns files as they are;
// chkNoSecurity enabled only for an administrator (facts.IsAdmin),
// chkAllowDecryption only from system class 6 on; then ApplyOptionsDialogRules.
// Never fails.
OptionsDialogState LoadOptionsDialog(const SyncOptions& options, const PlatformFacts& facts);

// The dialog's values (what the shortcut dialog takes): every flag from its
// check box, the folders, the report and the JSON summary file as the fields
// hold them (the dialog decides what blanks typed around a name mean), a bare
// report or JSON summary name placed in `state_folder` (QualifyName), the restriction
// RestrictionValue of txtRestrict when chkRestrict is checked (else 0), the edited level,
// and, while its number is enabled, the versions folder with that number (else
// no folder and `default_versions_keep`), the patterns of txtLeaveOut
// (LeaveOutPatterns) and the patterns files. The folders get no "/" here.
// Never fails.
SyncOptions DialogOptions(const OptionsDialogState& state, const std::string& state_folder,
                          int32_t default_versions_keep);

// The patterns of the leave-out field's text: each line is one pattern,
// taken to the byte as one -x takes it; the line ends ("\n", "\r\n") are
// not part of it, and an empty line is none.
std::vector<std::string> LeaveOutPatterns(std::string_view text);

// The first line (from 1) of the leave-out field's text that holds a pattern
// the matcher refuses (a lone trailing "\", an unknown [:class:], nothing
// but "!" and "/"); nothing when every line is a pattern or empty.
std::optional<int> FirstInvalidLeaveOutLine(std::string_view text);

// The leading numeric value of a restriction text (blanks, sign, digits, "."
// and digits; anything after is ignored), rounded to a whole number with
// halves to the even one; 0 when there is none or it is negative, the
// largest 32-bit number when it is larger. Never fails.
int32_t RestrictionValue(std::string_view text);

// The restriction box's rule, applied on every change of its text: a blank
// text stays and sets `last_valid` to 0; a whole 32-bit number of 1 or more
// (as the command line reads -rr) stays and becomes `last_valid`; anything
// else is replaced by `last_valid`, or emptied when that is 0. Returns true
// when the text was replaced (the dialog then puts the caret back where it
// was before the key press). Never fails.
bool CheckRestrictionText(std::string& text, int32_t& last_valid);

}  // namespace twinmere
