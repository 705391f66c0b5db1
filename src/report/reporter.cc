#include "report/reporter.h"

#include <algorithm>
#include <cmath>

#include "base/text.h"
#include "platform/path_syntax.h"
#include "report/action_lines.h"
#include "report/report_file.h"
#include "report/summary.h"

namespace twinmere {
namespace {

// The display buffer is shown early once it holds more than this.
constexpr size_t kDisplayBufferLimit = 16382;

void AppendLine(std::string& buffer, std::string_view text) {
  if (!buffer.empty()) buffer += '\n';
  buffer.append(text);
}

}  // namespace

Reporter::Reporter(const SyncOptions& options, const PlatformFacts& facts, FileSystem& fs,
                   ReportDisplay& display, const Clock& clock)
    : options_(options),
      facts_(facts),
      fs_(fs),
      display_(display),
      clock_(clock),
      seps_(ProcessSeparators()) {}

SyncOptions Reporter::StatedOptions() const {
  SyncOptions stated = Options();
  if (run_.WriteFailed) stated.Quiet = false;
  return stated;
}

void Reporter::BeginRun() {
  counters_ = SessionCounters{};
  places_.clear();
  filling_ = nullptr;
  display_.BeginRun();
  run_.ReportInSource = false;
  run_.ReportInTarget = false;
  run_.ReportSuppressed = false;
  run_.SummarySuppressed = false;
  run_.WriteFailed = false;
  run_.ReportShortPath.clear();
  run_.KeptIn.clear();
  seps_ = ProcessSeparators();
  errors_.clear();
  errors_omitted_ = 0;
  run_start_time_ = clock_.Now();
}

void Reporter::KeepError(ErrorCode code, ActionCode action, const std::string& path) {
  if (Options().JsonSummary.empty()) return;
  if (errors_.size() >= kRunSummaryErrorLimit) {
    ++errors_omitted_;
    return;
  }
  errors_.push_back(RunError{code, action, path});
}

void Reporter::EndRun(int exit_code, std::string_view message) {
  const double start = run_start_time_.value_or(clock_.Now());
  run_start_time_.reset();
  std::vector<RunError> errors = std::move(errors_);
  errors_.clear();
  const uint64_t omitted = errors_omitted_;
  errors_omitted_ = 0;
  const std::string path = Options().JsonSummary;
  if (path.empty() || run_.SummarySuppressed) return;

  const SyncOptions stated = StatedOptions();
  const std::string command_line =
      command_line_writer_ ? TrimBlanks(command_line_writer_(stated)) : std::string();
  const RunSummary summary{.options = stated,
                           .facts = facts_,
                           .counters = counters_,
                           .security_support = run_.SecuritySupport,
                           .arguments = arguments_,
                           .command_line = command_line,
                           .start_time = start,
                           .end_time = clock_.Now(),
                           .exit_code = exit_code,
                           .message = message,
                           .errors = errors,
                           .errors_omitted = omitted};
  std::string text;
  ErrorCode error = FormatRunSummary(summary, text);
  if (error == kSuccess) error = WriteRunSummary(path, text);
  if (error == kSuccess) return;
  run_.WriteFailed = true;  // the program stays open to show the message
  AddReportLine("Error writing JSON summary to file \"" + DisplayPath(path) + "\". " +
                    GetSystemErrorText(error),
                ReportLineKind::Error, 0, LineFlush::Immediate);
}

bool Reporter::Admits(ReportLineKind kind) const {
  const int32_t bit = kind == ReportLineKind::Action ? kLevelActions : kLevelErrors;
  return (Options().ReportLevel & bit) != 0;
}

bool Reporter::Stopped() const {
  return run_.StopRequested != nullptr && run_.StopRequested->load() != 0;
}

bool Reporter::CancelledByStop(ErrorCode error) const {
  return error == kErrCancelled || (error == kErrInterrupted && Stopped());
}

void Reporter::AddReportLine(std::string_view text, ReportLineKind kind, double interval,
                             LineFlush flush) {
  if (filling_ != nullptr) {
    filling_->own.push_back({std::string(text), kind, interval, flush});
    return;
  }
  if (!places_.empty()) {
    if (flush != LineFlush::Final) {
      places_.back().after.push_back({std::string(text), kind, interval, flush});
      return;
    }
    // The run's end: a place still open has no line to come.
    for (Place& place : places_) place.filled = true;
    ReleasePlaces();
  }
  ShowLine(text, kind, interval, flush);
}

uint64_t Reporter::ReservePlace() {
  Place& place = places_.emplace_back();
  place.id = ++next_place_;
  return place.id;
}

void Reporter::ReportActionAt(uint64_t place, ErrorCode error, const std::string& path,
                              ActionCode code, uint64_t size, Side side, int64_t size_change) {
  const auto it = std::find_if(places_.begin(), places_.end(),
                               [place](const Place& p) { return p.id == place; });
  if (it == places_.end()) return ReportAction(error, path, code, size, side, size_change);
  filling_ = &*it;
  ReportAction(error, path, code, size, side, size_change);
  filling_ = nullptr;
  it->filled = true;
  ReleasePlaces();
}

void Reporter::ReleasePlaces() {
  while (!places_.empty() && places_.front().filled) {
    const Place place = std::move(places_.front());
    places_.pop_front();
    for (const std::vector<HeldLine>* lines : {&place.own, &place.after})
      for (const HeldLine& line : *lines) ShowLine(line.text, line.kind, line.interval, line.flush);
  }
}

void Reporter::ShowLine(std::string_view text, ReportLineKind kind, double interval,
                        LineFlush flush) {
  const bool immediate = flush == LineFlush::Immediate;
  const bool final = flush == LineFlush::Final;
  const bool due = std::fabs(clock_.Timer() - last_flush_time_) >= interval;
  const bool flush_now =
      (due && (!display_buffer_.empty() || !report_buffer_.empty() || !text.empty())) ||
      immediate || final;

  if (!text.empty()) {
    if (!immediate) {
      if (display_buffer_.size() > kDisplayBufferLimit) {
        ShowLine({}, ReportLineKind::Action, 0, LineFlush::Throttled);
      }
      AppendLine(display_buffer_, text);
    }
    if (!Options().Report.empty() && Admits(kind)) AppendLine(report_buffer_, text);
  }

  if (!flush_now) return;
  if (run_.Closing) {
    display_buffer_.clear();
  } else if (immediate) {
    if (!text.empty()) display_.ShowImmediate(text);
  } else if (!display_buffer_.empty()) {
    const std::string batch = std::move(display_buffer_);
    display_buffer_.clear();
    display_.ShowBatch(batch);
  }
  if (!Options().Report.empty() && (!report_buffer_.empty() || final)) FlushReport(final);
  last_flush_time_ = clock_.Timer();
}

void Reporter::ReportAction(ErrorCode error, const std::string& path, ActionCode code,
                            uint64_t size, Side side, int64_t size_change) {
  if (error != kSuccess) {
    if (CancelledByStop(error) || error == kErrNoPlaceToKeep) return;
    counters_.ErrorCount += 1;
    KeepError(error, code, path);
    AddReportLine(ActionErrorLine(error, code, path), ReportLineKind::Error, 0.5,
                  LineFlush::Throttled);
    return;
  }
  const auto bytes = static_cast<int64_t>(std::min<uint64_t>(size, INT64_MAX));
  CountAction(counters_, code, side == Side::Source, bytes, size_change);
  AddReportLine(ActionSuccessLine(code, path, bytes, size_change, seps_), ReportLineKind::Action,
                0.5, LineFlush::Throttled);
}

void Reporter::CountError(ErrorCode code, ActionCode action, const std::string& path) {
  counters_.ErrorCount += 1;
  KeepError(code, action, path);
}

void Reporter::ErrorLine(std::string_view line, ErrorCode code, ActionCode action,
                         const std::string& path) {
  CountError(code, action, path);
  AddReportLine(line, ReportLineKind::Error, 0.5, LineFlush::Throttled);
}

void Reporter::AccessError(const std::string& path, ErrorCode code) {
  if (CancelledByStop(code)) return;
  counters_.ErrorCount += 1;
  KeepError(code, kAccessErrorAction, path);
  AddReportLine(AccessErrorLine(path, code), ReportLineKind::Error, 0.5, LineFlush::Throttled);
}

void Reporter::SecurityError(const std::string& path, ErrorCode code) {
  if (CancelledByStop(code)) return;
  counters_.ErrorCount += 1;
  KeepError(code, kSecurityErrorAction, path);
  AddReportLine(SecurityErrorLine(path, code), ReportLineKind::Error, 0.5, LineFlush::Throttled);
}

ErrorCode Reporter::CreateReportFolder(const std::string& folder) {
  return CreateReportFolder(folder, fs_);
}

ErrorCode Reporter::CreateReportFolder(const std::string& folder, FileSystem& fs) {
  // Every prefix that ends before a "/" (the root itself excluded), and the
  // whole text when it does not end in "/".
  for (size_t end = folder.find('/', std::max<size_t>(PathRootLength(folder), 1));;
       end = folder.find('/', end + 1)) {
    if (end == std::string::npos) {
      if (folder.empty() || folder.back() == '/') break;
      end = folder.size();
    }
    const std::string prefix = folder.substr(0, end);
    if (!prefix.empty() && prefix.back() != '/') {
      ItemInfo info;
      if (IsMissingError(fs.Lookup(prefix, info))) {
        const ErrorCode error = fs.CreateFolder(prefix);
        ReportAction(error, prefix, kActionCreateFolder, 0, Side::Target, 0);
        if (error != kSuccess) return error;
      }
    }
    if (end >= folder.size()) break;
  }
  return kSuccess;
}

void Reporter::RestrictReport() {
  if (Options().Restriction <= 0) return;
  const int64_t limit = int64_t{Options().Restriction} * 1024;
  ItemInfo info;
  // A link or a folder under the report's name is never cut.
  if (fs_.Lookup(Options().Report, info) != kSuccess || info.kind != ItemKind::File) return;
  if (info.size <= static_cast<uint64_t>(limit)) return;
  const uint64_t cut = info.size - static_cast<uint64_t>(int64_t{Options().Restriction} * 683);
  // Failures leave the report as it was; the flush goes on either way.
  CutReportFile(Options().Report, cut, RestrictedLine(clock_.Now(), seps_), info.mode);
}

void Reporter::FlushReport(bool final) {
  if (report_self_sync_ || Options().Report.empty()) return;
  // After a write failure nothing more is written in this run.
  const auto failed_return = [&] {
    if (!(report_opened_ && report_failed_)) return false;
    report_buffer_.clear();
    if (final) report_opened_ = false;
    return true;
  };
  if (failed_return()) return;
  if (run_.ReportSuppressed) {
    // Still recorded, so that the run tells the report file from its items,
    // and measured, so that the line of its own copy tells its size.
    if (!report_opened_) {
      report_opened_ = true;
      run_.ReportShortPath = Options().Report;
      start_time_ = clock_.Now();
      ItemInfo info;
      suppressed_size_ = Options().Append && fs_.Lookup(Options().Report, info) == kSuccess &&
                                 info.kind == ItemKind::File
                             ? static_cast<int64_t>(info.size)
                             : 0;
      suppressed_size_ += static_cast<int64_t>(
          StartLine(start_time_, Options().ReportLevel, seps_, RunKind::Preview).size() + 1);
      suppressed_brought_up_ = false;
    }
    // Brought up to date from the other folder first, once its place is known.
    if (!suppressed_brought_up_ && Options().Append && self_sync_ != nullptr &&
        (run_.ReportInTarget || (run_.ReportInSource && Options().Bidi))) {
      suppressed_brought_up_ = true;
      report_self_sync_ = true;
      self_sync_->SyncReportFile(true);
      report_self_sync_ = false;
    }
    if (!report_buffer_.empty())
      suppressed_size_ += static_cast<int64_t>(report_buffer_.size() + 1);
    report_buffer_.clear();
    if (final) {
      report_opened_ = false;
      ShowSuppressedReportCopy();
    }
    return;
  }

  const std::string report = Options().Report;
  if (!report_opened_) {
    const size_t slash = report.rfind('/');
    if (slash != std::string::npos && slash > 0) {
      // The folder lines wait in the buffer for this flush: a flush of their
      // own would create the same folders again, and again on failure.
      report_self_sync_ = true;
      CreateReportFolder(report.substr(0, slash + 1));
      report_self_sync_ = false;
    }
  }
  // The flags are read again: a nested flush may have opened the report.
  if (!report_opened_ && Options().Append && self_sync_ != nullptr &&
      (run_.ReportInTarget || (run_.ReportInSource && Options().Bidi))) {
    report_self_sync_ = true;
    self_sync_->SyncReportFile(true);
    report_self_sync_ = false;
  }
  if (failed_return()) return;

  RestrictReport();

  TextFileWriter file;
  ErrorCode error = kSuccess;
  if (report_opened_) {
    error = file.Open(report, OpenMode::Append);
  } else {
    report_failed_ = false;
    report_opened_ = true;
    run_.ReportShortPath = report;
    start_time_ = clock_.Now();
    error = file.Open(report, Options().Append ? OpenMode::Append : OpenMode::Replace);
    if (error == kSuccess) {
      error =
          file.Write(StartLine(start_time_, Options().ReportLevel, seps_,
                               Options().Preview ? RunKind::Preview : RunKind::Synchronization) +
                     "\n");
    }
  }
  if (error == kSuccess && !report_buffer_.empty()) {
    error = file.Write(report_buffer_ + "\n");
    report_buffer_.clear();
  }
  const bool report_in_other = run_.ReportInSource || (run_.ReportInTarget && Options().Bidi);
  if (error == kSuccess && final) {
    error = WriteFinalLines(file, report_in_other && !Stopped(), clock_.Now());
    if (error == kSuccess) report_opened_ = false;
  }
  if (error == kSuccess) error = file.Close();
  if (error != kSuccess) {
    WriteFailed(error, final);
    return;
  }
  if (final && report_in_other && self_sync_ != nullptr) {
    report_self_sync_ = true;
    self_sync_->SyncReportFile(false);
    report_buffer_.clear();  // lines of the report's own copy are not written
    report_self_sync_ = false;
  }
}

ErrorCode Reporter::WriteFinalLines(TextFileWriter& file, bool pending_copy, double now) {
  ErrorCode error = kSuccess;
  const auto base = pending_copy ? static_cast<int64_t>(file.Size(error)) : 0;
  if (error != kSuccess) return error;
  ReportCopy copy;
  return file.Write(FinalLines(base, pending_copy, now, copy));
}

void Reporter::ShowSuppressedReportCopy() {
  const bool report_in_other = run_.ReportInSource || (run_.ReportInTarget && Options().Bidi);
  if (!report_in_other || Stopped() || self_sync_ == nullptr) return;
  ReportCopy copy;
  FinalLines(suppressed_size_, true, clock_.Now(), copy);
  report_self_sync_ = true;
  ReportAction(kSuccess, copy.path, copy.replaced ? kActionReplace : kActionCopy,
               static_cast<uint64_t>(copy.size), run_.ReportInSource ? Side::Target : Side::Source,
               copy.size - copy.existing);
  report_buffer_.clear();
  report_self_sync_ = false;
}

std::string Reporter::FinalLines(int64_t base, bool pending_copy, double now, ReportCopy& copy) {
  const SyncOptions stated = StatedOptions();
  const auto summary_of = [&](const SessionCounters& counters) {
    return BuildSummary(SummaryInput{stated, facts_, counters, run_.SecuritySupport, arguments_,
                                     start_time_, now, seps_, run_.KeptIn});
  };
  std::string line;
  std::string summary;
  if (!pending_copy) {
    summary = summary_of(counters_);
  } else {
    // The counterpart of the report in the other folder.
    const bool in_source = run_.ReportInSource;
    const std::string& home = in_source ? Options().Source : Options().Target;
    const std::string& other = in_source ? Options().Target : Options().Source;
    const std::string& report = Options().Report;
    const std::string counterpart =
        other + (report.size() > home.size() ? report.substr(home.size()) : std::string());
    ItemInfo info;
    int64_t existing = 0;
    if (fs_.Lookup(counterpart, info) == kSuccess && !info.IsFolder()) {
      existing = static_cast<int64_t>(info.size);
    }
    const bool replaced = existing != 0;
    const std::string prefix =
        std::string(replaced ? "Would be replaced: " : "Would be copied:   ") + "\t\"" +
        DisplayPath(counterpart) + "\"  ";
    const bool shown = (Options().ReportLevel & kLevelActions) != 0;

    // The file's final size depends on the texts that print it (the line and
    // the summary's counters), so the prediction is the fixed point of
    // size -> size of the file that states it.
    SessionCounters counters;
    std::string size_text;
    const auto size_of_file_stating = [&](int64_t predicted) {
      counters = counters_;
      CountAction(counters, replaced ? kActionReplace : kActionCopy, !in_source, predicted,
                  predicted - existing);
      size_text = FormatSize(predicted, SizeFormat::Plain, seps_);
      if (replaced) {
        size_text += " (" + FormatSize(predicted - existing, SizeFormat::Signed, seps_) + ")";
      }
      size_text += ".";
      summary = summary_of(counters);
      const size_t line_size = shown ? prefix.size() + size_text.size() + 1 : 0;
      return base + static_cast<int64_t>(line_size + summary.size() + 1);
    };
    int64_t predicted = base;
    int64_t previous = base;
    bool settled = false;
    for (int round = 0; round < 16 && !settled; ++round) {
      const int64_t next = size_of_file_stating(predicted);
      settled = next == predicted;
      previous = predicted;
      predicted = next;
    }
    size_t padding = 0;
    if (!settled) {
      // At a unit boundary the size text can flip between two lengths
      // ("1,024.000 Kbytes" / "1.000 Mbytes"): take the larger size and fill
      // the line up to it with blanks.
      predicted = std::max(predicted, previous);
      const int64_t next = size_of_file_stating(predicted);
      if (shown && next < predicted) padding = static_cast<size_t>(predicted - next);
    }
    counters_ = counters;
    if (shown) line = prefix + size_text + std::string(padding, ' ') + "\n";
    copy = ReportCopy{counterpart, replaced, predicted, existing};
  }
  return line + summary + "\n";
}

void Reporter::WriteFailed(ErrorCode error, bool final) {
  report_failed_ = true;
  report_opened_ = true;  // so that the message's own flush writes nothing
  report_buffer_.clear();
  run_.WriteFailed = true;  // the program stays open to show the message
  AddReportLine("Error writing report to file \"" + DisplayPath(Options().Report) + "\". " +
                    GetSystemErrorText(error),
                ReportLineKind::Error, 0, LineFlush::Immediate);
  // The next run tries again.
  if (final) report_opened_ = false;
}

}  // namespace twinmere
