#include "report/report_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <sys/syscall.h>
#endif

#include "platform/temporary_names.h"
#include "support/failing_calls.h"
#include "support/temp_tree.h"

namespace twinmere {
namespace {

using testing::TempTree;

TEST(CutReportFileTest, KeepsWholeLinesThatEndAfterTheCutAndTheReportsPermissions) {
  TempTree tree;
  tree.WriteFile("r.txt", "aaaa\nbbbb\ncccc\ndddd");  // lines end at 5, 10, 15, 20
  const struct {
    uint64_t cut;
    const char* kept;
  } cases[] = {{4, "aaaa\nbbbb\ncccc\ndddd"},
               {5, "bbbb\ncccc\ndddd"},
               {7, "bbbb\ncccc\ndddd"},
               {14, "cccc\ndddd"},
               {15, "dddd"},
               {20, ""}};
  for (const auto& c : cases) {
    tree.WriteFile("r.txt", "aaaa\nbbbb\ncccc\ndddd");
    ASSERT_EQ(CutReportFile(tree.Path("r.txt"), c.cut, "--- cut", 0640), 0);
    EXPECT_EQ(tree.ReadFile("r.txt"), std::string("--- cut\n") + c.kept) << c.cut;
    EXPECT_EQ(tree.List(), std::vector<std::string>{"r.txt"}) << "no temporary file remains";
#ifndef _WIN32  // no permission bits there
    struct stat st;
    ASSERT_EQ(stat(tree.Path("r.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
#endif
  }
  // A report far larger than one piece of the writing.
  std::string lines;
  for (int i = 0; i < 40000; ++i) lines += std::to_string(i) + " a line of the report\n";
  tree.WriteFile("r.txt", lines);
  const size_t cut = lines.size() / 4;
  ASSERT_EQ(CutReportFile(tree.Path("r.txt"), cut, "--- cut", 0640), 0);
  // (A diff of texts this long would take gtest minutes.)
  EXPECT_TRUE(tree.ReadFile("r.txt") == "--- cut\n" + lines.substr(lines.rfind('\n', cut - 1) + 1));
}

TEST(CutReportFileTest, AFailureLeavesNoTemporaryFile) {
  TempTree tree;
  tree.MakeFolder("logs");
  EXPECT_EQ(CutReportFile(tree.Path("logs/missing.txt"), 1, "cut", 0644), ENOENT);
  EXPECT_TRUE(tree.List("logs").empty());
  // The report is a folder: reading fails, the folder stays.
  tree.MakeFolder("logs/r.txt");
  EXPECT_NE(CutReportFile(tree.Path("logs/r.txt"), 1, "cut", 0644), 0);
  EXPECT_EQ(tree.List("logs"), std::vector<std::string>{"r.txt"});
}

#ifndef _WIN32  // system call filters are Linux's
// A run that syncs the report's folder must know what a killed cut leaves
// for a leftover: never copy it, and remove it later.
TEST(CutReportFileTest, ACutKilledBeforeItsRenameLeavesALeftoverThatRunsRecognise) {
  TempTree tree;
  tree.WriteFile("r.txt", "aaaa\nbbbb\n");
  const std::string report = tree.Path("r.txt");
  const int status = testing::RunWithFailingCalls({SYS_renameat, SYS_renameat2},
                                                  testing::CallFault::KillsProcess, [&] {
                                                    CutReportFile(report, 5, "cut", 0644);
                                                    return 0;
                                                  });
  if (status < 0) GTEST_SKIP() << "cannot set a system call filter";
  ASSERT_EQ(status, testing::kKilledByFault);
  const std::vector<std::string> names = tree.List();
  ASSERT_EQ(names.size(), 2u);
  EXPECT_TRUE(IsTemporaryName(names[0])) << names[0];
  EXPECT_EQ(tree.ReadFile("r.txt"), "aaaa\nbbbb\n");
}
#endif

}  // namespace
}  // namespace twinmere
