// The operations that change the disk, run on the items of a walk the way the
// engine runs them.
#include "fs/item_actions.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "fs/enum_probe.h"
#include "platform/temporary_names.h"
#include "support/memory_file_system.h"

namespace twinmere {
namespace {

using ::testing::ElementsAre;

using testing::RunOn;

class MemoryOperations : public ::testing::Test {
 protected:
  void SetUp() override { context.fs = &fs; }
  MemoryFileSystem fs{MemoryFileSystemOptions{true, true, true}};
  EnumeratorContext context;
};

TEST_F(MemoryOperations, CopyToAnExistingReadOnlyFolderClearsTheBitThenTakesTheSourceMode) {
  ASSERT_EQ(fs.AddFolder("/s/folder", 0755), 0);
  ASSERT_EQ(fs.AddFolder("/t/folder", 0555), 0);
  fs.FailNext(MemoryOp::CreateFolder, EIO);  // must not be called
  RunOn(context, "/s/", "folder", [](FilesEnumerator& e) { EXPECT_EQ(CopyTo(e, "/t/folder"), 0); });
  ItemInfo info;
  ASSERT_EQ(fs.Lookup("/t/folder", info), 0);
  EXPECT_EQ(info.mode, 0755u);
}

TEST_F(MemoryOperations, FailedCopyOrDeletePutsTheReadOnlyModeBack) {
  ASSERT_EQ(fs.AddFile("/s/f", "new contents", FileTime{5}, 0444), 0);
  ASSERT_EQ(fs.AddFile("/t/f", "old", FileTime{1}, 0444), 0);
  fs.SetByteBudget(3);
  RunOn(context, "/s/", "f", [&](FilesEnumerator& e) {
    EXPECT_EQ(CopyTo(e, "/t/f"), kErrNoSpace);
    fs.FailNext(MemoryOp::DeleteFile, EBUSY);
    EXPECT_EQ(DeleteItem(e), EBUSY);
  });
  for (const char* path : {"/s/f", "/t/f"}) {
    ItemInfo info;
    ASSERT_EQ(fs.Lookup(path, info), 0);
    EXPECT_EQ(info.mode, 0444u) << path;
  }
  EXPECT_EQ(*fs.ReadContents("/t/f"), "old");
}

TEST_F(MemoryOperations, CopyToReportsProgressAndHonoursTheRunStopFlag) {
  ASSERT_EQ(fs.AddFile("/s/big", std::string(3 << 20, 'b')), 0);
  ASSERT_EQ(fs.AddFile("/t/big", "old"), 0);
  struct StopAtFirst : IProgress {
    std::atomic<int> stop{0};
    std::vector<uint64_t> calls;
    void SetProgress(uint64_t bytes) override {
      calls.push_back(bytes);
      stop = 1;
    }
  } progress;
  context.progress = &progress;
  context.stop = &progress.stop;
  RunOn(context, "/s/", "big",
        [](FilesEnumerator& e) { EXPECT_EQ(CopyTo(e, "/t/big"), kErrCancelled); });
  EXPECT_THAT(progress.calls, ElementsAre(1u << 20));
  EXPECT_EQ(*fs.ReadContents("/t/big"), "old");
}

TEST_F(MemoryOperations, RenameOtherToItemNameChangesOnlyTheLetterCase) {
  ASSERT_EQ(fs.AddFile("/s/Report.txt", "x"), 0);
  ASSERT_EQ(fs.AddFile("/t/REPORT.TXT", "x"), 0);
  RunOn(context, "/s/", "Report.txt", [](FilesEnumerator& e) {
    ASSERT_EQ(e.FindOther("/t/Report.txt"), 0);
    EXPECT_EQ(e.Other().name, "REPORT.TXT");
    EXPECT_EQ(RenameOtherToItemName(e, "/t/Report.txt"), 0);
    EXPECT_FALSE(e.IsOtherCached("/t/Report.txt"));
  });
  EXPECT_THAT(fs.Names("/t"), ElementsAre("Report.txt"));
}

// Source ABCDEF~1.TXT meets a Target item that holds that short name as its alias.
// (A successful release is decided by the synchronizer's ShortNameClashIsReleasedBeforeTheCopy.)
class ShortNameClash : public MemoryOperations {
 protected:
  void SetUp() override {
    MemoryOperations::SetUp();
    ASSERT_EQ(fs.AddFile("/s/ABCDEF~1.TXT", "source"), 0);
    ASSERT_EQ(fs.AddFile("/t/abcdefghij.txt", "holder"), 0);
  }
  ErrorCode FreeShortName() {
    ErrorCode result = -1;
    RunOn(context, "/s/", "ABCDEF~1.TXT", [&](FilesEnumerator& e) {
      EXPECT_EQ(e.FindOther("/t/ABCDEF~1.TXT"), 0);
      EXPECT_EQ(e.Other().name, "abcdefghij.txt");  // a clash, not the counterpart
      result = twinmere::FreeShortName(e, "/t/ABCDEF~1.TXT", other_path);
      if (result == 0) {
        EXPECT_EQ(e.FindOther("/t/ABCDEF~1.TXT"), kErrNotFound);
        EXPECT_EQ(CopyTo(e, "/t/ABCDEF~1.TXT"), 0);
      }
    });
    return result;
  }
  std::string ShortNameOfHolder() {
    ItemInfo info;
    EXPECT_EQ(fs.Lookup("/t/abcdefghij.txt", info), 0);
    return info.short_name;
  }
  std::string other_path;
};

TEST_F(ShortNameClash, FailsWithAlreadyExistsWhenAllTenTemporaryNamesAreTaken) {
  for (int n = 0; n <= 9; ++n)
    ASSERT_EQ(fs.AddFile("/t/~twm_" + std::to_string(n) + ".tmp", "busy"), 0);
  EXPECT_EQ(FreeShortName(), kErrAlreadyExists);
  EXPECT_EQ(ShortNameOfHolder(), "ABCDEF~1.TXT");
  EXPECT_EQ(fs.Names("/t").size(), 11u);
}

TEST_F(ShortNameClash, TakesTheFirstFreeTemporaryNameAndReportsAFailedMoveBack) {
  ASSERT_EQ(fs.AddFile("/t/~twm_0.tmp", "busy"), 0);
  fs.FailNext(MemoryOp::Rename, EIO, "/t/~twm_1.tmp");  // the move back fails
  EXPECT_EQ(FreeShortName(), EIO);
  // The item stays under the temporary name; the placeholder is gone.
  EXPECT_THAT(fs.Names("/t"), ElementsAre("~twm_0.tmp", "~twm_1.tmp"));
  EXPECT_EQ(*fs.ReadContents("/t/~twm_1.tmp"), "holder");
}

TEST_F(MemoryOperations, DeleteItemAndDeleteOtherClearReadOnlyOnTheOneItem) {
  ASSERT_EQ(fs.AddFolder("/s/d", 0555), 0);
  ASSERT_EQ(fs.AddFile("/t/f", "x", FileTime{}, 0444), 0);
  ASSERT_EQ(fs.AddFile("/s/keep", "x"), 0);
  RunOn(context, "/s/", "d", [](FilesEnumerator& e) {
    EXPECT_EQ(DeleteItem(e), 0);
    EXPECT_EQ(DeleteOther(e, "/t/f"), 0);
    EXPECT_EQ(DeleteOther(e, "/t/f"), kErrNotFound);
  });
  EXPECT_THAT(fs.Names("/s"), ElementsAre("keep"));
  EXPECT_FALSE(fs.Exists("/t/f"));
}

TEST_F(MemoryOperations, AttributeAndTimeSettersTakeOnlyPermissionBitsAndReturnErrors) {
  ASSERT_EQ(fs.AddFile("/s/f", "x", FileTime{42}, 0600), 0);
  ASSERT_EQ(fs.AddFolder("/t/f"), 0);
  RunOn(context, "/s/", "f", [&](FilesEnumerator& e) {
    EXPECT_EQ(SetFolderTimesOn(e, "/t/f"), 0);
    EXPECT_EQ(SetFileAttributesOf(e, "/t/f", 0170777), 0);
    fs.FailNext(MemoryOp::SetMode, EPERM);
    EXPECT_EQ(SetAttributesOn(e, "/t/f"), EPERM);
    EXPECT_EQ(SetFolderTimesOn(e, "/t/missing"), kErrNotFound);
  });
  ItemInfo info;
  ASSERT_EQ(fs.Lookup("/t/f", info), 0);
  EXPECT_EQ(info.mode, 0777u);
  EXPECT_EQ(info.modify_time.ns, 42);
}

}  // namespace
}  // namespace twinmere
