// The one sink for every line the program shows or writes to the report file,
// the report file itself, and the action and error lines with their counters.
//
// Every line passes through AddReportLine. It goes to the display (the
// window's message box, or standard output for twinmere-cli) and, when the
// report level admits its kind, to the report buffer, which FlushReport writes
// to the report file in batches: the file is opened, appended to and closed at
// every flush, never held open.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/sync_options.h"
#include "platform/errors.h"
#include "platform/file_system.h"
#include "platform/platform_facts.h"
#include "report/clock.h"
#include "report/formats.h"
#include "report/report_display.h"
#include "report/run_summary_json.h"
#include "report/session_counters.h"

namespace twinmere {

class TextFileWriter;

enum class ReportLineKind : int { Action = 0, Error = -1 };

// How a line is flushed: with the others at the throttle interval, at once
// (a line that stays at the bottom of the display), or as the run's last line
// (which writes the summary and the end line).
enum class LineFlush : uint8_t { Throttled, Immediate, Final };

// Which folder an action was done in.
enum class Side : uint8_t { Target, Source };

// Synchronizes the report file alone when it lies inside Source or Target.
// Implemented by the run driver; called by FlushReport.
class ReportSelfSync {
 public:
  virtual ~ReportSelfSync() = default;
  // towards = true: bring the other side's copy onto the report before
  // appending; false: copy the finished report to the other side.
  virtual void SyncReportFile(bool towards) = 0;
};

// State of the current run that the run driver sets and the reporter reads.
struct ReportRunState {
  bool ReportInSource = false;
  bool ReportInTarget = false;
  std::string ReportShortPath;  // recorded at the first opening
  // A preview's report that lies inside Source or Target: it is never
  // written (nor its folders made); its lines go to the display alone.
  bool ReportSuppressed = false;
  // The same for its JSON summary: EndRun writes none.
  bool SummarySuppressed = false;
  bool SecuritySupport = false;  // for the summary
  const std::atomic<int>* StopRequested = nullptr;
  std::atomic<bool> Closing{false};  // the main window is closing (window thread)
  // A report or JSON summary could not be written: the program stays open
  // to show why, whatever Quiet says.
  bool WriteFailed = false;
  // The folder of the versions folder where this run keeps what it deletes
  // or replaces (ending in "/"), once made; else empty.
  std::string KeptIn;
};

// The options as a launcher's argument string (the JSON summary's
// "command_line"); the front end supplies it, since the command line is
// written above this layer.
using CommandLineWriter = std::function<std::string(const SyncOptions&)>;

class Reporter {
 public:
  // `options` is read at every call (Report, Append, Restriction, ReportLevel,
  // Bidi, Source, Target ...) while no run has options of its own.
  Reporter(const SyncOptions& options, const PlatformFacts& facts, FileSystem& fs,
           ReportDisplay& display, const Clock& clock);

  // The options of the run under way, its folders as the run spells them:
  // read instead of those given above until set back to null.
  void SetRunOptions(const SyncOptions* options) { run_options_ = options; }
  const SyncOptions& Options() const { return run_options_ != nullptr ? *run_options_ : options_; }

  void SetSelfSync(ReportSelfSync* self_sync) { self_sync_ = self_sync; }
  // The argument string printed by the summary's command-line row.
  void SetArgumentString(std::string arguments) { arguments_ = std::move(arguments); }
  void SetCommandLineWriter(CommandLineWriter writer) { command_line_writer_ = std::move(writer); }

  // Start of a run: counters, ErrorCount and the immediate length to zero,
  // ReportInSource/ReportInTarget/ReportSuppressed/SummarySuppressed
  // and WriteFailed cleared, ReportShortPath emptied, the kept errors dropped
  // and the run's start time taken for the JSON summary.
  void BeginRun();

  // End of a run whose exit code is known, also of one that was refused
  // (`message`: the line that refused it) or never began (an invalid command
  // line; the start time is then now): writes the JSON summary when
  // JsonSummary is set. A failure shows "Error writing JSON summary to file
  // "...". ..." as an immediate line and sets WriteFailed, as a report write
  // failure does; the exit code stays.
  void EndRun(int exit_code, std::string_view message = {});

  // The one sink for every line: `text` goes to the display and, when the
  // report level admits `kind` and a report path is set, to the report
  // buffer. Throttled lines are flushed together once `interval` seconds have
  // passed since the last flush; Immediate shows the line at once at the
  // bottom of the display; Final flushes and finishes the report (an empty
  // text finishes it without a line). Never fails: a report write failure
  // becomes one immediate message (see FlushReport).
  void AddReportLine(std::string_view text, ReportLineKind kind, double interval, LineFlush flush);

  // Writes the report buffer to the report file (the first flush of a run
  // creates the report's folders, opens or replaces the file and writes the
  // start line); with `final` also the report's own pending-copy line, the
  // summary and the end line. The run driver calls it once before the first
  // phase so that the report starts with the run; every other flush comes
  // from AddReportLine. Does nothing while the report file synchronizes
  // itself or without a report path. A failure to open, write or close shows
  // "Error writing report to file ..." once, sets WriteFailed and stops all
  // writing for the rest of the run. The report path's final link is followed.
  void FlushReport(bool final);

