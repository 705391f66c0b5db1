// twinmere-cli's side of a run: the SyncHost that turns status and progress
// (percentage, bytes done, rate, time left) into one live line on a terminal, and the display
// decorator that keeps that line out of the way of the message lines on standard output. Ctrl+C,
// SIGTERM and SIGHUP become a stop request through a StopSignalGuard (platform/stop_signals.h).
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "app/status_progress.h"
#include "base/sync_options.h"
#include "cli/progress_line.h"
#include "engine/sync_host.h"
#include "engine/sync_session.h"
#include "platform/stop_signals.h"
#include "report/clock.h"
#include "report/report_display.h"

namespace twinmere::cli {

// The short note written to standard error when Ctrl+C is refused.
inline constexpr std::string_view kStopRefusedNote =
    "twinmere-cli: this run cannot be stopped with Ctrl+C (-ds was given).";

// Where the live line goes (standard error). `write` gets raw bytes;
// `columns` tells the terminal's width at the moment (0 when unknown).
struct TerminalOutput {
  std::function<void(std::string_view)> write;
  std::function<size_t()> columns;
  // Draw the live progress line (standard error is a terminal). Without it
  // only the refused-stop note is ever written.
  bool live = false;
};

// Terminal width used when the terminal does not tell its own.
inline constexpr size_t kDefaultColumns = 80;

class CliHost final : public SyncHost {
 public:
  // `options` is read at every call (QuickStart); `session` supplies the
  // progress figure the run sets before the first update; `signals` may be
  // null. All must outlive the host.
  CliHost(const SyncOptions& options, const SyncSession& session, const Clock& clock,
          TerminalOutput out, StopSignalGuard* signals);

  // SyncHost.
  void ShowStatus(std::string_view text, std::string_view path, double interval) override;
  void UpdateProgress(const SyncSession& session, double current_file_work) override;
  void EnterRunningState(bool disallow_stop) override;
  void EnterIdleState() override;
  void CloseProgram(int exit_code) override;
  void PumpEvents() override;

  // Where the bytes done come from: the bytes the run has copied, to which the
  // host adds those of the files in progress. Without it they are the run's
  // work done (exact under quick start).
  void SetBytesCopied(std::function<double()> bytes_copied) {
    bytes_copied_ = std::move(bytes_copied);
  }

  // Erases the live line (before other output reaches the terminal).
  void ClearLine();
  // Draws the live line again after ClearLine.
  void RedrawLine();

  // What is shown, for the tests.
  const std::string& StatusText() const { return shown_.View().status_text; }
  const std::string& StatusPath() const { return shown_.View().status_path; }
  const std::string& ProgressText() const { return shown_.View().progress_text; }
  const std::string& EtaText() const { return shown_.View().eta_text; }
  bool CloseRequested() const { return close_requested_; }

 private:
  void WriteRefusedNote();
  void Draw();
  ProgressFigures Figures();

  const SyncOptions& options_;
  const SyncSession& session_;
  const Clock& clock_;
  TerminalOutput out_;
  StopSignalGuard* signals_;
  // The status line and the progress figure, with their throttling.
  StatusProgress shown_;
  bool running_ = false;
  bool close_requested_ = false;
  std::function<double()> bytes_copied_;
  double current_file_work_ = 0;  // of the files in progress, in work units
  RateMeter rate_;
  double last_draw_ = 0;  // Clock::Now() of the last line drawn

  // The line as last written, and whether it is on screen.
  std::string drawn_;
  bool line_visible_ = false;
};

// A ReportDisplay that clears the live line before the message lines reach
// standard output through `inner`, flushes standard output, and draws the
// live line again.
class LineKeepingDisplay final : public ReportDisplay {
 public:
  LineKeepingDisplay(ReportDisplay& inner, CliHost& host) : inner_(inner), host_(host) {}
  void ShowBatch(std::string_view lines) override;
  void ShowImmediate(std::string_view line) override;
  void BeginRun() override { inner_.BeginRun(); }

 private:
  ReportDisplay& inner_;
  CliHost& host_;
};

// The TerminalOutput for the process's standard error: live when it is a
// terminal whose TERM is not "dumb". Written through WriteToStream with `stop`
// (may be null): once a stop is requested, a paused terminal is not waited for.
TerminalOutput StandardErrorOutput(const std::atomic<int>* stop);

}  // namespace twinmere::cli
