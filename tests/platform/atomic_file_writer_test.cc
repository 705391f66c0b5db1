#include "platform/atomic_file_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/temporary_names.h"
#include "support/failing_calls.h"
#include "support/mounts.h"
#include "support/temp_tree.h"
#include "support/working_folder.h"

namespace twinmere {
namespace {

using testing::TempTree;

uint32_t ModeOf(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0xFFFFFFFF;
}

TEST(AtomicFileWriter, ReplacesTheFileAtOnceUnderATemporaryNameOfThePattern) {
  TempTree tree;
  tree.WriteFile("f", "old");
  const int reader = open(tree.Path("f").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(reader, 0);

  AtomicFileWriter writer;
  ASSERT_EQ(writer.Begin(tree.Path("f"), {}), 0);
  ASSERT_EQ(writer.Append("ne"), 0);
  ASSERT_EQ(writer.Append("w"), 0);
  const std::vector<std::string> during = tree.List();
  ASSERT_EQ(during.size(), 2u);
  EXPECT_TRUE(IsTemporaryName(during[0])) << during[0];
  EXPECT_EQ(tree.ReadFile("f"), "old");
  ASSERT_EQ(writer.Commit(), 0);
  EXPECT_FALSE(writer.IsOpen());

  EXPECT_EQ(tree.ReadFile("f"), "new");
  EXPECT_EQ(tree.List(), std::vector<std::string>{"f"});
  char old[8] = {};
  EXPECT_EQ(pread(reader, old, sizeof old, 0), 3);  // a new file, not the old one rewritten
  EXPECT_STREQ(old, "old");
  close(reader);

  // A bare name is written in the working folder.
  {
    testing::ScopedWorkingFolder here(tree.Root());
    ASSERT_EQ(WriteWholeFile("bare", "b", {}), 0);
  }
  EXPECT_EQ(tree.ReadFile("bare"), "b");
}

TEST(AtomicFileWriter, GivesTheModeAskedForOrThatOfTheRegularFileThere) {
  TempTree tree;
  tree.WriteFile("private", "x");
  tree.SetMode("private", 0600);
  tree.WriteFile("elsewhere", "untouched");
  tree.SetMode("elsewhere", 0600);
  tree.MakeLink("link", tree.Path("elsewhere"));
  const mode_t umask_before = umask(077);  // the mode is given as it is
  const struct {
    const char* name;
    ModeSource source;
    uint32_t mode;  // given
    uint32_t got;
  } cases[] = {
      {"new", ModeSource::Given, 0644, 0644},     {"private", ModeSource::Given, 0640, 0640},
      {"new2", ModeSource::Existing, 0644, 0644}, {"private", ModeSource::Existing, 0644, 0640},
      {"link", ModeSource::Existing, 0644, 0644},  // a link's target lends nothing
  };
  for (const auto& c : cases) {
    ASSERT_EQ(WriteWholeFile(tree.Path(c.name), "data", {.mode = c.mode, .mode_source = c.source}),
              0)
        << c.name;
    EXPECT_EQ(ModeOf(tree.Path(c.name)), c.got) << c.name;
  }
  umask(umask_before);
}

// A link at the path is replaced, never written through, whether it leads
// to a file or nowhere.
TEST(AtomicFileWriter, ReplacesALinkAtThePathAndLeavesWhatItPointsTo) {
  TempTree tree;
  tree.WriteFile("elsewhere", "untouched");
  tree.MakeLink("link", tree.Path("elsewhere"));
  tree.MakeLink("dangling", tree.Path("missing"));
  for (const char* name : {"link", "dangling"}) {
    ASSERT_EQ(WriteWholeFile(tree.Path(name), "new", {}), 0) << name;
    struct stat st;
    ASSERT_EQ(lstat(tree.Path(name).c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << name;
    EXPECT_EQ(tree.ReadFile(name), "new");
  }
  EXPECT_EQ(tree.ReadFile("elsewhere"), "untouched");
  EXPECT_EQ(tree.List(), (std::vector<std::string>{"dangling", "elsewhere", "link"}));
}

TEST(AtomicFileWriter, AFailureLeavesTheTargetAsItWasAndNoTemporaryFile) {
  TempTree tree;
  tree.WriteFile("logs/f", "old");
  tree.MakeFolder("logs/folder");
  const struct {
    std::string path;
    ErrorCode error;
  } cases[] = {
      {tree.Path("logs/folder"), EISDIR},  // the rename fails
      {tree.Path("logs/f/"), EISDIR},
      {tree.Path("missing/f"), ENOENT},
      {"", ENOENT},
  };
  for (const auto& c : cases) EXPECT_EQ(WriteWholeFile(c.path, "new", {}), c.error) << c.path;
  {
    AtomicFileWriter abandoned;
    ASSERT_EQ(abandoned.Begin(tree.Path("logs/f"), {}), 0);
    ASSERT_EQ(abandoned.Append("new"), 0);
  }
  AtomicFileWriter idle;
  EXPECT_EQ(idle.Append("x"), EBADF);
  EXPECT_EQ(idle.Commit(), EBADF);
  EXPECT_EQ(tree.List("logs"), (std::vector<std::string>{"f", "folder"}));
  EXPECT_EQ(tree.ReadFile("logs/f"), "old");
}

TEST(AtomicFileWriter, AFullDiskLeavesTheTargetAsItWasAndNoTemporaryFile) {
  TempTree tree;
  testing::TmpfsMount mount(tree, "mnt", "4m");
  if (!mount.SkipReason().empty()) GTEST_SKIP() << mount.SkipReason();
  tree.WriteFile("mnt/f", "old");
  EXPECT_EQ(WriteWholeFile(tree.Path("mnt/f"), std::string(5 << 20, 'n'), {}), ENOSPC);
  EXPECT_EQ(tree.List("mnt"), std::vector<std::string>{"f"});
  EXPECT_EQ(tree.ReadFile("mnt/f"), "old");
}

// A folder the user may not write, and a sticky folder where the target is
// another user's: the temporary file is made there and the rename refused.
TEST(AtomicFileWriter, UnprivilegedWritesThatAreRefusedLeaveNothing) {
  if (!testing::IsRoot()) GTEST_SKIP() << "needs root to switch to an unprivileged user";
  TempTree tree;
  tree.WriteFile("closed/f", "old");
  tree.WriteFile("sticky/f", "old");
  ASSERT_EQ(chmod(tree.Root().c_str(), 0755), 0);
  tree.SetMode("closed", 0755);
  tree.SetMode("sticky", 01777);
  const std::string root = tree.Root();
  const int status = testing::RunAsUnprivileged([&root] {
    if (WriteWholeFile(root + "/closed/f", "new", {}) != EACCES) return 1;
    if (WriteWholeFile(root + "/sticky/f", "new", {}) != EPERM) return 2;
    return 0;
  });
  if (status < 0) GTEST_SKIP() << "cannot switch to an unprivileged user";
  EXPECT_EQ(status, 0);
  for (const char* folder : {"closed", "sticky"}) {
    EXPECT_EQ(tree.List(folder), std::vector<std::string>{"f"}) << folder;
    EXPECT_EQ(tree.ReadFile(std::string(folder) + "/f"), "old");
  }
}

// The flushes are seen through their failures: fdatasync of the file before
// the rename, fsync of the folder after it.
TEST(AtomicFileWriter, FlushesTheFileAndTheFolderAsAsked) {
  TempTree tree;
  const std::string path = tree.Path("f");
  const struct {
    long failing_call;
    FileFlush flush;
    ErrorCode error;
    const char* after;  // the file's contents afterwards
  } cases[] = {
      {SYS_fdatasync, FileFlush::None, 0, "none"},
      {SYS_fdatasync, FileFlush::Data, EIO, "none"},
      {SYS_fsync, FileFlush::Data, 0, "data"},
      {SYS_fsync, FileFlush::DataAndFolder, EIO, "data and folder"},  // renamed before
  };
  const char* names[] = {"none", "data", "data and folder"};
  for (const auto& c : cases) {
    const char* bytes = names[static_cast<int>(c.flush)];
    const int status = testing::RunWithFailingCalls(
        {c.failing_call}, testing::CallFault::FailsWithEio,
        [&] { return WriteWholeFile(path, bytes, {.flush = c.flush}) == c.error ? 0 : 1; });
    if (status < 0) GTEST_SKIP() << "cannot set a system call filter";
    EXPECT_EQ(status, 0) << bytes << " with a failing " << c.failing_call;
    EXPECT_EQ(tree.ReadFile("f"), c.after) << bytes;
    EXPECT_EQ(tree.List(), std::vector<std::string>{"f"}) << bytes;
  }
}

}  // namespace
}  // namespace twinmere
