#include "app/status_progress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "report/formats.h"
#include "support/utc_zone.h"

namespace twinmere {
namespace {

// Terminal columns: one per character of UTF-8 text.
double Columns(std::string_view text) {
  return static_cast<double>(Utf8Length(text));
}

struct CompactCase {
  const char* path;
  size_t limit;
  const char* expected;
};

TEST(CompactPathTest, KeepsRootAndAbsorbsLeadingFoldersUntilItFits) {
  const CompactCase cases[] = {
      // Fits already: unchanged.
      {"/home/ann/docs/report.txt", 100, "/home/ann/docs/report.txt"},
      // One folder name after the root gives way, then the next, into one "...".
      {"/home/ann/docs/report.txt", 25, "/.../ann/docs/report.txt"},
      {"/home/ann/docs/report.txt", 21, "/.../docs/report.txt"},
      {"/home/ann/docs/report.txt", 20, "/.../report.txt"},
      {"/home/ann/docs/report.txt", 16, "/.../report.txt"},
      // Only the name is left: characters go from the left.
      {"/home/ann/docs/report.txt", 14, "...report.txt"},
      {"/home/ann/docs/report.txt", 9, "...t.txt"},
      // Shorter than seven bytes: nothing at all.
      {"/home/ann/docs/report.txt", 7, ""},
      {"/home/ann/docs/report.txt", 0, ""},
      // A folder path keeps its last name and its trailing separator.
      {"/srv/data/archive/", 15, "/.../archive/"},
  };
  for (const auto& c : cases) {
    std::string got = CompactPath(c.path, Columns, static_cast<double>(c.limit));
    EXPECT_EQ(got, c.expected) << c.path << " limit " << c.limit;
    EXPECT_LT(Columns(got), std::max<double>(c.limit, 1)) << c.path << " limit " << c.limit;
  }
}

TEST(CompactPathTest, NeverSplitsAMultiByteCharacter) {
  // "é" is two bytes, one column; cutting must not leave half of it.
  std::string name = "/d/\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9";
  for (size_t limit = 7; limit < 12; ++limit) {
    std::string got = CompactPath(name, Columns, static_cast<double>(limit));
    ASSERT_LT(Columns(got), static_cast<double>(limit));
    ASSERT_TRUE(got.empty() || got.starts_with("...")) << got;
    // Right after "..." comes a whole character, never a continuation byte.
    if (got.size() > 3) {
      EXPECT_FALSE(IsUtf8Continuation(got[3])) << got;
    }
  }
}

TEST(ProgressTextTest, PercentageAndBytesProcessed) {
  EXPECT_EQ(PercentText(0.424), "42%");
  EXPECT_EQ(PercentText(0.996), "100%");
  EXPECT_EQ(PercentText(1.7), "100%");  // capped
  EXPECT_EQ(PercentText(-0.2), "0%");

  EXPECT_EQ(BytesProcessedText(999), "999 bytes processed");
  EXPECT_EQ(BytesProcessedText(1000), "1,000 bytes processed");
  EXPECT_EQ(BytesProcessedText(1234567), "1,234,567 bytes processed");
  EXPECT_EQ(BytesProcessedText(1234567, "."), "1.234.567 bytes processed");
  // Beyond 32 bits the count stays exact.
  EXPECT_EQ(BytesProcessedText(5000000000.0), "5,000,000,000 bytes processed");
  EXPECT_EQ(BytesProcessedText(-5), "0 bytes processed");
  EXPECT_EQ(GroupThousands(100000, " "), "100 000");
}

TEST(EtaTextTest, EstimatedEndTimeExtrapolatesFromTheCopyStart) {
  testing::UtcZone utc;
  // 2026-01-01 20:00:00 UTC; a quarter done after ten minutes ends at 20:40.
  const double start = 1767297600;
  double end = EstimatedEndTime(start, start + 600, 0.25);
  EXPECT_DOUBLE_EQ(end, start + 2400);
  EXPECT_EQ(EtaText(end, ClockStyle::TwentyFourHour), "Estimated End Time: 20:40");
  EXPECT_EQ(EtaText(end, ClockStyle::TwelveHour), "Estimated End Time: 08:40 PM");
  // Nothing done yet: no estimate at all.
  EXPECT_EQ(EstimatedEndTime(start, start + 600, 0), 0);
  EXPECT_EQ(EtaText(0, ClockStyle::TwentyFourHour), "");
}

}  // namespace
}  // namespace twinmere
