#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fs/enum_probe.h"
#include "support/memory_file_system.h"
#include "support/temp_tree.h"

namespace twinmere {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

using testing::Probe;

class MemoryWalk : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(fs.AddFile("/s/a", "1"), 0);
    ASSERT_EQ(fs.AddFolder("/s/d"), 0);
    ASSERT_EQ(fs.AddFile("/s/d/x", "2"), 0);
    ASSERT_EQ(fs.AddFolder("/s/d/e"), 0);
    ASSERT_EQ(fs.AddFile("/s/d/e/y", "3"), 0);
    ASSERT_EQ(fs.AddFile("/s/z", "4"), 0);
    ASSERT_EQ(fs.AddLink("/s/link", "d"), 0);
    context.fs = &fs;
  }
  std::vector<std::string> Walk(EnumMode mode, std::string_view mask = "*") {
    recorder.files.clear();
    EXPECT_EQ(testing::Walk(context, "/s/", recorder, mode, mask), 0);
    return recorder.files;
  }
  MemoryFileSystem fs;
  EnumeratorContext context;
  std::string stop_at;
  Probe recorder{[this](FilesEnumerator& e) {
    if (e.FullPath() == stop_at) e.Stop();
  }};
};

TEST_F(MemoryWalk, EachModeHandsFoldersInItsOwnOrder) {
  EXPECT_THAT(Walk(EnumMode::NoRecursion), ElementsAre("/s/a", "/s/d", "/s/z", "/s/link"));
  EXPECT_THAT(Walk(EnumMode::ContentsFirst),
              ElementsAre("/s/a", "/s/d/x", "/s/d/e/y", "/s/d/e", "/s/d", "/s/z", "/s/link"));
  EXPECT_THAT(Walk(EnumMode::FolderFirst),
              ElementsAre("/s/a", "/s/d", "/s/d/x", "/s/d/e", "/s/d/e/y", "/s/z", "/s/link"));
  EXPECT_THAT(Walk(EnumMode::FolderFirst, "z"), ElementsAre("/s/z"));
  // A stop ends the subfolder's walk at once; the parent goes on until the
  // callback stops it too.
  stop_at = "/s/d/x";
  EXPECT_THAT(Walk(EnumMode::FolderFirst),
              ElementsAre("/s/a", "/s/d", "/s/d/x", "/s/z", "/s/link"));
}

// Counts the announced walks; a callback may start a walk of its own.
class AnnouncedWalks : public MemoryFileSystem {
 public:
  void ExpectWalk(const std::string& folder, const WalkPlan&) override {
    announced.push_back(folder);
  }
  std::vector<std::string> announced;
};

// Walks /t from inside the walk of /s, as the engine's conflict removal does.
Probe NestedWalker(EnumeratorContext& context) {
  return Probe([&context](FilesEnumerator& e) {
    if (e.FullPath() != "/s/a") return;
    Probe inner_probe;
    Walk(context, "/t/", inner_probe, EnumMode::ContentsFirst);
  });
}

TEST(EnumeratorAnnouncement, OnlyTheOutermostWalkOfAWholeTreeIsAnnounced) {
  AnnouncedWalks fs;
  for (const char* folder : {"/s", "/s/d", "/t", "/t/e"}) ASSERT_EQ(fs.AddFolder(folder), 0);
  ASSERT_EQ(fs.AddFile("/s/a", "1"), 0);
  ASSERT_EQ(fs.AddFile("/s/d/x", "2"), 0);
  ASSERT_EQ(fs.AddFile("/t/e/y", "3"), 0);
  EnumeratorContext context{&fs};
  struct Case {
    EnumMode mode;
    std::string_view mask;
    std::vector<std::string> announced;
  };
  const Case cases[] = {
      {EnumMode::FolderFirst, "*", {"/s/"}},
      {EnumMode::ContentsFirst, "*", {"/s/"}},
      {EnumMode::NoRecursion, "*", {}},
      {EnumMode::FolderFirst, "a", {}},
  };
  for (const Case& c : cases) {
    fs.announced.clear();
    Probe probe = NestedWalker(context);
    EXPECT_EQ(Walk(context, "/s/", probe, c.mode, c.mask), 0);
    EXPECT_EQ(fs.announced, c.announced) << static_cast<int>(c.mode) << " " << c.mask;
    EXPECT_EQ(context.walks_running, 0);
  }
}

