// A whole run wired up for scenario tests: a recording host (status texts,
// progress calls, states, automatic exit), a recording display, a fixed clock,
// the reporter and the synchronizer on a given file system.
#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/sync_options.h"
#include "engine/sync_host.h"
#include "engine/sync_session.h"
#include "engine/synchronizer.h"
#include "platform/file_system.h"
#include "platform/path_syntax.h"
#include "platform/platform_facts.h"
#include "report/clock.h"
#include "report/report_display.h"
#include "report/reporter.h"

namespace twinmere::testing {

class RecordingHost final : public SyncHost {
 public:
  void ShowStatus(std::string_view text, std::string_view, double) override {
    if (!text.empty()) statuses.emplace_back(text);
    if (on_status) on_status(text);
  }
  void UpdateProgress(const SyncSession& session, double current_file_work) override {
    last_progress_text = session.ProgressText;
    last_percent_mode = session.PercentMode;
    if (session.PercentMode && session.WorkTotal > 0) {
      progress.push_back(
          {(session.WorkDone + current_file_work) / session.WorkTotal, current_file_work > 0});
    }
  }
  void EnterRunningState(bool) override { ++running_calls; }
  void EnterIdleState() override { ++idle_calls; }
  void CloseProgram(int exit_code) override { closed_with = exit_code; }
  void PumpEvents() override {
    if (on_pump) on_pump();
  }
  DeletionAnswer AskDeletion(const DeletionQuestion& question) override {
    questions.push_back(question);
    return on_ask ? on_ask(question) : DeletionAnswer::NotAsked;
  }

  bool SawStatus(std::string_view text) const {
    return std::find(statuses.begin(), statuses.end(), text) != statuses.end();
  }

  // What the progress display would show: the fraction of the work done,
  // the file being copied included, and whether a copy was under way.
  struct ProgressSample {
    double fraction;
    bool copying;
  };
  std::vector<ProgressSample> progress;
  std::vector<std::string> statuses;
  std::string last_progress_text;
  bool last_percent_mode = false;
  int running_calls = 0;
  int idle_calls = 0;
  std::optional<int> closed_with;
  std::function<void()> on_pump;
  std::function<void(std::string_view)> on_status;
  std::function<DeletionAnswer(const DeletionQuestion&)> on_ask;
  std::vector<DeletionQuestion> questions;
};

class RecordingDisplay final : public ReportDisplay {
 public:
  void ShowBatch(std::string_view batch) override {
    size_t start = 0;
    while (start <= batch.size()) {
      const size_t end = std::min(batch.find('\n', start), batch.size());
      lines.emplace_back(batch.substr(start, end - start));
      start = end + 1;
    }
  }
  void ShowImmediate(std::string_view line) override { lines.emplace_back(line); }

  std::vector<std::string> lines;
};

// Never due: lines collect until a flush is forced (at once, or final).
class FixedClock final : public Clock {
 public:
  double Timer() const override { return 1000.0; }
  double Now() const override { return 1'780'000'000.0; }
};

struct EngineHarness {
  explicit EngineHarness(FileSystem& file_system)
      : fs(file_system),
        reporter(options, facts, fs, display, clock),
        sync(options, session, facts, fs, reporter, host) {
    options.ReportLevel = kDefaultReportLevel;
  }

  int Run() { return sync.Synchronize().exit_code; }

  // Lines shown that begin with `prefix`.
  std::vector<std::string> LinesStartingWith(std::string_view prefix) const {
    std::vector<std::string> found;
    for (const std::string& line : display.lines) {
      if (line.compare(0, prefix.size(), prefix) == 0) found.push_back(line);
    }
    return found;
  }
  // An action line: the label, a TAB and the quoted path (as lines show it).
  bool HasAction(std::string_view label, const std::string& path) const {
    return !LinesStartingWith(std::string(label) + "\t\"" + ShownSeparators(path) + "\"").empty();
  }
  bool HasLine(std::string_view line) const {
    return std::find(display.lines.begin(), display.lines.end(), line) != display.lines.end();
  }
  // Every line containing `text`, joined for failure messages.
  std::string AllLines() const {
    std::string all;
    for (const std::string& line : display.lines) all += line + "\n";
    return all;
  }
  const SessionCounters& Counters() const { return reporter.Counters(); }

  FileSystem& fs;
  SyncOptions options;
  SyncSession session;
  PlatformFacts facts;
  RecordingDisplay display;
  FixedClock clock;
  RecordingHost host;
  Reporter reporter;
  Synchronizer sync;
};

// Success labels of the action lines.
inline constexpr std::string_view kCopied = "Copied:            ";
inline constexpr std::string_view kDeleted = "Deleted:           ";
inline constexpr std::string_view kCreatedFolder = "Created folder:    ";
inline constexpr std::string_view kRemovedFolder = "Removed folder:    ";
inline constexpr std::string_view kReplaced = "Replaced:          ";
inline constexpr std::string_view kFileAttributes = "File attributes:   ";
inline constexpr std::string_view kFileSecurity = "File security:     ";
inline constexpr std::string_view kFileShortName = "File short name:   ";
inline constexpr std::string_view kFileNameCase = "File name case:     ";

}  // namespace twinmere::testing
