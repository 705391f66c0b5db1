#include <time.h>

#include "platform/local_time.h"

namespace twinmere {
namespace {

bool FromParts(const struct tm* parts, CalendarTime& time) {
  if (parts == nullptr) return false;
  time.year = int64_t{parts->tm_year} + 1900;
  time.month = parts->tm_mon + 1;
  time.day = parts->tm_mday;
  time.hour = parts->tm_hour;
  time.minute = parts->tm_min;
  time.second = parts->tm_sec;
  time.utc_offset = static_cast<int32_t>(parts->tm_gmtoff);
  return true;
}

}  // namespace

bool ToLocalTime(int64_t seconds, CalendarTime& time) {
  const auto t = static_cast<time_t>(seconds);
  struct tm parts {};
  return FromParts(localtime_r(&t, &parts), time);
}

bool ToUtcTime(int64_t seconds, CalendarTime& time) {
  const auto t = static_cast<time_t>(seconds);
  struct tm parts {};
  return FromParts(gmtime_r(&t, &parts), time);
}

}  // namespace twinmere
