#include "report/formats.h"

#include <cmath>
#include <cstdio>

#include "base/version.h"
#include "platform/local_time.h"
#include "platform/path_syntax.h"

namespace twinmere {
namespace {

std::string TwoDigits(int value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02d", value);
  return buffer;
}

}  // namespace

std::string GroupThousands(uint64_t value, std::string_view thousands) {
  const std::string digits = std::to_string(value);
  std::string out;
  const size_t n = digits.size();
  for (size_t i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) out += thousands;
    out += digits[i];
  }
  return out;
}

Separators SeparatorsOf(const LocaleFormats& formats) {
  Separators seps;
  if (!formats.decimal.empty()) seps.decimal = formats.decimal;
  if (!formats.thousands.empty()) {
    seps.thousands = formats.thousands;
  } else if (seps.decimal == ",") {
    seps.thousands = ".";  // never group with the decimal symbol
  }
  if (!formats.date_separator.empty()) seps.date = formats.date_separator;
  if (!formats.time_separator.empty()) seps.time = formats.time_separator;
  return seps;
}

Separators ProcessSeparators() {
  return SeparatorsOf(ProcessLocaleFormats());
}

std::string FormatReportTime(double epoch_seconds, const Separators& seps) {
  const int64_t seconds =
      std::isfinite(epoch_seconds) ? static_cast<int64_t>(std::floor(epoch_seconds)) : 0;
  CalendarTime t;
  if (!ToLocalTime(seconds, t)) ToLocalTime(0, t);
  return TwoDigits(t.day) + seps.date + TwoDigits(t.month) + seps.date +
         TwoDigits(static_cast<int>(((t.year % 100) + 100) % 100)) + " " + TwoDigits(t.hour) +
         seps.time + TwoDigits(t.minute) + seps.time + TwoDigits(t.second);
}

std::string FormatElapsed(double seconds, const Separators& seps) {
  const int64_t total =
      std::isfinite(seconds) && seconds > 0 ? static_cast<int64_t>(std::floor(seconds)) : 0;
  const int64_t hours = total / 3600;
  const int minutes = static_cast<int>(total / 60 % 60);
  const int secs = static_cast<int>(total % 60);
  return std::to_string(hours) + seps.time + TwoDigits(minutes) + seps.time + TwoDigits(secs);
}

std::string FormatSize(int64_t bytes, SizeFormat format, const Separators& seps) {
  const bool negative = bytes < 0;
  const uint64_t a = negative ? 0 - static_cast<uint64_t>(bytes) : static_cast<uint64_t>(bytes);
  std::string sign;
  if (negative) {
    sign = "-";
  } else if (format == SizeFormat::Signed) {
    sign = "+";
  }
  if (a <= 1024) return sign + GroupThousands(a, seps.thousands) + " bytes";

  uint64_t unit;
  const char* unit_text;
  if (a <= (uint64_t{1} << 20)) {
    unit = uint64_t{1} << 10;
    unit_text = " Kbytes";
  } else if (a <= (uint64_t{1} << 30)) {
    unit = uint64_t{1} << 20;
    unit_text = " Mbytes";
  } else {
    unit = uint64_t{1} << 30;
    unit_text = " Gbytes";
  }
  // Thousandths of the unit, rounded half away from zero, computed exactly.
  const unsigned __int128 thousandths =
      (static_cast<unsigned __int128>(a) * 1000 + unit / 2) / unit;
  const uint64_t whole = static_cast<uint64_t>(thousandths / 1000);
  const int fraction = static_cast<int>(thousandths % 1000);
  char digits[8];
  std::snprintf(digits, sizeof digits, "%03d", fraction);
  return sign + GroupThousands(whole, seps.thousands) + seps.decimal + digits + unit_text;
}

std::string VersionText(int major, int minor, int revision) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%d.%02d.%03da", major, minor, revision);
  return buffer;
}

std::string VersionText() {
  return VersionText(kVersionMajor, kVersionMinor, kVersionPatch);
}

std::string FramedLine(std::string_view lead, char fill, std::string_view text) {
  std::string line;
  line.reserve(lead.size() + 80);
  line.append(lead);
  line.append(text);
  if (text.size() < 80) line.append(79 - text.size(), fill);
  return line;
}

std::string StartLine(double epoch_seconds, int32_t report_level, const Separators& seps,
                      RunKind kind) {
  const std::string text =
      FormatReportTime(epoch_seconds, seps) + " " + kProgramTitle + " " + VersionText() +
      (kind == RunKind::Preview ? " preview started, nothing will be changed." : " started.") +
      " Report level: " + std::to_string(report_level) + ". ";
  return FramedLine("========== ", '=', text);
}

std::string RestrictedLine(double epoch_seconds, const Separators& seps) {
  const std::string text = FormatReportTime(epoch_seconds, seps) + " " + kProgramTitle + " " +
                           VersionText() + ". Report restricted. ";
  return FramedLine("---------- ", '-', text);
}

std::string EndLine(double epoch_seconds, const Separators& seps, RunKind kind) {
  const std::string text =
      FormatReportTime(epoch_seconds, seps) + " " + kProgramTitle + " " + VersionText() +
      (kind == RunKind::Preview ? " preview ended, nothing was changed. " : " ended. ");
  return FramedLine("========== ", '=', text);
}

size_t Utf8SequenceAt(std::string_view text, size_t i) {
  if (i >= text.size()) return 0;
  const auto c = static_cast<unsigned char>(text[i]);
  if (c < 0x80) return 1;
  // Length and lowest value of a well-formed UTF-8 sequence starting with c.
  size_t length = 0;
  uint32_t min = 0;
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2, min = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3, min = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4, min = 0x10000;
  }
  if (length == 0 || i + length > text.size()) return 0;
  uint32_t code = length == 2 ? (c & 0x1F) : length == 3 ? (c & 0x0F) : (c & 0x07);
  for (size_t k = 1; k < length; ++k) {
    const auto d = static_cast<unsigned char>(text[i + k]);
    if ((d & 0xC0) != 0x80) return 0;
    code = (code << 6) | (d & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

bool IsValidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const size_t length = Utf8SequenceAt(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string DisplayText(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  const auto escape = [&out](unsigned char c) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "\\x%02X", c);
    out += buffer;
  };
  const auto hex = [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  };
  // A backslash that the text of an escape follows would read as one.
  const auto begins_escape = [&](size_t at) {
    return path[at] == '\\' && at + 3 < path.size() &&
           (path[at + 1] == 'x' || path[at + 1] == 'X') && hex(path[at + 2]) && hex(path[at + 3]);
  };
  size_t i = 0;
  while (i < path.size()) {
    const auto c = static_cast<unsigned char>(path[i]);
    if (c < 0x20 || c == 0x7F || begins_escape(i)) {
      escape(c);
      ++i;
      continue;
    }
    if (c < 0x80) {
      // A run of plain characters goes over at once.
      size_t end = i + 1;
      while (end < path.size()) {
        const auto next = static_cast<unsigned char>(path[end]);
        if (next < 0x20 || next >= 0x7F || begins_escape(end)) break;
        ++end;
      }
      out.append(path.substr(i, end - i));
      i = end;
      continue;
    }
    const size_t length = Utf8SequenceAt(path, i);
    const bool valid = length > 0;
    if (valid) {
      out.append(path.substr(i, length));
      i += length;
    } else {
      escape(c);
      ++i;
    }
  }
  return out;
}

std::string DisplayPath(std::string_view path) {
  return ShownSeparators(DisplayText(path));
}

}  // namespace twinmere
