#include "app/status_progress.h"

#include <cmath>
#include <cstdio>

#include "platform/local_time.h"
#include "platform/locale_formats.h"
#include "report/formats.h"

namespace twinmere {
namespace {

constexpr std::string_view kEllipsis = "...";

// The progress figure is refreshed at most every half second.
constexpr double kProgressInterval = 0.5;
// Progress changes below half a percent are not shown.
constexpr double kProgressStep = 0.005;

// Drops the first character after a leading "..." (or the first four bytes
// when there is none yet), keeping whole UTF-8 sequences.
std::string DropFromLeft(const std::string& p) {
  size_t cut = p.starts_with(kEllipsis) ? kEllipsis.size() + 1 : 4;
  while (cut < p.size() && IsUtf8Continuation(p[cut])) ++cut;
  if (cut > p.size()) cut = p.size();
  return std::string(kEllipsis) + p.substr(cut);
}

}  // namespace

std::string CompactPath(std::string_view path, const TextWidth& width, double limit) {
  std::string p(path);
  if (width(p) < limit) return p;
  // r: end of the root, the first separator. While it is known, the folder
  // names after it are replaced one by one by a single "...".
  size_t r = p.find('/');
  bool root_known = r != std::string::npos;
  bool ellipsis_placed = false;
  while (!p.empty() && width(p) >= limit) {
    if (root_known) {
      // The name to absorb starts after the root (first pass) or after the
      // "..." already placed there; it ends at the next separator, which must
      // not be the trailing one of a folder path (the last name stays).
      size_t from = ellipsis_placed ? r + 1 + kEllipsis.size() + 1 : r + 1;
      size_t next = from <= p.size() ? p.find('/', from) : std::string::npos;
      if (next == std::string::npos || next + 1 == p.size()) {
        root_known = false;
        continue;
      }
      p = p.substr(0, r + 1) + std::string(kEllipsis) + p.substr(next);
      ellipsis_placed = true;
    } else {
      p = DropFromLeft(p);
      if (p.size() < 7) p.clear();
    }
  }
  return p;
}

std::string PercentText(double fraction) {
  if (!(fraction > 0)) fraction = 0;  // also NaN
  if (fraction > 1) fraction = 1;
  return std::to_string(std::lround(fraction * 100)) + "%";
}

std::string BytesProcessedText(double bytes, std::string_view thousands) {
  uint64_t count = 0;
  if (bytes > 0) {
    // Beyond 2^64 the figure is pinned rather than wrapped.
    count = bytes >= 1.8e19 ? UINT64_MAX : static_cast<uint64_t>(std::llround(bytes));
  }
  return GroupThousands(count, thousands) + " bytes processed";
}

double EstimatedEndTime(double copy_start, double now, double fraction) {
  if (!(fraction > 0)) return 0;
  return copy_start + (now - copy_start) / fraction;
}

ClockStyle LocaleClockStyle() {
  return ProcessLocaleFormats().twelve_hour ? ClockStyle::TwelveHour : ClockStyle::TwentyFourHour;
}

std::string EtaText(double end_time, ClockStyle style) {
  if (end_time == 0 || !std::isfinite(end_time)) return {};
  CalendarTime local;
  if (!ToLocalTime(static_cast<int64_t>(end_time), local)) return {};
  char buffer[64];
  if (style == ClockStyle::TwelveHour) {
    // 12 for noon and midnight, then the locale's words for before and after noon.
    const LocaleFormats formats = ProcessLocaleFormats();
    std::snprintf(buffer, sizeof buffer, "%02d:%02d %s", (local.hour + 11) % 12 + 1, local.minute,
                  (local.hour < 12 ? formats.am : formats.pm).c_str());
  } else {
    std::snprintf(buffer, sizeof buffer, "%02d:%02d", local.hour, local.minute);
  }
  return "Estimated End Time: " + std::string(buffer);
}

StatusProgress::StatusProgress(const Clock& clock, ClockStyle style, std::string thousands)
    : clock_(clock), clock_style_(style), thousands_(std::move(thousands)) {}

bool StatusProgress::ShowStatus(std::string_view text, std::string_view path, double interval) {
  const double now = clock_.Timer();
  const bool due = !status_time_known_ || std::fabs(now - last_status_time_) >= interval;
  if (!text.empty()) {
    pending_text_ = text;
    pending_path_ = path;
    status_shown_ = false;
  }
  if (interval <= 0) status_shown_ = false;
  if (!due || status_shown_) return false;
  last_status_time_ = now;
  status_time_known_ = true;
  view_.status_text = pending_text_;
  view_.status_path = pending_path_;
  status_shown_ = true;
  return true;
}

bool StatusProgress::UpdateProgress(bool quick_start, const SyncSession& session,
                                    double current_file_work) {
  const double now = clock_.Timer();
  if (progress_time_known_ && std::fabs(now - last_progress_time_) < kProgressInterval) {
    return false;
  }
  last_progress_time_ = now;
  progress_time_known_ = true;
  const StatusProgressView before = view_;
  if (quick_start) {
    view_.progress_text =
        BytesProcessedText((current_file_work + session.WorkDone) * kBytesPerWorkUnit, thousands_);
  } else if (!session.PercentMode) {
    return false;  // still exploring
  } else if (session.WorkTotal == 0) {
    ShowEstimate(session, 1, 0);
  } else {
    ShowEstimate(session, session.WorkDone / session.WorkTotal,
                 current_file_work / session.WorkTotal);
  }
  return !(view_ == before);
}

void StatusProgress::ShowEstimate(const SyncSession& session, double fraction, double partial) {
  if (fraction > 1) fraction = 1;
  const double sum = fraction + partial;
  const bool is_partial = partial != 0;
  if (is_partial == last_partial_ && !view_.progress_text.empty() &&
      std::fabs(sum - last_fraction_) <= kProgressStep) {
    return;
  }
  view_.fraction_done = fraction;
  view_.fraction_current = partial;
  view_.percent_shown = true;
  view_.progress_text = PercentText(sum);
  last_fraction_ = sum;
  last_partial_ = is_partial;
  if (sum != 0) {
    std::string eta =
        EtaText(EstimatedEndTime(session.CopyStartTime, clock_.Now(), sum), clock_style_);
    if (!eta.empty()) view_.eta_text = std::move(eta);
  }
}

void StatusProgress::BeginRun() {
  EndRun();
  last_fraction_ = 0;
  last_partial_ = false;
  progress_time_known_ = false;
}

void StatusProgress::EndRun() {
  view_.progress_text.clear();
  view_.fraction_done = 0;
  view_.fraction_current = 0;
  view_.percent_shown = false;
  view_.eta_text.clear();
}

}  // namespace twinmere
