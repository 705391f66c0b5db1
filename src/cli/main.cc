// twinmere-cli: the headless front end. The same command line as the desktop
// program; the run starts at once, every message line goes to standard
// output, a live progress line to standard error when it is a terminal, and
// the process ends with the run's exit code.

#include <clocale>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"
#include "app/switch_table.h"
#include "base/exit_codes.h"
#include "base/sync_options.h"
#include "base/version.h"
#include "cli/cli_host.h"
#include "engine/sync_session.h"
#include "engine/synchronizer.h"
#include "platform/file_system.h"
#include "platform/platform_facts.h"
#include "platform/process_paths.h"
#include "platform/standard_streams.h"
#include "platform/stop_signals.h"
#include "platform/user_folders.h"
#include "report/clock.h"
#include "report/reporter.h"
#include "report/stdout_display.h"
#include "settings/program_settings.h"
#include "settings/registry.h"

namespace twinmere::cli {
namespace {

// The help text before the switches of the table.
constexpr std::string_view kHelpHead =
    R"(Usage: twinmere-cli [SWITCHES] [SOURCE [TARGET]]

Keeps the folder TARGET in step with the folder SOURCE. The run starts at once,
whether or not -s is given; every message line goes to standard output, a
progress line to standard error when it is a terminal, and the exit code tells
how the run ended. Switches come before the folders, in any letter case.

)";

// After the switches of the table.
constexpr std::string_view kHelpTail =
    R"(  --help      show this help and exit
  --version   show the version and exit

A copied file carries its extended attributes (user.* always, the others as
-ns says), but a change of attributes alone does not make a file different.
Hard links are copied as separate files.

With -n nothing in SOURCE or TARGET is changed: the lines are those the run
would write, between a first and a last line that say it is a preview. With -d
the deletion guard counts, before anything is deleted, the items the run would
delete (N) and TARGET's items (M, each item counted, also inside a folder that
goes as a whole or in place of a SOURCE item of another kind): when SOURCE is
empty (but for the run's own report and JSON summary), or N is at least 20 and
more than 50 % of M (the share is a setting of the preferences), nothing is
deleted, one line says so and the exit code is 4; -fd lifts the guard.

Patterns (-x, -xf, and .twinmereignore files in SOURCE's folders, which apply
to both trees) read as .gitignore lines do; what they leave out is neither
compared, copied, replaced, deleted nor counted, on either side, and a folder
left out is not walked (see LEAVING OUT in the manual).

Ctrl+C, SIGTERM and SIGHUP stop the run after the current step; a file being
copied is left as it was. Without a command line the stored default report
file (if any) is appended to.

Exit codes: 0 completed, 1 stopped, 4 completed with errors, 5 stopped with
errors, 17 invalid command line, 18 Source not set, 19 Target not set,
20 invalid Source, 21 invalid Target, 22 same or nested folders.
)";

// What the Windows build cannot do yet.
constexpr std::string_view kWindowsNote =
    R"(
On Windows, Ctrl+Break and closing the console stop the run as Ctrl+C does;
paths may be written with "\" or "/" and lines show them with "\". Not
supported on Windows yet: -tr (the Trash), launchers and scheduled runs.
)";

void Print(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

std::string VersionText() {
  return std::string(kProgramTitle) + " " + kVersion + " (twinmere-cli)\n" + kCopyright + "\n";
}

int Main(const std::vector<std::string>& argv) {
  // Numbers and times in the report follow the user's locale, as in the
  // desktop program.
  std::setlocale(LC_ALL, "");
  // A closed pipe on standard output must not kill a run half-way: the
  // writes fail instead and the run goes on to its end.
  IgnoreClosedPipes();

  if (argv.size() == 2 && argv[1] == "--help") {
    Print(std::string(kHelpHead) + SwitchHelp() + std::string(kHelpTail) +
          std::string(kBuiltForWindows ? kWindowsNote : ""));
    return kExitSuccess;
  }
  if (argv.size() == 2 && argv[1] == "--version") {
    Print(VersionText());
    return kExitSuccess;
  }

  const PlatformFacts facts = DetectPlatformFacts();
  const UserFolders folders = UserFoldersFromEnvironment();

  // Settings first: the default report level and the default report file.
  Registry registry(DefaultRegistryPaths(folders));
  const ProgramSettings settings = ReadProgramSettings(registry, folders);

  SyncOptions options;
  options.ReportLevel = settings.default_report_level;
  options.VersionsKeep = settings.versions_keep;

  std::unique_ptr<FileSystem> fs = CreatePlatformFileSystem();
  std::vector<const char*> pointers;
  for (const std::string& argument : argv) pointers.push_back(argument.c_str());
  const std::string arguments = JoinArguments(static_cast<int>(pointers.size()), pointers.data());
  const CommandLineContext context{*fs, ProgramStateFolder(folders), settings.default_report_level,
                                   settings.versions_keep};
  // Parsing, the default report file for an empty command line, and on a
  // fault the error line with exit code 17.
  const StartupCommandLine command_line =
      ReadStartupCommandLine(arguments, settings.default_report, context, options);

  SyncSession session;
  SystemClock clock;
  StopSignalGuard signals(session.StopRequested,
                          options.DisallowStop ? InterruptPolicy::Refuse : InterruptPolicy::Stop);
  CliHost host(options, session, clock, StandardErrorOutput(&session.StopRequested), &signals);
  StdoutDisplay stdout_display(StandardStream::Output, &session.StopRequested);
  LineKeepingDisplay display(stdout_display, host);
  Reporter reporter(options, facts, *fs, display, clock);
  host.SetBytesCopied([&reporter] {
    const SessionCounters& c = reporter.Counters();
    return static_cast<double>(c.BytesCopiedToTarget + c.BytesReplacedInTarget +
                               c.BytesCopiedToSource + c.BytesReplacedInSource);
  });
  reporter.SetArgumentString(arguments);
  reporter.SetCommandLineWriter(
      [level = settings.default_report_level, keep = settings.versions_keep](const SyncOptions& o) {
        return BuildArguments(o, level, keep);
      });

  if (!command_line.valid) {
    // Shown through the message log like every other line, so that it also
    // reaches a report file and a JSON summary named before the fault;
    // nothing is run.
    reporter.AddReportLine(command_line.error_line, ReportLineKind::Error, 0, LineFlush::Throttled);
    reporter.EndRun(command_line.exit_code, command_line.error_line);
    return command_line.exit_code;
  }

  Synchronizer synchronizer(options, session, facts, *fs, reporter, host);
  synchronizer.SetDeletionGuard({.percent = settings.deletion_guard_percent});
  const RunOutcome outcome = synchronizer.Synchronize();
  host.ClearLine();
  return outcome.exit_code;
}

}  // namespace
}  // namespace twinmere::cli

int main(int argc, char** argv) {
  // On Windows the arguments are read again in UTF-8 from the wide command
  // line: argv holds them in the ANSI code page.
  return twinmere::cli::Main(twinmere::ProgramArguments(argc, argv));
}
