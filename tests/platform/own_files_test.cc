#include "platform/own_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/temp_tree.h"

namespace twinmere {
namespace {

using testing::TempTree;

TEST(ReadSmallFile, ReadsOnlyRegularFilesUpToTheLimitAndNeverWaits) {
  TempTree tree;
  tree.WriteFile("four", "1234");
  tree.MakeLink("link", tree.Path("four"));
  tree.MakeFolder("folder");
  ASSERT_EQ(mkfifo(tree.Path("fifo").c_str(), 0600), 0);  // no writer: a wait would hang
  const struct {
    const char* name;
    size_t limit;
    FinalLink final_link;
    ErrorCode code;
  } cases[] = {
      {"four", 4, FinalLink::Itself, kSuccess},
      {"four", 3, FinalLink::Follow, kErrFileTooLarge},
      {"link", 4, FinalLink::Follow, kSuccess},
      {"link", 4, FinalLink::Itself, kErrLinkInPath},
      {"folder", 4, FinalLink::Follow, kErrIsAFolder},
      {"fifo", 4, FinalLink::Follow, kErrNotSupported},
      {"missing", 4, FinalLink::Follow, kErrNotFound},
  };
  for (const auto& c : cases) {
    std::string text;
    EXPECT_EQ(ReadSmallFile(tree.Path(c.name), c.limit, c.final_link, text), c.code) << c.name;
    if (c.code == kSuccess) {
      EXPECT_EQ(text, "1234") << c.name;
    }
  }
}

TEST(RenameWithoutReplacing, LeavesATakenNameAsItIs) {
  TempTree tree;
  tree.WriteFile("a", "a");
  tree.WriteFile("b", "b");
  EXPECT_EQ(RenameWithoutReplacing(tree.Path("a"), tree.Path("b")), kErrAlreadyExists);
  EXPECT_EQ(tree.ReadFile("b"), "b");
  EXPECT_EQ(RenameWithoutReplacing(tree.Path("a"), tree.Path("c")), kSuccess);
  EXPECT_EQ(tree.List(), (std::vector<std::string>{"b", "c"}));
}

}  // namespace
}  // namespace twinmere
