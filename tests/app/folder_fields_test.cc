#include "app/folder_fields.h"

#include <gtest/gtest.h>

#include <memory>

#include "support/temp_tree.h"

namespace twinmere {
namespace {

TEST(FolderFieldsTest, FieldTextBecomesTheOptionsFolderAndTheBrowserStart) {
  if (!testing::LinksCanBeMade()) GTEST_SKIP() << "no symbolic links can be made here";
  testing::TempTree tree;
  tree.MakeFolder("data/sub");
  tree.WriteFile("data/file.txt", "x");
  tree.MakeLink("to-data", "data");
  std::unique_ptr<FileSystem> fs = CreatePlatformFileSystem();

  // Blanks around the text go, unless an item has exactly the typed name;
  // the folder path ends in "/"; blank is empty.
  tree.MakeFolder("dst ");
  tree.MakeFolder("dst");
  tree.MakeFolder("only");
  const struct {
    std::string text;
    std::string folder;
  } cases[] = {
      {"  " + tree.Path("data") + " \t", tree.Folder("data")},
      {tree.Path("dst "), tree.Folder("dst ")},
      {" " + tree.Path("dst "), tree.Folder("dst ")},
      {tree.Path("only "), tree.Folder("only")},
      {tree.Path("new") + " ", tree.Folder("new")},
      {tree.Folder("new"), tree.Folder("new")},
      {"  \n", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(FolderFieldPath(*fs, c.text), c.folder) << c.text;

  // A dropped report file is no folder, nor a link to one.
  EXPECT_FALSE(NamesExistingNonFolder(*fs, tree.Path("data")));
  EXPECT_FALSE(NamesExistingNonFolder(*fs, tree.Path("to-data")));
  EXPECT_TRUE(NamesExistingNonFolder(*fs, tree.Path("data/file.txt")));
  EXPECT_FALSE(NamesExistingNonFolder(*fs, tree.Path("missing")));

  // The browser opens in the folder, else in its nearest existing parent.
  EXPECT_EQ(BrowseStartFolder(*fs, tree.Folder("data/sub")), tree.Path("data/sub"));
  EXPECT_EQ(BrowseStartFolder(*fs, tree.Folder("data/gone/deeper")), tree.Path("data"));
  EXPECT_EQ(BrowseStartFolder(*fs, "/"), "/");
  EXPECT_EQ(BrowseStartFolder(*fs, "relative/path/"), "");
}

}  // namespace
}  // namespace twinmere
