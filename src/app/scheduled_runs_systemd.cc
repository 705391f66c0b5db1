// The scheduled runs' units on this system: written, listed and removed in
// the user's unit folder, and the user's service manager asked through
// systemctl.
#include <algorithm>
#include <sstream>

#include "app/help_topics.h"
#include "app/scheduled_runs.h"
#include "app/shortcuts.h"
#include "platform/atomic_file_writer.h"
#include "platform/own_files.h"
#include "platform/platform_facts.h"
#include "platform/program_start.h"
#include "report/formats.h"

namespace twinmere {
namespace {

// No unit of ours is larger; a larger file is not read.
constexpr size_t kMaxUnitSize = 64 * 1024;

// The text of a unit file; empty when it cannot be read, is no regular file
// (a link is not followed) or is larger than any of ours.
std::string ReadUnitFile(const std::string& path) {
  std::string text;
  if (ReadSmallFile(path, kMaxUnitSize, FinalLink::Itself, text) != kSuccess) return {};
  return text;
}

// The launcher and the schedule a timer of ours states; nothing for any
// other file.
std::optional<ScheduledRun> ReadTimer(const std::string& text, const std::string& unit) {
  ScheduledRun run;
  run.unit = unit;
  bool has_launcher = false;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("X-Twinmere-Launcher=")) {
      const std::optional<std::string> launcher =
          ReadExecArgumentWord(std::string_view(line).substr(line.find('=') + 1));
      if (!launcher) return std::nullopt;
      run.launcher = *launcher;
      has_launcher = true;
    } else if (line.starts_with("OnCalendar=")) {
      const std::string_view value = std::string_view(line).substr(line.find('=') + 1);
      for (const RunSchedule schedule : kRunSchedules) {
        if (schedule != RunSchedule::Never && value == ScheduleName(schedule))
          run.schedule = schedule;
      }
    }
  }
  if (!has_launcher || run.schedule == RunSchedule::Never) return std::nullopt;
  return run;
}

// The path of a unit file.
std::string UnitPath(const std::string& folder, const std::string& unit, std::string_view suffix) {
  return folder + "/" + unit + std::string(suffix);
}

// A unit name as a shell command line takes it (names hold backslashes).
std::string ShellWord(const std::string& unit) {
  return "'" + unit + "'";
}

// Makes the folder and its missing parents (mode 0755 as umask allows).
ErrorCode MakeFolders(const std::string& folder) {
  for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    const std::string part = folder.substr(0, slash);
    if (const ErrorCode code = MakeFolder(part, 0755);
        code != kSuccess && code != kErrAlreadyExists)
      return code;
    if (slash == std::string::npos) return kSuccess;
  }
}

// "systemctl --user ARGUMENTS failed with exit code N: what it said", its
// first 400 bytes; a program that did not start or that a signal ended has
// no exit code to give.
std::string SystemctlFailure(const std::vector<std::string>& arguments,
                             const UserServiceManager::Answer& answer) {
  std::string command = "systemctl --user";
  for (const std::string& argument : arguments) {
    const bool plain = argument.find_first_not_of(
                           "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_.") ==
                       std::string::npos;
    command += " " + (plain ? argument : ShellWord(argument));
  }
  std::string said = answer.output;
  while (!said.empty() && (said.back() == '\n' || said.back() == ' ')) said.pop_back();
  if (said.size() > 400) said = said.substr(0, 400) + " ...";
  std::replace(said.begin(), said.end(), '\n', ' ');
  // The command stays as it would be typed (unit names are printable and
  // hold systemd's own escapes, "\x20"); what systemctl said is shown as
  // names are.
  std::string text = "\"" + command + "\" failed";
  if (answer.exit_code >= 0) text += " with exit code " + std::to_string(answer.exit_code);
  text += said.empty() ? (answer.exit_code >= 0 ? " and gave no message" : "")
                       : ": " + DisplayPath(said);
  return text;
}

}  // namespace

