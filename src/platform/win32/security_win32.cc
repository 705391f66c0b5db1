// Security descriptors: owner, group, access list (DACL) and, where the
// security privilege is enabled, audit list (SACL). They are read and
// written through the item's handle with the kernel's own calls, which take
// a descriptor as it stands: SetSecurityInfo would add the ACEs that the
// Target's folder passes on, and the copy would then never equal its
// Source.
#include <cstring>
#include <vector>

#include "platform/win32/file_system_win32_internal.h"

namespace twinmere::win32 {
namespace {

constexpr SECURITY_INFORMATION kBaseInformation =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
// The control bits that belong to what a descriptor says: whether its lists
// take entries from the folder above, and whether they came from there.
constexpr SECURITY_DESCRIPTOR_CONTROL kMeaningfulControl =
    SE_DACL_PROTECTED | SE_SACL_PROTECTED | SE_DACL_AUTO_INHERITED | SE_SACL_AUTO_INHERITED;

uint32_t LastPartOf(PSID sid) {
  if (sid == nullptr || !IsValidSid(sid)) return 0;
  const UCHAR count = *GetSidSubAuthorityCount(sid);
  return count == 0 ? 0 : *GetSidSubAuthority(sid, count - 1);
}

// A copy of `acl` without spare room after its entries, which the list's
// header would otherwise count.
std::vector<DWORD> Compact(const ACL* acl) {
  DWORD size = sizeof(ACL);
  for (WORD i = 0; i < acl->AceCount; ++i) {
    void* ace = nullptr;
    if (GetAce(const_cast<ACL*>(acl), i, &ace)) size += static_cast<ACE_HEADER*>(ace)->AceSize;
  }
  std::vector<DWORD> copy((size + sizeof(DWORD) - 1) / sizeof(DWORD));
  auto* compact = reinterpret_cast<ACL*>(copy.data());
  InitializeAcl(compact, size, acl->AclRevision);
  for (WORD i = 0; i < acl->AceCount; ++i) {
    void* ace = nullptr;
    if (GetAce(const_cast<ACL*>(acl), i, &ace))
      AddAce(compact, acl->AclRevision, MAXDWORD, ace, static_cast<ACE_HEADER*>(ace)->AceSize);
  }
  return copy;
}

// The descriptor of `security` in aligned memory, and the information bits.
bool Unpack(const std::string& descriptor, SECURITY_INFORMATION& information,
            std::vector<DWORD>& bytes) {
  if (descriptor.size() < sizeof(DWORD) + SECURITY_DESCRIPTOR_MIN_LENGTH) return false;
  std::memcpy(&information, descriptor.data(), sizeof information);
  bytes.assign((descriptor.size() - sizeof(DWORD) + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
  std::memcpy(bytes.data(), descriptor.data() + sizeof(DWORD), descriptor.size() - sizeof(DWORD));
  return IsValidSecurityDescriptor(bytes.data()) != FALSE;
}

}  // namespace

ErrorCode ReadDescriptor(HANDLE item, bool with_sacl, Security& security) {
  const SECURITY_INFORMATION information =
      kBaseInformation | (with_sacl ? SACL_SECURITY_INFORMATION : 0);
  std::vector<DWORD> read(64);
  for (;;) {
    DWORD needed = 0;
    if (GetKernelObjectSecurity(item, information, read.data(),
                                static_cast<DWORD>(read.size() * sizeof(DWORD)), &needed))
      break;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return LastError();
    read.resize((needed + sizeof(DWORD) - 1) / sizeof(DWORD));
  }
  PSECURITY_DESCRIPTOR source = read.data();
  PSID owner = nullptr;
  PSID group = nullptr;
  BOOL defaulted = FALSE;
  BOOL dacl_present = FALSE;
  BOOL sacl_present = FALSE;
  PACL dacl = nullptr;
  PACL sacl = nullptr;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!GetSecurityDescriptorOwner(source, &owner, &defaulted) ||
      !GetSecurityDescriptorGroup(source, &group, &defaulted) ||
      !GetSecurityDescriptorDacl(source, &dacl_present, &dacl, &defaulted) ||
      !GetSecurityDescriptorSacl(source, &sacl_present, &sacl, &defaulted) ||
      !GetSecurityDescriptorControl(source, &control, &revision))
    return LastError();

  // Rebuilt from its parts, so that the layout is the same for every item.
  SECURITY_DESCRIPTOR built;
  InitializeSecurityDescriptor(&built, SECURITY_DESCRIPTOR_REVISION);
  std::vector<DWORD> dacl_copy, sacl_copy;
  if (dacl != nullptr) dacl_copy = Compact(dacl);
  if (sacl != nullptr) sacl_copy = Compact(sacl);
  SetSecurityDescriptorOwner(&built, owner, FALSE);
  SetSecurityDescriptorGroup(&built, group, FALSE);
  SetSecurityDescriptorDacl(&built, dacl_present,
                            dacl != nullptr ? reinterpret_cast<PACL>(dacl_copy.data()) : nullptr,
                            FALSE);
  if (with_sacl)
    SetSecurityDescriptorSacl(&built, sacl_present,
                              sacl != nullptr ? reinterpret_cast<PACL>(sacl_copy.data()) : nullptr,
                              FALSE);
  SetSecurityDescriptorControl(&built, kMeaningfulControl, control & kMeaningfulControl);
  DWORD length = 0;
  MakeSelfRelativeSD(&built, nullptr, &length);
  std::string bytes(sizeof(DWORD) + length, '\0');
  if (!MakeSelfRelativeSD(&built, bytes.data() + sizeof(DWORD), &length)) return LastError();
  std::memcpy(bytes.data(), &information, sizeof(DWORD));

  security = Security{};
  security.uid = LastPartOf(owner);
  security.gid = LastPartOf(group);
  security.descriptor = std::move(bytes);
  return 0;
}

bool HoldsSacl(const std::string& descriptor) {
  SECURITY_INFORMATION information = 0;
  if (descriptor.size() < sizeof information) return false;
  std::memcpy(&information, descriptor.data(), sizeof information);
  return (information & SACL_SECURITY_INFORMATION) != 0;
}

ErrorCode WriteDescriptor(HANDLE item, const std::string& descriptor, bool with_sacl) {
  SECURITY_INFORMATION information = 0;
  std::vector<DWORD> bytes;
  if (!Unpack(descriptor, information, bytes)) return ERROR_INVALID_SECURITY_DESCR;
  if (!with_sacl) information &= ~static_cast<SECURITY_INFORMATION>(SACL_SECURITY_INFORMATION);
  if (!SetKernelObjectSecurity(item, information, bytes.data())) return LastError();
  return 0;
}

ErrorCode CopyOwner(HANDLE from, HANDLE to) {
  constexpr SECURITY_INFORMATION kOwnerAndGroup =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION;
  std::vector<DWORD> bytes(64);
  for (;;) {
    DWORD needed = 0;
    if (GetKernelObjectSecurity(from, kOwnerAndGroup, bytes.data(),
                                static_cast<DWORD>(bytes.size() * sizeof(DWORD)), &needed))
      break;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return LastError();
    bytes.resize((needed + sizeof(DWORD) - 1) / sizeof(DWORD));
  }
  return SetKernelObjectSecurity(to, kOwnerAndGroup, bytes.data()) ? 0 : LastError();
}

bool WinFileSystem::SaclAccess() {
  if (sacl_access_ >= 0) return sacl_access_ != 0;
  sacl_access_ = 0;
  HANDLE token = nullptr;
  LUID security{};
  if (!LookupPrivilegeValueW(nullptr, L"SeSecurityPrivilege", &security) ||
      !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
    return false;
  const Handle owned(token);
  DWORD needed = 0;
  GetTokenInformation(token, TokenPrivileges, nullptr, 0, &needed);
  std::vector<DWORD> buffer((needed + sizeof(DWORD) - 1) / sizeof(DWORD) + 1);
  if (!GetTokenInformation(token, TokenPrivileges, buffer.data(),
                           static_cast<DWORD>(buffer.size() * sizeof(DWORD)), &needed))
    return false;
  const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
  for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
    const LUID_AND_ATTRIBUTES& entry = privileges->Privileges[i];
    if (entry.Luid.LowPart == security.LowPart && entry.Luid.HighPart == security.HighPart &&
        (entry.Attributes & SE_PRIVILEGE_ENABLED))
      sacl_access_ = 1;
  }
  return sacl_access_ != 0;
}

ErrorCode WinFileSystem::ReadSecurity(const std::string& path, Security& security) {
  const Call call(*this);
  Folder* folder = nullptr;
  std::wstring name;
  if (const ErrorCode code = ResolveParent(path, folder, name); code != 0) return code;
  if (!name.empty() && !IsPlainName(name)) return ERROR_INVALID_NAME;
  const bool with_sacl = SaclAccess();
  Handle item;
  if (const ErrorCode code = OpenRelative(
          folder->handle.get(), name,
          {READ_CONTROL | FILE_READ_ATTRIBUTES | (with_sacl ? ACCESS_SYSTEM_SECURITY : 0u)}, item);
      code != 0)
    return code;
  return ReadDescriptor(item.get(), with_sacl, security);
}

ErrorCode WinFileSystem::WriteSecurity(const std::string& path, const Security& security) {
  const Call call(*this);
  Folder* folder = nullptr;
  std::wstring name;
  if (const ErrorCode code = ResolveParent(path, folder, name); code != 0) return code;
  if (!name.empty() && !IsPlainName(name)) return ERROR_INVALID_NAME;
  const bool with_sacl = SaclAccess() && HoldsSacl(security.descriptor);
  Handle item;
  if (const ErrorCode code = OpenRelative(
          folder->handle.get(), name,
          {WRITE_DAC | WRITE_OWNER | READ_CONTROL | (with_sacl ? ACCESS_SYSTEM_SECURITY : 0u)},
          item);
      code != 0)
    return code;
  if (const ErrorCode code = WriteDescriptor(item.get(), security.descriptor, with_sacl); code != 0)
    return code;
  NoteWritten(*folder);
  return 0;
}

}  // namespace twinmere::win32
