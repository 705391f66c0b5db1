// The command line in both directions: reading the program's arguments into
// SyncOptions, and writing options back as an argument string for a launcher.
//
// Syntax: optional blanks; switches, each "-" and a name (compared ignoring
// letter case) and, for -r, -rj, -rr, -rl, -v, -vk, -x and -xf, a value (-x and
// -xf may come again, each adding one); then up to two folders,
// Source and Target. A blank is the space character only. A switch name ends at
// the first blank, "/" or "-" after its "-", so "-q-s" and "-q -s" both hold two
// switches; since no switch name contains "/", ending a name there only keeps
// "-r/tmp/x" readable as -r with the path "/tmp/x". A value starts at the
// character that ended the name, blanks skipped. The first token that does not
// begin with "-" ends the switch list; anything after the Target folder is
// ignored. A path or folder holding blanks is enclosed in double quotes;
// inside the quotes a doubled quote ("") stands for one double quote, the only
// escape there is. A path is taken to the byte as it stands: blanks inside the
// quotes, at its ends too, belong to the name ("dst " is not "dst"). (Since
// what follows the Target is ignored, a quoted Target followed at once by a
// double quote, as in "/b""x", is the one place where such a pair could also
// be read as the Target's end: it is read as a quote of the Target, "/b"x".)
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/sync_options.h"
#include "platform/file_system.h"

namespace twinmere {

// What the reader needs besides the text.
struct CommandLineContext {
  FileSystem& file_system;   // gives folders the names stored on disk
  std::string state_folder;  // where a bare report name goes (may be empty)
  // The settings' default report level; start-up gives it to ReportLevel
  // before reading the line.
  int32_t default_report_level = kDefaultReportLevel;
  // The settings' number of versions-folder runs to keep; start-up gives it
  // to VersionsKeep before reading the line.
  int32_t default_versions_keep = 0;
};

struct ParseResult {
  bool valid = false;
  // For some faults, the line that says what is wrong (which patterns file
  // cannot be read, which pattern is invalid); else empty.
  std::string fault;
  // Set each time -r is read: whether View Report is enabled (Report not empty).
  // The front ends apply it; unset when no -r was read.
  std::optional<bool> view_report_enabled;
};

// The argument string of a process: argv[1..] joined by blanks, an argument
// that contains a blank, is empty or begins with a double quote enclosed in
// double quotes with its own double quotes doubled, so that the readers give
// every argument back byte for byte. argv[0] is skipped. Never fails.
std::string JoinArguments(int argc, const char* const* argv);

// Reads `args` into `options`. Only what the switches and folders name is
// changed; on a fault the reading stops at once and what was set before the
// fault stays. Faults: an unknown switch; -rr, -rl or -vk without a value,
// with a value that is not a decimal number, out of the signed 32-bit range
// after rounding (halves to even) or negative; -bi together with -d, or -v
// (with a folder) together with -tr, in either order; -s without both
// folders; -r, -rj, -v, -x or -xf with a quoted value not followed by a blank
// or the end; a -x pattern that is invalid (fs/leave_out_rules.h), a -xf file
// that cannot be read or holds an invalid pattern (`fault` says which); a
// quoted first folder followed by something other than a blank. A
// bare report or JSON summary name is placed in the state folder
// (QualifyName); the -v folder is taken as written, with a trailing "/"
// added. Folders get a
// trailing "/" and the names stored on disk (the lookups never follow a final
// link; missing components are kept as written); the folders are stored
// whenever any positional text is present, also when only one is given. Never
// throws.
ParseResult ParseCommandLine(const std::string& args, SyncOptions& options,
                             const CommandLineContext& context);

// Start-up: when the argument string is completely empty and the settings
// hold a default report file, Report becomes it and Append is set. Returns
// whether it was applied.
bool ApplyDefaultReport(const std::string& args, const std::string& default_report_file,
                        SyncOptions& options);

// The error line shown for an invalid command line:
// Invalid command line: "<args>"
std::string InvalidCommandLineMessage(const std::string& args);

// What start-up does with its argument string, in one step: ReportLevel and
// VersionsKeep from the settings' defaults, ParseCommandLine,
// the default report rule, and on a fault the message, exit code 17 and Start
// and Quiet cleared (so that the program neither runs nor exits by itself).
struct StartupCommandLine {
  bool valid = false;
  std::optional<bool> view_report_enabled;
  int exit_code = 0;  // 17 for an invalid command line, else 0
  // Empty when valid; else InvalidCommandLineMessage, and where the parser
  // tells what is wrong, a line end and that line.
  std::string error_line;
};
StartupCommandLine ReadStartupCommandLine(const std::string& args,
                                          const std::string& default_report_file,
                                          const CommandLineContext& context, SyncOptions& options);

// The argument string of `options`, switches only, each piece with a leading
// blank, in a fixed order: " -s", " -q", " -m", " -ds", " -qs", " -xs", " -d"
// (not with Bidi), " -bi" or else " -new", " -ns", " -c", " -ndl", " -ad",
// " -r <report>", " -a", " -rr <n>" (when above 0), " -rl <n>" (when it differs
// from `default_report_level`), " -rj <file>", " -tr", " -v <folder>",
// " -vk <n>" (when it differs from `default_versions_keep`), " -n", " -fd",
// " -xf <file>" for each patterns file, " -x <pattern>" for each pattern. A
// path or pattern is quoted as JoinArguments quotes an argument. Reading it back gives
// the same options, except that Delete is not written with Bidi and New comes
// back set whenever Bidi is. Never fails.
std::string BuildCommandLine(const SyncOptions& options, int32_t default_report_level,
                             int32_t default_versions_keep = 0);

// BuildCommandLine followed by the folders: a blank and Source when it is not
// empty, then a blank and Target when it is not empty. Folders are quoted as
// JoinArguments quotes an argument, and so is a Source that begins with "-"
// (it would read as a switch); an empty Source before a Target is written as
// "" so that the Target stays the second folder. Never fails.
std::string BuildArguments(const SyncOptions& options, int32_t default_report_level,
                           int32_t default_versions_keep = 0);

// The full command line of a saved launcher: the program path (quoted as
// JoinArguments quotes an argument) followed by BuildArguments. Never fails.
std::string BuildLauncherCommandLine(const std::string& program_path, const SyncOptions& options,
                                     int32_t default_report_level,
                                     int32_t default_versions_keep = 0);

}  // namespace twinmere
