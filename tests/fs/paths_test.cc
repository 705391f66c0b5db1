#include "fs/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <utility>

#include "platform/file_system.h"
#include "platform/path_syntax.h"
#include "support/memory_file_system.h"
#include "support/temp_tree.h"
#include "support/working_folder.h"

namespace twinmere {
namespace {

TEST(SeparatorRules, AddAndRemoveKeepTheRootAndEmptyPaths) {
  struct Case {
    const char* path;
    const char* added;
    const char* removed;
  };
  const Case cases[] = {
      {"", "", ""},
      {"/", "/", "/"},
      {"/data", "/data/", "/data"},
      {"/data/", "/data/", "/data"},
      {"//", "//", "/"},  // one separator at a time
      {"rel", "rel/", "rel"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AddSeparator(c.path), c.added) << c.path;
    EXPECT_EQ(RemoveSeparator(c.path), c.removed) << c.path;
  }
  EXPECT_EQ(LongPathForm("/a b/\xff"), "/a b/\xff");
}

TEST(ParentFolder, GivesTheRootForATopLevelItemAndNothingForABareName) {
  EXPECT_EQ(ParentFolder("/a/b/c"), "/a/b");
  EXPECT_EQ(ParentFolder("/a/b/"), "/a/b");
  EXPECT_EQ(ParentFolder("/a"), "/");
  EXPECT_EQ(ParentFolder("name"), "");
  EXPECT_EQ(ParentFolder("rel/name"), "rel");
}

TEST(Quoting, UnquoteAndQuoteIfBlank) {
  EXPECT_EQ(Unquote("\"a b\" rest"), "a b");
  EXPECT_EQ(Unquote("\"open only"), "");
  EXPECT_EQ(Unquote("\"\""), "");
  EXPECT_EQ(Unquote("plain \"x\""), "plain \"x\"");
  EXPECT_EQ(QuoteIfBlank("/my docs/r.txt"), "\"/my docs/r.txt\"");
  EXPECT_EQ(QuoteIfBlank("/tab\there"), "/tab\there");  // only the space is a blank
  EXPECT_EQ(QuoteIfBlank(""), "");
}

TEST(QualifyName, PlacesOnlyBareNamesInTheStateFolder) {
  const std::string state = "/home/u/.local/state/twinmere";
  EXPECT_EQ(QualifyName("report.txt", state), state + "/report.txt");
  EXPECT_EQ(QualifyName("report.txt", state + "/"), state + "/report.txt");
  EXPECT_EQ(QualifyName("logs/report.txt", state), "logs/report.txt");
  EXPECT_EQ(QualifyName("/tmp/report.txt", state), "/tmp/report.txt");
  EXPECT_EQ(QualifyName("report.txt", ""), "report.txt");
  EXPECT_EQ(QualifyName("", state), "");
}

TEST(FolderForm, GivesStoredNamesAndKeepsTheWrittenTextOfComponentsThatDoNotExist) {
  MemoryFileSystem fs(MemoryFileSystemOptions{.case_insensitive = true});
  ASSERT_EQ(fs.AddFolder("/Data/Photos 2024"), 0);
  EXPECT_EQ(PathForm(fs, "/DATA/photos 2024", NameForm::Long), "/Data/Photos 2024");
  struct Case {
    const char* path;
    const char* expected;
  };
  const Case cases[] = {
      {"/data/PHOTOS 2024/", "/Data/Photos 2024/"},
      {"/data/new/Deeper/", "/Data/new/Deeper/"},
      {"/nothing/here/", "/nothing/here/"},
      {"/data/./x/../y/", "/Data/./x/../y/"},
      {"/data//twice/", "/Data//twice/"},
      {"/", "/"},
      {"", ""},
      {"relative/", "relative/"},
  };
  for (const Case& c : cases) EXPECT_EQ(LongFolderForm(fs, c.path), c.expected) << c.path;
}

TEST(FolderForm, ShortFormUsesAliasesWhereTheyExist) {
  MemoryFileSystem fs(MemoryFileSystemOptions{.case_insensitive = true, .short_names = true});
  ASSERT_EQ(fs.AddFolder("/Program Files"), 0);
  ASSERT_EQ(fs.AddFolder("/Program Files/Tool"), 0);  // already a short name: no alias
  ASSERT_EQ(fs.AddFile("/Program Files/Tool/Long Name.txt", "x"), 0);
  // The file system generates the aliases PROGRA~1 and LONGNA~1.TXT.
  EXPECT_EQ(FolderForm(fs, "/program files/tool/", NameForm::Short), "/PROGRA~1/Tool/");
  EXPECT_EQ(PathForm(fs, "/program files/tool/long name.txt", NameForm::Short),
            "/PROGRA~1/Tool/LONGNA~1.TXT");
  // A path written with the alias gets the long names back.
  EXPECT_EQ(PathForm(fs, "/PROGRA~1/Tool/LONGNA~1.TXT", NameForm::Long),
            "/Program Files/Tool/Long Name.txt");
}

TEST(FolderForm, LooksUpARelativePathBeyondItsFirstComponentOnly) {
  MemoryFileSystem fs;
  EXPECT_EQ(LongFolderForm(fs, "rel/sub/"), "rel/sub/");
  EXPECT_EQ(PathForm(fs, "bare.txt", NameForm::Long), "bare.txt");
  EXPECT_EQ(fs.LookupCount(), 1);  // "rel/sub" only
}

#ifndef _WIN32  // links, and the POSIX forms of the program's own paths
TEST(FolderTests, RealFoldersFilesAndLinks) {
  testing::TempTree tree;
  tree.MakeFolder("dir");
  tree.WriteFile("dir/ro", "x");
  tree.SetMode("dir/ro", 0444);
  tree.MakeLink("link", "dir");
  const std::unique_ptr<FileSystem> disk = CreatePlatformFileSystem();
  FileSystem& fs = *disk;
  // A link to a folder names that folder only where the final link is followed.
  struct Case {
    std::string path;
    bool followed, not_followed;
  };
  const Case cases[] = {
      {tree.Folder("dir"), true, true},
      {tree.Path("dir"), true, true},
      {"/", true, true},
      {tree.Folder("link"), true, false},
      {tree.Path("link"), true, false},
      {tree.Path("dir/ro"), false, false},
      {tree.Path("missing"), false, false},
      {"", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FolderExists(fs, c.path, FinalLink::Follow), c.followed) << c.path;
    EXPECT_EQ(FolderExists(fs, c.path, FinalLink::NotFollowed), c.not_followed) << c.path;
  }
  EXPECT_EQ(GetAttributes(fs, tree.Path("dir/ro")), kAttrReadOnly);
  EXPECT_EQ(GetAttributes(fs, tree.Folder("dir")), kAttrFolder);
  EXPECT_EQ(GetAttributes(fs, tree.Path("dir/ro/x")), kInvalidAttributes);
  EXPECT_EQ(LongFolderForm(fs, tree.Folder("dir/not/yet")), tree.Folder("dir/not/yet"));
}

TEST(GetInstallFolder, IsTheAbsoluteFolderOfTheRunningProgram) {
  const std::string folder = GetInstallFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.front(), '/');
  EXPECT_NE(folder.back(), '/');
  struct stat st {};
  ASSERT_EQ(stat((folder + "/" + program_invocation_short_name).c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
}

#endif

TEST(AbsolutePath, PutsTheFolderBeforeARelativePathKeepingEveryByte) {
  const std::pair<const char*, const char*> cases[] = {
      {"notes.txt ", "/work dir/notes.txt "},
      {" src/", "/work dir/ src/"},
      {"http://example.invalid/rep", "/work dir/http://example.invalid/rep"},
      {"./../x", "/work dir/./../x"},
      {"/abs/x", "/abs/x"},
      {"", ""},
  };
  for (const auto& [path, absolute] : cases) {
    EXPECT_EQ(AbsolutePath(path, "/work dir"), absolute) << path;
    EXPECT_EQ(AbsolutePath(path, "/work dir/"), absolute) << path;
  }
  EXPECT_EQ(AbsolutePath("x", "/"), "/x");
  EXPECT_EQ(AbsolutePath("x", ""), "x");  // no folder known
}

#ifndef _WIN32
TEST(WorkingFolder, IsTheAbsoluteWorkingFolderAndEmptyOnceItIsGone) {
  testing::TempTree tree;
  tree.MakeFolder("a b /gone");
  struct stat expected {};
  ASSERT_EQ(stat(tree.Path("a b ").c_str(), &expected), 0);
  {
    testing::ScopedWorkingFolder here(tree.Path("a b "));
    const std::string folder = WorkingFolder();
    struct stat st {};
    ASSERT_EQ(stat(folder.c_str(), &st), 0) << folder;
    EXPECT_EQ(st.st_ino, expected.st_ino) << folder;
    EXPECT_TRUE(folder.ends_with("/a b ")) << folder;
  }
  {
    testing::ScopedWorkingFolder gone(tree.Path("a b /gone"));
    ASSERT_EQ(rmdir(tree.Path("a b /gone").c_str()), 0);
    EXPECT_EQ(WorkingFolder(), "");
  }
  testing::ScopedWorkingFolder root("/");
  EXPECT_EQ(WorkingFolder(), "/");
}
#else
// Drive and share roots keep their "/", are never looked up as names and
// are their own parents; "/name" lies on the working folder's drive.
TEST(WindowsRoots, KeepTheirSeparatorAndAreNeverTakenForNames) {
  MemoryFileSystem fs;
  struct Case {
    const char* path;
    const char* removed;
    const char* parent;
  };
  const Case cases[] = {
      {"C:/", "C:/", "C:/"},
      {"C:/a/", "C:/a", "C:/a"},
      {"C:/a", "C:/a", "C:/"},
      {"//server/share/", "//server/share/", "//server/share/"},
      {"//server/share/a", "//server/share/a", "//server/share/"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RemoveSeparator(c.path), c.removed) << c.path;
    EXPECT_EQ(ParentFolder(c.path), c.parent) << c.path;
    EXPECT_EQ(LongFolderForm(fs, c.path), c.path) << c.path;
  }
  EXPECT_EQ(fs.LookupCount(), 3);  // the names below the roots only
  EXPECT_EQ(AbsolutePath("x/y", "C:/work"), "C:/work/x/y");
  EXPECT_EQ(AbsolutePath("/x", "D:/work"), "D:/x");
  EXPECT_EQ(AbsolutePath("/x", "//server/share/work"), "//server/share/x");
  EXPECT_EQ(AbsolutePath("C:x", "D:/work"), "C:x");  // only the system knows C:'s folder
  EXPECT_EQ(QualifyName("C:r.txt", "C:/state"), "C:r.txt");
  EXPECT_EQ(QualifyName("r.txt", "C:/state"), "C:/state/r.txt");
}

TEST(WindowsProgramPaths, AreAbsoluteAndWrittenWithSlashes) {
  for (const std::string& path : {GetInstallFolder(), WorkingFolder()}) {
    EXPECT_TRUE(IsAbsolutePath(path)) << path;
    EXPECT_EQ(path.find('\\'), std::string::npos) << path;
    EXPECT_TRUE(path.size() == 3 || !path.ends_with('/')) << path;
  }
}
#endif

}  // namespace
}  // namespace twinmere
