#include "settings/program_settings.h"

#include <algorithm>

#include "base/text.h"
#include "base/version.h"
#include "fs/paths.h"
#include "platform/errors.h"

namespace twinmere {
namespace {

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

int32_t IntegerOr(const RegistryValue& value, int32_t fallback) {
  const int32_t* number = value.Integer();
  return number != nullptr ? *number : fallback;
}

}  // namespace

std::string ProgramsFolder(const UserFolders& folders) {
  return folders.data.empty() ? std::string() : folders.data + "/applications";
}

std::string ProgramGroupName(const Registry& registry) {
  const RegistryValue entries = registry.EnumKeys(Hive::LocalMachine, kUninstallKey);
  if (const RegistryList* names = entries.List()) {
    for (const std::string& name : *names) {
      const std::string entry = std::string(kUninstallKey) + "\\" + name;
      const RegistryValue display = registry.KeyValue(Hive::LocalMachine, entry, "DisplayName");
      if (display.Text() == nullptr || !EqualIgnoringCase(*display.Text(), kProgramTitle)) continue;
      const RegistryValue group = registry.KeyValue(Hive::LocalMachine, entry, kIconGroupValue);
      if (group.Text() != nullptr && !group.Text()->empty()) return *group.Text();
      break;  // the first matching entry decides
    }
  }
  return kProgramTitle;
}

ProgramSettings ReadProgramSettings(const Registry& registry, const UserFolders& folders) {
  ProgramSettings s;
  auto read = [&](const char* name) {
    return registry.KeyValue(Hive::CurrentUser, kSettingsKey, name);
  };

  s.default_report_level = IntegerOr(read("ReportLevel"), kDefaultReportLevel);

  const RegistryValue viewer = read("Viewer");
  if (viewer.Text() != nullptr && !viewer.Text()->empty()) s.viewer = *viewer.Text();

  s.program_group_name = ProgramGroupName(registry);
  const std::string programs = ProgramsFolder(folders);
  if (!programs.empty()) s.program_group_folder = programs + "/" + s.program_group_name + "/";

  const RegistryValue shortcut_dir = read("ShortcutDir");
  if (const std::string* dir = shortcut_dir.Text()) {
    s.shortcut_dir = AddSeparator(*dir);
  } else {
    s.shortcut_dir = s.program_group_folder;
  }

  const int32_t guard = IntegerOr(read("DeletionGuard"), kDefaultDeletionGuardPercent);
  s.deletion_guard_percent = guard >= 0 && guard <= 100 ? guard : kDefaultDeletionGuardPercent;

  const RegistryValue report = read("Report");
  if (report.Text() != nullptr) s.default_report = *report.Text();
  s.versions_keep = std::max(IntegerOr(read("VersionsKeep"), 0), 0);

  const int32_t height = IntegerOr(read("Height"), kDefaultWindowHeight);
  s.height = height & ~kMaximizedFlag;
  s.maximized = (height & kMaximizedFlag) != 0;
  s.width = IntegerOr(read("Width"), kDefaultWindowWidth);
  return s;
}

bool StartsMaximized(const ProgramSettings& settings, bool start_minimized) {
  return settings.maximized && !start_minimized;
}

std::optional<RegistryError> SaveWindowSize(Registry& registry, const WindowState& after_loading,
                                            const WindowState& now) {
  std::optional<RegistryError> first_error;
  auto store = [&](const char* name, int32_t value) {
    try {
      registry.KeyValue(Hive::CurrentUser, kSettingsKey, name, value);
    } catch (const RegistryError& error) {
      if (!first_error) first_error = error;
    }
  };
  // A window restored after starting maximized must lose the stored flag,
  // even when its restored height did not change.
  if (now.maximized || now.maximized != after_loading.maximized ||
      now.height != after_loading.height) {
    store("Height", now.maximized ? (now.height | kMaximizedFlag) : now.height);
  }
  if (now.width != after_loading.width) store("Width", now.width);
  return first_error;
}

void StoreOrDeleteSetting(Registry& registry, std::string_view name, const RegistryValue& value,
                          bool is_default) {
  if (!is_default) {
    registry.KeyValue(Hive::CurrentUser, kSettingsKey, name, value);
    return;
  }
  try {
    registry.DeleteValue(Hive::CurrentUser, kSettingsKey, name);
  } catch (const RegistryError& error) {
    if (error.SystemCode() != kErrNotFound) throw;  // nothing stored: nothing to delete
  }
}

ProgramSettings EditedSettings(ProgramSettings settings, std::string_view shortcut_dir,
                               std::string_view default_report, std::string_view viewer,
                               int32_t default_report_level) {
  settings.shortcut_dir = AddSeparator(TrimBlanks(shortcut_dir));
  if (settings.shortcut_dir.empty()) settings.shortcut_dir = settings.program_group_folder;
  settings.default_report = TrimBlanks(default_report);
  settings.viewer = TrimBlanks(viewer);
  if (settings.viewer.empty()) settings.viewer = kDefaultViewer;
  settings.default_report_level = default_report_level;
  return settings;
}

std::optional<RegistryError> StoreDialogSettings(Registry& registry,
                                                 const ProgramSettings& settings) {
  std::optional<RegistryError> first_error;
  auto store = [&](std::string_view name, const RegistryValue& value, bool is_default) {
    try {
      StoreOrDeleteSetting(registry, name, value, is_default);
    } catch (const RegistryError& error) {
      if (!first_error) first_error = error;
    }
  };
  store("ReportLevel", settings.default_report_level,
        settings.default_report_level == kDefaultReportLevel);
  store("Viewer", settings.viewer,
        settings.viewer.empty() || EqualIgnoringCase(settings.viewer, kDefaultViewer));
  store("Report", settings.default_report, settings.default_report.empty());
  store("ShortcutDir", settings.shortcut_dir,
        settings.shortcut_dir.empty() || settings.shortcut_dir == settings.program_group_folder);
  store("DeletionGuard", settings.deletion_guard_percent,
        settings.deletion_guard_percent == kDefaultDeletionGuardPercent);
  store("VersionsKeep", settings.versions_keep, settings.versions_keep == 0);
  return first_error;
}

}  // namespace twinmere
