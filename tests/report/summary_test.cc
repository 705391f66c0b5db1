#include "report/summary.h"

#include <gtest/gtest.h>

#include "platform/path_syntax.h"
#include "report/report_fakes.h"

namespace twinmere {
namespace {

using testing::UtcTime;
using testing::UtcZone;

class SummaryTest : public ::testing::Test {
 protected:
  SummaryTest() {
    options_.Source = "/data/src/";
    options_.Target = "/data/dst/";
    facts_.OsText = "Linux 6.1 (Test)";
  }

  std::string Build() {
    return BuildSummary(SummaryInput{options_, facts_, counters_, security_, arguments_, start_,
                                     start_ + 3725, seps_});
  }
  // The summary without its end line.
  std::string Body() {
    const std::string text = Build();
    const size_t last = text.rfind('\n');
    EXPECT_EQ(text.substr(last + 1),
              EndLine(start_ + 3725, seps_,
                      options_.Preview ? RunKind::Preview : RunKind::Synchronization));
    return text.substr(0, last + 1);
  }

  UtcZone utc_;
  SyncOptions options_;
  PlatformFacts facts_;
  SessionCounters counters_;
  bool security_ = false;
  std::string arguments_ = "-s /data/src/ -t /data/dst/";
  double start_ = UtcTime(2026, 12, 5, 14, 3, 9);
  Separators seps_;
};

// The reporter's golden reports cover the default rows; these cover what the
// options add or take away.
TEST_F(SummaryTest, SummaryLevelAfterANoChangeRunShowsOnlyErrorsAndElapsed) {
  options_.ReportLevel = kLevelSummary;
  EXPECT_EQ(Body(), "Errors:                    \t0.\nElapsed time:              \t1:02:05.\n");
  options_.ReportLevel = kLevelSummary | kLevelZeroValues;
  options_.Case = true;
  const std::string body = Body();
  EXPECT_NE(body.find("File security in Target:   \t0.\nFile case in Target:       \t0.\n"),
            std::string::npos)
      << body;
  EXPECT_NE(body.find("Folder security in Target: \t0.\nFolder case in Target:     \t0.\n"),
            std::string::npos);
  EXPECT_EQ(body.find("Files deleted"), std::string::npos) << "no row without Delete";
}

TEST_F(SummaryTest, BidirectionalZeroValuesWithoutSubfoldersOrSecurity) {
  options_.ReportLevel = kLevelSummary | kLevelZeroValues;
  options_.Bidi = options_.ExcludeSubfolders = options_.NoSecurity = true;
  std::string side_rows;
  for (const char* side : {"Target", "Source"}) {
    side_rows += std::string("Files copied to ") + side + ":    \t0\t  0 bytes.\n" +
                 "Files replaced in " + side + ":  \t0\t  0 bytes (+0 bytes).\n" +
                 "File attributes in " + side + ": \t0.\n" + "Short file name in " + side +
                 ": \t0.\n" + "Total size change in " + side + ": \t+0 bytes.\n";
  }
  EXPECT_EQ(Body(),
            side_rows + "Errors:                    \t0.\nElapsed time:              \t1:02:05.\n");
}

TEST_F(SummaryTest, NonZeroCountersAppearWithoutZeroValuesAndTotalsAreExact) {
  options_.ReportLevel = kLevelSummary;
  options_.Bidi = true;
  counters_.FilesCopiedToTarget = 3;
  counters_.BytesCopiedToTarget = (int64_t{1} << 40) + 1;  // beyond single precision
  counters_.FilesDeletedInTarget = 1;                      // Delete clear: no row, still subtracted
  counters_.BytesDeletedInTarget = 1;
  counters_.FilesReplacedInSource = 2;
  counters_.BytesReplacedInSource = 1500;
  counters_.SizeChangeInSource = -600;
  counters_.FolderCaseInSource = 4;  // counted, never printed
  counters_.FileCaseInSource = 4;
  counters_.ErrorCount = 7;
  counters_.ItemsLeftOut = 5;
  EXPECT_EQ(Body(),
            "Files copied to Target:    \t3\t  1,024.000 Gbytes.\n"
            "Total size change in Target: \t+1,024.000 Gbytes.\n"
            "Files replaced in Source:  \t2\t  1.465 Kbytes (-600 bytes).\n"
            "Total size change in Source: \t-600 bytes.\n"
            "Items left out:            \t5.\n"
            "Errors:                    \t7.\n"
            "Elapsed time:              \t1:02:05.\n");
}

TEST_F(SummaryTest, OptionRowsDescribeEveryOption) {
  options_.ReportLevel = kLevelCommandLine;
  EXPECT_EQ(Body(),
            "Command line:              \t\"-s /data/src/ -t /data/dst/\".\n"
            "Elapsed time:              \t1:02:05.\n");
  options_.ExcludeSubfolders = options_.Bidi = options_.New = options_.Delete = true;
  options_.Case = options_.NoDaylight = options_.AllowDecryption = true;
  options_.Start = options_.Minimized = options_.Quiet = true;
  options_.DisallowStop = options_.QuickStart = options_.Append = true;
  options_.Restriction = 2048;
  options_.ReportLevel = kLevelOptions;
  security_ = true;
  EXPECT_EQ(Body(),
            "Include subfolders:        \tNo.\n"
            "Synchronization options:   \tBidirectional, Delete extra files, Copy only newer "
            "files,\n"
            "                           \tSynchronize case, Don't take into account daylight "
            "saving, Allow decryption.\n"
            "Program options:           \tAutostart, Start minimized,\n"
            "                           \tAutoexit, Disallow Stop, Quick start.\n"
            "Report options:            \tLevel: 4, Append report, Restrict report to 2048 "
            "Kbytes.\n"
            "Security support:          \tYes.\n"
            "Elapsed time:              \t1:02:05.\n");

  // A preview, and deletions with the guard lifted (not with Bidi).
  options_.ReportLevel = kLevelOptions;
  options_.Preview = options_.ForceDelete = true;
  EXPECT_NE(Body().find("\tPreview only, Bidirectional, Delete extra files, Copy only newer"),
            std::string::npos)
      << Body();
  options_.Bidi = false;
  EXPECT_NE(Body().find("\tPreview only, Unidirectional, Delete extra files without guard, "),
            std::string::npos)
      << Body();

  // The patterns: the files', then the -x ones, bytes escaped as in every line.
  options_.LeaveOutFiles = {"/home/u/lists.txt"};
  options_.LeaveOut = {"*.tmp", "caf\xE9/"};
  EXPECT_NE(Body().find("Left out:                  \tthe patterns of \"" +
                        ShownSeparators("/home/u/lists.txt") + "\", \"*.tmp\", \"caf\\xE9/\".\n"),
            std::string::npos)
      << Body();

  // The runs a versions folder keeps, one in the singular.
  options_.Versions = "/kept/";
  for (const auto& [keep, text] :
       {std::pair{0, "all runs"}, {1, "the newest run"}, {3, "the newest 3 runs"}}) {
    options_.VersionsKeep = keep;
    EXPECT_NE(Body().find("Kept in \"" + ShownSeparators("/kept/") + "\", " + text + ".\n"),
              std::string::npos)
        << Body();
  }
}

TEST_F(SummaryTest, TheSystemDecidesTheDecryptionOptionAndThePrivilegesRow) {
  options_.ReportLevel = kLevelOptions;
  facts_.OsIndex = 5;  // an older system class: no decryption
  EXPECT_NE(Body().find("\tIgnore case difference, Take into account daylight saving.\n"),
            std::string::npos);
  options_.ReportLevel = kLevelSystem;
  facts_.IsAdmin = true;
  EXPECT_NE(Body().find("Administrative privileges: \tGranted.\n"), std::string::npos);
  facts_.IsNT = false;
  EXPECT_EQ(Body().find("Administrative"), std::string::npos);
}

}  // namespace
}  // namespace twinmere