UserServiceManager::Answer SystemctlUserManager::Systemctl(
    const std::vector<std::string>& arguments) {
  std::vector<std::string> argv = {"systemctl", "--user"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  ProgramResult result;
  if (const ErrorCode error = RunProgram(argv, result); error != kSuccess)
    return Answer{false, "systemctl cannot be started: " + SystemErrorText(error), -1};
  return Answer{
      result.exit_status == 0,
      result.exit_status >= 0 || !result.output.empty() ? result.output : "ended by a signal",
      result.exit_status};
}

std::vector<ScheduledRun> ListScheduledRuns(const std::string& unit_folder) {
  std::vector<ScheduledRun> runs;
  if (unit_folder.empty()) return runs;
  std::vector<std::string> names;
  ListFolderNames(unit_folder, names);  // what could be read
  for (const std::string& name : names) {
    if (!name.starts_with(kScheduledUnitPrefix) || !name.ends_with(".timer")) continue;
    const std::string unit = name.substr(0, name.size() - std::string_view(".timer").size());
    if (std::optional<ScheduledRun> run = ReadTimer(ReadUnitFile(unit_folder + "/" + name), unit))
      runs.push_back(std::move(*run));
  }
  std::sort(runs.begin(), runs.end(), [](const ScheduledRun& a, const ScheduledRun& b) {
    return a.launcher != b.launcher ? a.launcher < b.launcher : a.unit < b.unit;
  });
  return runs;
}

RunSchedule ScheduleOfLauncher(const std::string& unit_folder, const std::string& launcher_path) {
  const std::string unit = ScheduledUnitName(launcher_path);
  if (unit.empty() || unit_folder.empty()) return RunSchedule::Never;
  const std::optional<ScheduledRun> run =
      ReadTimer(ReadUnitFile(UnitPath(unit_folder, unit, ".timer")), unit);
  return run && run->launcher == launcher_path ? run->schedule : RunSchedule::Never;
}

std::optional<DialogMessage> CheckSchedule(const ScheduleRequest& request, FileSystem& fs,
                                           const ScheduleContext& context) {
  if (request.schedule == RunSchedule::Never) return std::nullopt;
  const auto refusal = [](std::string text) {
    return DialogMessage{std::move(text), MessageIcon::Exclamation, kHelpShortcutDialog};
  };
  if (kBuiltForWindows) return refusal(kScheduledRunsNotSupported);
  if (context.unit_folder.empty())
    return refusal("A scheduled run needs the user's configuration folder, which is not known.");
  if (!IsProgramFile(request.cli_path))
    return refusal("A scheduled run starts twinmere-cli, which is not beside this program: \"" +
                   DisplayPath(request.cli_path) + "\".");
  ScheduledUnitTexts texts;
  if (std::optional<DialogMessage> refused = FormatScheduledUnits(request, fs, texts))
    return refused;
  const std::optional<ScheduledRun> existing =
      ReadTimer(ReadUnitFile(UnitPath(context.unit_folder, texts.name, ".timer")), texts.name);
  if (existing && existing->launcher != request.launcher)
    return refusal("The scheduled run \"" + texts.name + "\" belongs to another launcher, \"" +
                   DisplayPath(existing->launcher) +
                   "\". Give this launcher another name, or remove that scheduled run in "
                   "Preferences.");
  return std::nullopt;
}

std::optional<DialogMessage> ApplySchedule(const ScheduleRequest& request, FileSystem& fs,
                                           const ScheduleContext& context) {
  if (kBuiltForWindows) {
    if (request.schedule == RunSchedule::Never) return std::nullopt;
    return DialogMessage{kScheduledRunsNotSupported, MessageIcon::Exclamation, kHelpShortcutDialog};
  }
  if (request.schedule == RunSchedule::Never) {
    const std::string unit = ScheduledUnitName(request.launcher);
    if (ScheduleOfLauncher(context.unit_folder, request.launcher) == RunSchedule::Never)
      return std::nullopt;
    return RemoveScheduledRun(ScheduledRun{unit, request.launcher, RunSchedule::Never}, context);
  }
  if (std::optional<DialogMessage> refused = CheckSchedule(request, fs, context)) return refused;
  ScheduledUnitTexts texts;
  if (std::optional<DialogMessage> refused = FormatScheduledUnits(request, fs, texts))
    return refused;

  const auto failed = [](std::string text) {
    return DialogMessage{std::move(text), MessageIcon::Exclamation, kHelpShortcutDialog};
  };
  const std::string service = UnitPath(context.unit_folder, texts.name, ".service");
  const std::string timer = UnitPath(context.unit_folder, texts.name, ".timer");
  const AtomicWriteOptions unit_file{
      .mode = 0644, .mode_source = ModeSource::Given, .flush = FileFlush::Data};
  ErrorCode error = MakeFolders(context.unit_folder);
  if (error == kSuccess) error = WriteWholeFile(service, texts.service, unit_file);
  if (error == kSuccess) error = WriteWholeFile(timer, texts.timer, unit_file);
  if (error != kSuccess)
    return failed("The launcher is saved, but its scheduled run could not be written to \"" +
                  DisplayPath(context.unit_folder) + "\".\n\n" + SystemErrorText(error));

  const std::string timer_unit = texts.name + ".timer";
  std::vector<std::string> command = {"daemon-reload"};
  UserServiceManager::Answer answer = context.manager.Systemctl(command);
  if (answer.ok) {
    command = {"enable", "--now", timer_unit};
    answer = context.manager.Systemctl(command);
  }
  if (answer.ok) return std::nullopt;
  return failed("The scheduled run is saved as \"" + DisplayPath(timer) +
                "\", but it is not started: " + SystemctlFailure(command, answer) + "." +
                "\n\nIn a session with a user service manager, start it with:\n\n"
                "systemctl --user daemon-reload\n"
                "systemctl --user enable --now " +
                ShellWord(timer_unit));
}

std::optional<DialogMessage> RemoveScheduledRun(const ScheduledRun& run,
                                                const ScheduleContext& context) {
  if (kBuiltForWindows)
    return DialogMessage{kScheduledRunsNotSupported, MessageIcon::Exclamation, kHelpPreferences};
  const std::string timer_unit = run.unit + ".timer";
  // Stopped and disabled first, while the manager still knows the timer.
  const UserServiceManager::Answer disabled =
      context.manager.Systemctl({"disable", "--now", timer_unit});
  ErrorCode error = kSuccess;
  const std::string wants = context.unit_folder + "/timers.target.wants/" + timer_unit;
  PathFacts wanted;
  if (LookUpPath(wants, FinalLink::Itself, wanted) == kSuccess && wanted.kind == PathKind::Link)
    error = RemoveFile(wants);
  for (const char* suffix : {".timer", ".service"}) {
    const ErrorCode code = RemoveFile(UnitPath(context.unit_folder, run.unit, suffix));
    if (code != kSuccess && code != kErrNotFound && error == kSuccess) error = code;
  }
  const auto failed = [](std::string text) {
    return DialogMessage{std::move(text), MessageIcon::Exclamation, kHelpPreferences};
  };
  if (error != kSuccess)
    return failed("The scheduled run \"" + run.unit + "\" could not be removed from \"" +
                  DisplayPath(context.unit_folder) + "\".\n\n" + SystemErrorText(error));
  const std::vector<std::string> reload = {"daemon-reload"};
  const UserServiceManager::Answer reloaded = context.manager.Systemctl(reload);
  if (disabled.ok && reloaded.ok) return std::nullopt;
  return failed("The scheduled run \"" + run.unit + "\" is removed, but " +
                (disabled.ok ? SystemctlFailure(reload, reloaded)
                             : SystemctlFailure({"disable", "--now", timer_unit}, disabled)) +
                "." +
                "\n\nIn a session with a user service manager, a timer that still runs stops "
                "with:\n\nsystemctl --user stop " +
                ShellWord(timer_unit) + "\nsystemctl --user daemon-reload");
}

}  // namespace twinmere
