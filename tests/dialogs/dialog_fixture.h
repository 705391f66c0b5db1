// What the dialog tests share: a temporary home (ui/gui_fixture.h) with the
// rest of what the dialogs are given.
#pragma once

#include <filesystem>
#include <string>

#include "app/scheduled_runs.h"
#include "app/shortcuts.h"
#include "dialogs/options_dialog.h"
#include "ui/gui_fixture.h"
#include "widgets/form.h"

namespace twinmere::ui {

struct DialogFixture : TempHome {
  OptionsDialogContext OptionsContext() {
    return {facts, folders, settings, *fs, memory, "/usr/bin/twinmere", services};
  }

  // An executable twinmere-cli under bin/ for scheduled runs to name; its path.
  std::string FakeCliProgram() {
    std::filesystem::create_directories(Path("bin"));
    WriteFile("bin/twinmere-cli", "#!/bin/sh\n");
    std::filesystem::permissions(Path("bin/twinmere-cli"), std::filesystem::perms(0755));
    return Path("bin/twinmere-cli");
  }

  ShortcutMemory memory;
  FormServices services{true, FindHelpFolder(*fs)};
};

// Stands in for systemctl --user: records the calls, answers yes.
class RecordingManager final : public UserServiceManager {
 public:
  Answer Systemctl(const std::vector<std::string>& arguments) override {
    calls.push_back(arguments);
    return {true, ""};
  }
  std::vector<std::vector<std::string>> calls;
};

}  // namespace twinmere::ui
