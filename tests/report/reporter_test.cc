#include "report/reporter.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/file_system.h"
#include "platform/path_syntax.h"
#include "report/action_lines.h"
#include "report/report_fakes.h"
#include "support/mounts.h"
#include "support/run_summary_check.h"
#include "support/temp_tree.h"

namespace twinmere {
namespace {

using testing::FakeClock;
using testing::RecordingDisplay;
using testing::TempTree;
using testing::UtcTime;
using testing::UtcZone;

const double kStart = UtcTime(2026, 12, 5, 14, 3, 9);

// Records each self-synchronization.
class SelfSyncProbe final : public ReportSelfSync {
 public:
  void SyncReportFile(bool towards) override { calls.push_back(towards); }
  std::vector<bool> calls;
};

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class ReporterTest : public ::testing::Test {
 protected:
  ReporterTest() : reporter_(options_, facts_, *fs_, display_, clock_) {
    options_.Source = "/data/src/";
    options_.Target = "/data/dst/";
    options_.Report = tree_.Path("report.txt");
    facts_.OsText = "Linux 6.1 (Test)";
    clock_.now = kStart;
    reporter_.SetSelfSync(&self_sync_);
    reporter_.SetArgumentString("-s /data/src/ -t /data/dst/");
    reporter_.Run().StopRequested = &stop_;
  }

  std::string Report() { return tree_.ReadFile("report.txt"); }

  // The report with the version replaced by "{V}" and the fill of the
  // framed lines taken off (their lengths are tested with the formats).
  std::string Normalized(std::string text) {
    const std::string version = VersionText();
    for (size_t at; (at = text.find(version)) != std::string::npos;) {
      text.replace(at, version.size(), "{V}");
    }
    std::string out;
    for (std::string& line : SplitLines(text)) {
      if (line.rfind("========== ", 0) == 0 || line.rfind("---------- ", 0) == 0) {
        while (!line.empty() && (line.back() == '=' || line.back() == '-')) line.pop_back();
      }
      out += line + "\n";
    }
    return out;
  }

  void Line(const std::string& text, ReportLineKind kind = ReportLineKind::Action,
            LineFlush flush = LineFlush::Throttled, double interval = 0.5) {
    reporter_.AddReportLine(text, kind, interval, flush);
  }
  void Finish(const std::string& text = "Synchronization completed.") {
    Line(text, ReportLineKind::Action, LineFlush::Final, 0);
    Line("", ReportLineKind::Action, LineFlush::Throttled, 0);
  }

  // A run as the engine drives it: begin, open the report, actions, end.
  void ScriptedRun() {
    reporter_.BeginRun();
    reporter_.FlushReport(false);
    reporter_.ReportAction(0, "/data/dst/a.txt", kActionCopy, 2048, Side::Target, 0);
    reporter_.ReportAction(kErrAccessDenied, "/data/dst/b.txt", kActionCopy, 0, Side::Target, 0);
    reporter_.ReportAction(0, "/data/dst/c.txt", kActionReplace, 900, Side::Target, 300);
    reporter_.ReportAction(kErrCancelled, "/data/dst/d.txt", kActionCopy, 10, Side::Target, 0);
    reporter_.ReportAction(0, "/data/dst/sub", kActionCreateFolder, 0, Side::Target, 0);
    clock_.timer += 1;
    reporter_.AccessError("/data/src/locked", kErrAccessDenied);
    reporter_.ReportAction(0, "/data/dst/old.txt", kActionDelete, 1500, Side::Target, 0);
    reporter_.ReportAction(0, "/data/dst/x", ActionCode{999}, 0, Side::Target, 0);
    clock_.now = kStart + 3725;
    Finish();
  }

  UtcZone utc_;
  TempTree tree_;
  SyncOptions options_;
  PlatformFacts facts_;
  std::unique_ptr<FileSystem> fs_ = CreatePlatformFileSystem();
  RecordingDisplay display_;
  FakeClock clock_;
  SelfSyncProbe self_sync_;
  std::atomic<int> stop_{0};
  Reporter reporter_;
};

const std::string kDenied = SystemErrorText(kErrAccessDenied);
const std::string kError = "Error " + std::to_string(kErrAccessDenied);

// A path as the lines show it ("\" between names on Windows).
std::string P(const std::string& path) {
  return ShownSeparators(path);
}

struct Golden {
  int32_t level;
  std::string report;
};

TEST_F(ReporterTest, ScriptedRunGivesTheGoldenReportAtEachLevel) {
  const std::string start = "========== 05/12/26 14:03:09 Twinmere {V} started. Report level: ";
  const std::string end = "========== 05/12/26 15:05:14 Twinmere {V} ended. \n";
  const std::string actions = "Copied:            \t\"" + P("/data/dst/a.txt") +
                              "\"  2.000 Kbytes.\n" + kError + " copying \"" +
                              P("/data/dst/b.txt") + "\". " + kDenied +
                              "\n"
                              "Replaced:          \t\"" +
                              P("/data/dst/c.txt") +
                              "\"  900 bytes (+300 bytes).\n"
                              "Created folder:    \t\"" +
                              P("/data/dst/sub") + "\".\n" + kError + " accessing \"" +
                              P("/data/src/locked") + "\". " + kDenied +
                              "\n"
                              "Deleted:           \t\"" +
                              P("/data/dst/old.txt") +
                              "\"  1.465 Kbytes.\n"
                              "???:               \t\"" +
                              P("/data/dst/x") +
                              "\".\n"
                              "Synchronization completed.\n";
  const std::string counters =
      "Files copied to Target:    \t1\t  2.000 Kbytes.\n"
      "Files replaced in Target:  \t1\t  900 bytes (+300 bytes).\n"
      "Files deleted in Target:   \t1\t  1.465 Kbytes.\n";
  const std::string totals =
      "Total size change in Target: \t+848 bytes.\n"
      "Errors:                    \t2.\n"
      "Elapsed time:              \t1:02:05.\n";
  const Golden goldens[] = {
      {215, start + "215. \n" + actions + "Source folder:             \t\"" + P("/data/src/") +
                "\".\n"
                "Target folder:             \t\"" +
                P("/data/dst/") +
                "\".\n"
                "Include subfolders:        \tYes.\n"
                "Synchronization options:   \tUnidirectional, Delete extra files, Copy all "
                "different files,\n"
                "                           \tIgnore case difference, Take into account "
                "daylight saving, Don't allow decryption.\n"
                "Program options:           \tManual start, Start in normal window,\n"
                "                           \tManual exit, Allow Stop, Normal start.\n"
                "Report options:            \tLevel: 215, Owerwrite report, Don't restrict "
                "report size.\n"
                "Security support:          \tNo.\n" +
                counters + "Folders created in Target: \t1.\n" + totals +
                "Operating system:          \tLinux 6.1 (Test).\n"
                "Administrative privileges: \tNot granted.\n" +
                end},
      {0, start + "0. \nElapsed time:              \t1:02:05.\n" + end},
      {16, start + "16. \n" + counters + "Folders created in Target: \t1.\n" + totals + end},
      {48, start + "48. \n" + counters +
               "File attributes in Target: \t0.\n"
               "File security in Target:   \t0.\n"
               "Short file name in Target: \t0.\n"
               "Folders created in Target: \t1.\n"
               "Folders updated in Target: \t0.\n"
               "Folders removed in Target: \t0.\n"
               "Folder attributes in Target: \t0.\n"
               "Folder security in Target: \t0.\n"
               "Short folder name in Target: \t0.\n" +
               totals + end},
  };
  for (const Golden& golden : goldens) {
    SCOPED_TRACE(golden.level);
    options_.ReportLevel = golden.level;
    options_.Delete = true;
    clock_.now = kStart;
    ScriptedRun();
    EXPECT_EQ(Normalized(Report()), golden.report);
    EXPECT_EQ(reporter_.Counters().ErrorCount, 2);
  }
}

TEST_F(ReporterTest, LinesAreFlushedInBatchesAtTheIntervalImmediateOnesAtOnce) {
  reporter_.BeginRun();
  Line("first");  // the first line is due at once: it opens the report
  Line("second");
  Line("third");
  EXPECT_EQ(display_.batches, std::vector<std::string>{"first"});
  EXPECT_EQ(SplitLines(Report()).size(), 2u);
  clock_.timer += 0.5;
  Line("fourth");
  EXPECT_EQ(display_.batches, (std::vector<std::string>{"first", "second\nthird\nfourth"}));
  EXPECT_EQ(SplitLines(Report()).size(), 5u);
  clock_.timer += 0.5;
  Line("");  // the update timer: flushes nothing when nothing waits
  EXPECT_EQ(display_.batches.size(), 2u);

  Line("now", ReportLineKind::Error, LineFlush::Immediate, 0);
  EXPECT_EQ(display_.immediates, std::vector<std::string>{"now"});
  // A closing window shows nothing more; the report still gets every line.
  reporter_.Run().Closing = true;
  clock_.timer += 1;
  Line("while closing");
  EXPECT_EQ(display_.batches.size(), 2u);
  EXPECT_NE(Report().find("while closing"), std::string::npos);
}

TEST_F(ReporterTest, ALongDisplayBufferIsShownEarly) {
  options_.Report.clear();
  reporter_.BeginRun();
  Line("opening");
  const std::string line(1000, 'x');
  for (int i = 0; i < 40; ++i) Line(line);
  Line("closing", ReportLineKind::Action, LineFlush::Final, 0);
  std::string shown;
  for (const std::string& batch : display_.batches) {
    EXPECT_LE(batch.size(), 16382u + 1 + 1000u);
    shown += batch + "\n";
  }
  EXPECT_GT(display_.batches.size(), 3u);
  EXPECT_EQ(SplitLines(shown).size(), 42u);
  EXPECT_FALSE(tree_.Exists("report.txt"));
}

// Lines of actions that end later keep the places of their actions: what
// comes meanwhile waits, in order, until every earlier place is filled; a
// cancelled action fills its place with nothing; the run's final line comes
// last whatever is still open.
TEST_F(ReporterTest, LinesKeepThePlacesOfActionsThatEndLater) {
  options_.Report.clear();
  reporter_.BeginRun();
  const auto shown = [this] {
    std::vector<std::string> lines;
    for (const std::string& batch : display_.batches)
      for (const std::string& line : SplitLines(batch)) lines.push_back(line.substr(0, 25));
    return lines;
  };
  Line("before");
  const uint64_t a = reporter_.ReservePlace();
  Line("after a");
  const uint64_t b = reporter_.ReservePlace();
  const uint64_t c = reporter_.ReservePlace();
  reporter_.AccessError("/data/src/locked", kErrAccessDenied);
  reporter_.ReportActionAt(b, 0, "/data/dst/b", kActionCopy, 1, Side::Target, 0);
  reporter_.ReportActionAt(c, kErrCancelled, "/data/dst/c", kActionCopy, 1, Side::Target, 0);
  clock_.timer += 1;
  Line("");
  EXPECT_EQ(shown(), std::vector<std::string>{"before"});
  EXPECT_EQ(reporter_.Counters().FilesCopiedToTarget, 1);  // counted at once
  reporter_.ReportActionAt(a, kErrAccessDenied, "/data/dst/a", kActionCopy, 1, Side::Target, 0);
  Line("after all");
  const uint64_t d = reporter_.ReservePlace();
  Line("waits for d");
  (void)d;
  Line("Synchronization completed.", ReportLineKind::Action, LineFlush::Final, 0);
  // Each line's first 25 bytes.
  EXPECT_EQ(shown(), (std::vector<std::string>{
                         "before", (kError + " copying \"" + P("/data/dst/a")).substr(0, 25),
                         "after a", "Copied:            \t\"" + P("/dat"),
                         (kError + " accessing \"" + P("/data/src")).substr(0, 25), "after all",
                         "waits for d", "Synchronization completed"}));
  EXPECT_EQ(reporter_.Counters().ErrorCount, 2);
}

TEST_F(ReporterTest, FolderLinesOfTheFirstFlushFollowASingleStartLine) {
  options_.Report = tree_.Path("logs/2026/ü/report.txt");
  ScriptedRun();
  const std::string report = tree_.ReadFile("logs/2026/ü/report.txt");
  const auto lines = SplitLines(report);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0].rfind("========== ", 0), 0u);
  EXPECT_EQ(lines[1], "Created folder:    \t\"" + P(tree_.Path("logs")) + "\".");
  EXPECT_EQ(lines[2], "Created folder:    \t\"" + P(tree_.Path("logs/2026")) + "\".");
  EXPECT_EQ(lines[3], "Created folder:    \t\"" + P(tree_.Path("logs/2026/ü")) + "\".");
  size_t starts = 0;
  for (const auto& line : lines) starts += line.find(" started. ") != std::string::npos;
  EXPECT_EQ(starts, 1u);
  EXPECT_EQ(reporter_.Counters().FoldersCreatedInTarget, 3 + 1);  // and the script's own
}

