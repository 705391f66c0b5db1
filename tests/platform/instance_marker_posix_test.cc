#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>

#include "platform/instance_marker.h"
#include "support/temp_tree.h"

namespace twinmere {
namespace {

using testing::TempTree;

// The folders start-up would find with `runtime` as XDG_RUNTIME_DIR (none
// when empty) and `temp` as TMPDIR.
UserFolders Folders(const std::string& runtime, const std::string& temp) {
  return UserFoldersFromEnvironment([&](const std::string_view name) -> const char* {
    if (name == "XDG_RUNTIME_DIR") return runtime.empty() ? nullptr : runtime.c_str();
    if (name == "TMPDIR") return temp.c_str();
    return nullptr;
  });
}

// The marker made for `folders`, or nothing when making it did not end
// within seconds (it then waits in open, which a writer releases).
std::unique_ptr<InstanceMarker> MarkerInTime(const UserFolders& folders, const std::string& fifo) {
  auto made = std::async(std::launch::async,
                         [&folders] { return std::make_unique<InstanceMarker>(folders); });
  if (made.wait_for(std::chrono::seconds(5)) == std::future_status::ready) return made.get();
  ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
  made.get();
  return nullptr;
}

TEST(InstanceMarkerTest, HeldInTheRuntimeFolderOrElseInAPrivateFolderOfTheTempFolder) {
  TempTree tree;
  tree.MakeFolder("run");
  tree.SetMode("run", 0700);
  tree.MakeFolder("tmp");
  tree.SetMode("tmp", 01777);  // as /tmp

  {
    const InstanceMarker marker(Folders(tree.Path("run"), tree.Path("tmp")));
    EXPECT_TRUE(marker.Held());
    EXPECT_EQ(marker.Path(), tree.Path("run/TwinmereMutex"));
    struct stat st;
    ASSERT_EQ(::stat(marker.Path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
  }

  // Without XDG_RUNTIME_DIR, or with one that others can write into, the
  // shared temp folder gets a folder that only the user can enter.
  const std::string own = "tmp/twinmere-" + std::to_string(::geteuid());
  ASSERT_EQ(::unlink(tree.Path("run/TwinmereMutex").c_str()), 0);
  tree.SetMode("run", 0777);
  for (const std::string& runtime : {std::string(), tree.Path("run")}) {
    const InstanceMarker marker(Folders(runtime, tree.Path("tmp")));
    EXPECT_TRUE(marker.Held());
    EXPECT_EQ(marker.Path(), tree.Path(own + "/TwinmereMutex"));
    struct stat st;
    ASSERT_EQ(::lstat(tree.Path(own).c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_EQ(st.st_uid, ::geteuid());
  }
  EXPECT_FALSE(tree.Exists("run/TwinmereMutex"));
}

TEST(InstanceMarkerTest, NothingButARegularFileOfTheUserInAPrivateFolderIsHeld) {
  if (!testing::IsRoot()) GTEST_SKIP() << "needs root to give items to another user";
  TempTree tree;
  const std::string own = "tmp/twinmere-" + std::to_string(::geteuid());
  const auto fresh = [&] {
    ASSERT_TRUE(testing::RemoveTree(tree.Path("tmp")));
    tree.MakeFolder("tmp");
    tree.SetMode("tmp", 01777);
  };
  const struct {
    const char* what;
    std::function<void()> prepare;
  } cases[] = {
      {"a FIFO in the marker's place",
       [&] { ASSERT_EQ(::mkfifo(tree.Path(own + "/TwinmereMutex").c_str(), 0600), 0); }},
      {"a marker of another user",
       [&] {
         tree.WriteFile(own + "/TwinmereMutex", "");
         ASSERT_EQ(::chown(tree.Path(own + "/TwinmereMutex").c_str(), 65534, 65534), 0);
       }},
      {"a link in the marker's place",
       [&] { tree.MakeLink(own + "/TwinmereMutex", tree.Path("elsewhere")); }},
      {"a private folder that others can write into", [&] { tree.SetMode(own, 0777); }},
      {"a private folder of another user",
       [&] { ASSERT_EQ(::chown(tree.Path(own).c_str(), 65534, 65534), 0); }},
      {"a link in the private folder's place",
       [&] {
         ASSERT_TRUE(testing::RemoveTree(tree.Path(own)));
         tree.MakeFolder("elsewhere");
         tree.SetMode("elsewhere", 0700);
         tree.MakeLink(own, tree.Path("elsewhere"));
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fresh();
    tree.MakeFolder(own);
    tree.SetMode(own, 0700);
    c.prepare();
    const std::unique_ptr<InstanceMarker> marker =
        MarkerInTime(Folders("", tree.Path("tmp")), tree.Path(own + "/TwinmereMutex"));
    ASSERT_NE(marker, nullptr) << "making the marker waited";
    EXPECT_FALSE(marker->Held());
    EXPECT_EQ(marker->Path(), "");
    EXPECT_FALSE(tree.Exists("elsewhere/TwinmereMutex"));
  }
}

}  // namespace
}  // namespace twinmere
