#include <locale.h>
#include <wctype.h>

#include "platform/letter_case.h"

namespace twinmere {

char32_t LowerCaseOf(char32_t point) {
  // The character tables of the C.UTF-8 locale, whatever the process's
  // locale is; made once and kept for the life of the process.
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  if (utf8 == static_cast<locale_t>(nullptr)) return point;
  return static_cast<char32_t>(towlower_l(static_cast<wint_t>(point), utf8));
}

}  // namespace twinmere
