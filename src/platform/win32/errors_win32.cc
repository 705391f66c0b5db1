#include "platform/errors.h"
#include "platform/win32/text_win32.h"
#include "platform/win32/windows_api.h"

namespace twinmere {

// FormatMessageW's text, in the user's language, without the line end it
// carries ("Access is denied."). A number the system has no text for gives
// "Unknown error" and the number, as the C library writes it.
std::string SystemErrorText(ErrorCode code) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring_view message(text != nullptr ? text : L"", n);
  while (!message.empty() &&
         (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
    message.remove_suffix(1);
  std::string result = win32::WideToUtf8(message);
  if (text != nullptr) LocalFree(text);
  return result.empty() ? "Unknown error " + std::to_string(code) : result;
}

}  // namespace twinmere
