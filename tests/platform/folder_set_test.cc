#include "platform/folder_set.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace twinmere {
namespace {

// The reference vector of the algorithm's authors: key 00 01 .. 0f, message
// 00 01 .. 0e.
TEST(FolderSet, HashIsSipHash24) {
  const uint64_t key[2] = {0x0706050403020100ull, 0x0f0e0d0c0b0a0908ull};
  std::string message;
  for (char c = 0; c < 15; ++c) message += c;
  EXPECT_EQ(SipHash24(key, message), 0xa129ca6149be45e5ull);
  EXPECT_EQ(SipHash24(key, ""), 0x726fdb47dd0e0e31ull);
}

// A folder is found whatever trailing "/" either side has, and only below
// the set's top; nothing is found before the set is sealed.
TEST(FolderSet, FindsTheFoldersAddedByTheirPathBelowTheTop) {
  for (const std::string top : {"/data/src", "/data/src/", "/"}) {
    SCOPED_TRACE(top);
    const std::string base = top == "/" ? "/" : "/data/src/";
    FolderSet set(top);
    set.Add(base + "a/b/");
    set.Add(base + "c");
    set.Add(top);
    EXPECT_FALSE(set.Contains(base + "c"));
    set.Seal();
    EXPECT_TRUE(set.Contains(base + "a/b"));
    EXPECT_TRUE(set.Contains(base + "a/b/"));
    EXPECT_TRUE(set.Contains(base + "c/"));
    EXPECT_TRUE(set.Contains(base));
    EXPECT_FALSE(set.Contains(base + "a"));
    EXPECT_FALSE(set.Contains(base + "a/b/c"));
    EXPECT_FALSE(set.Contains(base + "C"));
    EXPECT_EQ(set.Size(), 3u);
  }
  FolderSet set("/data/src");
  set.Add("/data/src-old/c");
  set.Add("/data/srcc");
  set.Seal();
  EXPECT_EQ(set.Size(), 0u);
  EXPECT_FALSE(set.Contains("/data/src-old/c"));
}

// A folder added with its subfolders gives their names back, any bytes but
// NUL and "/" in them; one added without them, or not at all, gives none.
TEST(FolderSet, GivesBackTheSubfoldersAFolderWasAddedWith) {
  FolderSet set("/src");
  set.Add("/src/plain");
  set.Add("/src/a", std::string("x\0\xff y\0", 6));
  set.Add("/src/empty", "");
  set.Add("/src/a/x", std::string("z\0", 2));
  set.Seal();
  std::string_view names;
  ASSERT_TRUE(set.Subfolders("/src/a/", names));
  EXPECT_EQ(names, std::string_view("x\0\xff y\0", 6));
  ASSERT_TRUE(set.Subfolders("/src/empty", names));
  EXPECT_EQ(names, "");
  ASSERT_TRUE(set.Subfolders("/src/a/x", names));
  EXPECT_EQ(names, std::string_view("z\0", 2));
  EXPECT_FALSE(set.Subfolders("/src/plain", names));
  EXPECT_TRUE(set.Contains("/src/plain"));
  EXPECT_FALSE(set.Subfolders("/src/other", names));
  EXPECT_EQ(set.Size(), 4u);
}

// Hashes, not paths: the 50,000 folders of a million files (20 a folder)
// take less than half a megabyte.
TEST(FolderSet, FoldersOfAMillionFilesTakeLessThanHalfAMegabyte) {
  FolderSet set("/src");
  for (int i = 0; i < 50000; ++i)
    set.Add("/src/group" + std::to_string(i % 50) + "/folder" + std::to_string(i));
  set.Seal();
  EXPECT_EQ(set.Size(), 50000u);
  EXPECT_LT(set.Bytes(), 512u * 1024);
  EXPECT_TRUE(set.Contains("/src/group7/folder7"));
  EXPECT_FALSE(set.Contains("/src/group7/folder8"));
}

}  // namespace
}  // namespace twinmere
