#include "app/shortcuts.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/desktop_entry.h"
#include "app/desktop_launcher.h"
#include "app/dialog_message_printer.h"
#include "fs/paths.h"
#include "support/every_flag.h"
#include "support/temp_tree.h"
#include "support/working_folder.h"

namespace twinmere {
namespace {

using testing::DesktopArgv;
using testing::EntryValue;
using testing::RunProgram;
using testing::TempTree;
using testing::ValidatorComplaints;

constexpr int32_t kLevel = 31;

}  // namespace

void PrintTo(const ShortcutDialogFields& f, std::ostream* os) {
  *os << "{" << f.txtPath << " | " << f.txtFilename << " | " << f.txtTitle << " | " << f.txtCmdline
      << "}";
}

namespace {

// Answers the questions of Save and records every message.
struct Answers : ShortcutSaveQuestions {
  void Show(const DialogMessage& message) override { shown.push_back(message); }
  bool Ask(const DialogMessage& question) override {
    asked.push_back(question);
    return ok;
  }
  std::vector<DialogMessage> shown;
  std::vector<DialogMessage> asked;
  bool ok = true;
};

class ShortcutsTest : public ::testing::Test {
 protected:
  ShortcutsTest() : fs_(CreatePlatformFileSystem()) { tree_.MakeFolder("apps"); }

  ShortcutDialogContext Context(const std::string& program = "") {
    return ShortcutDialogContext{*fs_, program.empty() ? tree_.Path("my bin/twinmere") : program,
                                 tree_.Folder("apps"), kLevel, tree_.Folder("share/applications")};
  }

  // The boxes of the dialog opened for `options`, saved as `name`.
  SaveOutcome Save(const SyncOptions& options, const std::string& name, Answers& answers,
                   ShortcutMemory& memory, const std::string& program = "") {
    ShortcutDialogFields fields = LoadShortcutDialog(options, memory, Context(program));
    fields.txtFilename = name;
    return SaveShortcut(fields, Context(program), memory, answers);
  }

  TempTree tree_;
  std::unique_ptr<FileSystem> fs_;
};

TEST_F(ShortcutsTest, OptionsComeBackThroughASavedEntryForEverySwitch) {
  SyncOptions all = testing::EveryFlagButDelete();
  all.Report = "/my docs/report $HOME `id` 100%.txt";
  all.Restriction = 500;
  all.ReportLevel = 7;
  all.Source = "/data/a b/";
  all.Target = "/backup/c'd;e|f\\g/";
  SyncOptions other;
  other.Delete = other.New = true;
  other.Source = "/new\nline/say\"hi\"/";
  other.Target = "/é ü/";
  SyncOptions target_only;
  target_only.Target = "/only target/";
  SyncOptions quoted_blank;
  quoted_blank.Source = "/a \"b\" c/";
  quoted_blank.Target = "/plain/";

  int number = 0;
  for (const SyncOptions& options : {all, other, target_only, quoted_blank}) {
    const std::string arguments = BuildArguments(options, kLevel);
    SCOPED_TRACE(arguments);
    const OptionsDialogState expected = ReadCommandLineIntoDialog(arguments, "/state", kLevel);
    // A folder holding both a blank and a double quote travels only once the
    // command line can carry it.
    if (expected.txtSource != options.Source || expected.txtTarget != options.Target) continue;

    const std::string name = "entry " + std::to_string(++number);
    Answers answers;
    ShortcutMemory memory;
    EXPECT_EQ(Save(options, name, answers, memory), SaveOutcome::Close);
    EXPECT_TRUE(answers.shown.empty()) << answers.shown.front().text;
    const std::string file = tree_.Path("apps/" + name + ".desktop");
    EXPECT_EQ(memory.LastShortcutFile, file);
    EXPECT_EQ(ValidatorComplaints(file), "");

    ShortcutMemory read_memory;
    OptionsDialogState state;
    const auto message =
        ReadShortcutOptions(file, ShortcutOptionsContext{"/state", kLevel}, state, read_memory);
    ASSERT_FALSE(message.has_value()) << message->text;
    EXPECT_EQ(state, expected);
    EXPECT_EQ(state.txtTarget, options.Target);
    EXPECT_EQ(read_memory.LastShortcutFile, file);
    EXPECT_EQ(read_memory.LastShortcutComment, DefaultShortcutComment(options));
  }
  EXPECT_GE(number, 3);
}

TEST_F(ShortcutsTest, ReadingChecksTheProgramAndChangesNothingOnFailure) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/anywhere/twinmere", ""},
      {"twinmere", ""},
      {"/usr/bin/Twinmere", "Wrong shortcut file."},
      {"/usr/bin/twinmere.com", "Wrong shortcut file."},
      {"/usr/bin/twinmere-cli", "Wrong shortcut file."},
  };
  for (const auto& [program, text] : cases) {
    SCOPED_TRACE(program);
    ShortcutFields fields;
    fields.target_path = program;
    fields.arguments = "-s -ns /a/ /b/";
    fields.description = "nightly";
    ASSERT_TRUE(CreateShortcut(tree_.Path("x.desktop"), fields).ok());
    OptionsDialogState state;
    state.chkNoSecurity.enabled = false;  // no administrative rights
    state.txtSource = "/before/";
    ShortcutMemory memory{"/earlier.desktop", "earlier"};
    const auto message = ReadShortcutOptions(
        tree_.Path("x.desktop"), ShortcutOptionsContext{"/state", kLevel}, state, memory);
    if (text.empty()) {
      EXPECT_FALSE(message.has_value());
      EXPECT_EQ(state.txtSource, "/a/");
      EXPECT_TRUE(state.chkNoSecurity.checked);
      EXPECT_FALSE(state.chkNoSecurity.enabled);
      EXPECT_EQ(memory.LastShortcutFile, tree_.Path("x.desktop"));
      EXPECT_EQ(memory.LastShortcutComment, "nightly");
    } else {
      ASSERT_TRUE(message.has_value());
      EXPECT_EQ(*message, (DialogMessage{text, MessageIcon::Exclamation, 2050}));
      EXPECT_EQ(state.txtSource, "/before/");
      EXPECT_EQ(memory.LastShortcutFile, "/earlier.desktop");
    }
  }
  OptionsDialogState state;
  ShortcutMemory memory;
  const auto missing = ReadShortcutOptions(tree_.Path("missing.desktop"), {}, state, memory);
  ASSERT_TRUE(missing.has_value());
  EXPECT_EQ(missing->text, "Error reading shortcut file.\n\nNo such file or directory");
  EXPECT_EQ(missing->help_topic, 2050);
}

