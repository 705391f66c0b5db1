#include "platform/posix/file_system_posix.h"

#include <acl/libacl.h>
#include <dirent.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "platform/folder_set.h"
#include "platform/temporary_names.h"
#include "support/mounts.h"
#include "support/temp_tree.h"

namespace twinmere {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::TempTree;

std::vector<std::string> ListNames(FileSystem& fs, const std::string& folder) {
  std::vector<std::string> names;
  std::unique_ptr<FolderReader> reader;
  fs.ExpectWalk(folder);  // served by the read-ahead where it is on
  if (fs.OpenFolder(folder, reader) != 0) return names;
  ItemInfo item;
  while (reader->Next(item) == 0) names.push_back(item.name);
  std::sort(names.begin(), names.end());
  return names;
}

// Records the progress calls; stops the copy at the first when given a flag.
class RecordProgress : public IProgress {
 public:
  explicit RecordProgress(std::atomic<int>* stop = nullptr) : stop_(stop) {}
  void SetProgress(uint64_t bytes) override {
    calls.push_back(bytes);
    if (stop_ != nullptr) *stop_ = 1;
  }
  std::vector<uint64_t> calls;

 private:
  std::atomic<int>* stop_;
};

// Every case runs with the preferred calls (openat2, O_TMPFILE), with the
// fallbacks taken on older kernels and other file systems, and without the
// read-ahead of walks.
class PosixFileSystemTest : public ::testing::TestWithParam<PosixFileSystemOptions> {
 protected:
  TempTree tree;
  std::unique_ptr<FileSystem> fs = CreatePosixFileSystem(GetParam());
};

INSTANTIATE_TEST_SUITE_P(Calls, PosixFileSystemTest,
                         ::testing::Values(PosixFileSystemOptions{true, true, true, true},
                                           PosixFileSystemOptions{false, false, true, false},
                                           PosixFileSystemOptions{true, true, false, true}),
                         [](const auto& info) {
                           if (!info.param.read_ahead) return "NoReadAhead";
                           return info.param.use_openat2 ? "Preferred" : "Fallbacks";
                         });

// Lookup reports kind, size, mode and times; neither it nor OpenFolder follows
// links; listing skips fifos and keeps odd names.
TEST_P(PosixFileSystemTest, LookupAndListingReportWhatIsThereAndFollowNoLinks) {
  tree.WriteFile("file", "12345");
  tree.SetMode("file", 0640);
  tree.SetTime("file", 1000000, 123456789);
  tree.MakeFolder("folder");
  tree.MakeLink("link", "folder");
  ItemInfo info;
  ASSERT_EQ(fs->Lookup(tree.Path("file"), info), 0);
  EXPECT_EQ(info.kind, ItemKind::File);
  EXPECT_EQ(info.name, "file");
  EXPECT_EQ(info.size, 5u);
  EXPECT_EQ(info.mode, 0640u);
  EXPECT_EQ(info.modify_time.ns, 1000000123456789);
  ASSERT_EQ(fs->Lookup(tree.Path("folder") + "/", info), 0);
  EXPECT_EQ(info.kind, ItemKind::Folder);
  EXPECT_EQ(info.Attributes() & kAttrFolder, kAttrFolder);
  ASSERT_EQ(fs->Lookup(tree.Path("link"), info), 0);
  EXPECT_EQ(info.kind, ItemKind::Link);
  EXPECT_EQ(info.size, 6u);  // the length of the link text
  EXPECT_TRUE(IsMissingError(fs->Lookup(tree.Path("missing"), info)));
  EXPECT_TRUE(IsMissingError(fs->Lookup(tree.Path("missing/below"), info)));
  std::unique_ptr<FolderReader> reader;
  EXPECT_EQ(fs->OpenFolder(tree.Folder("missing"), reader), ENOENT);
  EXPECT_EQ(fs->OpenFolder(tree.Folder("file"), reader), ENOTDIR);
  EXPECT_NE(fs->OpenFolder(tree.Folder("link"), reader), 0);

  // Listing skips fifos, which nothing may touch, and keeps odd names.
  const std::string odd = std::string("bad\xff\xfe") + "name\nwith newline";
  tree.WriteFile("sub/" + odd, "x");
  tree.WriteFile("sub/plain", "y");
  ASSERT_EQ(mkfifo(tree.Path("sub/fifo").c_str(), 0644), 0);
  EXPECT_THAT(ListNames(*fs, tree.Folder("sub")), ElementsAre(odd, "plain"));
  EXPECT_EQ(fs->Lookup(tree.Path("sub/fifo"), info), kErrNotSupported);
  EXPECT_EQ(fs->SetMode(tree.Path("sub/fifo"), 0600), kErrNotSupported);
  EXPECT_EQ(fs->CopyFile(tree.Path("sub/fifo"), tree.Path("copy"), {}), kErrNotSupported);
  EXPECT_TRUE(fs->HoldsUnlistedItems(tree.Folder("sub")));
  EXPECT_FALSE(fs->HoldsUnlistedItems(tree.Folder("folder")));
  ASSERT_EQ(fs->Lookup(tree.Path("sub/" + odd), info), 0);
  EXPECT_EQ(info.name, odd);
}

// Below a confined root no operation resolves through a link, wherever it sits.
TEST_P(PosixFileSystemTest, ConfinedRootRefusesPathsThroughLinksButMayItselfBeOne) {
  TempTree outside;
  outside.WriteFile("secret", "keep");
  tree.MakeFolder("target/sub");
  tree.MakeLink("target/escape", outside.Root());
  tree.MakeLink("target/sub/up", "..");
  fs->SetConfinedRoots({tree.Folder("target")});
  ItemInfo info;
  EXPECT_EQ(fs->Lookup(tree.Path("target/escape/secret"), info), ELOOP);
  EXPECT_EQ(fs->Lookup(tree.Path("target/sub/up/sub"), info), ELOOP);
  EXPECT_EQ(fs->CreateFolder(tree.Path("target/escape/new")), ELOOP);
  EXPECT_EQ(fs->DeleteFile(tree.Path("target/escape/secret")), ELOOP);
  EXPECT_EQ(fs->SetMode(tree.Path("target/escape/secret"), 0), ELOOP);
  tree.WriteFile("source", "new contents");
  EXPECT_EQ(fs->CopyFile(tree.Path("source"), tree.Path("target/escape/secret"), {}), ELOOP);
  std::unique_ptr<FolderReader> reader;
  EXPECT_EQ(fs->OpenFolder(tree.Folder("target/escape"), reader), ELOOP);
  EXPECT_EQ(outside.ReadFile("secret"), "keep");
  EXPECT_FALSE(outside.Exists("new"));
  // The link itself is an item like any other.
  ASSERT_EQ(fs->Lookup(tree.Path("target/escape"), info), 0);
  EXPECT_EQ(info.kind, ItemKind::Link);
  EXPECT_EQ(fs->Lookup(tree.Path("target/sub"), info), 0);
  // The root itself may be a link.
  tree.WriteFile("target/sub/file", "x");
  tree.MakeLink("root", "target/sub");
  fs->SetConfinedRoots({tree.Folder("root")});
  EXPECT_EQ(fs->Lookup(tree.Path("root/file"), info), 0);
  EXPECT_THAT(ListNames(*fs, tree.Folder("root")), ElementsAre("file", "up"));
}

// Far beyond PATH_MAX below a root, still never through a link.
TEST_P(PosixFileSystemTest, PathsOfAnyDepthBelowARootResolveWithoutLinks) {
  testing::TmpfsMount fast(tree, "deep", "64m");  // else on the disk, slowly
  std::string bottom = tree.Path("deep");
  int fd = open(bottom.c_str(), O_RDONLY | O_DIRECTORY);
  for (int level = 0; level < 2500; ++level) {
    ASSERT_EQ(mkdirat(fd, "dd", 0755), 0);
    const int next = openat(fd, "dd", O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = next;
    bottom += "/dd";
  }
  ASSERT_EQ(symlinkat(tree.Root().c_str(), fd, "up"), 0);
  close(fd);
  tree.WriteFile("source", "data");
  fs->SetConfinedRoots({tree.Folder("deep")});
  ASSERT_EQ(fs->CopyFile(tree.Path("source"), bottom + "/copy", {}), 0);
  ASSERT_EQ(fs->CreateFolder(bottom + "/new"), 0);
  EXPECT_THAT(ListNames(*fs, bottom + "/"), ElementsAre("copy", "new", "up"));
  auto fresh = CreatePosixFileSystem(GetParam());  // nothing kept open on the way
  fresh->SetConfinedRoots({tree.Folder("deep")});
  ItemInfo info;
  ASSERT_EQ(fresh->Lookup(bottom + "/copy", info), 0);
  EXPECT_EQ(info.size, 4u);
  EXPECT_EQ(fresh->Lookup(bottom + "/up/source", info), ELOOP);
  EXPECT_EQ(fresh->CopyFile(tree.Path("source"), bottom + "/up/copy", {}), ELOOP);
  EXPECT_FALSE(tree.Exists("copy"));
}

// Lookups in a missing folder are answered from the first failure, and
// folders are kept open, but any change made through the file system ends both.
TEST_P(PosixFileSystemTest, LookupSeesChangesMadeThroughTheFileSystem) {
  tree.WriteFile("source", "abc");
  ItemInfo info;
  EXPECT_TRUE(IsMissingError(fs->Lookup(tree.Path("new/a"), info)));
  EXPECT_TRUE(IsMissingError(fs->Lookup(tree.Path("new/b"), info)));
  ASSERT_EQ(fs->CreateFolder(tree.Path("new")), 0);
  ASSERT_EQ(fs->CopyFile(tree.Path("source"), tree.Path("new/a"), {}), 0);
  ASSERT_EQ(fs->Lookup(tree.Path("new/a"), info), 0);
  EXPECT_EQ(info.size, 3u);

  ASSERT_EQ(fs->Lookup(tree.Path("new/x"), info), ENOENT);
  ASSERT_EQ(fs->DeleteFile(tree.Path("new/a")), 0);
  ASSERT_EQ(fs->RemoveFolder(tree.Path("new")), 0);
  ASSERT_EQ(fs->CreateFolder(tree.Path("new")), 0);
  ASSERT_EQ(fs->CreateNewFile(tree.Path("new/x")), 0);
  // The folder was replaced: a cached descriptor of the old one would miss x.
  EXPECT_EQ(fs->Lookup(tree.Path("new/x"), info), 0);
  EXPECT_EQ(fs->CreateNewFile(tree.Path("new/x")), kErrAlreadyExists);
}

size_t CountEntries(const char* folder);  // with the read-ahead tests below

// Folders stay open between calls during a run only: an idle program
// keeps no volume busy.
TEST_P(PosixFileSystemTest, FoldersStayOpenOnlyWhileRootsAreSet) {
  tree.WriteFile("s/a/f", "x");
  tree.WriteFile("t/b/f", "x");
  const size_t before = CountEntries("/proc/self/fd");
  fs->SetConfinedRoots({tree.Folder("s"), tree.Folder("t")});
  ItemInfo info;
  ASSERT_EQ(fs->Lookup(tree.Path("s/a/f"), info), 0);
  ASSERT_EQ(fs->Lookup(tree.Path("t/b/f"), info), 0);
  EXPECT_GT(CountEntries("/proc/self/fd"), before);
  fs->SetConfinedRoots({});
  EXPECT_EQ(CountEntries("/proc/self/fd"), before);

  Security security;
  ASSERT_EQ(fs->Lookup(tree.Path("s/a/f"), info), 0);
  ASSERT_EQ(fs->CopyFile(tree.Path("s/a/f"), tree.Path("t/b/g"), {}), 0);
  ASSERT_EQ(fs->SetMode(tree.Path("t/b/g"), 0600), 0);
  ASSERT_EQ(fs->ReadSecurity(tree.Path("t/b/g"), security), 0);
  EXPECT_EQ(CountEntries("/proc/self/fd"), before);
}

TEST_P(PosixFileSystemTest, CopyCarriesContentsModeAndNanosecondTimes) {
  tree.WriteFile("src", std::string(3 * 1024 * 1024 + 17, 'a'));
  tree.SetMode("src", 0751);
  tree.SetTime("src", 2000000, 987654321);
  RecordProgress progress;
  CopyOptions options;
  options.progress = &progress;
  ASSERT_EQ(fs->CopyFile(tree.Path("src"), tree.Path("dst"), options), 0);
  ItemInfo info;
  ASSERT_EQ(fs->Lookup(tree.Path("dst"), info), 0);  // before reading changes the access time
  EXPECT_EQ(tree.ReadFile("dst"), tree.ReadFile("src"));
  EXPECT_EQ(info.mode, 0751u);
  EXPECT_EQ(info.modify_time.ns, 2000000987654321);
  EXPECT_EQ(info.access_time.ns, 2000000987654321);
  ASSERT_EQ(progress.calls.size(), 4u);
  EXPECT_EQ(progress.calls.back(), 3u * 1024 * 1024 + 17);
  EXPECT_TRUE(std::is_sorted(progress.calls.begin(), progress.calls.end()));
  EXPECT_THAT(tree.List(""), ElementsAre("dst", "src"));  // no temporary file left
}

TEST_P(PosixFileSystemTest, CopyReplacesReadOnlyAndEmptyFilesButNeverAFolder) {
  tree.WriteFile("src", "new");
  tree.WriteFile("dst", "old old old");
  tree.SetMode("dst", 0444);
  tree.WriteFile("empty", "");
  tree.MakeFolder("folder");
  ASSERT_EQ(fs->CopyFile(tree.Path("src"), tree.Path("dst"), {}), 0);
  EXPECT_EQ(tree.ReadFile("dst"), "new");
  ASSERT_EQ(fs->CopyFile(tree.Path("empty"), tree.Path("dst"), {}), 0);
  EXPECT_EQ(tree.ReadFile("dst"), "");
  EXPECT_EQ(fs->CopyFile(tree.Path("folder"), tree.Path("copy"), {}), EISDIR);
  EXPECT_NE(fs->CopyFile(tree.Path("src"), tree.Path("folder"), {}), 0);
  EXPECT_TRUE(IsMissingError(fs->CopyFile(tree.Path("missing"), tree.Path("copy"), {})));
  EXPECT_THAT(tree.List(""), ElementsAre("dst", "empty", "folder", "src"));
}

TEST_P(PosixFileSystemTest, CopyOfALinkMakesALinkAndNeverWritesThroughATargetLink) {
  TempTree outside;
  outside.WriteFile("victim", "untouched");
  tree.MakeLink("source_link", "some/where");
  tree.SetTime("source_link", 3000000, 5);
  tree.WriteFile("source_file", "data");
  tree.MakeLink("target_link", outside.Path("victim"));
  tree.MakeLink("target_link2", outside.Path("victim"));
  ASSERT_EQ(fs->CopyFile(tree.Path("source_link"), tree.Path("copy"), {}), 0);
  EXPECT_EQ(tree.ReadLink("copy"), "some/where");
  ItemInfo info;
  ASSERT_EQ(fs->Lookup(tree.Path("copy"), info), 0);
  EXPECT_EQ(info.kind, ItemKind::Link);
  EXPECT_EQ(info.modify_time.ns, 3000000000000005);
  // A file over a link replaces the link; a link over a link replaces it too.
  ASSERT_EQ(fs->CopyFile(tree.Path("source_file"), tree.Path("target_link"), {}), 0);
  EXPECT_EQ(tree.ReadLink("target_link"), "");
  EXPECT_EQ(tree.ReadFile("target_link"), "data");
  ASSERT_EQ(fs->CopyFile(tree.Path("source_link"), tree.Path("target_link2"), {}), 0);
  EXPECT_EQ(tree.ReadLink("target_link2"), "some/where");
  EXPECT_EQ(outside.ReadFile("victim"), "untouched");
  EXPECT_THAT(tree.List(""),
              ElementsAre("copy", "source_file", "source_link", "target_link", "target_link2"));
}

TEST_P(PosixFileSystemTest, StopDuringReplacementLeavesOldFileAndNoTemporary) {
  const std::string old_contents(2 * 1024 * 1024 + 3, 'o');
  tree.WriteFile("dst", old_contents);
  tree.SetTime("dst", 4000000);
  tree.WriteFile("src", std::string(16 * 1024 * 1024, 'n'));
  std::atomic<int> stop{0};
  RecordProgress progress(&stop);
  CopyOptions options;
  options.progress = &progress;
  options.stop = &stop;
  EXPECT_EQ(fs->CopyFile(tree.Path("src"), tree.Path("dst"), options), kErrCancelled);
  EXPECT_EQ(progress.calls.size(), 1u);
  EXPECT_TRUE(tree.ReadFile("dst") == old_contents);
  ItemInfo info;
  ASSERT_EQ(fs->Lookup(tree.Path("dst"), info), 0);
  EXPECT_EQ(info.modify_time.ns, int64_t{4000000} * 1000000000);
  EXPECT_THAT(tree.List(""), ElementsAre("dst", "src"));
  // A stop before the first chunk leaves no new file either.
  EXPECT_EQ(fs->CopyFile(tree.Path("src"), tree.Path("new"), options), kErrCancelled);
  EXPECT_FALSE(tree.Exists("new"));
}

// A copy to a name that was free takes it only while it is, a file as well
// as a link: one taken meanwhile keeps what it holds, and nothing is left
// beside it.
TEST_P(PosixFileSystemTest, CopyToAFreeNameNeverReplacesWhatTookItMeanwhile) {
  tree.WriteFile("src", "new");
  tree.MakeLink("link", "somewhere");
  tree.WriteFile("dst/taken", "old");
  tree.MakeLink("dst/taken-link", "old");
  CopyOptions options;
  options.no_replace = true;
  EXPECT_EQ(fs->CopyFile(tree.Path("src"), tree.Path("dst/taken"), options), kErrAlreadyExists);
  EXPECT_EQ(fs->CopyFile(tree.Path("link"), tree.Path("dst/taken-link"), options),
            kErrAlreadyExists);
  ASSERT_EQ(fs->CopyFile(tree.Path("src"), tree.Path("dst/free"), options), 0);
  ASSERT_EQ(fs->CopyFile(tree.Path("link"), tree.Path("dst/free-link"), options), 0);
  EXPECT_EQ(tree.ReadFile("dst/taken"), "old");
  EXPECT_EQ(tree.ReadLink("dst/taken-link"), "old");
  EXPECT_EQ(tree.ReadFile("dst/free"), "new");
  EXPECT_EQ(tree.ReadLink("dst/free-link"), "somewhere");
  EXPECT_THAT(tree.List("dst"), ElementsAre("free", "free-link", "taken", "taken-link"));
}

// Copies of a pool run at once, each as CopyFile makes it: every one is
// collected once with its result, a failure of one stops no other, a stop
// ends those still running, and no temporary item is left.
TEST_P(PosixFileSystemTest, CopiesOfAPoolRunAtOnceAndEndEachWithItsOwnResult) {
  PosixFileSystemOptions pooled = GetParam();
  pooled.copy_threads = 4;
  auto pool_fs = CreatePosixFileSystem(pooled);
  pool_fs->SetConfinedRoots({tree.Root()});
  EXPECT_EQ(fs->ParallelCopies(tree.Root()), nullptr);  // a local file system: one at a time
  std::unique_ptr<CopyPool> pool = pool_fs->ParallelCopies(tree.Folder("dst"));
  ASSERT_NE(pool, nullptr);
  ASSERT_EQ(pool->Capacity(), 4u);
  constexpr int kCopies = 12;
  for (int i = 0; i < kCopies; ++i) tree.WriteFile("src/" + std::to_string(i), std::string(i, 'x'));
  tree.WriteFile("src/big", std::string(3 * 1024 * 1024 + 1, 'b'));
  tree.MakeFolder("dst");
  tree.WriteFile("dst/taken", "old");
  struct Started {
    std::string from, to;
    CopyOptions options;
    RecordProgress progress;
    std::optional<ErrorCode> result;
  };
  std::vector<std::unique_ptr<Started>> copies;
  const auto add = [&copies](const std::string& from, const std::string& to) {
    copies.push_back(std::make_unique<Started>());
    copies.back()->from = from;
    copies.back()->to = to;
  };
  for (int i = 0; i < kCopies; ++i) add("src/" + std::to_string(i), "dst/" + std::to_string(i));
  add("src/missing", "dst/missing");
  add("src/big", "dst/taken");
  copies.back()->options.no_replace = true;
  add("src/big", "dst/big");
  const auto collect = [&](double seconds) {
    uint64_t tag = 0;
    ErrorCode result = 0;
    if (!pool->Collect(seconds, tag, result)) return false;
    EXPECT_LT(tag, copies.size());
    EXPECT_FALSE(copies[tag]->result.has_value()) << "collected twice: " << tag;
    copies[tag]->result = result;
    return true;
  };
  for (uint64_t tag = 0; tag < copies.size(); ++tag) {
    while (pool->Running() == pool->Capacity()) collect(10);
    Started& copy = *copies[tag];
    copy.options.progress = &copy.progress;
    ASSERT_EQ(pool->Start(tag, tree.Path(copy.from), tree.Path(copy.to), copy.options), 0);
  }
  while (pool->Running() != 0) collect(10);
  EXPECT_FALSE(collect(0));
  for (const auto& copy : copies) {
    SCOPED_TRACE(copy->to);
    ASSERT_TRUE(copy->result.has_value());
    if (copy->to == "dst/missing") {
      EXPECT_TRUE(IsMissingError(*copy->result));
    } else if (copy->to == "dst/taken") {
      EXPECT_EQ(*copy->result, kErrAlreadyExists);
      EXPECT_EQ(tree.ReadFile("dst/taken"), "old");
    } else {
      EXPECT_EQ(*copy->result, 0);
      EXPECT_EQ(tree.ReadFile(copy->to), tree.ReadFile(copy->from));
    }
  }
  EXPECT_EQ(copies.back()->progress.calls.back(), 3u * 1024 * 1024 + 1);
  EXPECT_EQ(tree.List("dst").size(), kCopies + 2u);

  // Stopped: each ends, cancelled or complete, and nothing else is there.
  std::atomic<int> stop{0};
  std::vector<std::unique_ptr<CopyOptions>> stopped;
  for (uint64_t tag = 0; tag < 4; ++tag) {
    stopped.push_back(std::make_unique<CopyOptions>());
    stopped.back()->stop = &stop;
    ASSERT_EQ(pool->Start(tag, tree.Path("src/big"), tree.Path("dst/s" + std::to_string(tag)),
                          *stopped.back()),
              0);
  }
  stop = 1;
  for (int ended = 0; ended < 4;) {
    uint64_t tag = 0;
    ErrorCode result = 0;
    ASSERT_TRUE(pool->Collect(10, tag, result));
    EXPECT_TRUE(result == 0 || result == kErrCancelled) << result;
    EXPECT_EQ(tree.Exists("dst/s" + std::to_string(tag)), result == 0);
    ++ended;
  }
  for (const std::string& name : tree.List("dst")) EXPECT_FALSE(IsTemporaryName(name)) << name;
}

// A Source that changes under the copy gave no version it ever had.
TEST_P(PosixFileSystemTest, SourceChangedDuringTheCopyFailsItAndKeepsTheOldFile) {
  class ChangeAfterFirstChunk : public IProgress {
   public:
    explicit ChangeAfterFirstChunk(std::function<void()> change) : change_(std::move(change)) {}
    void SetProgress(uint64_t) override {
      if (change_) std::exchange(change_, nullptr)();
    }

   private:
    std::function<void()> change_;
  };
  const std::string src = tree.Path("src");
  const std::vector<std::pair<const char*, std::function<void()>>> changes = {
      {"shrinks", [&] { ASSERT_EQ(truncate(src.c_str(), 1536 * 1024), 0); }},
      {"grows", [&] { ASSERT_EQ(truncate(src.c_str(), 5 * 1024 * 1024), 0); }},
      {"rewritten in place",
       [&] {
         const int fd = open(src.c_str(), O_WRONLY);
         ASSERT_EQ(pwrite(fd, "XYZ", 3, 2 * 1024 * 1024), 3);
         close(fd);
       }},
  };
  for (const auto& [what, change] : changes) {
    SCOPED_TRACE(what);
    tree.WriteFile("src", std::string(3 * 1024 * 1024 + 17, 's'));
    tree.WriteFile("dst", "old");
    ChangeAfterFirstChunk progress(change);
    CopyOptions options;
    options.progress = &progress;
    EXPECT_EQ(fs->CopyFile(src, tree.Path("dst"), options), kErrChangedMeanwhile);
    EXPECT_EQ(tree.ReadFile("dst"), "old");
    EXPECT_EQ(fs->CopyFile(src, tree.Path("new"), options), 0);  // settled: copied
    EXPECT_THAT(tree.List(""), ElementsAre("dst", "new", "src"));
    ASSERT_EQ(unlink(tree.Path("new").c_str()), 0);
  }
}

// A small tmpfs is a real full disk.
class TmpfsTarget : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!mount.SkipReason().empty()) GTEST_SKIP() << mount.SkipReason();
  }
  TempTree tree;
  testing::TmpfsMount mount{tree, "mnt", "4m"};
};

