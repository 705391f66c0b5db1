#include "platform/win32/platform_facts_win32.h"

#include "platform/platform_facts.h"
#include "platform/privileges.h"
#include "platform/win32/text_win32.h"
#include "platform/win32/windows_api.h"

extern "C" NTSTATUS NTAPI RtlGetVersion(PRTL_OSVERSIONINFOW version);

namespace twinmere::win32 {

int32_t ClassifyWindowsVersion(const WindowsVersion& v) {
  if (v.major < 4) return -1;
  if (v.platform == 1) {
    if (v.major > 4 || v.minor >= 91) return 3;
    if (v.minor >= 90) return 2;
    return v.minor >= 10 ? 1 : 0;
  }
  if (v.platform != 2) return -1;
  if (v.major == 4) return 4;
  if (v.major == 5 && v.minor <= 2) return static_cast<int32_t>(5 + v.minor);
  return 8;
}

std::string FormatWindowsVersion(const WindowsVersion& v, int32_t index) {
  static constexpr const char* kNames[] = {
      " 95", " 98", " Millennium Edition", " 9X", " NT", " 2000", " XP", " 2003"};
  std::string text = "Windows";
  if (index >= 0 && index < 8) text += kNames[index];
  std::string minor = std::to_string(v.minor);
  if (minor.size() < 2) minor.insert(0, 2 - minor.size(), '0');
  std::string version =
      std::to_string(v.major) + "." + minor + "." + std::to_string(v.build) + " " + v.service_pack;
  while (!version.empty() && version.back() == ' ') version.pop_back();
  return text + ", version " + version;
}

}  // namespace twinmere::win32

namespace twinmere {

// RtlGetVersion tells the version as it is; GetVersionExW tells a program
// without a manifest that names the newest systems that it runs on 8.
PlatformFacts DetectPlatformFacts() {
  RTL_OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  win32::WindowsVersion version;
  if (NT_SUCCESS(RtlGetVersion(&info))) {
    version.platform = info.dwPlatformId;
    version.major = info.dwMajorVersion;
    version.minor = info.dwMinorVersion;
    version.build = info.dwBuildNumber;
    version.service_pack = win32::WideToUtf8(info.szCSDVersion);
  }
  PlatformFacts facts;
  // A version the table does not know can only be a newer one here.
  const int32_t index = win32::ClassifyWindowsVersion(version);
  facts.OsIndex = index >= 0 ? index : 8;
  facts.OsText = win32::FormatWindowsVersion(version, facts.OsIndex);
  facts.IsNT = version.platform == 2;
  facts.IsAdmin = HasAdministratorRights();
  return facts;
}

}  // namespace twinmere
