// Comparison and copy of owner, group, ACLs and capabilities between an item and its counterpart.
#include <acl/libacl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/acl.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "fs/enum_probe.h"
#include "fs/item_actions.h"
#include "support/memory_file_system.h"
#include "support/temp_tree.h"

namespace twinmere {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using testing::Probe;

Security WithAcl(std::vector<AclEntry> entries) {
  Security s;
  s.uid = 10;
  s.gid = 20;
  s.has_access_acl = true;
  s.access_acl = std::move(entries);
  return s;
}

class MemorySecurity : public ::testing::Test {
 protected:
  void SetUp() override {
    context.fs = &fs;
    ASSERT_EQ(fs.AddFile("/s/f", "x"), 0);
    ASSERT_EQ(fs.AddFile("/t/f", "x"), 0);
  }
  // Runs `action` on /s/f and returns the security errors reported.
  std::vector<std::string> OnSourceFile(std::function<void(FilesEnumerator&)> action) {
    Probe probe(std::move(action));
    EXPECT_EQ(testing::Walk(context, "/s/", probe), 0);
    return probe.security_errors;
  }
  MemoryFileSystem fs;
  EnumeratorContext context;
};

TEST_F(MemorySecurity, CompareSecurityTable) {
  const AclEntry owner{ACL_USER_OBJ, 0, 6}, user{ACL_USER, 7, 4}, other{ACL_OTHER, 0, 4};
  Security plain;
  plain.uid = 10;
  plain.gid = 20;
  struct Case {
    const char* what;
    Security item, counterpart;
    SecurityMatch expected;
  };
  Security other_owner = plain;
  other_owner.uid = 11;
  Security other_group = plain;
  other_group.gid = 21;
  const auto with_capability = [&plain](bool known, std::string capability) {
    Security s = plain;
    s.capability_known = known;
    s.capability = std::move(capability);
    return s;
  };
  const Case cases[] = {
      {"no ACL on either side", plain, plain, SecurityMatch::Same},
      {"owner differs", plain, other_owner, SecurityMatch::Differs},
      {"group differs", plain, other_group, SecurityMatch::Differs},
      {"same entries", WithAcl({owner, user, other}), WithAcl({owner, user, other}),
       SecurityMatch::Same},
      {"same entries in another order", WithAcl({owner, user, other}),
       WithAcl({user, owner, other}), SecurityMatch::Differs},
      {"ACL on one side only", WithAcl({owner, user, other}), plain, SecurityMatch::Differs},
      {"permission differs", WithAcl({owner, user, other}),
       WithAcl({owner, AclEntry{ACL_USER, 7, 6}, other}), SecurityMatch::Differs},
      {"capabilities lost", with_capability(true, "cap"), with_capability(true, ""),
       SecurityMatch::Differs},
      {"capabilities differ", with_capability(true, "cap"), with_capability(true, "cap2"),
       SecurityMatch::Differs},
      {"capabilities unknown on one side", with_capability(true, "cap"), plain,
       SecurityMatch::Same},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(fs.WriteSecurity("/s/f", c.item), 0);
    ASSERT_EQ(fs.WriteSecurity("/t/f", c.counterpart), 0);
    std::optional<SecurityMatch> result;
    EXPECT_THAT(OnSourceFile([&](FilesEnumerator& e) { result = e.CompareSecurity("/t/f"); }),
                IsEmpty());
    EXPECT_EQ(result, c.expected);
  }
}

TEST_F(MemorySecurity, FolderDefaultAclsTakePartInTheComparison) {
  ASSERT_EQ(fs.AddFolder("/s/d"), 0);
  ASSERT_EQ(fs.AddFolder("/t/d"), 0);
  Security with_default;
  with_default.has_default_acl = true;
  with_default.default_acl = {{ACL_USER_OBJ, 0, 7}};
  ASSERT_EQ(fs.WriteSecurity("/s/d", with_default), 0);
  OnSourceFile([](FilesEnumerator& e) {
    if (e.Item().name != "d") return;
    EXPECT_EQ(e.CompareSecurity("/t/d"), SecurityMatch::Differs);
  });
}

TEST_F(MemorySecurity, UnreadableSecurityIsReportedOnceAndNamesTheSide) {
  fs.FailNext(MemoryOp::ReadSecurity, EACCES, "/s/f");
  std::optional<SecurityMatch> result;
  EXPECT_THAT(OnSourceFile([&](FilesEnumerator& e) { result = e.CompareSecurity("/t/f"); }),
              ElementsAre("/s/f 13"));
  EXPECT_EQ(result, SecurityMatch::ItemUnreadable);
  fs.FailNext(MemoryOp::ReadSecurity, EIO, "/t/f");
  EXPECT_THAT(OnSourceFile([&](FilesEnumerator& e) { result = e.CompareSecurity("/t/f"); }),
              ElementsAre("/t/f 5"));
  EXPECT_EQ(result, SecurityMatch::OtherUnreadable);
}

TEST_F(MemorySecurity, CopySecurityToWritesOnlyWhileSecurityIsHandled) {
  const Security wanted = WithAcl({{ACL_USER_OBJ, 0, 7}, {ACL_OTHER, 0, 0}});
  ASSERT_EQ(fs.WriteSecurity("/s/f", wanted), 0);
  fs.FailNext(MemoryOp::WriteSecurity, EIO);
  OnSourceFile([](FilesEnumerator& e) { EXPECT_EQ(CopySecurityTo(e, "/t/f"), 0); });
  Security read;
  ASSERT_EQ(fs.ReadSecurity("/t/f", read), 0);
  EXPECT_NE(read, wanted);

  context.security_support = true;
  OnSourceFile([](FilesEnumerator& e) {
    EXPECT_EQ(CopySecurityTo(e, "/t/f"), EIO);  // the injected failure
    EXPECT_EQ(e.CompareSecurity("/t/f"), SecurityMatch::Differs);
    EXPECT_EQ(CopySecurityTo(e, "/t/f"), 0);
    // The copy made the cached counterpart security stale: it is read again.
    EXPECT_EQ(e.CompareSecurity("/t/f"), SecurityMatch::Same);
  });
  ASSERT_EQ(fs.ReadSecurity("/t/f", read), 0);
  EXPECT_EQ(read, wanted);
}

TEST(EnablePrivilegesTest, SucceedsForRootAndFailsForAnUnprivilegedUser) {
  if (!testing::IsRoot()) GTEST_SKIP() << "needs root";
  EXPECT_EQ(EnablePrivileges(), 0);
  const int status =
      testing::RunAsUnprivileged([]() { return EnablePrivileges() == EPERM ? 0 : 1; });
  if (status < 0) GTEST_SKIP() << "cannot switch to an unprivileged user";
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace twinmere
