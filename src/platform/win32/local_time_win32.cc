// Dates and times of day through the system's own calendar calls: the zone
// and its daylight-saving rules are Windows's (Settings, Time zone), not the
// C runtime's TZ.
#include "platform/local_time.h"
#include "platform/win32/windows_api.h"

namespace twinmere {
namespace {

// 100-nanosecond units from 1601-01-01 to 1970-01-01.
constexpr int64_t kUnixEpochUnits = 116444736000000000;
constexpr int64_t kUnitsPerSecond = 10000000;
// SYSTEMTIME holds the years 1601 to 30827.
constexpr int64_t kFirstSecond = -kUnixEpochUnits / kUnitsPerSecond;
constexpr int64_t kLastSecond = 910670515199;  // 30827-12-31 23:59:59 UTC

FILETIME ToFileTime(int64_t units) {
  FILETIME t;
  t.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(units) & 0xFFFFFFFF);
  t.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(units) >> 32);
  return t;
}

int64_t UnitsOf(const SYSTEMTIME& parts) {
  FILETIME t;
  if (!SystemTimeToFileTime(&parts, &t)) return -1;
  return static_cast<int64_t>((uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime);
}

void FromParts(const SYSTEMTIME& parts, int32_t offset, CalendarTime& time) {
  time.year = parts.wYear;
  time.month = parts.wMonth;
  time.day = parts.wDay;
  time.hour = parts.wHour;
  time.minute = parts.wMinute;
  time.second = parts.wSecond;
  time.utc_offset = offset;
}

// The moment in UTC, as SYSTEMTIME.
bool UtcParts(int64_t seconds, SYSTEMTIME& parts) {
  if (seconds < kFirstSecond || seconds > kLastSecond) return false;
  const FILETIME t = ToFileTime(seconds * kUnitsPerSecond + kUnixEpochUnits);
  return FileTimeToSystemTime(&t, &parts) != 0;
}

}  // namespace

bool ToLocalTime(int64_t seconds, CalendarTime& time) {
  SYSTEMTIME utc;
  if (!UtcParts(seconds, utc)) return false;
  // The zone's rules of that year where the system keeps them (its daylight
  // saving dates have changed over the years), else those of today.
  TIME_ZONE_INFORMATION zone;
  const bool of_year = GetTimeZoneInformationForYear(utc.wYear, nullptr, &zone) != 0;
  SYSTEMTIME local;
  if (!SystemTimeToTzSpecificLocalTime(of_year ? &zone : nullptr, &utc, &local)) return false;
  const int64_t local_units = UnitsOf(local);
  const int64_t utc_units = UnitsOf(utc);
  if (local_units < 0 || utc_units < 0) return false;
  FromParts(local, static_cast<int32_t>((local_units - utc_units) / kUnitsPerSecond), time);
  return true;
}

bool ToUtcTime(int64_t seconds, CalendarTime& time) {
  SYSTEMTIME utc;
  if (!UtcParts(seconds, utc)) return false;
  FromParts(utc, 0, time);
  return true;
}

}  // namespace twinmere
