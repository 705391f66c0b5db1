#include "engine/folder_identity.h"

#include <gtest/gtest.h>

#include "support/temp_tree.h"

namespace twinmere {
namespace {

TEST(SameOrNestedFoldersTest, TellsNestingByIdentityNotBySpelling) {
  testing::TempTree tree;
  tree.MakeFolder("Data/Sub/Deep");
  tree.MakeFolder("Data2");
  tree.MakeLink("alias", tree.Path("Data/Sub"));
  const auto fs = CreatePlatformFileSystem();
  struct Case {
    std::string a, b;
    bool nested;
  };
  const Case cases[] = {
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
  for (const Case& c : cases) {
    EXPECT_EQ(SameOrNestedFolders(*fs, c.a, c.b), c.nested) << c.a << " vs " << c.b;
    EXPECT_EQ(SameOrNestedFolders(*fs, c.b, c.a), c.nested) << c.b << " vs " << c.a;
  }
}

}  // namespace
}  // namespace twinmere