#ifndef _WIN32  // FIFOs and /dev/null
TEST_F(ReporterTest, AReportThatCannotBeWrittenShowsOneMessagePerRunAndNeverWaits) {
  tree_.WriteFile("file", "x");
  tree_.MakeFolder("fifos");
  ASSERT_EQ(mkfifo(tree_.Path("fifos/unread").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(tree_.Path("fifos/read").c_str(), 0600), 0);
  // A reader that is there but never reads: nothing may reach it.
  const int reader = open(tree_.Path("fifos/read").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const struct {
    std::string report;
    ErrorCode error;
  } cases[] = {
      {tree_.Path("file/a/b/report.txt"), ENOTDIR},    // the report's folder cannot be made
      {tree_.Path("fifos/unread"), kErrNotSupported},  // would wait for a reader for ever
      {tree_.Path("fifos/read"), kErrNotSupported},
      {"/dev/null", kErrNotSupported},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.report);
    options_.Report = c.report;
    for (int run = 1; run <= 2; ++run) {
      display_.immediates.clear();
      display_.batches.clear();
      options_.Quiet = true;
      ScriptedRun();
      EXPECT_EQ(display_.immediates,
                std::vector<std::string>{"Error writing report to file \"" + c.report + "\". " +
                                         std::strerror(c.error)});
      EXPECT_TRUE(reporter_.Run().WriteFailed);
      std::string shown;
      for (const std::string& batch : display_.batches) shown += batch + "\n";
      const std::string folder_error = "Error 20 creating folder \"" + tree_.Path("file/a") + "\"";
      int folder_lines = 0;
      for (size_t at = shown.find(folder_error); at != std::string::npos;
           at = shown.find(folder_error, at + 1)) {
        ++folder_lines;
      }
      EXPECT_EQ(folder_lines, c.error == ENOTDIR ? 1 : 0) << shown;
      EXPECT_EQ(reporter_.Counters().ErrorCount, 2 + folder_lines);
    }
  }
  char byte = 0;
  EXPECT_LE(read(reader, &byte, 1), 0) << "nothing reached the reader";
  close(reader);
  EXPECT_EQ(tree_.ReadFile("file"), "x");
  EXPECT_EQ(tree_.List(), (std::vector<std::string>{"fifos", "file"}));
}
#endif

TEST_F(ReporterTest, AFullDiskShowsOneMessage) {
  testing::TmpfsMount full(tree_, "full", "4m");
  if (!full.SkipReason().empty()) GTEST_SKIP() << full.SkipReason();
  const std::string dir = tree_.Path("full");
  // Fill the disk but for a little room: the start line fits, the rest not.
  {
    std::FILE* filler = std::fopen((dir + "/filler").c_str(), "wb");
    ASSERT_NE(filler, nullptr);
    const std::string block(4096, 'f');
    while (std::fwrite(block.data(), 1, block.size(), filler) == block.size() &&
           std::fflush(filler) == 0) {
    }
    std::fclose(filler);
  }
  options_.Report = dir + "/report.txt";
  ScriptedRun();
  ASSERT_EQ(display_.immediates.size(), 1u);
  EXPECT_EQ(display_.immediates[0],
            "Error writing report to file \"" + options_.Report + "\". " + std::strerror(ENOSPC));
}

// A report of `size` bytes made of 100-byte lines, the first line longer.
std::string ReportOfSize(size_t size) {
  std::string first(99 + size % 100, 'F');
  std::string text = first + "\n";
  while (text.size() < size) text += std::string(99, 'l') + "\n";
  return text;
}

TEST_F(ReporterTest, TheReportIsCutToTwoThirdsOfItsLimitAtLineBoundaries) {
  options_.Append = true;
  const struct {
    int32_t limit_kb;
    size_t size;
    size_t kept_from;  // 0: not cut
  } cases[] = {{100, 102400, 0},
               {100, 102401, 34101},
               {100, 150000, 81700},
               {2097152, 1000, 0}};  // 2^31 bytes: overflows a 32-bit product
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    options_.Restriction = c.limit_kb;
    const std::string old = ReportOfSize(c.size);
    ASSERT_EQ(old.size(), c.size);
    tree_.WriteFile("report.txt", old);
    reporter_.BeginRun();
    reporter_.FlushReport(false);
    const std::string report = Report();
    const std::string start = StartLine(kStart, options_.ReportLevel, Separators{}) + "\n";
    if (c.kept_from == 0) {
      EXPECT_EQ(report, old + start);
    } else {
      EXPECT_EQ(report,
                RestrictedLine(kStart, Separators{}) + "\n" + old.substr(c.kept_from) + start);
      EXPECT_EQ(old.size() - c.kept_from, 68300u);
    }
    EXPECT_EQ(tree_.List(), std::vector<std::string>{"report.txt"});
    Finish();
  }
}

