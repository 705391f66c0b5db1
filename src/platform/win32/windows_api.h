// The Windows headers as this layer includes them, and the few declarations
// of the native API that the compiler's headers lack. Only src/platform/win32
// and its tests include this.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// clang-format off
#include <windows.h>
#include <winternl.h>
#include <winioctl.h>
// clang-format on

// The headers name the narrow or wide variant of many calls after the
// plain name; FileSystem has methods of two of those names.
#undef CopyFile
#undef DeleteFile

namespace twinmere::win32 {

// Classes of the native calls and of GetFileInformationByHandleEx that the
// compiler's headers leave out (or declare only for a newer target).
inline constexpr int kFileIdBothDirectoryInformation = 37;  // NtQueryDirectoryFile
inline constexpr int kFileRenameInformation = 10;           // NtSetInformationFile
inline constexpr int kFileLinkInformation = 11;
inline constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
inline constexpr auto kFileCaseSensitiveInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(23);
inline constexpr DWORD kDispositionDelete = 0x1;
inline constexpr DWORD kDispositionPosixSemantics = 0x2;
inline constexpr DWORD kCaseSensitiveFolder = 0x1;  // FILE_CS_FLAG_CASE_SENSITIVE_DIR
inline constexpr DWORD kReparseTagAfUnix = 0x80000023;
// "An operation is not supported on a directory." (ERROR_DIRECTORY_NOT_SUPPORTED)
inline constexpr DWORD kErrorDirectoryNotSupported = 336;
inline constexpr DWORD kReparseTagLxSymlink = 0xA000001D;
inline constexpr NTSTATUS kStatusNoSuchFile = static_cast<NTSTATUS>(0xC000000F);
inline constexpr NTSTATUS kStatusNoMoreFiles = static_cast<NTSTATUS>(0x80000006);
inline constexpr NTSTATUS kStatusInvalidInfoClass = static_cast<NTSTATUS>(0xC0000003);
inline constexpr NTSTATUS kStatusInvalidParameter = static_cast<NTSTATUS>(0xC000000D);
inline constexpr NTSTATUS kStatusNotSupported = static_cast<NTSTATUS>(0xC00000BB);
inline constexpr NTSTATUS kStatusObjectNameCollision = static_cast<NTSTATUS>(0xC0000035);

// The rename and hard-link record of NtSetInformationFile: a name relative
// to RootDirectory (a handle of the folder) or a full native path.
struct FileLinkOrRenameInformation {
  BOOLEAN ReplaceIfExists;
  HANDLE RootDirectory;
  ULONG FileNameLength;  // bytes
  WCHAR FileName[1];
};

// The reparse data of symbolic links and mount points (junctions), as
// FSCTL_GET_REPARSE_POINT gives it.
struct ReparseDataHeader {
  ULONG ReparseTag;
  USHORT ReparseDataLength;
  USHORT Reserved;
};
struct ReparseNames {
  USHORT SubstituteNameOffset;
  USHORT SubstituteNameLength;
  USHORT PrintNameOffset;
  USHORT PrintNameLength;
};
inline constexpr ULONG kSymlinkFlagRelative = 0x1;

}  // namespace twinmere::win32

extern "C" {
NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE file, HANDLE event, PVOID apc_routine, PVOID apc_context,
                                    PIO_STATUS_BLOCK io_status, PVOID information, ULONG length,
                                    FILE_INFORMATION_CLASS information_class,
                                    BOOLEAN return_single_entry, PUNICODE_STRING file_name,
                                    BOOLEAN restart_scan);
}
