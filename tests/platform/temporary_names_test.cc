#include "platform/temporary_names.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace twinmere {
namespace {

constexpr std::string_view kOrigin = "0123456789abcdef";

// Names of both whole patterns are temporary, and only those: a second run
// must never copy another one's item, nor take the user's for one.
TEST(TemporaryNames, OnlyWholeNamesWithOrWithoutOriginAreTemporary) {
  struct Case {
    std::string name;
    bool temporary;
    std::string_view origin;
    int64_t pid;
  };
  const Case cases[] = {
      {ComposeTemporaryName(kOrigin, 4711, "839201137", 12), true, kOrigin, 4711},
      {ComposeTemporaryName("", 4711, "839201137", 12), true, "", 4711},  // earlier versions
      {".twinmere-tmp-0123456789ABCDEF-1-2-3", false, "", 0},
      {".twinmere-tmp-0123456789abcde-1-2-3", false, "", 0},
      {".twinmere-tmp-0123456789abcdef-1-2-3-4", false, "", 0},
      {".twinmere-tmp-0123456789abcdef-1-2", false, "", 0},
      {".twinmere-tmp-0123456789abcdef-12345678901-2-3", false, "", 0},
      {".twinmere-tmp-1-2-3.txt", false, "", 0},
      {".twinmere-tmp-1--3", false, "", 0},
      {".twinmere-tmp-notes.txt", false, "", 0},
      {"twinmere-tmp-1-2-3", false, "", 0},
  };
  for (const Case& c : cases) {
    const std::optional<TemporaryNameParts> parts = ParseTemporaryName(c.name);
    ASSERT_EQ(parts.has_value(), c.temporary) << c.name;
    if (!parts) continue;
    EXPECT_EQ(parts->origin, c.origin) << c.name;
    EXPECT_EQ(parts->pid, c.pid) << c.name;
  }
  const std::string mine = NewTemporaryName();
  ASSERT_TRUE(IsTemporaryName(mine)) << mine;
  EXPECT_EQ(ParseTemporaryName(mine)->origin, ThisOrigin());
  EXPECT_EQ(ParseTemporaryName(mine)->pid, getpid());
  EXPECT_NE(NewTemporaryName(), mine);
  EXPECT_EQ(ThisOrigin().size(), kOriginDigits) << "no boot id or pid namespace to be read";
}

// A live copy gives its file the Source's (old) times just before the
// rename: the change time tells the age, and where a file system shows the
// modification time in its place, the folder's time, moved when the item
// was made, must be as old.
TEST(TemporaryNames, LeftoverAgeIsTheChangeTimeOrWhereThereIsNoneTheFoldersToo) {
  constexpr int64_t kHour = int64_t{3600} * 1'000'000'000;
  const FileTime now{int64_t{1'700'000'000} * 1'000'000'000};
  const FileTime old{now.ns - kLeftoverAgeNs};
  const FileTime ancient{now.ns - 100 * kLeftoverAgeNs};
  const FileTime recent{now.ns - kHour};
  struct Case {
    LeftoverTimes times;
    bool old;
  };
  const Case cases[] = {
      {{recent, ancient, ancient}, false},  // times given a moment ago
      {{old, ancient, recent}, true},
      {{FileTime{old.ns + 1}, ancient, ancient}, false},
      {{ancient, ancient, recent}, false},  // no change time: made a moment ago
      {{ancient, ancient, old}, true},
      {{recent, recent, ancient}, false},
      {{FileTime{now.ns + kHour}, ancient, ancient}, false},  // a clock ahead of ours
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LeftoverIsOld(c.times, now), c.old)
        << c.times.changed.ns << " " << c.times.modified.ns << " " << c.times.folder_modified.ns;
  }
}

}  // namespace
}  // namespace twinmere
