// End-to-end tests of the built twinmere-cli: the process, its output, its
// exit code and what it does to real folders.

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/kept_items.h"
#include "platform/temporary_names.h"
#include "platform/user_folders.h"
#include "report/formats.h"
#include "settings/program_settings.h"
#include "settings/registry.h"
#include "support/mounts.h"
#include "support/run_summary_check.h"
#include "support/temp_tree.h"

extern char** environ;

namespace twinmere {
namespace {

using testing::RemoveTree;
using testing::TempTree;

// One run of the program, its output in files of the fixture's tree.
struct Process {
  pid_t pid = -1;
  std::string out_path;
  std::string err_path;
};

// How a process is started besides its arguments.
struct Launch {
  std::vector<std::string> under;  // a program that runs it (strace and its options)
  int out_fd = -1;                 // standard output; -1: a file of the tree
};

class TwinmereCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_.MakeFolder("home/config");
    tree_.MakeFolder("home/state");
  }

  // Starts the program with `args`; the settings store and the state folder
  // are the fixture's own, empty ones.
  Process Start(const std::vector<std::string>& args, const Launch& launch = {}) {
    Process p;
    p.out_path = "stdout." + std::to_string(count_);
    p.err_path = "stderr." + std::to_string(count_);
    ++count_;
    std::vector<std::string> env_strings;
    for (char** e = environ; *e != nullptr; ++e) {
      std::string_view entry(*e);
      if (entry.starts_with("XDG_CONFIG_HOME=") || entry.starts_with("XDG_STATE_HOME=") ||
          entry.starts_with("XDG_DATA_HOME="))
        continue;
      env_strings.emplace_back(entry);
    }
    env_strings.push_back("XDG_CONFIG_HOME=" + tree_.Path("home/config"));
    env_strings.push_back("XDG_STATE_HOME=" + tree_.Path("home/state"));
    env_strings.push_back("XDG_DATA_HOME=" + tree_.Path("home/data"));
    // The leak check at exit cannot trace a process that is traced already.
    if (!launch.under.empty()) env_strings.push_back("ASAN_OPTIONS=detect_leaks=0");
    std::vector<char*> env;
    for (auto& s : env_strings) env.push_back(s.data());
    env.push_back(nullptr);
    std::vector<std::string> argv_strings = launch.under;
    argv_strings.push_back(TWINMERE_CLI_PATH);
    argv_strings.insert(argv_strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : argv_strings) argv.push_back(s.data());
    argv.push_back(nullptr);

    const std::string out_file = tree_.Path(p.out_path), err_file = tree_.Path(p.err_path);
    p.pid = fork();
    if (p.pid == 0) {
      int out = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (out < 0 || err < 0) _exit(127);
      if (!folder_.empty() && chdir(folder_.c_str()) != 0) _exit(127);
      dup2(launch.out_fd >= 0 ? launch.out_fd : out, STDOUT_FILENO);
      dup2(err, STDERR_FILENO);
      execvpe(argv[0], argv.data(), env.data());
      _exit(127);
    }
    EXPECT_GT(p.pid, 0);
    return p;
  }

