#include "engine/compare.h"

#include <gtest/gtest.h>

namespace twinmere {
namespace {

constexpr int64_t kSecond = 1'000'000'000;
constexpr int64_t kBase = 1'700'000'000 * kSecond;

TEST(CompareTimesTest, ToleranceAndOneHourAllowanceIncludeTheirBounds) {
  struct Case {
    int64_t d;  // item time minus other time
    bool no_daylight;
    Differences expected;
  };
  const Case cases[] = {
      {0, false, {}},
      {4 * kSecond, false, {}},
      {4 * kSecond + 100, false, Difference::ItemNewer},
      {-4 * kSecond, false, {}},
      {-4 * kSecond - 1, false, Difference::OtherNewer},
      {3600 * kSecond, false, {}},
      {3600 * kSecond, true, Difference::ItemNewer},
      {-3600 * kSecond, false, {}},
      {-3600 * kSecond, true, Difference::OtherNewer},
      {3596 * kSecond, false, {}},
      {3596 * kSecond - 1, false, Difference::ItemNewer},
      {3604 * kSecond, false, {}},
      {-3604 * kSecond - 1, false, Difference::OtherNewer},
      {7200 * kSecond, false, Difference::ItemNewer},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CompareTimes(FileTime{kBase + c.d}, FileTime{kBase}, c.no_daylight), c.expected)
        << "d = " << c.d << " ns" << (c.no_daylight ? ", NoDaylight" : "");
  }
}

TEST(CompareTimesTest, ExtremeTimesDoNotOverflow) {
  const FileTime earliest{INT64_MIN};
  const FileTime latest{INT64_MAX};
  EXPECT_EQ(CompareTimes(latest, earliest, false), Difference::ItemNewer);
  EXPECT_EQ(CompareTimes(earliest, latest, false), Difference::OtherNewer);
}

TEST(NamesEqualIgnoringCaseTest, AliasesAreNeverTakenForTheName) {
  struct Case {
    const char* a;
    const char* b;
    bool equal;
  };
  const Case cases[] = {
      {"Readme.TXT", "README.txt", true},
      {"\xc3\x84rger.txt", "\xc3\xa4rger.txt", true},  // Ärger / ärger
      {"\xce\xa3igma", "\xcf\x83igma", true},          // Greek capital and small sigma
      {"LONGFI~1.TXT", "LongFileName.txt", false},
      {"ABCD_E~1.TXT", "abcd+efg.txt", false},  // an alias as long as the name
      {"\xc4rger", "\xe4rger", false},          // Latin-1 bytes: compared as bytes
      {"a\xc3", "A\xc3", true},                 // invalid UTF-8, ASCII case still folds
      {"same", "same", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NamesEqualIgnoringCase(c.a, c.b), c.equal) << c.a << " / " << c.b;
  }
}

}  // namespace
}  // namespace twinmere