TEST_F(TmpfsTarget, DiskFullLeavesOldFileAndReturnsNoSpace) {
  const std::string old_contents(1024 * 1024, 'o');
  tree.WriteFile("mnt/file", old_contents);
  tree.WriteFile("big", std::string(8 * 1024 * 1024, 'b'));
  for (const bool tmpfile : {true, false}) {
    SCOPED_TRACE(tmpfile ? "O_TMPFILE" : "named temporary file");
    auto fs = CreatePosixFileSystem(PosixFileSystemOptions{true, tmpfile});
    EXPECT_EQ(fs->CopyFile(tree.Path("big"), tree.Path("mnt/file"), {}), kErrNoSpace);
    EXPECT_TRUE(tree.ReadFile("mnt/file") == old_contents);
    EXPECT_THAT(tree.List("mnt"), ElementsAre("file"));
    EXPECT_EQ(fs->CopyFile(tree.Path("big"), tree.Path("mnt/other"), {}), kErrNoSpace);
    EXPECT_THAT(tree.List("mnt"), ElementsAre("file"));
  }
}

// What a run must flush at its end: each file system written to once, the
// one mounted inside the root too; a change of the mount point itself is a
// change of the mounted file system only.
TEST_F(TmpfsTarget, EachFileSystemWrittenToIsToldOnceUntilTheRootsChange) {
  tree.WriteFile("source", "x");
  struct stat root, mounted;
  ASSERT_EQ(stat(tree.Root().c_str(), &root), 0);
  ASSERT_EQ(stat(tree.Path("mnt").c_str(), &mounted), 0);
  const auto written = [](const FileSystem& fs) {
    std::vector<std::pair<uint64_t, std::string>> out;
    for (const WrittenFileSystem& w : fs.WrittenFileSystems()) out.emplace_back(w.device, w.folder);
    return out;
  };
  const auto fs = CreatePlatformFileSystem();
  fs->SetConfinedRoots({tree.Root()});
  ItemInfo info;
  ASSERT_EQ(fs->Lookup(tree.Path("mnt/none"), info), ENOENT);
  EXPECT_THAT(written(*fs), IsEmpty());
  ASSERT_EQ(fs->CopyFile(tree.Path("source"), tree.Path("copy"), {}), 0);
  ASSERT_EQ(fs->CopyFile(tree.Path("source"), tree.Path("mnt/copy"), {}), 0);
  ASSERT_EQ(fs->CreateFolder(tree.Path("mnt/folder")), 0);
  ASSERT_EQ(fs->SetMode(tree.Path("copy"), 0600), 0);
  EXPECT_THAT(written(*fs), ElementsAre(std::pair{root.st_dev, tree.Root()},
                                        std::pair{mounted.st_dev, tree.Path("mnt")}));

  fs->SetConfinedRoots({tree.Root()});
  EXPECT_THAT(written(*fs), IsEmpty());
  ASSERT_EQ(fs->SetMode(tree.Path("mnt"), 0700), 0);
  ASSERT_EQ(fs->SetTimes(tree.Path("mnt"), {}, {}), 0);
  EXPECT_THAT(written(*fs), ElementsAre(std::pair{mounted.st_dev, tree.Path("mnt")}));
}

