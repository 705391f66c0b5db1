// The Windows file system's parts, shared by its source files.
//
// Every item is reached through the handle of its folder: a name is opened
// relative to that handle (NtCreateFile with a root folder, as openat does
// on Linux), renames and hard links name their new place relative to the
// handle of its folder. Below a confined root each folder is opened one
// name at a time without following a reparse point, so a link among the
// folders of a path fails the call (kErrLinkInPath) instead of leading
// elsewhere, and nothing changes the item between the check and the call.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "platform/win32/attributes_win32.h"
#include "platform/win32/system_paths_win32.h"
#include "platform/win32/windows_api.h"

namespace twinmere::win32 {

// An owned handle, closed when it goes.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() { Reset(); }
  Handle(Handle&& other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      Reset();
      h_ = std::exchange(other.h_, nullptr);
    }
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  HANDLE get() const { return h_; }
  bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  HANDLE Release() { return std::exchange(h_, nullptr); }
  void Reset() {
    if (valid()) CloseHandle(h_);
    h_ = nullptr;
  }

 private:
  HANDLE h_ = nullptr;
};

// The Windows error number of a native status.
ErrorCode FromStatus(NTSTATUS status);
// GetLastError() of the call that just failed (never 0).
ErrorCode LastError();

// How OpenRelative opens a name.
struct OpenRequest {
  ACCESS_MASK access = FILE_READ_ATTRIBUTES;
  ULONG disposition = FILE_OPEN;  // FILE_CREATE: a new item, never an existing one
  // FILE_DIRECTORY_FILE, FILE_NON_DIRECTORY_FILE, FILE_OPEN_REPARSE_POINT...
  // (every open is synchronous and asks for backup intent, which counts
  // only where the privileges are enabled).
  ULONG options = FILE_OPEN_REPARSE_POINT;
  ULONG attributes = 0;  // of a new item
  ULONG share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
};

// Opens `name` (one name, or empty for the folder itself) in the folder
// `folder`, names compared ignoring letter case as Windows does.
ErrorCode OpenRelative(HANDLE folder, std::wstring_view name, const OpenRequest& request,
                       Handle& out);

// Opens the path `path` as written, links followed, with CreateFileW.
ErrorCode OpenPath(const SystemPath& path, DWORD access, DWORD flags, Handle& out);

// Names that cannot be a single Windows name: empty, ".", "..", or holding
// a separator, a wildcard or a stream's ":".
bool IsPlainName(std::wstring_view name);

// What the volume of an open item is and keeps.
struct VolumeFacts {
  uint64_t serial = 0;
  DWORD flags = 0;    // FILE_PERSISTENT_ACLS, FILE_SUPPORTS_REPARSE_POINTS ...
  std::wstring type;  // "NTFS", "FAT32", "exFAT" ...
};
ErrorCode ReadVolumeFacts(HANDLE item, VolumeFacts& facts);
// The attributes of kWrittenAttributes that the volume keeps: FAT and exFAT
// keep read-only, hidden, system and archive only.
DWORD KeptAttributes(const VolumeFacts& volume);

// Fills `info` from one entry of a folder listing on the volume `volume`;
// false for "." and ".." and for items that stay invisible (sockets).
bool FillInfo(const FILE_ID_BOTH_DIR_INFO& entry, uint64_t volume, ItemInfo& info);

// The reparse data of the open item `item` (opened without following it).
ErrorCode ReadReparseData(HANDLE item, std::string& data);
// The text of a link's reparse data: the name it leads to, as stored.
ErrorCode LinkText(std::string_view data, std::string& text);

// A system path as the user writes it, without the long-path prefix.
std::string ShownPath(const std::wstring& text);

// File times: nanoseconds since 1970 and 100-nanosecond units since 1601.
FileTime FromSystemTime(int64_t units);
int64_t ToSystemTime(FileTime time);

class WinFileSystem final : public FileSystem {
 public:
  WinFileSystem() = default;
  ~WinFileSystem() override = default;

