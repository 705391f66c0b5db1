// What Windows does not have yet says so, and nothing is read or written.
#include <gtest/gtest.h>

#include "app/scheduled_runs.h"
#include "app/shortcuts.h"
#include "support/memory_file_system.h"

namespace twinmere {
namespace {

class NoQuestions final : public ShortcutSaveQuestions {
 public:
  void Show(const DialogMessage& message) override { shown.push_back(message.text); }
  bool Ask(const DialogMessage&) override { return true; }
  std::vector<std::string> shown;
};

class NoManager final : public UserServiceManager {
 public:
  Answer Systemctl(const std::vector<std::string>&) override {
    ++calls;
    return {};
  }
  int calls = 0;
};

TEST(NotOnWindows, LaunchersAndScheduledRunsAreRefusedWithOneMessage) {
  MemoryFileSystem fs;
  OptionsDialogState state;
  ShortcutMemory memory;
  const std::optional<DialogMessage> read =
      ReadShortcutOptions("C:/Launchers/a.desktop", ShortcutOptionsContext{}, state, memory);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->text, kLaunchersNotSupported);

  NoQuestions questions;
  const ShortcutDialogContext dialog{fs,
                                     "C:/Program Files/Twinmere/twinmere.exe",
                                     "C:/Launchers/",
                                     kDefaultReportLevel,
                                     "",
                                     nullptr,
                                     0};
  const ShortcutDialogFields fields{"C:/Launchers/", "a", "", "twinmere.exe C:/src C:/dst",
                                    RunSchedule::Never};
  EXPECT_EQ(SaveShortcut(fields, dialog, memory, questions), SaveOutcome::KeepOpen);
  EXPECT_EQ(questions.shown, std::vector<std::string>{kLaunchersNotSupported});
  EXPECT_TRUE(memory.LastShortcutFile.empty());

  NoManager manager;
  const ScheduleContext schedule{"C:/units", manager};
  const ScheduleRequest request{"C:/Launchers/a.desktop", "C:/src C:/dst", "twinmere-cli.exe",
                                RunSchedule::Daily};
  for (const std::optional<DialogMessage>& message :
       {CheckSchedule(request, fs, schedule), ApplySchedule(request, fs, schedule),
        RemoveScheduledRun({"twinmere-a", "C:/Launchers/a.desktop", RunSchedule::Daily},
                           schedule)}) {
    ASSERT_TRUE(message.has_value());
    EXPECT_EQ(message->text, kScheduledRunsNotSupported);
  }
  EXPECT_EQ(manager.calls, 0);
}

}  // namespace
}  // namespace twinmere