TEST_P(PosixFileSystemTest, RenameDeleteAndRemoveDoAsAskedAndNeverTouchALinkTarget) {
  tree.WriteFile("a", "A");
  tree.WriteFile("b", "B");
  EXPECT_EQ(fs->Rename(tree.Path("a"), tree.Path("b"), RenameMode::NoReplace), kErrAlreadyExists);
  EXPECT_EQ(tree.ReadFile("b"), "B");
  EXPECT_EQ(fs->Rename(tree.Path("a"), tree.Path("b"), RenameMode::Replace), 0);
  EXPECT_EQ(tree.ReadFile("b"), "A");
  EXPECT_EQ(fs->Rename(tree.Path("b"), tree.Path("c"), RenameMode::NoReplace), 0);
  EXPECT_THAT(tree.List(""), ElementsAre("c"));

  tree.MakeFolder("folder");
  tree.WriteFile("folder/inside", "x");
  tree.MakeLink("link", "folder");
  EXPECT_EQ(fs->DeleteFile(tree.Path("link")), 0);
  EXPECT_EQ(fs->RemoveFolder(tree.Path("folder")), kErrNotEmpty);
  EXPECT_EQ(tree.ReadFile("folder/inside"), "x");
  EXPECT_EQ(fs->DeleteFile(tree.Path("folder/inside")), 0);
  EXPECT_EQ(fs->RemoveFolder(tree.Path("folder")), 0);
  EXPECT_THAT(tree.List(""), ElementsAre("c"));
}

