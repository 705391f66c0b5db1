// Scenario tests: whole runs on real folders in a temporary directory, each
// checking the files on disk, the lines shown and the exit code.
#include "engine/synchronizer.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <acl/libacl.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/acl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>
#include <utility>

#include "app/command_line.h"
#include "app/folder_fields.h"
#include "base/exit_codes.h"
#include "engine/engine_harness.h"
#include "fs/item_actions.h"
#include "fs/paths.h"
#include "platform/path_syntax.h"
#include "platform/temporary_names.h"
#ifndef _WIN32
#include "platform/posix/file_system_posix.h"
#endif
#include "support/mounts.h"
#include "support/temp_tree.h"

namespace twinmere {
namespace {

using testing::EngineHarness;
using testing::TempTree;

constexpr int64_t kT0 = 1'700'000'000;  // a fixed modification time, in seconds
const std::vector<std::string> kQuietRun = {"Synchronization completed."};  // nothing to do

// A path as the lines show it ("\" between names on Windows).
std::string Shown(const std::string& path) {
  return ShownSeparators(path);
}

class SynchronizerTest : public ::testing::Test {
 protected:
  SynchronizerTest() : fs_(CreatePlatformFileSystem()), run_(*fs_) {
    tree_.MakeFolder("src");
    tree_.MakeFolder("dst");
    run_.options.Source = tree_.Folder("src");
    run_.options.Target = tree_.Folder("dst");
  }

  // A file with contents and modification time kT0 + seconds.
  void Put(const std::string& rel, const std::string& contents, int64_t seconds = 0,
           int64_t ns = 0) {
    tree_.WriteFile(rel, contents);
    tree_.SetTime(rel, kT0 + seconds, ns);
  }
  std::string Src(const std::string& rel) const { return tree_.Path("src/" + rel); }
  std::string Dst(const std::string& rel) const { return tree_.Path("dst/" + rel); }

  // A further run with the same options and facts, the options changed by `change`.
  EngineHarness& Again(const std::function<void(SyncOptions&)>& change = nullptr) {
    again_ = std::make_unique<EngineHarness>(*fs_);
    again_->options = run_.options;
    again_->facts = run_.facts;
    if (change) change(again_->options);
    again_->Run();
    return *again_;
  }

  TempTree tree_;
  std::unique_ptr<FileSystem> fs_;
  EngineHarness run_;
  std::unique_ptr<EngineHarness> again_;
};

TEST_F(SynchronizerTest, OneWayRunCopiesNewAndDifferentFilesAndLeavesExtraItems) {
  if (!testing::LinksCanBeMade()) GTEST_SKIP() << "no symbolic links can be made here";
  Put("src/new.txt", "new");
  Put("src/changed.txt", "fresh", 100);
  Put("dst/changed.txt", "older contents", 0);  // a smaller replacement: a negative change
  Put("src/same.txt", "same");
  Put("dst/same.txt", "same");
  Put("src/sub/deep.txt", "deep");
  Put("dst/extra.txt", "extra");
  tree_.MakeLink("src/link", "abcd");
  tree_.SetTime("src/link", kT0);
  Put("dst/link", "abcd");  // same size as the link text, same time: still replaced

  EXPECT_EQ(run_.Run(), 0) << run_.AllLines();

  EXPECT_EQ(tree_.ReadFile("dst/new.txt"), "new");
  EXPECT_EQ(tree_.ReadFile("dst/changed.txt"), "fresh");
  EXPECT_EQ(tree_.ReadFile("dst/sub/deep.txt"), "deep");
  EXPECT_EQ(tree_.ReadLink("dst/link"), "abcd");
  EXPECT_TRUE(tree_.Exists("dst/extra.txt"));
  EXPECT_TRUE(run_.HasAction(testing::kCopied, Dst("new.txt"))) << run_.AllLines();
  EXPECT_TRUE(run_.HasAction(testing::kReplaced, Dst("changed.txt")));
  EXPECT_TRUE(run_.HasAction(testing::kCreatedFolder, Dst("sub")));
  EXPECT_TRUE(
      run_.LinesStartingWith(std::string(testing::kReplaced) + "\t\"" + Shown(Dst("same.txt")))
          .empty());
  EXPECT_TRUE(run_.HasLine("Synchronization completed."));
  EXPECT_EQ(run_.Counters().FilesCopiedToTarget, 2);
  EXPECT_EQ(run_.Counters().FilesReplacedInTarget, 2);  // changed.txt and the link
  EXPECT_EQ(run_.Counters().BytesReplacedInTarget, 5 + 4);
  EXPECT_EQ(run_.Counters().SizeChangeInTarget, -9);
  EXPECT_EQ(run_.Counters().FoldersCreatedInTarget, 1);

  const auto& host = run_.host;
  EXPECT_EQ(host.running_calls, 1);
  EXPECT_EQ(host.idle_calls, 1);
  EXPECT_FALSE(host.closed_with.has_value());
  EXPECT_FALSE(host.SawStatus("Exploring Target files ...   "));
  EXPECT_EQ(host.statuses.back(), "Completed.");
  EXPECT_FALSE(run_.session.Running);
}

// Files the exploring phase found equal, in folders where all was equal,
// are not compared again: a change made after the exploring phase is left
// for the next run, while a folder with a difference is compared again in
// full. Also a file removed from Source before the deleting phase.
TEST_F(SynchronizerTest, ChangesAfterExploringAreLeftForTheNextRunInFoldersFoundEqual) {
  for (const char* side : {"src/", "dst/"}) {
    Put(std::string(side) + "equal/a", "a");
    Put(std::string(side) + "equal/b", "b");
    Put(std::string(side) + "equal/gone", "g");
    Put(std::string(side) + "differs/d", "d");
  }
  Put("src/differs/c", "new c", 100);
  Put("dst/differs/c", "old c");
  run_.options.Delete = true;
  bool changed = false;
  run_.host.on_status = [&](std::string_view text) {
    if (text != "Searching files to copy to Target ...   " || std::exchange(changed, true)) return;
    Put("src/equal/a", "changed a", 200);
    Put("src/differs/d", "changed d", 200);
    ASSERT_TRUE(testing::RemoveTree(Src("equal/gone")));
  };

  EXPECT_EQ(run_.Run(), 0) << run_.AllLines();
  EXPECT_TRUE(run_.HasAction(testing::kReplaced, Dst("differs/c"))) << run_.AllLines();
  EXPECT_TRUE(run_.HasAction(testing::kReplaced, Dst("differs/d")));
  EXPECT_EQ(run_.Counters().FilesReplacedInTarget, 2);
  EXPECT_EQ(run_.Counters().FilesDeletedInTarget, 0);
  EXPECT_EQ(tree_.ReadFile("dst/equal/a"), "a");

  run_.host.on_status = nullptr;
  const EngineHarness& next = Again();
  EXPECT_EQ(next.session.ExitCode, 0) << next.AllLines();
  EXPECT_TRUE(next.HasAction(testing::kReplaced, Dst("equal/a"))) << next.AllLines();
  EXPECT_TRUE(next.HasAction(testing::kDeleted, Dst("equal/gone")));
  EXPECT_EQ(next.Counters().FilesReplacedInTarget, 1);
  EXPECT_EQ(tree_.ReadFile("dst/equal/a"), "changed a");
}

#ifndef _WIN32  // modes
// The subfolders of a folder found equal are gone into without listing it
// again, and each is still compared: one whose own mode changed after
// exploring is updated; one gone from Source by then, and one made
// meanwhile, are left for the next run, as a new file there is: a folder
// not listed again is never removed whole (it may hold items the walk did
// not see, such as items left out).
TEST_F(SynchronizerTest, SubfoldersChangedAfterExploringAFolderFoundEqual) {
  for (const char* side : {"src/", "dst/"}) {
    Put(std::string(side) + "equal/f", "f");
    Put(std::string(side) + "equal/moded/m", "m");
    tree_.MakeFolder(std::string(side) + "equal/gone");
    tree_.SetTime(std::string(side) + "equal/gone", kT0);
    tree_.SetTime(std::string(side) + "equal", kT0);
  }
  run_.options.Delete = true;
  bool changed = false;
  run_.host.on_status = [&](std::string_view text) {
    if (text != "Searching files to copy to Target ...   " || std::exchange(changed, true)) return;
    ASSERT_EQ(rmdir(Src("equal/gone").c_str()), 0);
    Put("src/equal/new/n", "n");
    tree_.SetMode("src/equal/moded", 0555);
  };
  const auto mode = [&](const std::string& path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0);
    return st.st_mode & 07777;
  };

  EXPECT_EQ(run_.Run(), 0) << run_.AllLines();
  EXPECT_EQ(mode(Dst("equal/moded")), 0555u) << run_.AllLines();
  EXPECT_TRUE(tree_.Exists("dst/equal/gone"));
  EXPECT_FALSE(tree_.Exists("dst/equal/new"));
  EXPECT_EQ(run_.Counters().ErrorCount, 0);

