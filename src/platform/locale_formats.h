// How a locale writes numbers and times of day: what the report's figures
// and dates, and the progress display's end time, are written with.
#pragma once

#include <string>

namespace twinmere {

// What the locale states; an empty text where it states nothing.
struct LocaleFormats {
  std::string thousands;       // between groups of three digits ("." in German)
  std::string decimal;         // before the fraction ("," in German)
  std::string date_separator;  // between day, month and year of a short date
  std::string time_separator;  // between hours, minutes and seconds
  bool twelve_hour = false;    // times of day count from 1 to 12, with AM and PM
  std::string am;              // after a 12-hour time before noon ("AM")
  std::string pm;              // ... and after noon ("PM")
  bool operator==(const LocaleFormats&) const = default;
};

// Those of the locale the process uses (as the program set it at start:
// numbers by LC_NUMERIC, times by LC_TIME). Never fails.
LocaleFormats ProcessLocaleFormats();

// Those of the locale named `name` ("de_DE.UTF-8"), whatever the process
// uses. False, with `formats` unchanged, when the system has no such locale.
bool NamedLocaleFormats(const std::string& name, LocaleFormats& formats);

}  // namespace twinmere
