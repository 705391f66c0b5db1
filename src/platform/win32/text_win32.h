// Paths and names are UTF-8 bytes in the program and UTF-16 at the system
// boundary. Windows names are sequences of 16-bit units that need not be
// valid UTF-16: a surrogate that pairs with none has no UTF-8 form. It is
// written as the three bytes that WTF-8 (UTF-8 generalized to such
// surrogates) gives it, so every name Windows can hold comes back unchanged.
#pragma once

#include <string>
#include <string_view>

namespace twinmere::win32 {

// The UTF-16 form of WTF-8 bytes; false (and `out` unspecified) for bytes
// that are not WTF-8: invalid UTF-8, and a surrogate pair written as two
// three-byte sequences (the four-byte form is the one form of such a
// character, so that no two byte strings name one item).
bool Utf8ToWide(std::string_view bytes, std::wstring& out);

// The WTF-8 form of UTF-16 units. Never fails.
std::string WideToUtf8(std::wstring_view units);

}  // namespace twinmere::win32
