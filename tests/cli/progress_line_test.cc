#include "cli/progress_line.h"

#include <gtest/gtest.h>

#include <string>

namespace twinmere::cli {
namespace {

const ProgressFigures kCopying{0.42, 1.21 * 1024 * 1024 * 1024, 35.4 * 1024 * 1024, 21};

// At every width, in every state, the line stays one line: narrower than the
// terminal, and free of anything that moves the cursor.
TEST(ComposeProgressLineTest, OneLineAtEveryWidthInEveryState) {
  const ProgressLineParts states[] = {
      {"Copying to Target ...   ", "/srv/data/projects/alpha/notes.txt", kCopying},
      {"Copying to Target ...   ", "/srv/\xE6\x97\xA5\xE6\x9C\xAC/\xE5\x86\x99\xE7\x9C\x9F.jpg",
       kCopying},  // wide characters
      {"Copying to Target ...   ", "/x/evil\nname\r\x1b[2J\xC2\x9B\xFF", kCopying},  // hostile
      {"Copying to Target ...   ", "/a", {-1, 5e12, 1e9, -1}},                       // quick start
      {"Exploring Source ...   ", "", {}},
      {"Completed.", "", {1, 10, -1, 0}},
  };
  for (const ProgressLineParts& parts : states) {
    for (size_t width = 0; width <= 160; ++width) {
      const std::string line = ComposeProgressLine(parts, width);
      SCOPED_TRACE(std::to_string(width) + ": " + line);
      EXPECT_LE(DisplayWidth(line), width < 2 ? 0 : width - 1);
      EXPECT_EQ(line.find_first_of("\n\r\x1b\t"), std::string::npos);
      EXPECT_EQ(SanitizeForTerminal(line), line);
    }
  }
}

// What gives way as the terminal narrows: the path, the status text, then
// the rate, the bytes and the time left; the percentage stays.
TEST(ComposeProgressLineTest, PathThenStatusThenFiguresGiveWay) {
  const ProgressLineParts parts{"Copying to Target ...   ", "/srv/data/projects/alpha/notes.txt",
                                kCopying};
  const struct {
    size_t width;
    const char* line;
  } cases[] = {
      {120,
       "42%  1.21 GiB  35.4 MiB/s  0:00:21 left  Copying to Target ...   "
       "/srv/data/projects/alpha/notes.txt"},
      {85, "42%  1.21 GiB  35.4 MiB/s  0:00:21 left  Copying to Target ...   /.../notes.txt"},
      {66, "42%  1.21 GiB  35.4 MiB/s  0:00:21 left  Copying to Target ...   "},
      {50, "42%  1.21 GiB  35.4 MiB/s  0:00:21 left  Copying"},
      {45, "42%  1.21 GiB  35.4 MiB/s  0:00:21 left"},
      {40, "42%  1.21 GiB  35.4 MiB/s  0:00:21 left"},
      {39, "42%  1.21 GiB  0:00:21 left  Copying"},
      {27, "42%  0:00:21 left"},
      {17, "42%  Copying to"},
      {11, "42%"},
      {3, "42"},
      {1, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ComposeProgressLine(parts, c.width), c.line) << c.width;
  EXPECT_EQ(ComposeProgressLine({"Copying to Target ...   ", "/a", {-1, 5e12, 1e9, -1}}, 80),
            "4.55 TiB  954 MiB/s  Copying to Target ...   /a");
  EXPECT_EQ(ComposeProgressLine({"Completed.", "", {}}, 80), "Completed.");
}

TEST(ProgressLineTest, SizesDurationsAndWidths) {
  const std::pair<double, const char*> sizes[] = {{-5, "0 B"},
                                                  {0, "0 B"},
                                                  {1023, "1023 B"},
                                                  {1024, "1.00 KiB"},
                                                  {1536, "1.50 KiB"},
                                                  {10.5 * 1024, "10.5 KiB"},
                                                  {1023.6 * 1024, "1.00 MiB"},
                                                  {123e9, "115 GiB"}};
  for (const auto& [bytes, text] : sizes) EXPECT_EQ(ByteSizeText(bytes), text) << bytes;
  EXPECT_EQ(DurationText(21.4), "0:00:21");
  EXPECT_EQ(DurationText(97389), "27:03:09");
  EXPECT_EQ(DurationText(-3), "0:00:00");
  // Control characters, C1 controls and bytes that are not UTF-8 become "?".
  EXPECT_EQ(SanitizeForTerminal("a\nb\rc\x1b[2Jd\x7f\xC2\x9B\xff\xC3\xA9"),
            "a?b?c?[2Jd???\xC3\xA9");
  EXPECT_EQ(DisplayWidth("\xE6\x97\xA5\xE6\x9C\xAC"), 4u);  // two wide characters
  EXPECT_EQ(DisplayWidth("caf\xC3\xA9"), 4u);
}

TEST(ProgressLineTest, RateCoversTheLastTenSecondsAndStartsAfreshWhenTheClockGoesBack) {
  RateMeter meter;
  meter.Add(100, 0);
  meter.Add(100.5, 500);
  EXPECT_EQ(meter.Rate(), -1);  // under a second
  for (int t = 1; t <= 20; ++t) meter.Add(100 + t, t <= 10 ? t * 1000.0 : 10000 + (t - 10) * 100.0);
  EXPECT_NEAR(meter.Rate(), 100, 1);  // the slow last ten seconds
  meter.Add(50, 20000);
  EXPECT_EQ(meter.Rate(), -1);
}

}  // namespace
}  // namespace twinmere::cli
