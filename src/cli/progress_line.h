// The pieces of twinmere-cli's live progress line on standard error: the
// status text with a compacted path, the progress figure and the estimated end
// time, fitted to a terminal line. Pure functions; widths are terminal columns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/status_progress.h"

namespace twinmere::cli {

// Columns a text takes on a UTF-8 terminal: one per character, counting every
// byte that does not continue a multi-byte sequence. Never fails.
size_t DisplayWidth(std::string_view text);

// The text made safe for one terminal line: control bytes (newline, tab, escape,
// DEL ...) become "?" so that a name cannot move the cursor or break the line.
// Other bytes, invalid UTF-8 included, pass unchanged. Never fails.
std::string SanitizeForTerminal(std::string_view text);

// CompactPath of the core with widths in terminal columns (DisplayWidth).
std::string CompactPath(std::string_view path, size_t limit);

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
