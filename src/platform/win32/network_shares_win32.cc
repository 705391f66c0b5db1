// Shares through the network providers (mpr): WNetGetResourceInformationW
// answers for a share that the caller may not list, which a lookup of the
// folder cannot.
#include <algorithm>
#include <vector>

#include "platform/network_shares.h"
#include "platform/win32/text_win32.h"
#include "platform/win32/windows_api.h"
// After windows.h, which it needs.
#include <winnetwk.h>

namespace twinmere {

bool IsNetworkDiskShare(const std::string& path) {
  std::string system = path;
  std::replace(system.begin(), system.end(), '/', '\\');
  while (system.size() > 2 && system.back() == '\\') system.pop_back();
  std::wstring remote;
  if (!win32::Utf8ToWide(system, remote)) return false;
  NETRESOURCEW wanted{};
  wanted.dwType = RESOURCETYPE_DISK;
  wanted.lpRemoteName = remote.data();
  // The answer holds a NETRESOURCEW and the texts it points to.
  std::vector<DWORD> buffer(64);
  for (int attempt = 0; attempt < 3; ++attempt) {
    auto size = static_cast<DWORD>(buffer.size() * sizeof(DWORD));
    wchar_t* rest = nullptr;
    const DWORD result = WNetGetResourceInformationW(&wanted, buffer.data(), &size, &rest);
    if (result == ERROR_MORE_DATA) {
      buffer.resize(size / sizeof(DWORD) + 1);
      continue;
    }
    if (result != NO_ERROR) return false;
    const auto* found = reinterpret_cast<const NETRESOURCEW*>(buffer.data());
    return found->dwType == RESOURCETYPE_DISK && (rest == nullptr || *rest == L'\0');
  }
  return false;
}

}  // namespace twinmere
