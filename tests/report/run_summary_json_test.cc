#include "report/run_summary_json.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

#include "report/action_lines.h"
#include "support/run_summary_check.h"
#include "support/temp_tree.h"
#include "support/utc_zone.h"

namespace twinmere {
namespace {

using testing::MatchesRunSummarySchema;
using testing::TempTree;
using testing::UtcTime;
using Json = nlohmann::json;

#ifndef _WIN32  // Windows takes the zone from its settings, never from TZ
// Sets TZ for the life of the object (a POSIX rule needs no zone files).
class Zone {
 public:
  explicit Zone(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
  }
  ~Zone() {
    unsetenv("TZ");
    tzset();
  }
};

TEST(RunSummaryJson, TimesAreLocalWithTheZonesOffset) {
  const double moment = UtcTime(2026, 12, 7, 8, 30, 15) + 0.75;
  const struct {
    const char* tz;
    const char* text;
  } cases[] = {
      {"UTC", "2026-12-07T08:30:15+00:00"},
      {"IST-5:30", "2026-12-07T14:00:15+05:30"},
      {"BRT+3", "2026-12-07T05:30:15-03:00"},
      {"NPT-5:45", "2026-12-07T14:15:15+05:45"},
  };
  for (const auto& c : cases) {
    Zone zone(c.tz);
    EXPECT_EQ(Iso8601LocalTime(moment), c.text) << c.tz;
  }
}
#endif

class RunSummaryDocument : public ::testing::Test {
 protected:
  // Writes the document to a file of its own, read back; the test's files
  // are checked against the schema at its end, all at once.
  Json Write(const RunSummary& summary) {
    std::string text;
    EXPECT_EQ(FormatRunSummary(summary, text), 0);
    EXPECT_TRUE(text.ends_with("}\n"));
    const std::string name = "out/summary" + std::to_string(written_.size()) + ".json";
    written_.push_back(tree_.Path(name));
    EXPECT_EQ(WriteRunSummary(written_.back(), text), 0);
    return Json::parse(tree_.ReadFile(name));
  }
  void TearDown() override {
    if (!written_.empty()) {
      EXPECT_TRUE(MatchesRunSummarySchema(written_));
    }
  }

  std::vector<std::string> written_;

