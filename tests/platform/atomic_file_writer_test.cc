#include "platform/atomic_file_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>

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

TEST(AtomicFileWriter, ReplacesTheFileAtOnceFromAFileWithoutAName) {
  TempTree tree;
  tree.WriteFile("f", "old");
  const int reader = open(tree.Path("f").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(reader, 0);

  AtomicFileWriter writer;
  ASSERT_EQ(writer.Begin(tree.Path("f"), {}), 0);
  ASSERT_EQ(writer.Append("ne"), 0);
  ASSERT_EQ(writer.Append("w"), 0);
  EXPECT_EQ(tree.List(), std::vector<std::string>{"f"});  // the new file has no name yet
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
  const mode_t umask_before = umask(077);  // the mode is given as it is
  const struct {
    const char* name;
    ModeSource source;
    uint32_t mode;  // given
    uint32_t got;
  } cases[] = {
      {"new", ModeSource::Given, 0644, 0644},
      {"private", ModeSource::Given, 0640, 0640},
      {"new2", ModeSource::Existing, 0644, 0644},
      {"private", ModeSource::Existing, 0644, 0640},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(WriteWholeFile(tree.Path(c.name), "data", {.mode = c.mode, .mode_source = c.source}),
              0)
        << c.name;
    EXPECT_EQ(ModeOf(tree.Path(c.name)), c.got) << c.name;
  }
  umask(umask_before);
}

std::string KindOf(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return "missing";
  if (S_ISREG(st.st_mode)) return "file";
  if (S_ISLNK(st.st_mode)) return "link";
  if (S_ISFIFO(st.st_mode)) return "fifo";
  if (S_ISCHR(st.st_mode)) return "char";
  if (S_ISBLK(st.st_mode)) return "block";
  if (S_ISSOCK(st.st_mode)) return "socket";
  return S_ISDIR(st.st_mode) ? "folder" : "other";
}

// Only a regular file is ever replaced. A FIFO or a character device, also
// at the end of a link, is written into as it is; every other kind, and a
// link that leads to anything else, is refused and left as it was.
TEST(AtomicFileWriter, WritesIntoFifosAndDevicesAndReplacesNothingButRegularFiles) {
  TempTree tree;
  tree.WriteFile("file", "untouched");
  tree.MakeFolder("folder");
  ASSERT_EQ(mkfifo(tree.Path("fifo").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(tree.Path("unread").c_str(), 0600), 0);
  tree.MakeLink("to-fifo", "fifo");
  tree.MakeLink("to-file", "file");
  tree.MakeLink("to-folder", "folder");
  tree.MakeLink("dangling", "missing");
  const int socket_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socket_path = tree.Path("socket");
  ASSERT_LT(socket_path.size(), sizeof address.sun_path);
  socket_path.copy(address.sun_path, socket_path.size());
  ASSERT_EQ(bind(socket_fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  // A device node of its own, the same as /dev/null; a block device of a
  // number that no driver has.
  const bool root = testing::IsRoot();
  if (root) {
    ASSERT_EQ(mknod(tree.Path("null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    ASSERT_EQ(mknod(tree.Path("block").c_str(), S_IFBLK | 0600, makedev(60, 0)), 0);
    tree.MakeLink("to-null", "null");
  }
  const int reader = open(tree.Path("fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);

  const struct {
    const char* name;
    ErrorCode error;
    bool needs_root;
  } cases[] = {
      {"fifo", 0, false},
      {"to-fifo", 0, false},
      {"unread", ENXIO, false},
      {"null", 0, true},
      {"to-null", 0, true},
      {"folder", EISDIR, false},
      {"to-file", kErrNotSupported, false},
      {"to-folder", kErrNotSupported, false},
      {"dangling", kErrNotSupported, false},
      {"socket", kErrNotSupported, false},
      {"block", kErrNotSupported, true},
  };
  const std::vector<std::string> before = tree.List();
  std::map<std::string, std::string> kinds;
  for (const std::string& name : before) kinds[name] = KindOf(tree.Path(name));
  for (const auto& c : cases) {
    if (c.needs_root && !root) continue;
    EXPECT_EQ(WriteWholeFile(tree.Path(c.name), "json\n", {.flush = FileFlush::DataAndFolder}),
              c.error)
        << c.name;
  }
  for (const std::string& name : before) EXPECT_EQ(KindOf(tree.Path(name)), kinds[name]) << name;
  EXPECT_EQ(tree.List(), before);
  EXPECT_EQ(tree.ReadFile("file"), "untouched");
  EXPECT_EQ(tree.ReadLink("dangling"), "missing");
  char got[32] = {};
  EXPECT_EQ(read(reader, got, sizeof got), 10);  // from "fifo" and "to-fifo"
  EXPECT_STREQ(got, "json\njson\n");

  // A reader that goes away is an error, never a signal that ends the process.
  AtomicFileWriter writer;
  ASSERT_EQ(writer.Begin(tree.Path("fifo"), {}), 0);
  close(reader);
  EXPECT_EQ(writer.Append(std::string(1 << 17, 'x')), EPIPE);
  close(socket_fd);
}

// Standard output sent to a file (through a link like /dev/stdout, or by
// the file's own path): the summary follows the lines already written, in
// the same file. (A link of the tree's own: a writer that replaced it would
// not replace the machine's /dev/stdout.)
TEST(AtomicFileWriter, AppendsToTheFileThatStandardOutputWritesTo) {
  TempTree tree;
  tree.MakeLink("stdout", "/proc/self/fd/1");
  const std::string out = tree.Path("out.txt"), link = tree.Path("stdout");
  const pid_t child = fork();
  if (child == 0) {
    const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0 || write(STDOUT_FILENO, "line\n", 5) != 5) _exit(1);
    if (WriteWholeFile(link, "first\n", {}) != 0) _exit(2);
    _exit(WriteWholeFile(out, "second\n", {}) == 0 ? 0 : 3);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(tree.ReadFile("out.txt"), "line\nfirst\nsecond\n");
  EXPECT_EQ(tree.ReadLink("stdout"), "/proc/self/fd/1");
}

// A writer killed at any of its steps leaves the old file, and at most a
// temporary file that the next write beside it removes. Without unnamed
// files (vfat through FUSE) every new file has a temporary name.
TEST(AtomicFileWriter, KilledAtAnyStepTheNextWriteLeavesOnlyTheFile) {
  TempTree tree;
  std::vector<std::string> folders = {"here"};
  testing::VfatMount vfat(tree, "vfat", 1024);
  if (vfat.SkipReason().empty()) folders.push_back("vfat");
  constexpr ModeFailure kNoModes = ModeFailure::Ignored;  // vfat keeps none
  int leftovers = 0;
  for (const std::string& folder : folders) {
    for (const long call : {SYS_fchmod, SYS_write, SYS_fdatasync, SYS_linkat, SYS_renameat}) {
      SCOPED_TRACE(folder + " " + std::to_string(call));
      const std::string path = tree.Path(folder + "/f");
      unlink(path.c_str());  // fusefat does not truncate what it rewrites
      tree.WriteFile(folder + "/f", "old");
      const int status = testing::RunWithFailingCalls(
          {call}, testing::CallFault::KillsProcess,
          [&] { return WriteWholeFile(path, "new", {.flush = FileFlush::Data}); });
      if (status < 0) GTEST_SKIP() << "cannot set a system call filter";
      EXPECT_EQ(tree.ReadFile(folder + "/f"), status == 0 ? "new" : "old");
      leftovers += static_cast<int>(tree.List(folder).size()) - 1;
      ASSERT_EQ(WriteWholeFile(path, "newer", {.mode_failure = kNoModes}), 0);
      EXPECT_EQ(tree.List(folder), std::vector<std::string>{"f"});
      EXPECT_EQ(tree.ReadFile(folder + "/f"), "newer");
    }
  }
  EXPECT_GT(leftovers, 0);  // some steps left one
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
