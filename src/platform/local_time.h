// Dates and times of day: a moment, in seconds since 1970-01-01 00:00:00
// UTC, as the calendar and the clock show it in the local zone (TZ, else the
// system's own) or in UTC.
#pragma once

#include <cstdint>

namespace twinmere {

struct CalendarTime {
  int64_t year = 1970;
  int month = 1;   // 1 to 12
  int day = 1;     // 1 to 31
  int hour = 0;    // 0 to 23
  int minute = 0;  // 0 to 59
  int second = 0;  // 0 to 60 (a leap second)
  // Seconds east of UTC of the zone at that moment: 3600 in Central European
  // winter time, 0 in UTC.
  int32_t utc_offset = 0;
};

// `seconds` in the local zone. False, with `time` unchanged, when the system
// cannot convert it (a year beyond its range).
bool ToLocalTime(int64_t seconds, CalendarTime& time);

// `seconds` in UTC, failing as ToLocalTime does.
bool ToUtcTime(int64_t seconds, CalendarTime& time);

}  // namespace twinmere
