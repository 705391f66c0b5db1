// Report and progress times are local time: tests pin the zone to UTC.
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace twinmere::testing {

// Seconds since the epoch of a UTC date-time.
inline double UtcTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
#ifdef _WIN32
  return static_cast<double>(_mkgmtime(&tm));
#else
  return static_cast<double>(timegm(&tm));
#endif
}

#ifdef _WIN32
// Windows takes the zone from its own settings, never from TZ: its tests run
// with that zone in UTC (scripts/test-windows starts Wine with TZ=UTC, which
// Wine makes the system's zone). Only the C runtime's own TZ is set here.
class UtcZone {
 public:
  UtcZone() {
    _putenv_s("TZ", "UTC");
    _tzset();
  }
};
#else

// Sets TZ to UTC for the life of the object.
class UtcZone {
 public:
  UtcZone() {
    if (const char* tz = std::getenv("TZ")) old_ = tz;
    setenv("TZ", "UTC", 1);
    tzset();
  }
  ~UtcZone() {
    old_ ? setenv("TZ", old_->c_str(), 1) : unsetenv("TZ");
    tzset();
  }
  UtcZone(const UtcZone&) = delete;
  UtcZone& operator=(const UtcZone&) = delete;

 private:
  std::optional<std::string> old_;
};
#endif

}  // namespace twinmere::testing
