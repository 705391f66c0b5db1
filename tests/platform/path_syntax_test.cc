#include "platform/path_syntax.h"

#include <gtest/gtest.h>

namespace twinmere {
namespace {

// Both systems' rules, whichever the tests run on.
TEST(PathSyntax, RootsOfBothSystemsAreToldApart) {
  struct Case {
    const char* path;
    size_t posix_root;
    size_t windows_root;
    bool windows_absolute;
    bool windows_share;
  };
  const Case cases[] = {
      {"", 0, 0, false, false},
      {"/", 1, 1, false, false},
      {"/data/x", 1, 1, false, false},  // on Windows the working folder's drive
      {"rel/x", 0, 0, false, false},
      {"C:/", 0, 3, true, false},
      {"c:/Users/Ann", 0, 3, true, false},
      {"C:", 0, 2, false, false},  // that drive's working folder
      {"C:name", 0, 2, false, false},
      {"//server/share", 1, 14, true, true},
      {"//server/share/", 1, 15, true, true},
      {"//server/share/a/b", 1, 15, true, false},
      {"//server", 1, 1, false, false},    // no share: no root of its own
      {"//server/", 1, 1, false, false},   // ...
      {"///share/x", 1, 1, false, false},  // no server
      {"1:/x", 0, 0, false, false},        // no drive letter
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(PathRootLength(c.path, PathSyntax::Posix), c.posix_root);
    EXPECT_EQ(PathRootLength(c.path, PathSyntax::Windows), c.windows_root);
    EXPECT_EQ(IsAbsolutePath(c.path, PathSyntax::Posix), c.posix_root == 1);
    EXPECT_EQ(IsAbsolutePath(c.path, PathSyntax::Windows), c.windows_absolute);
    EXPECT_FALSE(IsShareRootPath(c.path, PathSyntax::Posix));
    EXPECT_EQ(IsShareRootPath(c.path, PathSyntax::Windows), c.windows_share);
  }
}

// "\" is a separator only on Windows, where no name can hold it; on Linux it
// is a byte of a name and stays.
TEST(PathSyntax, BackslashesSeparateOnlyOnWindows) {
  EXPECT_EQ(FromUserPath("C:\\Data\\a b/c", PathSyntax::Windows), "C:/Data/a b/c");
  EXPECT_EQ(FromUserPath("\\\\server\\share", PathSyntax::Windows), "//server/share");
  EXPECT_EQ(FromUserPath("/a\\b", PathSyntax::Posix), "/a\\b");
  EXPECT_EQ(ShownSeparators("C:/Data/x", PathSyntax::Windows), "C:\\Data\\x");
  EXPECT_EQ(ShownSeparators("/a\\b/c", PathSyntax::Posix), "/a\\b/c");
}

}  // namespace
}  // namespace twinmere
