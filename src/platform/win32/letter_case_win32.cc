// Letter case as Windows maps it for file names (LCMapStringEx without
// linguistic casing: the file system's rules, which NTFS follows more
// closely than any C locale does).
#include "platform/letter_case.h"
#include "platform/win32/windows_api.h"

namespace twinmere {

char32_t LowerCaseOf(char32_t point) {
  wchar_t units[2];
  int length = 1;
  if (point >= 0x10000) {
    units[0] = static_cast<wchar_t>(0xD800 + ((point - 0x10000) >> 10));
    units[1] = static_cast<wchar_t>(0xDC00 + ((point - 0x10000) & 0x3FF));
    length = 2;
  } else {
    units[0] = static_cast<wchar_t>(point);
  }
  wchar_t lower[4];
  const int n = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, units, length, lower, 4,
                              nullptr, nullptr, 0);
  // One character in, one out; anything else keeps the character.
  if (n == 1 && (lower[0] < 0xD800 || lower[0] > 0xDFFF)) return lower[0];
  if (n == 2 && lower[0] >= 0xD800 && lower[0] <= 0xDBFF && lower[1] >= 0xDC00 &&
      lower[1] <= 0xDFFF)
    return 0x10000 + ((char32_t{lower[0]} - 0xD800) << 10) + (lower[1] - 0xDC00);
  return point;
}

}  // namespace twinmere