TEST_F(MemoryWalk, FolderErrorsAreReportedOnceAndEndOnlyThatFoldersWalk) {
  fs.FailNext(MemoryOp::OpenFolder, EACCES, "/s/d/");
  EXPECT_THAT(Walk(EnumMode::FolderFirst), ElementsAre("/s/a", "/s/d", "/s/z", "/s/link"));
  fs.FailNext(MemoryOp::ReadFolder, EIO, "/s/d/");
  EXPECT_THAT(Walk(EnumMode::ContentsFirst), ElementsAre("/s/a", "/s/d", "/s/z", "/s/link"));
  EXPECT_THAT(recorder.errors, ElementsAre("/s/d/* 13", "/s/d/ 5"));  // the mask: not opened

  fs.FailNext(MemoryOp::ReadFolder, EIO, "/s/");
  EXPECT_EQ(testing::Walk(context, "/s/", recorder), EIO);
  recorder.errors.clear();
  EXPECT_EQ(testing::Walk(context, "/none/", recorder, EnumMode::FolderFirst), kErrNotFound);
  EXPECT_THAT(recorder.errors, ElementsAre("/none/* 2"));
  recorder.files.clear();
  ASSERT_EQ(fs.AddFolder("/empty"), 0);
  EXPECT_EQ(testing::Walk(context, "/empty/", recorder, EnumMode::FolderFirst), 0);
  EXPECT_THAT(recorder.files, IsEmpty());
}

// ---- counterpart cache -------------------------------------------------------

TEST(EnumeratorCounterpart, OneLookupServesRepeatedQuestionsAndShortFormsUseTheAlias) {
  MemoryFileSystem fs(MemoryFileSystemOptions{.case_insensitive = true, .short_names = true});
  ASSERT_EQ(fs.AddFile("/t/Name", "12345"), 0);
  EnumeratorContext context{&fs};
  FilesEnumerator e(context);
  ASSERT_EQ(e.FindOther("/t/name"), 0);
  EXPECT_EQ(e.Other().name, "Name");  // stored letter case
  EXPECT_TRUE(e.IsOtherCached("/t/name"));
  EXPECT_FALSE(e.IsOtherCached("/t/Name"));  // the cache compares exactly
  const int lookups = fs.LookupCount();
  EXPECT_EQ(e.OtherSize("/t/name"), 5u);
  EXPECT_EQ(e.OtherShortFormPath("/t/name"), "/t/Name");
  EXPECT_EQ(fs.LookupCount(), lookups);
  e.ResetOtherCache();
  EXPECT_FALSE(e.IsOtherCached("/t/name"));
  EXPECT_EQ(e.OtherSize("/t/missing"), 0u);
  EXPECT_FALSE(e.IsOtherCached("/t/missing"));
  EXPECT_EQ(e.FindOther("/t/missing"), kErrNotFound);

  ASSERT_EQ(fs.AddFile("/s/Long Name.txt", "1"), 0);
  ASSERT_EQ(fs.AddFile("/t/Long Name.txt", "1"), 0);
  testing::RunOn(context, "/s/", "Long Name.txt", [](FilesEnumerator& item) {
    EXPECT_EQ(item.ShortFormPath(), "/s/LONGNA~1.TXT");
    EXPECT_EQ(item.OtherShortFormPath("/t/long name.TXT"), "/t/LONGNA~1.TXT");
    EXPECT_EQ(item.OtherShortFormPath("/t/none"), "");
  });
}

// ---- real folders --------------------------------------------------------------

class DiskWalk : public ::testing::Test {
 protected:
  void SetUp() override { context.fs = fs.get(); }
  testing::TempTree tree;
  std::unique_ptr<FileSystem> fs = CreatePlatformFileSystem();
  EnumeratorContext context;
  Probe recorder;
};

#ifndef _WIN32  // FIFOs and links to make: Windows has no FIFOs, Wine 8 no links
// A file that a FUSE file system hides while it is open is no item either.
TEST_F(DiskWalk, WalkSkipsTemporaryLeftoversHiddenFilesFifosAndNeverDescendsThroughLinks) {
  tree.WriteFile("s/file", "x");
  tree.WriteFile("s/.twinmere-tmp-123-4-5", "partial");
  tree.WriteFile("s/.fuse_hidden0000001a00000003", "partial");
  tree.WriteFile("s/.fuse_hidden-notes", "the user's own");
  tree.MakeLink("s/.twinmere-tmp-123-4-6", "partial link");
  tree.MakeFolder("s/.twinmere-tmp-folder");  // never made by a copy: the user's own
  tree.MakeFolder("s/sub");
  tree.WriteFile("s/sub/inner", "y");
  tree.MakeLink("s/link", "sub");
  ASSERT_EQ(mkfifo(tree.Path("s/fifo").c_str(), 0644), 0);
  ASSERT_EQ(testing::Walk(context, tree.Folder("s"), recorder, EnumMode::ContentsFirst), 0);
  EXPECT_THAT(recorder.files, UnorderedElementsAre(tree.Path("s/file"), tree.Path("s/sub/inner"),
                                                   tree.Path("s/sub"), tree.Path("s/link"),
                                                   tree.Path("s/.twinmere-tmp-folder"),
                                                   tree.Path("s/.fuse_hidden-notes")));
  // Contents before their folder.
  const auto inner =
      std::find(recorder.files.begin(), recorder.files.end(), tree.Path("s/sub/inner"));
  const auto sub = std::find(recorder.files.begin(), recorder.files.end(), tree.Path("s/sub"));
  EXPECT_LT(inner, sub);
  EXPECT_THAT(recorder.errors, IsEmpty());
}
#endif

}  // namespace
}  // namespace twinmere