  run_.host.on_status = nullptr;
  const EngineHarness& next = Again();
  EXPECT_EQ(next.session.ExitCode, 0) << next.AllLines();
  EXPECT_EQ(tree_.ReadFile("dst/equal/new/n"), "n");
  EXPECT_FALSE(tree_.Exists("dst/equal/gone"));
}
#endif  // _WIN32

TEST_F(SynchronizerTest, RunsThatCannotBeginSetTheirExitCodeAndLine) {
  tree_.MakeFolder("src/inner");
  tree_.WriteFile("plain-file", "x");
  const std::string nested_line =
      "Source Path and Target Path are the same or included one into other.";
  struct Case {
    std::string name, source, target, line;
    int code;
  };
  const std::vector<Case> cases = {
      {"no source", "", tree_.Folder("dst"), "Source Path not set.", 18},
      {"no target", tree_.Folder("src"), "", "Target Path not set.", 19},
      {"missing source", tree_.Folder("nowhere"), tree_.Folder("dst"),
       "Invalid Source Path: \"" + Shown(tree_.Folder("nowhere")) + "\".", 20},
      {"target under a file", tree_.Folder("src"), tree_.Folder("plain-file/t"),
       "Invalid Target Path: \"" + Shown(tree_.Folder("plain-file/t")) + "\".", 21},
      {"same folder", tree_.Folder("src"), tree_.Folder("src"), nested_line, 22},
      {"target inside source", tree_.Folder("src"), tree_.Folder("src/inner"), nested_line, 22},
      {"source inside target", tree_.Folder("src/inner"), tree_.Folder("src"), nested_line, 22},
      // The other spellings of nesting, and siblings whose names merely begin
      // alike, are covered by SameOrNestedFoldersTest.
  };
  for (const bool quiet : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name + (quiet ? " (quiet)" : ""));
      EngineHarness run(*fs_);
      run.options.Source = c.source;
      run.options.Target = c.target;
      run.options.Quiet = quiet;
      EXPECT_EQ(run.Run(), c.code);
      EXPECT_TRUE(run.HasLine(c.line)) << run.AllLines();
      EXPECT_EQ(run.host.running_calls, 0);
      EXPECT_FALSE(run.session.Running);
      if (quiet) {
        EXPECT_EQ(run.host.closed_with, c.code);
      } else {
        EXPECT_FALSE(run.host.closed_with.has_value());
      }
    }
  }
}

#ifndef _WIN32  // mount namespaces and bind mounts

// Without /proc the mount table cannot tell where a folder lies, and a bind
// mount could hide that Target is Source's own subfolder: the run is refused
// as for nested folders, with a line saying why. The test runs in a mount
// namespace of its own, where /proc can go without harm to anything else.
TEST(SynchronizerNestingTest, WhereBindMountsCannotBeToldTheFoldersCountAsNested) {
  if (!testing::IsRoot()) GTEST_SKIP() << "needs root for a mount namespace";
  testing::TempTree tree;
  tree.MakeFolder("Data/Sub");
  tree.MakeFolder("view");
  const std::string source = tree.Folder("Data");
  const std::string target = tree.Folder("view");  // Data/Sub bound on it
  enum Outcome { kRan, kNoNamespace, kNoBindMount, kProcStays };
  int channel[2];
  ASSERT_EQ(pipe(channel), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(channel[0]);
    // Private first: an unmount must not reach the namespace the test came from.
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr))
      _exit(kNoNamespace);
    if (mount(tree.Path("Data/Sub").c_str(), tree.Path("view").c_str(), nullptr, MS_BIND,
              nullptr) != 0)
      _exit(kNoBindMount);
    if (umount2("/proc", MNT_DETACH) != 0) _exit(kProcStays);
    const auto fs = CreatePlatformFileSystem();
    testing::EngineHarness run(*fs);
    run.options.Source = source;
    run.options.Target = target;
    const int code = run.Run();
    const std::string report = std::to_string(code) + "\n" + run.AllLines();
    for (size_t done = 0; done < report.size();) {
      const ssize_t n = write(channel[1], report.data() + done, report.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    _exit(kRan);
  }
  close(channel[1]);
  std::string report;
  char buffer[4096];
  for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;)
    report.append(buffer, static_cast<size_t>(n));
  close(channel[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == kNoNamespace) GTEST_SKIP() << "no private mount namespace here";
  if (WEXITSTATUS(status) == kNoBindMount) GTEST_SKIP() << "no bind mount here";
  if (WEXITSTATUS(status) == kProcStays) GTEST_SKIP() << "cannot unmount /proc here";
  ASSERT_EQ(WEXITSTATUS(status), kRan);
  const std::string nested_line =
      "Source Path and Target Path are the same or included one into other.";
  const std::string reason = "Where \"" + source +
                             "\" lies inside its file system cannot be told, so a bind mount "
                             "may show one folder inside the other: Error 2. ";
  EXPECT_TRUE(report.starts_with("22\n" + nested_line + "\n" + reason)) << report;
  EXPECT_EQ(tree.List("Data/Sub"), std::vector<std::string>{});  // nothing copied into itself
}

#endif  // _WIN32

TEST_F(SynchronizerTest, FoldersGivenThroughLinksAreTakenAsWritten) {
  if (!testing::LinksCanBeMade()) GTEST_SKIP() << "no symbolic links can be made here";
  Put("src/sub/a.txt", "a");
  tree_.MakeLink("to-src", tree_.Path("src"));
  tree_.MakeLink("to-dst", "dst");
  run_.options.Source = tree_.Folder("to-src");
  run_.options.Target = tree_.Folder("to-dst");

  EXPECT_EQ(run_.Run(), 0) << run_.AllLines();
  EXPECT_EQ(tree_.ReadFile("dst/sub/a.txt"), "a");
  EXPECT_EQ(tree_.ReadLink("to-dst"), "dst");
}

// A Target folder that is a link to an outside folder, before the run or
// swapped in while the run fills it, never leads a write outside.
TEST_F(SynchronizerTest, NothingIsWrittenThroughALinkInTheTargetTree) {
  if (!testing::LinksCanBeMade()) GTEST_SKIP() << "no symbolic links can be made here";
  enum class Swap { BeforeTheRun, BeforeItsContents, AmidItsContents };
  for (const Swap swap : {Swap::BeforeTheRun, Swap::BeforeItsContents, Swap::AmidItsContents}) {
    SCOPED_TRACE(static_cast<int>(swap));
    TempTree tree;
    tree.MakeFolder("outside");
    for (int i = 0; i < 6; ++i) tree.WriteFile("src/sub/f" + std::to_string(i), "data");
    tree.MakeFolder("dst/sub");
    const auto swap_in_link = [&] {
      ASSERT_EQ(rename(tree.Path("dst/sub").c_str(), tree.Path("moved").c_str()), 0);
      tree.MakeLink("dst/sub", tree.Path("outside"));
    };
    if (swap == Swap::BeforeTheRun) swap_in_link();
    EngineHarness run(*fs_);
    run.options.Source = tree.Folder("src");
    run.options.Target = tree.Folder("dst");
    run.options.QuickStart = true;  // the Source walk meets "sub" first
    bool swapped = swap == Swap::BeforeTheRun;
    run.host.on_pump = [&] {
      const int copied = run.Counters().FilesCopiedToTarget;
      if (!swapped && (swap == Swap::BeforeItsContents || copied == 3)) {
        swapped = true;
        swap_in_link();
      }
    };
    const int code = run.Run();
    EXPECT_TRUE(swapped);
    EXPECT_TRUE(tree.List("outside").empty()) << run.AllLines();
    EXPECT_EQ(code, swap == Swap::AmidItsContents ? 0 : 4) << run.AllLines();
    if (swap != Swap::BeforeTheRun) continue;
    EXPECT_EQ(run.Counters().ErrorCount, 1);  // the folder against the link, nothing inside
    EngineHarness with_delete(*fs_);
    with_delete.options = run.options;
    with_delete.options.Delete = true;
    EXPECT_EQ(with_delete.Run(), 0) << with_delete.AllLines();
    EXPECT_TRUE(tree.List("outside").empty());
    EXPECT_EQ(tree.ReadFile("dst/sub/f0"), "data");  // the link gave way to a real folder
  }
}

#ifndef _WIN32  // openat, fork, pid namespaces and the mounts (tmpfs, vfat, sshfs)