TEST_P(PosixFileSystemTest, ModeAndTimesActOnTheLinkItselfNeverOnItsTarget) {
  tree.WriteFile("file", "x");
  tree.SetMode("file", 0600);
  tree.SetTime("file", 5000000);
  tree.MakeLink("link", "file");
  EXPECT_EQ(fs->SetMode(tree.Path("link"), 0777), 0);
  EXPECT_EQ(fs->SetTimes(tree.Path("link"), FileTime{7}, FileTime{8}), 0);
  ItemInfo info;
  ASSERT_EQ(fs->Lookup(tree.Path("file"), info), 0);
  EXPECT_EQ(info.mode, 0600u);
  EXPECT_EQ(info.modify_time.ns, int64_t{5000000} * 1000000000);
  ASSERT_EQ(fs->Lookup(tree.Path("link"), info), 0);
  EXPECT_EQ(info.modify_time.ns, 8);
  EXPECT_EQ(fs->SetMode(tree.Path("file"), 0444), 0);
  ASSERT_EQ(fs->Lookup(tree.Path("file"), info), 0);
  EXPECT_EQ(info.mode, 0444u);
  EXPECT_EQ(info.Attributes() & kAttrReadOnly, kAttrReadOnly);
  // This volume keeps both, and finding that out leaves nothing behind.
  const VolumeAbilities abilities = fs->Abilities(tree.Path("file"));
  EXPECT_EQ(abilities.kept_mode_bits, 07777u);
  EXPECT_TRUE(abilities.sets_link_times);
  EXPECT_THAT(tree.List(""), ElementsAre("file", "link"));
  std::string text;
  ASSERT_EQ(fs->ReadLink(tree.Path("link"), text), 0);
  EXPECT_EQ(text, "file");
  EXPECT_EQ(fs->ReadLink(tree.Path("file"), text), EINVAL);
}

// ---- security (root) ---------------------------------------------------------

std::optional<std::string> Attribute(const std::string& path, const char* name);

Security SampleSecurity(bool folder) {
  Security s;
  s.uid = 1234;
  s.gid = 4321;
  s.has_access_acl = true;
  s.access_acl = {{ACL_USER_OBJ, 0, 7},
                  {ACL_USER, 65534, 5},
                  {ACL_GROUP_OBJ, 0, 5},
                  {ACL_MASK, 0, 5},
                  {ACL_OTHER, 0, 0}};
  if (folder) {
    s.has_default_acl = true;
    s.default_acl = {{ACL_USER_OBJ, 0, 7},
                     {ACL_GROUP_OBJ, 0, 5},
                     {ACL_GROUP, 65534, 7},
                     {ACL_MASK, 0, 7},
                     {ACL_OTHER, 0, 1}};
  } else {
    vfs_cap_data cap{};
    cap.magic_etc = VFS_CAP_REVISION_2 | VFS_CAP_FLAGS_EFFECTIVE;
    cap.data[0].permitted = 1u << CAP_NET_BIND_SERVICE;
    s.capability_known = true;
    s.capability.assign(reinterpret_cast<const char*>(&cap), sizeof cap);
  }
  return s;
}

// A program's capabilities go after its owner, whose change drops them.
TEST_P(PosixFileSystemTest, SecurityRoundTripsOwnerGroupAclsAndCapabilities) {
  if (!testing::IsRoot()) GTEST_SKIP() << "setting owners needs root";
  if (!fs->KeepsSecurity(tree.Root())) GTEST_SKIP() << "the temporary folder keeps no ACLs";
  tree.WriteFile("file", "x");
  tree.SetMode("file", 0755);
  tree.MakeFolder("folder");
  tree.MakeLink("link", "file");
  for (const auto& [name, folder] : {std::pair{"file", false}, std::pair{"folder", true}}) {
    SCOPED_TRACE(name);
    const Security wanted = SampleSecurity(folder);
    ASSERT_EQ(fs->WriteSecurity(tree.Path(name), wanted), 0);
    Security read;
    ASSERT_EQ(fs->ReadSecurity(tree.Path(name), read), 0);
    EXPECT_EQ(read, wanted);
    // Removing the ACLs leaves only owner and group; a file whose new
    // capabilities are unknown keeps its own across the change of owner.
    Security plain;
    plain.uid = 7;
    plain.gid = 8;
    ASSERT_EQ(fs->WriteSecurity(tree.Path(name), plain), 0);
    ASSERT_EQ(fs->ReadSecurity(tree.Path(name), read), 0);
    Security kept = plain;
    kept.capability_known = wanted.capability_known;
    kept.capability = wanted.capability;
    EXPECT_EQ(read, kept);
    // Known to be none: they go.
    plain.capability_known = !folder;
    ASSERT_EQ(fs->WriteSecurity(tree.Path(name), plain), 0);
    ASSERT_EQ(fs->ReadSecurity(tree.Path(name), read), 0);
    EXPECT_EQ(read, plain);
  }
  // Those of a file without an execute bit, which no one can run, are not
  // read, and stay through a change of owner.
  tree.WriteFile("data", "x");
  const std::string capability = SampleSecurity(false).capability;
  ASSERT_EQ(setxattr(tree.Path("data").c_str(), "security.capability", capability.data(),
                     capability.size(), 0),
            0);
  Security read_data;
  ASSERT_EQ(fs->WriteSecurity(tree.Path("data"), Security{}), 0);
  ASSERT_EQ(fs->ReadSecurity(tree.Path("data"), read_data), 0);
  EXPECT_EQ(read_data, Security{});
  EXPECT_EQ(Attribute(tree.Path("data"), "security.capability"), capability);
  // A link gets an owner, never ACLs, and its target is left alone.
  Security read_file;
  ASSERT_EQ(fs->ReadSecurity(tree.Path("file"), read_file), 0);
  ASSERT_EQ(fs->WriteSecurity(tree.Path("link"), SampleSecurity(false)), 0);
  Security read;
  ASSERT_EQ(fs->ReadSecurity(tree.Path("link"), read), 0);
  EXPECT_EQ(read.uid, 1234u);
  EXPECT_FALSE(read.has_access_acl);
  ASSERT_EQ(fs->ReadSecurity(tree.Path("file"), read), 0);
  EXPECT_EQ(read, read_file);
}

// The value of an extended attribute, or nullopt when the item has none.
std::optional<std::string> Attribute(const std::string& path, const char* name) {
  std::string value(8192, '\0');
  const ssize_t n = lgetxattr(path.c_str(), name, value.data(), value.size());
  if (n < 0) return std::nullopt;
  value.resize(static_cast<size_t>(n));
  return value;
}

