#include "cli/cli_host.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "report/formats.h"
#include "report/stdout_display.h"

namespace twinmere::cli {

namespace {

// Signal dispositions are process-wide, so the handlers can only reach the
// guard's state through these. They are lock-free atomics, safe to store
// into from a handler.
std::atomic<std::atomic<int>*> g_stop_requested{nullptr};
std::atomic<bool> g_interrupt_stops{false};
std::atomic<bool> g_interrupt_refused{false};
static_assert(std::atomic<std::atomic<int>*>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

struct sigaction g_previous_int;
struct sigaction g_previous_term;
struct sigaction g_previous_hup;

void RequestStop() {
  std::atomic<int>* stop = g_stop_requested.load();
  if (stop != nullptr) stop->store(1);
}

void OnSignal(int signal_number) {
  if (signal_number == SIGINT && !g_interrupt_stops.load()) {
    g_interrupt_refused.store(true);
    return;
  }
  RequestStop();
}

// Line erase: back to the first column, erase to the end of the line.
constexpr std::string_view kEraseLine = "\r\x1b[K";

}  // namespace

StopSignalGuard::StopSignalGuard(std::atomic<int>& stop_requested, InterruptPolicy policy) {
  std::atomic<int>* expected = nullptr;
  if (!g_stop_requested.compare_exchange_strong(expected, &stop_requested)) std::abort();
  g_interrupt_stops.store(policy == InterruptPolicy::Stop);
  g_interrupt_refused.store(false);
  struct sigaction stops {};
  stops.sa_handler = OnSignal;
  sigemptyset(&stops.sa_mask);
  // A signal that stops the run does not restart the call it interrupts: a
  // run blocked in a system call (a full pipe on standard output, a hung
  // network file system) gets EINTR, and every caller that sees EINTR looks
  // at the stop flag instead of waiting again.
  stops.sa_flags = 0;
  // A refused Ctrl+C restarts what it interrupted: it must not turn into an
  // EINTR failure of a copy on a network or FUSE file system.
  struct sigaction refused = stops;
  refused.sa_flags = SA_RESTART;
  sigaction(SIGINT, policy == InterruptPolicy::Stop ? &stops : &refused, &g_previous_int);
  sigaction(SIGTERM, &stops, &g_previous_term);
  // The terminal went away: stop like SIGTERM, unless the program was
  // started to ignore that (nohup).
  sigaction(SIGHUP, nullptr, &g_previous_hup);
  if (g_previous_hup.sa_handler != SIG_IGN) sigaction(SIGHUP, &stops, nullptr);
}

StopSignalGuard::~StopSignalGuard() {
  sigaction(SIGINT, &g_previous_int, nullptr);
  sigaction(SIGTERM, &g_previous_term, nullptr);
  sigaction(SIGHUP, &g_previous_hup, nullptr);
  g_stop_requested.store(nullptr);
  g_interrupt_refused.store(false);
}

bool StopSignalGuard::TakeRefusedStop() {
  return g_interrupt_refused.exchange(false);
}

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
  out.write = [stop](std::string_view bytes) { WriteOutput(STDERR_FILENO, bytes, stop); };
  out.columns = [] {
    struct winsize size {};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return size_t{0};
    return static_cast<size_t>(size.ws_col);
  };
  const char* term = std::getenv("TERM");
  out.live = isatty(STDERR_FILENO) == 1 && !(term != nullptr && std::strcmp(term, "dumb") == 0);
  return out;
}

}  // namespace twinmere::cli