TEST_F(ReporterTest, ByteTotalsStayExactBeyondSinglePrecision) {
  options_.Report.clear();
  reporter_.BeginRun();
  reporter_.ReportAction(0, "/d/big", kActionCopy, uint64_t{1} << 24, Side::Target, 0);
  for (int i = 0; i < 1000; ++i) {
    reporter_.ReportAction(0, "/d/one", kActionCopy, 1, Side::Target, 0);
    reporter_.ReportAction(0, "/s/r", kActionReplace, 1, Side::Source, -1);
  }
  EXPECT_EQ(reporter_.Counters().BytesCopiedToTarget, 16778216);
  EXPECT_EQ(reporter_.Counters().SizeChangeInSource, -1000);
  EXPECT_EQ(reporter_.Counters().FilesCopiedToTarget, 1001);
}

TEST_F(ReporterTest, AnErrorBeforeTheRunOpensTheBlockTheRunContinues) {
  clock_.now = kStart - 60;
  Line("Invalid command line.", ReportLineKind::Error, LineFlush::Throttled, 0);
  clock_.now = kStart;
  ScriptedRun();
  const std::string report = Normalized(Report());
  EXPECT_EQ(report.rfind("========== 05/12/26 14:02:09 Twinmere {V} started. Report level: 215. "
                         "\nInvalid command line.\nCopied:",
                         0),
            0u)
      << report;
  EXPECT_NE(report.find("Elapsed time:              \t1:03:05."), std::string::npos);
}

