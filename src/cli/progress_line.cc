#include "cli/progress_line.h"

#include <langinfo.h>

#include <algorithm>
#include <cmath>
#include <ctime>

#include "report/formats.h"

namespace twinmere::cli {

namespace {

constexpr std::string_view kEllipsis = "...";

bool IsContinuationByte(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The longest prefix of `text` that takes at most `columns` columns, never
// ending inside a multi-byte sequence.
std::string TruncateToWidth(std::string_view text, size_t columns) {
  size_t used = 0;
  size_t i = 0;
  for (; i < text.size(); ++i) {
    if (!IsContinuationByte(text[i])) {
      if (used == columns) break;
      ++used;
    }
  }
  return std::string(text.substr(0, i));
}

// Drops the first character after a leading "..." (or the first four bytes
// when there is none yet), keeping whole UTF-8 sequences.
std::string DropFromLeft(const std::string& p) {
  size_t cut = p.starts_with(kEllipsis) ? kEllipsis.size() + 1 : 4;
  while (cut < p.size() && IsContinuationByte(p[cut])) ++cut;
  if (cut > p.size()) cut = p.size();
  return std::string(kEllipsis) + p.substr(cut);
}

}  // namespace

size_t DisplayWidth(std::string_view text) {
  return static_cast<size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return !IsContinuationByte(c); }));
}

std::string SanitizeForTerminal(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) c = '?';
  }
  return out;
}

std::string CompactPath(std::string_view path, size_t limit) {
  std::string p(path);
  if (DisplayWidth(p) < limit) return p;
  // r: end of the root, the first separator. While it is known, the folder
  // names after it are replaced one by one by a single "...".
  size_t r = p.find('/');
  bool root_known = r != std::string::npos;
  bool ellipsis_placed = false;
  while (!p.empty() && DisplayWidth(p) >= limit) {
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
  std::string_view format = nl_langinfo(T_FMT);
  bool twelve = format.find("%I") != std::string_view::npos ||
                format.find("%l") != std::string_view::npos ||
                format.find("%r") != std::string_view::npos;
  return twelve ? ClockStyle::TwelveHour : ClockStyle::TwentyFourHour;
}

std::string EtaText(double end_time, ClockStyle style) {
  if (end_time == 0 || !std::isfinite(end_time)) return {};
  std::time_t seconds = static_cast<std::time_t>(end_time);
  std::tm local{};
  if (localtime_r(&seconds, &local) == nullptr) return {};
  char buffer[64];
  const char* format = style == ClockStyle::TwelveHour ? "%I:%M %p" : "%H:%M";
  size_t n = std::strftime(buffer, sizeof buffer, format, &local);
  return "Estimated End Time: " + std::string(buffer, n);
}

std::string ComposeProgressLine(const ProgressLineParts& parts, size_t width) {
  if (width < 2) return {};
  const size_t usable = width - 1;
  std::string head;
  if (!parts.progress.empty()) head = SanitizeForTerminal(parts.progress) + "  ";
  head += SanitizeForTerminal(parts.status);
  std::string tail;
  if (!parts.eta.empty()) tail = "  " + SanitizeForTerminal(parts.eta);

  size_t head_width = DisplayWidth(head);
  if (head_width >= usable) return TruncateToWidth(head, usable);
  if (head_width + DisplayWidth(tail) > usable) tail.clear();
  size_t room = usable - head_width - DisplayWidth(tail);
  std::string path = CompactPath(SanitizeForTerminal(parts.path), room + 1);
  return head + path + tail;
}

}  // namespace twinmere::cli