// User attributes always go with the contents; the owner, capabilities and
// trusted attributes only when the run handles security; ACLs never (they
// are the security step's).
TEST_P(PosixFileSystemTest, CopyCarriesOwnerAndExtendedAttributesAsAsked) {
  tree.WriteFile("src", "x");
  const std::string src = tree.Path("src");
  const std::string big(3000, 'v');
  if (setxattr(src.c_str(), "user.small", "1", 1, 0) != 0)
    GTEST_SKIP() << "no user attributes on " << tree.Root();
  ASSERT_EQ(setxattr(src.c_str(), "user.big", big.data(), big.size(), 0), 0);
  const bool root = testing::IsRoot();
  std::optional<std::string> capability;
  if (root) {
    ASSERT_EQ(chown(src.c_str(), 321, 654), 0);
    vfs_cap_data cap{};
    cap.magic_etc = VFS_CAP_REVISION_2 | VFS_CAP_FLAGS_EFFECTIVE;
    cap.data[0].permitted = 1u << CAP_NET_BIND_SERVICE;
    ASSERT_EQ(setxattr(src.c_str(), "security.capability", &cap, sizeof cap, 0), 0);
    capability = Attribute(src, "security.capability");
    ASSERT_EQ(setxattr(src.c_str(), "trusted.mark", "t", 1, 0), 0);
    acl_t acl = acl_from_text("u::rw-,u:65534:r--,g::r--,m::r--,o::---");
    ASSERT_EQ(acl_set_file(src.c_str(), ACL_TYPE_ACCESS, acl), 0);
    acl_free(acl);
  }
  CopyOptions all;
  all.carry_owner = all.carry_security_attributes = true;
  ASSERT_EQ(fs->CopyFile(src, tree.Path("plain"), {}), 0);
  ASSERT_EQ(fs->CopyFile(src, tree.Path("all"), all), 0);

  for (const char* name : {"plain", "all"}) {
    SCOPED_TRACE(name);
    const std::string copy = tree.Path(name);
    EXPECT_EQ(Attribute(copy, "user.small"), "1");
    EXPECT_EQ(Attribute(copy, "user.big"), big);
    EXPECT_EQ(Attribute(copy, "system.posix_acl_access"), std::nullopt);
    const bool privileged = root && std::string(name) == "all";
    EXPECT_EQ(Attribute(copy, "security.capability"), privileged ? capability : std::nullopt);
    EXPECT_EQ(Attribute(copy, "trusted.mark"),
              privileged ? std::optional<std::string>("t") : std::nullopt);
    ItemInfo info;
    ASSERT_EQ(fs->Lookup(copy, info), 0);
    EXPECT_EQ(info.uid, privileged ? 321u : geteuid());
    EXPECT_EQ(info.gid, privileged ? 654u : getegid());
  }
}

TEST_P(PosixFileSystemTest, CopyKeepsTheHolesOfASparseFile) {
  constexpr off_t kMiB = 1024 * 1024;
  const std::string src = tree.Path("sparse");
  {
    const int fd = open(src.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    const std::string a(4096, 'a'), b(4096, 'b');
    ASSERT_EQ(pwrite(fd, a.data(), a.size(), kMiB), 4096);
    ASSERT_EQ(pwrite(fd, b.data(), b.size(), 16 * kMiB), 4096);
    // Far enough on for the data before it to be sent to the disk and
    // waited for while the copy goes on.
    ASSERT_EQ(pwrite(fd, a.data(), a.size(), 56 * kMiB), 4096);
    ASSERT_EQ(ftruncate(fd, 64 * kMiB), 0);  // ends in a hole
    close(fd);
  }
  struct stat st;
  ASSERT_EQ(stat(src.c_str(), &st), 0);
  if (st.st_blocks * 512 >= kMiB) GTEST_SKIP() << tree.Root() << " keeps no holes";
  tree.WriteFile("replaced", "old");
  for (const char* name : {"new", "replaced"}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(fs->CopyFile(src, tree.Path(name), {}), 0);
    ASSERT_EQ(stat(tree.Path(name).c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 64 * kMiB);
    EXPECT_LT(st.st_blocks * 512, kMiB);
    EXPECT_TRUE(tree.ReadFile(name) == tree.ReadFile("sparse"));
  }
}

// ---- permission denied (unprivileged) -----------------------------------------

TEST_P(PosixFileSystemTest, UnprivilegedUserGetsPermissionDenied) {
  if (!testing::IsRoot()) GTEST_SKIP() << "needs root to switch to an unprivileged user";
  tree.MakeFolder("closed");
  tree.WriteFile("closed/file", "x");
  tree.SetMode("closed", 0700);
  tree.WriteFile("readable", "data");
  ASSERT_EQ(setxattr(tree.Path("readable").c_str(), "user.note", "n", 1, 0), 0);
  tree.SetMode("readable", 0444);
  tree.MakeFolder("open");
  ASSERT_EQ(chmod(tree.Root().c_str(), 0755), 0);
  ASSERT_EQ(chmod(tree.Path("open").c_str(), 0777), 0);
  tree.WriteFile("open/own", "mine");  // nobody's file that nobody cannot read
  ASSERT_EQ(chown(tree.Path("open/own").c_str(), 65534, 65534), 0);
  tree.SetMode("open/own", 0);
  const std::string root = tree.Root();
  const int status = testing::RunAsUnprivileged([&root]() {
    auto fs = CreatePlatformFileSystem();
    std::unique_ptr<FolderReader> reader;
    if (fs->OpenFolder(root + "/closed/", reader) != EACCES) return 1;
    ItemInfo info;
    if (fs->Lookup(root + "/closed/file", info) != EACCES) return 2;
    if (fs->CopyFile(root + "/readable", root + "/closed/copy", {}) != EACCES) return 3;
    if (fs->CopyFile(root + "/readable", root + "/open/copy", {}) != 0) return 4;
    if (fs->SetMode(root + "/readable", 0777) != EPERM) return 5;
    if (fs->SetMode(root + "/open/own", 0640) != 0) return 6;
    return 0;
  });
  if (status < 0) GTEST_SKIP() << "cannot switch to an unprivileged user";
  EXPECT_EQ(status, 0);
  EXPECT_EQ(tree.ReadFile("open/copy"), "data");
  EXPECT_EQ(Attribute(tree.Path("open/copy"), "user.note"), "n");  // though read-only
  struct stat st;
  ASSERT_EQ(stat(tree.Path("open/own").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// ---- a real case-insensitive file system (vfat through FUSE) -------------------

class VfatFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!mount.SkipReason().empty()) GTEST_SKIP() << mount.SkipReason();
  }
  TempTree tree;
  testing::VfatMount mount{tree, "mnt", 4096};
};

TEST_F(VfatFolder, LookupUnderAnotherCaseGivesTheStoredName) {
  auto fs = CreatePlatformFileSystem();
  ASSERT_EQ(fs->CreateNewFile(tree.Path("mnt/MixedCase.txt")), 0);
  ItemInfo info;
  ASSERT_EQ(fs->Lookup(tree.Path("mnt/mixedcase.TXT"), info), 0);
  EXPECT_EQ(info.name, "MixedCase.txt");
  // A change of letter case goes through.
  ASSERT_EQ(fs->Rename(tree.Path("mnt/MixedCase.txt"), tree.Path("mnt/MIXEDCASE.txt"),
                       RenameMode::NoReplace),
            0);
  ASSERT_EQ(fs->Lookup(tree.Path("mnt/mixedcase.txt"), info), 0);
  EXPECT_EQ(info.name, "MIXEDCASE.txt");
  EXPECT_THAT(ListNames(*fs, tree.Folder("mnt")), ElementsAre("MIXEDCASE.txt"));
  ASSERT_EQ(fs->Lookup(tree.Path("mnt/MixedCase.TXT"), info), 0);
  // An item made by someone else after the folder was listed.
  const int fd = creat(tree.Path("mnt/Second.TXT").c_str(), 0644);
  ASSERT_GE(fd, 0);
  close(fd);
  ASSERT_EQ(fs->Lookup(tree.Path("mnt/second.txt"), info), 0);
  EXPECT_EQ(info.name, "Second.TXT");
  // A new name that differs only in letter case is taken.
  EXPECT_EQ(fs->CreateNewFile(tree.Path("mnt/mixedcase.txt")), kErrAlreadyExists);
  EXPECT_FALSE(fs->KeepsSecurity(tree.Path("mnt")));
  // FUSE gives each name its own inode number: a name's other case tells,
  // in a folder whose names hold no letter a name of the folder above.
  tree.WriteFile("mnt/Photos/2023/1", "1");
  for (const char* folder : {"mnt", "mnt/Photos/2023"})
    EXPECT_TRUE(fs->NamesIgnoreCase(tree.Folder(folder))) << folder;
  EXPECT_FALSE(fs->NamesIgnoreCase(tree.Root()));
}

// ---- a FUSE file system with hard links (ext4 through fuse2fs) ------------------

class FuseExt4Folder : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!mount.SkipReason().empty()) GTEST_SKIP() << mount.SkipReason();
    tree.MakeFolder("mnt/t");
  }
  TempTree tree;
  testing::FuseExt4Mount mount{tree, "mnt"};
  std::unique_ptr<FileSystem> fs = CreatePlatformFileSystem();
};