// The JSON summary states the run as the report does, with each error line's
// code, action and path, once the exit code is known.
TEST_F(ReporterTest, TheJsonSummaryListsTheRunsErrorsAndIsReplacedByTheNextRun) {
  options_.JsonSummary = tree_.Path("json/run.json");
  reporter_.SetCommandLineWriter([](const SyncOptions& o) { return " -rl 3 " + o.Source; });
  clock_.now = kStart;
  ScriptedRun();
  EXPECT_FALSE(tree_.Exists("json/run.json"));  // not before the exit code is known
  reporter_.EndRun(4);
  ASSERT_TRUE(testing::MatchesRunSummarySchema(options_.JsonSummary));
  nlohmann::json doc = nlohmann::json::parse(tree_.ReadFile("json/run.json"));
  EXPECT_EQ(doc["start_time"], "2026-12-05T14:03:09+00:00");
  EXPECT_EQ(doc["end_time"], "2026-12-05T15:05:14+00:00");
  EXPECT_EQ(doc["exit_code"], 4);
  EXPECT_EQ(doc["arguments"], "-s /data/src/ -t /data/dst/");
  EXPECT_EQ(doc["command_line"], "-rl 3 /data/src/");
  EXPECT_EQ(doc["counters"]["ErrorCount"], 2);
  EXPECT_EQ(doc["counters"]["FilesCopiedToTarget"], 1);
  ASSERT_EQ(doc["errors"].size(), 2u);
  EXPECT_EQ(doc["errors"][0]["path"], "/data/dst/b.txt");
  EXPECT_EQ(doc["errors"][0]["action"], "copy");
  EXPECT_EQ(doc["errors"][1]["path"], "/data/src/locked");
  EXPECT_EQ(doc["errors"][1]["action"], "access");
  EXPECT_EQ(doc["errors"][1]["code"], kErrAccessDenied);

  // The next run starts with no errors kept; the document is replaced.
  reporter_.BeginRun();
  reporter_.EndRun(0);
  ASSERT_TRUE(testing::MatchesRunSummarySchema(options_.JsonSummary));
  doc = nlohmann::json::parse(tree_.ReadFile("json/run.json"));
  EXPECT_EQ(doc["errors"].size(), 0u);
  EXPECT_EQ(doc["exit_code"], 0);
}

