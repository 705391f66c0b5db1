#include "support/memory_file_system.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace twinmere {
namespace {

using ::testing::ElementsAre;

constexpr MemoryFileSystemOptions kWindowsish{.case_insensitive = true, .short_names = true};

TEST(MemoryFileSystemTest, ShortNamesFollowTheWindowsPattern) {
  MemoryFileSystem fs(kWindowsish);
  struct Case {
    std::string name;
    std::string short_name;
  };
  const Case cases[] = {
      {"Long File Name.txt", "LONGFI~1.TXT"},
      {"longfilename.txt", "LONGFI~2.TXT"},
      {"LongFileNumber3.text", "LONGFI~1.TEX"},  // another extension, another alias
      {"README.TXT", ""},                        // already 8.3
      {"readme2.md", ""},                        // 8.3 in lower case needs no alias either
      {"a.b.c", "AB~1.C"},                       // dots in the base are dropped
      {".hidden", "HIDDEN~1"},
      {"name with+plus", "NAMEWI~1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(fs.AddFile("/d/" + c.name, "x"), 0);
    ItemInfo info;
    ASSERT_EQ(fs.Lookup("/d/" + c.name, info), 0);
    EXPECT_EQ(info.short_name, c.short_name);
    if (!c.short_name.empty()) {
      ItemInfo by_alias;
      ASSERT_EQ(fs.Lookup("/d/" + c.short_name, by_alias), 0);
      EXPECT_EQ(by_alias.name, c.name);
    }
  }
}

TEST(MemoryFileSystemTest, CaseInsensitiveLookupGivesStoredNameAndCreationClashes) {
  MemoryFileSystem fs(kWindowsish);
  ASSERT_EQ(fs.AddFolder("/Data"), 0);
  ASSERT_EQ(fs.AddFile("/Data/Report.TXT", "r"), 0);
  ItemInfo info;
  ASSERT_EQ(fs.Lookup("/DATA/report.txt", info), 0);
  EXPECT_EQ(info.name, "Report.TXT");
  EXPECT_EQ(fs.CreateFolder("/data/REPORT.txt"), kErrAlreadyExists);
  EXPECT_EQ(fs.CreateNewFile("/data/report.txt"), kErrAlreadyExists);
  // A change of letter case is a rename onto the item itself.
  ASSERT_EQ(fs.Rename("/data/report.txt", "/data/report.txt", RenameMode::NoReplace), 0);
  EXPECT_THAT(fs.Names("/Data"), ElementsAre("report.txt"));

  MemoryFileSystem sensitive;
  ASSERT_EQ(sensitive.AddFile("/a", "1"), 0);
  ASSERT_EQ(sensitive.AddFile("/A", "2"), 0);
  EXPECT_EQ(sensitive.Lookup("/a", info), 0);
  EXPECT_EQ(*sensitive.ReadContents("/A"), "2");
}

TEST(MemoryFileSystemTest, RenameGivesANewShortName) {
  MemoryFileSystem fs(kWindowsish);
  ASSERT_EQ(fs.AddFile("/abcdefghij.txt", "x"), 0);
  ASSERT_EQ(fs.AddFile("/ABCDEF~2.TXT", "y"), 0);  // a long name that looks like an alias
  ItemInfo info;
  ASSERT_EQ(fs.Lookup("/abcdefghij.txt", info), 0);
  EXPECT_EQ(info.short_name, "ABCDEF~1.TXT");
  ASSERT_EQ(fs.Rename("/abcdefghij.txt", "/tmp.tmp", RenameMode::NoReplace), 0);
  ASSERT_EQ(fs.CreateNewFile("/ABCDEF~1.TXT"), 0);
  ASSERT_EQ(fs.Rename("/tmp.tmp", "/abcdefghij.txt", RenameMode::NoReplace), 0);
  ASSERT_EQ(fs.Lookup("/abcdefghij.txt", info), 0);
  EXPECT_EQ(info.short_name, "ABCDEF~3.TXT");
}

TEST(MemoryFileSystemTest, LinksAreNeverFollowedAndRemovalRules) {
  MemoryFileSystem fs;
  ASSERT_EQ(fs.AddFile("/d/f", "x"), 0);
  ASSERT_EQ(fs.AddLink("/link", "d"), 0);
  ItemInfo info;
  EXPECT_EQ(fs.Lookup("/link/f", info), kErrLinkInPath);
  std::unique_ptr<FolderReader> reader;
  EXPECT_EQ(fs.OpenFolder("/link", reader), kErrLinkInPath);
  EXPECT_EQ(fs.OpenFolder("/d/f", reader), kErrNotAFolder);
  EXPECT_EQ(fs.RemoveFolder("/d"), kErrNotEmpty);
  EXPECT_EQ(fs.DeleteFile("/d"), kErrIsAFolder);
  EXPECT_EQ(fs.RemoveFolder("/d/f"), kErrNotAFolder);
  EXPECT_EQ(fs.Rename("/d", "/d/inner", RenameMode::NoReplace), kErrInvalidArgument);
  EXPECT_EQ(fs.DeleteFile("/d/f"), 0);
  EXPECT_EQ(fs.RemoveFolder("/d"), 0);
  EXPECT_FALSE(fs.Exists("/d"));
}

}  // namespace
}  // namespace twinmere