// FUSE folders are looked up as if they ignored case: every name that is
// there, a link of a file with hard links too, made after the folder was
// listed, is its own, never a short name or a case of another.
TEST_F(FuseExt4Folder, EveryNameThatIsThereIsLookedUpAsItself) {
  tree.WriteFile("mnt/t/xy", "data");
  tree.WriteFile("mnt/t/Case", "1");
  tree.WriteFile("mnt/t/case", "2");
  fs->SetConfinedRoots({tree.Folder("mnt")});  // folders stay open, as in a run
  ItemInfo info;
  ASSERT_EQ(fs->Lookup(tree.Path("mnt/t/xy"), info), 0);  // the folder is listed now
  for (const char* name : {"xy.hard", "a"})
    ASSERT_EQ(link(tree.Path("mnt/t/xy").c_str(), tree.Path(std::string("mnt/t/") + name).c_str()),
              0);
  for (const char* name : {"xy.hard", "a", "xy", "case", "Case"}) {
    ASSERT_EQ(fs->Lookup(tree.Path(std::string("mnt/t/") + name), info), 0) << name;
    EXPECT_EQ(info.name, name);
  }
}

// A stopped copy leaves nothing on FUSE, not even a file hidden there while
// open (".fuse_hidden..."), which a removal right after the close left now
// and then.
TEST_F(FuseExt4Folder, StoppedCopiesLeaveNoFileNotEvenAHiddenOne) {
  tree.WriteFile("src", std::string(1 << 16, 'n'));
  for (int i = 0; i < 400; ++i) {  // the fault came now and then
    std::atomic<int> stop{0};
    RecordProgress progress(&stop);
    CopyOptions options;
    options.progress = &progress;
    options.stop = &stop;
    ASSERT_EQ(fs->CopyFile(tree.Path("src"), tree.Path("mnt/t/copy"), options), kErrCancelled);
  }
  EXPECT_THAT(tree.List("mnt/t"), IsEmpty());
}

// ---- read-ahead of walks -------------------------------------------------------

size_t CountEntries(const char* folder) {
  size_t count = 0;
  if (DIR* dir = opendir(folder)) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
}

// A joined thread may stay listed in /proc/self/task for a moment after the
// join returns: wait up to two seconds for the count to come back.
size_t ThreadsAfterJoins(size_t expected) {
  size_t count = CountEntries("/proc/self/task");
  for (int i = 0; i < 200 && count != expected; ++i) {
    usleep(10000);
    count = CountEntries("/proc/self/task");
  }
  return count;
}

std::string Describe(const std::string& path, const ItemInfo& item) {
  return path + " " + std::to_string(static_cast<int>(item.kind)) + " " +
         std::to_string(item.size) + " " + std::to_string(item.mode) + " " +
         std::to_string(item.modify_time.ns) + " " + std::to_string(item.inode);
}

enum class Order : uint8_t { FolderFirst, ContentsFirst };

// Walks the way the enumerator does: a folder's items in listing order, each
// subfolder entered at its entry. One line per item or failed folder; `visit`
// sees every item after its contents (ContentsFirst) or before them.
void WalkInto(FileSystem& fs, const std::string& folder, Order order,
              std::vector<std::string>& lines,
              const std::function<void(const std::string&, const ItemInfo&)>& visit) {
  std::unique_ptr<FolderReader> reader;
  if (const ErrorCode code = fs.OpenFolder(folder, reader); code != 0) {
    lines.push_back(folder + " open " + std::to_string(code));
    return;
  }
  ItemInfo item;
  ErrorCode code = 0;
  while ((code = reader->Next(item)) == 0) {
    const std::string path = folder + item.name;
    const ItemInfo seen = item;
    lines.push_back(Describe(path, seen));
    if (seen.IsFolder() && order == Order::ContentsFirst)
      WalkInto(fs, path + "/", order, lines, visit);
    if (visit) visit(path, seen);
    if (seen.IsFolder() && order == Order::FolderFirst)
      WalkInto(fs, path + "/", order, lines, visit);
  }
  if (code != kErrNoMoreEntries) lines.push_back(folder + " list " + std::to_string(code));
}

std::vector<std::string> WalkTree(
    FileSystem& fs, const std::string& folder, Order order = Order::FolderFirst,
    const std::function<void(const std::string&, const ItemInfo&)>& visit = {}) {
  std::vector<std::string> lines;
  fs.ExpectWalk(folder);
  WalkInto(fs, folder, order, lines, visit);
  return lines;
}

std::vector<std::string> ListAll(FileSystem& fs, const std::string& folder) {
  std::vector<std::string> lines;
  std::unique_ptr<FolderReader> reader;
  if (const ErrorCode code = fs.OpenFolder(folder, reader); code != 0)
    return {"open " + std::to_string(code)};
  ItemInfo item;
  while (reader->Next(item) == 0) lines.push_back(Describe(folder + item.name, item));
  return lines;
}

PosixFileSystemOptions WithReadAhead(bool on) {
  PosixFileSystemOptions options;
  options.read_ahead = on;
  return options;
}

class ReadAheadTest : public ::testing::Test {
 protected:
  // Nested folders, odd names, a FIFO, links, an empty folder and a folder
  // larger than one batch of the walker.
  void MakeMixedTree(const std::string& top) {
    tree.MakeFolder(top);
    tree.WriteFile(top + "/a", "1");
    tree.MakeFolder(top + "/d/e/f");
    tree.WriteFile(top + "/d/e/f/deep", "deep");
    tree.WriteFile(top + "/d/x", "22");
    tree.SetMode(top + "/d/x", 0444);
    tree.SetTime(top + "/d/x", 1234, 5678);
    tree.MakeFolder(top + "/empty");
    const std::string odd = std::string("bad\xff\xfe") + "name\nline";
    tree.MakeFolder(top + "/" + odd);
    tree.WriteFile(top + "/" + odd + "/" + odd, "odd");
    ASSERT_EQ(mkfifo(tree.Path(top + "/d/fifo").c_str(), 0644), 0);
    tree.MakeLink(top + "/link-to-folder", "d");
    tree.MakeLink(top + "/d/e/dangling", "nowhere");
    tree.MakeFolder(top + "/many");
    for (int i = 0; i < 300; ++i) tree.WriteFile(top + "/many/" + std::to_string(i), "");
    tree.MakeFolder(top + "/many/sub");
    tree.WriteFile(top + "/z", "last");
  }

  // A folder whose items do not fit in the walker's queue, with subfolders
  // among them, and folders after it.
  void MakeHugeTree(const std::string& top) {
    tree.MakeFolder(top + "/huge");
    for (int i = 0; i < 9000; ++i) {
      tree.WriteFile(top + "/huge/f" + std::to_string(i), "");
      if (i % 1000 == 0) {
        const std::string sub = top + "/huge/sub" + std::to_string(i);
        tree.MakeFolder(sub + "/inner");
        tree.WriteFile(sub + "/inner/file", "x");
      }
    }
    tree.MakeFolder(top + "/after/more");
    tree.WriteFile(top + "/after/more/file", "y");
  }

  TempTree tree;
  std::unique_ptr<FileSystem> direct = CreatePosixFileSystem(WithReadAhead(false));
  std::unique_ptr<FileSystem> ahead = CreatePosixFileSystem(WithReadAhead(true));
};

TEST_F(ReadAheadTest, WalkListsExactlyWhatADirectWalkLists) {
  MakeMixedTree("s");
  MakeHugeTree("s");
  for (FileSystem* fs : {direct.get(), ahead.get()}) fs->SetConfinedRoots({tree.Root()});
  for (Order order : {Order::FolderFirst, Order::ContentsFirst}) {
    const std::vector<std::string> expected = WalkTree(*direct, tree.Folder("s"), order);
    ASSERT_GT(expected.size(), 9300u);
    EXPECT_EQ(WalkTree(*ahead, tree.Folder("s"), order), expected);
    // Unconfined paths.
    ahead->SetConfinedRoots({});
    EXPECT_EQ(WalkTree(*ahead, tree.Folder("s"), order), expected);
  }
  const std::vector<std::string> expected = WalkTree(*direct, tree.Folder("s") + "d/");
  EXPECT_EQ(WalkTree(*ahead, tree.Folder("s") + "d/"), expected);
  // Every item stat'ed by a pool of lookup threads, as on a network file system.
  PosixFileSystemOptions pooled;
  pooled.lookup_threads = 4;
  auto pool = CreatePosixFileSystem(pooled);
  pool->SetConfinedRoots({tree.Root()});
  for (Order order : {Order::FolderFirst, Order::ContentsFirst})
    EXPECT_EQ(WalkTree(*pool, tree.Folder("s"), order), WalkTree(*direct, tree.Folder("s"), order));
}

TEST_F(ReadAheadTest, NestedWalkOfAnotherTreeLeavesTheStreamIntact) {
  MakeMixedTree("s");
  MakeMixedTree("t");
  const std::vector<std::string> expected_s = WalkTree(*direct, tree.Folder("s"));
  const std::vector<std::string> expected_t =
      WalkTree(*direct, tree.Folder("t"), Order::ContentsFirst);
  std::vector<std::string> nested;
  const auto visit = [&](const std::string& path, const ItemInfo&) {
    if (path != tree.Path("s/d/x")) return;
    WalkInto(*ahead, tree.Folder("t"), Order::ContentsFirst, nested, {});
  };
  EXPECT_EQ(WalkTree(*ahead, tree.Folder("s"), Order::FolderFirst, visit), expected_s);
  EXPECT_EQ(nested, expected_t);
}