  testing::UtcZone utc_;
  TempTree tree_;
  SyncOptions options_;
  PlatformFacts facts_;
  SessionCounters counters_;
  std::vector<RunError> errors_;
};

// Bytes that are UTF-8 text stay text, whatever characters they hold; any
// other bytes come as base64, so that a script gets every path back exactly.
TEST_F(RunSummaryDocument, PathsAreTextWhereTheyAreUtf8ElseTheirBytesInBase64) {
  const std::string text_path = "/data/ä \"q\"\\\n\t%$.txt";
  const std::string latin1 = "/data/caf\xE9/";         // not UTF-8
  const std::string truncated = "/data/\xE2\x82";      // a sequence cut short
  const std::string surrogate = "/data/\xED\xA0\x80";  // UTF-16 surrogate
  options_.Source = latin1;
  options_.Target = truncated;
  options_.Report = text_path;
  options_.JsonSummary = surrogate;
  errors_ = {{EACCES, kActionCopy, text_path}, {ENOENT, kAccessErrorAction, latin1}};
  const Json doc = Write({.options = options_,
                          .facts = facts_,
                          .counters = counters_,
                          .arguments = "-r x " + latin1,
                          .command_line = "",
                          .errors = errors_});

  const Json& options = doc["options"];
  EXPECT_EQ(options["Source"], (Json{{"base64", "L2RhdGEvY2Fm6S8="}}));
  EXPECT_EQ(options["Target"], (Json{{"base64", "L2RhdGEv4oI="}}));
  EXPECT_EQ(options["Report"], text_path);
  EXPECT_EQ(options["JsonSummary"], (Json{{"base64", "L2RhdGEv7aCA"}}));
  EXPECT_TRUE(doc["arguments"].is_object());
  EXPECT_EQ(doc["errors"][0]["path"], text_path);
  EXPECT_EQ(doc["errors"][1]["path"], options["Source"]);
}

TEST_F(RunSummaryDocument, StatesEveryOptionEveryCounterAndEachErrorsAction) {
  options_.Source = "/s/";
  options_.Bidi = options_.New = options_.Quiet = options_.DisallowStop = true;
  options_.Restriction = 500;
  options_.ReportLevel = 255;
  options_.LeaveOut = {"*.tmp", "caf\xE9/"};
  options_.LeaveOutFiles = {"/etc/lists.txt"};
  facts_.OsText = "Linux 6.1 (Test)";
  facts_.IsAdmin = true;
  counters_.BytesCopiedToTarget = int64_t{5} << 40;  // beyond 32 bits
  counters_.SizeChangeInSource = -300;
  counters_.ErrorCount = 4;
  counters_.ItemsLeftOut = 12;
  errors_ = {{EACCES, kActionReplace, "/t/a"},
             {ENOSPC, kActionRemoveFolderInPlace, "/t/b"},
             {EIO, kSecurityErrorAction, "/t/c"},
             {EPERM, ActionCode{999}, "/t/d"}};
  const Json doc = Write({.options = options_,
                          .facts = facts_,
                          .counters = counters_,
                          .security_support = true,
                          .arguments = "-bi -q /s/ /t/",
                          .command_line = "-q -ds -bi /s/ /t/",
                          .start_time = UtcTime(2026, 12, 7, 9, 0, 0),
                          .end_time = UtcTime(2026, 12, 7, 9, 1, 2) + 0.5,
                          .exit_code = 5,
                          .errors = errors_,
                          .errors_omitted = 7});

  EXPECT_EQ(doc["format_version"], kRunSummaryFormatVersion);
  EXPECT_EQ(doc["start_time"], "2026-12-07T09:00:00+00:00");
  EXPECT_EQ(doc["end_time"], "2026-12-07T09:01:02+00:00");
  EXPECT_DOUBLE_EQ(doc["elapsed_seconds"].get<double>(), 62.5);
  EXPECT_EQ(doc["outcome"], "stopped");
  EXPECT_FALSE(doc.contains("message"));  // only refusals say why
  EXPECT_EQ(doc["command_line"], "-q -ds -bi /s/ /t/");
  EXPECT_EQ(doc["operating_system"], "Linux 6.1 (Test)");
  EXPECT_EQ(doc["options"].size(), 27u);
  EXPECT_EQ(doc["options"]["Bidi"], true);
  EXPECT_EQ(doc["options"]["Delete"], false);
  EXPECT_EQ(doc["options"]["Restriction"], 500);
  EXPECT_EQ(doc["options"]["ReportLevel"], 255);
  EXPECT_EQ(doc["options"]["LeaveOut"], Json::parse(R"(["*.tmp", {"base64": "Y2Fm6S8="}])"));
  EXPECT_EQ(doc["options"]["LeaveOutFiles"], Json::parse(R"(["/etc/lists.txt"])"));
  EXPECT_EQ(doc["counters"].size(), 36u);
  EXPECT_EQ(doc["counters"]["ItemsLeftOut"], 12);
  EXPECT_EQ(doc["counters"]["BytesCopiedToTarget"], int64_t{5} << 40);
  EXPECT_EQ(doc["counters"]["SizeChangeInSource"], -300);
  EXPECT_EQ(doc["counters"]["ErrorCount"], 4);
  EXPECT_EQ(doc["errors_omitted"], 7);

  const Json expected = Json::parse(R"([
    {"code": 13, "action": "replace", "action_code": 33, "path": "/t/a"},
    {"code": 28, "action": "remove_folder", "action_code": 50, "path": "/t/b"},
    {"code": 5, "action": "access_security", "path": "/t/c"},
    {"code": 1, "action": "unknown", "action_code": 999, "path": "/t/d"}])");
  ASSERT_EQ(doc["errors"].size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    Json error = doc["errors"][i];
    EXPECT_EQ(error["text"], SystemErrorText(error["code"].get<int>())) << i;
    error.erase("text");
    EXPECT_EQ(error, expected[i]) << i;
  }
}

TEST_F(RunSummaryDocument, ARefusedRunOrInvalidLineSaysWhy) {
  const struct {
    int exit_code;
    const char* outcome;
  } cases[] = {{17, "invalid_command_line"}, {20, "refused"}, {22, "refused"}, {4, "completed"}};
  for (const auto& c : cases) {
    const Json doc = Write({.options = options_,
                            .facts = facts_,
                            .counters = counters_,
                            .exit_code = c.exit_code,
                            .message = "Invalid Source Path: \"/s/\".",
                            .errors = errors_});
    EXPECT_EQ(doc["outcome"], c.outcome) << c.exit_code;
    EXPECT_EQ(doc.contains("message"), c.exit_code >= 17) << c.exit_code;
  }
}

// The file is replaced as a whole: the old one stays until the new one is
// complete, keeps its permissions, and the folders on the way are made.
TEST_F(RunSummaryDocument, WritingReplacesTheFileAtOnceAndMakesItsFolders) {
  std::string first, second;
  ASSERT_EQ(FormatRunSummary({.options = options_,
                              .facts = facts_,
                              .counters = counters_,
                              .exit_code = 0,
                              .errors = errors_},
                             first),
            0);
  ASSERT_EQ(FormatRunSummary({.options = options_,
                              .facts = facts_,
                              .counters = counters_,
                              .exit_code = 1,
                              .errors = errors_},
                             second),
            0);
  EXPECT_EQ(WriteRunSummary(tree_.Path("a/b/c.json"), first), 0);
  EXPECT_EQ(tree_.ReadFile("a/b/c.json"), first);
  tree_.SetMode("a/b/c.json", 0600);
  EXPECT_EQ(WriteRunSummary(tree_.Path("a/b/c.json"), second), 0);
  EXPECT_EQ(tree_.ReadFile("a/b/c.json"), second);
  EXPECT_TRUE(MatchesRunSummarySchema(tree_.Path("a/b/c.json")));
#ifndef _WIN32  // no permission bits there
  struct stat st {};
  ASSERT_EQ(stat(tree_.Path("a/b/c.json").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
#endif
  EXPECT_EQ(tree_.List("a/b"), std::vector<std::string>{"c.json"});

  tree_.MakeFolder("taken.json");
  EXPECT_EQ(WriteRunSummary(tree_.Path("taken.json"), first), kErrIsAFolder);
  tree_.WriteFile("file", "");
  EXPECT_EQ(WriteRunSummary(tree_.Path("file/x.json"), first), kErrPathNotFound);
}

}  // namespace
}  // namespace twinmere
