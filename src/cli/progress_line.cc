#include "cli/progress_line.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "report/formats.h"

namespace twinmere::cli {

namespace {

// The code point of the well-formed sequence of `length` bytes at text[i].
char32_t CodePointAt(std::string_view text, size_t i, size_t length) {
  const auto byte = [&](size_t k) { return static_cast<char32_t>(static_cast<uint8_t>(text[k])); };
  if (length == 1) return byte(i);
  char32_t code = byte(i) & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) code = (code << 6) | (byte(i + k) & 0x3F);
  return code;
}

// East Asian wide and full-width characters, which a terminal shows in two
// columns (the blocks of Unicode's EastAsianWidth W and F).
bool IsWide(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x231A && c <= 0x231B) ||
         (c >= 0x2329 && c <= 0x232A) || (c >= 0x23E9 && c <= 0x23EC) ||
         (c >= 0x25FD && c <= 0x25FE) || (c >= 0x2614 && c <= 0x2615) ||
         (c >= 0x2648 && c <= 0x2653) || (c >= 0x26AA && c <= 0x26AB) ||
         (c >= 0x26BD && c <= 0x26BE) || (c >= 0x26C4 && c <= 0x26C5) ||
         (c >= 0x2705 && c <= 0x27BF) || (c >= 0x2B1B && c <= 0x2B55) ||
         (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xA960 && c <= 0xA97F) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFE10 && c <= 0xFE19) || (c >= 0xFE30 && c <= 0xFE6F) ||
         (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) ||
         (c >= 0x16FE0 && c <= 0x1B2FF) || (c >= 0x1F000 && c <= 0x1FAFF) ||
         (c >= 0x20000 && c <= 0x3FFFD);
}

// The longest prefix of `text` that takes at most `columns` columns, never
// ending inside a character.
std::string TruncateToWidth(std::string_view text, size_t columns) {
  size_t used = 0;
  size_t i = 0;
  while (i < text.size()) {
    const size_t length = std::max<size_t>(Utf8SequenceAt(text, i), 1);
    const size_t width = DisplayWidth(text.substr(i, length));
    if (used + width > columns) break;
    used += width;
    i += length;
  }
  return std::string(text.substr(0, i));
}

// Three significant digits of `value` (at least 1).
std::string ThreeDigits(double value) {
  char buffer[32];
  const char* format = value < 9.995 ? "%.2f" : value < 99.95 ? "%.1f" : "%.0f";
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

// A status text that has to be cut shows at least this many columns, or
// goes.
constexpr size_t kShortestStatus = 8;

}  // namespace

size_t DisplayWidth(std::string_view text) {
  size_t width = 0;
  for (size_t i = 0; i < text.size();) {
    const size_t length = Utf8SequenceAt(text, i);
    if (length == 0) {
      width += 1;
      i += 1;
      continue;
    }
    width += IsWide(CodePointAt(text, i, length)) ? 2 : 1;
    i += length;
  }
  return width;
}

std::string SanitizeForTerminal(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t length = Utf8SequenceAt(text, i);
    if (length == 0) {
      out += '?';
      i += 1;
      continue;
    }
    const char32_t code = CodePointAt(text, i, length);
    if (code < 0x20 || (code >= 0x7F && code <= 0x9F)) {
      out += '?';
    } else {
      out.append(text.substr(i, length));
    }
    i += length;
  }
  return out;
}

std::string CompactPath(std::string_view path, size_t limit) {
  return twinmere::CompactPath(
      path, [](std::string_view text) { return static_cast<double>(DisplayWidth(text)); },
      static_cast<double>(limit));
}

std::string ByteSizeText(double bytes) {
  if (!(bytes > 0)) return "0 B";
  if (bytes < 1023.5) return std::to_string(std::lround(bytes)) + " B";
  static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  double value = bytes / 1024;
  size_t unit = 0;
  // 1023.5 KiB would print as "1024 KiB": it is 1.00 MiB.
  while (value >= 1023.5 && unit + 1 < std::size(kUnits)) {
    value /= 1024;
    ++unit;
  }
  return ThreeDigits(value) + " " + kUnits[unit];
}

std::string DurationText(double seconds) {
  const long long whole = seconds > 0 && std::isfinite(seconds) ? std::llround(seconds) : 0;
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                whole % 60);
  return buffer;
}

std::string ComposeProgressLine(const ProgressLineParts& parts, size_t width) {
  if (width < 2) return {};
  const size_t usable = width - 1;
  const ProgressFigures& f = parts.figures;

  // The known figures in the order shown, each with its rank: the one of the
  // lowest rank gives way first.
  struct Figure {
    std::string text;
    int rank;
  };
  std::vector<Figure> figures;
  if (f.fraction >= 0) figures.push_back({PercentText(f.fraction), 4});
  if (f.bytes_done >= 0) figures.push_back({ByteSizeText(f.bytes_done), 2});
  if (f.bytes_per_second >= 0) figures.push_back({ByteSizeText(f.bytes_per_second) + "/s", 1});
  if (f.seconds_left >= 0) figures.push_back({DurationText(f.seconds_left) + " left", 3});
  const auto joined = [&figures] {
    std::string head;
    for (const Figure& figure : figures) head += (head.empty() ? "" : "  ") + figure.text;
    return head;
  };
  std::string head = joined();
  while (figures.size() > 1 && DisplayWidth(head) > usable) {
    auto lowest = figures.begin();
    for (auto it = figures.begin(); it != figures.end(); ++it)
      if (it->rank < lowest->rank) lowest = it;
    figures.erase(lowest);
    head = joined();
  }
  if (DisplayWidth(head) >= usable) return TruncateToWidth(head, usable);

  const std::string separator = head.empty() ? "" : "  ";
  const std::string status = SanitizeForTerminal(parts.status);
  const size_t used = DisplayWidth(head) + separator.size();
  if (status.empty() || used >= usable) return head;
  const size_t room = usable - used;
  const size_t status_width = DisplayWidth(status);
  if (status_width > room) {
    if (room < kShortestStatus) return head;
    // Cut between words where it can.
    std::string cut = TruncateToWidth(status, room);
    if (status[cut.size()] != ' ' && cut.rfind(' ') != std::string::npos)
      cut.resize(cut.rfind(' '));
    while (!cut.empty() && cut.back() == ' ') cut.pop_back();
    return head + separator + cut;
  }
  // CompactPath keeps the path narrower than its limit.
  const std::string path = CompactPath(SanitizeForTerminal(parts.path), room - status_width + 1);
  return head + separator + status + path;
}

void RateMeter::Add(double seconds, double bytes) {
  if (!samples_.empty() && (seconds < samples_.back().first || bytes < samples_.back().second))
    samples_.clear();
  samples_.emplace_back(seconds, bytes);
  // The oldest sample kept is the last one at least ten seconds old.
  while (samples_.size() > 2 && seconds - samples_[1].first >= 10) samples_.pop_front();
}

double RateMeter::Rate() const {
  if (samples_.size() < 2) return -1;
  const auto& [first_time, first_bytes] = samples_.front();
  const auto& [last_time, last_bytes] = samples_.back();
  if (last_time - first_time < 1) return -1;
  return (last_bytes - first_bytes) / (last_time - first_time);
}

}  // namespace twinmere::cli
