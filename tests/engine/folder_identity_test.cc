#include "engine/folder_identity.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <utility>
#include <vector>

#include "engine/engine_harness.h"
#include "support/temp_tree.h"

namespace twinmere {
namespace {

// A link or a bind mount shows a folder under a path whose ancestors are not
// its own: a Target there is still nested with a Source that holds the folder.
TEST(SameOrNestedFoldersTest, TellsNestingByIdentityNotBySpelling) {
  testing::TempTree tree;
  tree.MakeFolder("Data/Sub/Deep");
  tree.MakeFolder("Data2");
  tree.MakeLink("alias", tree.Path("Data/Sub"));
  tree.MakeFolder("mnt/sub view");  // a blank: escaped in the mount table
  tree.MakeFolder("mnt/all");
  struct Case {
    std::string a, b;
    bool nested;
  };
  std::vector<Case> cases = {
      {tree.Folder("Data"), tree.Folder("Data"), true},
      {tree.Folder("Data"), tree.Path("Data"), true},
      {tree.Folder("Data"), tree.Folder("Data/Sub"), true},
      {tree.Folder("Data/Sub/Deep"), tree.Folder("Data"), true},
      {tree.Folder("Data"), tree.Folder("Data2"), false},
      {tree.Folder("Data2"), tree.Folder("Data/Sub"), false},
      {tree.Folder("alias"), tree.Folder("Data"), true},
      {tree.Folder("Data/Sub/Deep"), tree.Folder("alias"), true},
      {tree.Folder("Data"), tree.Path("Data2") + "/../Data/Sub/", true},
      // Folders that do not exist yet stand for where they would be created.
      {tree.Folder("Data"), tree.Folder("Data/New/Newer"), true},
      {tree.Folder("Data"), tree.Folder("Data2/New"), false},
      {tree.Folder("Data/Sub"), tree.Folder("Missing/Data"), false},
      {tree.Folder("alias"), tree.Folder("Data/Sub/New"), true},
  };
  struct Unmount {
    std::vector<std::string> points;
    ~Unmount() {
      for (const std::string& point : points) umount2(point.c_str(), MNT_DETACH);
    }
  } mounted;
  bool bound = testing::IsRoot();  // bind mounts need root
  for (const auto& [from, to] : {std::pair{"Data/Sub", "mnt/sub view"}, {"Data", "mnt/all"}}) {
    bound = bound &&
            mount(tree.Path(from).c_str(), tree.Path(to).c_str(), nullptr, MS_BIND, nullptr) == 0;
    if (bound) mounted.points.push_back(tree.Path(to));
  }
  if (bound) {
    cases.insert(cases.end(),
                 {
                     {tree.Folder("Data"), tree.Folder("mnt/sub view"), true},
                     {tree.Folder("Data/Sub"), tree.Folder("mnt/sub view"), true},
                     {tree.Folder("mnt/sub view/Deep"), tree.Folder("Data/Sub"), true},
                     {tree.Folder("mnt/all/Sub"), tree.Folder("Data"), true},
                     {tree.Folder("mnt/all"), tree.Folder("mnt/sub view"), true},
                     {tree.Folder("Data"), tree.Folder("mnt/sub view/New"), true},
                     {tree.Folder("Data2"), tree.Folder("mnt/sub view"), false},
                     {tree.Folder("mnt/all/Sub/Deep"), tree.Folder("Data2/New"), false},
                     {tree.Folder("mnt/sub view/New"), tree.Folder("Data/Sub/Newer"), false},
                 });
  }
  const auto fs = CreatePlatformFileSystem();
  for (const Case& c : cases) {
    EXPECT_EQ(SameOrNestedFolders(*fs, c.a, c.b), c.nested) << c.a << " vs " << c.b;
    EXPECT_EQ(SameOrNestedFolders(*fs, c.b, c.a), c.nested) << c.b << " vs " << c.a;
  }
  if (!bound) GTEST_SKIP() << "no bind mounts here: only links were checked";
}

// Without /proc the mount table cannot tell where a folder lies, and a bind
// mount could hide that Target is Source's own subfolder: the run is refused
// as for nested folders, with a line saying why. The test runs in a mount
// namespace of its own, where /proc can go without harm to anything else.
TEST(SameOrNestedFoldersTest, WhereBindMountsCannotBeToldTheFoldersCountAsNested) {
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

}  // namespace
}  // namespace twinmere
