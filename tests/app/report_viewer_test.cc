// View Report with real viewer programs: the report path reaches the viewer
// as its one argument whatever it holds, always absolute, the viewer leaves
// no zombie, and each failure gives its message and starts nothing.
#include "app/report_viewer.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>

#include "app/dialog_message_printer.h"
#include "fs/paths.h"
#include "support/temp_tree.h"
#include "support/working_folder.h"

namespace twinmere {

namespace {

using testing::TempTree;

// Polls `done` for up to a minute (a slow machine is no failure).
bool Eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 600 && !done(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return done();
}

// True when a child of this process has ended and was not waited for.
bool HasZombieChild() {
  const std::string parent = std::to_string(getpid());
  std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir("/proc"), closedir);
  while (dirent* entry = readdir(proc.get())) {
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;  // not a process
    std::ifstream in(std::string("/proc/") + entry->d_name + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t after_name = stat.rfind(')');
    if (after_name == std::string::npos) continue;
    char state = 0;
    std::string ppid;
    std::istringstream(stat.substr(after_name + 1)) >> state >> ppid;
    if (state == 'Z' && ppid == parent) return true;
  }
  return false;
}

class ReportViewerTest : public ::testing::Test {
 protected:
  ReportViewerTest() {
    // Writes its argument count and arguments, one a line, beside itself.
    tree_.WriteFile(
        "bin/viewer",
        "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > \"$0.tmp\" && mv \"$0.tmp\" \"$0.out\"\n");
    tree_.SetMode("bin/viewer", 0755);
  }
  // What the viewer received, once it has run.
  std::string Received() {
    EXPECT_TRUE(Eventually([&] { return tree_.Exists("bin/viewer.out"); }));
    const std::string out = tree_.ReadFile("bin/viewer.out");
    unlink(tree_.Path("bin/viewer.out").c_str());
    return out;
  }

  TempTree tree_;
  std::unique_ptr<FileSystem> fs_ = CreatePlatformFileSystem();
};

TEST_F(ReportViewerTest, ViewerGetsThePathAsItsOneArgumentAndLeavesNoZombie) {
  const std::string path_variable = std::getenv("PATH");
  setenv("PATH", (tree_.Path("bin") + ":" + path_variable).c_str(), 1);
  for (const std::string name :
       {"plain.txt", "my reports/it's \"quoted\" $HOME `id` %s;\xff.txt"}) {
    tree_.WriteFile(name, "report");
    for (const std::string& viewer : {tree_.Path("bin/viewer"), std::string("viewer")}) {
      EXPECT_EQ(ViewReport(*fs_, tree_.Path(name), viewer), std::nullopt) << viewer;
      EXPECT_EQ(Received(), "1\n" + tree_.Path(name) + "\n") << viewer;
    }
  }
  setenv("PATH", path_variable.c_str(), 1);
  EXPECT_TRUE(Eventually([] { return !HasZombieChild(); }));
}

// A relative report is handed over as an absolute path from the working
// folder, byte for byte: never as a web address or an option.
TEST_F(ReportViewerTest, RelativeReportReachesTheViewerAsAnAbsolutePath) {
  tree_.WriteFile("http:/example.invalid/rep", "report");
  tree_.WriteFile("-dash.txt", "report");
  tree_.WriteFile("notes.txt ", "report");
  testing::ScopedWorkingFolder here(tree_.Root());
  const std::string folder = WorkingFolder();
  for (const std::string name : {"http://example.invalid/rep", "-dash.txt", "notes.txt "}) {
    EXPECT_EQ(ViewReport(*fs_, name, tree_.Path("bin/viewer")), std::nullopt) << name;
    EXPECT_EQ(Received(), "1\n" + folder + "/" + name + "\n") << name;
  }
}

TEST_F(ReportViewerTest, MissingReportOrViewerGiveTheirMessageAndStartNothing) {
  tree_.WriteFile("r.txt", "report");
  tree_.MakeFolder("folder");
  tree_.WriteFile("bin/not-executable", "#!/bin/sh\n");
  const DialogMessage missing{"The Report file doesn't exist.", MessageIcon::Exclamation, 5000};
  const auto unable = [](const char* text, const std::string& viewer) {
    return DialogMessage{
        std::string("Unable to start Report Viewer. ") + text + ": \"" + viewer + "\".",
        MessageIcon::Exclamation, 7000};
  };
  const struct {
    std::string report;
    std::string viewer;
    std::optional<DialogMessage> shown;
  } cases[] = {
      {tree_.Path("missing.txt"), tree_.Path("bin/viewer"), missing},
      {tree_.Path("folder"), tree_.Path("bin/viewer"), missing},
      {"", tree_.Path("bin/viewer"), missing},
      {tree_.Path("r.txt"), tree_.Path("bin/no-such-viewer"),
       unable("No such file or directory", tree_.Path("bin/no-such-viewer"))},
      {tree_.Path("r.txt"), "twinmere-no-such-viewer",
       unable("No such file or directory", "twinmere-no-such-viewer")},
      {tree_.Path("r.txt"), tree_.Path("bin/not-executable"),
       unable("Permission denied", tree_.Path("bin/not-executable"))},
      {tree_.Path("r.txt"), "", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ViewReport(*fs_, c.report, c.viewer), c.shown) << c.viewer;
  EXPECT_FALSE(tree_.Exists("bin/viewer.out"));
  EXPECT_FALSE(HasZombieChild());
}

// A run creates the report, often with its folder, after View Report was
// asked for it: the next request finds it.
TEST_F(ReportViewerTest, ReportCreatedAfterAnEarlierRequestIsFound) {
  const std::string viewer = tree_.Path("bin/viewer");
  for (const std::string name : {"later.txt", "new folder/later.txt"}) {
    EXPECT_NE(ViewReport(*fs_, tree_.Path(name), viewer), std::nullopt) << name;
    tree_.WriteFile(name, "report");
    EXPECT_EQ(ViewReport(*fs_, tree_.Path(name), viewer), std::nullopt) << name;
    EXPECT_EQ(Received(), "1\n" + tree_.Path(name) + "\n") << name;
  }
}

}  // namespace
}  // namespace twinmere
