#include "engine/action_codes.h"

#include <gtest/gtest.h>

namespace twinmere {
namespace {

TEST(ActionCodeForTest, GivesTheCodeOfEveryPlan) {
  struct Case {
    const char* plan;
    int r;
    uint32_t attrs;
    bool deleting;
    int code;
  };
  const Case cases[] = {
      {"new file copied", kOtherMissing, 0, false, 1},
      {"new folder created", kOtherMissing, kAttrFolder, false, 17},
      {"file replaced", kItemNewer | kSizeDiffers, kAttrReadOnly, false, 33},
      {"folder properties", kAttributesDiffer | kItemNewer, kAttrFolder, false, 49},
      {"file attributes", kAttributesDiffer, 0, false, 36},
      {"folder attributes", kAttributesDiffer, kAttrFolder, false, 52},
      {"file security", kSecurityDiffers, 0, false, 40},
      {"folder security", kSecurityDiffers, kAttrFolder, false, 56},
      {"file name case", kCaseDiffers, 0, false, 161},
      {"folder name case", kCaseDiffers, kAttrFolder, false, 177},
      {"extra file deleted", kOtherMissing, 0, true, 2},
      {"extra folder removed", kOtherMissing, kAttrFolder, true, 18},
      {"file found by another name deleted", kShortNameClash, 0, true, 34},
      {"folder found by another name removed", kShortNameClash, kAttrFolder, true, 50},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ActionCodeFor(c.r, c.attrs, c.deleting), c.code) << c.plan;
  }
}

}  // namespace
}  // namespace twinmere
