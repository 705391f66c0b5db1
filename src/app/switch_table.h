// The switches of the command line, each written down once: the readers look
// names up here, BuildCommandLine writes options back from here and
// twinmere-cli --help lists them from here. The manual pages and the shell
// completion in packaging/ are checked against this table by a test.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/sync_options.h"

namespace twinmere {

enum class Switch {
  Quiet,
  Start,
  Minimized,
  Report,
  Append,
  Restriction,
  Bidi,
  Delete,
  New,
  NoSecurity,
  NoDaylight,
  AllowDecryption,
  Case,
  ExcludeSubfolders,
  QuickStart,
  DisallowStop,
  ReportLevel,
  Versions,
  VersionsKeep,
  Trash,
  JsonSummary,
  Preview,
  ForceDelete,
  LeaveOut,
  LeaveOutFiles,
};

// What follows a switch's name.
enum class SwitchValue {
  None,     // a flag: the switch sets it
  Path,     // a path, quoted when it holds blanks
  Number,   // a non-negative decimal number
  Pattern,  // a pattern of items to leave out, quoted when it holds blanks
};

struct SwitchRow {
  std::string_view name;  // as written, in lower case, without the "-"
  Switch which;
  SwitchValue value = SwitchValue::None;
  std::string_view value_name = {};  // the value's name in --help and the manuals
  // The option the switch sets: `flag` for SwitchValue::None, `path` for
  // SwitchValue::Path, `number` for SwitchValue::Number; `list` for a
  // switch that may be given again, each value added at the end (a
  // SwitchValue::Path or SwitchValue::Pattern).
  bool SyncOptions::*flag = nullptr;
  std::string SyncOptions::*path = nullptr;
  int32_t SyncOptions::*number = nullptr;
  std::vector<std::string> SyncOptions::*list = nullptr;
  // BuildCommandLine writes the switches in ascending write_order (1, 2, ...).
  int write_order = 0;
  // The description in twinmere-cli --help; each "\n" begins a further line.
  std::string_view help = {};
};

// In the order of --help and of the manual pages.
inline constexpr std::array<SwitchRow, 25> kSwitches = {{
    {.name = "s",
     .which = Switch::Start,
     .flag = &SyncOptions::Start,
     .write_order = 1,
     .help = "start the run (always done here); with -s both folders are needed"},
    {.name = "q",
     .which = Switch::Quiet,
     .flag = &SyncOptions::Quiet,
     .write_order = 2,
     .help = "exit when the run is over (always done here)"},
    {.name = "m",
     .which = Switch::Minimized,
     .flag = &SyncOptions::Minimized,
     .write_order = 3,
     .help = "minimized window (no effect here)"},
    {.name = "n",
     .which = Switch::Preview,
     .flag = &SyncOptions::Preview,
     .write_order = 22,
     .help = "preview: show the lines the run would write and change nothing\n"
             "in Source or Target"},
    {.name = "bi",
     .which = Switch::Bidi,
     .flag = &SyncOptions::Bidi,
     .write_order = 8,
     .help = "bidirectional: also copy from Target to Source; implies -new"},
    {.name = "d",
     .which = Switch::Delete,
     .flag = &SyncOptions::Delete,
     .write_order = 7,
     .help = "delete Target items that Source lacks (not with -bi)"},
    {.name = "fd",
     .which = Switch::ForceDelete,
     .flag = &SyncOptions::ForceDelete,
     .write_order = 23,
     .help = "with -d, delete even what the deletion guard stops: an empty\n"
             "Source, or more than the guard's share of Target's items"},
    {.name = "new",
     .which = Switch::New,
     .flag = &SyncOptions::New,
     .write_order = 9,
     .help = "copy only newer files instead of every different one"},
    {.name = "c",
     .which = Switch::Case,
     .flag = &SyncOptions::Case,
     .write_order = 11,
     .help = "synchronize the letter case of names"},
    {.name = "ndl",
     .which = Switch::NoDaylight,
     .flag = &SyncOptions::NoDaylight,
     .write_order = 12,
     .help = "no allowance for a one-hour daylight-saving shift in file times"},
    {.name = "ns",
     .which = Switch::NoSecurity,
     .flag = &SyncOptions::NoSecurity,
     .write_order = 10,
     .help = "do not copy owners, ACLs, capabilities and the other security.*\n"
             "and trusted.* attributes"},
    {.name = "ad",
     .which = Switch::AllowDecryption,
     .flag = &SyncOptions::AllowDecryption,
     .write_order = 13,
     .help = "allow copying an encrypted file where it is stored decrypted"},
    {.name = "xs",
     .which = Switch::ExcludeSubfolders,
     .flag = &SyncOptions::ExcludeSubfolders,
     .write_order = 6,
     .help = "exclude subfolders: only the items directly in the two folders"},
    {.name = "x",
     .which = Switch::LeaveOut,
     .value = SwitchValue::Pattern,
     .value_name = "PATTERN",
     .list = &SyncOptions::LeaveOut,
     .write_order = 25,
     .help = "leave out the items PATTERN matches, on both sides (again for\n"
             "more); a line as in .gitignore: *.tmp, cache/ (folders only),\n"
             "/build/ (at the top), docs/**/*.pdf, !keep.tmp (takes back)"},
    {.name = "xf",
     .which = Switch::LeaveOutFiles,
     .value = SwitchValue::Path,
     .value_name = "FILE",
     .list = &SyncOptions::LeaveOutFiles,
     .write_order = 24,
     .help = "leave out what the patterns in FILE match, one a line (# begins\n"
             "a comment); files first, then -x; a .twinmereignore in a Source\n"
             "folder adds its own; see LEAVING OUT in the manual"},
    {.name = "qs",
     .which = Switch::QuickStart,
     .flag = &SyncOptions::QuickStart,
     .write_order = 5,
     .help = "quick start: no exploring; progress in bytes instead of percent"},
    {.name = "ds",
     .which = Switch::DisallowStop,
     .flag = &SyncOptions::DisallowStop,
     .write_order = 4,
     .help = "disallow stop: Ctrl+C does not stop the run (SIGTERM still does)"},
    {.name = "r",
     .which = Switch::Report,
     .value = SwitchValue::Path,
     .value_name = "FILE",
     .path = &SyncOptions::Report,
     .write_order = 14,
     .help = "write a report to FILE (a bare name goes to the state folder)"},
    {.name = "a",
     .which = Switch::Append,
     .flag = &SyncOptions::Append,
     .write_order = 15,
     .help = "append to the report instead of replacing it"},
    {.name = "rr",
     .which = Switch::Restriction,
     .value = SwitchValue::Number,
     .value_name = "KB",
     .number = &SyncOptions::Restriction,
     .write_order = 16,
     .help = "limit the report to KB kilobytes (0: no limit)"},
    {.name = "rl",
     .which = Switch::ReportLevel,
     .value = SwitchValue::Number,
     .value_name = "LEVEL",
     .number = &SyncOptions::ReportLevel,
     .write_order = 17,
     .help = "report level, the sum of: 1 successful operations, 2 errors,\n"
             "4 options, 8 command line, 16 summary, 32 zero values in the\n"
             "summary, 64 OS version and privileges, 128 Source and Target\n"
             "folders (default: the stored default level, else 215)"},
    {.name = "rj",
     .which = Switch::JsonSummary,
     .value = SwitchValue::Path,
     .value_name = "FILE",
     .path = &SyncOptions::JsonSummary,
     .write_order = 18,
     .help = "at the end of the run, also a stopped or refused one, write its\n"
             "summary and errors as JSON to FILE (a bare name goes to the state\n"
             "folder); see JSON SUMMARY in the manual"},
    {.name = "v",
     .which = Switch::Versions,
     .value = SwitchValue::Path,
     .value_name = "FOLDER",
     .path = &SyncOptions::Versions,
     .write_order = 20,
     .help = "keep every Target item the run deletes or replaces (with -bi\n"
             "also Source items) in FOLDER, in a folder named for the run's\n"
             "start: YYYY-MM-DD HHMMSS/path; not inside Source (exit 21),\n"
             "left out of the run inside Target; not with -tr"},
    {.name = "vk",
     .which = Switch::VersionsKeep,
     .value = SwitchValue::Number,
     .value_name = "N",
     .number = &SyncOptions::VersionsKeep,
     .write_order = 21,
     .help = "keep only the newest N run folders of -v, removing the oldest\n"
             "at the end of a run (0: all; default: the stored setting, else 0)"},
    {.name = "tr",
     .which = Switch::Trash,
     .flag = &SyncOptions::Trash,
     .write_order = 19,
     .help = "move deleted and replaced items to the desktop's Trash; where\n"
             "a file system has none, they stay (error, exit 4); not with -v"},
}};

// The switch of a name (without the "-"), compared ignoring ASCII letter
// case; nullptr for any other name.
const SwitchRow* LookupSwitch(std::string_view name);

// The switches in the order BuildCommandLine writes them.
const std::array<const SwitchRow*, kSwitches.size()>& SwitchesInWriteOrder();

// The term a switch is shown as: "-" and its name, then a blank and the
// value's name when it takes one ("-r FILE").
std::string SwitchTerm(const SwitchRow& row);

// The lines of --help that describe the switches, one entry each in table
// order: two blanks, the term in a column of 12, the description, further
// lines of it indented to the description's column. Each line ends in "\n".
std::string SwitchHelp();

}  // namespace twinmere
