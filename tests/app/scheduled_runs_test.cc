#include "app/scheduled_runs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "platform/program_start.h"
#include "support/temp_tree.h"

namespace twinmere {
namespace {

using testing::TempTree;

// Records what systemctl is asked and gives the answer the test sets.
class FakeManager final : public UserServiceManager {
 public:
  Answer Systemctl(const std::vector<std::string>& arguments) override {
    calls.push_back(arguments);
    return answer;
  }
  std::vector<std::vector<std::string>> calls;
  Answer answer{true, ""};
};

// Runs a program of the system; its output, or nothing when it cannot run.
std::optional<ProgramResult> RunSystemProgram(const std::vector<std::string>& argv) {
  ProgramResult result;
  if (RunProgram(argv, result) != 0) return std::nullopt;
  return result;
}

TEST(ScheduledRuns, UnitNamesAreEscapedAsSystemdEscapeDoes) {
  const std::string names[] = {"New Synchronization", "backup-daily", ".hidden", "a/b",
                               "Ä photo 100% $HOME",  "back\\slash",  "caf\xE9", "x:y_z.1"};
  for (const std::string& name : names) {
    const std::optional<ProgramResult> reference = RunSystemProgram({"systemd-escape", "--", name});
    if (!reference) GTEST_SKIP() << "systemd-escape cannot run here (package systemd)";
    ASSERT_EQ(reference->exit_status, 0) << name;
    EXPECT_EQ(SystemdEscape(name) + "\n", reference->output) << name;
  }
  EXPECT_EQ(ScheduledUnitName("/apps/New Synchronization.desktop"),
            "twinmere-New\\x20Synchronization");
  EXPECT_EQ(ScheduledUnitName("/apps/" + std::string(61, 'a') + ".desktop").size(), 70u);
  EXPECT_EQ(ScheduledUnitName("/apps/" + std::string(62, '%') + ".desktop"), "");  // too long
}

class ScheduledUnitsTest : public ::testing::Test {
 protected:
  ScheduledUnitsTest() {
    // A program path with what systemd takes there: blanks, "%", "$",
    // UTF-8 and a byte that is not UTF-8.
    cli_ = tree_.Path("opt/my 50%n $apps \xC3\xA4\xFF/twinmere-cli");
    tree_.WriteFile("opt/my 50%n $apps \xC3\xA4\xFF/twinmere-cli", "#!/bin/sh\n");
    tree_.SetMode("opt/my 50%n $apps \xC3\xA4\xFF/twinmere-cli", 0755);
    tree_.MakeFolder("config");
    tree_.MakeFolder("runtime");
    tree_.SetMode("runtime", 0700);
  }

  ScheduleRequest Request(const std::string& arguments,
                          const std::string& launcher = "/apps/Daily backup.desktop") {
    return ScheduleRequest{launcher, arguments, cli_, RunSchedule::Daily};
  }

  std::string UnitFolder() const { return tree_.Path("config/systemd/user"); }

