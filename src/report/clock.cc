#include "report/clock.h"

#include <chrono>
#include <cstdint>

#include "platform/local_time.h"

namespace twinmere {
namespace {

// The wall clock's time in whole seconds since the epoch and nanoseconds.
struct WallTime {
  int64_t seconds;
  int64_t nanoseconds;
};

WallTime ReadWallClock() {
  const int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
  const int64_t seconds = ns >= 0 ? ns / 1'000'000'000 : (ns + 1) / 1'000'000'000 - 1;
  return {seconds, ns - seconds * 1'000'000'000};
}

}  // namespace

double SystemClock::Timer() const {
  const WallTime now = ReadWallClock();
  // The run asks once per item; the local time of day is worked out once
  // per second (per thread: the window and the run each ask).
  thread_local int64_t second = -1;
  thread_local double second_of_day = 0;
  if (now.seconds != second) {
    CalendarTime local;
    ToLocalTime(now.seconds, local);
    second = now.seconds;
    second_of_day = local.hour * 3600.0 + local.minute * 60.0 + local.second;
  }
  return second_of_day + now.nanoseconds / 1e9;
}

double SystemClock::Now() const {
  const WallTime now = ReadWallClock();
  return static_cast<double>(now.seconds) + now.nanoseconds / 1e9;
}

}  // namespace twinmere
