// Letter case of Unicode characters, as the system's character tables give it.
#pragma once

namespace twinmere {

// The lower-case form of the code point `point` (U+0000 to U+10FFFF, no
// surrogate); `point` itself where it has none, or where the system has no
// Unicode tables. Never fails.
char32_t LowerCaseOf(char32_t point);

}  // namespace twinmere
