#include "platform/platform_facts.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

#include "platform/posix/os_release.h"
#include "support/temp_tree.h"

namespace twinmere {
namespace {

TEST(OsRelease, PrettyNameWithShellQuotingUndone) {
  struct Case {
    const char* contents;
    const char* pretty;
  };
  const Case cases[] = {
      {"NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n",
       "Debian GNU/Linux 12 (bookworm)"},
      {"PRETTY_NAME='Alpine Linux v3.19'\n", "Alpine Linux v3.19"},
      {"PRETTY_NAME=Arch\r\n", "Arch"},
      {"PRETTY_NAME=\"Say \\\"hi\\\" \\\\ \\$x\"", "Say \"hi\" \\ $x"},
      {"# PRETTY_NAME=\"commented\"\nNAME=x\n", ""},
      {"XPRETTY_NAME=\"no\"\n", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(posix::PrettyNameFromOsRelease(c.contents), c.pretty);
}

TEST(OsRelease, OsTextIsTheKernelReleaseAndTheDistributionNameIfAny) {
  EXPECT_EQ(posix::FormatOsText("Linux", "6.1.0-18-amd64", "Debian GNU/Linux 12 (bookworm)"),
            "Linux 6.1.0-18-amd64 (Debian GNU/Linux 12 (bookworm))");
  EXPECT_EQ(posix::FormatOsText("Linux", "6.1.0", ""), "Linux 6.1.0");
  // The detected text begins with the kernel release.
  const PlatformFacts facts = DetectPlatformFacts();
  struct utsname names {};
  ASSERT_EQ(uname(&names), 0);
  EXPECT_EQ(facts.OsText.rfind(std::string(names.sysname) + " " + names.release, 0), 0u)
      << facts.OsText;
}

TEST(DetectPlatformFacts, AdminExactlyForRootOrTheOwnershipCapabilities) {
  if (!testing::IsRoot()) GTEST_SKIP() << "needs root to compare with an unprivileged user";
  EXPECT_TRUE(DetectPlatformFacts().IsAdmin);
  const int status =
      testing::RunAsUnprivileged([] { return DetectPlatformFacts().IsAdmin ? 1 : 0; });
  if (status == -1) GTEST_SKIP() << "cannot switch to an unprivileged user";
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace twinmere
