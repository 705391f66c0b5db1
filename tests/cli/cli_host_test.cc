#include "cli/cli_host.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "report/report_fakes.h"

namespace twinmere::cli {
namespace {

// Everything written to the terminal, and the display calls, in one log.
struct Terminal {
  std::vector<std::string> log;
  size_t columns = 200;
  TerminalOutput Output(bool live) {
    return {[this](std::string_view s) { log.emplace_back(s); }, [this] { return columns; }, live};
  }
  std::string Last() const { return log.empty() ? "" : log.back(); }
};

class CliHostTest : public ::testing::Test {
 protected:
  CliHost MakeHost(bool live = true, StopSignalGuard* signals = nullptr) {
    return CliHost(options, session, clock, terminal.Output(live), signals);
  }
  SyncOptions options;
  SyncSession session;
  testing::FakeClock clock;
  Terminal terminal;
};

TEST_F(CliHostTest, StatusIsThrottledButNeverLostAndNeverWraps) {
  CliHost host = MakeHost();
  host.EnterRunningState(false);
  host.ShowStatus("Searching files to copy to Target ...   ", "", 0);
  EXPECT_EQ(host.StatusText(), "Searching files to copy to Target ...   ");

  clock.timer += 0.2;
  host.ShowStatus("Copying to Target ...   ", "/src/a.txt", 0.5);
  EXPECT_EQ(host.StatusPath(), "") << "within the interval the new status waits";

  clock.timer += 0.4;  // the update timer's call with an empty text shows what waits
  host.ShowStatus("", "", 0.5);
  EXPECT_EQ(host.StatusText(), "Copying to Target ...   ");
  EXPECT_EQ(host.StatusPath(), "/src/a.txt");
  EXPECT_EQ(terminal.Last(),
            "\r\x1b[K"
            "Copying to Target ...   /src/a.txt");

  // Interval 0 shows at once, however recent the last change.
  host.ShowStatus("Deleting ...   ", "/dst/old", 0);
  EXPECT_EQ(host.StatusText(), "Deleting ...   ");

  // A narrow terminal's line never wraps.
  terminal.columns = 30;
  host.ShowStatus("Copying to Target ...   ", "/very/long/path/to/some/file.bin", 0);
  const std::string line = terminal.Last().substr(4);  // after the erase sequence
  EXPECT_TRUE(line.starts_with("Copying")) << line;
  EXPECT_LT(DisplayWidth(line), 30u) << line;
}

TEST_F(CliHostTest, PercentProgressWithEstimateAndHalfPercentStepsOrBytesUnderQuickStart) {
  CliHost host = MakeHost();
  host.EnterRunningState(false);
  session.CopyStartTime = clock.now;

  // Exploring: no percentage yet.
  session.WorkTotal = 200;
  session.WorkDone = 50;
  host.UpdateProgress(session, 0);
  EXPECT_EQ(host.ProgressText(), "");

  session.PercentMode = true;
  clock.timer += 1;
  clock.now += 600;
  host.UpdateProgress(session, 0);
  EXPECT_EQ(host.ProgressText(), "25%");
  EXPECT_TRUE(host.EtaText().starts_with("Estimated End Time: ")) << host.EtaText();

  // Within half a second nothing is recomputed.
  session.WorkDone = 150;
  clock.timer += 0.3;
  host.UpdateProgress(session, 0);
  EXPECT_EQ(host.ProgressText(), "25%");

  // A change under half a percent is not shown; a file in progress is.
  session.WorkDone = 50.8;
  clock.timer += 0.6;
  host.UpdateProgress(session, 0);
  EXPECT_EQ(host.ProgressText(), "25%");
  clock.timer += 0.6;
  host.UpdateProgress(session, 20);
  EXPECT_EQ(host.ProgressText(), "35%");

  // Nothing to do at all counts as done.
  session.WorkTotal = 0;
  clock.timer += 0.6;
  host.UpdateProgress(session, 0);
  EXPECT_EQ(host.ProgressText(), "100%");

  // Quick start counts bytes, without an estimate.
  options.QuickStart = true;
  CliHost quick = MakeHost();
  quick.EnterRunningState(false);
  session.WorkDone = 123.4567;  // work units of 10,000 bytes
  quick.UpdateProgress(session, 0.5);
  EXPECT_EQ(quick.ProgressText(), "1,239,567 bytes processed");
  EXPECT_EQ(quick.EtaText(), "");
}

TEST_F(CliHostTest, LineIsClearedAroundMessageLinesAndAtTheEnd) {
  struct Inner final : ReportDisplay {
    explicit Inner(Terminal& t) : t(t) {}
    void ShowBatch(std::string_view lines) override {
      t.log.push_back("batch:" + std::string(lines));
    }
    void ShowImmediate(std::string_view line) override {
      t.log.push_back("now:" + std::string(line));
    }
    Terminal& t;
  } inner(terminal);
  CliHost host = MakeHost();
  LineKeepingDisplay display(inner, host);
  host.EnterRunningState(false);
  host.ShowStatus("Copying to Target ...   ", "/a", 0);
  terminal.log.clear();

  display.ShowBatch("Copied file: /a");
  EXPECT_EQ(terminal.log, (std::vector<std::string>{"\r\x1b[K", "batch:Copied file: /a",
                                                    "\r\x1b[K"
                                                    "Copying to Target ...   /a"}));
  terminal.log.clear();
  host.EnterIdleState();
  EXPECT_EQ(terminal.log, std::vector<std::string>{"\r\x1b[K"});
  // Lines after the run are not followed by a stale progress line.
  terminal.log.clear();
  display.ShowImmediate("Synchronization completed.");
  EXPECT_EQ(terminal.log, std::vector<std::string>{"now:Synchronization completed."});
}

#ifndef _WIN32  // no signals there: tests/platform/platform_win32_test.cc has its console
// Which signals stop a run is decided end to end in twinmere_cli_test
// (StopSignalsDuringALargeReplacement); here only what no process test sees:
// a hangup ignored at start (under nohup) stays ignored, and a refused
// interrupt leaves the run going with one note.
TEST_F(CliHostTest, IgnoredHangupAndRefusedInterruptLeaveTheRunGoing) {
  signal(SIGHUP, SIG_IGN);
  {
    StopSignalGuard guard(session.StopRequested, InterruptPolicy::Stop);
    raise(SIGHUP);
    EXPECT_EQ(session.StopRequested.load(), 0);
  }
  signal(SIGHUP, SIG_DFL);

  StopSignalGuard guard(session.StopRequested, InterruptPolicy::Refuse);
  CliHost host = MakeHost(/*live=*/false, &guard);
  host.EnterRunningState(true);
  raise(SIGINT);
  raise(SIGINT);
  EXPECT_EQ(session.StopRequested.load(), 0);
  host.PumpEvents();
  host.PumpEvents();
  EXPECT_EQ(terminal.log, std::vector<std::string>{std::string(kStopRefusedNote) + "\n"});
}
#endif

}  // namespace
}  // namespace twinmere::cli
