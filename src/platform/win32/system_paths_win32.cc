#include "platform/win32/system_paths_win32.h"

#include "platform/win32/text_win32.h"
#include "platform/win32/windows_api.h"

namespace twinmere::win32 {
namespace {

bool IsSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

bool IsDriveLetter(wchar_t c) {
  return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

// "C:\" followed by the rest.
bool HasDriveRoot(std::wstring_view text) {
  return text.size() >= 3 && IsDriveLetter(text[0]) && text[1] == L':' && IsSeparator(text[2]);
}

// Appends the names of `rest` to `out`, which ends in its root's "\":
// empty names and "." dropped, ".." taking back the name before it (never
// the root).
void AppendNames(std::wstring_view rest, size_t root, std::wstring& out) {
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = start;
    while (end < rest.size() && !IsSeparator(rest[end])) ++end;
    const std::wstring_view name = rest.substr(start, end - start);
    if (name == L"..") {
      if (out.size() > root) {
        out.pop_back();  // the "\" after the last name
        const size_t slash = out.rfind(L'\\');
        out.resize(slash == std::wstring::npos || slash + 1 < root ? root : slash + 1);
      }
    } else if (!name.empty() && name != L".") {
      out += name;
      out += L'\\';
    }
    start = end + 1;
  }
  if (out.size() > root) out.pop_back();
}

// The length of the root of a path in long-path form: "\\?\C:\",
// "\\?\UNC\server\share\", "\\?\Volume{...}\"; 0 when it has none.
size_t LongFormRoot(std::wstring_view text) {
  const std::wstring_view rest = text.substr(4);
  if (HasDriveRoot(rest)) return 7;
  if (rest.size() >= 4 && (rest.substr(0, 4) == L"UNC\\" || rest.substr(0, 4) == L"unc\\")) {
    const size_t server_end = rest.find(L'\\', 4);
    if (server_end == std::wstring_view::npos || server_end == 4) return 0;
    const size_t share_end = rest.find(L'\\', server_end + 1);
    if (share_end == server_end + 1) return 0;
    return share_end == std::wstring_view::npos ? text.size() + 1 : 4 + share_end + 1;
  }
  const size_t slash = rest.find(L'\\');
  if (slash == 0) return 0;
  return slash == std::wstring_view::npos ? text.size() + 1 : 4 + slash + 1;
}

std::wstring CurrentFolder() {
  std::wstring folder(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data());
    if (n == 0) return {};
    if (n < folder.size()) {
      folder.resize(n);
      return folder;
    }
    folder.resize(n);
  }
}

// The absolute form of a path that depends on the current folder.
std::wstring FromCurrentFolder(std::wstring_view text) {
  if (text.size() >= 2 && IsDriveLetter(text[0]) && text[1] == L':') {
    // "C:name": from the current folder of that drive, which only the
    // system knows. Such a path is rare enough to take its rewriting.
    const std::wstring copy(text);
    const DWORD n = GetFullPathNameW(copy.c_str(), 0, nullptr, nullptr);
    std::wstring full(n, L'\0');
    const DWORD m = GetFullPathNameW(copy.c_str(), n, full.data(), nullptr);
    if (n == 0 || m == 0 || m >= n) return {};
    full.resize(m);
    return full;
  }
  std::wstring current = CurrentFolder();
  if (current.empty()) return {};
  if (!text.empty() && IsSeparator(text[0])) {
    // "\name": from the root of the current folder's drive or share.
    SystemPath root;
    if (ToSystemPath(WideToUtf8(current), root) != 0) return {};
    std::wstring result = root.text.substr(0, root.root);
    result.append(text.substr(1));
    return result;
  }
  current += L'\\';
  current.append(text);
  return current;
}

}  // namespace

std::vector<std::wstring_view> SystemPath::Names() const {
  std::vector<std::wstring_view> names;
  const std::wstring_view all(text);
  size_t start = root;
  while (start < all.size()) {
    size_t end = all.find(L'\\', start);
    if (end == std::wstring_view::npos) end = all.size();
    names.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

SystemPath SystemPath::Parent() const {
  if (IsRoot()) return *this;
  const size_t slash = text.rfind(L'\\');
  SystemPath parent;
  parent.root = root;
  parent.text = text.substr(0, slash + 1 <= root ? root : slash);
  return parent;
}

std::wstring_view SystemPath::LastName() const {
  if (IsRoot()) return {};
  const size_t slash = text.rfind(L'\\');
  return std::wstring_view(text).substr(slash + 1);
}

ErrorCode ToSystemPath(std::string_view path, SystemPath& out) {
  if (path.empty()) return kErrNotFound;
  std::wstring text;
  if (!Utf8ToWide(path, text)) return ERROR_INVALID_NAME;
  if (text.find(L'\0') != std::wstring::npos) return ERROR_INVALID_NAME;
  const bool long_form = text.size() >= 4 && IsSeparator(text[0]) && IsSeparator(text[1]) &&
                         (text[2] == L'?' || text[2] == L'.') && IsSeparator(text[3]);
  if (!long_form && !IsAbsolutePath(path)) {
    text = FromCurrentFolder(text);
    if (text.empty()) return ERROR_BAD_PATHNAME;
  }
  for (wchar_t& c : text)
    if (c == L'/') c = L'\\';

  std::wstring rest;
  out.text.clear();
  if (long_form) {
    text[2] = L'?';  // the device form "\\.\" means the same for files
    const size_t root = LongFormRoot(text);
    if (root == 0) return ERROR_BAD_PATHNAME;
    out.text = text.substr(0, std::min(root, text.size()));
    if (root > text.size()) out.text += L'\\';
    rest = root < text.size() ? text.substr(root) : std::wstring();
  } else if (HasDriveRoot(text)) {
    out.text = L"\\\\?\\" + text.substr(0, 3);
    rest = text.substr(3);
  } else if (text.size() > 2 && text[0] == L'\\' && text[1] == L'\\') {
    const size_t server_end = text.find(L'\\', 2);
    if (server_end == std::wstring::npos || server_end == 2) return ERROR_BAD_PATHNAME;
    size_t share_end = text.find(L'\\', server_end + 1);
    if (share_end == server_end + 1) return ERROR_BAD_PATHNAME;
    if (share_end == std::wstring::npos) share_end = text.size();
    out.text = L"\\\\?\\UNC" + text.substr(1, share_end - 1) + L"\\";
    rest = share_end < text.size() ? text.substr(share_end + 1) : std::wstring();
  } else {
    return ERROR_BAD_PATHNAME;
  }
  out.root = out.text.size();
  AppendNames(rest, out.root, out.text);
  return 0;
}

bool IsAbsolutePath(std::string_view path) {
  const auto separator = [](char c) { return c == '/' || c == '\\'; };
  if (path.size() >= 3 &&
      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
      path[1] == ':' && separator(path[2]))
    return true;
  return path.size() >= 3 && separator(path[0]) && separator(path[1]) && !separator(path[2]);
}

size_t LastSeparator(std::string_view path) {
  return path.find_last_of("/\\");
}

bool SameNameIgnoringCase(std::wstring_view a, std::wstring_view b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace twinmere::win32
