// The separators and formats of a Windows locale: the user's own settings
// (Control Panel, Region) for the process, whatever the C runtime's locale.
#include <algorithm>

#include "platform/locale_formats.h"
#include "platform/win32/text_win32.h"
#include "platform/win32/windows_api.h"

namespace twinmere {
namespace {

std::string Info(const wchar_t* locale, LCTYPE type) {
  wchar_t text[LOCALE_NAME_MAX_LENGTH + 80];
  const int n = GetLocaleInfoEx(locale, type, text, static_cast<int>(std::size(text)));
  if (n <= 1) return {};
  return win32::WideToUtf8({text, static_cast<size_t>(n - 1)});
}

LocaleFormats FormatsOf(const wchar_t* locale) {
  LocaleFormats formats;
  formats.thousands = Info(locale, LOCALE_STHOUSAND);
  formats.decimal = Info(locale, LOCALE_SDECIMAL);
  formats.date_separator = Info(locale, LOCALE_SDATE);
  formats.time_separator = Info(locale, LOCALE_STIME);
  // "0": AM/PM 12-hour, "1": 24-hour.
  formats.twelve_hour = Info(locale, LOCALE_ITIME) == "0";
  formats.am = Info(locale, LOCALE_S1159);
  formats.pm = Info(locale, LOCALE_S2359);
  return formats;
}

}  // namespace

LocaleFormats ProcessLocaleFormats() {
  return FormatsOf(LOCALE_NAME_USER_DEFAULT);
}

// A POSIX name ("de_DE.UTF-8", "sr_RS@latin") becomes the Windows one
// ("de-DE"); the encoding and the modifier name nothing on Windows.
bool NamedLocaleFormats(const std::string& name, LocaleFormats& formats) {
  std::string base = name.substr(0, name.find_first_of(".@"));
  std::replace(base.begin(), base.end(), '_', '-');
  std::wstring wide;
  if (base.empty() || !win32::Utf8ToWide(base, wide) || !IsValidLocaleName(wide.c_str()))
    return false;
  formats = FormatsOf(wide.c_str());
  return true;
}

}  // namespace twinmere
