// Number, date and version formats shared by every report line, and the
// framed lines (start, restricted, end) of the report file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/locale_formats.h"

namespace twinmere {

// The separators that numbers and dates are written with. Read from the
// process locale; where the locale defines none (C or POSIX), the defaults.
struct Separators {
  std::string thousands = ",";
  std::string decimal = ".";
  std::string date = "/";
  std::string time = ":";
  bool operator==(const Separators&) const = default;
};

// The separators that a locale's formats give: what they state, the
// defaults for the rest (never a thousands separator that is the decimal
// one). Never fails.
Separators SeparatorsOf(const LocaleFormats& formats);
// Those of the process's locale (ProcessLocaleFormats). Never fails.
Separators ProcessSeparators();

// "dd/mm/yy hh:nn:ss" of `epoch_seconds` in local time, with the date and
// time separators. A time that cannot be converted gives the epoch start.
std::string FormatReportTime(double epoch_seconds, const Separators& seps);

// An elapsed time as whole hours (not reduced modulo 24), minutes and
// seconds: "0:40:00", "26:05:07". Fractions of a second are dropped; a
// negative duration (the clock went back) reads as zero.
std::string FormatElapsed(double seconds, const Separators& seps);

enum class SizeFormat : uint8_t {
  Plain,   // "1,024 bytes", "-3.000 Mbytes"
  Signed,  // "+0 bytes", "+1.500 Kbytes", "-3.000 Mbytes"
};

// A byte count in bytes, Kbytes, Mbytes or Gbytes: up to 1024 as whole bytes,
// above with three decimals (rounded half away from zero). Exact for every
// 64-bit value.
std::string FormatSize(int64_t bytes, SizeFormat format, const Separators& seps);

// Digits of `value` grouped by three with `thousands` between the groups.
std::string GroupThousands(uint64_t value, std::string_view thousands);

// The program version as the report shows it: major, ".", minor as two
// digits, ".", revision as three digits, "a" ("2.12.171a").
std::string VersionText();
std::string VersionText(int major, int minor, int revision);

// `lead` followed by `text` and, when the text is shorter than 80 bytes, by
// `fill` up to a total of 90 bytes ("========== ... ====").
std::string FramedLine(std::string_view lead, char fill, std::string_view text);

// What a report's block belongs to: a synchronization, or a preview that
// changes nothing (its start and end lines say so).
enum class RunKind : uint8_t { Synchronization, Preview };

// The start, restricted and end lines of the report (without a line end).
std::string StartLine(double epoch_seconds, int32_t report_level, const Separators& seps,
                      RunKind kind = RunKind::Synchronization);
std::string RestrictedLine(double epoch_seconds, const Separators& seps);
std::string EndLine(double epoch_seconds, const Separators& seps,
                    RunKind kind = RunKind::Synchronization);

// A name or text as a report line shows it: valid UTF-8 passes unchanged;
// control characters and bytes that are not part of valid UTF-8 are written
// as "\xNN", so that a name never breaks a line of the report. A backslash
// that would begin such an escape ("\x" and two hexadecimal digits) is
// written as "\x5C" itself, so that the four characters "\xFF" never print
// like the byte 0xFF; every other backslash stays as it is.
std::string DisplayText(std::string_view text);

// A path as a report line shows it: DisplayText, and on Windows with "\"
// between names, as Windows writes paths (ShownSeparators). A Windows name
// holds no "\", so a backslash there is a separator or begins an escape.
std::string DisplayPath(std::string_view path);

// The length of the well-formed UTF-8 sequence that begins at text[i] (1 for
// an ASCII byte), or 0 when none does: a stray or missing continuation byte,
// an overlong form, a surrogate or a value above U+10FFFF.
size_t Utf8SequenceAt(std::string_view text, size_t i);

// Whether all of `text` is well-formed UTF-8.
bool IsValidUtf8(std::string_view text);

// Whether `c` continues a UTF-8 sequence (a byte 10xxxxxx).
inline bool IsUtf8Continuation(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The characters of UTF-8 text: its bytes that do not continue a sequence
// (a byte that is not UTF-8 counts as one). Never fails.
inline size_t Utf8Length(std::string_view text) {
  size_t count = 0;
  for (const char c : text) count += IsUtf8Continuation(c) ? 0 : 1;
  return count;
}

}  // namespace twinmere