  // One action's line and counters. error 0: the success line of `code` and
  // its counters (side chooses Target or Source counters); kErrCancelled, or
  // kErrInterrupted once a stop is requested (the stop signal interrupted the call):
  // nothing; kErrNoPlaceToKeep (the reason was shown once): nothing; any
  // other error: the error line and ErrorCount + 1.
  void ReportAction(ErrorCode error, const std::string& path, ActionCode code, uint64_t size,
                    Side side, int64_t size_change);
  // An error whose line the caller writes itself: ErrorCount + 1, and the
  // error kept for the JSON summary.
  void CountError(ErrorCode code, ActionCode action, const std::string& path);
  // An error line that no action stands for, in the caller's words (the
  // deletion guard's, a Trash that cannot be used, ...): shown as
  // AddReportLine shows an error line, counted and kept as CountError does,
  // with the code that stands for it and one of the actions without a line
  // of their own (run_summary_json.h).
  void ErrorLine(std::string_view line, ErrorCode code, ActionCode action, const std::string& path);
  // A place among the lines for those of an action that ends later (a copy
  // running beside the walk): the lines added meanwhile wait behind it, so
  // that every line keeps the place of its item in the walk.
  uint64_t ReservePlace();
  // The line and counters of the action of `place` (as ReportAction); then
  // the lines that waited for it go out, as far as no earlier place is
  // still open. Before the run's final line every place is filled.
  void ReportActionAt(uint64_t place, ErrorCode error, const std::string& path, ActionCode code,
                      uint64_t size, Side side, int64_t size_change);

  // "Error N accessing "path". text" / "... accessing security information of ...";
  // nothing for an error that is part of a stop, as above.
  void AccessError(const std::string& path, ErrorCode code);
  void SecurityError(const std::string& path, ErrorCode code);

  // Creates `folder` (ending in "/") and every missing folder above it, each
  // reported as a created folder (or an error line, which ends the loop).
  // Returns 0 or the error of the folder that could not be created. A link
  // on the way counts as an existing folder and is not replaced.
  ErrorCode CreateReportFolder(const std::string& folder);
  // The same through `fs` (the Target folder of a preview: through the
  // file system that writes nothing).
  ErrorCode CreateReportFolder(const std::string& folder, FileSystem& fs);

  // The clock the run's times come from.
  const Clock& RunClock() const { return clock_; }

  SessionCounters& Counters() { return counters_; }
  const SessionCounters& Counters() const { return counters_; }
  ReportRunState& Run() { return run_; }

 private:
  // AddReportLine, past the places (ReservePlace).
  void ShowLine(std::string_view text, ReportLineKind kind, double interval, LineFlush flush);
  // Shows what the filled places at the front, and the lines after them, hold.
  void ReleasePlaces();
  bool Admits(ReportLineKind kind) const;
  // Keeps an error line's code, action and path for the JSON summary.
  void KeepError(ErrorCode code, ActionCode action, const std::string& path);
  bool Stopped() const;
  bool CancelledByStop(ErrorCode error) const;
  // Cuts the report file to the size limit; failures leave it as it was.
  void RestrictReport();
  // The report file's own pending-copy line and counters, and the summary,
  // sized so that the file ends exactly at the predicted size.
  ErrorCode WriteFinalLines(TextFileWriter& file, bool pending_copy, double now);
  // The copy of the report to the other folder that a pending-copy line
  // announces.
  struct ReportCopy {
    std::string path;  // the counterpart
    bool replaced = false;
    int64_t size = 0;      // the report's, once it ends
    int64_t existing = 0;  // the counterpart's before
  };
  // WriteFinalLines' text for a report of `base` bytes before it; with
  // `copy` (the pending copy) the counters take it in.
  std::string FinalLines(int64_t base, bool pending_copy, double now, ReportCopy& copy);
  // The final flush of a preview's report that is not written: what the
  // run would show for the report's own copy.
  void ShowSuppressedReportCopy();
  void WriteFailed(ErrorCode error, bool final);

  // The options as the summaries state them: without Quiet once a write
  // failed, since the program then stays open.
  SyncOptions StatedOptions() const;

  const SyncOptions& options_;
  const SyncOptions* run_options_ = nullptr;
  const PlatformFacts& facts_;
  FileSystem& fs_;
  ReportDisplay& display_;
  const Clock& clock_;
  ReportSelfSync* self_sync_ = nullptr;
  std::string arguments_;
  SessionCounters counters_;
  ReportRunState run_;
  Separators seps_;
  double last_flush_time_ = 0;
  std::string display_buffer_;     // lines waiting for the display, "\n" between them
  std::string report_buffer_;      // lines waiting for the report file
  bool report_opened_ = false;     // holds this run's start line
  bool report_failed_ = false;     // no more writes in this run
  bool report_self_sync_ = false;  // flushes wait (own synchronization, folder creation)
  // The size a preview's report that is not written would have so far, and
  // whether it was brought up to date from the other folder.
  int64_t suppressed_size_ = 0;
  bool suppressed_brought_up_ = false;
  double start_time_ = 0;
  // For the JSON summary.
  CommandLineWriter command_line_writer_;
  std::optional<double> run_start_time_;
  std::vector<RunError> errors_;
  uint64_t errors_omitted_ = 0;
  // Places of actions that end later, in the order reserved, with their own
  // lines and the lines added after them.
  struct HeldLine {
    std::string text;
    ReportLineKind kind;
    double interval;
    LineFlush flush;
  };
  struct Place {
    uint64_t id = 0;
    bool filled = false;
    std::vector<HeldLine> own;
    std::vector<HeldLine> after;
  };
  std::deque<Place> places_;
  Place* filling_ = nullptr;  // the place ReportActionAt fills
  uint64_t next_place_ = 0;
};

}  // namespace twinmere