  void SetConfinedRoots(const std::vector<std::string>& roots) override;
  ErrorCode OpenFolder(const std::string& folder, std::unique_ptr<FolderReader>& reader) override;
  ErrorCode Lookup(const std::string& path, ItemInfo& info) override;
  ErrorCode CreateFolder(const std::string& path) override;
  ErrorCode RemoveFolder(const std::string& path) override;
  ErrorCode DeleteFile(const std::string& path) override;
  ErrorCode Rename(const std::string& from, const std::string& to, RenameMode mode) override;
  ErrorCode CreateNewFile(const std::string& path) override;
  ErrorCode WriteNewFile(const std::string& path, std::string_view contents) override;
  ErrorCode SetMode(const std::string& path, uint32_t mode) override;
  ErrorCode SetTimes(const std::string& path, FileTime access, FileTime modify) override;
  ErrorCode CopyFile(const std::string& from, const std::string& to,
                     const CopyOptions& options) override;
  ErrorCode CopyFolderAttributes(const std::string& from, const std::string& to,
                                 const CopyOptions& options) override;
  VolumeAbilities Abilities(const std::string& path) override;
  bool KnownAbilities(const std::string& path, VolumeAbilities& abilities) override;
  bool NamesIgnoreCase(const std::string& folder) override;
  ErrorCode ReadLink(const std::string& path, std::string& text) override;
  ErrorCode ReadFileText(const std::string& path, size_t limit, std::string& text) override;
  ErrorCode ReadSecurity(const std::string& path, Security& security) override;
  ErrorCode WriteSecurity(const std::string& path, const Security& security) override;
  bool KeepsSecurity(const std::string& path) override;
  ErrorCode SyncFileSystem(const std::string& path) override;
  std::vector<WrittenFileSystem> WrittenFileSystems() const override { return written_; }
  bool HoldsUnlistedItems(const std::string& folder) override;
  ErrorCode CreateLockedFile(const std::string& path, std::string_view contents,
                             std::unique_ptr<FileLock>& lock) override;
  ErrorCode LockFile(const std::string& path, size_t limit, std::string& contents,
                     std::unique_ptr<FileLock>& lock) override;

 private:
  // An open folder of the cache, with what is known of its volume.
  struct Folder {
    std::wstring path;  // SystemPath::text
    Handle handle;
    bool volume_known = false;
    VolumeFacts volume;
  };

  // The folder that holds the last name of `path`, and that name (empty
  // for a root, which then is the folder itself). The folder stays valid
  // until the call ends, or until ForgetFoldersAt or the ResolveParent
  // after the next one.
  ErrorCode ResolveParent(const std::string& path, Folder*& folder, std::wstring& name);
  // The same for a system path; the folder is opened anew, not cached.
  ErrorCode OpenParent(const SystemPath& path, Handle& folder, std::wstring& name);
  // Opens the folder `path` itself, below a confined root one name at a
  // time without following a link.
  ErrorCode OpenFolderPath(const SystemPath& path, Handle& out);
  // The confined root that `path` lies in, or null.
  const SystemPath* RootOf(const SystemPath& path) const;
  // Drops the cached folders at and below `path`: it is removed or renamed.
  void ForgetFoldersAt(const std::wstring& path);
  bool FolderVolume(Folder& folder);
  // Opens `name` in the folder `folder` for a change, and notes its volume
  // as written.
  void NoteWritten(Folder& folder);
  VolumeAbilities AbilitiesOf(const VolumeFacts& volume) const;

  ErrorCode CopyLink(HANDLE source, const std::string& data, Folder& to_folder,
                     const std::wstring& to_name, const CopyOptions& options);
  ErrorCode KeepOld(Folder& folder, const std::wstring& name, const CopyOptions& options);
  ErrorCode CopyToKeep(HANDLE old, HANDLE keep_folder, DWORD kept, const std::wstring& keep_name,
                       const CopyOptions& options);

  // Made at the start of every call: while no roots are set, it closes the
  // folders the call opened as it ends.
  class Call {
   public:
    explicit Call(WinFileSystem& fs) : fs_(fs) {}
    ~Call();
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

   private:
    WinFileSystem& fs_;
  };

  std::vector<SystemPath> roots_;
  // The folders used last, the one used last first.
  std::vector<std::unique_ptr<Folder>> folders_;
  std::vector<WrittenFileSystem> written_;
  // Whether the system's security list (SACL) can be read and written: the
  // security privilege is enabled. Asked once per SetConfinedRoots.
  int sacl_access_ = -1;
  bool SaclAccess();
};

// Creates a new file beside the others of `folder` under a new temporary
// name, for writing, deleting and renaming; `name` gets its name.
ErrorCode CreateTemporaryFile(HANDLE folder, ACCESS_MASK extra_access, Handle& file,
                              std::wstring& name);
// Renames the open item to `name` in the folder `folder`.
ErrorCode RenameOpen(HANDLE item, HANDLE folder, std::wstring_view name, bool replace);
// Deletes the open item (opened with DELETE access); it goes when closed.
ErrorCode DeleteOpen(HANDLE item);
// Deletes a new item that will not take its name, read-only or not (opened
// with DELETE and FILE_WRITE_ATTRIBUTES access).
void DiscardOpen(HANDLE item);

// Security descriptors (security_win32.cc). `Security::descriptor` holds the
// SECURITY_INFORMATION bits read (4 bytes, little-endian), then the
// descriptor in self-relative form with compact lists, built the same way
// for every item, so equal descriptors give equal bytes.
ErrorCode ReadDescriptor(HANDLE item, bool with_sacl, Security& security);
// Writes it as it stands, without the inheritance that SetSecurityInfo
// would work out; the audit list only where `with_sacl`.
ErrorCode WriteDescriptor(HANDLE item, const std::string& descriptor, bool with_sacl);
// Whether a descriptor holds an audit list to write.
bool HoldsSacl(const std::string& descriptor);
// Gives `to` the owner and group of `from` (opened with READ_CONTROL).
ErrorCode CopyOwner(HANDLE from, HANDLE to);

}  // namespace twinmere::win32
