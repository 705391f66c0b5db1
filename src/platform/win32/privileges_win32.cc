// Copying security descriptors needs the restore and take-ownership
// privileges (an owner other than oneself, access lists of items one may not
// change); reading and writing audit lists needs the security privilege.
#include <vector>

#include "platform/privileges.h"
#include "platform/win32/file_system_win32_internal.h"

namespace twinmere {
namespace {

// Enables one privilege of the token: 0, ERROR_NOT_ALL_ASSIGNED where the
// token does not hold it (AdjustTokenPrivileges succeeds then all the
// same), or the error of the calls.
ErrorCode EnablePrivilege(HANDLE token, const wchar_t* name) {
  TOKEN_PRIVILEGES wanted{};
  wanted.PrivilegeCount = 1;
  wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!LookupPrivilegeValueW(nullptr, name, &wanted.Privileges[0].Luid)) return win32::LastError();
  if (!AdjustTokenPrivileges(token, FALSE, &wanted, 0, nullptr, nullptr)) return win32::LastError();
  return GetLastError() == ERROR_NOT_ALL_ASSIGNED ? ERROR_NOT_ALL_ASSIGNED : 0;
}

}  // namespace

// The security privilege is asked for but not needed: without it the audit
// lists are left alone (the file system reads the token to know).
ErrorCode CheckSecurityCapabilities() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
    return win32::LastError();
  const win32::Handle owned(token);
  EnablePrivilege(token, L"SeSecurityPrivilege");
  if (const ErrorCode code = EnablePrivilege(token, L"SeRestorePrivilege"); code != 0) return code;
  return EnablePrivilege(token, L"SeTakeOwnershipPrivilege");
}

// A member of the built-in Administrators group, whatever the group's flags
// in the token say: a group that only denies (the token of an elevatable
// administrator) counts too.
bool HasAdministratorRights() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  const win32::Handle owned(token);
  DWORD needed = 0;
  GetTokenInformation(token, TokenGroups, nullptr, 0, &needed);
  if (needed == 0) return false;
  std::vector<DWORD> buffer((needed + sizeof(DWORD) - 1) / sizeof(DWORD));
  if (!GetTokenInformation(token, TokenGroups, buffer.data(), needed, &needed)) return false;
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                0, 0, 0, 0, &administrators))
    return false;
  const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
  bool found = false;
  for (DWORD i = 0; i < groups->GroupCount && !found; ++i)
    found = IsValidSid(groups->Groups[i].Sid) && EqualSid(groups->Groups[i].Sid, administrators);
  FreeSid(administrators);
  return found;
}

}  // namespace twinmere