  // Waits for the process; its exit code, or -1 when it did not exit normally.
  // A process still there after a minute is killed (a hang, not a slow run).
  static int Wait(const Process& p) {
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    pid_t done = 0;
    while ((done = waitpid(p.pid, &status, WNOHANG)) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(p.pid, SIGKILL);
        waitpid(p.pid, &status, 0);
        ADD_FAILURE() << "the process hung";
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (done != p.pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  struct Result {
    int code;
    std::string out;
    std::string err;
  };
  Result Run(const std::vector<std::string>& args, const std::vector<std::string>& under = {}) {
    Process p = Start(args, Launch{.under = under});
    int code = Wait(p);
    return {code, tree_.ReadFile(p.out_path), tree_.ReadFile(p.err_path)};
  }

  // Waits until the process has `path` open (the copy of that file has
  // begun). False after ten seconds or when the process ended.
  static bool WaitUntilOpen(pid_t pid, const std::string& path) {
    const std::string fd_folder = "/proc/" + std::to_string(pid) + "/fd";
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      DIR* dir = opendir(fd_folder.c_str());
      if (dir == nullptr) return false;
      bool found = false;
      while (dirent* entry = readdir(dir)) {
        char target[4096];
        std::string link = fd_folder + "/" + entry->d_name;
        ssize_t n = readlink(link.c_str(), target, sizeof target);
        if (n > 0 && std::string(target, static_cast<size_t>(n)) == path) found = true;
      }
      closedir(dir);
      if (found) return true;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return false;
  }

  // A Source file of `megabytes` and an older, different Target file.
  void MakeLargeReplacement(int megabytes) {
    tree_.MakeFolder("src");
    tree_.MakeFolder("dst");
    std::string chunk(1 << 20, 'n');
    {
      std::ofstream big(tree_.Path("src/big.bin"), std::ios::binary);
      for (int i = 0; i < megabytes; ++i) {
        chunk[0] = static_cast<char>(i);
        big.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
      }
    }
    tree_.WriteFile("dst/big.bin", "the older contents");
    tree_.SetTime("dst/big.bin", 1000000000);
  }

  // Every name below `folder` (links as "-> text", files by contents), not
  // the temporary items of copies.
  std::map<std::string, std::string> Contents(const std::string& folder) {
    std::map<std::string, std::string> contents;
    for (const std::string& name : tree_.List(folder)) {
      const std::string path = folder + "/" + name;
      struct stat st;
      if (IsTemporaryName(name) || lstat(tree_.Path(path).c_str(), &st) != 0) continue;
      if (S_ISDIR(st.st_mode)) {
        contents[name + "/"] = "";
        for (const auto& [below, text] : Contents(path)) contents[name + "/" + below] = text;
      } else {
        contents[name] = S_ISLNK(st.st_mode) ? "-> " + tree_.ReadLink(path) : tree_.ReadFile(path);
      }
    }
    return contents;
  }
  // What the run folders of the versions folder `folder` hold together (not
  // their marks), and the names of those folders.
  std::map<std::string, std::string> Kept(const std::string& folder,
                                          std::vector<std::string>* runs = nullptr) {
    std::map<std::string, std::string> kept;
    if (!tree_.Exists(folder)) return kept;
    for (const std::string& run : tree_.List(folder)) {
      if (runs != nullptr) runs->push_back(run);
      for (const auto& [name, text] : Contents(folder + "/" + run))
        if (name != kRunMarkName) kept[name] = text;
    }
    return kept;
  }

  // Stores a value under the settings key of the fixture's own store.
  void StoreSetting(const std::string& name, const RegistryValue& value) {
    UserFolders folders;
    folders.config = tree_.Path("home/config");
    Registry registry(DefaultRegistryPaths(folders));
    registry.KeyValue(Hive::CurrentUser, kSettingsKey, name, value);
  }

  TempTree tree_;
  int count_ = 0;
  std::string folder_;  // the working folder of started processes; empty: this process's
};

TEST_F(TwinmereCliTest, HelpAndVersionAnswerAloneAnInvalidLinePrintsItselfAndRunsNothing) {
  for (const char* alone : {"--help", "--version"}) {
    const Result r = Run({alone});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.out.starts_with(alone[2] == 'h' ? "Usage: twinmere-cli" : "Twinmere ")) << r.out;
  }

  tree_.WriteFile("src/a.txt", "a");
  const std::string src = tree_.Folder("src");
  const std::string dst = tree_.Folder("dst");
  // Which lines are invalid is the command-line reader's concern.
  const std::vector<std::vector<std::string>> cases = {
      {"-zz", src, dst},  // an unknown switch
      {"-s", "-q", src},  // -s needs both folders
      {"--help", src},    // --help only on its own
  };
  for (const auto& args : cases) {
    std::string joined;
    for (const auto& a : args) joined += (joined.empty() ? "" : " ") + a;
    Result r = Run(args);
    EXPECT_EQ(r.code, 17) << joined;
    EXPECT_NE(r.out.find("Invalid command line: \"" + joined + "\""), std::string::npos)
        << joined << "\n"
        << r.out;
    EXPECT_FALSE(tree_.Exists("dst")) << joined;
  }
  // A patterns file that cannot be read: the next line says which.
  const std::string missing = tree_.Path("no patterns.txt");
  const Result r = Run({"-xf", missing, src, dst});
  EXPECT_EQ(r.code, 17);
  EXPECT_NE(r.out.find("\nError 2 reading the patterns file \"" + missing + "\"."),
            std::string::npos)
      << r.out;
  EXPECT_FALSE(tree_.Exists("dst"));
}

// An argument names its item to the byte: a blank at either end never makes
// it name a neighbour.
TEST_F(TwinmereCliTest, BlanksAtTheEndsOfAnArgumentBelongToTheName) {
  tree_.WriteFile("src/s.txt", "plain src");
  tree_.WriteFile("src /t.txt", "src with a blank");
  tree_.WriteFile(" src/l.txt", "src after a blank");
  tree_.WriteFile("dst/precious.txt", "P");
  tree_.MakeFolder("dst ");
  tree_.WriteFile("home/state/twinmere/notes.txt", "older notes");
  tree_.WriteFile("logs/notes.txt", "older notes");
  folder_ = tree_.Root();

  EXPECT_EQ(Run({"-d", "src", "dst "}).code, 0);
  EXPECT_EQ(tree_.List("dst "), std::vector<std::string>{"s.txt"});
  EXPECT_EQ(tree_.List("dst"), std::vector<std::string>{"precious.txt"});

  EXPECT_EQ(Run({"src ", "copy"}).code, 0);
  EXPECT_EQ(tree_.List("copy"), std::vector<std::string>{"t.txt"});
  EXPECT_EQ(Run({" src", "lead"}).code, 0);
  EXPECT_EQ(tree_.List("lead"), std::vector<std::string>{"l.txt"});

  // A bare report name goes to the state folder, blank and all.
  EXPECT_EQ(Run({"-r", "notes.txt ", "src", "r1"}).code, 0);
  EXPECT_EQ(Run({"-r", "logs/notes.txt ", "src", "r2"}).code, 0);
  EXPECT_EQ(tree_.ReadFile("home/state/twinmere/notes.txt"), "older notes");
  EXPECT_EQ(tree_.ReadFile("logs/notes.txt"), "older notes");
  EXPECT_NE(tree_.ReadFile("home/state/twinmere/notes.txt ").find("Synchronization completed."),
            std::string::npos);
  EXPECT_NE(tree_.ReadFile("logs/notes.txt ").find("Synchronization completed."),
            std::string::npos);

  // An invalid line shows the argument string as it was joined.
  const Result invalid = Run({"-zz", "dst "});
  EXPECT_EQ(invalid.code, 17);
  EXPECT_NE(invalid.out.find("Invalid command line: \"-zz \"dst \"\"\n"), std::string::npos)
      << invalid.out;
}

// A preview prints the run's lines between two of its own and changes
// nothing; the run after it stops short of a mass deletion (exit code 4),
// unless -fd or a larger stored share lets it go on.
TEST_F(TwinmereCliTest, PreviewChangesNothingAndTheGuardStopsAMassDeletion) {
  tree_.WriteFile("src/new.txt", "new");
  for (int i = 0; i < 30; ++i) tree_.WriteFile("dst/x" + std::to_string(i), "extra");
  const std::string src = tree_.Folder("src"), dst = tree_.Folder("dst");
  const std::string copied = "Copied:            \t\"" + dst + "new.txt\"  3 bytes.\n";
  const std::string stopped =
      "Nothing deleted: 30 of 30 items in Target would be deleted, more than 50 %. To delete "
      "them, run again with -fd (Lift deletion guard).\n";

  const Result preview = Run({"-n", "-d", src, dst});
  EXPECT_EQ(preview.code, 4);
  EXPECT_EQ(preview.out, "Preview: nothing in Source or Target will be changed.\n" + stopped +
                             copied + "Preview completed. Nothing was changed.\n");
  EXPECT_EQ(tree_.List("dst").size(), 30u);

  const Result run = Run({"-d", src, dst});
  EXPECT_EQ(run.code, 4);
  EXPECT_EQ(run.out, stopped + copied + "Synchronization completed.\n");
  EXPECT_EQ(tree_.List("dst").size(), 31u);

  StoreSetting("DeletionGuard", int32_t{100});
  EXPECT_EQ(Run({"-n", "-d", src, dst}).code, 0);
  EXPECT_EQ(tree_.List("dst").size(), 31u);
  StoreSetting("DeletionGuard", int32_t{50});
  EXPECT_EQ(Run({"-d", "-fd", src, dst}).code, 0);
  EXPECT_EQ(tree_.List("dst"), std::vector<std::string>{"new.txt"});
}

// What the run writes itself into an empty Source (its report, its JSON
// summary, which the next run finds there) is nothing Source holds.
TEST_F(TwinmereCliTest, TheRunsOwnFilesInAnEmptySourceLeaveItEmptyForTheGuard) {
  tree_.MakeFolder("src");
  for (int i = 0; i < 3; ++i) tree_.WriteFile("dst/x" + std::to_string(i), "extra");
  folder_ = tree_.Root();
  for (int i = 0; i < 2; ++i) {
    const Result r = Run({"-d", "-r", "src/sync-report.txt", "-rj", "src/sum.json", "src", "dst"});
    EXPECT_EQ(r.code, 4) << r.out;
    EXPECT_NE(r.out.find("Nothing deleted: Source is empty, and 3 of "), std::string::npos)
        << r.out;
    EXPECT_TRUE(tree_.Exists("dst/x0"));
  }
}

TEST_F(TwinmereCliTest, StoredDefaultsApplyBeforeTheCommandLine) {
  StoreSetting("Report", tree_.Path("default-report.txt"));
  StoreSetting("ReportLevel", int32_t{2});  // errors only
  tree_.WriteFile("src/a.txt", "a");

  // An empty command line appends to the stored default report.
  tree_.WriteFile("default-report.txt", "earlier run\n");
  Result empty = Run({});
  EXPECT_EQ(empty.code, 18);
  EXPECT_NE(empty.out.find("Source Path not set."), std::string::npos) << empty.out;
  std::string text = tree_.ReadFile("default-report.txt");
  EXPECT_TRUE(text.starts_with("earlier run\n")) << text;
  EXPECT_NE(text.find("Source Path not set."), std::string::npos) << text;
  EXPECT_NE(text.find("Report level: 2."), std::string::npos) << text;

  // Any command line at all leaves the default report alone; the stored
  // level still keeps the successful operations out of a named report.
  Result named =
      Run({"-s", "-q", "-r", tree_.Path("named.txt"), tree_.Folder("src"), tree_.Folder("dst")});
  EXPECT_EQ(named.code, 0) << named.out;
  EXPECT_EQ(tree_.ReadFile("default-report.txt"), text);
  std::string named_text = tree_.ReadFile("named.txt");
  EXPECT_EQ(named_text.find("a.txt"), std::string::npos) << named_text;
  EXPECT_NE(named.out.find("a.txt"), std::string::npos) << "the display shows every line";
}

TEST_F(TwinmereCliTest, RealSyncCopiesTheTreeAndWritesTheReport) {
  // What the tree may hold is the engine tests' concern; this is the program.
  tree_.WriteFile("src/top.txt", "top");
  tree_.WriteFile("src/deep/er/inner.txt", "inner");
  const std::string report = tree_.Path("report.txt");

  // No -s: the run starts at once all the same.
  Result r = Run({"-q", "-r", report, tree_.Folder("src"), tree_.Folder("new/dst")});
  EXPECT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_EQ(tree_.ReadFile("new/dst/top.txt"), "top");
  EXPECT_EQ(tree_.ReadFile("new/dst/deep/er/inner.txt"), "inner");

  // Every line of the message log reached standard output, and the report.
  EXPECT_NE(r.out.find("Synchronization completed."), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("top.txt"), std::string::npos) << r.out;
  std::string text = tree_.ReadFile("report.txt");
  EXPECT_NE(text.find("Synchronization completed."), std::string::npos) << text;
  EXPECT_NE(text.find("top.txt"), std::string::npos) << text;
  // Standard error is no terminal here: no progress line at all.
  EXPECT_EQ(r.err, "");
}

// -rj writes the JSON summary at the end of every run, however it ended;
// a bare name goes to the state folder, as a report's does.
TEST_F(TwinmereCliTest, TheJsonSummaryStatesHowEachRunEnded) {
  const std::string src = tree_.Folder("src\xff");  // not UTF-8: base64 in the summary
  tree_.WriteFile("src\xff/x/inner.txt", "inner");
  tree_.WriteFile("src\xff/top.txt", "top");
  tree_.WriteFile("dst/x", "a file where Source has a folder");
  const std::string dst = tree_.Folder("dst");
  const std::string json = tree_.Path("json/run.json");
  const struct {
    std::vector<std::string> args;
    std::string file;  // where the summary goes
    int code;
    const char* outcome;
    const char* message;  // the start of the refusing line
  } cases[] = {
      {{"-rj", json, src, dst}, "json/run.json", 4, "completed", ""},
      {{"-rj", "run.json", tree_.Folder("none"), dst},
       "home/state/twinmere/run.json",
       20,
       "refused",
       "Invalid Source Path: "},
      {{"-rj", json, "-zz", dst},
       "json/run.json",
       17,
       "invalid_command_line",
       "Invalid command line: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file + " " + c.outcome);
    const Result r = Run(c.args);
    EXPECT_EQ(r.code, c.code) << r.out << r.err;
    ASSERT_TRUE(testing::MatchesRunSummarySchema(tree_.Path(c.file)));
    const nlohmann::json doc = nlohmann::json::parse(tree_.ReadFile(c.file));
    EXPECT_EQ(doc["exit_code"], c.code);
    EXPECT_EQ(doc["outcome"], c.outcome);
    if (c.code >= 17) {
      EXPECT_TRUE(doc["message"].get<std::string>().starts_with(c.message)) << doc["message"];
      continue;
    }
    EXPECT_TRUE(doc["options"]["Source"].contains("base64")) << doc["options"];
    EXPECT_EQ(doc["counters"]["FilesCopiedToTarget"], 1);
    ASSERT_EQ(doc["errors"].size(), 1u);
    EXPECT_EQ(doc["errors"][0]["action"], "create_folder");
    EXPECT_EQ(doc["errors"][0]["code"], EEXIST);
    EXPECT_EQ(doc["errors"][0]["path"], dst + "x");
  }
}

// A name that is not UTF-8 is shown escaped in every line, a kind conflict's
// too, so that standard output and the report stay UTF-8; a name that holds
// the text of an escape does not print like the byte it stands for.
TEST_F(TwinmereCliTest, EveryLineShowsNamesEscapedAndTheEscapesOwnTextApart) {
  tree_.MakeFolder("src/bad\xFF");
  tree_.WriteFile("dst/bad\xFF", "a file where Source has a folder");
  tree_.WriteFile("src/text\\xFF", "a file where Target has a folder");
  tree_.MakeFolder("dst/text\\xFF");
  const Result r = Run({"-r", tree_.Path("report.txt"), tree_.Folder("src"), tree_.Folder("dst")});
  EXPECT_EQ(r.code, 4) << r.out;
  for (const std::string& text : {r.out, tree_.ReadFile("report.txt")}) {
    EXPECT_TRUE(IsValidUtf8(text)) << text;
    EXPECT_NE(text.find("Can't create folder because the file with this name already exists: \"" +
                        tree_.Path("dst/bad\\xFF") + "\"."),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Can't copy file because the folder with this name already exists: \"" +
                        tree_.Path("dst/text\\x5CxFF") + "\"."),
              std::string::npos)
        << text;
  }
  // A refusal names the folder escaped as well.
  const Result refused = Run({tree_.Folder("none\xFF"), tree_.Folder("dst")});
  EXPECT_EQ(refused.code, 20);
  EXPECT_EQ(refused.out, "Invalid Source Path: \"" + tree_.Folder("none\\xFF") + "\".\n")
      << refused.out;
}

// The report ends with the run's last line and the end line of its summary.
void ExpectReportEndsWith(const std::string& report, const std::string& last_line) {
  const size_t at = report.rfind(last_line + "\n");
  ASSERT_NE(at, std::string::npos) << report;
  const size_t end = report.rfind(" ended. ");
  ASSERT_NE(end, std::string::npos) << report;
  EXPECT_GT(end, at);
  EXPECT_EQ(report.find('\n', end), report.size() - 1) << report;
}

TEST_F(TwinmereCliTest, StopSignalsDuringALargeReplacement) {
  const struct {
    const char* what;
    int signal;
    bool disallow_stop;
    int code;
    const char* line;
  } cases[] = {
      {"interrupt stops", SIGINT, false, 1, "Synchronization stopped."},
      {"interrupt refused", SIGINT, true, 0, "Synchronization completed."},
      {"term always stops", SIGTERM, true, 1, "Synchronization stopped."},
      {"hangup always stops", SIGHUP, true, 1, "Synchronization stopped."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MakeLargeReplacement(300);
    const std::string report = tree_.Path("report.txt");
    const std::string src = tree_.Folder("src"), dst = tree_.Folder("dst");
    const std::string json = tree_.Path("run.json");
    std::vector<std::string> args{"-s", "-q", "-ns", "-r", report, "-rj", json, src, dst};
    if (c.disallow_stop) args.insert(args.begin(), "-ds");
    Process p = Start(args);
    ASSERT_TRUE(WaitUntilOpen(p.pid, tree_.Path("src/big.bin")));
    kill(p.pid, c.signal);
    const int code = Wait(p);
    const std::string out = tree_.ReadFile(p.out_path);
    const std::string err = tree_.ReadFile(p.err_path);
    EXPECT_EQ(code, c.code) << out << err;
    EXPECT_NE(out.find(c.line), std::string::npos) << out;
    ExpectReportEndsWith(tree_.ReadFile("report.txt"), c.line);
    EXPECT_EQ(err.find("cannot be stopped") != std::string::npos, c.code == 0) << err;
    ASSERT_TRUE(testing::MatchesRunSummarySchema(json));
    EXPECT_EQ(nlohmann::json::parse(tree_.ReadFile("run.json"))["outcome"],
              c.code == 0 ? "completed" : "stopped");
    if (c.code == 0) {
      struct stat st {};
      ASSERT_EQ(lstat(tree_.Path("dst/big.bin").c_str(), &st), 0);
      EXPECT_EQ(st.st_size, 300 << 20);
    } else {
      // The older file stays byte for byte, and no partial copy is left beside it.
      EXPECT_EQ(tree_.ReadFile("dst/big.bin"), "the older contents");
      EXPECT_EQ(tree_.List("dst"), std::vector<std::string>{"big.bin"});
    }
  }
}

// True once `pid` waits in write() on its standard output.
bool WaitsWritingStandardOutput(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/syscall");
  long number = -1;
  std::string first_argument;
  in >> number >> first_argument;
  return number == SYS_write && first_argument == "0x1";
}

TEST_F(TwinmereCliTest, AStopSignalEndsARunBlockedWhereverItWaits) {
  // Standard output is a full pipe that nobody reads: the run blocks at its
  // first line, and SIGTERM still ends it with its stopped line and report.
  tree_.WriteFile("src/a.txt", "a");
  tree_.MakeFolder("dst");
  int pipe_fds[2];
  ASSERT_EQ(pipe2(pipe_fds, O_NONBLOCK), 0);
  const std::string block(4096, 'f');
  while (write(pipe_fds[1], block.data(), block.size()) > 0) {
  }
  ASSERT_EQ(fcntl(pipe_fds[1], F_SETFL, 0), 0);
  Process p = Start({"-r", tree_.Path("report.txt"), tree_.Folder("src"), tree_.Folder("dst")},
                    Launch{.under = {}, .out_fd = pipe_fds[1]});
  close(pipe_fds[1]);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!WaitsWritingStandardOutput(p.pid) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(WaitsWritingStandardOutput(p.pid));
  kill(p.pid, SIGTERM);
  EXPECT_EQ(Wait(p), 1);
  close(pipe_fds[0]);
  ExpectReportEndsWith(tree_.ReadFile("report.txt"), "Synchronization stopped.");

  // A stop signal that interrupts a call (as on a network or FUSE file
  // system, here injected) ends the run as stopped, without an error line.
  if (system("strace -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace is not installed";
  for (const char* call : {"copy_file_range", "mkdirat"}) {
    SCOPED_TRACE(call);
    RemoveTree(tree_.Path("src"));
    RemoveTree(tree_.Path("dst"));
    tree_.WriteFile("src/sub/a.txt", "a");
    tree_.WriteFile("src/b.txt", "b");
    tree_.MakeFolder("dst");
    const std::string inject = std::string("inject=") + call + ":error=EINTR:signal=SIGTERM:when=1";
    Process traced = Start(
        {"-ns", tree_.Folder("src"), tree_.Folder("dst")},
        Launch{.under = {"strace", "-f", "-qq", "-o", "/dev/null", "-e", inject}, .out_fd = -1});
    EXPECT_EQ(Wait(traced), 1);
    const std::string out = tree_.ReadFile(traced.out_path);
    EXPECT_NE(out.find("Synchronization stopped."), std::string::npos) << out;
    EXPECT_EQ(out.find("Error"), std::string::npos) << out;
  }
}

// ---- what a run deletes or replaces is kept ---------------------------------

// Every Target item that a run deletes or replaces is in the run's folder of
// the versions folder, at its path relative to Target, and the report names
// that folder; a run that keeps nothing makes none. A bidirectional run keeps
// each side's items under "Target" and "Source".
TEST_F(TwinmereCliTest, AVersionsFolderKeepsEveryDeletedAndReplacedItem) {
  tree_.WriteFile("src/a", "new a");
  tree_.WriteFile("src/sub/b", "new b");
  tree_.WriteFile("dst/a", "old a");
  tree_.WriteFile("dst/sub/b", "old b");
  tree_.WriteFile("dst/extra", "extra");
  tree_.WriteFile("dst/gone/deep/c", "c");
  tree_.MakeLink("dst/link", "a");
  tree_.WriteFile("src/swap", "file");  // a file replaces a folder
  tree_.WriteFile("dst/swap/x", "x");
  for (const char* name : {"dst/a", "dst/sub/b", "dst/gone", "dst/swap"})
    tree_.SetTime(name, 1000000000);
  tree_.SetMode("dst/gone", 0750);
  if (testing::IsRoot()) {
    ASSERT_EQ(chown(tree_.Path("dst/gone").c_str(), 1234, 1234), 0);
  }
  const std::string ver = tree_.Path("ver");
  const std::vector<std::string> args = {"-s",
                                         "-q",
                                         "-d",
                                         "-r",
                                         tree_.Path("report.txt"),
                                         "-v",
                                         ver,
                                         "-vk",
                                         "3",
                                         tree_.Folder("src"),
                                         tree_.Folder("dst")};
  // A preview keeps nothing: no versions folder, Target as it was.
  const auto before = Contents("dst");
  std::vector<std::string> preview_args = {"-n"};
  preview_args.insert(preview_args.end(), args.begin() + 2, args.end());
  preview_args.erase(preview_args.begin() + 2, preview_args.begin() + 4);  // no report
  const Result preview = Run(preview_args);
  EXPECT_EQ(preview.code, 0) << preview.out;
  EXPECT_EQ(Contents("dst"), before);
  EXPECT_FALSE(std::filesystem::exists(ver));
  Result r = Run(args);
  EXPECT_EQ(r.code, 0) << r.out;
  std::vector<std::string> runs;
  const std::map<std::string, std::string> kept = Kept("ver", &runs);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_TRUE(std::regex_match(runs[0], std::regex("20[0-9]{2}-[01][0-9]-[0-3][0-9] [0-9]{6}")))
      << runs[0];
  EXPECT_EQ(kept, (std::map<std::string, std::string>{{"a", "old a"},
                                                      {"sub/", ""},
                                                      {"sub/b", "old b"},
                                                      {"extra", "extra"},
                                                      {"gone/", ""},
                                                      {"gone/deep/", ""},
                                                      {"gone/deep/c", "c"},
                                                      {"swap/", ""},
                                                      {"swap/x", "x"},
                                                      {"link", "-> a"}}));
  EXPECT_EQ(Contents("dst"), Contents("src"));
  // A kept folder is the folder as it was.
  struct stat gone;
  ASSERT_EQ(lstat(tree_.Path("ver/" + runs[0] + "/gone").c_str(), &gone), 0);
  EXPECT_EQ(gone.st_mode & 07777, 0750u);
  EXPECT_EQ(gone.st_mtim.tv_sec, 1000000000);
  if (testing::IsRoot()) {
    EXPECT_EQ(gone.st_uid, 1234u);
  }
  // Also one emptied because a file took its name.
  struct stat swap;
  ASSERT_EQ(lstat(tree_.Path("ver/" + runs[0] + "/swap").c_str(), &swap), 0);
  EXPECT_EQ(swap.st_mtim.tv_sec, 1000000000);
  std::string report = tree_.ReadFile("report.txt");
  EXPECT_NE(
      report.find("Deleted and replaced:      \tKept in \"" + ver + "/\", the newest 3 runs."),
      std::string::npos)
      << report;
  EXPECT_NE(report.find("Versions kept in:          \t\"" + ver + "/" + runs[0] + "/\"."),
            std::string::npos)
      << report;

  r = Run(args);  // nothing left to keep
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(tree_.List("ver"), runs);
  EXPECT_EQ(tree_.ReadFile("report.txt").find("Versions kept in:"), std::string::npos);

  testing::RemoveTree(ver);
  tree_.WriteFile("src/s", "old s");
  tree_.SetTime("src/s", 1000000000);
  tree_.WriteFile("dst/s", "new s");
  tree_.WriteFile("src/t", "new t");
  tree_.WriteFile("dst/t", "old t");
  tree_.SetTime("dst/t", 1000000000);
  r = Run({"-s", "-q", "-bi", "-v", ver, tree_.Folder("src"), tree_.Folder("dst")});
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(Kept("ver"),
            (std::map<std::string, std::string>{
                {"Source/", ""}, {"Source/s", "old s"}, {"Target/", ""}, {"Target/t", "old t"}}));
  EXPECT_EQ(tree_.ReadFile("src/s"), "new s");
}

// A versions folder inside Source would be copied to Target: the run is
// refused. Inside Target the run leaves it alone, also with -d, however its
// path is spelled; a Source item in its place is an error.
TEST_F(TwinmereCliTest, AVersionsFolderInsideSourceIsRefusedAndInsideTargetLeftOut) {
  tree_.WriteFile("src/a", "new");
  tree_.WriteFile("dst/a", "old");
  tree_.SetTime("dst/a", 1000000000);
  Result r = Run(
      {"-s", "-q", "-d", "-v", tree_.Path("src/ver"), tree_.Folder("src"), tree_.Folder("dst")});
  EXPECT_EQ(r.code, 21);
  EXPECT_NE((r.out + r.err)
                .find("The versions folder \"" + tree_.Path("src/ver") +
                      "/\" lies inside the Source folder."),
            std::string::npos)
      << r.out << r.err;
  EXPECT_FALSE(tree_.Exists("src/ver"));
  EXPECT_EQ(tree_.ReadFile("dst/a"), "old");

  tree_.WriteFile("dst/ver/2020-01-01 000000/x", "earlier");
  r = Run(
      {"-s", "-q", "-d", "-v", tree_.Path("dst/ver"), tree_.Folder("src"), tree_.Folder("dst")});
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(Kept("dst/ver"), (std::map<std::string, std::string>{{"x", "earlier"}, {"a", "old"}}));
  EXPECT_EQ(tree_.List("src"), std::vector<std::string>{"a"});

  // Named relative to the working folder, and not made yet: the folders
  // around it stay too.
  folder_ = tree_.Root();
  testing::RemoveTree(tree_.Path("dst/ver"));
  tree_.WriteFile("dst/a", "older");
  tree_.SetTime("dst/a", 1000000000);
  r = Run({"-s", "-q", "-d", "-v", "dst/new/ver", "src", "dst"});
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(Kept("dst/new/ver"), (std::map<std::string, std::string>{{"a", "older"}}));
  EXPECT_EQ(tree_.ReadFile("dst/a"), "new");

  tree_.MakeFolder("src/sub");
  tree_.MakeFolder("dst/sub");
  for (const std::string& ver : std::vector<std::string>{
           "dst//ver", "dst/./ver", "dst/sub/../ver", tree_.Path("dst/ver") + "//", "./dst/ver"}) {
    SCOPED_TRACE(ver);
    testing::RemoveTree(tree_.Path("dst/new"));
    testing::RemoveTree(tree_.Path("dst/ver"));
    tree_.WriteFile("dst/a", "older");
    tree_.SetTime("dst/a", 1000000000);
    r = Run({"-s", "-q", "-d", "-v", ver, "src", "dst"});
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(Kept("dst/ver"), (std::map<std::string, std::string>{{"a", "older"}}));
    EXPECT_EQ(tree_.List("dst"), (std::vector<std::string>{"a", "sub", "ver"}));
  }

  tree_.WriteFile("src/ver/notes.txt", "mine");
  r = Run({"-s", "-q", "-bi", "-v", "dst/ver", "src", "dst"});
  EXPECT_EQ(r.code, 4);
  EXPECT_EQ(r.out,
            "Not synchronized: \"src/ver\" lies where Target keeps the versions folder.\n"
            "Synchronization completed.\n");
  EXPECT_EQ(Kept("dst/ver"), (std::map<std::string, std::string>{{"a", "older"}}));
}

// -vk N keeps the newest N run folders by their runs' start (a second run
// in one second sorts after the first), the run's own always: local time
// going back (another time zone, the repeated hour) never removes it.
// Folders without a run's mark, or without a real date and time for a name,
// stay. A preview says the same. Without -vk the stored setting applies.
TEST_F(TwinmereCliTest, OnlyTheNewestMarkedRunFoldersStayByTheirStart) {
  const struct {
    const char* name;
    double start;
  } marked[] = {{"2020-01-01 000000", 1577836800},
                {"2020-01-01 000000-2", 1577836800},
                {"2021-06-30 120000", 1625054400},
                {"2019-13-45 256199", 1546300800},
                {"0000-00-00 000000", 1546300800}};
  for (const auto& run : marked) {
    tree_.WriteFile(std::string("ver/") + run.name + "/f", run.name);
    tree_.WriteFile(std::string("ver/") + run.name + "/" + kRunMarkName, RunMarkText(run.start));
  }
  const std::vector<std::string> unmarked = {"0000-00-00 000000", "2019-01-01 000000",
                                             "2019-13-45 256199", "notes"};
  tree_.WriteFile("ver/2019-01-01 000000/f", "kept before run folders were marked");
  tree_.WriteFile("ver/notes/f", "mine");
  const auto replace = [&] {
    tree_.WriteFile("src/a", "new");
    tree_.WriteFile("dst/a", "old");
    tree_.SetTime("dst/a", 1000000000);
  };
  const auto run_folders = [&] {
    std::vector<std::string> runs;
    for (const std::string& name : tree_.List("ver"))
      if (std::find(unmarked.begin(), unmarked.end(), name) == unmarked.end()) runs.push_back(name);
    return runs;
  };
  replace();
  const std::vector<std::string> args = {"-v", tree_.Path("ver"),   "-vk",
                                         "2",  tree_.Folder("src"), tree_.Folder("dst")};
  const Result preview = Run([&] {
    std::vector<std::string> with = {"-n"};
    with.insert(with.end(), args.begin(), args.end());
    return with;
  }());
  EXPECT_EQ(tree_.List("ver").size(), 7u);
  Result r = Run(args);
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(preview.out, "Preview: nothing in Source or Target will be changed.\n" +
                             r.out.substr(0, r.out.rfind("Synchronization completed.")) +
                             "Preview completed. Nothing was changed.\n");
  std::vector<std::string> runs = run_folders();
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0], "2021-06-30 120000");
  for (const char* gone : {"2020-01-01 000000/", "2020-01-01 000000-2/"})
    EXPECT_NE(r.out.find("Removed versions:  \t\"" + tree_.Path("ver/") + gone + "\"."),
              std::string::npos)
        << r.out;

  // The next run's folder is named 25 hours before this one's.
  StoreSetting("VersionsKeep", int32_t{1});
  replace();
  r = Run({"-s", "-q", "-v", tree_.Path("ver"), tree_.Folder("src"), tree_.Folder("dst")},
          {"env", "TZ=UTC-14"});
  EXPECT_EQ(r.code, 0) << r.out;
  runs = run_folders();
  ASSERT_EQ(runs.size(), 1u);
  const std::string ahead = runs[0];
  replace();
  tree_.WriteFile("dst/a", "older");
  tree_.SetTime("dst/a", 1000000000);
  r = Run({"-s", "-q", "-v", tree_.Path("ver"), tree_.Folder("src"), tree_.Folder("dst")},
          {"env", "TZ=UTC+11"});
  EXPECT_EQ(r.code, 0) << r.out;
  runs = run_folders();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_LT(runs[0], ahead);
  EXPECT_EQ(tree_.ReadFile("ver/" + runs[0] + "/a"), "older");
  for (const std::string& name : unmarked) EXPECT_TRUE(tree_.Exists("ver/" + name)) << name;
}

// Two runs share a versions folder (two timers at once): the second's
// retention leaves the first's run folder alone while the first goes on,
// and the first ends with everything it kept there.
TEST_F(TwinmereCliTest, RetentionNeverRemovesTheFolderOfARunStillGoing) {
  tree_.WriteFile("src/k", "k");
  constexpr int kExtra = 5000;
  for (int i = 0; i < kExtra; ++i) tree_.WriteFile("dst/x" + std::to_string(i), "x");
  tree_.WriteFile("src2/a", "new");
  tree_.WriteFile("dst2/a", "old");
  tree_.SetTime("dst2/a", 1000000000);
  const std::string ver = tree_.Path("ver");
  const Process first = Start(
      {"-s", "-q", "-d", "-fd", "-v", ver, "-vk", "1", tree_.Folder("src"), tree_.Folder("dst")});
  // Paused once it has kept something, with more to keep.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  const auto has_kept = [&] {
    if (!tree_.Exists("ver")) return false;
    for (const std::string& run : tree_.List("ver"))
      for (const std::string& name : tree_.List("ver/" + run))
        if (name.starts_with("x")) return true;
    return false;
  };
  while (!has_kept() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  kill(first.pid, SIGSTOP);
  const size_t left = tree_.List("dst").size();
  const Result second =
      Run({"-s", "-q", "-v", ver, "-vk", "1", tree_.Folder("src2"), tree_.Folder("dst2")});
  kill(first.pid, SIGCONT);
  EXPECT_EQ(Wait(first), 0) << tree_.ReadFile(first.out_path).substr(0, 2000);
  ASSERT_GT(left, 1u) << "the first run ended before it was paused";
  EXPECT_EQ(second.code, 0) << second.out;
  std::vector<std::string> runs;
  const std::map<std::string, std::string> kept = Kept("ver", &runs);
  EXPECT_EQ(runs.size(), 2u);
  EXPECT_EQ(kept.size(), kExtra + 1u);
  EXPECT_EQ(kept.at("a"), "old");
  EXPECT_EQ(tree_.List("dst"), std::vector<std::string>{"k"});
}

// On a versions folder that ignores case a kept item never takes another's
// name: of Target's "File" and "file" the second stays, with an error line,
// and the next run keeps it.
TEST_F(TwinmereCliTest, OnAVersionsFolderThatIgnoresCaseNoKeptItemTakesAnothersName) {
  testing::VfatMount vfat(tree_, "vfat");
  if (!vfat.SkipReason().empty()) GTEST_SKIP() << vfat.SkipReason();
  tree_.WriteFile("src/k", "k");
  tree_.WriteFile("dst/k", "k");
  for (const char* name : {"src/k", "dst/k"}) tree_.SetTime(name, 1000000000);
  tree_.WriteFile("dst/File", "upper");
  tree_.WriteFile("dst/file", "lower");
  const std::vector<std::string> args = {
      "-s", "-q", "-d", "-v", tree_.Path("vfat/ver"), tree_.Folder("src"), tree_.Folder("dst")};
  Result r = Run(args);
  EXPECT_EQ(r.code, 4) << r.out;
  EXPECT_NE(r.out.find("Error 17 deleting \""), std::string::npos) << r.out;
  std::map<std::string, std::string> kept = Kept("vfat/ver");
  ASSERT_EQ(kept.size(), 1u);
  const auto& [name, text] = *kept.begin();
  EXPECT_EQ(text, name == "File" ? "upper" : "lower");
  EXPECT_EQ(tree_.List("dst").size(), 2u);
  r = Run(args);
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(Kept("vfat/ver"),
            (std::map<std::string, std::string>{{"File", "upper"}, {"file", "lower"}}));
  EXPECT_EQ(tree_.List("dst"), std::vector<std::string>{"k"});
}

// The bytes of a .trashinfo Path value, percent escapes decoded.
std::string DecodedTrashPath(const std::string& info) {
  const size_t at = info.find("\nPath=");
  if (at == std::string::npos) return {};
  const std::string value = info.substr(at + 6, info.find('\n', at + 1) - at - 6);
  std::string path;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '%' && i + 2 < value.size()) {
      path += static_cast<char>(std::stoi(value.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      path += value[i];
    }
  }
  return path;
}

// -tr moves every deleted or replaced Target item to the home Trash when it
// lies on the same file system, with a .trashinfo that names where it was
// (absolute, percent-encoded) and when it went; a deleted folder is one entry.
// A name too long for its .trashinfo's is shortened in the Trash. The
// preview says what the run does.
TEST_F(TwinmereCliTest, TheHomeTrashGetsEveryDeletedAndReplacedItemWithItsInfo) {
  const std::string odd = "odd name %\xff";
  const std::string long_name = std::string(250, 'n') + ".txt";
  const std::string shortened = std::string(235, 'n') + ".txt";
  tree_.WriteFile("src/a", "new a");
  tree_.WriteFile("dst/a", "old a");
  tree_.WriteFile("src/" + long_name, "new long");
  tree_.WriteFile("dst/" + long_name, "old long");
  for (const std::string& name : {std::string("dst/a"), "dst/" + long_name})
    tree_.SetTime(name, 1000000000);
  tree_.WriteFile("dst/" + odd, "odd");
  tree_.WriteFile("dst/gone/deep/c", "c");
  folder_ = tree_.Root();  // the info holds absolute paths also for relative folders
  const auto before = Contents("dst");
  const Result preview = Run({"-n", "-d", "-tr", "src", "dst"});
  EXPECT_EQ(preview.code, 0) << preview.out << preview.err;
  EXPECT_EQ(Contents("dst"), before);
  EXPECT_FALSE(std::filesystem::exists(tree_.Path("home/data/Trash")));  // a preview keeps nothing
  Result r = Run({"-s", "-q", "-d", "-tr", "src", "dst"});
  EXPECT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_EQ(preview.out, "Preview: nothing in Source or Target will be changed.\n" +
                             r.out.substr(0, r.out.rfind("Synchronization completed.")) +
                             "Preview completed. Nothing was changed.\n");
  EXPECT_EQ(Contents("dst"), Contents("src"));
  EXPECT_EQ(Contents("home/data/Trash/files"),
            (std::map<std::string, std::string>{{"a", "old a"},
                                                {odd, "odd"},
                                                {shortened, "old long"},
                                                {"gone/", ""},
                                                {"gone/deep/", ""},
                                                {"gone/deep/c", "c"}}));
  EXPECT_EQ(tree_.List("home/data/Trash/info"),
            (std::vector<std::string>{"a.trashinfo", "gone.trashinfo", shortened + ".trashinfo",
                                      odd + ".trashinfo"}));
  for (const std::string name : {"a", "gone", odd.c_str(), long_name.c_str()}) {
    SCOPED_TRACE(name);
    const std::string info = tree_.ReadFile("home/data/Trash/info/" +
                                            (name == long_name ? shortened : name) + ".trashinfo");
    EXPECT_TRUE(info.starts_with("[Trash Info]\nPath=/")) << info;
    EXPECT_EQ(DecodedTrashPath(info), tree_.Path("dst/" + name));
    EXPECT_TRUE(std::regex_search(
        info,
        std::regex("\nDeletionDate=20[0-9]{2}-[01][0-9]-[0-3][0-9]T[0-9]{2}:[0-9]{2}:[0-9]{2}\n")))
        << info;
  }
  EXPECT_NE(
      tree_.ReadFile("home/data/Trash/info/" + odd + ".trashinfo").find("odd%20name%20%25%FF"),
      std::string::npos);
}

// On another file system the items go to its own .Trash-UID, with paths
// relative to its top folder; where that cannot be used, one line says so
// and nothing there is deleted or replaced.
TEST_F(TwinmereCliTest, OnAnotherFileSystemItsOwnTrashOrNothingIsDeleted) {
  testing::TmpfsMount volume(tree_, "vol", "4m");
  if (!volume.SkipReason().empty()) GTEST_SKIP() << volume.SkipReason();
  const std::string trash = "vol/.Trash-" + std::to_string(geteuid());
  tree_.WriteFile("src/a", "new a");
  tree_.WriteFile("vol/dst/a", "old a");
  tree_.SetTime("vol/dst/a", 1000000000);
  tree_.WriteFile("vol/dst/x", "x");
  Result r = Run({"-s", "-q", "-d", "-tr", tree_.Folder("src"), tree_.Folder("vol/dst")});
  EXPECT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_EQ(Contents(trash + "/files"),
            (std::map<std::string, std::string>{{"a", "old a"}, {"x", "x"}}));
  const std::string info = tree_.ReadFile(trash + "/info/x.trashinfo");
  EXPECT_TRUE(info.starts_with("[Trash Info]\nPath=dst/x\nDeletionDate=")) << info;
  EXPECT_FALSE(tree_.Exists("home/data/Trash/files/x"));

  testing::RemoveTree(tree_.Path(trash));
  tree_.WriteFile(trash, "not a folder");
  tree_.WriteFile("vol/dst/a", "old a");
  tree_.SetTime("vol/dst/a", 1000000000);
  tree_.WriteFile("vol/dst/y", "y");
  tree_.WriteFile("vol/dst/z", "z");
  r = Run({"-s", "-q", "-d", "-tr", tree_.Folder("src"), tree_.Folder("vol/dst")});
  EXPECT_EQ(r.code, 4) << r.out;
  const size_t line = r.out.find("No Trash can be used for \"");
  EXPECT_NE(line, std::string::npos) << r.out;
  EXPECT_EQ(line, r.out.rfind("No Trash can be used")) << r.out;
  EXPECT_EQ(r.out.find("Error "), std::string::npos) << r.out;
  EXPECT_EQ(Contents("vol/dst"),
            (std::map<std::string, std::string>{{"a", "old a"}, {"y", "y"}, {"z", "z"}}));
}

// Every error line is in the JSON summary's errors, also those that name no
// error number of their own: the deletion guard's (the deletions
// cancelled), a Trash that cannot be used, a Source item in the versions
// folder's place.
TEST_F(TwinmereCliTest, EveryErrorLineIsListedInTheJsonSummary) {
  testing::TmpfsMount volume(tree_, "vol", "4m");
  tree_.WriteFile("src/a", "a");
  for (int i = 0; i < 30; ++i) tree_.WriteFile("dst/x" + std::to_string(i), "extra");
  const std::string json = tree_.Path("run.json");
  const struct {
    std::string target;
    std::vector<std::string> options;
    int code;
    const char* action;
  } cases[] = {
      {"dst", {"-d"}, ECANCELED, "deletion_guard"},
      {"vol/dst", {"-d", "-tr"}, ENOTDIR, "trash"},
      {"dst2", {"-v", tree_.Path("dst2/.vers")}, EEXIST, "versions_folder"},
  };
  tree_.WriteFile("src/.vers/notes.txt", "where Target keeps the versions folder");
  tree_.WriteFile("vol/.Trash-" + std::to_string(geteuid()), "not a folder");
  tree_.WriteFile("vol/dst/y", "y");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.action);
    if (c.target.starts_with("vol") && !volume.SkipReason().empty()) continue;
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"-rj", json, tree_.Folder("src"), tree_.Folder(c.target)});
    const Result r = Run(args);
    EXPECT_EQ(r.code, 4) << r.out;
    ASSERT_TRUE(testing::MatchesRunSummarySchema(json));
    const nlohmann::json doc = nlohmann::json::parse(tree_.ReadFile("run.json"));
    EXPECT_EQ(doc["counters"]["ErrorCount"], 1);
    ASSERT_EQ(doc["errors"].size(), 1u) << doc.dump();
    EXPECT_EQ(doc["errors"][0]["code"], c.code);
    EXPECT_EQ(doc["errors"][0]["action"], c.action);
  }
}

