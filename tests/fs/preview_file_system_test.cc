// The preview's file system: it keeps every change in memory and shows it to
// later reads, and never writes through to the real file system.
#include "fs/preview_file_system.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/memory_file_system.h"

namespace twinmere {
namespace {

constexpr FileTime kT0{1'700'000'000'000'000'000};

std::vector<std::string> Listing(FileSystem& fs, const std::string& folder) {
  std::vector<std::string> names;
  std::unique_ptr<FolderReader> reader;
  if (fs.OpenFolder(folder, reader) != 0) return {"(cannot open)"};
  for (ItemInfo item; reader->Next(item) == 0;) names.push_back(item.name);
  return names;
}

// What the preview did is what later reads see, in both folders of a move;
// the real file system keeps what it had.
TEST(PreviewFileSystem, ChangesAreSeenByLaterReadsAndNeverReachTheRealFileSystem) {
  MemoryFileSystem real;
  real.AddFile("/t/keep.txt", "k", kT0);
  real.AddFile("/t/old/inner.txt", "i", kT0);
  real.AddFile("/s/new.txt", "new", kT0, 0600);
  real.AddLink("/s/link", "somewhere", kT0);
  real.SetVolume("/other", {});
  PreviewFileSystem fs(real);

  ASSERT_EQ(fs.CreateFolder("/t/made"), 0);
  EXPECT_EQ(fs.CreateFolder("/t/made"), kErrAlreadyExists);
  ASSERT_EQ(fs.CopyFile("/s/new.txt", "/t/made/new.txt", {}), 0);
  ASSERT_EQ(fs.CopyFile("/s/link", "/t/link", {}), 0);
  ASSERT_EQ(fs.Rename("/t/old", "/t/moved", RenameMode::NoReplace), 0);
  EXPECT_EQ(fs.Rename("/t/moved", "/other/moved", RenameMode::NoReplace), kErrCrossDevice);
  ASSERT_EQ(fs.SetMode("/t/keep.txt", 0400), 0);
  EXPECT_EQ(fs.RemoveFolder("/t/moved"), kErrNotEmpty);
  ASSERT_EQ(fs.DeleteFile("/t/moved/inner.txt"), 0);

  ItemInfo info;
  ASSERT_EQ(fs.Lookup("/t/made/new.txt", info), 0);
  EXPECT_EQ(info.size, 3u);
  EXPECT_EQ(info.mode, 0600u);
  EXPECT_EQ(info.modify_time, kT0);
  std::string text;
  ASSERT_EQ(fs.ReadLink("/t/link", text), 0);
  EXPECT_EQ(text, "somewhere");
  ASSERT_EQ(fs.Lookup("/t/keep.txt", info), 0);
  EXPECT_EQ(info.mode, 0400u);
  EXPECT_EQ(fs.Lookup("/t/old", info), kErrNotFound);
  EXPECT_EQ(fs.Lookup("/t/moved/inner.txt", info), kErrNotFound);
  EXPECT_EQ(Listing(fs, "/t/"), (std::vector<std::string>{"keep.txt", "made", "link", "moved"}));
  EXPECT_EQ(Listing(fs, "/t/moved/"), std::vector<std::string>{});
  ASSERT_EQ(fs.RemoveFolder("/t/moved"), 0);
  EXPECT_EQ(Listing(fs, "/t/"), (std::vector<std::string>{"keep.txt", "made", "link"}));

  EXPECT_EQ(real.Names("/t"), (std::vector<std::string>{"keep.txt", "old"}));
  EXPECT_EQ(real.Names("/t/old"), std::vector<std::string>{"inner.txt"});
  ASSERT_EQ(real.Lookup("/t/keep.txt", info), 0);
  EXPECT_EQ(info.mode, 0644u);
  EXPECT_TRUE(fs.WrittenFileSystems().empty());
}

// In a folder that compares names ignoring case, an item made or renamed
// there answers to any case of its name, as the real folder would.
TEST(PreviewFileSystem, NamesInAFolderIgnoringCaseMatchInAnyCase) {
  MemoryFileSystem real;
  real.SetVolume("/t", MemoryFileSystemOptions{.case_insensitive = true});
  real.AddFile("/t/Readme.TXT", "r", kT0);
  real.AddFile("/s/Made.txt", "m", kT0);
  PreviewFileSystem fs(real);

  ASSERT_EQ(fs.CopyFile("/s/Made.txt", "/t/Made.txt", {}), 0);
  ItemInfo info;
  ASSERT_EQ(fs.Lookup("/t/MADE.TXT", info), 0);
  EXPECT_EQ(info.name, "Made.txt");
  EXPECT_EQ(fs.CreateNewFile("/t/made.txt"), kErrAlreadyExists);
  ASSERT_EQ(fs.Rename("/t/Readme.TXT", "/t/readme.txt", RenameMode::NoReplace), 0);
  ASSERT_EQ(fs.Lookup("/t/README.TXT", info), 0);
  EXPECT_EQ(info.name, "readme.txt");
  EXPECT_EQ(Listing(fs, "/t/"), (std::vector<std::string>{"Made.txt", "readme.txt"}));
  EXPECT_EQ(real.Names("/t"), std::vector<std::string>{"Readme.TXT"});
}

}  // namespace
}  // namespace twinmere
