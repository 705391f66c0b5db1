// What both front ends show of a running synchronization: the status text
// with the path being worked on, the progress figure (a percentage, or bytes
// processed under quick start) and the estimated end time, with the rules
// that decide when each changes. No drawing here: the desktop window paints
// the result, twinmere-cli writes it to a terminal line.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "engine/sync_session.h"
#include "report/clock.h"

namespace twinmere {

// The width of a text in the caller's unit (terminal columns, pixels).
using TextWidth = std::function<double(std::string_view)>;

// Shortens `path` until width(result) < `limit`: keeps the root "/" (the first
// separator) and replaces the folder names after it, one by one from the
// left, by a single "..." ("/.../c/file"); when only the last name is left,
// drops characters from the left ("..." followed by the rest, never splitting a
// UTF-8 sequence). A result shorter than 7 bytes is emptied. A path that
// already fits comes back unchanged. Never fails; the path is only text here
// (no link is looked at).
std::string CompactPath(std::string_view path, const TextWidth& width, double limit);

// "42%": the fraction (capped to 0..1) as a whole percentage, rounded.
std::string PercentText(double fraction);

// "1,234,567 bytes processed": the byte count with `thousands` between groups
// of three digits. Negative counts are shown as 0.
std::string BytesProcessedText(double bytes, std::string_view thousands = ",");

// The estimated end of the copying: start + (now - start) / fraction, in
// seconds since the epoch. Returns 0 (no estimate) when fraction is not
// greater than 0.
double EstimatedEndTime(double copy_start, double now, double fraction);

// How the end time is written: hours and minutes on a 24-hour clock, or hours,
// minutes and AM/PM.
enum class ClockStyle : uint8_t { TwentyFourHour, TwelveHour };

// The clock style of the process's LC_TIME locale (12-hour when its time
// format uses an AM/PM hour). Never fails: 24-hour when it cannot tell.
ClockStyle LocaleClockStyle();

// "Estimated End Time: 21:05" (or "Estimated End Time: 09:05 PM"), the time
// in local time. Empty when end_time is 0.
std::string EtaText(double end_time, ClockStyle style);

// What the status and progress area shows at one moment.
struct StatusProgressView {
  std::string status_text;      // e.g. "Copying to Target ...   "
  std::string status_path;      // the path after it, not yet compacted; may be empty
  std::string progress_text;    // "42%" or "1,234 bytes processed"; empty before the first figure
  double fraction_done = 0;     // work of the finished items, 0..1
  double fraction_current = 0;  // work done on the file being copied, 0..1
  bool percent_shown = false;   // progress_text is a percentage (the bar and caption apply)
  std::string eta_text;         // "Estimated End Time: 21:05"; empty when none
  bool operator==(const StatusProgressView&) const = default;
};

// The throttling and estimate rules behind the status line and the progress
// figure. One object serves one front end; it is not thread-safe.
class StatusProgress {
 public:
  // `thousands` separates digit groups of the byte count.
  StatusProgress(const Clock& clock, ClockStyle style, std::string thousands);

  // A status text and a path. A non-empty text becomes the pending status; it
  // is shown at once when `interval` seconds have passed since the last
  // status change (0 or less: always). An empty text shows what is pending
  // once the interval has passed. Returns true when the shown status was set
  // (the caller redraws it).
  bool ShowStatus(std::string_view text, std::string_view path, double interval);

  // The progress figure from the session, at most every half second:
  // bytes processed under quick start, else nothing while exploring, then the
  // percentage of the work (changes under half a percent are not shown) with
  // the estimated end time. current_file_work is the work already done on
  // the file being copied. Returns true when the figure changed.
  bool UpdateProgress(bool quick_start, const SyncSession& session, double current_file_work);

  // A run begins: the progress figure and the estimate start afresh.
  void BeginRun();
  // A run ended: progress figure, bar and estimate go; the status stays.
  void EndRun();

  const StatusProgressView& View() const { return view_; }

 private:
  void ShowEstimate(const SyncSession& session, double fraction, double partial);

  const Clock& clock_;
  ClockStyle clock_style_;
  std::string thousands_;
  StatusProgressView view_;

  std::string pending_text_;
  std::string pending_path_;
  bool status_shown_ = false;
  bool status_time_known_ = false;
  double last_status_time_ = 0;

  bool progress_time_known_ = false;
  double last_progress_time_ = 0;
  double last_fraction_ = 0;
  bool last_partial_ = false;
};

}  // namespace twinmere
