#include <langinfo.h>
#include <locale.h>

#include <string_view>

#include "platform/locale_formats.h"

namespace twinmere {
namespace {

// The text between the first conversion of a strftime pattern and the next
// one ("%d.%m.%Y" gives "."); empty when there is none.
std::string SeparatorOfPattern(std::string_view pattern) {
  if (pattern.find("%T") != std::string_view::npos ||
      pattern.find("%R") != std::string_view::npos) {
    return ":";
  }
  if (pattern.find("%D") != std::string_view::npos) return "/";
  const size_t first = pattern.find('%');
  if (first == std::string_view::npos) return {};
  size_t start = first + 2;
  // Skip flags and modifiers such as %Ey or %Od.
  if (first + 1 < pattern.size() && (pattern[first + 1] == 'E' || pattern[first + 1] == 'O')) {
    ++start;
  }
  if (start >= pattern.size()) return {};
  const size_t next = pattern.find('%', start);
  if (next == std::string_view::npos) return {};
  return std::string(pattern.substr(start, next - start));
}

std::string Text(const char* value) {
  return value != nullptr ? std::string(value) : std::string();
}

// The formats that `item` (nl_langinfo, or nl_langinfo_l bound to a locale)
// tells.
template <typename Item>
LocaleFormats FormatsOf(Item item) {
  LocaleFormats formats;
  formats.thousands = Text(item(THOUSEP));
  formats.decimal = Text(item(RADIXCHAR));
  formats.date_separator = SeparatorOfPattern(Text(item(D_FMT)));
  const std::string time_pattern = Text(item(T_FMT));
  formats.time_separator = SeparatorOfPattern(time_pattern);
  formats.twelve_hour = time_pattern.find("%I") != std::string::npos ||
                        time_pattern.find("%l") != std::string::npos ||
                        time_pattern.find("%r") != std::string::npos;
  formats.am = Text(item(AM_STR));
  formats.pm = Text(item(PM_STR));
  return formats;
}

}  // namespace

LocaleFormats ProcessLocaleFormats() {
  return FormatsOf([](nl_item item) { return nl_langinfo(item); });
}

bool NamedLocaleFormats(const std::string& name, LocaleFormats& formats) {
  const locale_t locale = newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(nullptr));
  if (locale == static_cast<locale_t>(nullptr)) return false;
  formats = FormatsOf([locale](nl_item item) { return nl_langinfo_l(item, locale); });
  freelocale(locale);
  return true;
}

}  // namespace twinmere
