// The file system's simple operations on Windows: resolving folders,
// listings and lookups, new and removed items, renames, attributes, times
// and links.
#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/temporary_names.h"
#include "platform/win32/file_system_win32_internal.h"
#include "platform/win32/text_win32.h"

namespace twinmere::win32 {
namespace {

// 100-nanosecond units from 1601-01-01 to 1970-01-01.
constexpr int64_t kUnitsBefore1970 = 116444736000000000;
constexpr size_t kListingBytes = 64 * 1024;
// How many folders the cache keeps open while roots are set: the two used
// last by one call (a copy's source and target folders) and the folders
// around them that a walk comes back to.
constexpr size_t kCachedFolders = 8;
// What a folder handle is opened for: listing and looking up names in it,
// the names below it, and its own facts.
constexpr ACCESS_MASK kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
// Attributes that FileBasicInfo may set besides those a copy carries, and
// that a change of the others must keep.
constexpr DWORD kOtherSettableAttributes = 0x20000 | 0x80000 | 0x100000;  // no scrub, (un)pinned

bool IsNameSurrogate(DWORD tag) {
  return (tag & 0x20000000) != 0;
}

// The kind of an item; false for one that stays invisible (a socket).
bool KindOf(DWORD attributes, DWORD tag, ItemKind& kind) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    if (tag == kReparseTagAfUnix) return false;
    if (IsNameSurrogate(tag)) {
      kind = ItemKind::Link;
      return true;
    }
  }
  kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ItemKind::Folder : ItemKind::File;
  return true;
}

bool StartsWithIgnoringCase(std::wstring_view text, std::wstring_view prefix) {
  return text.size() >= prefix.size() &&
         SameNameIgnoringCase(text.substr(0, prefix.size()), prefix);
}

// Whether `path` is `folder` or lies below it.
bool IsAtOrBelow(std::wstring_view path, std::wstring_view folder) {
  if (!StartsWithIgnoringCase(path, folder)) return false;
  return path.size() == folder.size() || folder.back() == L'\\' || path[folder.size()] == L'\\';
}

// The attributes and reparse tag of an open item.
ErrorCode ReadAttributes(HANDLE item, FILE_BASIC_INFO& basic, DWORD& tag) {
  if (!GetFileInformationByHandleEx(item, FileBasicInfo, &basic, sizeof basic)) return LastError();
  tag = 0;
  if (basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    FILE_ATTRIBUTE_TAG_INFO tags{};
    if (!GetFileInformationByHandleEx(item, FileAttributeTagInfo, &tags, sizeof tags))
      return LastError();
    tag = tags.ReparseTag;
  }
  return 0;
}

bool IsLink(const FILE_BASIC_INFO& basic, DWORD tag) {
  return (basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsNameSurrogate(tag);
}

// The length of a link's text, its size as ItemInfo gives it.
uint64_t LinkSize(HANDLE folder, std::wstring_view name) {
  Handle link;
  std::string data, text;
  if (OpenRelative(folder, name, {}, link) != 0 || ReadReparseData(link.get(), data) != 0 ||
      LinkText(data, text) != 0)
    return 0;
  return text.size();
}

// An open folder's own facts (a root's, which no listing holds).
ErrorCode InfoOfOpenFolder(HANDLE folder, uint64_t volume, ItemInfo& info) {
  FILE_BASIC_INFO basic{};
  BY_HANDLE_FILE_INFORMATION facts{};
  if (!GetFileInformationByHandleEx(folder, FileBasicInfo, &basic, sizeof basic) ||
      !GetFileInformationByHandle(folder, &facts))
    return LastError();
  info = ItemInfo{};
  info.kind = ItemKind::Folder;
  info.mode = ModeFromAttributes(basic.FileAttributes);
  info.access_time = FromSystemTime(basic.LastAccessTime.QuadPart);
  info.modify_time = FromSystemTime(basic.LastWriteTime.QuadPart);
  info.change_time =
      basic.ChangeTime.QuadPart != 0 ? FromSystemTime(basic.ChangeTime.QuadPart) : info.modify_time;
  info.device = volume;
  info.inode = (static_cast<uint64_t>(facts.nFileIndexHigh) << 32) | facts.nFileIndexLow;
  return 0;
}

// Lists an open folder with GetFileInformationByHandleEx, a buffer of
// entries at a time.
class WinFolderReader final : public FolderReader {
 public:
  WinFolderReader(Handle folder, uint64_t volume)
      : folder_(std::move(folder)), volume_(volume), buffer_(new char[kListingBytes]) {}

  ErrorCode Next(ItemInfo& item) override {
    for (;;) {
      if (entry_ == nullptr) {
        if (ended_) return kErrNoMoreEntries;
        const bool first = first_;
        first_ = false;
        if (!GetFileInformationByHandleEx(
                folder_.get(), first ? FileIdBothDirectoryRestartInfo : FileIdBothDirectoryInfo,
                buffer_.get(), kListingBytes)) {
          const ErrorCode code = LastError();
          ended_ = true;
          // An empty root folder has not even "." to list.
          if (code == ERROR_NO_MORE_FILES || (first && code == ERROR_FILE_NOT_FOUND))
            return kErrNoMoreEntries;
          return code;
        }
        entry_ = buffer_.get();
      }
      const auto& entry = *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(entry_);
      entry_ = entry.NextEntryOffset != 0 ? entry_ + entry.NextEntryOffset : nullptr;
      if (!FillInfo(entry, volume_, item)) continue;
      if (item.kind == ItemKind::Link)
        item.size = LinkSize(folder_.get(), {entry.FileName, entry.FileNameLength / sizeof(WCHAR)});
      return 0;
    }
  }

 private:
  Handle folder_;
  uint64_t volume_;
  std::unique_ptr<char[]> buffer_;
  const char* entry_ = nullptr;
  bool first_ = true;
  bool ended_ = false;
};

}  // namespace

