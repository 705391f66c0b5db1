// Where the program is, on Windows: the system's paths in the program's
// form ("C:/Program Files/Twinmere", platform/path_syntax.h).
#include <algorithm>

#include "platform/process_paths.h"
#include "platform/win32/text_win32.h"
#include "platform/win32/windows_api.h"
// After windows.h, which it needs.
#include <shellapi.h>

namespace twinmere {
namespace {

// A path the system gave, without its long-path prefix and with "/"
// between names; a root keeps its "/", any other path loses a trailing one.
std::string ProgramForm(std::wstring_view text) {
  if (text.starts_with(L"\\\\?\\UNC\\")) {
    text.remove_prefix(8);
    return ProgramForm(L"\\\\" + std::wstring(text));
  }
  if (text.starts_with(L"\\\\?\\")) text.remove_prefix(4);
  std::string path = win32::WideToUtf8(text);
  std::replace(path.begin(), path.end(), '\\', '/');
  if (path.size() > 3 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::string ExecutablePath() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return ProgramForm({buffer.data(), n});
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

std::string WorkingFolder() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (n == 0) return {};
    if (n < buffer.size()) return ProgramForm({buffer.data(), n});
    buffer.resize(n);
  }
}

std::vector<std::string> ProgramArguments(int argc, const char* const* argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  if (wide == nullptr) {
    for (int i = 0; i < argc; ++i) arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
    return arguments;
  }
  for (int i = 0; i < count; ++i) arguments.push_back(win32::WideToUtf8(wide[i]));
  LocalFree(wide);
  return arguments;
}

}  // namespace twinmere