TEST_F(ReadAheadTest, FoldersSkippedOrAskedOutOfOrderAreStillServedRight) {
  MakeMixedTree("s");
  const std::vector<std::string> paths = {"s/",     "s/many/sub/", "s/d/e/f/", "s/d/",
                                          "s/d/e/", "s/missing/",  "s/z/",     "s/empty/"};
  ahead->ExpectWalk(tree.Folder("s"));
  for (const std::string& path : paths)
    EXPECT_EQ(ListAll(*ahead, tree.Path(path)), ListAll(*direct, tree.Path(path))) << path;
}

TEST_F(ReadAheadTest, AbandonedWalkGivesWayToTheNextOne) {
  MakeMixedTree("s");
  MakeHugeTree("s");
  MakeMixedTree("t");
  const std::vector<std::string> expected_s = WalkTree(*direct, tree.Folder("s"));
  const std::vector<std::string> expected_t = WalkTree(*direct, tree.Folder("t"));
  const std::vector<std::string> expected_huge = ListAll(*direct, tree.Folder("s/huge"));
  for (int round = 0; round < 3; ++round) {
    // A walk stopped midway, one of its readers still in use.
    ahead->ExpectWalk(tree.Folder("s"));
    std::unique_ptr<FolderReader> root;
    ASSERT_EQ(ahead->OpenFolder(tree.Folder("s"), root), 0);
    std::unique_ptr<FolderReader> huge;
    ASSERT_EQ(ahead->OpenFolder(tree.Folder("s/huge"), huge), 0);
    std::vector<std::string> huge_lines;
    ItemInfo item;
    for (int i = 0; i < 10 && huge->Next(item) == 0; ++i)
      huge_lines.push_back(Describe(tree.Folder("s/huge") + item.name, item));
    EXPECT_EQ(WalkTree(*ahead, tree.Folder("t")), expected_t);
    // The reader handed out before outlives its read-ahead intact.
    while (huge->Next(item) == 0)
      huge_lines.push_back(Describe(tree.Folder("s/huge") + item.name, item));
    EXPECT_EQ(huge_lines, expected_huge);
    EXPECT_EQ(WalkTree(*ahead, tree.Folder("s")), expected_s);
  }
}

TEST_F(ReadAheadTest, WalkMayDeleteWhatItHasVisited) {
  MakeMixedTree("s");
  MakeHugeTree("s");
  ASSERT_EQ(unlink(tree.Path("s/d/fifo").c_str()), 0);
  ahead->SetConfinedRoots({tree.Root()});
  std::vector<std::string> failures;
  const auto remove = [&](const std::string& path, const ItemInfo& item) {
    const ErrorCode code = item.IsFolder() ? ahead->RemoveFolder(path) : ahead->DeleteFile(path);
    if (code != 0) failures.push_back(path + " " + std::to_string(code));
  };
  const std::vector<std::string> lines =
      WalkTree(*ahead, tree.Folder("s"), Order::ContentsFirst, remove);
  EXPECT_THAT(failures, IsEmpty());
  EXPECT_GT(lines.size(), 9300u);
  EXPECT_THAT(tree.List("s"), IsEmpty());
}

// What a planned walk reads ahead is what the lookups and security reads
// would answer when the walk asks: for counterparts that are there, missing,
// of another kind, links; in a folder larger than a batch; with the lookups
// on one thread or on a pool; after changes that make earlier reads stale.
TEST_F(ReadAheadTest, PlannedWalkAnswersAsLookupsWouldWhenAsked) {
  MakeMixedTree("s");
  MakeMixedTree("t");
  tree.WriteFile("s/only-here", "1");
  // A folder where the walk has a file, a file where it has a folder, a
  // link where it has a file.
  ASSERT_EQ(unlink(tree.Path("t/a").c_str()), 0);
  ASSERT_EQ(rmdir(tree.Path("t/empty").c_str()), 0);
  ASSERT_EQ(unlink(tree.Path("t/z").c_str()), 0);
  tree.MakeFolder("t/a");
  tree.WriteFile("t/empty", "");
  tree.MakeLink("t/z", "elsewhere");
  tree.SetTime("t/d/x", 99);
  const bool acls = testing::IsRoot() && direct->KeepsSecurity(tree.Root());
  if (acls) {
    ASSERT_EQ(direct->WriteSecurity(tree.Path("t/d/x"), SampleSecurity(false)), 0);
  }
  for (const int threads : {0, 4}) {
    for (const ItemDetail detail : {ItemDetail::Full, ItemDetail::Kind}) {
      SCOPED_TRACE(std::to_string(threads) + (detail == ItemDetail::Full ? " full" : " kind"));
      PosixFileSystemOptions options;
      options.lookup_threads = threads;
      auto fs = CreatePosixFileSystem(options);
      fs->SetConfinedRoots({tree.Root()});
      WalkPlan plan;
      plan.items = detail;
      plan.item_security = acls && detail == ItemDetail::Full;
      plan.counterpart_root = tree.Folder("t");
      plan.counterparts = detail;
      plan.counterpart_security = plan.item_security;
      fs->ExpectWalk(tree.Folder("s"), plan);
      size_t items = 0, answered = 0;
      bool changed = false;
      std::function<void(const std::string&)> walk = [&](const std::string& below) {
        std::unique_ptr<FolderReader> reader;
        ASSERT_EQ(fs->OpenFolder(tree.Folder("s") + below, reader), 0);
        ItemInfo item;
        while (reader->Next(item) == 0) {
          ++items;
          const std::string path = tree.Folder("s") + below + item.name;
          const std::string other = tree.Folder("t") + below + item.name;
          ItemInfo expected;
          ASSERT_EQ(direct->Lookup(path, expected), 0);
          EXPECT_EQ(item.kind, expected.kind) << path;
          if (reader->Detailed()) {
            EXPECT_EQ(Describe(path, item), Describe(path, expected));
          }
          ItemInfo ahead;
          bool detailed = false;
          const ErrorCode found = direct->Lookup(other, expected);
          if (reader->AheadCounterpart(other, ahead, detailed)) {
            ++answered;
            ASSERT_EQ(found, 0) << other;
            EXPECT_EQ(ahead.name, expected.name);
            EXPECT_EQ(ahead.kind, expected.kind) << other;
            if (detailed) {
              EXPECT_EQ(Describe(other, ahead), Describe(other, expected));
            }
          }
          EXPECT_FALSE(reader->AheadCounterpart(other + "x", ahead, detailed));
          Security security, read;
          ErrorCode code = 0;
          if (reader->AheadItemSecurity(security, code)) {
            EXPECT_EQ(code, direct->ReadSecurity(path, read)) << path;
            EXPECT_EQ(security, read) << path;
          }
          if (reader->AheadCounterpartSecurity(other, security, code)) {
            EXPECT_EQ(code, direct->ReadSecurity(other, read)) << other;
            EXPECT_EQ(security, read) << other;
          }
          // A change to the other tree after its items were read ahead.
          if (!changed) {
            changed = true;
            for (int i = 0; i < 300; ++i)
              ASSERT_EQ(fs->SetTimes(tree.Path("t/many/" + std::to_string(i)), {}, {7}), 0);
          }
          if (item.IsFolder()) walk(below + item.name + "/");
        }
      };
      walk("");
      EXPECT_GT(items, 300u);
      EXPECT_GT(answered, 0u);
    }
  }
}

// The files of a folder the plan passes over come with their name and kind
// alone, nothing read ahead for them or their counterparts; its subfolders,
// and the files of other folders, as planned.
TEST_F(ReadAheadTest, PlannedWalkReadsNothingForTheFilesOfFoldersPassedOver) {
  MakeMixedTree("s");
  MakeMixedTree("t");
  for (const int threads : {0, 4}) {
    SCOPED_TRACE(threads);
    PosixFileSystemOptions options;
    options.lookup_threads = threads;
    auto fs = CreatePosixFileSystem(options);
    fs->SetConfinedRoots({tree.Root()});
    auto passed_over = std::make_shared<FolderSet>(tree.Folder("s"));
    passed_over->Add(tree.Folder("s") + "many");
    passed_over->Seal();
    WalkPlan plan;
    plan.counterpart_root = tree.Folder("t");
    plan.passed_over = passed_over;
    fs->ExpectWalk(tree.Folder("s"), plan);
    std::map<std::string, std::string> seen;  // by folder: "d" detailed, "c" counterpart
    std::function<void(const std::string&)> walk = [&](const std::string& below) {
      std::unique_ptr<FolderReader> reader;
      ASSERT_EQ(fs->OpenFolder(tree.Folder("s") + below, reader), 0);
      ItemInfo item, other;
      while (reader->Next(item) == 0) {
        bool detailed = false;
        const bool answered =
            reader->AheadCounterpart(tree.Folder("t") + below + item.name, other, detailed);
        const std::string kind = item.IsFolder() ? "folder " : "file ";
        seen[kind + below] += std::string(reader->Detailed() ? "d" : "-") + (answered ? "c" : "-");
        if (item.IsFolder()) walk(below + item.name + "/");
      }
    };
    walk("");
    EXPECT_EQ(seen["file many/"], std::string(300 * 2, '-'));
    EXPECT_EQ(seen["folder many/"], "dc");
    EXPECT_EQ(seen["file d/"], "dc");
    EXPECT_EQ(seen["file d/e/"], "dc");  // the dangling link
  }
}

