// Real folder trees in a temporary folder, on Windows.
#include <algorithm>
#include <random>

#include "platform/file_system.h"
#include "platform/path_syntax.h"
#include "platform/win32/attributes_win32.h"
#include "platform/win32/system_paths_win32.h"
#include "platform/win32/text_win32.h"
#include "platform/win32/windows_api.h"
#include "support/temp_tree.h"

namespace twinmere::testing {
namespace {

std::wstring System(const std::string& path) {
  win32::SystemPath system;
  if (win32::ToSystemPath(path, system) != 0) ADD_FAILURE() << "bad path " << path;
  return system.text;
}

void MakeParents(const std::string& path) {
  const size_t slash = win32::LastSeparator(path);
  if (slash == std::string::npos || slash < 3) return;
  const std::string parent = path.substr(0, slash);
  if (GetFileAttributesW(System(parent).c_str()) != INVALID_FILE_ATTRIBUTES) return;
  MakeParents(parent);
  if (!CreateDirectoryW(System(parent).c_str(), nullptr))
    ADD_FAILURE() << "CreateDirectoryW " << parent << ": " << GetLastError();
}

}  // namespace

TempTree::TempTree() {
  wchar_t temp[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  // In the program's form, as every path inside it: "/" between names.
  std::string base = FromUserPath(win32::WideToUtf8({temp, n}));
  while (!base.empty() && base.back() == '/') base.pop_back();
  std::random_device random;
  for (int attempt = 0; attempt < 100 && root_.empty(); ++attempt) {
    const std::string candidate = base + "/twinmere-test-" + std::to_string(random() % 1000000000u);
    if (CreateDirectoryW(System(candidate).c_str(), nullptr)) root_ = candidate;
  }
  if (root_.empty()) ADD_FAILURE() << "no temporary folder in " << base;
}

TempTree::~TempTree() {
  if (!root_.empty()) RemoveTree(root_);
}

std::string TempTree::Path(const std::string& relative) const {
  return relative.empty() ? root_ : root_ + "/" + relative;
}

std::string TempTree::Folder(const std::string& relative) const {
  return Path(relative) + "/";
}

void TempTree::MakeFolder(const std::string& relative) {
  const std::string path = Path(relative);
  MakeParents(path);
  if (!CreateDirectoryW(System(path).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
    ADD_FAILURE() << "CreateDirectoryW " << path << ": " << GetLastError();
}

void TempTree::WriteFile(const std::string& relative, const std::string& contents) {
  const std::string path = Path(relative);
  MakeParents(path);
  const HANDLE file = CreateFileW(System(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    ADD_FAILURE() << "cannot write " << path << ": " << GetLastError();
    return;
  }
  DWORD written = 0;
  if (!::WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr) ||
      written != contents.size())
    ADD_FAILURE() << "cannot write " << path << ": " << GetLastError();
  CloseHandle(file);
}

void TempTree::MakeLink(const std::string& relative, const std::string& link_text) {
  const std::string path = Path(relative);
  MakeParents(path);
  std::wstring text;
  win32::Utf8ToWide(link_text, text);
  if (!CreateSymbolicLinkW(System(path).c_str(), text.c_str(),
                           SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE))
    ADD_FAILURE() << "CreateSymbolicLinkW " << path << ": " << GetLastError();
}

void TempTree::SetTime(const std::string& relative, int64_t seconds, int64_t nanoseconds) {
  const HANDLE item =
      CreateFileW(System(Path(relative)).c_str(), FILE_WRITE_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  const auto units =
      static_cast<uint64_t>((seconds * 1'000'000'000 + nanoseconds) / 100 + 116444736000000000);
  const FILETIME time{static_cast<DWORD>(units), static_cast<DWORD>(units >> 32)};
  if (item == INVALID_HANDLE_VALUE || !SetFileTime(item, nullptr, &time, &time))
    ADD_FAILURE() << "SetFileTime " << relative << ": " << GetLastError();
  if (item != INVALID_HANDLE_VALUE) CloseHandle(item);
}

// The mode as the Windows file system reads it: read-only and the other
// attributes (platform/win32/attributes_win32.h).
void TempTree::SetMode(const std::string& relative, uint32_t mode) {
  const DWORD attributes = win32::AttributesFromMode(mode);
  if (!SetFileAttributesW(System(Path(relative)).c_str(),
                          attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL))
    ADD_FAILURE() << "SetFileAttributesW " << relative << ": " << GetLastError();
}

bool TempTree::Exists(const std::string& relative) const {
  return GetFileAttributesW(System(Path(relative)).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string TempTree::ReadFile(const std::string& relative) const {
  const HANDLE file = CreateFileW(System(Path(relative)).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  std::string contents;
  if (file == INVALID_HANDLE_VALUE) return contents;
  char buffer[65536];
  DWORD n = 0;
  while (::ReadFile(file, buffer, sizeof buffer, &n, nullptr) && n > 0) contents.append(buffer, n);
  CloseHandle(file);
  return contents;
}

std::string TempTree::ReadLink(const std::string& relative) const {
  std::string text;
  CreatePlatformFileSystem()->ReadLink(Path(relative), text);
  return text;
}

std::vector<std::string> TempTree::List(const std::string& relative) const {
  std::vector<std::string> names;
  WIN32_FIND_DATAW entry;
  const HANDLE search = FindFirstFileW((System(Path(relative)) + L"\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring_view name(entry.cFileName);
    if (name != L"." && name != L"..") names.push_back(win32::WideToUtf8(name));
  } while (FindNextFileW(search, &entry));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

// Links go as links (a folder link with RemoveDirectoryW, never into it);
// read-only items are made writable first.
bool RemoveTree(const std::string& path) {
  const std::wstring system = System(path);
  const DWORD attributes = GetFileAttributesW(system.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError() == ERROR_FILE_NOT_FOUND;
  if (attributes & FILE_ATTRIBUTE_READONLY)
    SetFileAttributesW(system.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return DeleteFileW(system.c_str()) != FALSE;
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    WIN32_FIND_DATAW entry;
    const HANDLE search = FindFirstFileW((system + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
      std::vector<std::string> names;
      do {
        const std::wstring_view name(entry.cFileName);
        if (name != L"." && name != L"..") names.push_back(win32::WideToUtf8(name));
      } while (FindNextFileW(search, &entry));
      FindClose(search);
      for (const std::string& name : names)
        if (!RemoveTree(path + "\\" + name)) return false;
    }
  }
  return RemoveDirectoryW(system.c_str()) != FALSE;
}

int RunAsUnprivileged(const std::function<int()>& body) {
  (void)body;
  return -1;  // no switch of user here: the tests that need one skip
}

bool IsRoot() {
  return false;
}

// Tried once, in a temporary folder of its own.
bool LinksCanBeMade() {
  static const bool can = [] {
    TempTree tree;
    const std::wstring link = System(tree.Path("link"));
    // Wine 8 answers that it made one, and makes nothing.
    if (!CreateSymbolicLinkW(link.c_str(), L"target", SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE))
      return false;
    const DWORD attributes = GetFileAttributesW(link.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  }();
  return can;
}

}  // namespace twinmere::testing