// A run with more errors than the document lists keeps only the first ones
// in memory and counts the rest.
TEST_F(ReporterTest, TheJsonSummaryListsTheFirstErrorsAndCountsTheRest) {
  options_.Report.clear();
  options_.JsonSummary = tree_.Path("run.json");
  reporter_.BeginRun();
  for (size_t i = 0; i < kRunSummaryErrorLimit + 3; ++i)
    reporter_.AccessError("/data/src/f" + std::to_string(i), EIO);
  reporter_.EndRun(4);
  ASSERT_TRUE(testing::MatchesRunSummarySchema(options_.JsonSummary));
  const nlohmann::json doc = nlohmann::json::parse(tree_.ReadFile("run.json"));
  EXPECT_EQ(doc["errors"].size(), kRunSummaryErrorLimit);
  EXPECT_EQ(doc["errors"].back()["path"], "/data/src/f9999");
  EXPECT_EQ(doc["errors_omitted"], 3);
  EXPECT_EQ(doc["counters"]["ErrorCount"], kRunSummaryErrorLimit + 3);
}

// A summary that cannot be written is said once, like a report that cannot
// be written, and the program stays open to show it; the exit code stays.
TEST_F(ReporterTest, AJsonSummaryThatCannotBeWrittenShowsOneMessage) {
  options_.Report.clear();
  options_.Quiet = true;
  tree_.MakeFolder("taken.json");
  options_.JsonSummary = tree_.Path("taken.json");
  reporter_.BeginRun();
  reporter_.EndRun(0);
  ASSERT_EQ(display_.immediates.size(), 1u);
  EXPECT_EQ(display_.immediates[0], "Error writing JSON summary to file \"" +
                                        P(options_.JsonSummary) + "\". " +
                                        SystemErrorText(kErrIsAFolder));
  EXPECT_TRUE(reporter_.Run().WriteFailed);

  // Without -rj nothing is written and nothing said.
  options_.JsonSummary.clear();
  reporter_.BeginRun();
  reporter_.EndRun(0);
  EXPECT_EQ(display_.immediates.size(), 1u);
}