// Far deeper than one path may be long, and still never through a link.
TEST_F(SynchronizerTest, TreeSixThousandFoldersDeepSyncsAndTheNextRunIsQuiet) {
  constexpr int kDepth = 6000;
  testing::TmpfsMount fast(tree_, "deep", "64m");  // else on the disk, slowly
  tree_.MakeFolder("deep/src");
  int fd = open(tree_.Path("deep/src").c_str(), O_RDONLY | O_DIRECTORY);
  for (int level = 0; level < kDepth; ++level) {
    ASSERT_EQ(mkdirat(fd, "d", 0755), 0);
    const int next = openat(fd, "d", O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = next;
  }
  ASSERT_EQ(symlinkat(tree_.Root().c_str(), fd, "up"), 0);
  close(fd);
  run_.options.Source = tree_.Folder("deep/src");
  run_.options.Target = tree_.Folder("deep/dst");

  EXPECT_EQ(run_.Run(), 0);  // (its lines are too many to show)
  EXPECT_EQ(run_.Counters().FoldersCreatedInTarget, kDepth + 1);
  EXPECT_EQ(run_.Counters().FilesCopiedToTarget, 1);
  fd = open(tree_.Path("deep/dst").c_str(), O_RDONLY | O_DIRECTORY);
  for (int level = 0; level < kDepth && fd >= 0; ++level) {
    const int next = openat(fd, "d", O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    close(fd);
    fd = next;
  }
  ASSERT_GE(fd, 0);
  char text[256] = {};
  EXPECT_GT(readlinkat(fd, "up", text, sizeof text - 1), 0);
  EXPECT_EQ(text, tree_.Root());
  close(fd);

  EXPECT_EQ(Again().display.lines, kQuietRun);
}

// A process that has ended, and whose id is free for the moment.
pid_t EndedProcess() {
  const pid_t ended = fork();
  if (ended == 0) _exit(0);
  EXPECT_EQ(waitpid(ended, nullptr, 0), ended);
  return ended;
}

constexpr std::string_view kForeignOrigin = "0123456789abcdef";  // another machine's

// Only a name of the whole temporary pattern is a copy's leftover: never an
// item. Where the run writes, one goes once no live copy can own it: made
// in this boot and pid namespace by a process that has ended. One of
// another origin (a second machine writing to the same share), of a process
// that runs (pid 1 stands for an id taken again since), or without origin
// stays, with its folder, until nothing has changed it for a day: its old
// modification time is what a live copy gives its file before the rename.
TEST_F(SynchronizerTest, OnlyLeftoversNoLiveCopyCanOwnAreRemovedOthersKeepTheirFolders) {
  const pid_t ended = EndedProcess();
  const std::string dead = TemporaryName(ended, "123", 1);
  const std::string lookalikes[] = {".twinmere-tmp-notes.txt", dead + ".txt", dead + "-4"};
  for (const std::string& name : lookalikes) Put("src/" + name, "mine");
  Put("src/" + dead, "left in a Source that is only read");
  Put("dst/gone/" + dead, "partial");
  const std::string kept[] = {
      TemporaryName(getpid(), "456", 2),
      TemporaryName(1, "456", 3),
      ComposeTemporaryName(kForeignOrigin, ended, "456", 4),
      ComposeTemporaryName("", ended, "456", 5),
  };
  for (const std::string& name : kept) Put("dst/kept/" + name, "partial");
  run_.options.Delete = true;

  EXPECT_EQ(run_.Run(), 4) << run_.AllLines();
  EXPECT_EQ(run_.LinesStartingWith("Error 39 removing folder").size(), 1u) << run_.AllLines();
  for (const std::string& name : lookalikes) EXPECT_EQ(tree_.ReadFile("dst/" + name), "mine");
  EXPECT_FALSE(tree_.Exists("dst/gone"));
  std::vector<std::string> expected(std::begin(kept), std::end(kept));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(tree_.List("dst/kept"), expected);
  EXPECT_TRUE(tree_.Exists("src/" + dead));
  EXPECT_FALSE(tree_.Exists("dst/" + dead));
  EXPECT_EQ(run_.Counters().FilesCopiedToTarget, 3);
  EXPECT_EQ(run_.Counters().FoldersRemovedInTarget, 1);
  EXPECT_EQ(run_.Counters().FilesDeletedInTarget, 0);
}

// sftp carries no change time: sshfs shows the modification time in its
// place. A leftover there is old when it and its folder have not changed for
// a day, whoever made it; -d then removes its folder. The folder of one
// made a moment ago has changed, whatever times the file was given.
TEST_F(SynchronizerTest, OldLeftoversOnSshfsGoWithTheirFoldersAndAYoungOneStays) {
  testing::SshfsMount sshfs(tree_, "remote", "sshfs");
  if (!sshfs.SkipReason().empty()) GTEST_SKIP() << sshfs.SkipReason();
  const std::string names[] = {
      TemporaryName(1, "7", 1),
      ComposeTemporaryName(kForeignOrigin, 1, "7", 2),
      ComposeTemporaryName("", 1, "7", 3),
  };
  for (size_t i = 0; i < std::size(names); ++i) {
    const std::string folder = "remote/old" + std::to_string(i);
    Put(folder + "/" + names[i], "partial");
    tree_.SetTime(folder, kT0);
  }
  Put("remote/young/" + names[1], "partial");
  struct stat st;
  ASSERT_EQ(stat(tree_.Path("sshfs/young/" + names[1]).c_str(), &st), 0);
  ASSERT_EQ(st.st_ctim.tv_sec, st.st_mtim.tv_sec) << "sshfs shows a change time of its own";
  run_.options.Target = tree_.Folder("sshfs");
  run_.options.Delete = true;
  run_.options.ForceDelete = true;  // Source is empty

  EXPECT_EQ(run_.Run(), 4) << run_.AllLines();
  EXPECT_EQ(run_.LinesStartingWith("Error 39 removing folder").size(), 1u) << run_.AllLines();
  EXPECT_EQ(tree_.List("remote"), std::vector<std::string>{"young"});
  EXPECT_EQ(tree_.List("remote/young"), std::vector<std::string>{names[1]});
  EXPECT_EQ(run_.Counters().FoldersRemovedInTarget, 3);
}

// Runs `body` as pid 1 of a pid namespace of its own, with its own /proc:
// a process on another machine. Returns its exit status, or -1 when no
// namespace can be made.
int RunInOwnPidNamespace(const std::function<int()>& body) {
  const pid_t outer = fork();
  if (outer == 0) {
    if (unshare(CLONE_NEWPID | CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
      _exit(125);
    const pid_t inner = fork();
    if (inner == 0) {
      if (mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0)
        _exit(125);
      _exit(body());
    }
    int status = 0;
    if (inner < 0 || waitpid(inner, &status, 0) != inner || !WIFEXITED(status)) _exit(126);
    _exit(WEXITSTATUS(status));
  }
  int status = 0;
  if (outer < 0 || waitpid(outer, &status, 0) != outer || !WIFEXITED(status)) return 126;
  return WEXITSTATUS(status) == 125 ? -1 : WEXITSTATUS(status);
}

// Two machines write to one share: each mounts it through sshfs, and the
// second runs in a pid namespace of its own, where the first one's process
// id means nothing. Its run meets the temporary file of a copy that the
// first one is making and leaves it alone; the copy then takes its name.
TEST_F(SynchronizerTest, ARunOnAnotherMachineLeavesALiveCopysTemporaryFileAlone) {
  testing::SshfsMount host_a(tree_, "remote", "host-a");
  if (!host_a.SkipReason().empty()) GTEST_SKIP() << host_a.SkipReason();
  testing::SshfsMount host_b(tree_, "remote", "host-b");
  if (!host_b.SkipReason().empty()) GTEST_SKIP() << host_b.SkipReason();
  const std::string contents(3 << 20, 'c');
  Put("src/big", contents);
  tree_.MakeFolder("empty");

  int ready[2], go[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(go), 0);
  const pid_t copier = fork();
  if (copier == 0) {
    // Pauses after the first chunk, until told to go on.
    struct Pause final : IProgress {
      int ready = -1, go = -1;
      bool paused = false;
      void SetProgress(uint64_t) override {
        char c = 'x';
        if (!paused && write(ready, &c, 1) == 1) paused = read(go, &c, 1) >= 0;
      }
    } pause;
    pause.ready = ready[1];
    pause.go = go[0];
    CopyOptions options;
    options.progress = &pause;
    _exit(CreatePlatformFileSystem()->CopyFile(Src("big"), tree_.Path("host-a/big"), options));
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  const std::vector<std::string> during = tree_.List("remote");
  const int other_run = RunInOwnPidNamespace([&] {
    std::unique_ptr<FileSystem> fs = CreatePlatformFileSystem();
    EngineHarness run(*fs);
    run.options.Source = tree_.Folder("empty");
    run.options.Target = tree_.Folder("host-b");
    run.options.Delete = true;
    return run.Run();
  });
  ASSERT_EQ(write(go[1], &c, 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(copier, &status, 0), copier);
  if (other_run == -1) GTEST_SKIP() << "cannot make a pid namespace";
  ASSERT_EQ(during.size(), 1u);
  EXPECT_TRUE(IsTemporaryName(during[0])) << during[0];
  EXPECT_EQ(other_run, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the copy failed";
  EXPECT_EQ(tree_.List("remote"), std::vector<std::string>{"big"});
  EXPECT_TRUE(tree_.ReadFile("remote/big") == contents);
}

// A Source named through the Target's path ("dst/../src") lies outside the
// Target all the same: a one-way run removes no leftover there (the
// Target's go), nor takes a report there for one in the Target.
TEST_F(SynchronizerTest, ASourceNamedThroughTheTargetsPathIsOnlyRead) {
  const std::string dead = TemporaryName(EndedProcess(), "123", 1);
  Put("src/" + dead, "left in a Source that is only read");
  Put("src/sub/" + dead, "left in a Source that is only read");
  Put("dst/" + dead, "partial");
  Put("src/a.txt", "a");
  run_.options.Source = tree_.Path("dst/../src");
  run_.options.Report = tree_.Path("dst/../src/report.txt");
  run_.options.Delete = true;

  EXPECT_EQ(run_.Run(), 0) << run_.AllLines();
  EXPECT_TRUE(tree_.Exists("src/" + dead));
  EXPECT_TRUE(tree_.Exists("src/sub/" + dead));
  EXPECT_FALSE(tree_.Exists("dst/" + dead));
  EXPECT_EQ(tree_.List("dst"), (std::vector<std::string>{"a.txt", "report.txt", "sub"}));
}

// vfat through FUSE: no modes, no links, names equal ignoring case, and a
// rename gives a file the time of the rename.
class SynchronizerVfatTest : public SynchronizerTest {
 protected:
  void SetUp() override {
    if (!vfat_.SkipReason().empty()) GTEST_SKIP() << vfat_.SkipReason();
    run_.options.Target = tree_.Folder("vfat");
  }
  testing::VfatMount vfat_{tree_, "vfat"};
};

// Modes that vfat keeps only in part leave the next run quiet but for the clashes.
TEST_F(SynchronizerVfatTest,
       LetterCaseIsSynchronizedNamesEqualIgnoringCaseClashAndTheNextRunIsQuiet) {
  Put("src/read-only.txt", "r", 1);
  tree_.SetMode("src/read-only.txt", 0444);
  Put("src/script", "#!/bin/sh", 3);
  tree_.SetMode("src/script", 0755);
  Put("src/closed/inner.txt", "i");
  tree_.SetMode("src/closed", 0555);
  Put("src/File.txt", "same");
  Put("vfat/file.txt", "same");
  Put("src/Name.txt", "one");
  Put("src/name.txt", "two");
  Put("src/Dir/a.txt", "a");
  Put("src/dir/b.txt", "b");
  run_.options.Case = true;
  run_.options.Delete = true;

  EXPECT_EQ(run_.Run(), 4) << run_.AllLines();
  EXPECT_TRUE(run_.HasAction(testing::kFileNameCase, tree_.Path("vfat/File.txt")));
  EXPECT_EQ(run_.Counters().FileCaseInTarget, 1);
  // The second name of each pair is the error; the first is copied, alone.
  const std::vector<std::string> errors = run_.LinesStartingWith("Error");
  ASSERT_EQ(errors.size(), 2u) << run_.AllLines();
  for (const std::string& error : errors) EXPECT_TRUE(error.starts_with("Error 17 ")) << error;
  const bool dir_second = errors[0].find("/dir\"") != std::string::npos ||
                          errors[1].find("/dir\"") != std::string::npos;
  const bool name_second = errors[0].find("/name.txt\"") != std::string::npos ||
                           errors[1].find("/name.txt\"") != std::string::npos;
  EXPECT_EQ(tree_.List("vfat/Dir"), std::vector<std::string>{dir_second ? "a.txt" : "b.txt"});
  EXPECT_EQ(tree_.ReadFile("vfat/Name.txt"), name_second ? "one" : "two");
  EXPECT_EQ(run_.Counters().ErrorCount, 2);
  EXPECT_EQ(tree_.ReadFile("vfat/read-only.txt"), "r");
  EXPECT_EQ(tree_.ReadFile("vfat/closed/inner.txt"), "i");

  std::vector<std::string> expected = errors;
  expected.push_back("Synchronization completed.");
  EXPECT_EQ(Again().display.lines, expected);
  std::vector<std::string> names = {dir_second ? "Dir" : "dir",
                                    "File.txt",
                                    name_second ? "Name.txt" : "name.txt",
                                    "closed",
                                    "read-only.txt",
                                    "script"};
  std::sort(names.begin(), names.end());
  EXPECT_EQ(tree_.List("vfat"), names);
}

// On a Target that ignores case (FUSE, whose inode numbers tell nothing
// here), an item whose name equals a Source item's ignoring case is its
// counterpart in every walk: never deleted, nor counted as extra, nor the
// folder it is, nor what it holds. A real extra item in such a folder goes.
TEST_F(SynchronizerVfatTest, AnItemEqualIgnoringCaseToASourceItemIsItsCounterpartAndStays) {
  Put("src/Report.DOC", "report");
  Put("vfat/report.doc", "report");
  for (int i = 0; i < 20; ++i) {
    Put("src/photos/2023/" + std::to_string(i), "p");
    Put("vfat/PHOTOS/2023/" + std::to_string(i), "p");
  }
  Put("src/photos/Cat.JPG", "cat");
  Put("vfat/PHOTOS/cat.jpg", "cat");
  for (const bool quick : {false, true}) {
    SCOPED_TRACE(quick ? "counted by a walk of its own" : "explored");
    Put("vfat/PHOTOS/extra.txt", "x");
    EngineHarness& run = Again([&](SyncOptions& o) {
      o.Delete = true;
      o.QuickStart = quick;
    });
    EXPECT_EQ(run.session.ExitCode, 0) << run.AllLines();
    EXPECT_EQ(run.display.lines,
              (std::vector<std::string>{std::string(testing::kDeleted) + "\t\"" +
                                            tree_.Path("vfat/PHOTOS/extra.txt") + "\"  1 bytes.",
                                        "Synchronization completed."}));
    EXPECT_EQ(tree_.List("vfat"), (std::vector<std::string>{"PHOTOS", "report.doc"}));
    EXPECT_EQ(tree_.List("vfat/PHOTOS/2023").size(), 20u);
    EXPECT_EQ(tree_.ReadFile("vfat/PHOTOS/cat.jpg"), "cat");
  }
}

// Over sftp a link's times would be set on what it points to: they are not
// set there at all, and links compare by their text.
TEST_F(SynchronizerTest, LinksOnSshfsAreNeverWrittenThroughAndCompareByText) {
  testing::SshfsMount sshfs(tree_, "remote", "sshfs");
  if (!sshfs.SkipReason().empty()) GTEST_SKIP() << sshfs.SkipReason();
  Put("src/file", "data");
  tree_.MakeLink("src/link", "file");
  tree_.SetTime("src/link", kT0 + 1000);
  tree_.MakeLink("src/dangling", "nowhere");
  run_.options.Target = tree_.Folder("sshfs");

  EXPECT_EQ(run_.Run(), 0) << run_.AllLines();
  EXPECT_EQ(tree_.ReadLink("remote/link"), "file");
  EXPECT_EQ(tree_.ReadLink("remote/dangling"), "nowhere");
  EXPECT_EQ(Again().display.lines, kQuietRun);
  struct stat st;
  ASSERT_EQ(stat(tree_.Path("remote/file").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, kT0);
}

#endif  // _WIN32

// Quick start explores nothing and counts bytes; a missing Target is made
// with its parents; a quiet run that completes closes the program.
TEST_F(SynchronizerTest, QuickStartIntoAMissingTargetCreatesItWithItsParentsAndCountsBytes) {
  Put("src/a.txt", std::string(25000, 'a'));
  run_.options.Target = tree_.Folder("out/one/two");
  run_.options.QuickStart = run_.options.Delete = run_.options.Quiet = true;

  EXPECT_EQ(run_.Run(), 0) << run_.AllLines();

  EXPECT_EQ(tree_.ReadFile("out/one/two/a.txt").size(), 25000u);
  for (const char* folder : {"out", "out/one", "out/one/two"}) {
    EXPECT_TRUE(run_.HasAction(testing::kCreatedFolder, tree_.Path(folder))) << folder;
  }
  EXPECT_FALSE(run_.host.SawStatus("Exploring Source files ...   "));
  EXPECT_FALSE(run_.host.SawStatus("Exploring Target files ...   "));
  EXPECT_TRUE(run_.host.SawStatus("Searching files to delete ...   "));
  EXPECT_EQ(run_.host.last_progress_text, "0 bytes processed");
  EXPECT_FALSE(run_.host.last_percent_mode);
  EXPECT_EQ(run_.host.closed_with, 0);
  EXPECT_EQ(run_.host.idle_calls, 0);
}

TEST_F(SynchronizerTest, BidirectionalRunCopiesNewerAndMissingBothWaysAndNeverDeletes) {
  Put("src/only-src.txt", "s");
  Put("dst/only-dst.txt", "d");
  Put("src/both.txt", "older", 0);
  Put("dst/both.txt", "newer on target", 100);
  Put("src/mine.txt", "newer on source", 100);
  Put("dst/mine.txt", "older", 0);
  run_.options.Bidi = run_.options.New = run_.options.Delete = true;  // Delete has no effect

  EXPECT_EQ(run_.Run(), 0) << run_.AllLines();

  EXPECT_EQ(tree_.ReadFile("dst/only-src.txt"), "s");
  EXPECT_TRUE(tree_.Exists("dst/only-dst.txt"));
  EXPECT_EQ(tree_.ReadFile("src/only-dst.txt"), "d");
  EXPECT_EQ(tree_.ReadFile("src/both.txt"), "newer on target");
  EXPECT_EQ(tree_.ReadFile("dst/mine.txt"), "newer on source");
  EXPECT_TRUE(run_.HasAction(testing::kCopied, Src("only-dst.txt")));
  EXPECT_TRUE(run_.HasAction(testing::kReplaced, Src("both.txt")));
  const SessionCounters& c = run_.Counters();
  EXPECT_EQ(c.FilesCopiedToTarget, 1);
  EXPECT_EQ(c.FilesReplacedInTarget, 1);
  EXPECT_EQ(c.FilesCopiedToSource, 1);
  EXPECT_EQ(c.FilesReplacedInSource, 1);
  EXPECT_TRUE(run_.host.SawStatus("Exploring Target files ...   "));
  EXPECT_TRUE(run_.host.SawStatus("Searching files to copy to Source ...   "));
  EXPECT_FALSE(run_.host.SawStatus("Searching files to delete ...   "));
}

// Extra items go contents first; a folder where Source has a file goes with
// everything in it, and the file takes its place.
TEST_F(SynchronizerTest, DeleteRemovesExtraItemsContentsBeforeTheirFolder) {
  Put("src/keep.txt", "k");
  Put("dst/keep.txt", "k");
  Put("dst/extra.txt", "12345");
  Put("dst/gone/inner.txt", "i");
  tree_.MakeFolder("dst/gone/empty");
  Put("src/x", "now a file");
  Put("dst/x/a.txt", "a");
  Put("dst/x/sub/b.txt", "b");
  run_.options.Delete = true;

  EXPECT_EQ(run_.Run(), 0) << run_.AllLines();

  EXPECT_EQ(tree_.List("dst"), (std::vector<std::string>{"keep.txt", "x"}));
  EXPECT_EQ(tree_.ReadFile("dst/x"), "now a file");
  EXPECT_TRUE(run_.HasAction(testing::kDeleted, Dst("extra.txt")));
  EXPECT_TRUE(run_.HasAction(testing::kRemovedFolder, Dst("gone")));
  for (const char* rel : {"x/a.txt", "x/sub/b.txt"}) {
    EXPECT_TRUE(run_.HasAction(testing::kDeleted, Dst(rel))) << rel;
  }
  EXPECT_TRUE(run_.HasAction(testing::kRemovedFolder, Dst("x/sub")));
  EXPECT_TRUE(run_.HasAction(testing::kRemovedFolder, Dst("x")));
  EXPECT_TRUE(run_.HasAction(testing::kCopied, Dst("x")));
  const auto& lines = run_.display.lines;
  const auto inner = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) {
    return l.find(Shown(Dst("gone/inner.txt"))) != std::string::npos;
  });
  const auto folder = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) {
    return l.starts_with(std::string(testing::kRemovedFolder) + "\t\"" + Shown(Dst("gone")) + "\"");
  });
  EXPECT_LT(inner, folder);
  EXPECT_EQ(run_.Counters().FilesDeletedInTarget, 4);
  EXPECT_EQ(run_.Counters().FoldersRemovedInTarget, 4);
}

// Before anything is deleted the guard counts what would be: every item
// (also inside a folder that goes as a whole) against Target's items. An
// empty Source, or at least 20 items and more than the share, keeps them
// all; the copies still happen and one error line tells how to go on.
TEST_F(SynchronizerTest, DeletionGuardKeepsTargetWhenSourceIsEmptyOrTooMuchWouldGo) {
  struct Case {
    const char* what;
    int matched;        // files on both sides
    int extra;          // extra files in Target
    int extra_in_old;   // files in the extra folder "old" (itself one item more)
    bool empty_source;  // Source holds nothing at all (no new file either)
    std::function<void(SyncOptions&)> options;
    int32_t percent;   // the guard's share
    const char* line;  // the guard's line, or nullptr when it lets the deletions go
  };
  const std::string fd = " To delete them, run again with -fd (Lift deletion guard).";
  const Case cases[] = {
      {"an empty mount point", 0, 6, 0, true, nullptr, 50,
       "Nothing deleted: Source is empty, and 6 of 6 items in Target would be deleted. Check "
       "that Source is the right folder (not an empty mount point); to delete them, run again "
       "with -fd (Lift deletion guard)."},
      {"49 %", 51, 49, 0, false, nullptr, 50, nullptr},
      {"51 %", 49, 51, 0, false, nullptr, 50,
       "Nothing deleted: 51 of 100 items in Target would be deleted, more than 50 %."},
      {"51 % counted by a walk of its own before the copies", 49, 51, 0, false,
       [](SyncOptions& o) { o.QuickStart = true; }, 50,
       "Nothing deleted: 51 of 100 items in Target would be deleted, more than 50 %."},
      {"51 % with a share of 60", 49, 51, 0, false, nullptr, 60, nullptr},
      {"19 of 19 extra", 1, 19, 0, false, nullptr, 50, nullptr},
      {"inside a folder deleted as a whole", 10, 0, 29, false, nullptr, 50,
       "Nothing deleted: 30 of 40 items in Target would be deleted, more than 50 %."},
      {"subfolders excluded: the top files", 10, 12, 29, false,
       [](SyncOptions& o) { o.ExcludeSubfolders = true; }, 50, nullptr},
      {"lifted", 49, 51, 0, false, [](SyncOptions& o) { o.ForceDelete = true; }, 50, nullptr},
      {"lifted for an empty Source", 0, 6, 0, true, [](SyncOptions& o) { o.ForceDelete = true; },
       50, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempTree tree;
    tree.MakeFolder("src");
    for (int i = 0; i < c.matched; ++i) {
      const std::string name = "m" + std::to_string(i);
      for (const char* side : {"src/", "dst/"}) {
        tree.WriteFile(side + name, "same");
        tree.SetTime(side + name, kT0);
      }
    }
    for (int i = 0; i < c.extra; ++i) tree.WriteFile("dst/x" + std::to_string(i), "extra");
    for (int i = 0; i < c.extra_in_old; ++i) tree.WriteFile("dst/old/x" + std::to_string(i), "x");
    if (!c.empty_source) tree.WriteFile("src/new.txt", "new");
    EngineHarness run(*fs_);
    run.options.Source = tree.Folder("src");
    run.options.Target = tree.Folder("dst");
    run.options.Delete = true;
    if (c.options) c.options(run.options);
    run.sync.SetDeletionGuard({.percent = c.percent});
    const size_t before = tree.List("dst").size();

    EXPECT_EQ(run.Run(), c.line ? 4 : 0) << run.AllLines();
    if (c.line != nullptr) {
      const std::string line = c.empty_source ? std::string(c.line) : std::string(c.line) + fd;
      EXPECT_TRUE(run.HasLine(line)) << run.AllLines();
      EXPECT_EQ(run.Counters().FilesDeletedInTarget, 0);
      EXPECT_EQ(tree.List("dst").size(), before + (c.empty_source ? 0 : 1));
    } else {
      EXPECT_EQ(run.LinesStartingWith("Nothing deleted").size(), 0u) << run.AllLines();
      EXPECT_EQ(run.Counters().FilesDeletedInTarget,
                c.options && run.options.ExcludeSubfolders ? c.extra : c.extra + c.extra_in_old);
    }
    EXPECT_EQ(tree.Exists("dst/new.txt"), !c.empty_source);  // copies go on
    EXPECT_EQ(run.host.questions.size(), c.line ? 1u : 0u);  // a host that cannot answer
  }
}

// What the copying phase removes for a Source item of another kind (a file
// where Target has a folder, with all it holds; a folder or a link where it
// has a file) is deleted too: counted before it, and kept by the guard
// with the line a run without Delete writes.
TEST_F(SynchronizerTest, AGuardedRunRemovesNoItemInTheWayOfASourceItemOfAnotherKind) {
  const std::string folder_line =
      "Can't copy file because the folder with this name already exists";
  const std::string file_line =
      "Can't create folder because the file with this name already exists";
  const std::string fd = " To delete them, run again with -fd (Lift deletion guard).";
  const struct {
    const char* what;
    bool folders_for_files;  // else a file (or link) for a folder of 30 files
    bool link;
    std::function<void(SyncOptions&)> options;
    DeletionAnswer answer;
    const char* line;
  } cases[] = {
      {"a file for a folder", false, false, nullptr, DeletionAnswer::NotAsked,
       "Nothing deleted: 31 of 35 items in Target would be deleted, more than 50 %."},
      {"counted by a walk of its own", false, false, [](SyncOptions& o) { o.QuickStart = true; },
       DeletionAnswer::NotAsked,
       "Nothing deleted: 31 of 35 items in Target would be deleted, more than 50 %."},
      {"subfolders excluded", false, false, [](SyncOptions& o) { o.ExcludeSubfolders = true; },
       DeletionAnswer::NotAsked,
       "Nothing deleted: 31 of 35 items in Target would be deleted, more than 50 %."},
      {"a link for a folder, declined", false, true, nullptr, DeletionAnswer::Keep,
       "Nothing deleted: deleting 31 of 35 items in Target was declined."},
      {"folders for files", true, false, nullptr, DeletionAnswer::NotAsked,
       "Nothing deleted: 30 of 34 items in Target would be deleted, more than 50 %."},
      {"folders for files, counted by a walk of its own", true, false,
       [](SyncOptions& o) { o.QuickStart = true; }, DeletionAnswer::NotAsked,
       "Nothing deleted: 30 of 34 items in Target would be deleted, more than 50 %."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.link && !testing::LinksCanBeMade()) continue;  // (Wine makes none)
    TempTree tree;
    for (int i = 0; i < 4; ++i) {
      for (const char* side : {"src/m", "dst/m"}) {
        tree.WriteFile(side + std::to_string(i), "same");
        tree.SetTime(side + std::to_string(i), kT0);
      }
    }
    for (int i = 0; i < 30; ++i) {
      if (c.folders_for_files) {
        tree.WriteFile("src/f" + std::to_string(i) + "/inner", "i");
        tree.WriteFile("dst/f" + std::to_string(i), "a file");
      } else {
        tree.WriteFile("dst/photos/p" + std::to_string(i), "p");
      }
    }
    if (!c.folders_for_files && c.link) tree.MakeLink("src/photos", "elsewhere");
    if (!c.folders_for_files && !c.link) tree.WriteFile("src/photos", "a file");
    EngineHarness run(*fs_);
    run.options.Source = tree.Folder("src");
    run.options.Target = tree.Folder("dst");
    run.options.Delete = true;
    if (c.options) c.options(run.options);
    run.host.on_ask = [&](const DeletionQuestion&) { return c.answer; };

    EXPECT_EQ(run.Run(), 4) << run.AllLines();
    const std::string guard = c.line + std::string(c.answer == DeletionAnswer::Keep ? "" : fd);
    EXPECT_TRUE(run.HasLine(guard)) << run.AllLines();
    EXPECT_EQ(run.LinesStartingWith(c.folders_for_files ? file_line : folder_line).size(),
              c.folders_for_files ? 30u : 1u);
    EXPECT_EQ(run.Counters().FilesDeletedInTarget + run.Counters().FoldersRemovedInTarget, 0);
    EXPECT_EQ(tree.List("dst").size(), c.folders_for_files ? 34u : 5u);
    if (!c.folders_for_files) {
      EXPECT_EQ(tree.List("dst/photos").size(), 30u);
    }
  }
}

#ifndef _WIN32  // FIFOs

// The walk that counts the deletions of a quick start says nothing of its
// own: what it meets, the deleting phase meets again and reports once.
TEST_F(SynchronizerTest, AnAccessErrorOfTheDeletingPhaseIsReportedOnce) {
  tree_.MakeFolder("src/sub");
  ASSERT_EQ(mkfifo(Src("sub/p").c_str(), 0600), 0);
  Put("dst/sub/p", "a file");
  for (const bool quick : {false, true}) {
    SCOPED_TRACE(quick ? "quick start" : "explored");
    EngineHarness& run = Again([&](SyncOptions& o) {
      o.Delete = true;
      o.QuickStart = quick;
    });
    EXPECT_EQ(run.LinesStartingWith("Error ").size(), 1u) << run.AllLines();
    EXPECT_EQ(run.Counters().ErrorCount, 1);
  }
}

#endif  // _WIN32

// The window asks instead (No keeps everything, and says so); a run that
// exits by itself, and a preview, do not ask.
TEST_F(SynchronizerTest, DeletionGuardAsksTheWindowUnlessTheRunExitsByItselfOrPreviews) {
  const struct {
    const char* what;
    bool quiet, preview;
    DeletionAnswer answer;
    bool asked, deleted;
    int exit_code;
  } cases[] = {
      {"yes", false, false, DeletionAnswer::Delete, true, true, 0},
      {"no", false, false, DeletionAnswer::Keep, true, false, 4},
      {"exits by itself", true, false, DeletionAnswer::Delete, false, false, 4},
      {"preview", false, true, DeletionAnswer::Delete, false, false, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempTree tree;
    tree.WriteFile("src/kept.txt", "k");
    for (int i = 0; i < 25; ++i) tree.WriteFile("dst/x" + std::to_string(i), "extra");
    EngineHarness run(*fs_);
    run.options.Source = tree.Folder("src");
    run.options.Target = tree.Folder("dst");
    run.options.Delete = true;
    run.options.Quiet = c.quiet;
    run.options.Preview = c.preview;
    run.host.on_ask = [&](const DeletionQuestion&) { return c.answer; };

    EXPECT_EQ(run.Run(), c.exit_code) << run.AllLines();
    ASSERT_EQ(run.host.questions.size(), c.asked ? 1u : 0u);
    if (c.asked) {
      EXPECT_EQ(run.host.questions[0].extra, 25);
      EXPECT_EQ(run.host.questions[0].items, 25);
      EXPECT_FALSE(run.host.questions[0].source_empty);
      EXPECT_EQ(run.host.questions[0].percent, 50);
    }
    EXPECT_EQ(tree.List("dst").size(), c.deleted ? 1u : (c.preview ? 25u : 26u));
    EXPECT_EQ(run.HasLine("Nothing deleted: deleting 25 of 25 items in Target was declined."),
              c.asked && !c.deleted);
  }
}

// The run never writes its options: what it made of them comes back, the
// folders with their "/", and Quiet lifted by a report that cannot be
// written (the program stays open to show why).
TEST_F(SynchronizerTest, TheOutcomeGivesTheFoldersAsTakenAndQuietLiftedByAFailedReport) {
  tree_.WriteFile("plain-file", "x");
  run_.options.Source = tree_.Path("src");
  run_.options.Quiet = true;
  run_.options.Report = tree_.Path("plain-file/report.txt");
  const SyncOptions given = run_.options;

  const RunOutcome outcome = run_.sync.Synchronize();

  EXPECT_EQ(run_.options, given);
  EXPECT_EQ(outcome.source, tree_.Folder("src"));
  EXPECT_EQ(outcome.target, tree_.Folder("dst"));
  EXPECT_FALSE(outcome.quiet);
  EXPECT_FALSE(run_.host.closed_with.has_value());
  EXPECT_EQ(outcome.exit_code, run_.session.ExitCode);
}

TEST_F(SynchronizerTest, StopDuringCopyToTargetSkipsTheRestAndKeepsTheProgramOpen) {
  for (int i = 0; i < 10; ++i) Put("src/f" + std::to_string(i) + ".txt", "x");
  Put("dst/only-dst.txt", "d");
  run_.options.Bidi = run_.options.New = true;
  run_.options.Quiet = true;
  run_.host.on_pump = [&] {
    if (run_.Counters().FilesCopiedToTarget == 3) run_.session.StopRequested = 1;
  };

  EXPECT_EQ(run_.Run(), 1) << run_.AllLines();

  EXPECT_TRUE(run_.HasLine("Synchronization stopped."));
  EXPECT_FALSE(run_.host.SawStatus("Searching files to copy to Source ...   "));
  EXPECT_FALSE(tree_.Exists("src/only-dst.txt"));
  EXPECT_EQ(run_.Counters().FilesCopiedToTarget, 3);
  EXPECT_FALSE(run_.host.closed_with.has_value());
  EXPECT_EQ(run_.host.idle_calls, 1);
  EXPECT_EQ(run_.host.statuses.back(), "Stopped.");
  EXPECT_EQ(run_.session.StopRequested.load(), 0);
}

// Within the tolerance and the daylight allowance a file of the same size is
// the same; past them, or with NoDaylight, it is copied. (The bounds
// themselves are covered by CompareTimesTest.)
TEST_F(SynchronizerTest, TimeToleranceAndDaylightAllowance) {
  for (const char* name : {"within", "past", "hour"}) Put("dst/" + std::string(name), "TARGET");
  Put("src/within", "SOURCE", 4);
  Put("src/past", "SOURCE", 4, 100);
  Put("src/hour", "SOURCE", 3600);

  EXPECT_EQ(run_.Run(), 0) << run_.AllLines();
  EXPECT_EQ(tree_.ReadFile("dst/within"), "TARGET");
  EXPECT_EQ(tree_.ReadFile("dst/past"), "SOURCE");
  EXPECT_EQ(tree_.ReadFile("dst/hour"), "TARGET");
  Again([](SyncOptions& o) { o.NoDaylight = true; });
  EXPECT_EQ(tree_.ReadFile("dst/within"), "TARGET");
  EXPECT_EQ(tree_.ReadFile("dst/hour"), "SOURCE");
}

TEST_F(SynchronizerTest, OnlyNewerLeavesANewerTargetCompletelyAlone) {
  Put("src/f.txt", "source, longer", 0);
  Put("dst/f.txt", "target", 100);
  tree_.SetMode("dst/f.txt", 0600);
  run_.options.New = true;

  EXPECT_EQ(run_.Run(), 0);
  EXPECT_EQ(tree_.ReadFile("dst/f.txt"), "target");
#ifndef _WIN32  // (Windows keeps no such bits)
  struct stat st;
  ASSERT_EQ(stat(Dst("f.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);  // not even the attributes
#endif

  Again([](SyncOptions& o) { o.New = false; });
  EXPECT_EQ(tree_.ReadFile("dst/f.txt"), "source, longer");
}

TEST_F(SynchronizerTest, FolderAgainstFileIsOneErrorWithoutDeleteAndReplacesItWithDelete) {
  for (const bool del : {false, true}) {
    SCOPED_TRACE(del ? "Delete" : "no Delete");
    Put("src/x/inside.txt", "i");
    testing::RemoveTree(Dst("x"));
    Put("dst/x", "a file");
    EngineHarness run(*fs_);
    run.options = run_.options;
    run.options.Delete = del;
    EXPECT_EQ(run.Run(), del ? 0 : 4) << run.AllLines();
    const std::string error =
        "Can't create folder because the file with this name already exists: \"" + Shown(Dst("x")) +
        "\".";
    EXPECT_EQ(run.LinesStartingWith(error).size(), del ? 0u : 1u) << run.AllLines();
    EXPECT_EQ(run.Counters().ErrorCount, del ? 0 : 1);
    EXPECT_EQ(del ? tree_.ReadFile("dst/x/inside.txt") : tree_.ReadFile("dst/x"),
              del ? "i" : "a file");
    EXPECT_EQ(run.HasAction(testing::kDeleted, Dst("x")), del);
  }
}

TEST_F(SynchronizerTest, FileAgainstFolderInTheBackwardPhaseIsAnErrorLine) {
  Put("src/x/a.txt", "a", 0);
  tree_.SetTime("src/x", kT0);
  Put("dst/x", "newer file", 100);
  run_.options.Bidi = run_.options.New = true;

  EXPECT_EQ(run_.Run(), 4);
  EXPECT_EQ(run_.LinesStartingWith("Can't copy file because the folder with this name already "
                                   "exists: \"" +
                                   Shown(Src("x")) + "\".")
                .size(),
            1u)
      << run_.AllLines();
  EXPECT_TRUE(tree_.Exists("src/x/a.txt"));
  EXPECT_EQ(run_.Counters().ErrorCount, 1);  // the folder's contents are passed over
}

TEST_F(SynchronizerTest, ExcludeSubfoldersProcessesOnlyTheTopFiles) {
  Put("src/top.txt", "t");
  Put("src/sub/deep.txt", "d");
  tree_.MakeFolder("dst/old");
  run_.options.ExcludeSubfolders = true;
  run_.options.Delete = true;

  EXPECT_EQ(run_.Run(), 0) << run_.AllLines();
  EXPECT_EQ(tree_.List("dst"), (std::vector<std::string>{"old", "top.txt"}));
}

// Filling or emptying a folder changes its time: the folders that a run
// changed get their counterpart's times back, the others keep theirs.
TEST_F(SynchronizerTest, FoldersTheRunChangedGetTheirCounterpartsTimesBack) {
  // Below a microsecond, and whole ticks of Windows' 100 ns.
  constexpr int64_t kNs = 700;
  auto times = [&](const std::string& path) {
    ItemInfo info;
    EXPECT_EQ(fs_->Lookup(RemoveSeparator(path), info), 0) << path;
    return std::pair{info.access_time.ns, info.modify_time.ns};
  };
  auto modified = [&](const std::string& path) { return times(path).second; };
  auto stamp = [&](const std::string& rel, int64_t seconds) {
    tree_.SetTime(rel, kT0 + seconds, kNs);
  };
  Put("src/a/b/f.txt", "f");
  Put("src/a/g.txt", "g");
  tree_.MakeFolder("src/e");
  stamp("src/a/b", 10);
  stamp("src/a", 20);
  stamp("src/e", 30);
  stamp("src", 40);

  EXPECT_EQ(run_.Run(), 0) << run_.AllLines();
  for (const char* rel : {"a/b", "a", "e", ""}) EXPECT_EQ(times(Dst(rel)), times(Src(rel))) << rel;

  // A file added deep down, one deleted higher up, a folder left alone.
  Put("src/a/b/new.txt", "n");
  stamp("src/a/b", 60);
  ASSERT_TRUE(testing::RemoveTree(Src("a/g.txt")));
  stamp("src/a", 70);
  stamp("dst/e", 50);
  Again([](SyncOptions& o) { o.Delete = true; });
  EXPECT_EQ(modified(Dst("a/b")), (kT0 + 60) * 1'000'000'000 + kNs);
  EXPECT_EQ(modified(Dst("a")), (kT0 + 70) * 1'000'000'000 + kNs);
  EXPECT_EQ(modified(Dst("e")), (kT0 + 50) * 1'000'000'000 + kNs);
  EXPECT_EQ(modified(Dst("")), (kT0 + 40) * 1'000'000'000 + kNs);

  // Both ways: the Source folder that the backward phase filled.
  Put("dst/a/b/back.txt", "b", 100);
  stamp("dst/a/b", 80);
  Again([](SyncOptions& o) { o.Bidi = o.New = true; });
  EXPECT_EQ(tree_.ReadFile("src/a/b/back.txt"), "b");
  EXPECT_EQ(modified(Src("a/b")), (kT0 + 80) * 1'000'000'000 + kNs);
  EXPECT_EQ(modified(Src("a")), (kT0 + 70) * 1'000'000'000 + kNs);
}

#ifndef _WIN32  // modes and other users

// Without root's rights a folder copied as 0555 could not receive its files;
// it stays writable for its owner until the walk is over, then gets 0555.
TEST_F(SynchronizerTest, ReadOnlyFolderIsFilledByAnUnprivilegedUserAndKeepsItsMode) {
  Put("src/ro/inner/f.txt", "f");
  tree_.SetMode("src/ro/inner", 0555);
  tree_.SetMode("src/ro", 0555);
  tree_.SetMode("", 0755);
  tree_.SetMode("dst", 0777);

  const int status = testing::RunAsUnprivileged([&] {
    std::unique_ptr<FileSystem> fs = CreatePlatformFileSystem();
    EngineHarness run(*fs);
    run.options.Source = tree_.Folder("src");
    run.options.Target = tree_.Folder("dst");
    run.options.NoSecurity = true;
    return run.Run();
  });
  if (status < 0) GTEST_SKIP() << "cannot run as an unprivileged user here";

  EXPECT_EQ(status, 0);
  EXPECT_EQ(tree_.ReadFile("dst/ro/inner/f.txt"), "f");
  struct stat st;
  ASSERT_EQ(stat(Dst("ro").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0555u);
  ASSERT_EQ(stat(Dst("ro/inner").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0555u);
}

#endif  // _WIN32

TEST_F(SynchronizerTest, ReportInsideSourceIsNeverCopiedAsAnItemButCopiedAtTheEnd) {
  Put("src/a.txt", "a");
  run_.options.Report = Src("report.txt");

  EXPECT_EQ(run_.Run(), 0) << run_.AllLines();

  const std::string report = tree_.ReadFile("src/report.txt");
  EXPECT_NE(report.find("Would be copied:   \t\"" + Shown(Dst("report.txt")) + "\""),
            std::string::npos)
      << report;
  EXPECT_EQ(report.find(std::string(testing::kCopied) + "\t\"" + Shown(Dst("report.txt"))),
            std::string::npos);
  EXPECT_EQ(tree_.ReadFile("dst/report.txt"), report);  // the finished report, copied out
  EXPECT_EQ(tree_.ReadFile("dst/a.txt"), "a");
}

TEST_F(SynchronizerTest, ReportInsideTargetSurvivesDeleteAndIsNotCopiedBack) {
  Put("src/a.txt", "a");
  tree_.MakeFolder("dst/logs");
  run_.options.Report = Dst("logs/report.txt");
  run_.options.Delete = true;

  EXPECT_EQ(run_.Run(), 0) << run_.AllLines();

  EXPECT_TRUE(tree_.Exists("dst/logs/report.txt"));
  EXPECT_FALSE(tree_.Exists("src/logs"));
  EXPECT_EQ(tree_.ReadFile("dst/logs/report.txt").find("Would be"), std::string::npos);
}

// A preview says so in its first and last lines, and in its report's; a
// report or JSON summary that lies inside Source or Target it does not write
// at all.
TEST_F(SynchronizerTest, PreviewFramesItsLinesAndWritesAReportOnlyOutsideBothFolders) {
  Put("src/a.txt", "a");
  Put("dst/old.txt", "o");
  for (const bool inside : {true, false}) {
    SCOPED_TRACE(inside ? "inside Target" : "outside");
    const std::string report = inside ? Dst("logs/report.txt") : tree_.Path("report.txt");
    EngineHarness preview(*fs_);
    preview.options = run_.options;
    preview.options.Delete = true;
    preview.options.Report = report;
    preview.options.JsonSummary = inside ? Src("run.json") : tree_.Path("run.json");
    preview.options.Preview = true;
    EXPECT_EQ(preview.Run(), 0) << preview.AllLines();
    EXPECT_EQ(tree_.List("src"), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(preview.display.lines,
              (std::vector<std::string>{
                  "Preview: nothing in Source or Target will be changed.",
                  std::string(testing::kCopied) + "\t\"" + Shown(Dst("a.txt")) + "\"  1 bytes.",
                  std::string(testing::kDeleted) + "\t\"" + Shown(Dst("old.txt")) + "\"  1 bytes.",
                  "Preview completed. Nothing was changed."}));
    EXPECT_EQ(tree_.List("dst"), std::vector<std::string>{"old.txt"});
    EXPECT_EQ(preview.host.statuses.back(), "Preview completed.");
    if (!inside) {
      const std::string text = tree_.ReadFile("report.txt");
      EXPECT_NE(text.find(" preview started, nothing will be changed. Report level: 215. "),
                std::string::npos)
          << text;
      EXPECT_NE(text.find("Synchronization options:   \tPreview only, Unidirectional, Delete"),
                std::string::npos)
          << text;
      EXPECT_NE(text.find(" preview ended, nothing was changed. ="), std::string::npos) << text;
      EXPECT_NE(tree_.ReadFile("run.json").find("\"Preview\": true"), std::string::npos);
    }
  }
}

// A preview shows the copies of its report that the run makes (to the
// other folder at the end; from it first, onto a report appended to), with
// the size its own report would have.
TEST_F(SynchronizerTest, APreviewShowsTheCopiesOfItsReportThatTheRunMakes) {
  Put("src/a.txt", "a");
  Put("src/appended.txt", "kept in source\n", 100);
  for (const bool append : {false, true}) {
    SCOPED_TRACE(append ? "appended to in Target" : "in Source");
    Put("dst/appended.txt", "stale\n", 0);
    const std::string report = append ? Dst("appended.txt") : Src("report.txt");
    // The lines between the frames, each up to its size.
    const auto lines = [&](bool preview) {
      const EngineHarness& run = Again([&](SyncOptions& o) {
        o.Report = report;
        o.Append = append;
        o.Preview = preview;
      });
      std::vector<std::string> shown;
      for (const std::string& line : run.display.lines) {
        if (!line.starts_with("Preview") && !line.starts_with("Synchronization"))
          shown.push_back(line.substr(0, line.find("\"  ")));
      }
      return shown;
    };
    const std::vector<std::string> shown = lines(true);
    EXPECT_EQ(shown, lines(false));
    const std::string copy = std::string(append ? testing::kReplaced : testing::kCopied) + "\t\"" +
                             Shown(append ? report : Dst("report.txt"));
    EXPECT_EQ(std::count(shown.begin(), shown.end(), copy), 1) << copy;
  }
}

TEST_F(SynchronizerTest, AppendedReportInTargetIsFirstBroughtUpToDateFromSource) {
  Put("src/report.txt", "kept in source\n", 100);
  Put("dst/report.txt", "stale\n", 0);
  run_.options.Report = Dst("report.txt");
  run_.options.Append = true;

  EXPECT_EQ(run_.Run(), 0) << run_.AllLines();

  const std::string report = tree_.ReadFile("dst/report.txt");
  EXPECT_EQ(report.rfind("kept in source\n", 0), 0u) << report;
  EXPECT_NE(report.find("Synchronization completed."), std::string::npos);
  EXPECT_EQ(tree_.ReadFile("src/report.txt"), "kept in source\n");  // one-way: not copied back
}

#ifndef _WIN32  // the POSIX file system's threads, mounts, owners, ACLs, capabilities

// What a walk reads ahead, and copies that run several at once, change
// nothing a run says or does: the same trees give the same lines (in the
// same order) and the same Target, folder times included, with the lookups
// on one thread, on a pool, and without reading ahead, with copies one at a
// time and four at once, in a mirror (every phase) and both ways.
TEST(SynchronizerReadAheadTest, ReadingAheadOrCopyingInParallelChangesNoLineAndNoTarget) {
  const auto make = [](TempTree& tree) {
    for (int i = 0; i < 300; ++i) tree.WriteFile("src/many/" + std::to_string(i), "x");
    for (int i = 0; i < 40; ++i) tree.WriteFile("src/new/" + std::to_string(i), "n");
    tree.MakeLink("src/new/link", "0");
    tree.WriteFile("src/same", "same");
    tree.WriteFile("dst/same", "same");
    tree.SetTime("src/same", kT0);
    tree.SetTime("dst/same", kT0);
    tree.WriteFile("src/newer", "new contents");
    tree.SetTime("src/newer", kT0 + 100);
    tree.WriteFile("dst/newer", "old");
    tree.SetTime("dst/newer", kT0);
    tree.WriteFile("src/mode", "m");
    tree.WriteFile("dst/mode", "m");
    tree.SetTime("src/mode", kT0);
    tree.SetTime("dst/mode", kT0);
    tree.SetMode("dst/mode", 0600);
    tree.WriteFile("src/was-folder", "f");
    tree.WriteFile("dst/was-folder/inside", "i");
    tree.WriteFile("src/was-file/inside", "i");
    tree.WriteFile("dst/was-file", "f");
    tree.MakeLink("src/link", "same");
    tree.WriteFile("dst/link", "a file");
    tree.WriteFile("dst/extra/deep/file", "e");
    tree.WriteFile("dst/many/extra", "e");
    tree.WriteFile("src/sub/a/b", "b");
    tree.WriteFile("dst/sub/a/c", "c");
    // Every time fixed, folders after their contents, so that two trees
    // made one after the other are alike.
    std::function<void(const std::string&)> settle = [&](const std::string& folder) {
      for (const std::string& name : tree.List(folder)) {
        const std::string path = folder + "/" + name;
        struct stat st;
        if (lstat(tree.Path(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) settle(path);
        if (name != "same" && name != "newer" && name != "mode") tree.SetTime(path, kT0 + 7);
      }
    };
    settle("src");
    settle("dst");
  };
  const auto run = [&](PosixFileSystemOptions fs_options, bool bidi) {
    TempTree tree;
    make(tree);
    std::unique_ptr<FileSystem> fs = CreatePosixFileSystem(fs_options);
    EngineHarness harness(*fs);
    harness.facts.IsAdmin = testing::IsRoot();
    harness.options.Source = tree.Folder("src");
    harness.options.Target = tree.Folder("dst");
    harness.options.Bidi = bidi;
    harness.options.New = bidi;
    harness.options.Delete = !bidi;
    std::vector<std::string> out = {std::to_string(harness.Run())};
    for (const std::string& line : harness.display.lines) {
      std::string relative = line;
      for (size_t at; (at = relative.find(tree.Root())) != std::string::npos;)
        relative.replace(at, tree.Root().size(), "ROOT");
      out.push_back(relative);
    }
    std::function<void(const std::string&)> list = [&](const std::string& folder) {
      for (const std::string& name : tree.List(folder)) {
        struct stat st;
        ASSERT_EQ(lstat(tree.Path(folder + "/" + name).c_str(), &st), 0);
        out.push_back(folder + "/" + name + " " + std::to_string(st.st_mode) + " " +
                      std::to_string(st.st_size) + " " + std::to_string(st.st_mtime));
        if (S_ISDIR(st.st_mode)) list(folder + "/" + name);
      }
    };
    list("src");
    list("dst");
    return out;
  };
  for (const bool bidi : {false, true}) {
    PosixFileSystemOptions direct, pooled, parallel;
    direct.read_ahead = false;
    pooled.lookup_threads = 4;
    // As on a network file system: lookups on a pool, copies four at once.
    parallel.lookup_threads = 4;
    parallel.copy_threads = 4;
    const std::vector<std::string> expected = run(direct, bidi);
    ASSERT_GT(expected.size(), 600u);
    EXPECT_EQ(run(PosixFileSystemOptions{}, bidi), expected) << "bidi " << bidi;
    EXPECT_EQ(run(pooled, bidi), expected) << "bidi " << bidi;
    EXPECT_EQ(run(parallel, bidi), expected) << "bidi " << bidi;
  }
}

// An idle program keeps no volume busy. The window keeps one file system
// object for its whole life: after each thing it does with it (reading its
// command line, checking its folder fields, a run that could not begin, a
// run) no descriptor stays on the Target's file system, which can then be
// unmounted (not lazily).
TEST(SynchronizerIdleTest, TargetVolumeUnmountsAfterAnyUseOfALongLivedFileSystem) {
  TempTree tree;
  tree.WriteFile("src/sub/file", "x");
  tree.MakeFolder("mnt");
  if (!testing::IsRoot()) GTEST_SKIP() << "mounting a tmpfs needs root";
  const std::string mount_point = tree.Path("mnt");
  const std::string target = tree.Folder("mnt/backup");
  const std::unique_ptr<FileSystem> fs = CreatePlatformFileSystem();
  const auto run = [&fs, &tree](const std::string& target, bool bidi) {
    EngineHarness harness(*fs);
    harness.options.Source = tree.Folder("src");
    harness.options.Target = target;
    harness.options.Bidi = bidi;
    return harness.Run();
  };
  const std::vector<std::pair<std::string, std::function<void()>>> uses = {
      {"command line",
       [&] {
         SyncOptions read;
         EXPECT_TRUE(ParseCommandLine(tree.Folder("src") + " " + target + "new/", read,
                                      CommandLineContext{*fs, ""})
                         .valid);
       }},
      {"folder fields",
       [&] {
         EXPECT_EQ(FolderFieldPath(*fs, target + "new/"), target + "new/");
         EXPECT_TRUE(FolderExists(*fs, target, FinalLink::Follow));
         EXPECT_EQ(BrowseStartFolder(*fs, target + "new"), RemoveSeparator(target));
       }},
      {"nested folders refused",
       [&] {
         EngineHarness nested(*fs);
         nested.options.Source = target;
         nested.options.Target = target + "inner/";
         EXPECT_EQ(nested.Run(), kExitNestedFolders);
       }},
      {"invalid Target refused",
       [&] {
         tree.WriteFile("mnt/backup/file", "x");
         EXPECT_EQ(run(target + "file/t/", false), kExitInvalidTarget);
       }},
      {"one-way run", [&] { EXPECT_EQ(run(target, false), 0); }},
      {"run both ways", [&] { EXPECT_EQ(run(target, true), 0); }},
  };
  for (const auto& [name, use] : uses) {
    SCOPED_TRACE(name);
    ASSERT_EQ(mount("tmpfs", mount_point.c_str(), "tmpfs", 0, "size=4m"), 0)
        << "cannot mount a tmpfs: " << std::strerror(errno);
    ASSERT_EQ(mkdir(target.c_str(), 0755), 0);
    use();
    if (umount2(mount_point.c_str(), 0) != 0) {
      ADD_FAILURE() << "the Target's volume is busy: " << std::strerror(errno);
      ASSERT_EQ(umount2(mount_point.c_str(), MNT_DETACH), 0);
    }
  }
}

class SynchronizerSecurityTest : public SynchronizerTest {
 protected:
  void SetUp() override {
    if (!testing::IsRoot()) GTEST_SKIP() << "copying owners needs root";
    if (!VolumeSupportsAcls(*fs_, tree_.Root())) GTEST_SKIP() << "no ACLs on " << tree_.Root();
    Put("src/f.txt", "secret");
    tree_.MakeFolder("src/d");
    Security file{1234,
                  5678,
                  true,
                  {{ACL_USER_OBJ, 0, 6},
                   {ACL_USER, 4321, 4},
                   {ACL_GROUP_OBJ, 0, 4},
                   {ACL_MASK, 0, 4},
                   {ACL_OTHER, 0, 0}},
                  false,
                  {},
                  false,
                  {}};
    Security folder{1235, 5679, false, {}, true, {}, false, {}};
    folder.default_acl = {{ACL_USER_OBJ, 0, 7},
                          {ACL_GROUP_OBJ, 0, 5},
                          {ACL_GROUP, 4321, 5},
                          {ACL_MASK, 0, 5},
                          {ACL_OTHER, 0, 0}};
    ASSERT_EQ(fs_->WriteSecurity(Src("f.txt"), file), 0);
    ASSERT_EQ(fs_->WriteSecurity(Src("d"), folder), 0);
    run_.facts.IsAdmin = true;
  }
  Security Of(const std::string& path) {
    Security security;
    EXPECT_EQ(fs_->ReadSecurity(path, security), 0) << path;
    return security;
  }
  // A user attribute and a capability (set after the owner: chown drops it)
  // of a program.
  static void SetAttributes(const std::string& path) {
    ASSERT_EQ(chmod(path.c_str(), 0755), 0);
    vfs_cap_data cap{};
    cap.magic_etc = VFS_CAP_REVISION_2 | VFS_CAP_FLAGS_EFFECTIVE;
    cap.data[0].permitted = 1u << CAP_NET_BIND_SERVICE;
    ASSERT_EQ(setxattr(path.c_str(), "security.capability", &cap, sizeof cap, 0), 0);
    ASSERT_EQ(setxattr(path.c_str(), "user.note", "n", 1, 0), 0);
  }
  static std::optional<std::string> Attribute(const std::string& path, const char* name) {
    char value[256];
    const ssize_t n = lgetxattr(path.c_str(), name, value, sizeof value);
    if (n < 0) return std::nullopt;
    return std::string(value, static_cast<size_t>(n));
  }
};

TEST_F(SynchronizerSecurityTest, RootRunCopiesOwnersGroupsAclsAndCapabilities) {
  SetAttributes(Src("f.txt"));
  ASSERT_EQ(setxattr(Src("d").c_str(), "user.note", "d", 1, 0), 0);
  EXPECT_EQ(run_.Run(), 0) << run_.AllLines();
  EXPECT_EQ(Of(Dst("f.txt")), Of(Src("f.txt")));
  EXPECT_EQ(Of(Dst("d")), Of(Src("d")));
  EXPECT_EQ(Attribute(Dst("f.txt"), "user.note"), "n");
  EXPECT_EQ(Attribute(Dst("d"), "user.note"), "d");
  EXPECT_EQ(Attribute(Dst("f.txt"), "security.capability"),
            Attribute(Src("f.txt"), "security.capability"));

  // Only the owner differs now (its change dropped the capability): the
  // security-only plan, not a copy, and the capability comes back after the
  // owner.
  ASSERT_EQ(lchown(Dst("f.txt").c_str(), 0, 0), 0);
  const EngineHarness& again = Again();
  EXPECT_EQ(Of(Dst("f.txt")).uid, 1234u);
  EXPECT_TRUE(again.HasAction(testing::kFileSecurity, Dst("f.txt"))) << again.AllLines();
  EXPECT_EQ(again.Counters().FileSecurityInTarget, 1);
  EXPECT_EQ(again.Counters().FilesReplacedInTarget, 0);
  EXPECT_EQ(Attribute(Dst("f.txt"), "security.capability"),
            Attribute(Src("f.txt"), "security.capability"));

  // A capability lost alone is a difference of security, and is repaired.
  ASSERT_EQ(removexattr(Dst("f.txt").c_str(), "security.capability"), 0);
  const EngineHarness& stripped = Again();
  EXPECT_TRUE(stripped.HasAction(testing::kFileSecurity, Dst("f.txt"))) << stripped.AllLines();
  EXPECT_EQ(Attribute(Dst("f.txt"), "security.capability"),
            Attribute(Src("f.txt"), "security.capability"));

  // The mode differs too: an attribute change, still nothing copied or counted as copied.
  ASSERT_EQ(lchown(Dst("f.txt").c_str(), 0, 0), 0);
  ASSERT_EQ(chmod(Dst("f.txt").c_str(), 0600), 0);
  const EngineHarness& third = Again();
  EXPECT_TRUE(third.HasAction(testing::kFileAttributes, Dst("f.txt"))) << third.AllLines();
  EXPECT_EQ(third.Counters().FileAttributesInTarget, 1);
  EXPECT_EQ(third.Counters().FilesReplacedInTarget, 0);
  EXPECT_EQ(third.Counters().BytesReplacedInTarget, 0);
  EXPECT_EQ(Of(Dst("f.txt")), Of(Src("f.txt")));
}

TEST_F(SynchronizerSecurityTest, NoSecurityCopiesContentsButNeitherOwnersNorAclsNorCapabilities) {
  SetAttributes(Src("f.txt"));
  run_.options.NoSecurity = true;
  EXPECT_EQ(run_.Run(), 0) << run_.AllLines();
  EXPECT_EQ(tree_.ReadFile("dst/f.txt"), "secret");
  EXPECT_EQ(Attribute(Dst("f.txt"), "user.note"), "n");
  EXPECT_EQ(Attribute(Dst("f.txt"), "security.capability"), std::nullopt);
  for (const char* item : {"f.txt", "d"}) {
    const Security copied = Of(Dst(item));
    EXPECT_EQ(copied.uid, 0u) << item;
    EXPECT_FALSE(copied.has_default_acl) << item;
    EXPECT_FALSE(copied.has_access_acl) << item;
  }
  // Owners differ but are not compared: a second run does nothing.
  const SessionCounters& again = Again().Counters();
  EXPECT_EQ(again.FileSecurityInTarget + again.FolderSecurityInTarget, 0);
  EXPECT_EQ(Of(Dst("f.txt")).uid, 0u);
}

#endif  // _WIN32

}  // namespace
}  // namespace twinmere
