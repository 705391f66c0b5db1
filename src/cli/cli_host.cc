#include "cli/cli_host.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "platform/standard_streams.h"
#include "report/formats.h"

namespace twinmere::cli {

namespace {

// Line erase: back to the first column, erase to the end of the line.
constexpr std::string_view kEraseLine = "\r\x1b[K";

}  // namespace

CliHost::CliHost(const SyncOptions& options, const SyncSession& session, const Clock& clock,
                 TerminalOutput out, StopSignalGuard* signals)
    : options_(options),
      session_(session),
      clock_(clock),
      out_(std::move(out)),
      signals_(signals),
      shown_(clock, LocaleClockStyle(), ProcessSeparators().thousands) {}

void CliHost::ShowStatus(std::string_view text, std::string_view path, double interval) {
  WriteRefusedNote();
  if (shown_.ShowStatus(text, path, interval)) Draw();
}

// The bytes, rate and time left move on between the steps of the
// percentage: the line follows them at least every second.
void CliHost::UpdateProgress(const SyncSession& session, double current_file_work) {
  WriteRefusedNote();
  current_file_work_ = current_file_work;
  const bool changed = shown_.UpdateProgress(options_.QuickStart, session, current_file_work);
  const double now = clock_.Now();
  if (changed || now - last_draw_ >= 1 || now < last_draw_) Draw();
}

void CliHost::EnterRunningState(bool /*disallow_stop*/) {
  running_ = true;
  shown_.BeginRun();
  rate_.Reset();
  current_file_work_ = 0;
}

void CliHost::EnterIdleState() {
  ClearLine();
  running_ = false;
  drawn_.clear();
  shown_.EndRun();
}

void CliHost::CloseProgram(int /*exit_code*/) {
  // The process ends with the session's exit code as soon as the run returns;
  // the live line goes now, as the window would.
  EnterIdleState();
  close_requested_ = true;
}

void CliHost::PumpEvents() {
  WriteRefusedNote();
}

void CliHost::WriteRefusedNote() {
  if (signals_ == nullptr || !signals_->TakeRefusedStop()) return;
  bool was_visible = line_visible_;
  ClearLine();
  out_.write(std::string(kStopRefusedNote) + "\n");
  if (was_visible) RedrawLine();
}

void CliHost::ClearLine() {
  if (!line_visible_) return;
  out_.write(kEraseLine);
  line_visible_ = false;
}

void CliHost::RedrawLine() {
  if (!out_.live || !running_ || drawn_.empty()) return;
  out_.write(std::string(kEraseLine) + drawn_);
  line_visible_ = true;
}

// The figures once the copying has begun (the percentage shows) or under
// quick start: the bytes done with their rate, and with a percentage the
// time left at the pace so far.
ProgressFigures CliHost::Figures() {
  const StatusProgressView& view = shown_.View();
  ProgressFigures figures;
  if (!view.percent_shown && !options_.QuickStart) return figures;
  const double now = clock_.Now();
  const double in_progress = current_file_work_ * kBytesPerWorkUnit;
  figures.bytes_done = bytes_copied_ ? bytes_copied_() + in_progress
                                     : (session_.WorkDone * kBytesPerWorkUnit) + in_progress;
  rate_.Add(now, figures.bytes_done);
  figures.bytes_per_second = rate_.Rate();
  if (view.percent_shown) {
    figures.fraction = view.fraction_done + view.fraction_current;
    if (figures.fraction > 0 && session_.CopyStartTime > 0 && now >= session_.CopyStartTime)
      figures.seconds_left =
          (now - session_.CopyStartTime) * (1 - std::min(figures.fraction, 1.0)) / figures.fraction;
  }
  return figures;
}

void CliHost::Draw() {
  if (!out_.live || !running_) return;
  size_t columns = out_.columns ? out_.columns() : 0;
  if (columns == 0) columns = kDefaultColumns;
  const StatusProgressView& view = shown_.View();
  last_draw_ = clock_.Now();
  std::string line = ComposeProgressLine({view.status_text, view.status_path, Figures()}, columns);
  if (line == drawn_ && line_visible_) return;
  drawn_ = std::move(line);
  out_.write(std::string(kEraseLine) + drawn_);
  line_visible_ = true;
}

void LineKeepingDisplay::ShowBatch(std::string_view lines) {
  host_.ClearLine();
  inner_.ShowBatch(lines);
  std::cout.flush();
  std::fflush(stdout);
  host_.RedrawLine();
}

void LineKeepingDisplay::ShowImmediate(std::string_view line) {
  host_.ClearLine();
  inner_.ShowImmediate(line);
  std::cout.flush();
  std::fflush(stdout);
  host_.RedrawLine();
}

TerminalOutput StandardErrorOutput(const std::atomic<int>* stop) {
  TerminalOutput out;
  out.write = [stop](std::string_view bytes) { WriteToStream(StandardStream::Error, bytes, stop); };
  out.columns = [] { return TerminalColumns(StandardStream::Error); };
  const char* term = std::getenv("TERM");
  out.live =
      IsTerminal(StandardStream::Error) && !(term != nullptr && std::strcmp(term, "dumb") == 0);
  return out;
}

}  // namespace twinmere::cli