// The report lies in Source (or in Target of a bidirectional run): at the
// final flush its own copy is announced with the size it will have.
class PendingCopyTest : public ReporterTest {
 protected:
  PendingCopyTest() {
    tree_.MakeFolder("src/sub ü");
    tree_.MakeFolder("dst/sub ü");
    options_.Source = tree_.Folder("src");
    options_.Target = tree_.Folder("dst");
  }

  struct Outcome {
    std::string line;  // the pending-copy line, empty when not written
    uint64_t real_size;
    int64_t bytes;  // what the counters took for the copy
    int32_t files;
    int64_t change;
  };

  Outcome Run(bool in_source, const std::string& old_counterpart) {
    const std::string home = in_source ? "src/" : "dst/";
    const std::string other = in_source ? "dst/" : "src/";
    const std::string name = "sub ü/report €.txt";
    options_.Report = tree_.Path(home + name);
    const std::string counterpart = tree_.Path(other + name);
    testing::RemoveTree(counterpart);
    if (!old_counterpart.empty()) tree_.WriteFile(other + name, old_counterpart);
    reporter_.BeginRun();
    reporter_.Run().ReportInSource = in_source;
    reporter_.Run().ReportInTarget = !in_source;
    reporter_.FlushReport(false);
    reporter_.ReportAction(0, options_.Target + "a€.txt", kActionCopy, 1, Side::Target, 0);
    clock_.now += 5;
    Finish();
    Outcome out;
    const std::string report = tree_.ReadFile(home + name);
    out.real_size = report.size();
    for (const std::string& line : SplitLines(report)) {
      if (line.rfind("Would be", 0) == 0) out.line = line;
    }
    const SessionCounters& c = reporter_.Counters();
    const bool replaced = !old_counterpart.empty();
    if (in_source) {
      out.files = replaced ? c.FilesReplacedInTarget : c.FilesCopiedToTarget - 1;
      out.bytes = replaced ? c.BytesReplacedInTarget : c.BytesCopiedToTarget - 1;
      out.change = c.SizeChangeInTarget;
    } else {
      out.files = replaced ? c.FilesReplacedInSource : c.FilesCopiedToSource;
      out.bytes = replaced ? c.BytesReplacedInSource : c.BytesCopiedToSource;
      out.change = c.SizeChangeInSource;
    }
    EXPECT_EQ(self_sync_.calls.back(), false) << "the finished report is copied out";
    return out;
  }
};

