#include "app/dialog_state.h"

#include <gtest/gtest.h>

namespace twinmere {
namespace {

constexpr char kState[] = "/state/twinmere";
constexpr int32_t kLevel = 31;

OptionsDialogState Read(const std::string& args) {
  return ReadCommandLineIntoDialog(args, kState, kLevel);
}

TEST(ReadCommandLineIntoDialog, EmptyLineGivesTheClearedDialog) {
  const OptionsDialogState state = Read("");
  OptionsDialogState expected;
  expected.ReportLevel = kLevel;
  expected.chkAppend.enabled = false;  // no report file
  expected.chkRestrict.enabled = false;
  expected.chkForceDelete.enabled = false;  // nothing deleted
  EXPECT_EQ(state, expected);
  EXPECT_EQ(state.txtRestrict, "500");
  EXPECT_FALSE(state.txtRestrictEnabled);
}

// What the strict reader refuses is skipped; a bad quote ends the reading
// and keeps what came before it; paths are taken as written.
TEST(ReadCommandLineIntoDialog, SkipsRefusedItemsStopsAtABadQuoteAndKeepsPathsAsWritten) {
  struct Case {
    std::string args;
    bool quiet, minimized;
    const char *report, *source, *target;
  };
  const Case cases[] = {
      {"-zz -q /a", true, false, "", "/a/", ""},  // unknown switch
      {"-q -rr", true, false, "", "", ""},        // missing value
      {"-q -rl", true, false, "", "", ""},
      {"-s -q", true, false, "", "", ""},  // start without folders
      {"-q-zz-s /a", true, false, "", "/a/", ""},
      {"-q -r \"/a b\"x -m /src /dst", true, false, "", "", ""},
      {"-q \"/a b\"x /dst", true, false, "", "", ""},
      {"-m -r r.txt \"/My Data\" /BACKUP/ /third", false, true, "/state/twinmere/r.txt",
       "/My Data/", "/BACKUP/"},
      // A doubled quote inside quotes is one quote of the path.
      {"-r \"/my \"\"r\"\".txt\" \"/My \"\"Best\"\" Data\" \"/BACKUP \"\"2\"\"/\"", false, false,
       "/my \"r\".txt", "/My \"Best\" Data/", "/BACKUP \"2\"/"},
      // Blanks inside the quotes belong to the names.
      {"-r \"notes.txt \" \" src\" \"dst \"", false, false, "/state/twinmere/notes.txt ", " src/",
       "dst /"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const OptionsDialogState state = Read(c.args);
    EXPECT_EQ(state.chkQuiet.checked, c.quiet);
    EXPECT_EQ(state.chkMinimized.checked, c.minimized);
    EXPECT_EQ(state.txtReport, c.report);
    EXPECT_EQ(state.txtSource, c.source);
    EXPECT_EQ(state.txtTarget, c.target);
  }
  EXPECT_TRUE(Read("-s").chkStart.checked);
  const OptionsDialogState json = Read("-rj \"run 1.json\" -q -rj \"/a\"x /src");
  EXPECT_EQ(json.txtJson, "/state/twinmere/run 1.json");  // the bad second one ends the reading
  EXPECT_EQ(json.txtReport, "");
  EXPECT_EQ(json.txtSource, "");
  const OptionsDialogState report = Read("-r r.txt -a");
  EXPECT_TRUE(report.chkAppend.checked);
  EXPECT_TRUE(report.chkAppend.enabled);
  EXPECT_TRUE(report.reportLevelEnabled);
}

// The deletion guard can be lifted only where something is deleted; where it
// cannot, its box is cleared and no option carries it.
TEST(ReadCommandLineIntoDialog, BidiWinsOverDeleteAndAnUnavailableGuardLiftIsCleared) {
  for (const char* args : {"-bi -d -fd", "-fd -d -bi"}) {
    const OptionsDialogState state = Read(args);
    EXPECT_TRUE(state.chkBidi.checked) << args;
    EXPECT_FALSE(state.chkDelete.checked) << args;
    EXPECT_TRUE(state.chkNew.checked) << args;
    EXPECT_FALSE(state.chkDelete.enabled) << args;
    EXPECT_FALSE(state.chkNew.enabled) << args;
  }
  const struct {
    const char* args;
    bool lifted;
  } cases[] = {{"-d -fd -n", true}, {"-fd", false}, {"-bi -d -fd", false}, {"-d", false}};
  for (const auto& c : cases) {
    const OptionsDialogState state = Read(c.args);
    EXPECT_EQ(state.chkForceDelete, (CheckBoxState{c.lifted, state.chkDelete.checked})) << c.args;
    EXPECT_EQ(DialogOptions(state, kState, 0).ForceDelete, c.lifted) << c.args;
  }
  // Unticking Delete afterwards clears it too.
  OptionsDialogState state = Read("-d -fd");
  state.chkDelete.checked = false;
  ApplyOptionsDialogRules(state);
  EXPECT_EQ(state.chkForceDelete, (CheckBoxState{false, false}));
}

// The versions folder is taken as written with a "/"; its number starts as
// the stored one and keeps it for a value that is no number. The number
// counts only with a folder: without one (blank, or the Trash box checked,
// which disables the folder) it is disabled and the options hold the default.
TEST(ReadCommandLineIntoDialog, VersionsFolderItsNumberAndTheTrash) {
  OptionsDialogState state = ReadCommandLineIntoDialog("-v \"old ones\" -vk x", kState, kLevel, 5);
  EXPECT_EQ(state.txtVersions, "old ones/");
  EXPECT_EQ(state.VersionsKeep, 5);
  EXPECT_TRUE(state.versionsEnabled && state.versionsKeepEnabled);
  EXPECT_EQ(DialogOptions(state, kState, 0).Versions, "old ones/");
  EXPECT_EQ(DialogOptions(state, kState, 0).VersionsKeep, 5);
  state = Read("-v /k -vk 3 -tr");
  EXPECT_EQ(state.VersionsKeep, 3);
  EXPECT_TRUE(state.chkTrash.checked);
  EXPECT_FALSE(state.versionsEnabled || state.versionsKeepEnabled);
  SyncOptions options = DialogOptions(state, kState, 9);
  EXPECT_TRUE(options.Trash);
  EXPECT_EQ(options.Versions, "");
  EXPECT_EQ(options.VersionsKeep, 9);
  state = Read("-vk 3");
  EXPECT_TRUE(state.versionsEnabled);
  EXPECT_FALSE(state.versionsKeepEnabled);
  EXPECT_EQ(DialogOptions(state, kState, 9).VersionsKeep, 9);
  state.txtVersions = " ";
  ApplyOptionsDialogRules(state);
  EXPECT_FALSE(state.versionsKeepEnabled);
}

TEST(ReadCommandLineIntoDialog, RestrictionTextAndBoxAndReportLevel) {
  struct Case {
    const char* args;
    const char* text;
    bool checked;
    bool text_enabled;
    int32_t level;
  };
  const Case cases[] = {
      {"-r /r.txt -rr 12", "12", true, true, kLevel},
      {"-r /r.txt -rr 0", "0", false, false, kLevel},
      {"-r /r.txt -rr abc", "abc", false, false, kLevel},
      {"-r /r.txt -rr 0.4", "0.4", true, true, kLevel},
      {"-r /r.txt -rr -5", "-5", false, false, kLevel},
      {"-r /r.txt -rr 7kb", "7kb", true, true, kLevel},  // leading numeric value
      {"-rr 12", "12", true, false, kLevel},             // no report: the box is disabled
      {"-rl 9", "500", false, false, 9},
      {"-rl 2.5", "500", false, false, 2},
      {"-rl abc", "500", false, false, kLevel},
      {"-rl 9 -rl abc", "500", false, false, 9},      // unconvertible: left as it was
      {"-rl 9 -rl -3", "500", false, false, kLevel},  // negative: the default
      {"-rl 9 -rl 99999999999", "500", false, false, 9},
  };
  for (const Case& c : cases) {
    const OptionsDialogState state = Read(c.args);
    EXPECT_EQ(state.txtRestrict, c.text) << c.args;
    EXPECT_EQ(state.chkRestrict.checked, c.checked) << c.args;
    EXPECT_EQ(state.txtRestrictEnabled, c.text_enabled) << c.args;
    EXPECT_EQ(state.ReportLevel, c.level) << c.args;
  }
}

// Each line of the field is one pattern, to the byte: blanks, bytes that are
// not UTF-8 and a "#" at its start belong to it; only line ends and empty
// lines are nothing. A launcher's -x and -xf repeat, in their order.
TEST(LeaveOut, EveryLineIsOnePatternAsTypedAndLaunchersAddTheirs) {
  SyncOptions options;
  options.LeaveOut = {"*.tmp", " spaced ", "caf\xE9/", "#not a comment", "!keep.tmp"};
  options.LeaveOutFiles = {"/p q.txt", "/more"};
  const OptionsDialogState state = LoadOptionsDialog(options, PlatformFacts{});
  EXPECT_EQ(state.txtLeaveOut, "*.tmp\n spaced \ncaf\xE9/\n#not a comment\n!keep.tmp");
  const SyncOptions back = DialogOptions(state, kState, 0);
  EXPECT_EQ(back.LeaveOut, options.LeaveOut);
  EXPECT_EQ(back.LeaveOutFiles, options.LeaveOutFiles);

  using Lines = std::vector<std::string>;
  EXPECT_EQ(LeaveOutPatterns(""), Lines{});
  EXPECT_EQ(LeaveOutPatterns("\n\r\n\n"), Lines{});
  EXPECT_EQ(LeaveOutPatterns("a\r\n\nb \n \nc"), (Lines{"a", "b ", " ", "c"}));

  const OptionsDialogState read =
      Read("-x *.tmp -xf \"/p q.txt\" -X \"a \"\"b\"\"/\" -q -XF /more /src /dst");
  EXPECT_EQ(read.txtLeaveOut, "*.tmp\na \"b\"/");
  EXPECT_EQ(read.lstLeaveOutFiles, (Lines{"/p q.txt", "/more"}));
  EXPECT_TRUE(read.chkQuiet.checked);
  EXPECT_EQ(read.txtSource, "/src/");
  EXPECT_EQ(read.txtTarget, "/dst/");
}

TEST(LeaveOut, FirstInvalidLineIsNamed) {
  const std::pair<const char*, std::optional<int>> cases[] = {
      {"*.tmp\n\n!keep.tmp\n/build/\n[[:digit:]]x", std::nullopt},
      {"*.tmp\n\nends in\\", 3},
      {"[[:nope:]]\nx\\", 1},
      {"ok\r\n!/", 2},
  };
  for (const auto& [text, line] : cases) EXPECT_EQ(FirstInvalidLeaveOutLine(text), line) << text;
}

TEST(RestrictionValue, LeadingNumberRoundedHalfToEvenAndKeptInRange) {
  const std::pair<const char*, int32_t> cases[] = {{" 12kb", 12},
                                                   {"2.5", 2},
                                                   {"3.5x", 4},
                                                   {"-5", 0},
                                                   {"abc", 0},
                                                   {"", 0},
                                                   {"99999999999", INT32_MAX}};
  for (const auto& [text, value] : cases) EXPECT_EQ(RestrictionValue(text), value) << text;
}

}  // namespace
}  // namespace twinmere
