// Scheduled runs: a launcher whose synchronization runs by itself every hour,
// day or week, through a systemd user service and timer that start
// twinmere-cli with the launcher's argument string.
//
// For the launcher ".../New Synchronization.desktop" the shortcut dialog
// writes, under $XDG_CONFIG_HOME/systemd/user/:
//
//   twinmere-New\x20Synchronization.service
//     [Unit]     Description, X-Twinmere-Launcher="<the launcher's path>"
//     [Service]  Type=oneshot
//                ExecStart="<twinmere-cli beside the program>" "<argument>" ...
//   twinmere-New\x20Synchronization.timer
//     [Unit]     Description, X-Twinmere-Launcher=...
//     [Timer]    OnCalendar=hourly|daily|weekly, Persistent=true (a run missed
//                while the user was away happens at the next login)
//     [Install]  WantedBy=timers.target
//
// and enables the timer with "systemctl --user enable --now". The unit name is
// "twinmere-" and the launcher's file name without ".desktop", escaped as
// systemd-escape escapes a string. ExecStart puts every word in double
// quotes with the C escapes systemd reads there ("\\", "\"", "\xNN" for
// control characters and bytes that are not UTF-8), "%" doubled (systemd's
// specifiers) and, in the arguments, "$" doubled (its variables); systemd
// refuses quotes, backslashes and control characters in the program's own
// path, so such a path is refused here with a message.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/dialog_message.h"
#include "platform/file_system.h"
#include "platform/user_folders.h"

namespace twinmere {

enum class RunSchedule : uint8_t { Never, Hourly, Daily, Weekly };
inline constexpr RunSchedule kRunSchedules[] = {RunSchedule::Never, RunSchedule::Hourly,
                                                RunSchedule::Daily, RunSchedule::Weekly};

// "never", "hourly", "daily", "weekly": the shortcut dialog's choices and,
// but for "never", the timers' OnCalendar values.
std::string_view ScheduleName(RunSchedule schedule);

inline constexpr char kCliExecutableName[] = "twinmere-cli";

// What asking for a scheduled run says on Windows, where the program has no
// service manager to ask yet; nothing is written or run there.
inline constexpr char kScheduledRunsNotSupported[] =
    "Scheduled runs are not supported on Windows yet.";
inline constexpr char kScheduledUnitPrefix[] = "twinmere-";

// The folder of the user's own units, $XDG_CONFIG_HOME/systemd/user; empty
// when the configuration folder is unknown.
std::string UserUnitFolder(const UserFolders& folders);

// `text` escaped as "systemd-escape" escapes a string: "/" becomes "-",
// every byte but ASCII letters, digits, ":", "_" and "." (and "." as the
// first byte) becomes "\xNN" with lower-case hex digits.
std::string SystemdEscape(std::string_view text);

// The unit name, without ".service" or ".timer", of the launcher at
// `launcher_path`: kScheduledUnitPrefix and its escaped file name without
// ".desktop". Empty when the name would be too long for systemd (a unit
// name has at most 255 bytes).
std::string ScheduledUnitName(const std::string& launcher_path);

// One word of an ExecStart line, as described above: the program's path
// (nothing when systemd refuses it), or an argument.
std::optional<std::string> ExecProgramWord(std::string_view path);
std::string ExecArgumentWord(std::string_view argument);
// Reads back a word that ExecArgumentWord wrote; nothing for other text.
std::optional<std::string> ReadExecArgumentWord(std::string_view word);

// What a launcher's units are made of.
struct ScheduleRequest {
  std::string launcher;   // the launcher's path
  std::string arguments;  // its argument string
  std::string cli_path;   // the twinmere-cli the service starts
  RunSchedule schedule = RunSchedule::Never;
};

struct ScheduledUnitTexts {
  std::string name;  // without ".service" / ".timer"
  std::string service;
  std::string timer;
};

// The texts of the two units of `request` (a schedule other than Never).
// Refused with a message (help topic 6000) when they cannot run what the
// launcher runs: a program path systemd refuses, a launcher name too long
// for a unit name, an argument string a launcher cannot carry, one that
// twinmere-cli does not take or that lacks a folder, a relative folder
// (versions folder included) or file (a bare report or summary name is
// fine: it goes to the state folder).
// `fs` gives the folders their names on disk, as the program reads them.
std::optional<DialogMessage> FormatScheduledUnits(const ScheduleRequest& request, FileSystem& fs,
                                                  ScheduledUnitTexts& texts);

// How the user's service manager is asked: "systemctl --user" and the
// arguments. Tests stand in for it.
class UserServiceManager {
 public:
  virtual ~UserServiceManager() = default;
  struct Answer {
    bool ok = false;     // started and exited with 0
    std::string output;  // what it said, or why it could not start
    int exit_code = 0;   // its exit code; -1 when it did not start or a signal ended it
  };
  virtual Answer Systemctl(const std::vector<std::string>& arguments) = 0;
};

// The real one: runs systemctl --user, waiting for it.
class SystemctlUserManager final : public UserServiceManager {
 public:
  Answer Systemctl(const std::vector<std::string>& arguments) override;
};

// Where the units live and who enables them; both outlive the callers.
struct ScheduleContext {
  std::string unit_folder;  // UserUnitFolder
  UserServiceManager& manager;
};

// A scheduled launcher as its timer says.
struct ScheduledRun {
  std::string unit;      // the unit name, without ".timer"
  std::string launcher;  // the launcher's path
  RunSchedule schedule = RunSchedule::Never;
  bool operator==(const ScheduledRun&) const = default;
};

// The scheduled runs written by this program (timers named "twinmere-..."
// that carry X-Twinmere-Launcher), sorted by launcher. An unreadable folder
// or file lists nothing for it.
std::vector<ScheduledRun> ListScheduledRuns(const std::string& unit_folder);

// The schedule of the launcher at `launcher_path`: Never when none.
RunSchedule ScheduleOfLauncher(const std::string& unit_folder, const std::string& launcher_path);

// Checks `request` before the launcher is written: FormatScheduledUnits's
// refusals, twinmere-cli missing at request.cli_path, and a unit of that name
// that belongs to another launcher. Nothing to check for Never.
std::optional<DialogMessage> CheckSchedule(const ScheduleRequest& request, FileSystem& fs,
                                           const ScheduleContext& context);

// Once the launcher is written. Never: removes the launcher's units, if it
// has any (RemoveScheduledRun). Else writes both units (each replaced at
// once, mode 0644), then "systemctl --user daemon-reload" and "systemctl
// --user enable --now <timer>". Returns the message to show: nothing when all
// went well; when a unit cannot be written, why; when systemctl fails, the
// command that failed with its exit code and what it said, and the exact
// commands that start the timer later (the units stay written).
std::optional<DialogMessage> ApplySchedule(const ScheduleRequest& request, FileSystem& fs,
                                           const ScheduleContext& context);

// Stops and disables the timer ("systemctl --user disable --now"), removes
// both units and the timer's link in timers.target.wants, and reloads the
// manager; the launcher itself stays. Returns the message to show, as
// ApplySchedule (help topic 7000): a file that cannot be removed, or a
// systemctl command that failed, with the commands that finish the job.
std::optional<DialogMessage> RemoveScheduledRun(const ScheduledRun& run,
                                                const ScheduleContext& context);

}  // namespace twinmere