TEST_F(PendingCopyTest, ThePredictedSizeIsTheRealSizeAndAStoppedRunAnnouncesNoCopy) {
  const Separators seps;
  for (bool in_source : {true, false}) {
    options_.Bidi = !in_source;
    for (const std::string& old : {std::string(), std::string(700, 'o')}) {
      for (int32_t level : {215, 255, 17, 16, 1 + 32 + 16, 0}) {
        SCOPED_TRACE(::testing::Message() << (in_source ? "in Source" : "in Target") << " old "
                                          << old.size() << " level " << level);
        options_.ReportLevel = level;
        const Outcome out = Run(in_source, old);
        EXPECT_EQ(out.files, 1);
        EXPECT_EQ(static_cast<uint64_t>(out.bytes), out.real_size);
        const std::string counterpart =
            tree_.Path((in_source ? "dst/" : "src/") + std::string("sub ü/report €.txt"));
        if (!(level & kLevelActions)) {
          EXPECT_EQ(out.line, "");
        } else if (old.empty()) {
          EXPECT_EQ(out.line, "Would be copied:   \t\"" + P(counterpart) + "\"  " +
                                  FormatSize(out.real_size, SizeFormat::Plain, seps) + ".");
        } else {
          EXPECT_EQ(out.change, static_cast<int64_t>(out.real_size) - 700);
          EXPECT_EQ(out.line, "Would be replaced: \t\"" + P(counterpart) + "\"  " +
                                  FormatSize(out.real_size, SizeFormat::Plain, seps) + " (" +
                                  FormatSize(out.change, SizeFormat::Signed, seps) + ").");
        }
      }
    }
  }
  options_.ReportLevel = 215;
  options_.Bidi = false;
  stop_ = 1;
  const Outcome stopped = Run(true, "");
  EXPECT_EQ(stopped.line, "");
  EXPECT_EQ(stopped.files, 0);
}

TEST_F(PendingCopyTest, ThePredictionHoldsAcrossUnitBoundaries) {
  options_.Append = true;
  options_.ReportLevel = 1 + 16;
  // Reports that end just around 1024 bytes and 1 MiB, where the size text
  // changes length ("1,024 bytes" / "1.001 Kbytes", "1,024.000 Kbytes" /
  // "1.000 Mbytes").
  const auto run_with_existing = [&](size_t existing) {
    tree_.WriteFile("src/sub ü/report €.txt", std::string(existing - 1, 'p') + "\n");
    return Run(true, "");
  };
  for (size_t target : {size_t{1024}, size_t{1} << 20}) {
    // What one run adds to the report, to aim the scan at the boundary.
    const size_t added = run_with_existing(target / 2).real_size - target / 2;
    int unsettled_texts = 0;
    for (size_t existing = target - added - 24; existing < target - added + 24; ++existing) {
      const Outcome out = run_with_existing(existing);
      ASSERT_EQ(static_cast<uint64_t>(out.bytes), out.real_size) << existing << "\n" << out.line;
      unsettled_texts += out.line.back() == ' ';
    }
    if (target > 1024) {
      EXPECT_GT(unsettled_texts, 0) << "the scan met no flipping size text";
    }
  }
}

}  // namespace
}  // namespace twinmere
