// The pieces of twinmere-cli's live progress line on standard error: the
// status text with a compacted path, the progress figure and the estimated end
// time. Pure functions; widths are terminal columns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace twinmere::cli {

// Columns a text takes on a UTF-8 terminal: one per character, counting every
// byte that does not continue a multi-byte sequence. Never fails.
size_t DisplayWidth(std::string_view text);

// The text made safe for one terminal line: control bytes (newline, tab, escape,
// DEL ...) become "?" so that a name cannot move the cursor or break the line.
// Other bytes, invalid UTF-8 included, pass unchanged. Never fails.
std::string SanitizeForTerminal(std::string_view text);

// Shortens `path` until DisplayWidth(result) < `limit`: keeps the root "/" and
// replaces the folder names after it, one by one from the left, by a single
// "..." ("/.../c/file"); when only the last name is left, drops characters
// from the left ("..." followed by the rest). A result shorter than 7 bytes is
// emptied. A path that already fits comes back unchanged. Never fails; the
// path is only text here (no link is looked at).
std::string CompactPath(std::string_view path, size_t limit);

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

// What the progress line shows at one moment.
struct ProgressLineParts {
  std::string status;    // the status text, e.g. "Copying to Target ...   "
  std::string path;      // the path being worked on; may be empty
  std::string progress;  // "42%" or "1,234 bytes processed"; may be empty
  std::string eta;       // "Estimated End Time: 21:05"; may be empty
};

// One terminal line of at most `width` - 1 columns (the last column stays
// free so that the terminal never wraps): the progress figure, the status text
// with the path compacted to the room left, and the estimated end time when
// there is room for it. Every part is sanitized first. Never fails.
std::string ComposeProgressLine(const ProgressLineParts& parts, size_t width);

}  // namespace twinmere::cli
