// The JSON summary of a run (-rj FILE): one document, written when the run
// has ended and its exit code is known, also for a stopped or refused run and
// for an invalid command line. Scripts and monitoring read it instead of the
// report's text. The installed JSON Schema share/twinmere/run-summary.schema.json
// describes it; this is its shape:
//
//   {
//     "format": "twinmere-run-summary", "format_version": 1,
//     "program": {"name": "Twinmere", "version": "0.1.0"},
//     "start_time": "2026-12-07T09:30:15+01:00", "end_time": ..., "elapsed_seconds": 47.25,
//     "exit_code": 4, "outcome": "completed",
//     "message": <bytes>,             (refused runs and invalid command lines only)
//     "arguments": <bytes>,           the argument string the program was given
//     "command_line": <bytes>,        the options as a launcher writes them, folders included
//     "options": {"Source": <bytes>, ..., "ExcludeSubfolders": false, ..., "ReportLevel": 215},
//     "security_support": true, "operating_system": <bytes>, "administrative_privileges": true,
//     "counters": {"FilesCopiedToTarget": 3, "BytesCopiedToTarget": 2048, ..., "ErrorCount": 1},
//     "errors": [{"code": 13, "action": "copy", "action_code": 1, "path": <bytes>,
//                 "text": <bytes>}],
//     "errors_omitted": 0
//   }
//
// <bytes> is a string where the bytes are valid UTF-8, else an object
// {"base64": "..."} holding them in base64 (RFC 4648, with padding). The
// options and counters are named as the options record and the summary
// counters name them. Later versions add fields without changing
// format_version; it changes only when a field changes its meaning or goes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/sync_options.h"
#include "platform/errors.h"
#include "platform/platform_facts.h"
#include "report/action_lines.h"
#include "report/session_counters.h"

namespace twinmere {

inline constexpr int kRunSummaryFormatVersion = 1;

// The errors a document lists; those beyond are only counted
// (errors_omitted), so that a run with millions of errors keeps its memory.
inline constexpr size_t kRunSummaryErrorLimit = 10000;

// One error line of the run: its code, its action and the path it names.
struct RunError {
  ErrorCode code = 0;
  ActionCode action = ActionCode{0};
  std::string path;
};

// The name an error's action has in the document: "copy", "replace",
// "delete", "create_folder", ..., "access", "access_security",
// "deletion_guard", "trash", "remove_versions", "versions_folder"; "unknown"
// for a code outside the table.
std::string_view RunErrorActionName(ActionCode action);

// Everything the document states. Times are seconds since the epoch, written
// in local time with the zone's offset.
struct RunSummary {
  const SyncOptions& options;
  const PlatformFacts& facts;
  const SessionCounters& counters;
  bool security_support = false;
  std::string_view arguments = {};
  std::string_view command_line = {};
  double start_time = 0;
  double end_time = 0;
  int exit_code = 0;
  std::string_view message = {};  // the refusing line; written for exit codes from 17 on
  const std::vector<RunError>& errors;
  uint64_t errors_omitted = 0;
};

// "2026-12-07T09:30:15+01:00": the local time of `epoch_seconds` (whole
// seconds) with the zone's offset at that moment. Never fails.
std::string Iso8601LocalTime(double epoch_seconds);

// The document's text, indented, ending in a line end. Fails only with
// kErrNoMemory; `text` is then untouched.
ErrorCode FormatRunSummary(const RunSummary& summary, std::string& text);

// Writes `text` to `path` at once through WriteWholeFile (a new file that
// takes the name at the end; a FIFO or a device written into as it is; any
// other kind refused), creating missing folders on the way. A new file gets
// mode 0644, an existing one keeps its mode. Returns 0 or the errno of the
// step that failed; the old file is then left as it was.
ErrorCode WriteRunSummary(const std::string& path, std::string_view text);

}  // namespace twinmere
