#include "cli/progress_line.h"

#include <gtest/gtest.h>

#include <string>

namespace twinmere::cli {
namespace {

TEST(ComposeProgressLineTest, FitsTheTerminalGivesWayPathFirstAndCannotBeBrokenByNames) {
  ProgressLineParts parts{"Copying to Target ...   ", "/srv/data/projects/alpha/notes.txt", "42%",
                          "Estimated End Time: 21:05"};
  std::string wide = ComposeProgressLine(parts, 120);
  EXPECT_EQ(wide,
            "42%  Copying to Target ...   /srv/data/projects/alpha/notes.txt  "
            "Estimated End Time: 21:05");

  for (size_t width : {100u, 80u, 70u, 60u, 40u, 20u, 5u}) {
    std::string line = ComposeProgressLine(parts, width);
    EXPECT_LT(DisplayWidth(line), width) << line;
    EXPECT_TRUE(line.starts_with(std::string("42%  Copying").substr(0, width - 1))) << line;
  }
  // The path is compacted before the estimate goes.
  EXPECT_EQ(ComposeProgressLine(parts, 71),
            "42%  Copying to Target ...   /.../notes.txt  Estimated End Time: 21:05");
  // No room for the estimate: it goes, the path takes what is left.
  EXPECT_EQ(ComposeProgressLine(parts, 50), "42%  Copying to Target ...   /.../alpha/notes.txt");
  EXPECT_EQ(ComposeProgressLine({"Completed.", "", "", ""}, 80), "Completed.");
  // Control bytes in names cannot break the line.
  EXPECT_EQ(SanitizeForTerminal("a\nb\rc\x1b[2Jd\x7f\xff"), "a?b?c?[2Jd?\xff");
  const std::string evil =
      ComposeProgressLine({"Copying to Target ...   ", "/x/evil\nname\r", "5%", ""}, 80);
  EXPECT_EQ(evil.find_first_of("\n\r\x1b"), std::string::npos) << evil;
}

}  // namespace
}  // namespace twinmere::cli