std::string ShownPath(const std::wstring& text) {
  std::wstring_view view(text);
  if (view.starts_with(L"\\\\?\\UNC\\")) return "\\\\" + WideToUtf8(view.substr(8));
  if (view.starts_with(L"\\\\?\\") && view.size() >= 6 && view[5] == L':')
    return WideToUtf8(view.substr(4));
  return WideToUtf8(view);
}

ErrorCode FromStatus(NTSTATUS status) {
  const ULONG code = RtlNtStatusToDosError(status);
  return code != 0 ? static_cast<ErrorCode>(code) : ERROR_GEN_FAILURE;
}

ErrorCode LastError() {
  const DWORD code = GetLastError();
  return code != 0 ? static_cast<ErrorCode>(code) : ERROR_GEN_FAILURE;
}

FileTime FromSystemTime(int64_t units) {
  // Nanoseconds since 1970 reach from 1677 to 2262.
  const int64_t since_1970 = std::clamp(units - kUnitsBefore1970, INT64_MIN / 100, INT64_MAX / 100);
  return FileTime{since_1970 * 100};
}

int64_t ToSystemTime(FileTime time) {
  int64_t units = time.ns / 100;
  if (time.ns % 100 < 0) --units;  // towards the past, as the nanoseconds are
  // 0 leaves a time unchanged and -1 stops its updates: the earliest time
  // that can be set is 1601-01-01 plus 100 ns.
  if (units < 1 - kUnitsBefore1970) return 1;
  if (units > INT64_MAX - kUnitsBefore1970) return INT64_MAX;
  return units + kUnitsBefore1970;
}

ErrorCode OpenRelative(HANDLE folder, std::wstring_view name, const OpenRequest& request,
                       Handle& out) {
  if (name.size() * sizeof(WCHAR) > USHRT_MAX) return ERROR_FILENAME_EXCED_RANGE;
  UNICODE_STRING text;
  text.Buffer = const_cast<PWSTR>(name.data());
  text.Length = text.MaximumLength = static_cast<USHORT>(name.size() * sizeof(WCHAR));
  OBJECT_ATTRIBUTES object;
  InitializeObjectAttributes(&object, &text, OBJ_CASE_INSENSITIVE, folder, nullptr);
  IO_STATUS_BLOCK io{};
  HANDLE handle = nullptr;
  const NTSTATUS status = NtCreateFile(
      &handle, request.access | SYNCHRONIZE, &object, &io, nullptr, request.attributes,
      request.share, request.disposition,
      request.options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT, nullptr, 0);
  if (!NT_SUCCESS(status)) return FromStatus(status);
  out = Handle(handle);
  return 0;
}