TEST_F(ShortcutsTest, DialogProposesNumberedNamesCommentAndCommandLine) {
  tree_.WriteFile("apps/New Synchronization.desktop", "");
  tree_.MakeFolder("apps/New Synchronization(1).desktop");
  EXPECT_EQ(DefaultShortcutFile(*fs_, tree_.Folder("apps")),
            tree_.Path("apps/New Synchronization(2).desktop"));

  SyncOptions options;
  options.ReportLevel = kLevel;
  options.Start = true;
  options.Source = "/my data/";
  options.Target = "/backup/";
  const ShortcutDialogFields fresh = LoadShortcutDialog(options, {}, Context());
  EXPECT_EQ(fresh, (ShortcutDialogFields{
                       tree_.Folder("apps"), "New Synchronization(2)",
                       "Synchronize \"/backup/\" with \"/my data/\"",
                       "\"" + tree_.Path("my bin/twinmere") + "\" -s \"/my data/\" /backup/"}));
  options.Target.clear();
  const ShortcutDialogFields again =
      LoadShortcutDialog(options, {"/saved/Nightly.Desktop", "kept"}, Context());
  EXPECT_EQ(again.txtPath, "/saved/");
  EXPECT_EQ(again.txtFilename, "Nightly");
  EXPECT_EQ(again.txtTitle, "kept");
  EXPECT_EQ(DefaultShortcutComment(options), "Launch Twinmere");

  EXPECT_EQ(ProposedShortcutFile({"", " ", "", ""}, Context()),
            tree_.Path("apps/New Synchronization(2).desktop"));
  EXPECT_EQ(ProposedShortcutFile({"/x", "Name.DESKTOP", "", ""}, Context()), "/x/Name.DESKTOP");
  EXPECT_TRUE(IsShortcutDrop(*fs_, tree_.Path("apps/New Synchronization.desktop")));
  EXPECT_FALSE(IsShortcutDrop(*fs_, tree_.Path("apps/New Synchronization(1).desktop")));
  EXPECT_FALSE(IsShortcutDrop(*fs_, "/x/entry.lnk"));
}

