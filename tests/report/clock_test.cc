#include "report/clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>

namespace twinmere {
namespace {

TEST(SystemClockTest, TimerCountsSecondsSinceLocalMidnightAndNowFollowsTheEpoch) {
  SystemClock clock;
  const double timer = clock.Timer();
  EXPECT_GE(timer, 0.0);
  EXPECT_LT(timer, 86401.0);
  const std::time_t t = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &t);
#else
  localtime_r(&t, &local);
#endif
  const double expected = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec;
  // Allow for a second boundary between the two readings (and midnight).
  EXPECT_TRUE(std::abs(timer - expected) < 2 || expected < 2) << timer << " " << expected;
  EXPECT_NEAR(clock.Now(), static_cast<double>(std::time(nullptr)), 2.0);
}

}  // namespace
}  // namespace twinmere
