// The pieces of twinmere-cli's live progress line on standard error: the
// progress figures (percentage, bytes done, rate, time left), the status text
// with a compacted path, fitted to one terminal line. Pure functions; widths
// are terminal columns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <utility>

#include "app/status_progress.h"

namespace twinmere::cli {

// Columns a text takes on a UTF-8 terminal: two for an East Asian wide or
// full-width character, one for every other character and for every byte
// that is not part of valid UTF-8. Never less than the terminal shows, so
// that a line measured here never wraps. Never fails.
size_t DisplayWidth(std::string_view text);

// The text made safe for one terminal line: control characters (newline, tab,
// escape, DEL, and U+0080 to U+009F) and bytes that are not part of valid
// UTF-8 become "?", so that a name can neither move the cursor nor make the
// line wider than it was measured. Never fails.
std::string SanitizeForTerminal(std::string_view text);

// CompactPath of the core with widths in terminal columns (DisplayWidth).
std::string CompactPath(std::string_view path, size_t limit);

// A byte count in three significant digits: "512 B", "1.21 KiB", "35.4 MiB",
// "121 GiB" (units of 1024). Negative counts read as 0. Never fails.
std::string ByteSizeText(double bytes);

// A duration as hours, minutes and seconds: "0:00:21", "27:03:09".
// Negative durations read as 0. Never fails.
std::string DurationText(double seconds);

// The progress figures at one moment; a negative value is not known (yet).
struct ProgressFigures {
  double fraction = -1;          // of the run's work, 0..1; unknown under quick start
  double bytes_done = -1;        // bytes copied so far
  double bytes_per_second = -1;  // the recent copying rate
  double seconds_left = -1;      // until the run's work is done
};

// What the progress line shows at one moment.
struct ProgressLineParts {
  std::string status;  // the status text, e.g. "Copying to Target ...   "
  std::string path;    // the path being worked on; may be empty
  ProgressFigures figures;
};

// One terminal line of at most `width` - 1 columns (the last column stays
// free so that the terminal never wraps), nothing below 2 columns:
//   "42%  1.21 GiB  35.4 MiB/s  0:00:21 left  Copying to Target ...   /a/b.txt"
// The known figures come first, two blanks apart, then the status text with
// the path compacted to the room left. As the width shrinks, the path gives
// way first, then the status text (cut, then dropped), then the figures: the
// rate, the bytes done, the time left, and the percentage last, cut as a last
// resort. Every part is sanitized first. Never fails.
std::string ComposeProgressLine(const ProgressLineParts& parts, size_t width);

// The recent copying rate from samples of the bytes done: over the last ten
// seconds, once at least one second is covered. A clock that goes back
// starts the measuring afresh.
class RateMeter {
 public:
  void Add(double seconds, double bytes);
  // Bytes per second; -1 while not known.
  double Rate() const;
  void Reset() { samples_.clear(); }

 private:
  std::deque<std::pair<double, double>> samples_;  // time, bytes; oldest first
};

}  // namespace twinmere::cli
