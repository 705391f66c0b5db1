#include "app/command_line.h"

#include "app/command_line_tokens.h"
#include "base/exit_codes.h"
#include "fs/paths.h"

namespace twinmere {

using command_line::NumberStatus;
using command_line::PathStatus;
using command_line::Switch;

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
  Switch which = Switch::Unknown;
  while (command_line::NextSwitch(text, p, which)) {
    switch (which) {
      case Switch::Unknown:
        return result;
      case Switch::Quiet:
        options.Quiet = true;
        break;
      case Switch::Start:
        options.Start = true;
        break;
      case Switch::Minimized:
        options.Minimized = true;
        break;
      case Switch::Append:
        options.Append = true;
        break;
      case Switch::Bidi:
        options.Bidi = true;
        options.New = true;
        if (options.Delete) return result;
        break;
      case Switch::Delete:
        options.Delete = true;
        if (options.Bidi) return result;
        break;
      case Switch::New:
        options.New = true;
        break;
      case Switch::NoSecurity:
        options.NoSecurity = true;
        break;
      case Switch::NoDaylight:
        options.NoDaylight = true;
        break;
      case Switch::AllowDecryption:
        options.AllowDecryption = true;
        break;
      case Switch::Case:
        options.Case = true;
        break;
      case Switch::ExcludeSubfolders:
        options.ExcludeSubfolders = true;
        break;
      case Switch::QuickStart:
        options.QuickStart = true;
        break;
      case Switch::DisallowStop:
        options.DisallowStop = true;
        break;
      case Switch::Restriction:
        if (!ReadNonNegative(text, p, options.Restriction, p)) return result;
        break;
      case Switch::ReportLevel:
        if (!ReadNonNegative(text, p, options.ReportLevel, p)) return result;
        break;
      case Switch::Report: {
        std::string path;
        if (command_line::ReadPath(text, p, path, p) != PathStatus::Ok) return result;
        options.Report = QualifyName(path, context.state_folder);
        result.view_report_enabled = !options.Report.empty();
        break;
      }
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
  options.Source = LongFolderForm(context.file_system, AddSeparator(source));
  options.Target = LongFolderForm(context.file_system, AddSeparator(target));
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
  return "Invalid command line: \"" + args + "\"";
}

StartupCommandLine ReadStartupCommandLine(const std::string& args,
                                          const std::string& default_report_file,
                                          const CommandLineContext& context, SyncOptions& options) {
  StartupCommandLine startup;
  options.ReportLevel = context.default_report_level;
  ApplyDefaultReport(args, default_report_file, options);
  const ParseResult parsed = ParseCommandLine(args, options, context);
  startup.valid = parsed.valid;
  startup.view_report_enabled = parsed.view_report_enabled;
  if (!parsed.valid) {
    startup.exit_code = kExitInvalidCommandLine;
    startup.error_line = InvalidCommandLineMessage(args);
    options.Start = false;
    options.Quiet = false;
  }
  return startup;
}

std::string BuildCommandLine(const SyncOptions& options, int32_t default_report_level) {
  std::string args;
  if (options.Start) args += " -s";
  if (options.Quiet) args += " -q";
  if (options.Minimized) args += " -m";
  if (options.DisallowStop) args += " -ds";
  if (options.QuickStart) args += " -qs";
  if (options.ExcludeSubfolders) args += " -xs";
  if (options.Delete && !options.Bidi) args += " -d";
  if (options.Bidi) {
    args += " -bi";
  } else if (options.New) {
    args += " -new";
  }
  if (options.NoSecurity) args += " -ns";
  if (options.Case) args += " -c";
  if (options.NoDaylight) args += " -ndl";
  if (options.AllowDecryption) args += " -ad";
  if (!options.Report.empty()) args += " -r " + command_line::QuoteIfNeeded(options.Report);
  if (options.Append) args += " -a";
  if (options.Restriction > 0) args += " -rr " + std::to_string(options.Restriction);
  if (options.ReportLevel != default_report_level)
    args += " -rl " + std::to_string(options.ReportLevel);
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

std::string BuildArguments(const SyncOptions& options, int32_t default_report_level) {
  std::string args = BuildCommandLine(options, default_report_level);
  if (!options.Source.empty() || !options.Target.empty())
    args += ' ' + SourceArgument(options.Source);
  if (!options.Target.empty()) args += ' ' + command_line::QuoteIfNeeded(options.Target);
  return args;
}

std::string BuildLauncherCommandLine(const std::string& program_path, const SyncOptions& options,
                                     int32_t default_report_level) {
  return command_line::QuoteIfNeeded(program_path) + BuildArguments(options, default_report_level);
}

}  // namespace twinmere