ErrorCode OpenPath(const SystemPath& path, DWORD access, DWORD flags, Handle& out) {
  Handle handle(CreateFileW(path.text.c_str(), access | SYNCHRONIZE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, flags | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle.valid()) return LastError();
  out = std::move(handle);
  return 0;
}

bool IsPlainName(std::wstring_view name) {
  if (name.empty() || name == L"." || name == L"..") return false;
  for (const wchar_t c : name)
    if (c < 0x20 || std::wcschr(L"\\/:*?\"<>|", c) != nullptr) return false;
  return true;
}

DWORD KeptAttributes(const VolumeFacts& volume) {
  const bool fat = SameNameIgnoringCase(volume.type, L"FAT") ||
                   SameNameIgnoringCase(volume.type, L"FAT32") ||
                   SameNameIgnoringCase(volume.type, L"exFAT");
  return fat ? 0x27 : kWrittenAttributes;
}

ErrorCode ReadVolumeFacts(HANDLE item, VolumeFacts& facts) {
  wchar_t type[MAX_PATH + 1] = {};
  DWORD serial = 0;
  if (!GetVolumeInformationByHandleW(item, nullptr, 0, &serial, nullptr, &facts.flags, type,
                                     MAX_PATH + 1))
    return LastError();
  facts.type = type;
  FILE_ID_INFO id{};
  facts.serial = GetFileInformationByHandleEx(item, FileIdInfo, &id, sizeof id)
                     ? id.VolumeSerialNumber
                     : serial;
  return 0;
}

bool FillInfo(const FILE_ID_BOTH_DIR_INFO& entry, uint64_t volume, ItemInfo& info) {
  const std::wstring_view name(entry.FileName, entry.FileNameLength / sizeof(WCHAR));
  if (name == L"." || name == L"..") return false;
  // A listing gives a reparse point's tag where it gives an item's
  // extended-attribute size otherwise.
  const DWORD tag = (entry.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? entry.EaSize : 0;
  if (!KindOf(entry.FileAttributes, tag, info.kind)) return false;
  info.name = WideToUtf8(name);
  info.short_name = WideToUtf8({entry.ShortName, entry.ShortNameLength / sizeof(WCHAR)});
  info.mode = ModeFromAttributes(entry.FileAttributes);
  info.size = info.kind == ItemKind::File ? static_cast<uint64_t>(entry.EndOfFile.QuadPart) : 0;
  info.access_time = FromSystemTime(entry.LastAccessTime.QuadPart);
  info.modify_time = FromSystemTime(entry.LastWriteTime.QuadPart);
  // FAT keeps no change time.
  info.change_time =
      entry.ChangeTime.QuadPart != 0 ? FromSystemTime(entry.ChangeTime.QuadPart) : info.modify_time;
  info.uid = 0;
  info.gid = 0;
  info.device = volume;
  info.inode = static_cast<uint64_t>(entry.FileId.QuadPart);
  return true;
}

ErrorCode ReadReparseData(HANDLE item, std::string& data) {
  data.resize(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
  DWORD returned = 0;
  if (!DeviceIoControl(item, FSCTL_GET_REPARSE_POINT, nullptr, 0, data.data(),
                       static_cast<DWORD>(data.size()), &returned, nullptr))
    return LastError();
  data.resize(returned);
  return 0;
}

ErrorCode LinkText(std::string_view data, std::string& text) {
  ReparseDataHeader header;
  if (data.size() < sizeof header) return ERROR_INVALID_REPARSE_DATA;
  std::memcpy(&header, data.data(), sizeof header);
  const std::string_view body = data.substr(sizeof header);
  if (header.ReparseTag == kReparseTagLxSymlink) {
    if (body.size() < 4) return ERROR_INVALID_REPARSE_DATA;
    text = body.substr(4);  // after the format version, the text as UTF-8
    return 0;
  }
  size_t names_at = 0;
  if (header.ReparseTag == IO_REPARSE_TAG_SYMLINK) {
    names_at = sizeof(ReparseNames) + sizeof(ULONG);  // and the flags
  } else if (header.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT) {
    names_at = sizeof(ReparseNames);
  } else {
    return kErrNotSupported;
  }
  ReparseNames names;
  if (body.size() < names_at) return ERROR_INVALID_REPARSE_DATA;
  std::memcpy(&names, body.data(), sizeof names);
  const std::string_view buffer = body.substr(names_at);
  if (size_t{names.SubstituteNameOffset} + names.SubstituteNameLength > buffer.size() ||
      names.SubstituteNameLength % sizeof(WCHAR) != 0)
    return ERROR_INVALID_REPARSE_DATA;
  std::wstring name(names.SubstituteNameLength / sizeof(WCHAR), L'\0');
  std::memcpy(name.data(), buffer.data() + names.SubstituteNameOffset, names.SubstituteNameLength);
  text = WideToUtf8(name);
  return 0;
}

ErrorCode CreateTemporaryFile(HANDLE folder, ACCESS_MASK extra_access, Handle& file,
                              std::wstring& name) {
  ErrorCode code = kErrAlreadyExists;
  for (int attempt = 0; attempt < 100 && code == kErrAlreadyExists; ++attempt) {
    Utf8ToWide(NewTemporaryName(), name);
    OpenRequest request;
    request.access = GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES | extra_access;
    request.disposition = FILE_CREATE;
    request.options = FILE_NON_DIRECTORY_FILE;
    request.attributes = FILE_ATTRIBUTE_NORMAL;
    request.share = FILE_SHARE_READ | FILE_SHARE_DELETE;
    code = OpenRelative(folder, name, request, file);
  }
  return code;
}

ErrorCode RenameOpen(HANDLE item, HANDLE folder, std::wstring_view name, bool replace) {
  const size_t bytes = name.size() * sizeof(WCHAR);
  std::vector<char> buffer(offsetof(FileLinkOrRenameInformation, FileName) + bytes + sizeof(WCHAR));
  auto* rename = reinterpret_cast<FileLinkOrRenameInformation*>(buffer.data());
  rename->ReplaceIfExists = replace ? TRUE : FALSE;
  rename->RootDirectory = folder;
  rename->FileNameLength = static_cast<ULONG>(bytes);
  std::memcpy(rename->FileName, name.data(), bytes);
  IO_STATUS_BLOCK io{};
  const NTSTATUS status =
      NtSetInformationFile(item, &io, rename, static_cast<ULONG>(buffer.size()),
                           static_cast<FILE_INFORMATION_CLASS>(kFileRenameInformation));
  return NT_SUCCESS(status) ? 0 : FromStatus(status);
}

// The name goes at once where the system can (POSIX semantics: even while
// others hold the item open), else when the last handle closes.
ErrorCode DeleteOpen(HANDLE item) {
  FILE_DISPOSITION_INFO_EX at_once{kDispositionDelete | kDispositionPosixSemantics};
  if (SetFileInformationByHandle(item, kFileDispositionInfoEx, &at_once, sizeof at_once)) return 0;
  FILE_DISPOSITION_INFO on_close{TRUE};
  if (SetFileInformationByHandle(item, FileDispositionInfo, &on_close, sizeof on_close)) return 0;
  return LastError();
}

void DiscardOpen(HANDLE item) {
  FILE_BASIC_INFO plain{};
  plain.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  SetFileInformationByHandle(item, FileBasicInfo, &plain, sizeof plain);
  DeleteOpen(item);
}

// ---- folders -------------------------------------------------------------------

void WinFileSystem::SetConfinedRoots(const std::vector<std::string>& roots) {
  roots_.clear();
  for (const std::string& root : roots) {
    SystemPath path;
    if (ToSystemPath(root, path) == 0) roots_.push_back(std::move(path));
  }
  folders_.clear();
  written_.clear();
  sacl_access_ = -1;
}

const SystemPath* WinFileSystem::RootOf(const SystemPath& path) const {
  const SystemPath* found = nullptr;
  for (const SystemPath& root : roots_)
    if (IsAtOrBelow(path.text, root.text) &&
        (found == nullptr || root.text.size() > found->text.size()))
      found = &root;
  return found;
}

ErrorCode WinFileSystem::OpenFolderPath(const SystemPath& path, Handle& out) {
  const SystemPath* root = RootOf(path);
  if (root == nullptr) {
    Handle folder;
    if (const ErrorCode code = OpenPath(path, kFolderAccess, 0, folder); code != 0) return code;
    FILE_BASIC_INFO basic{};
    if (!GetFileInformationByHandleEx(folder.get(), FileBasicInfo, &basic, sizeof basic))
      return LastError();
    if (!(basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return kErrNotAFolder;
    out = std::move(folder);
    return 0;
  }
  // From the deepest open folder on the way, else from the root as written.
  const Folder* start = nullptr;
  for (const auto& folder : folders_)
    if (IsAtOrBelow(folder->path, root->text) && IsAtOrBelow(path.text, folder->path) &&
        (start == nullptr || folder->path.size() > start->path.size()))
      start = folder.get();
  Handle current;
  size_t done = 0;  // the length of path.text that `current` stands for
  if (start != nullptr) {
    if (const ErrorCode code = OpenRelative(
            start->handle.get(), L"", {kFolderAccess, FILE_OPEN, FILE_DIRECTORY_FILE}, current);
        code != 0)
      return code;
    done = start->path.size();
  } else {
    if (const ErrorCode code = OpenPath(*root, kFolderAccess, 0, current); code != 0) return code;
    done = root->text.size();
  }
  while (done < path.text.size()) {
    if (path.text[done] == L'\\') ++done;
    size_t end = path.text.find(L'\\', done);
    if (end == std::wstring::npos) end = path.text.size();
    const std::wstring_view name = std::wstring_view(path.text).substr(done, end - done);
    Handle next;
    if (const ErrorCode code = OpenRelative(
            current.get(), name,
            {kFolderAccess, FILE_OPEN, FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT}, next);
        code != 0)
      return code;
    FILE_BASIC_INFO basic{};
    DWORD tag = 0;
    if (const ErrorCode code = ReadAttributes(next.get(), basic, tag); code != 0) return code;
    if (IsLink(basic, tag)) return kErrLinkInPath;
    current = std::move(next);
    done = end;
  }
  out = std::move(current);
  return 0;
}

// A folder of the path that is missing makes the path missing, as Windows
// tells it (ERROR_PATH_NOT_FOUND).
ErrorCode WinFileSystem::OpenParent(const SystemPath& path, Handle& folder, std::wstring& name) {
  name = path.LastName();
  const ErrorCode code = OpenFolderPath(path.IsRoot() ? path : path.Parent(), folder);
  return code == kErrNotFound ? kErrPathNotFound : code;
}

ErrorCode WinFileSystem::ResolveParent(const std::string& path, Folder*& folder,
                                       std::wstring& name) {
  SystemPath system;
  if (const ErrorCode code = ToSystemPath(path, system); code != 0) return code;
  name = system.LastName();
  const SystemPath parent = system.IsRoot() ? system : system.Parent();
  for (size_t i = 0; i < folders_.size(); ++i) {
    if (folders_[i]->path == parent.text) {
      std::rotate(folders_.begin(), folders_.begin() + i, folders_.begin() + i + 1);
      folder = folders_.front().get();
      return 0;
    }
  }
  auto opened = std::make_unique<Folder>();
  opened->path = parent.text;
  if (const ErrorCode code = OpenFolderPath(parent, opened->handle); code != 0)
    return code == kErrNotFound ? kErrPathNotFound : code;
  if (folders_.size() >= kCachedFolders) folders_.pop_back();
  folders_.insert(folders_.begin(), std::move(opened));
  folder = folders_.front().get();
  return 0;
}

WinFileSystem::Call::~Call() {
  // Nothing stays open between calls while no run goes on.
  if (fs_.roots_.empty()) fs_.folders_.clear();
}

void WinFileSystem::ForgetFoldersAt(const std::wstring& path) {
  std::erase_if(folders_, [&](const auto& folder) { return IsAtOrBelow(folder->path, path); });
}

bool WinFileSystem::FolderVolume(Folder& folder) {
  if (!folder.volume_known && ReadVolumeFacts(folder.handle.get(), folder.volume) == 0)
    folder.volume_known = true;
  return folder.volume_known;
}

void WinFileSystem::NoteWritten(Folder& folder) {
  if (!FolderVolume(folder)) return;
  for (const WrittenFileSystem& written : written_)
    if (written.device == folder.volume.serial) return;
  written_.push_back({folder.volume.serial, ShownPath(folder.path)});
}

ErrorCode WinFileSystem::OpenFolder(const std::string& path,
                                    std::unique_ptr<FolderReader>& reader) {
  const Call call(*this);
  Folder* parent = nullptr;
  std::wstring name;
  if (const ErrorCode code = ResolveParent(path, parent, name); code != 0) return code;
  if (!name.empty() && !IsPlainName(name)) return ERROR_INVALID_NAME;
  Handle folder;
  if (const ErrorCode code = OpenRelative(
          parent->handle.get(), name,
          {kFolderAccess, FILE_OPEN, FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT}, folder);
      code != 0)
    return code;
  FILE_BASIC_INFO basic{};
  DWORD tag = 0;
  if (const ErrorCode code = ReadAttributes(folder.get(), basic, tag); code != 0) return code;
  if (IsLink(basic, tag)) return kErrNotAFolder;  // never listed through
  if (!FolderVolume(*parent)) return LastError();
  reader = std::make_unique<WinFolderReader>(std::move(folder), parent->volume.serial);
  return 0;
}

ErrorCode WinFileSystem::Lookup(const std::string& path, ItemInfo& info) {
  const Call call(*this);
  Folder* folder = nullptr;
  std::wstring name;
  if (const ErrorCode code = ResolveParent(path, folder, name); code != 0) return code;
  if (!FolderVolume(*folder)) return LastError();
  if (name.empty()) return InfoOfOpenFolder(folder->handle.get(), folder->volume.serial, info);
  if (!IsPlainName(name)) return ERROR_INVALID_NAME;
  // One entry of the folder, found as FindFirstFileW finds it: the long
  // name or the short one matches, ignoring case; the entry tells the
  // stored name. A folder handle takes the pattern of its first query
  // only, so each lookup opens the folder anew.
  Handle listing;
  if (const ErrorCode code =
          OpenRelative(folder->handle.get(), L"",
                       {FILE_LIST_DIRECTORY, FILE_OPEN, FILE_DIRECTORY_FILE}, listing);
      code != 0)
    return code;
  alignas(8) char buffer[sizeof(FILE_ID_BOTH_DIR_INFO) + 1024 * sizeof(WCHAR)];
  UNICODE_STRING pattern;
  pattern.Buffer = name.data();
  pattern.Length = pattern.MaximumLength = static_cast<USHORT>(name.size() * sizeof(WCHAR));
  IO_STATUS_BLOCK io{};
  const NTSTATUS status = NtQueryDirectoryFile(
      listing.get(), nullptr, nullptr, nullptr, &io, buffer, sizeof buffer,
      static_cast<FILE_INFORMATION_CLASS>(kFileIdBothDirectoryInformation), TRUE, &pattern, TRUE);
  if (status == kStatusNoSuchFile || status == kStatusNoMoreFiles) return kErrNotFound;
  if (!NT_SUCCESS(status)) return FromStatus(status);
  const auto& entry = *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer);
  if (!FillInfo(entry, folder->volume.serial, info)) return kErrNotSupported;
  if (info.kind == ItemKind::Link)
    info.size =
        LinkSize(folder->handle.get(), {entry.FileName, entry.FileNameLength / sizeof(WCHAR)});
  return 0;
}

// ---- changes ---------------------------------------------------------------------

ErrorCode WinFileSystem::CreateFolder(const std::string& path) {
  const Call call(*this);
  Folder* folder = nullptr;
  std::wstring name;
  if (const ErrorCode code = ResolveParent(path, folder, name); code != 0) return code;
  if (name.empty()) return kErrAlreadyExists;  // a root
  if (!IsPlainName(name)) return ERROR_INVALID_NAME;
  Handle created;
  if (const ErrorCode code =
          OpenRelative(folder->handle.get(), name,
                       {FILE_LIST_DIRECTORY, FILE_CREATE, FILE_DIRECTORY_FILE}, created);
      code != 0)
    return code;
  NoteWritten(*folder);
  return 0;
}

ErrorCode WinFileSystem::RemoveFolder(const std::string& path) {
  const Call call(*this);
  SystemPath system;
  if (const ErrorCode code = ToSystemPath(path, system); code != 0) return code;
  if (system.IsRoot()) return kErrAccessDenied;
  // A folder kept open here would stay on the disk, as pending, until
  // closed.
  ForgetFoldersAt(system.text);
  Folder* folder = nullptr;
  std::wstring name;
  if (const ErrorCode code = ResolveParent(path, folder, name); code != 0) return code;
  if (!IsPlainName(name)) return ERROR_INVALID_NAME;
  Handle item;
  if (const ErrorCode code = OpenRelative(
          folder->handle.get(), name,
          {DELETE | FILE_READ_ATTRIBUTES, FILE_OPEN, FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT},
          item);
      code != 0)
    return code;
  FILE_BASIC_INFO basic{};
  DWORD tag = 0;
  if (const ErrorCode code = ReadAttributes(item.get(), basic, tag); code != 0) return code;
  if (IsLink(basic, tag)) return kErrNotAFolder;
  if (const ErrorCode code = DeleteOpen(item.get()); code != 0) return code;
  NoteWritten(*folder);
  return 0;
}

ErrorCode WinFileSystem::DeleteFile(const std::string& path) {
  const Call call(*this);
  Folder* folder = nullptr;
  std::wstring name;
  if (const ErrorCode code = ResolveParent(path, folder, name); code != 0) return code;
  if (!IsPlainName(name)) return name.empty() ? kErrAccessDenied : ERROR_INVALID_NAME;
  Handle item;
  if (const ErrorCode code =
          OpenRelative(folder->handle.get(), name, {DELETE | FILE_READ_ATTRIBUTES}, item);
      code != 0)
    return code;
  FILE_BASIC_INFO basic{};
  DWORD tag = 0;
  if (const ErrorCode code = ReadAttributes(item.get(), basic, tag); code != 0) return code;
  // A folder is removed, not deleted; a link to one is deleted.
  if ((basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !IsLink(basic, tag))
    return kErrAccessDenied;
  if (const ErrorCode code = DeleteOpen(item.get()); code != 0) return code;
  NoteWritten(*folder);
  return 0;
}

ErrorCode WinFileSystem::Rename(const std::string& from, const std::string& to, RenameMode mode) {
  const Call call(*this);
  SystemPath from_system;
  if (const ErrorCode code = ToSystemPath(from, from_system); code != 0) return code;
  ForgetFoldersAt(from_system.text);
  Folder* from_folder = nullptr;
  Folder* to_folder = nullptr;
  std::wstring from_name, to_name;
  if (const ErrorCode code = ResolveParent(from, from_folder, from_name); code != 0) return code;
  if (const ErrorCode code = ResolveParent(to, to_folder, to_name); code != 0) return code;
  if (!IsPlainName(from_name) || !IsPlainName(to_name)) return ERROR_INVALID_NAME;
  Handle item;
  if (const ErrorCode code =
          OpenRelative(from_folder->handle.get(), from_name, {DELETE | FILE_READ_ATTRIBUTES}, item);
      code != 0)
    return code;
  ErrorCode code = 0;
  if (from_folder == to_folder && from_name != to_name &&
      SameNameIgnoringCase(from_name, to_name)) {
    // A change of letter case, which some file systems take for a clash
    // with the item itself and others for nothing to do: through a
    // temporary name, which is no copy's (should the process die between
    // the renames, the item stays visible).
    std::wstring temporary;
    Utf8ToWide(".twinmere-rename-" + NewTemporaryName().substr(kTemporaryNamePrefix.size()),
               temporary);
    code = RenameOpen(item.get(), to_folder->handle.get(), temporary, false);
    if (code == 0) {
      code = RenameOpen(item.get(), to_folder->handle.get(), to_name, false);
      if (code != 0) RenameOpen(item.get(), to_folder->handle.get(), from_name, false);
    }
  } else {
    code = RenameOpen(item.get(), to_folder->handle.get(), to_name, mode == RenameMode::Replace);
  }
  if (code == 0) NoteWritten(*to_folder);
  return code;
}

ErrorCode WinFileSystem::CreateNewFile(const std::string& path) {
  const Call call(*this);
  Folder* folder = nullptr;
  std::wstring name;
  if (const ErrorCode code = ResolveParent(path, folder, name); code != 0) return code;
  if (!IsPlainName(name)) return name.empty() ? kErrAlreadyExists : ERROR_INVALID_NAME;
  Handle file;
  if (const ErrorCode code = OpenRelative(
          folder->handle.get(), name,
          {GENERIC_WRITE, FILE_CREATE, FILE_NON_DIRECTORY_FILE, FILE_ATTRIBUTE_NORMAL}, file);
      code != 0)
    return code;
  NoteWritten(*folder);
  return 0;
}

ErrorCode WinFileSystem::WriteNewFile(const std::string& path, std::string_view contents) {
  const Call call(*this);
  Folder* folder = nullptr;
  std::wstring name;
  if (const ErrorCode code = ResolveParent(path, folder, name); code != 0) return code;
  if (!IsPlainName(name)) return name.empty() ? kErrAlreadyExists : ERROR_INVALID_NAME;
  Handle file;
  std::wstring temporary;
  if (const ErrorCode code = CreateTemporaryFile(folder->handle.get(), 0, file, temporary);
      code != 0)
    return code;
  NoteWritten(*folder);
  ErrorCode code = 0;
  while (!contents.empty() && code == 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(contents.size(), 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file.get(), contents.data(), chunk, &written, nullptr)) code = LastError();
    contents.remove_prefix(written);
  }
  if (code == 0) code = RenameOpen(file.get(), folder->handle.get(), name, false);
  if (code != 0) DeleteOpen(file.get());
  return code;
}

ErrorCode WinFileSystem::SetMode(const std::string& path, uint32_t mode) {
  const Call call(*this);
  Folder* folder = nullptr;
  std::wstring name;
  if (const ErrorCode code = ResolveParent(path, folder, name); code != 0) return code;
  if (!name.empty() && !IsPlainName(name)) return ERROR_INVALID_NAME;
  Handle item;
  if (const ErrorCode code = OpenRelative(folder->handle.get(), name,
                                          {FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES}, item);
      code != 0)
    return code;
  FILE_BASIC_INFO basic{};
  DWORD tag = 0;
  if (const ErrorCode code = ReadAttributes(item.get(), basic, tag); code != 0) return code;
  if (IsLink(basic, tag)) return 0;  // as on Linux, a link's own are left alone
  const DWORD current = basic.FileAttributes & (kWrittenAttributes | kOtherSettableAttributes);
  const DWORD wanted = (current & kOtherSettableAttributes) | AttributesFromMode(mode);
  if (wanted == current) return 0;
  NoteWritten(*folder);
  FILE_BASIC_INFO change{};  // times of 0 stay as they are
  change.FileAttributes = wanted != 0 ? wanted : FILE_ATTRIBUTE_NORMAL;
  if (!SetFileInformationByHandle(item.get(), FileBasicInfo, &change, sizeof change))
    return LastError();
  return 0;
}

ErrorCode WinFileSystem::SetTimes(const std::string& path, FileTime access, FileTime modify) {
  const Call call(*this);
  Folder* folder = nullptr;
  std::wstring name;
  if (const ErrorCode code = ResolveParent(path, folder, name); code != 0) return code;
  if (!name.empty() && !IsPlainName(name)) return ERROR_INVALID_NAME;
  Handle item;
  if (const ErrorCode code =
          OpenRelative(folder->handle.get(), name, {FILE_WRITE_ATTRIBUTES}, item);
      code != 0)
    return code;
  const auto as_filetime = [](FileTime time) {
    const auto units = static_cast<uint64_t>(ToSystemTime(time));
    return FILETIME{static_cast<DWORD>(units), static_cast<DWORD>(units >> 32)};
  };
  const FILETIME access_time = as_filetime(access);
  const FILETIME modify_time = as_filetime(modify);
  if (!SetFileTime(item.get(), nullptr, &access_time, &modify_time)) return LastError();
  NoteWritten(*folder);
  return 0;
}

ErrorCode WinFileSystem::ReadLink(const std::string& path, std::string& text) {
  const Call call(*this);
  Folder* folder = nullptr;
  std::wstring name;
  if (const ErrorCode code = ResolveParent(path, folder, name); code != 0) return code;
  if (!name.empty() && !IsPlainName(name)) return ERROR_INVALID_NAME;
  Handle item;
  if (const ErrorCode code = OpenRelative(folder->handle.get(), name, {}, item); code != 0)
    return code;
  std::string data;
  if (const ErrorCode code = ReadReparseData(item.get(), data); code != 0) return code;
  return LinkText(data, text);
}

ErrorCode WinFileSystem::ReadFileText(const std::string& path, size_t limit, std::string& text) {
  const Call call(*this);
  text.clear();
  Folder* folder = nullptr;
  std::wstring name;
  if (const ErrorCode code = ResolveParent(path, folder, name); code != 0) return code;
  if (!IsPlainName(name)) return name.empty() ? kErrIsAFolder : ERROR_INVALID_NAME;
  Handle file;
  if (const ErrorCode code = OpenRelative(folder->handle.get(), name,
                                          {GENERIC_READ, FILE_OPEN, FILE_OPEN_REPARSE_POINT}, file);
      code != 0)
    return code;
  FILE_ATTRIBUTE_TAG_INFO kind{};
  if (!GetFileInformationByHandleEx(file.get(), FileAttributeTagInfo, &kind, sizeof kind))
    return LastError();
  if (kind.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) return kErrIsAFolder;
  if (kind.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return kErrNotSupported;
  char buffer[16 * 1024];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(file.get(), buffer, sizeof buffer, &n, nullptr)) return LastError();
    if (n == 0) return 0;
    text.append(buffer, n);
    if (text.size() > limit) return kErrFileTooLarge;
  }
}

// ---- what volumes keep -----------------------------------------------------------

VolumeAbilities WinFileSystem::AbilitiesOf(const VolumeFacts& volume) const {
  VolumeAbilities abilities;
  abilities.kept_mode_bits = ModeBitsOf(KeptAttributes(volume) & kComparedAttributes);
  abilities.sets_link_times = (volume.flags & FILE_SUPPORTS_REPARSE_POINTS) != 0;
  abilities.rename_keeps_times = true;
  return abilities;
}

VolumeAbilities WinFileSystem::Abilities(const std::string& path) {
  VolumeAbilities abilities;
  if (KnownAbilities(path, abilities)) return abilities;
  // The careful answer: every attribute counts, no link time is set, and
  // times are set again after a rename.
  return VolumeAbilities{ModeBitsOf(kComparedAttributes), false, false};
}

// What a volume keeps is told by its type and flags: nothing is tried.
bool WinFileSystem::KnownAbilities(const std::string& path, VolumeAbilities& abilities) {
  const Call call(*this);
  Folder* folder = nullptr;
  std::wstring name;
  if (ResolveParent(path, folder, name) != 0 || !FolderVolume(*folder)) return false;
  abilities = AbilitiesOf(folder->volume);
  return true;
}

// Names compare ignoring case on Windows, except in a folder marked case
// sensitive (for Linux programs); a folder that cannot be asked counts as
// one that ignores case.
bool WinFileSystem::NamesIgnoreCase(const std::string& path) {
  const Call call(*this);
  Folder* parent = nullptr;
  std::wstring name;
  if (ResolveParent(path, parent, name) != 0) return true;
  Handle folder;
  if (OpenRelative(parent->handle.get(), name, {FILE_READ_ATTRIBUTES}, folder) != 0) return true;
  FILE_CASE_SENSITIVE_INFO info{};
  if (!GetFileInformationByHandleEx(folder.get(), kFileCaseSensitiveInfo, &info, sizeof info))
    return true;
  return (info.Flags & kCaseSensitiveFolder) == 0;
}

bool WinFileSystem::KeepsSecurity(const std::string& path) {
  const Call call(*this);
  Folder* folder = nullptr;
  std::wstring name;
  return ResolveParent(path, folder, name) == 0 && FolderVolume(*folder) &&
         (folder->volume.flags & FILE_PERSISTENT_ACLS) != 0;
}

// Each copy reached its disk before it took its name (FlushFileBuffers);
// what is left are the names and attributes, which the volume's journal
// holds. The whole volume is flushed where the process may (it needs
// administrator rights); elsewhere there is nothing more to do.
ErrorCode WinFileSystem::SyncFileSystem(const std::string& path) {
  const Call call(*this);
  SystemPath folder_path;
  if (const ErrorCode code = ToSystemPath(path, folder_path); code != 0) return code;
  Handle folder;
  if (const ErrorCode code = OpenFolderPath(folder_path, folder); code != 0) return code;
  wchar_t mount[MAX_PATH + 1];
  wchar_t volume[MAX_PATH + 1];
  if (!GetVolumePathNameW(folder_path.text.c_str(), mount, MAX_PATH + 1) ||
      !GetVolumeNameForVolumeMountPointW(mount, volume, MAX_PATH + 1))
    return 0;  // a network share: its server writes
  std::wstring device(volume);
  if (!device.empty() && device.back() == L'\\') device.pop_back();
  Handle whole(CreateFileW(device.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr));
  if (!whole.valid()) return 0;
  return FlushFileBuffers(whole.get()) ? 0 : LastError();
}

}  // namespace twinmere::win32

namespace twinmere {

std::unique_ptr<FileSystem> CreatePlatformFileSystem() {
  return std::make_unique<win32::WinFileSystem>();
}

}  // namespace twinmere
