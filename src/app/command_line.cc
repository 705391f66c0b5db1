#include "app/command_line.h"

#include "app/command_line_tokens.h"
#include "base/exit_codes.h"
#include "engine/leave_out_filter.h"
#include "fs/paths.h"
#include "platform/path_syntax.h"
#include "report/formats.h"

namespace twinmere {

using command_line::NumberStatus;
using command_line::PathStatus;

std::string JoinArguments(int argc, const char* const* argv) {
  std::string joined;
  for (int i = 1; i < argc; ++i) {
    if (argv[i] == nullptr) continue;
    if (i > 1) joined += ' ';
    joined += command_line::QuoteIfNeeded(argv[i]);
  }
  return joined;
}

namespace {

// Reads the -rr / -rl value: a non-negative number. False for a fault.
bool ReadNonNegative(const std::string& text, size_t p, int32_t& value, size_t& next) {
  std::string token;
  if (!command_line::ReadValueToken(text, p, token, next)) return false;
  int32_t number = 0;
  if (command_line::ParseNumber(token, number) != NumberStatus::Ok || number < 0) return false;
  value = number;
  return true;
}

}  // namespace

ParseResult ParseCommandLine(const std::string& args, SyncOptions& options,
                             const CommandLineContext& context) {
  ParseResult result;
  const std::string text = TrimBlanks(args);
  size_t p = 0;
  const SwitchRow* row = nullptr;
  while (command_line::NextSwitch(text, p, row)) {
    if (row == nullptr) return result;
    switch (row->value) {
      case SwitchValue::None:
        options.*row->flag = true;
        break;
      case SwitchValue::Number:
        if (!ReadNonNegative(text, p, options.*row->number, p)) return result;
        break;
      case SwitchValue::Pattern:
      case SwitchValue::Path: {
        std::string path;
        if (command_line::ReadPath(text, p, path, p) != PathStatus::Ok) return result;
        // Where a file or folder is named, Windows users write "\".
        if (row->which == Switch::Report || row->which == Switch::JsonSummary ||
            row->which == Switch::Versions)
          path = FromUserPath(std::move(path));
        if (row->list != nullptr) {
          // Checked here, so that a bad pattern stops the line, not a run.
          LeaveOutList checked;
          if (row->which == Switch::LeaveOut ? !AddLeaveOutPattern(path, checked, result.fault)
                                             : !AddLeaveOutFile(path, checked, result.fault))
            return result;
          (options.*row->list).push_back(std::move(path));
        } else if (row->which == Switch::Versions) {
          options.Versions = AddSeparator(path);
        } else {
          options.*row->path = QualifyName(path, context.state_folder);
        }
        if (row->which == Switch::Report) result.view_report_enabled = !options.Report.empty();
        break;
      }
    }
    // -bi brings -new with it, and -bi and -d exclude each other in either
    // order, as do -v and -tr.
    if (row->which == Switch::Bidi) {
      options.New = true;
      if (options.Delete) return result;
    } else if (row->which == Switch::Delete && options.Bidi) {
      return result;
    } else if ((row->which == Switch::Versions || row->which == Switch::Trash) && options.Trash &&
               !options.Versions.empty()) {
      return result;
    }
  }

  const std::string rest = TrimBlanks(std::string_view(text).substr(p));
  if (rest.empty()) {
    result.valid = !options.Start;
    return result;
  }
  std::string source;
  std::string target;
  size_t next = 0;
  command_line::ReadFolder(rest, 0, source, next);
  if (next < rest.size()) {
    if (rest[next] != ' ') return result;
    const std::string second = TrimBlanks(std::string_view(rest).substr(next + 1));
    command_line::ReadFolder(second, 0, target, next);
  }
  if (options.Start && (source.empty() || target.empty())) return result;
  options.Source = LongFolderForm(context.file_system, AddSeparator(FromUserPath(source)));
  options.Target = LongFolderForm(context.file_system, AddSeparator(FromUserPath(target)));
  result.valid = true;
  return result;
}

bool ApplyDefaultReport(const std::string& args, const std::string& default_report_file,
                        SyncOptions& options) {
  if (!args.empty() || default_report_file.empty()) return false;
  options.Report = default_report_file;
  options.Append = true;
  return true;
}

std::string InvalidCommandLineMessage(const std::string& args) {
  return "Invalid command line: \"" + DisplayText(args) + "\"";
}

StartupCommandLine ReadStartupCommandLine(const std::string& args,
                                          const std::string& default_report_file,
                                          const CommandLineContext& context, SyncOptions& options) {
  StartupCommandLine startup;
  options.ReportLevel = context.default_report_level;
  options.VersionsKeep = context.default_versions_keep;
  ApplyDefaultReport(args, default_report_file, options);
  const ParseResult parsed = ParseCommandLine(args, options, context);
  startup.valid = parsed.valid;
  startup.view_report_enabled = parsed.view_report_enabled;
  if (!parsed.valid) {
    startup.exit_code = kExitInvalidCommandLine;
    startup.error_line = InvalidCommandLineMessage(args);
    if (!parsed.fault.empty()) startup.error_line += "\n" + parsed.fault;
    options.Start = false;
    options.Quiet = false;
  }
  return startup;
}

namespace {

// Whether BuildCommandLine writes `row` for `options`: a flag when set, except
// that -bi stands in for -d (which it excludes) and -new (which it implies); a
// path when not empty; the size limit above 0; the report level and the
// number of versions-folder runs kept when they differ from their defaults.
// -fd is written whenever it is set, also where it does nothing (without -d),
// so that every line reads back to its options.
bool IsWritten(const SwitchRow& row, const SyncOptions& options, int32_t default_report_level,
               int32_t default_versions_keep) {
  switch (row.value) {
    case SwitchValue::None:
      if (options.Bidi && (row.which == Switch::Delete || row.which == Switch::New)) return false;
      return options.*row.flag;
    case SwitchValue::Path:
    case SwitchValue::Pattern:
      return row.list != nullptr ? !(options.*row.list).empty() : !(options.*row.path).empty();
    case SwitchValue::Number:
      if (row.which == Switch::ReportLevel) return options.ReportLevel != default_report_level;
      if (row.which == Switch::VersionsKeep) return options.VersionsKeep != default_versions_keep;
      return options.*row.number > 0;
  }
  return false;
}

}  // namespace

std::string BuildCommandLine(const SyncOptions& options, int32_t default_report_level,
                             int32_t default_versions_keep) {
  std::string args;
  for (const SwitchRow* row : SwitchesInWriteOrder()) {
    if (!IsWritten(*row, options, default_report_level, default_versions_keep)) continue;
    if (row->list != nullptr) {
      for (const std::string& value : options.*row->list)
        args += " -" + std::string(row->name) + ' ' + command_line::QuoteIfNeeded(value);
      continue;
    }
    args += " -";
    args += row->name;
    switch (row->value) {
      case SwitchValue::None:
        break;
      case SwitchValue::Pattern:
      case SwitchValue::Path:
        args += ' ' + command_line::QuoteIfNeeded(options.*row->path);
        break;
      case SwitchValue::Number:
        args += ' ' + std::to_string(options.*row->number);
        break;
    }
  }
  return args;
}

namespace {

// The first folder as a positional argument: quoted where QuoteIfNeeded
// quotes, and also when it would otherwise read as a switch. The second
// folder can begin with "-" unquoted: the switch list is over by then.
std::string SourceArgument(const std::string& folder) {
  if (!folder.empty() && folder.front() == '-') return command_line::Quoted(folder);
  return command_line::QuoteIfNeeded(folder);
}

}  // namespace

std::string BuildArguments(const SyncOptions& options, int32_t default_report_level,
                           int32_t default_versions_keep) {
  std::string args = BuildCommandLine(options, default_report_level, default_versions_keep);
  if (!options.Source.empty() || !options.Target.empty())
    args += ' ' + SourceArgument(options.Source);
  if (!options.Target.empty()) args += ' ' + command_line::QuoteIfNeeded(options.Target);
  return args;
}

std::string BuildLauncherCommandLine(const std::string& program_path, const SyncOptions& options,
                                     int32_t default_report_level, int32_t default_versions_keep) {
  return command_line::QuoteIfNeeded(program_path) +
         BuildArguments(options, default_report_level, default_versions_keep);
}

}  // namespace twinmere
