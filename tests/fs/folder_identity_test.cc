#include "fs/folder_identity.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/mount.h>
#endif

#include <cctype>
#include <utility>
#include <vector>

#include "support/temp_tree.h"

namespace twinmere {
namespace {

#ifndef _WIN32
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
#else
// Windows spells one folder in many ways (letter case, "\\" or "/", "." and
// ".."); nesting goes by identity all the same.
TEST(SameOrNestedFoldersTest, TellsNestingByIdentityNotBySpelling) {
  testing::TempTree tree;
  tree.MakeFolder("Data/Sub/Deep");
  tree.MakeFolder("Data2");
  std::string upper = tree.Root();
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const struct {
    std::string a, b;
    bool nested;
  } cases[] = {
      {tree.Folder("Data"), upper + "/DATA/sub/", true},
      {tree.Folder("Data"), tree.Folder("Data2/../Data/Sub/Deep"), true},
      {tree.Folder("Data/Sub"), upper + "/data/SUB/New/", true},
      {tree.Folder("Data"), tree.Folder("Data2"), false},
      {tree.Folder("Data/Sub"), upper + "/DATA2/New/", false},
  };
  const auto fs = CreatePlatformFileSystem();
  for (const auto& c : cases) {
    EXPECT_EQ(SameOrNestedFolders(*fs, c.a, c.b), c.nested) << c.a << " vs " << c.b;
    EXPECT_EQ(SameOrNestedFolders(*fs, c.b, c.a), c.nested) << c.b << " vs " << c.a;
  }
}
#endif

}  // namespace
}  // namespace twinmere
