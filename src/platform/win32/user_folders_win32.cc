// The user's folders on Windows, from the environment that every Windows
// session sets. The program's settings live in the roaming application
// data (%APPDATA%), its reports of bare names in the local one
// (%LOCALAPPDATA%).
#include <map>
#include <vector>

#include "platform/path_syntax.h"
#include "platform/user_folders.h"
#include "platform/win32/file_system_win32_internal.h"
#include "platform/win32/text_win32.h"
// After windows.h, which they need.
#include <objbase.h>
#include <shlobj.h>

namespace twinmere {
namespace {

// An absolute path in the program's form (platform/path_syntax.h): "/"
// between names, no trailing "/" but a root's ("C:/").
std::string Absolute(const char* value) {
  if (value == nullptr || !win32::IsAbsolutePath(value)) return {};
  std::string text = FromUserPath(value);
  while (text.size() > PathRootLength(text) && text.back() == '/') text.pop_back();
  return text;
}

std::string Below(const std::string& folder, const char* names) {
  return folder.empty() ? std::string() : folder + names;
}

}  // namespace

UserFolders UserFoldersFromEnvironment(const GetEnv& getenv_fn) {
  UserFolders f;
  f.home = Absolute(getenv_fn("USERPROFILE"));
  f.config = Absolute(getenv_fn("APPDATA"));
  if (f.config.empty()) f.config = Below(f.home, "/AppData/Roaming");
  f.state = Absolute(getenv_fn("LOCALAPPDATA"));
  if (f.state.empty()) f.state = Below(f.home, "/AppData/Local");
  f.data = f.config;
  f.documents = Below(f.home, "/Documents");
  f.temp = Absolute(getenv_fn("TEMP"));
  if (f.temp.empty()) f.temp = Absolute(getenv_fn("TMP"));
  if (f.temp.empty()) f.temp = Below(f.state, "/Temp");
  f.runtime = f.temp;
  return f;
}

// The environment's values as UTF-8 (getenv would give them in the ANSI
// code page), and the documents folder where the user moved it.
UserFolders UserFoldersFromEnvironment() {
  std::map<std::string, std::string> values;
  UserFolders f = UserFoldersFromEnvironment([&values](const char* name) -> const char* {
    std::wstring wide_name;
    win32::Utf8ToWide(name, wide_name);
    std::vector<wchar_t> value(32768);
    const DWORD n =
        GetEnvironmentVariableW(wide_name.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (n == 0 || n >= value.size()) return nullptr;
    return values[name].assign(win32::WideToUtf8({value.data(), n})).c_str();
  });
  wchar_t* documents = nullptr;
  if (SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &documents) == S_OK) {
    const std::string path = Absolute(win32::WideToUtf8(documents).c_str());
    if (!path.empty()) f.documents = path;
  }
  CoTaskMemFree(documents);
  return f;
}

// Deleted items go to the Recycle Bin through the shell on Windows, not
// into a folder that this program writes.
std::string HomeTrashFolder(const UserFolders& folders) {
  (void)folders;
  return {};
}

namespace {

// The last part of the SID that the process token holds as `kind`
// (TokenUser, TokenPrimaryGroup); 0 when it cannot be read.
uint32_t RelativeIdOf(TOKEN_INFORMATION_CLASS kind) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return 0;
  const win32::Handle owned(token);
  DWORD needed = 0;
  GetTokenInformation(token, kind, nullptr, 0, &needed);
  std::vector<DWORD> buffer((needed + sizeof(DWORD) - 1) / sizeof(DWORD) + 1);
  if (!GetTokenInformation(token, kind, buffer.data(),
                           static_cast<DWORD>(buffer.size() * sizeof(DWORD)), &needed))
    return 0;
  // TOKEN_USER and TOKEN_PRIMARY_GROUP both begin with the SID's address.
  const PSID sid = kind == TokenUser
                       ? reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid
                       : reinterpret_cast<const TOKEN_PRIMARY_GROUP*>(buffer.data())->PrimaryGroup;
  const UCHAR count = *GetSidSubAuthorityCount(sid);
  return count == 0 ? 0 : *GetSidSubAuthority(sid, count - 1);
}

}  // namespace

// Windows names users by SID; the number that stands for one here is the
// last part of it (the relative id: 500 for the local Administrator, 1000
// and up for the accounts made later).
uint32_t CurrentUserId() {
  return RelativeIdOf(TokenUser);
}

// The group that new items get as theirs: the token's primary group (513,
// "None" or "Domain Users", for most accounts).
uint32_t CurrentGroupId() {
  return RelativeIdOf(TokenPrimaryGroup);
}

std::string ProgramStateFolder(const UserFolders& folders) {
  return Below(folders.state, "/twinmere");
}

}  // namespace twinmere