// The other tree named through the walked folder's path (with "..", or as a
// root that is a link in the walked folder) is the other tree all the same:
// a change to it makes what was read ahead of it stale.
TEST_F(ReadAheadTest, ChangesToTheOtherTreeNamedThroughTheWalkedOneAreNoticed) {
  for (int i = 0; i < 10; ++i) {
    tree.WriteFile("s/" + std::to_string(i), "s");
    tree.WriteFile("t/" + std::to_string(i), "t");
  }
  tree.MakeLink("s/t", "../t");
  int64_t time = 0;
  for (const std::string& other : {tree.Folder("s") + "../t/", tree.Folder("s") + "t/"}) {
    SCOPED_TRACE(other);
    auto fs = CreatePosixFileSystem({});
    fs->SetConfinedRoots({tree.Folder("s"), other});
    WalkPlan plan;
    plan.counterpart_root = other;
    fs->ExpectWalk(tree.Folder("s"), plan);
    std::unique_ptr<FolderReader> reader;
    ASSERT_EQ(fs->OpenFolder(tree.Folder("s"), reader), 0);
    ItemInfo item;
    bool changed = false;
    while (reader->Next(item) == 0) {
      // The first item comes with its batch's counterparts read.
      if (!changed) ++time;
      for (int i = 0; i < 10 && !changed; ++i)
        ASSERT_EQ(fs->SetTimes(other + std::to_string(i), {}, {time}), 0);
      changed = true;
      ItemInfo ahead;
      bool detailed = false;
      if (reader->AheadCounterpart(other + item.name, ahead, detailed) && detailed) {
        EXPECT_EQ(ahead.modify_time.ns, time) << item.name;
      }
    }
    EXPECT_TRUE(changed);
  }
}

// A filter that leaves out every folder named "out", and those a folder's
// ".rules" file names, and tells what the read-ahead asked of it.
class NamingFilter final : public WalkFilter, public WalkFilterSource {
 public:
  explicit NamingFilter(bool rules_usable) : rules_usable_(rules_usable) {}
  std::unique_ptr<WalkFilter> ForReadAhead(const std::string&) override {
    return std::make_unique<Forwarding>(*this);
  }
  const std::string& RulesFileName() const override { return name_; }
  bool RulesInCounterparts() const override { return false; }
  size_t RulesLimit() const override { return 100; }
  bool Enter(std::string_view path, const ReadRules& read) override {
    std::string rules;
    const ErrorCode code = read(rules);
    const std::lock_guard<std::mutex> lock(mutex_);
    entered.push_back(std::string(path.substr(path.rfind('/') + 1)) + ":" +
                      (code == 0 ? rules : std::to_string(code)));
    named_.push_back(code == 0 ? rules : "");
    return rules_usable_;
  }
  void Leave() override { named_.pop_back(); }
  bool LeavesOut(std::string_view path) override {
    const std::lock_guard<std::mutex> lock(mutex_);
    const std::string name(path.substr(path.rfind('/') + 1));
    asked.push_back(name);
    return name == "out" || (!named_.empty() && named_.back() == name);
  }

  std::vector<std::string> entered;  // name:rules, or name:error
  std::vector<std::string> asked;

 private:
  class Forwarding final : public WalkFilter {
   public:
    explicit Forwarding(NamingFilter& f) : f_(f) {}
    const std::string& RulesFileName() const override { return f_.RulesFileName(); }
    bool RulesInCounterparts() const override { return false; }
    size_t RulesLimit() const override { return f_.RulesLimit(); }
    bool Enter(std::string_view path, const ReadRules& read) override {
      return f_.Enter(path, read);
    }
    void Leave() override { f_.Leave(); }
    bool LeavesOut(std::string_view path) override { return f_.LeavesOut(path); }

   private:
    NamingFilter& f_;
  };
  bool rules_usable_;
  const std::string name_ = ".rules";
  std::mutex mutex_;
  std::vector<std::string> named_;
};

// What a walk leaves out its read-ahead neither lists nor goes into; below
// a folder whose rules cannot be used it goes no further, and the walk
// lists for itself what the direct walk lists.
TEST_F(ReadAheadTest, ReadAheadNeverGoesIntoAFolderTheWalkLeavesOut) {
  tree.WriteFile("s/keep/x", "x");
  tree.WriteFile("s/out/deep/y", "y");
  tree.WriteFile("s/r/.rules", "hid");
  tree.WriteFile("s/r/hid/z", "z");
  tree.WriteFile("s/r/seen/w", "w");
  for (const bool usable : {true, false}) {
    SCOPED_TRACE(usable ? "rules used" : "rules unusable");
    auto filter = std::make_shared<NamingFilter>(usable);
    ahead->SetConfinedRoots({tree.Root()});
    direct->SetConfinedRoots({tree.Root()});
    WalkPlan plan;
    plan.left_out = filter;
    ahead->ExpectWalk(tree.Folder("s"), plan);
    const auto walk = [&](FileSystem& fs) {
      std::vector<std::string> lines;
      const std::function<void(const std::string&)> into = [&](const std::string& folder) {
        std::unique_ptr<FolderReader> reader;
        if (fs.OpenFolder(folder, reader) != 0) return lines.push_back(folder + " not opened");
        for (ItemInfo item; reader->Next(item) == 0;) {
          lines.push_back(Describe(folder + item.name, item));
          if (item.IsFolder() && item.name != "out" && item.name != "hid")
            into(folder + item.name + "/");
        }
      };
      into(tree.Folder("s"));
      return lines;
    };
    EXPECT_EQ(walk(*ahead), walk(*direct));
    ahead->ExpectWalk(tree.Folder("other"));  // the walker is done with the filter
    std::sort(filter->entered.begin(), filter->entered.end());
    if (usable) {
      EXPECT_EQ(filter->entered,
                (std::vector<std::string>{"keep:" + std::to_string(kErrNotFound), "r:hid",
                                          "seen:" + std::to_string(kErrNotFound)}));
    } else {
      EXPECT_EQ(filter->entered,
                (std::vector<std::string>{"keep:" + std::to_string(kErrNotFound), "r:hid"}));
    }
    EXPECT_EQ(std::count(filter->asked.begin(), filter->asked.end(), "deep"), 0);
  }
}

TEST_F(ReadAheadTest, NoDescriptorOrThreadOutlivesAReadAhead) {
  MakeMixedTree("s");
  MakeHugeTree("s");
  ahead.reset();
  const size_t fds = CountEntries("/proc/self/fd");
  const size_t threads = CountEntries("/proc/self/task");
  for (int round = 0; round < 3; ++round) {
    auto fs = CreatePosixFileSystem(WithReadAhead(true));
    fs->SetConfinedRoots({tree.Root()});
    WalkTree(*fs, tree.Folder("s"));
    // Abandoned with the walker waiting on a full queue, then by new roots.
    fs->ExpectWalk(tree.Folder("s"));
    std::unique_ptr<FolderReader> reader;
    ASSERT_EQ(fs->OpenFolder(tree.Folder("s"), reader), 0);
    reader.reset();
    fs->SetConfinedRoots({});
    EXPECT_EQ(CountEntries("/proc/self/fd"), fds);
    EXPECT_EQ(ThreadsAfterJoins(threads), threads);
    // Abandoned by the end of the file system.
    fs->ExpectWalk(tree.Folder("s/huge"));
    ASSERT_EQ(fs->OpenFolder(tree.Folder("s/huge"), reader), 0);
    ItemInfo item;
    ASSERT_EQ(reader->Next(item), 0);
    fs.reset();
    while (reader->Next(item) == 0) {
    }
    reader.reset();
    EXPECT_EQ(CountEntries("/proc/self/fd"), fds);
    EXPECT_EQ(ThreadsAfterJoins(threads), threads);
  }
}

// On local file systems one thread lists ahead and looks up the other
// tree; threads that look up, and copy, in parallel run only where a tree
// lies on a file system whose every request is a round trip.
TEST_F(VfatFolder, LookupThreadsRunOnlyWhereATreeIsOnFuse) {
  tree.MakeFolder("s/a");
  tree.MakeFolder("t/a");
  tree.MakeFolder("mnt/a");
  const size_t threads = CountEntries("/proc/self/task");
  auto fs = CreatePlatformFileSystem();
  WalkPlan plan;
  plan.counterpart_root = tree.Folder("t");
  fs->ExpectWalk(tree.Folder("s"), plan);
  EXPECT_LE(CountEntries("/proc/self/task"), threads + 1);
  for (const auto& [walked, other] : {std::pair("s", "mnt"), std::pair("mnt", "s")}) {
    plan.counterpart_root = tree.Folder(other);
    fs->ExpectWalk(tree.Folder(walked), plan);
    EXPECT_GT(CountEntries("/proc/self/task"), threads + 1) << walked;
  }
  EXPECT_NE(fs->ParallelCopies(tree.Folder("mnt")), nullptr);
}

}  // namespace
}  // namespace twinmere
