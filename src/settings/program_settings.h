// The per-user defaults kept in the registry: default report level, report
// viewer, default report file, default shortcuts folder and the main window's
// size. Read once at start-up; a value equal to its built-in default is
// deleted rather than stored, so the store holds only what differs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/sync_options.h"
#include "platform/program_start.h"
#include "platform/user_folders.h"
#include "settings/registry.h"

namespace twinmere {

// The settings key in the per-user hive.
inline constexpr char kSettingsKey[] = "SOFTWARE\\Brevald\\Twinmere";
// Where installers leave their uninstall entries, in the machine hive.
inline constexpr char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline constexpr char kIconGroupValue[] = "Inno Setup: Icon Group";

inline constexpr const char* kDefaultViewer = kSystemReportViewer;
inline constexpr int32_t kDefaultWindowHeight = 6000;  // twips
// Wide enough for a message line with a usual path (7.5 inches).
inline constexpr int32_t kDefaultWindowWidth = 10800;  // twips
// Added to the stored "Height" when the window was maximized.
inline constexpr int32_t kMaximizedFlag = 0x4000000;

struct ProgramSettings {
  int32_t default_report_level = kDefaultReportLevel;
  std::string viewer = kDefaultViewer;
  std::string program_group_name;    // the installer's group, else the program's name
  std::string program_group_folder;  // Programs folder, "/", group name, "/"; empty when unknown
  std::string shortcut_dir;          // ends in "/" unless empty
  std::string default_report;        // empty: no default report
  // The deletion guard's share of Target's items, in percent (0 to 100).
  int32_t deletion_guard_percent = kDefaultDeletionGuardPercent;
  int32_t versions_keep = 0;              // run folders a versions folder keeps; 0: all
  int32_t height = kDefaultWindowHeight;  // restored height in twips, without kMaximizedFlag
  int32_t width = kDefaultWindowWidth;    // restored width in twips
  bool maximized = false;                 // the window was maximized when last closed
};

// The desktop's Programs folder: data + "/applications", or empty when the
// data folder is unknown.
std::string ProgramsFolder(const UserFolders& folders);

// The "Inno Setup: Icon Group" text of the first uninstall entry in the
// machine hive whose "DisplayName" is "Twinmere" ignoring letter case; the
// program's name when there is none or it is empty. Never fails.
std::string ProgramGroupName(const Registry& registry);

// Reads every setting, each falling back to its built-in default when it is
// missing, unreadable or of another kind ("ReportLevel" stored as a text gives
// 215; "DeletionGuard" also outside 0 to 100). Never fails and never writes.
ProgramSettings ReadProgramSettings(const Registry& registry, const UserFolders& folders);

// Whether the main window starts maximized: the stored flag counts unless the
// program was asked to start minimized (-m).
bool StartsMaximized(const ProgramSettings& settings, bool start_minimized);

// The main window's restored size in twips and whether it is maximized.
struct WindowState {
  int32_t height = 0;
  int32_t width = 0;
  bool maximized = false;
};

// Saves the window size when the main window closes. "Height" (with
// kMaximizedFlag when maximized) is stored when the window is maximized, its
// maximized state changed since loading, or its height changed; "Width" when
// its width changed. Values not written keep what they held. Never raises:
// returns the first error met, after trying both values, so that closing goes
// on.
std::optional<RegistryError> SaveWindowSize(Registry& registry, const WindowState& after_loading,
                                            const WindowState& now);

// Stores `value` as `name` under the settings key, or deletes that value when
// `is_default` (a value that is already missing is fine). Raises
// RegistryError when the store refuses.
void StoreOrDeleteSetting(Registry& registry, std::string_view name, const RegistryValue& value,
                          bool is_default);

// The program-wide values after OK in the preferences dialog, from its
// boxes (each trimmed of blanks) and its level; the rest of `settings` stays.
// An empty shortcuts folder gives the program group folder, any other gets a
// trailing "/" (as reading it at start-up would give it); an empty viewer
// gives kDefaultViewer. Never fails.
ProgramSettings EditedSettings(ProgramSettings settings, std::string_view shortcut_dir,
                               std::string_view default_report, std::string_view viewer,
                               int32_t default_report_level);

// Writes the values that the preferences dialog edits, each deleted when
// it equals its default: "ReportLevel" when 215, "Viewer" when empty or
// kDefaultViewer ignoring case, "Report" when empty, "ShortcutDir" when empty or
// exactly the program group folder, "DeletionGuard" when 50, "VersionsKeep"
// when 0. Every value is tried, also after a
// refusal; returns the first refusal, or nothing. Never raises.
std::optional<RegistryError> StoreDialogSettings(Registry& registry,
                                                 const ProgramSettings& settings);

}  // namespace twinmere