// ---- a kill or a failure at exactly one system call (strace) -------------------

class TwinmereCliFaultTest : public TwinmereCliTest {
 protected:
  void SetUp() override {
    TwinmereCliTest::SetUp();
    if (access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "strace is not installed";
  }
  // strace's words that make `syscall` do `inject` (strace -e inject=...).
  static std::vector<std::string> Strace(const std::string& syscall, const std::string& inject) {
    return {"/usr/bin/strace",
            "-f",
            "-qq",
            "-o/dev/null",
            "-etrace=" + syscall,
            "-einject=" + syscall + ":" + inject};
  }
  // Source with a file of several chunks, a link and a folder.
  void MakeSource() {
    std::string big(3 * 1024 * 1024 + 5, 'n');
    big[0] = 'N';
    tree_.WriteFile("src/big", big);
    tree_.WriteFile("src/small", "new small");
    tree_.WriteFile("src/sub/inner", "inner");
    tree_.MakeLink("src/link", "small");
  }
  // The Target with older versions of two of them and an extra folder.
  void MakeTarget() {
    testing::RemoveTree(tree_.Path("dst"));
    tree_.WriteFile("dst/big", "old big");
    tree_.WriteFile("dst/small", "old small");
    tree_.WriteFile("dst/extra/file", "extra");
    for (const char* name : {"dst/big", "dst/small"}) tree_.SetTime(name, 1000000000);
  }
};

// Killed at any call of a copy, the Target holds under every real name its
// old item, or the complete new one, never a part; the next run completes
// the work and removes what the killed one left.
TEST_F(TwinmereCliFaultTest, KilledAtAnyStepEveryNameIsOldOrCompleteAndTheNextRunCleansUp) {
  MakeSource();
  MakeTarget();
  const std::map<std::string, std::string> old_items = Contents("dst");
  const std::map<std::string, std::string> new_items = Contents("src");
  const std::vector<std::string> args = {"-s", "-q", "-d", tree_.Folder("src"),
                                         tree_.Folder("dst")};
  int kills = 0;
  for (const char* syscall : {"copy_file_range", "fchmod", "utimensat", "linkat", "renameat",
                              "symlinkat", "mkdirat", "unlinkat"}) {
    for (int n = 1;; ++n) {
      SCOPED_TRACE(std::string(syscall) + " #" + std::to_string(n));
      MakeTarget();
      const Result killed = Run(args, Strace(syscall, "signal=KILL:when=" + std::to_string(n)));
      for (const auto& [name, text] : Contents("dst")) {
        const auto was = old_items.find(name);
        const auto now = new_items.find(name);
        EXPECT_TRUE((was != old_items.end() && was->second == text) ||
                    (now != new_items.end() && now->second == text))
            << name << " holds " << text.substr(0, 40);
      }
      const Result after = Run(args);
      EXPECT_EQ(after.code, 0) << after.out;
      EXPECT_EQ(tree_.List("dst"), tree_.List("src"));
      EXPECT_EQ(Contents("dst"), new_items);
      if (killed.code != -1) break;  // no such call any more: the run went through
      ++kills;
    }
  }
  EXPECT_GT(kills, 20);
}

// With a versions folder, killed at any call, every Target name still holds
// its old or its new contents, and every old item is in Target or already
// kept; after the next run every old item is kept. On the file system of
// Target the old items are linked or moved there, on another one copied.
TEST_F(TwinmereCliFaultTest, KilledAtAnyStepWithAVersionsFolderEveryOldItemIsInTargetOrKept) {
  testing::TmpfsMount other(tree_, "other", "16m");
  MakeSource();
  MakeTarget();
  const std::map<std::string, std::string> old_items = Contents("dst");
  const std::map<std::string, std::string> new_items = Contents("src");
  std::vector<std::string> folders = {"ver"};
  if (other.SkipReason().empty()) folders.push_back("other/ver");
  int kills = 0;
  for (const std::string& ver : folders) {
    const std::vector<std::string> args = {
        "-s", "-q", "-d", "-v", tree_.Path(ver), tree_.Folder("src"), tree_.Folder("dst")};
    for (const char* syscall :
         {"copy_file_range", "fdatasync", "linkat", "renameat", "mkdirat", "unlinkat"}) {
      for (int n = 1;; ++n) {
        SCOPED_TRACE(ver + " " + syscall + " #" + std::to_string(n));
        MakeTarget();
        testing::RemoveTree(tree_.Path(ver));
        const Result killed = Run(args, Strace(syscall, "signal=KILL:when=" + std::to_string(n)));
        const std::map<std::string, std::string> now = Contents("dst");
        for (const auto& [name, text] : now) {
          const auto was = old_items.find(name);
          const auto copied = new_items.find(name);
          EXPECT_TRUE((was != old_items.end() && was->second == text) ||
                      (copied != new_items.end() && copied->second == text))
              << name << " holds " << text.substr(0, 40);
        }
        std::map<std::string, std::string> kept = Kept(ver);
        for (const auto& [name, text] : old_items) {
          const auto here = now.find(name);
          const auto there = kept.find(name);
          EXPECT_TRUE((here != now.end() && here->second == text) ||
                      (there != kept.end() && there->second == text))
              << name << " is lost";
        }
        const Result after = Run(args);
        EXPECT_EQ(after.code, 0) << after.out;
        EXPECT_EQ(Contents("dst"), new_items);
        kept = Kept(ver);
        for (const auto& [name, text] : old_items) EXPECT_EQ(kept[name], text) << name;
        if (killed.code != -1) break;  // no such call any more: the run went through
        ++kills;
      }
    }
  }
  EXPECT_GT(kills, 10);
}

// A replaced file kept on another file system is on its disk, under its
// name, before the new file takes the old one's.
TEST_F(TwinmereCliFaultTest, AFileKeptElsewhereIsOnItsDiskBeforeItsReplacementTakesTheName) {
  testing::TmpfsMount other(tree_, "other", "4m");
  if (!other.SkipReason().empty()) GTEST_SKIP() << other.SkipReason();
  tree_.WriteFile("src/a", "new");
  tree_.WriteFile("dst/a", "old");
  tree_.SetTime("dst/a", 1000000000);
  const Result r =
      Run({"-s", "-q", "-v", tree_.Path("other/ver"), tree_.Folder("src"), tree_.Folder("dst")},
          {"/usr/bin/strace", "-f", "-qq", "-o", tree_.Path("calls"),
           "-etrace=linkat,renameat,renameat2,fsync,fdatasync,syncfs"});
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(Kept("other/ver"), (std::map<std::string, std::string>{{"a", "old"}}));
  // The first call that gives a file the name "a" keeps the old one, the
  // next one replaces it.
  const std::regex named_a(R"((linkat|renameat2?)\(\d+, "[^"]*", \d+, "a"[,)].* = 0)");
  const std::regex flush(R"((fsync|syncfs)\(\d+\) += 0)");
  std::istringstream calls(tree_.ReadFile("calls"));
  int named = 0;
  bool flushed = false;
  for (std::string line; std::getline(calls, line) && named < 2;) {
    if (std::regex_search(line, named_a)) {
      ++named;
    } else if (named == 1 && std::regex_search(line, flush)) {
      flushed = true;
    }
  }
  EXPECT_EQ(named, 2) << tree_.ReadFile("calls");
  EXPECT_TRUE(flushed) << tree_.ReadFile("calls");
}

// A failure at any step of a replacement is one error line and exit code 4,
// and leaves the old file as it was, with nothing beside it.
TEST_F(TwinmereCliFaultTest, FailureAtAnyStepOfAReplacementKeepsTheOldFile) {
  const struct {
    const char* syscall;
    const char* error;
    const char* line_end;
  } cases[] = {
      {"copy_file_range", "EIO", "Input/output error"},
      {"copy_file_range", "ENOSPC", "No space left on device"},
      {"fchmod", "EIO", "Input/output error"},
      {"utimensat", "EIO", "Input/output error"},
      {"linkat", "EDQUOT", "Disk quota exceeded"},
      {"renameat", "EIO", "Input/output error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.syscall) + " " + c.error);
    testing::RemoveTree(tree_.Path("dst"));
    tree_.WriteFile("src/file", std::string(1024 * 1024 + 3, 'n'));
    tree_.WriteFile("dst/file", "old");
    tree_.SetTime("dst/file", 1000000000);
    // Every call of that kind fails, the probes of what the volume keeps too.
    const Result r = Run({"-s", "-q", tree_.Folder("src"), tree_.Folder("dst")},
                         Strace(c.syscall, std::string("error=") + c.error));
    EXPECT_EQ(r.code, 4) << r.out << r.err;
    const std::string line = "replacing \"" + tree_.Path("dst/file") + "\". " + c.line_end;
    EXPECT_NE(r.out.find(line), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Error "), r.out.rfind("Error ")) << r.out;
    EXPECT_EQ(tree_.ReadFile("dst/file"), "old");
    EXPECT_EQ(tree_.List("dst"), std::vector<std::string>{"file"});
  }
}

// ---- copies running at once onto a FUSE Target (sshfs) --------------------------

class TwinmereCliSshfsTest : public TwinmereCliFaultTest {
 protected:
  void SetUp() override {
    TwinmereCliFaultTest::SetUp();
    if (IsSkipped()) return;
    sshfs_ = std::make_unique<testing::SshfsMount>(tree_, "remote", "dst");
    if (!sshfs_->SkipReason().empty()) GTEST_SKIP() << sshfs_->SkipReason();
    for (const char* folder : {"a", "b/c", "d"}) {
      for (int i = 0; i < 24; ++i)
        tree_.WriteFile(std::string("src/") + folder + "/" + std::to_string(i),
                        std::string(1000 + i * 997, static_cast<char>('a' + i)));
    }
    tree_.MakeLink("src/a/link", "0");
    tree_.WriteFile("src/top", "top");
  }
  void TearDown() override { sshfs_.reset(); }

  // Every item below `folder` is the Source's own, complete; nothing else
  // (a killed run leaves its temporary items for the next one).
  enum class Leftovers : uint8_t { None, Allowed };
  void ExpectCompleteOrMissing(const std::string& folder, Leftovers leftovers = Leftovers::None) {
    const std::map<std::string, std::string> source = Contents("src");
    for (const auto& [name, text] : Contents(folder)) {
      const auto it = source.find(name);
      EXPECT_TRUE(it != source.end() && it->second == text) << name;
    }
    if (leftovers == Leftovers::Allowed) return;
    std::function<void(const std::string&)> no_temporary = [&](const std::string& below) {
      for (const std::string& name : tree_.List(below)) {
        EXPECT_FALSE(IsTemporaryName(name)) << below << "/" << name;
        struct stat st;
        if (lstat(tree_.Path(below + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
          no_temporary(below + "/" + name);
      }
    };
    no_temporary(folder);
  }

  std::unique_ptr<testing::SshfsMount> sshfs_;
};

// Onto a FUSE Target, where copies run at once, a run with a versions folder
// still keeps every file that its copies replace.
TEST_F(TwinmereCliSshfsTest, AVersionsFolderKeepsEveryFileThatTheCopiesReplace) {
  ASSERT_EQ(Run({"-s", "-q", tree_.Folder("src"), tree_.Folder("dst")}).code, 0);
  const std::map<std::string, std::string> old_items = Contents("remote");
  std::map<std::string, std::string> replaced;
  for (const auto& [name, text] : old_items) {
    if (name.ends_with('/') || text.starts_with("-> ")) continue;
    tree_.WriteFile("src/" + name, "new " + name);
    replaced[name] = text;
  }
  const Result r =
      Run({"-s", "-q", "-v", tree_.Path("ver"), tree_.Folder("src"), tree_.Folder("dst")});
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(Contents("remote"), Contents("src"));
  std::map<std::string, std::string> kept = Kept("ver");
  std::erase_if(kept, [](const auto& item) { return item.first.ends_with('/'); });
  EXPECT_EQ(kept, replaced);
}

// A copy that fails among those running at once is one error line in the
// place of its item; the others go on.
TEST_F(TwinmereCliSshfsTest, AFailedCopyAmongThoseRunningAtOnceIsOneErrorInItsPlace) {
  const std::vector<std::string> args = {"-s", "-q", tree_.Folder("src"), tree_.Folder("dst")};
  const Result first = Run(args);
  ASSERT_EQ(first.code, 0) << first.out;
  // The paths of the lines about a/, in order.
  const auto paths_in_a = [this](const std::string& out) {
    std::vector<std::string> paths;
    const std::string folder = "\"" + tree_.Path("dst/a/");
    for (size_t at = 0; (at = out.find(folder, at)) != std::string::npos; ++at)
      paths.push_back(out.substr(at + folder.size(), out.find('"', at + 1) - at - folder.size()));
    return paths;
  };
  // Every file of a/ newer in Source; the server refuses to replace a/5.
  for (const std::string& name : tree_.List("src/a")) tree_.SetTime("src/a/" + name, 2000000000);
  const std::string stuck = tree_.Path("remote/a/5");
  if (system(("chattr +i '" + stuck + "' 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "no immutable files in " << tree_.Root();
  const Result r = Run(args);
  EXPECT_EQ(system(("chattr -i '" + stuck + "'").c_str()), 0);
  EXPECT_EQ(r.code, 4) << r.out;
  std::vector<std::string> files = paths_in_a(first.out);
  std::erase(files, "link");  // the same as before
  EXPECT_EQ(paths_in_a(r.out), files) << r.out;
  EXPECT_EQ(r.out.find("Error "), r.out.rfind("Error ")) << r.out;
  const size_t error = r.out.find(" replacing \"" + tree_.Path("dst/a/5") + "\". ");
  ASSERT_NE(error, std::string::npos) << r.out;
  EXPECT_EQ(r.out.rfind("\nError ", error) + 1, r.out.find("Error ")) << r.out;
  EXPECT_EQ(Run(args).code, 0);
  EXPECT_EQ(Contents("remote"), Contents("src"));
}

// Stopped or killed while copies run at once, the Target holds complete
// copies and nothing else; a stop ends the run as stopped, and the next run
// completes the work and removes what a killed one left.
TEST_F(TwinmereCliSshfsTest, StoppedOrKilledWhileCopiesRunAtOnceLeavesOnlyCompleteFiles) {
  for (int i = 0; i < 40; ++i)
    tree_.WriteFile("src/big/" + std::to_string(i), std::string(3 << 20, 'B'));
  // With -d the next run walks the Target, where it meets the leftovers.
  const std::vector<std::string> args = {"-s", "-q", "-d", tree_.Folder("src"),
                                         tree_.Folder("dst")};
  Process p = Start(args);
  // Stopped once copies into big/ have begun.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!(tree_.Exists("remote/big") && !tree_.List("remote/big").empty()) &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  kill(p.pid, SIGTERM);
  EXPECT_EQ(Wait(p), 1);
  EXPECT_NE(tree_.ReadFile(p.out_path).find("Synchronization stopped."), std::string::npos);
  ExpectCompleteOrMissing("remote");
  RemoveTree(tree_.Path("src/big"));

  // Killed at the second call of one kind in any of the copies' threads.
  for (const char* call : {"pwrite64", "fchmod", "renameat", "unlinkat"}) {
    SCOPED_TRACE(call);
    // Through the mount, whose caches would not know of it otherwise.
    for (const std::string& name : tree_.List("remote")) RemoveTree(tree_.Path("dst/" + name));
    const Result killed = Run(args, Strace(call, "signal=KILL:when=2"));
    EXPECT_EQ(killed.code, -1) << killed.out;
    ExpectCompleteOrMissing("remote", Leftovers::Allowed);
    const Result after = Run(args);
    EXPECT_EQ(after.code, 0) << after.out;
    EXPECT_EQ(Contents("remote"), Contents("src"));
    ExpectCompleteOrMissing("remote");
  }
}

}  // namespace
}  // namespace twinmere
