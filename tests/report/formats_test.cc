#include "report/formats.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "platform/path_syntax.h"
#include "report/report_fakes.h"

namespace twinmere {
namespace {

using testing::UtcTime;
using testing::UtcZone;

const Separators kDefaults;

struct SizeCase {
  int64_t bytes;
  SizeFormat format;
  const char* text;
};

TEST(FormatSizeTest, ChoosesUnitAndRoundsToThreeDecimals) {
  const SizeCase cases[] = {
      {0, SizeFormat::Plain, "0 bytes"},
      {0, SizeFormat::Signed, "+0 bytes"},
      {300, SizeFormat::Signed, "+300 bytes"},
      {-300, SizeFormat::Signed, "-300 bytes"},
      {1024, SizeFormat::Plain, "1,024 bytes"},
      {1025, SizeFormat::Plain, "1.001 Kbytes"},
      {1500, SizeFormat::Plain, "1.465 Kbytes"},
      {-1025, SizeFormat::Signed, "-1.001 Kbytes"},
      {1048576, SizeFormat::Plain, "1,024.000 Kbytes"},
      {1048577, SizeFormat::Plain, "1.000 Mbytes"},
      {1073741824, SizeFormat::Plain, "1,024.000 Mbytes"},
      {1073741825, SizeFormat::Plain, "1.000 Gbytes"},
      {int64_t{5} << 40, SizeFormat::Signed, "+5,120.000 Gbytes"},
      // Half a thousandth rounds away from zero: 1024 * 1.0005 = 1024.512.
      {1024512, SizeFormat::Plain, "1,000.500 Kbytes"},
      {INT64_MAX, SizeFormat::Plain, "8,589,934,592.000 Gbytes"},
      {INT64_MIN, SizeFormat::Signed, "-8,589,934,592.000 Gbytes"},
  };
  for (const SizeCase& c : cases) {
    EXPECT_EQ(FormatSize(c.bytes, c.format, kDefaults), c.text) << c.bytes;
  }
}

TEST(FormatTest, UsesTheGivenSeparators) {
  UtcZone utc;
  Separators seps;
  seps.thousands = ".";
  seps.decimal = ",";
  seps.date = "-";
  seps.time = ".";
  EXPECT_EQ(FormatSize(1024, SizeFormat::Plain, seps), "1.024 bytes");
  EXPECT_EQ(FormatSize(1048576, SizeFormat::Plain, seps), "1.024,000 Kbytes");
  EXPECT_EQ(FormatSize(1536, SizeFormat::Signed, seps), "+1,500 Kbytes");
  EXPECT_EQ(FormatReportTime(UtcTime(2031, 7, 31, 23, 59, 58), seps), "31-07-31 23.59.58");
  EXPECT_EQ(FormatElapsed(26 * 3600 + 5 * 60 + 7, seps), "26.05.07");
}

TEST(SeparatorsTest, GermanLocaleGroupsWithPointsAndDatesWithPoints) {
  LocaleFormats de;
  if (!NamedLocaleFormats("de_DE.UTF-8", de))
    GTEST_SKIP() << "locale de_DE.UTF-8 is not installed (scripts/install-deps)";
  EXPECT_FALSE(de.twelve_hour);
  const Separators seps = SeparatorsOf(de);
  EXPECT_EQ(FormatSize(1048577, SizeFormat::Plain, seps), "1,000 Mbytes");
  EXPECT_EQ(FormatSize(1048576, SizeFormat::Plain, seps), "1.024,000 Kbytes");
  UtcZone utc;
  EXPECT_EQ(FormatReportTime(UtcTime(2026, 12, 5, 14, 3, 9), seps), "05.12.26 14:03:09");
}

TEST(SeparatorsTest, WhatTheLocaleLeavesOpenKeepsTheDefaultsButNeverGroupsWithTheDecimal) {
  EXPECT_EQ(SeparatorsOf(LocaleFormats{}), kDefaults);
  LocaleFormats comma;
  comma.decimal = ",";
  const Separators seps = SeparatorsOf(comma);
  EXPECT_EQ(seps.thousands, ".");
  EXPECT_EQ(seps.date, "/");
}

TEST(FormatReportTimeTest, WritesDayMonthYearAndTimeWithLeadingZeros) {
  UtcZone utc;
  EXPECT_EQ(FormatReportTime(UtcTime(2026, 12, 5, 14, 3, 9), kDefaults), "05/12/26 14:03:09");
  EXPECT_EQ(FormatReportTime(UtcTime(2000, 1, 2, 3, 4, 5) + 0.9, kDefaults), "02/01/00 03:04:05");
}

TEST(FormatElapsedTest, CountsWholeHoursBeyondADay) {
  const struct {
    double seconds;
    const char* text;
  } cases[] = {
      {0, "0:00:00"},
      {40 * 60, "0:40:00"},
      {59 * 60 + 59, "0:59:59"},
      {59 * 60 + 59.9, "0:59:59"},
      {3600, "1:00:00"},
      {26 * 3600 + 5 * 60 + 7, "26:05:07"},
      {100 * 3600 + 1, "100:00:01"},
      {-5, "0:00:00"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatElapsed(c.seconds, kDefaults), c.text) << c.seconds;
}

TEST(VersionTextTest, PadsMinorToTwoAndRevisionToThreeDigits) {
  EXPECT_EQ(VersionText(2, 12, 171), "2.12.171a");
  EXPECT_EQ(VersionText(1, 2, 3), "1.02.003a");
}

TEST(FramedLineTest, FillsTextsShorterThanEightyToNinetyCharacters) {
  const struct {
    const char* lead;
    char fill;
  } frames[] = {{"========== ", '='}, {"---------- ", '-'}};
  for (const auto& frame : frames) {
    for (size_t length : {1u, 60u, 78u, 79u, 80u, 95u}) {
      const std::string text(length, 'x');
      const std::string line = FramedLine(frame.lead, frame.fill, text);
      const size_t fill = length < 80 ? 79 - length : 0;
      EXPECT_EQ(line, frame.lead + text + std::string(fill, frame.fill)) << length;
      EXPECT_EQ(line.size(), length < 80 ? 90u : 11 + length) << length;
    }
  }
}

TEST(FramedLineTest, StartRestrictedAndEndLinesCarryTimeTitleAndVersion) {
  UtcZone utc;
  const double t = UtcTime(2026, 12, 5, 14, 3, 9);
  const std::string head = "05/12/26 14:03:09 Twinmere " + VersionText();
  EXPECT_EQ(StartLine(t, 215, kDefaults),
            FramedLine("========== ", '=', head + " started. Report level: 215. "));
  EXPECT_EQ(RestrictedLine(t, kDefaults),
            FramedLine("---------- ", '-', head + ". Report restricted. "));
  EXPECT_EQ(EndLine(t, kDefaults), FramedLine("========== ", '=', head + " ended. "));
  // A preview's lines say that nothing is or was changed.
  EXPECT_EQ(StartLine(t, 215, kDefaults, RunKind::Preview),
            FramedLine("========== ", '=',
                       head + " preview started, nothing will be changed. Report level: 215. "));
  EXPECT_EQ(EndLine(t, kDefaults, RunKind::Preview),
            FramedLine("========== ", '=', head + " preview ended, nothing was changed. "));

  // Long separators push the text past 80 characters: no fill at all.
  Separators seps;
  seps.date = std::string(10, '/');
  const std::string line = StartLine(t, 215, seps);
  EXPECT_GT(line.size(), 90u);
  EXPECT_EQ(line.substr(line.size() - 2), ". ");
}

TEST(DisplayPathTest, EscapesControlCharactersInvalidBytesAndTheirEscapesOwnText) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"/a/b c.txt", "/a/b c.txt"},
      {"/\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80", "/\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {"/a\nb", "/a\\x0Ab"},
      {"/a\tb\x7F", "/a\\x09b\\x7F"},
      {"/\xFF", "/\\xFF"},
      {"/\xC0\xAF", "/\\xC0\\xAF"},           // overlong "/"
      {"/\xED\xA0\x80", "/\\xED\\xA0\\x80"},  // surrogate
      {"/\xE2\x82", "/\\xE2\\x82"},           // cut short
      // The text of an escape is not the byte: its backslash is escaped.
      {"/a\\xFF", "/a\\x5CxFF"},
      {"/\\x0a\\\xFF", "/\\x5Cx0a\\\\xFF"},
      {"C:\\dir\\x1\\", "C:\\dir\\x1\\"},  // other backslashes stay
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DisplayText(c.in), c.out);
    EXPECT_EQ(DisplayPath(c.in), ShownSeparators(c.out));  // "\" between names on Windows
  }
}

}  // namespace
}  // namespace twinmere