TEST_F(ShortcutsTest, SaveStopsAtEachCheckWithItsMessage) {
  tree_.MakeFolder("apps/taken.desktop");
  const std::string limit_exceeded = " exceeds allowable maximum of ";
  struct Case {
    ShortcutDialogFields fields;
    std::string message;
    int help_topic;
  };
  const std::string path = tree_.Folder("apps");
  const std::string exe = "/opt/twinmere";
  const Case cases[] = {
      {{path, "a", "c", "  "}, "Invalid command line", 6000},
      {{path, "a", "c", "\"\" -s"}, "Invalid command line", 6000},
      {{path, "a", "c", "\"/never closed -s"}, "Invalid command line", 6000},
      {{path, std::string(4100, 'n'), "c", exe}, "The " + limit_exceeded + "4095 symbols.", 6001},
      {{path, "taken", "c", exe},
       "Invalid shortcut filename: The folder with same name already exists.",
       6001},
      {{path, "a", "c", "/" + std::string(4095, 'x')},
       "The full path to the executable file" + limit_exceeded + "4095 symbols.",
       6001},
      {{path, "a", "c", exe + " " + std::string(260, 'a')},
       "The length of the arguments string" + limit_exceeded + "259 symbols.",
       6001},
      {{path, "a", std::string(130, 'c') + std::string(64, 'e') + "\xC3\xA9" + std::string(65, 'e'),
        exe},
       "The length of the comment string" + limit_exceeded + "259 symbols.",
       6001},
      {{path, "a", "caf\xE9", exe},
       "Error creating shortcut.\n\nThe comment is not UTF-8 text, which a desktop entry needs.",
       6000},
      {{path + "missing/deeper", "a", "c", exe},
       "Error 2 creating folder \"" + path + "missing/deeper\".\n\nNo such file or directory",
       6000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    Answers answers;
    ShortcutMemory memory;
    EXPECT_EQ(SaveShortcut(c.fields, Context(), memory, answers), SaveOutcome::KeepOpen);
    EXPECT_EQ(answers.shown,
              (std::vector<DialogMessage>{{c.message, MessageIcon::Exclamation, c.help_topic}}));
    if (c.message != "Invalid command line") {  // set before the later checks
      EXPECT_EQ(memory.LastShortcutComment, c.fields.txtTitle);
    }
  }
  EXPECT_EQ(tree_.List("apps"), std::vector<std::string>{"taken.desktop"});
}

TEST_F(ShortcutsTest, SaveAsksBeforeReplacingCreatesTheInnermostFolderAndClosesAfterWriting) {
  const std::string exe = "/opt/twinmere";
  Answers answers;
  ShortcutMemory memory;
  // 259 characters of arguments are fine; a name in capitals keeps its ending.
  const std::string arguments = std::string(258, 'a') + "\xC3\xA9";
  EXPECT_EQ(SaveShortcut({tree_.Path("apps/new"), " Name.DESKTOP ", " c ", exe + " " + arguments},
                         Context(), memory, answers),
            SaveOutcome::Close);
  EXPECT_EQ(memory.LastShortcutFile, tree_.Path("apps/new/Name.DESKTOP"));
  ShortcutFields read;
  ASSERT_TRUE(ReadShortcut(tree_.Path("apps/new/Name.DESKTOP"), read).ok());
  // (A relative folder: the working folder goes with it; the program's icon
  // shows it in the menus.)
  EXPECT_EQ(read, (ShortcutFields{exe, WorkingFolder(), arguments, "c", "twinmere", 0, kShowShow}));

  // Below the desktop's applications folder, that folder is made first.
  EXPECT_EQ(SaveShortcut({tree_.Path("share/applications/group"), "n", "", exe}, Context(), memory,
                         answers),
            SaveOutcome::Close);
  EXPECT_TRUE(tree_.Exists("share/applications/group/n.desktop"));

  // An existing entry: Cancel keeps it, OK replaces it; no blank, no arguments.
  const std::string before = tree_.ReadFile("apps/new/Name.DESKTOP");
  answers.ok = false;
  const ShortcutDialogFields replace{tree_.Path("apps/new/"), "Name.DESKTOP", "c", exe};
  EXPECT_EQ(SaveShortcut(replace, Context(), memory, answers), SaveOutcome::KeepOpen);
  EXPECT_EQ(tree_.ReadFile("apps/new/Name.DESKTOP"), before);
  answers.ok = true;
  EXPECT_EQ(SaveShortcut(replace, Context(), memory, answers), SaveOutcome::Close);
  ASSERT_TRUE(ReadShortcut(tree_.Path("apps/new/Name.DESKTOP"), read).ok());
  EXPECT_EQ(read.arguments, "");
  EXPECT_EQ(answers.asked,
            std::vector<DialogMessage>(
                2, DialogMessage{"The shortcut with same filename already exists. Owerwrite?",
                                 MessageIcon::Information, 6001}));
  EXPECT_TRUE(answers.shown.empty());

  // A failed write is reported and the dialog still closes.
  EXPECT_EQ(SaveShortcut({tree_.Path("apps"), std::string(300, 'n'), "c", exe}, Context(), memory,
                         answers),
            SaveOutcome::Close);
  EXPECT_EQ(answers.shown, (std::vector<DialogMessage>{{"Error creating shortcut.\n\nFile name "
                                                        "too long",
                                                        MessageIcon::Exclamation, 6000}}));
}

// A launcher starts in another folder than the dialog's process: relative
// folders and report are saved absolute, or with the folder they were typed
// in as Path, which reading applies.
TEST_F(ShortcutsTest, RelativePathsComeBackFromTheFolderTheyWereNamedIn) {
  SyncOptions options;
  options.ReportLevel = kLevel;
  options.Source = " src/";
  options.Target = "dst /";
  options.Report = "logs/notes.txt ";
  std::string here;
  Answers answers;
  ShortcutMemory memory;
  {
    testing::ScopedWorkingFolder in_tree(tree_.Root());
    here = WorkingFolder();
    SyncOptions absolute = options;
    absolute.Source = here + "/ src/";
    absolute.Target = here + "/dst /";
    absolute.Report = here + "/logs/notes.txt ";
    ShortcutDialogFields fields = LoadShortcutDialog(options, memory, Context());
    EXPECT_EQ(fields.txtCmdline,
              BuildLauncherCommandLine(tree_.Path("my bin/twinmere"), absolute, kLevel));
    EXPECT_EQ(fields.txtTitle, DefaultShortcutComment(absolute));
    fields.txtFilename = "proposed";
    ASSERT_EQ(SaveShortcut(fields, Context(), memory, answers), SaveOutcome::Close);
    fields.txtFilename = "typed";
    fields.txtCmdline = "twinmere -r \"logs/notes.txt \" \" src/\" \"dst /\"";
    ASSERT_EQ(SaveShortcut(fields, Context(), memory, answers), SaveOutcome::Close);
    ASSERT_TRUE(answers.shown.empty()) << answers.shown.front().text;
  }
  EXPECT_EQ(EntryValue(tree_.ReadFile("apps/proposed.desktop"), "Path"), "");
  EXPECT_EQ(EntryValue(tree_.ReadFile("apps/typed.desktop"), "Path"), here);

  testing::ScopedWorkingFolder elsewhere("/");
  for (const char* name : {"proposed", "typed"}) {
    SCOPED_TRACE(name);
    OptionsDialogState state;
    ASSERT_FALSE(ReadShortcutOptions(tree_.Path("apps/" + std::string(name) + ".desktop"),
                                     ShortcutOptionsContext{"/state", kLevel}, state, memory)
                     .has_value());
    EXPECT_EQ(state.txtSource, here + "/ src/");
    EXPECT_EQ(state.txtTarget, here + "/dst /");
    EXPECT_EQ(state.txtReport, here + "/logs/notes.txt ");
  }
}

TEST_F(ShortcutsTest, SavedEntryStartedAsADesktopStartsItRunsItsSync) {
  tree_.WriteFile("src $x `id` 50%/a.txt", "contents");
  tree_.MakeFolder("home/config");
  tree_.MakeFolder("home/state");
  const std::vector<std::string> env = {"XDG_CONFIG_HOME=" + tree_.Path("home/config"),
                                        "XDG_STATE_HOME=" + tree_.Path("home/state")};
  SyncOptions options;
  options.Start = options.Quiet = true;
  options.Source = tree_.Folder("src $x `id` 50%");
  options.Target = tree_.Folder("dst 'q' ;x");
  Answers answers;
  ShortcutMemory memory;
  ASSERT_EQ(Save(options, "run", answers, memory, TWINMERE_CLI_PATH), SaveOutcome::Close);
  ASSERT_TRUE(answers.shown.empty()) << answers.shown.front().text;
  const std::string saved = tree_.ReadFile("apps/run.desktop");
  EXPECT_EQ(RunProgram(DesktopArgv(saved), EntryValue(saved, "Path"), env, tree_.Path("out1")), 0)
      << tree_.ReadFile("out1");
  EXPECT_EQ(tree_.ReadFile("dst 'q' ;x/a.txt"), "contents");

  // With a working folder, relative folders are found from there.
  ShortcutFields fields;
  fields.target_path = TWINMERE_CLI_PATH;
  fields.arguments = "-s \"src $x `id` 50%/\" \"second copy/\"";
  fields.working_directory = tree_.Root();
  ASSERT_TRUE(CreateShortcut(tree_.Path("apps/relative.desktop"), fields).ok());
  const std::string relative = tree_.ReadFile("apps/relative.desktop");
  EXPECT_EQ(
      RunProgram(DesktopArgv(relative), EntryValue(relative, "Path"), env, tree_.Path("out2")), 0)
      << tree_.ReadFile("out2");
  EXPECT_EQ(tree_.ReadFile("second copy/a.txt"), "contents");
}

}  // namespace
}  // namespace twinmere