  TempTree tree_;
  std::unique_ptr<FileSystem> fs_ = CreatePlatformFileSystem();
  std::string cli_;
  FakeManager manager_;
};

// The arguments reach twinmere-cli as the launcher gives them: each word
// read back gives the argument, and systemd-analyze finds the program at the
// path written (it checks that it is there and may be run) and nothing to
// warn about.
TEST_F(ScheduledUnitsTest, UnitsCarryTheLaunchersCommandLineAndPassVerification) {
  const std::string arguments =
      "-d -r \"/var/log/my \"\"r\"\" 50% $HOME \\ .txt\" -rj run.json \"/data/Ä src/\" /dst/";
  ScheduledUnitTexts texts;
  ASSERT_EQ(FormatScheduledUnits(Request(arguments), *fs_, texts), std::nullopt);
  EXPECT_EQ(texts.name, "twinmere-Daily\\x20backup");
  const std::string exec = "ExecStart=" + *ExecProgramWord(cli_) +
                           " \"-d\" \"-r\" \"/var/log/my \\\"r\\\" 50%% $$HOME \\\\ .txt\" "
                           "\"-rj\" \"run.json\" \"/data/Ä src/\" \"/dst/\"\n";
  EXPECT_NE(texts.service.find("\n[Service]\nType=oneshot\n" + exec), std::string::npos)
      << texts.service;
  EXPECT_NE(texts.timer.find("\n[Timer]\nOnCalendar=daily\nPersistent=true\n\n[Install]\n"
                             "WantedBy=timers.target\n"),
            std::string::npos)
      << texts.timer;
  for (const std::string* text : {&texts.service, &texts.timer}) {
    EXPECT_NE(text->find("\nX-Twinmere-Launcher=\"/apps/Daily backup.desktop\"\n"),
              std::string::npos);
  }
  EXPECT_EQ(*ExecProgramWord(cli_),
            "\"" + tree_.Root() + "/opt/my 50%%n $apps ä\\xff/twinmere-cli\"");

  for (const std::string word : {"", "a b", "\"q\" \\ 100% $X ${Y}", "\xFF\x01\n", "ä€𝄞"})
    EXPECT_EQ(ReadExecArgumentWord(ExecArgumentWord(word)), word) << word;

  tree_.WriteFile("units/" + texts.name + ".service", texts.service);
  tree_.WriteFile("units/" + texts.name + ".timer", texts.timer);
  const std::optional<ProgramResult> verified =
      RunSystemProgram({"env", "XDG_RUNTIME_DIR=" + tree_.Path("runtime"), "systemd-analyze",
                        "--user", "verify", tree_.Path("units/" + texts.name + ".service"),
                        tree_.Path("units/" + texts.name + ".timer")});
  if (!verified || verified->exit_status == 127)
    GTEST_SKIP() << "systemd-analyze cannot run here (package systemd)";
  EXPECT_EQ(verified->exit_status, 0) << verified->output;
  EXPECT_EQ(verified->output, "");
}

TEST_F(ScheduledUnitsTest, WhatAUnitCannotRunIsRefusedWithAReason) {
  const std::string dst = tree_.Folder("dst");
  const struct {
    ScheduleRequest request;
    const char* says;
  } cases[] = {
      {{"/apps/a.desktop", "/src/ /dst/", tree_.Path("opt/q\"uote/twinmere-cli"),
        RunSchedule::Daily},
       "systemd does not take quotes"},
      {Request("/src/ /dst/", "/apps/" + std::string(120, ' ') + ".desktop"), "too long"},
      {Request("-zz /src/ /dst/"), "needs a valid command line"},
      {Request("-d /src/"), "names both folders"},
      {Request("-d src/ /dst/"), "\"src/\" needs its full path"},
      {Request("-r logs/r.txt /src/ /dst/"), "\"logs/r.txt\" needs its full path"},
      {Request("-v ~/versions /src/ /dst/"), "\"~/versions/\" needs its full path"},
      {Request("-r \"/a b\"x /src/ /dst/"), "cannot be made of this command line"},
  };
  for (const auto& c : cases) {
    ScheduledUnitTexts texts;
    const std::optional<DialogMessage> refused = FormatScheduledUnits(c.request, *fs_, texts);
    ASSERT_TRUE(refused.has_value()) << c.says;
    EXPECT_NE(refused->text.find(c.says), std::string::npos) << refused->text;
  }
  // Before the launcher is written: twinmere-cli must be there.
  ScheduleRequest missing = Request("/src/ /dst/");
  missing.cli_path = tree_.Path("opt/none/twinmere-cli");
  const ScheduleContext context{UnitFolder(), manager_};
  const std::optional<DialogMessage> refused = CheckSchedule(missing, *fs_, context);
  ASSERT_TRUE(refused.has_value());
  EXPECT_NE(refused->text.find("not beside this program"), std::string::npos);
  EXPECT_EQ(CheckSchedule(Request(dst + " " + dst), *fs_, context), std::nullopt);
}

// Saving writes the units and enables the timer; the list shows it; another
// launcher of the same name cannot take its units; removing disables the
// timer and removes the units, the link that enabled it included.
TEST_F(ScheduledUnitsTest, ScheduledRunsAreEnabledListedAndRemoved) {
  const ScheduleContext context{UnitFolder(), manager_};
  const ScheduleRequest request = Request("-d /src/ /dst/");
  ASSERT_EQ(ApplySchedule(request, *fs_, context), std::nullopt);
  const std::string unit = "twinmere-Daily\\x20backup";
  using Calls = std::vector<std::vector<std::string>>;
  EXPECT_EQ(manager_.calls, (Calls{{"daemon-reload"}, {"enable", "--now", unit + ".timer"}}));
  EXPECT_EQ(tree_.List("config/systemd/user"),
            (std::vector<std::string>{unit + ".service", unit + ".timer"}));
  const ScheduledRun run{unit, "/apps/Daily backup.desktop", RunSchedule::Daily};
  EXPECT_EQ(ListScheduledRuns(UnitFolder()), std::vector<ScheduledRun>{run});
  EXPECT_EQ(ScheduleOfLauncher(UnitFolder(), request.launcher), RunSchedule::Daily);
  EXPECT_EQ(ScheduleOfLauncher(UnitFolder(), "/other/Daily backup.desktop"), RunSchedule::Never);

  ScheduleRequest weekly = request;
  weekly.schedule = RunSchedule::Weekly;
  ASSERT_EQ(ApplySchedule(weekly, *fs_, context), std::nullopt);
  EXPECT_EQ(ScheduleOfLauncher(UnitFolder(), request.launcher), RunSchedule::Weekly);
  const std::optional<DialogMessage> taken =
      CheckSchedule(Request("-d /src/ /dst/", "/other/Daily backup.desktop"), *fs_, context);
  ASSERT_TRUE(taken.has_value());
  EXPECT_NE(taken->text.find("belongs to another launcher"), std::string::npos) << taken->text;

  // Where systemctl enabled it, a link in timers.target.wants goes too.
  tree_.MakeLink("config/systemd/user/timers.target.wants/" + unit + ".timer",
                 "../" + unit + ".timer");
  manager_.calls.clear();
  ScheduleRequest never = request;
  never.schedule = RunSchedule::Never;
  EXPECT_EQ(ApplySchedule(never, *fs_, context), std::nullopt);
  EXPECT_EQ(manager_.calls, (Calls{{"disable", "--now", unit + ".timer"}, {"daemon-reload"}}));
  EXPECT_EQ(tree_.List("config/systemd/user"), std::vector<std::string>{"timers.target.wants"});
  EXPECT_EQ(tree_.List("config/systemd/user/timers.target.wants"), std::vector<std::string>{});
  EXPECT_EQ(ListScheduledRuns(UnitFolder()), std::vector<ScheduledRun>{});
  manager_.calls.clear();
  EXPECT_EQ(ApplySchedule(never, *fs_, context), std::nullopt);  // nothing left to remove
  EXPECT_EQ(manager_.calls, Calls{});
}

// Without a user service manager (no session bus here), the units are
// written all the same; the message names the systemctl command that failed,
// its exit code and what it said, and gives the commands that start them.
TEST_F(ScheduledUnitsTest, WhenSystemctlFailsTheMessageSaysHowAndHowToStartIt) {
  manager_.answer = {false, "Failed to connect to bus: No medium found\n", 1};
  const ScheduleContext context{UnitFolder(), manager_};
  const std::optional<DialogMessage> message =
      ApplySchedule(Request("-d /src/ /dst/"), *fs_, context);
  ASSERT_TRUE(message.has_value());
  EXPECT_NE(message->text.find("it is not started: \"systemctl --user daemon-reload\" failed "
                               "with exit code 1: Failed to connect to bus: No medium found.\n\n"),
            std::string::npos)
      << message->text;
  EXPECT_TRUE(
      message->text.ends_with("systemctl --user daemon-reload\n"
                              "systemctl --user enable --now 'twinmere-Daily\\x20backup.timer'"))
      << message->text;
  // A systemctl that says nothing, or that a signal ends, is named all the same.
  for (const auto& [answer, said] :
       {std::pair{UserServiceManager::Answer{false, "", 3},
                  "failed with exit code 3 and gave no "
                  "message."},
        std::pair{UserServiceManager::Answer{false, "ended by a signal", -1},
                  "\"systemctl --user daemon-reload\" failed: ended by a signal."}}) {
    manager_.answer = answer;
    const std::optional<DialogMessage> failed =
        ApplySchedule(Request("-d /src/ /dst/"), *fs_, context);
    ASSERT_TRUE(failed.has_value());
    EXPECT_NE(failed->text.find(said), std::string::npos) << failed->text;
  }
  EXPECT_EQ(ListScheduledRuns(UnitFolder()).size(), 1u);
  manager_.answer = {false, "Failed to connect to bus: No medium found\n", 1};

  const std::optional<DialogMessage> removed =
      RemoveScheduledRun(ListScheduledRuns(UnitFolder()).front(), context);
  ASSERT_TRUE(removed.has_value());
  EXPECT_NE(removed->text.find("is removed, but \"systemctl --user disable --now "
                               "'twinmere-Daily\\x20backup.timer'\" failed with exit code 1: "
                               "Failed to connect to bus: No medium found."),
            std::string::npos)
      << removed->text;
  EXPECT_NE(removed->text.find("systemctl --user stop 'twinmere-Daily\\x20backup.timer'"),
            std::string::npos)
      << removed->text;
  EXPECT_EQ(tree_.List("config/systemd/user"), std::vector<std::string>{});
}

}  // namespace
}  // namespace twinmere
