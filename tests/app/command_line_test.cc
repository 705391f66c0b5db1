#include "app/command_line.h"

#include <gtest/gtest.h>

#include <random>

#include "base/exit_codes.h"
#include "fs/paths.h"
#include "platform/path_syntax.h"
#include "support/memory_file_system.h"
#include "support/temp_tree.h"

namespace twinmere {
namespace {

constexpr char kState[] = "/home/u/.local/state/twinmere";
constexpr int32_t kSettingsLevel = 31;  // not the built-in default, to catch mix-ups

class CommandLineTest : public ::testing::Test {
 protected:
  CommandLineTest() : context_{fs_, kState, kSettingsLevel} {
    base_.ReportLevel = kSettingsLevel;
    fs_.AddFolder("/Media/Photos");
  }

  ParseResult Parse(const std::string& args) {
    options_ = base_;
    return ParseCommandLine(args, options_, context_);
  }

  MemoryFileSystem fs_{MemoryFileSystemOptions{.case_insensitive = true}};
  CommandLineContext context_;
  SyncOptions base_;
  SyncOptions options_;
};

TEST_F(CommandLineTest, ValidityOfSwitchAndFolderCombinations) {
  struct Case {
    const char* args;
    bool valid;
  };
  const Case cases[] = {
      {"", true},
      {"   ", true},
      {"-s", false},  // a run needs both folders
      {"-s /src", false},
      {"-s /src \"\"", false},  // an empty quoted Target is still missing
      {"-bi -d /a /b", false},  // either order
      {"-d -bi /a /b", false},
      {"-rr", false},     // value missing at the very end
      {"-rr   ", false},  // (which numbers are valid: the number table below)
      {"-rl", false},
      {"-x", false},
      {"-", false},
      {"--q", false},  // an empty name between the two dashes
      {"-q-s /a /b", true},
      {"-m-q", true},  // joined switches at the very end
      {"-r", false},
      {"-r \"/a b/r.txt\"x", false},
      {"\"/a\"x /b", false},       // a quoted folder must be followed by a blank
      {"-v /k -tr /a /b", false},  // a versions folder or the Trash, in either order
      {"-tr -v /k /a /b", false},
      {"-tr -vk 3 /a /b", true},
      {"-v", false},
      {"-vk", false},
      {"-v /k -vk -1", false},
  };
  for (const Case& c : cases) EXPECT_EQ(Parse(c.args).valid, c.valid) << "[" << c.args << "]";
}

TEST_F(CommandLineTest, SwitchesSetTheirOptionsIgnoringCase) {
  ASSERT_TRUE(Parse("-Q -S -m -DS -qs -Xs -New -ns -C -NDL -ad -A -N -Fd /a /b").valid);
  SyncOptions expected = base_;
  expected.Preview = expected.ForceDelete = true;
  expected.Quiet = expected.Start = expected.Minimized = expected.DisallowStop = true;
  expected.QuickStart = expected.ExcludeSubfolders = expected.New = expected.NoSecurity = true;
  expected.Case = expected.NoDaylight = expected.AllowDecryption = expected.Append = true;
  expected.Source = "/a/";
  expected.Target = "/b/";
  EXPECT_EQ(options_, expected);
}

// (That -bi alone also sets New, the round trip of random records shows.)
TEST_F(CommandLineTest, BidiWithDeleteIsAFaultThatKeepsEarlierSettings) {
  ASSERT_FALSE(Parse("-d -q -bi -m").valid);
  EXPECT_TRUE(options_.Delete);
  EXPECT_TRUE(options_.Bidi);
  EXPECT_TRUE(options_.Quiet);
  EXPECT_FALSE(options_.Minimized);  // not read after the fault
}

TEST_F(CommandLineTest, NumbersAreRoundedHalfToEvenWithinThe32BitRange) {
  struct Case {
    const char* token;
    bool valid;
    int32_t value;
  };
  const Case cases[] = {
      {"0", true, 0},
      {"1000", true, 1000},
      {"2147483647", true, 2147483647},
      {"2147483648", false, 0},
      {"99999999999999999999999", false, 0},
      {"2147483647.4", true, 2147483647},
      {"2147483646.5", true, 2147483646},
      {"2147483647.5", false, 0},  // rounds beyond the range
      {"2.5", true, 2},
      {"3.5", true, 4},
      {"2.51", true, 3},
      {"2.500001", true, 3},
      {"0.5", true, 0},
      {".5", true, 0},
      {"7.", true, 7},
      {"+7", true, 7},
      {"-0.4", true, 0},  // rounds to 0, which is not negative
      {"-0.5", true, 0},
      {"-0.6", false, 0},
      {"-2147483648", false, 0},
      {"", false, 0},
      {".", false, 0},
      {"1e3", false, 0},
      {"12abc", false, 0},
      {"0x10", false, 0},
      {"1,000", false, 0},
  };
  for (const Case& c : cases) {
    for (const char* name : {"-rr ", "-rl "}) {
      const std::string args = std::string(name) + c.token;
      const ParseResult result = Parse(args);
      EXPECT_EQ(result.valid, c.valid) << args;
      if (!c.valid || !result.valid) continue;
      const int32_t got = name[2] == 'r' ? options_.Restriction : options_.ReportLevel;
      EXPECT_EQ(got, c.value) << args;
    }
  }
}

TEST_F(CommandLineTest, ReportPathsQuotedBareAndPlacedInTheStateFolder) {
  struct Case {
    const char* args;
    const char* report;
  };
  const Case cases[] = {
      {"-r report.txt", "/home/u/.local/state/twinmere/report.txt"},
      {"-r \"my report.txt\"", "/home/u/.local/state/twinmere/my report.txt"},
      {"-r /var/log/r.txt", "/var/log/r.txt"},
      {"-r logs/r.txt", "logs/r.txt"},  // relative, kept as written
      // Blanks inside the quotes belong to the name: "notes.txt " is not notes.txt.
      {"-r \"  /my docs/r.txt  \" -q", "  /my docs/r.txt  "},
      {"-r \"notes.txt \"", "/home/u/.local/state/twinmere/notes.txt "},
      {"-r \"/no/closing", ""},
      {"-r \"/my \"\"best\"\" r.txt\"", "/my \"best\" r.txt"},  // "" inside quotes is one quote
      {"-r \"\" /a", ""},
      {"-r/tmp/r.txt", "/tmp/r.txt"},                     // "/" ends the name and starts the path
      {"-r a\"b", "/home/u/.local/state/twinmere/a\"b"},  // a quote mid-token is text
      {"-r $HOME/r.txt", "$HOME/r.txt"},                  // nothing is expanded
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(Parse(c.args).valid) << c.args;
    EXPECT_EQ(options_.Report, c.report) << c.args;
    // The JSON summary's path is read and placed the same way.
    std::string json_args = c.args;
    json_args.insert(2, "j");
    ASSERT_TRUE(Parse(json_args).valid) << json_args;
    EXPECT_EQ(options_.JsonSummary, c.report) << json_args;
    EXPECT_EQ(options_.Report, "") << json_args;
  }

  context_.state_folder.clear();
  ASSERT_TRUE(Parse("-r report.txt").valid);
  EXPECT_EQ(options_.Report, "report.txt");
  // View Report follows the last report switch.
  EXPECT_FALSE(Parse("-q").view_report_enabled.has_value());
  EXPECT_EQ(Parse("-r /x.txt").view_report_enabled, true);
  EXPECT_EQ(Parse("-r /x.txt -r \"\"").view_report_enabled, false);
  EXPECT_EQ(Parse("-r /x.txt -rj \"\"").view_report_enabled, true);  // -rj is no report
}

TEST_F(CommandLineTest, FoldersAreQuotedOrBareGetASeparatorAndTheLetterCaseStoredOnDisk) {
  struct Case {
    const char* args;
    const char* source;
    const char* target;
  };
  const Case cases[] = {
      {"\"/my data/\" /backup", "/my data/", "/backup/"},
      {"\" /my data \"   \"/a b\"", " /my data /", "/a b/"},  // blanks in quotes are the name's
      {"\"src \" \"dst \"", "src /", "dst /"},
      {"/a", "/a/", ""},
      {"/a/ /b/ /ignored", "/a/", "/b/"},
      {"/a -s", "/a/", "-s/"},  // a folder ends the switch list
      {"\"/open", "", ""},
      {"\"\" /b", "", "/b/"},
      {"\"\" \"\"", "", ""},
      {"\"/My \"\"Best\"\" Photos/\" \"\"\"odd\"", "/My \"Best\" Photos/", "\"odd/"},
      {"/a \"/b\"junk", "/a/", "/b/"},  // whatever follows the Target is ignored
      // ... unless it begins with a quote: a doubled quote inside the Target,
      // the one reading that differs from the time before the escape.
      {"/a \"/b\"\"junk\"", "/a/", "/b\"junk/"},
      {"/media/PHOTOS /MEDIA/new/sub", "/Media/Photos/", "/Media/new/sub/"},  // as stored on disk
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(Parse(c.args).valid) << c.args;
    EXPECT_EQ(options_.Source, c.source) << c.args;
    EXPECT_EQ(options_.Target, c.target) << c.args;
    EXPECT_FALSE(options_.Start) << c.args;
  }
  // A command line without folders leaves them as they were.
  base_.Source = "/kept/";
  ASSERT_TRUE(Parse("-q").valid);
  EXPECT_EQ(options_.Source, "/kept/");
}

TEST(StartupCommandLine, DefaultReportOnlyForAnEmptyLineAndAnInvalidLineNeitherRunsNorExits) {
  MemoryFileSystem fs;
  const CommandLineContext context{fs, kState, kDefaultReportLevel};
  SyncOptions options;
  ReadStartupCommandLine("", "/logs/default.txt", context, options);
  EXPECT_EQ(options.Report, "/logs/default.txt");
  EXPECT_TRUE(options.Append);

  const CommandLineContext settings_level{fs, kState, 99};
  SyncOptions level;
  ReadStartupCommandLine("-q", "", settings_level, level);
  EXPECT_EQ(level.ReportLevel, 99);
  ReadStartupCommandLine("-rl 7", "", settings_level, level);
  EXPECT_EQ(level.ReportLevel, 7);

  for (const char* args : {" ", "-q", "/a", "-s -q /a /b"}) {
    SyncOptions other;
    const StartupCommandLine ok = ReadStartupCommandLine(args, "/logs/default.txt", context, other);
    EXPECT_TRUE(ok.valid && ok.exit_code == 0 && ok.error_line.empty()) << args;
    EXPECT_EQ(other.Report, "") << args;
    EXPECT_FALSE(other.Append) << args;
  }

  // An invalid line gives its message and exit code, and neither runs nor exits.
  SyncOptions invalid;
  const StartupCommandLine startup =
      ReadStartupCommandLine("-s -q -m -zz /a /b", "", context, invalid);
  EXPECT_FALSE(startup.valid);
  EXPECT_EQ(startup.exit_code, kExitInvalidCommandLine);
  EXPECT_EQ(startup.error_line, "Invalid command line: \"-s -q -m -zz /a /b\"");
  EXPECT_FALSE(invalid.Start);
  EXPECT_FALSE(invalid.Quiet);
  EXPECT_TRUE(invalid.Minimized);
}

TEST_F(CommandLineTest, JoinArgumentsQuotesWhatNeedsItAndEveryArgumentReadsBack) {
  const char* argv[] = {"/usr/bin/twinmere", "-r", "/my \"docs\"/r.txt", "", "\"odd", nullptr};
  const std::string joined = JoinArguments(5, argv);
  EXPECT_EQ(joined, "-r \"/my \"\"docs\"\"/r.txt\" \"\" \"\"\"odd\"");
  EXPECT_EQ(JoinArguments(1, argv), "");

  ASSERT_TRUE(Parse(joined).valid);
  EXPECT_EQ(options_.Report, "/my \"docs\"/r.txt");
  EXPECT_EQ(options_.Source, "");
  EXPECT_EQ(options_.Target, "\"odd/");

  // Blanks at the ends of an argument are part of the name, bare names too.
  const char* blanks[] = {"twinmere", "-d", "-r", "notes.txt ", " src", "dst "};
  ASSERT_TRUE(Parse(JoinArguments(6, blanks)).valid);
  EXPECT_EQ(options_.Report, std::string(kState) + "/notes.txt ");
  EXPECT_EQ(options_.Source, " src/");
  EXPECT_EQ(options_.Target, "dst /");
}

// A -x pattern is checked as it is read, a -xf file read; either fault
// stops the line with a second line that says which.
TEST_F(CommandLineTest, PatternsAndPatternFilesThatCannotBeUsedMakeTheLineInvalid) {
  testing::TempTree tree;
  tree.WriteFile("ok.txt", "# caches\n.cache/\n\n*.tmp\n");
  tree.WriteFile("bad.txt", "*.tmp\n\n[[:nope:]]\nok\n");
  tree.MakeFolder("folder");
  struct Case {
    std::string args;
    std::string fault;  // empty: valid
  };
  const Case cases[] = {
      {"-x *.tmp -X \"my cache/\" -x !keep.tmp /a /b", ""},
      {"-xf " + tree.Path("ok.txt") + " -xf " + tree.Path("ok.txt"), ""},
      {"-x \"\"", "Invalid pattern to leave out: \"\"."},
      {"-x trailing\\", "Invalid pattern to leave out: \"trailing\\\"."},
      {"-x !/", "Invalid pattern to leave out: \"!/\"."},
      {"-x [[:nope:]].c", "Invalid pattern to leave out: \"[[:nope:]].c\"."},
      {"-xf " + tree.Path("bad.txt"), "Invalid pattern in line 3 of the patterns file \"" +
                                          ShownSeparators(tree.Path("bad.txt")) + "\"."},
      {"-xf " + tree.Path("missing.txt"),
       "Error " + std::to_string(kErrNotFound) + " reading the patterns file \"" +
           ShownSeparators(tree.Path("missing.txt")) + "\". " + SystemErrorText(kErrNotFound)},
      {"-xf " + tree.Path("folder"),
       "Error " + std::to_string(kErrIsAFolder) + " reading the patterns file \"" +
           ShownSeparators(tree.Path("folder")) + "\". " + SystemErrorText(kErrIsAFolder)},
      {"-xf", ""},  // no value: invalid without a line of its own
  };
  for (const Case& c : cases) {
    const ParseResult result = Parse(c.args);
    EXPECT_EQ(result.valid, c.fault.empty() && c.args != "-xf") << c.args;
    EXPECT_EQ(result.fault, c.fault) << c.args;
  }
  ASSERT_TRUE(Parse(cases[0].args).valid);
  EXPECT_EQ(options_.LeaveOut, (std::vector<std::string>{"*.tmp", "my cache/", "!keep.tmp"}));

  // Start-up shows both lines, and what was read before the fault stays.
  SyncOptions options;
  const std::string args = "-x *.o -xf " + tree.Path("bad.txt") + " -x *.a /a /b";
  const StartupCommandLine startup = ReadStartupCommandLine(args, "", context_, options);
  EXPECT_EQ(startup.exit_code, kExitInvalidCommandLine);
  EXPECT_EQ(startup.error_line, InvalidCommandLineMessage(args) + "\n" + cases[6].fault);
  EXPECT_EQ(options.LeaveOut, std::vector<std::string>{"*.o"});
  EXPECT_TRUE(options.LeaveOutFiles.empty());
}

// Every switch flag but Start, which needs both folders.
constexpr bool SyncOptions::*kFlags[] = {&SyncOptions::ExcludeSubfolders,
                                         &SyncOptions::Bidi,
                                         &SyncOptions::Delete,
                                         &SyncOptions::New,
                                         &SyncOptions::Case,
                                         &SyncOptions::NoDaylight,
                                         &SyncOptions::NoSecurity,
                                         &SyncOptions::AllowDecryption,
                                         &SyncOptions::Minimized,
                                         &SyncOptions::Quiet,
                                         &SyncOptions::QuickStart,
                                         &SyncOptions::DisallowStop,
                                         &SyncOptions::Append,
                                         &SyncOptions::Preview,
                                         &SyncOptions::ForceDelete};

TEST(BuildCommandLine, WritesPiecesInTheFixedOrderAndQuotesWhatNeedsIt) {
  SyncOptions all;
  for (bool SyncOptions::*flag : kFlags) all.*flag = true;
  all.Start = true;
  all.Report = "/my docs/r.txt";
  all.Restriction = 500;
  all.ReportLevel = 7;
  all.JsonSummary = "/my docs/run.json";
  all.Versions = "/old ones/";
  all.VersionsKeep = 4;
  EXPECT_EQ(BuildCommandLine(all, 215, 2),
            " -s -q -m -ds -qs -xs -bi -ns -c -ndl -ad -r \"/my docs/r.txt\" -a -rr 500 -rl 7"
            " -rj \"/my docs/run.json\" -v \"/old ones/\" -vk 4 -n -fd");
  all.VersionsKeep = 2;  // the stored number goes without saying
  EXPECT_TRUE(BuildCommandLine(all, 215, 2).ends_with(" -v \"/old ones/\" -n -fd"));
  all.Versions.clear();
  all.Trash = true;
  EXPECT_TRUE(BuildCommandLine(all, 215, 2).ends_with(" -rj \"/my docs/run.json\" -tr -n -fd"));

  SyncOptions some;
  some.Delete = some.New = true;
  some.Restriction = -3;  // never written unless above 0
  some.ReportLevel = 215;
  EXPECT_EQ(BuildCommandLine(some, 215), " -d -new");
  some.ForceDelete = true;
  EXPECT_EQ(BuildCommandLine(some, 215), " -d -new -fd");
  EXPECT_EQ(BuildCommandLine(SyncOptions{}, 215), "");
  SyncOptions lists;
  lists.LeaveOut = {"*.tmp", "my cache/", "-x"};
  lists.LeaveOutFiles = {"/my lists/a.txt", "b.txt"};
  EXPECT_EQ(BuildCommandLine(lists, 215),
            " -xf \"/my lists/a.txt\" -xf b.txt -x *.tmp -x \"my cache/\" -x -x");

  // The launcher line quotes paths with blanks and keeps the folders' positions.
  SyncOptions options;
  options.Start = true;
  options.Source = "/my data/";
  options.Target = "/backup/";
  EXPECT_EQ(BuildLauncherCommandLine("/opt/my apps/twinmere", options, 215),
            "\"/opt/my apps/twinmere\" -s \"/my data/\" /backup/");

  options.Start = false;
  options.Source.clear();
  EXPECT_EQ(BuildArguments(options, 215), " \"\" /backup/");
  options.Source = "-odd/";
  options.Target = "-r\"x/";  // the switch list is over: no quotes needed
  EXPECT_EQ(BuildArguments(options, 215), " \"-odd/\" -r\"x/");
  options.Source = "/My \"Best\" Photos/";
  options.Target = "\"x/";
  EXPECT_EQ(BuildArguments(options, 215), " \"/My \"\"Best\"\" Photos/\" \"\"\"x/\"");
}

// Random option records survive BuildArguments followed by ParseCommandLine,
// apart from the two documented exceptions.
TEST_F(CommandLineTest, RandomRecordsSurviveBuildThenParse) {
  testing::TempTree tree;
  tree.WriteFile("my lists/a.txt", "*.tmp\n");
#ifdef _WIN32
  const std::string quoted = "b \u2019b\u2019.txt";  // no Windows name holds a '"'
#else
  const std::string quoted = "\"b\".txt";
#endif
  tree.WriteFile(quoted, "");
  const std::vector<std::string> lists = {tree.Path("my lists/a.txt"), tree.Path(quoted)};
  const std::vector<std::string> patterns = {"*.tmp", "my cache/", "-dash", "!keep.tmp",
                                             "/b/",   "\"quoted",  "a\"b",  "docs/**/*.pdf",
                                             " lead", "trail\\ ",  "\xff*"};
  std::mt19937 random(20241206);
  const std::vector<std::string> reports = {
      "",        "r.txt",      "my report.txt", "/var/log/r.txt", "/my docs/a b.txt",
      "logs/x",  "-dash.txt",  "/a\"b",         "\"r.txt",        "/my \"r\" \"\".txt",
      " r.txt ", "/tmp/r.txt "};
  const std::vector<std::string> folders = {
      "",       "/a/",        "/my data/", "/x/y z/", "-dash/", "rel/",
      "/",      "/\xff\xfe/", "/q\"uote/", "\"/",     "\"x y/", "/My \"Best\" Photos/\"/",
      " lead/", "trail /"};
  auto coin = [&] { return random() % 2 == 1; };
  for (int i = 0; i < 3000; ++i) {
    SyncOptions record;
    for (bool SyncOptions::*flag : kFlags) record.*flag = coin();
    record.Report = reports[random() % reports.size()];
    record.JsonSummary = reports[random() % reports.size()];
    record.Source = folders[random() % folders.size()];
    record.Target = folders[random() % folders.size()];
    record.Start = coin() && !record.Source.empty() && !record.Target.empty();
    record.Restriction = coin() ? 0 : static_cast<int32_t>(random() % 0x80000000u);
    record.ReportLevel = coin() ? kSettingsLevel : static_cast<int32_t>(random() % 0x80000000u);
    record.Versions = coin() ? "" : folders[random() % folders.size()];
    record.VersionsKeep = coin() ? 0 : static_cast<int32_t>(random() % 100);
    record.Trash = record.Versions.empty() && coin();
    for (int n = static_cast<int>(random() % 3); n > 0; --n)
      record.LeaveOut.push_back(patterns[random() % patterns.size()]);
    for (int n = static_cast<int>(random() % 3); n > 0; --n)
      record.LeaveOutFiles.push_back(lists[random() % lists.size()]);

    const std::string args = BuildArguments(record, kSettingsLevel);
    const ParseResult result = Parse(args);
    ASSERT_TRUE(result.valid) << args;

    SyncOptions expected = record;
    if (expected.Bidi) {
      expected.Delete = false;
      expected.New = true;
    }
    expected.Report = QualifyName(record.Report, kState);
    expected.JsonSummary = QualifyName(record.JsonSummary, kState);
    expected.Versions = AddSeparator(record.Versions);
    EXPECT_EQ(options_, expected) << args;
  }
}

}  // namespace
}  // namespace twinmere
