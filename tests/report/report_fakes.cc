#include "report/report_fakes.h"

#include <cstdlib>
#include <ctime>

namespace twinmere::testing {

double UtcTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return static_cast<double>(timegm(&tm));
}

UtcZone::UtcZone() {
  if (const char* tz = std::getenv("TZ")) {
    had_ = true;
    old_ = tz;
  }
  setenv("TZ", "UTC", 1);
  tzset();
}

UtcZone::~UtcZone() {
  if (had_) {
    setenv("TZ", old_.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

}  // namespace twinmere::testing
