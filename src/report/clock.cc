#include "report/clock.h"

#include <time.h>

namespace twinmere {

double SystemClock::Timer() const {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  // The run asks once per item; the local time of day is worked out once
  // per second (per thread: the window and the run each ask).
  thread_local time_t second = -1;
  thread_local double second_of_day = 0;
  if (ts.tv_sec != second) {
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    second = ts.tv_sec;
    second_of_day = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec;
  }
  return second_of_day + ts.tv_nsec / 1e9;
}

double SystemClock::Now() const {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

}  // namespace twinmere
