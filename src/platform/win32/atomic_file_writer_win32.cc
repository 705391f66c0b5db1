// Whole files written at once on Windows. The writer's descriptors are C
// runtime descriptors of the file's and the folder's handles, so that the
// class keeps one shape on every system.
//
// What stands for the kinds that are written into as they are: the DOS
// devices (NUL, CON ... in any folder, with any extension, as Windows
// reads such a name; the long-path form would make a file of that name
// instead), and the regular file that standard output or error writes to.
#include <fcntl.h>
#include <io.h>

#include <vector>

#include "platform/atomic_file_writer.h"
#include "platform/temporary_names.h"
#include "platform/win32/file_system_win32_internal.h"
#include "platform/win32/text_win32.h"

namespace twinmere {
namespace {

using win32::Handle;

HANDLE HandleOf(int fd) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

// A descriptor that owns `handle`, or -1 when the runtime has none left
// (the handle then stays with the caller).
int DescriptorOf(Handle& handle, int flags) {
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle.get()), flags);
  if (fd >= 0) handle.Release();
  return fd;
}

// The device a name stands for ("NUL" for "nul.txt"), or empty.
std::wstring DeviceOf(std::wstring_view name) {
  name = name.substr(0, name.find(L'.'));
  while (!name.empty() && name.back() == L' ') name.remove_suffix(1);
  static constexpr std::wstring_view kDevices[] = {L"CON", L"PRN",    L"AUX",
                                                   L"NUL", L"CONIN$", L"CONOUT$"};
  for (const std::wstring_view device : kDevices)
    if (win32::SameNameIgnoringCase(name, device)) return std::wstring(device);
  if (name.size() == 4 &&
      (win32::SameNameIgnoringCase(name.substr(0, 3), L"COM") ||
       win32::SameNameIgnoringCase(name.substr(0, 3), L"LPT")) &&
      name[3] >= L'1' && name[3] <= L'9')
    return std::wstring(name);
  return {};
}

bool SameFile(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION x{}, y{};
  return GetFileInformationByHandle(a, &x) && GetFileInformationByHandle(b, &y) &&
         x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
         x.nFileIndexLow == y.nFileIndexLow;
}

// The regular file that this process's standard output or error writes to.
bool IsOwnOutput(HANDLE file) {
  for (const DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    const HANDLE out = GetStdHandle(which);
    if (out != nullptr && out != INVALID_HANDLE_VALUE && GetFileType(out) == FILE_TYPE_DISK &&
        SameFile(out, file))
      return true;
  }
  return false;
}

// What the name in the folder is now: missing, a regular file, or a kind
// that is never replaced (a folder, a link), with the error to give.
ErrorCode ReplaceableAt(HANDLE folder, std::wstring_view name, bool& exists) {
  Handle item;
  exists = false;
  const ErrorCode code = win32::OpenRelative(folder, name, {FILE_READ_ATTRIBUTES}, item);
  if (IsMissingError(code)) return 0;
  if (code != 0) return code;
  exists = true;
  FILE_ATTRIBUTE_TAG_INFO kind{};
  if (!GetFileInformationByHandleEx(item.get(), FileAttributeTagInfo, &kind, sizeof kind))
    return win32::LastError();
  if (kind.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return kErrNotSupported;
  if (kind.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) return win32::kErrorDirectoryNotSupported;
  return 0;
}

// Removes the temporary files that killed writers left in the folder and
// that no live process can own; others, and anything unreadable, stay.
void RemoveLeftovers(HANDLE folder) {
  Handle listing;
  FILE_BASIC_INFO own{};
  if (win32::OpenRelative(folder, L"", {FILE_LIST_DIRECTORY, FILE_OPEN, FILE_DIRECTORY_FILE},
                          listing) != 0 ||
      !GetFileInformationByHandleEx(listing.get(), FileBasicInfo, &own, sizeof own))
    return;
  std::vector<FILE_ID_BOTH_DIR_INFO> found;
  std::vector<std::wstring> names;
  std::vector<char> buffer(64 * 1024);
  for (bool first = true;; first = false) {
    if (!GetFileInformationByHandleEx(
            listing.get(), first ? FileIdBothDirectoryRestartInfo : FileIdBothDirectoryInfo,
            buffer.data(), static_cast<DWORD>(buffer.size())))
      break;
    for (const char* at = buffer.data();;) {
      const auto& entry = *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
      const std::wstring name(entry.FileName, entry.FileNameLength / sizeof(WCHAR));
      if (IsTemporaryName(win32::WideToUtf8(name))) {
        found.push_back(entry);
        names.push_back(name);
      }
      if (entry.NextEntryOffset == 0) break;
      at += entry.NextEntryOffset;
    }
  }
  for (size_t i = 0; i < names.size(); ++i) {
    const FILE_ID_BOTH_DIR_INFO& entry = found[i];
    const bool remove = MayRemoveLeftover(win32::WideToUtf8(names[i]), [&](LeftoverTimes& times) {
      times = {win32::FromSystemTime(entry.ChangeTime.QuadPart),
               win32::FromSystemTime(entry.LastWriteTime.QuadPart),
               win32::FromSystemTime(own.LastWriteTime.QuadPart)};
      return true;
    });
    Handle item;
    if (remove &&
        win32::OpenRelative(folder, names[i],
                            {DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_OPEN,
                             FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT},
                            item) == 0)
      win32::DiscardOpen(item.get());
  }
}

}  // namespace

AtomicFileWriter::~AtomicFileWriter() {
  Abandon();
}

ErrorCode AtomicFileWriter::Begin(const std::string& path, const AtomicWriteOptions& options) {
  Abandon();
  if (path.empty()) return kErrNotFound;
  const size_t slash = win32::LastSeparator(path);
  name_ = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name_.empty()) return win32::kErrorDirectoryNotSupported;
  std::wstring name;
  if (!win32::Utf8ToWide(name_, name) || !win32::IsPlainName(name)) return ERROR_INVALID_NAME;
  flush_ = options.flush;
  if (const std::wstring device = DeviceOf(name); !device.empty()) {
    Handle open(CreateFileW((L"\\\\.\\" + device).c_str(), GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                            nullptr));
    if (!open.valid()) return win32::LastError();
    fd_ = DescriptorOf(open, _O_WRONLY | _O_BINARY);
    if (fd_ < 0) return ERROR_TOO_MANY_OPEN_FILES;
    in_place_ = true;
    return kSuccess;
  }
  win32::SystemPath folder_path;
  if (const ErrorCode code = win32::ToSystemPath(
          slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1), folder_path);
      code != 0)
    return code;
  Handle folder;
  if (const ErrorCode code = win32::OpenPath(
          folder_path, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES, 0, folder);
      code != 0)
    return code;

  bool exists = false;
  if (const ErrorCode code = ReplaceableAt(folder.get(), name, exists); code != 0) return code;
  DWORD attributes = win32::AttributesFromMode(options.mode);
  if (exists) {
    Handle existing;
    FILE_BASIC_INFO basic{};
    if (const ErrorCode code =
            win32::OpenRelative(folder.get(), name, {FILE_READ_ATTRIBUTES}, existing);
        code != 0)
      return code;
    if (IsOwnOutput(existing.get())) {
      Handle open;
      if (const ErrorCode code = win32::OpenRelative(
              folder.get(), name,
              {FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, FILE_OPEN, FILE_NON_DIRECTORY_FILE}, open);
          code != 0)
        return code;
      fd_ = DescriptorOf(open, _O_WRONLY | _O_BINARY | _O_APPEND);
      if (fd_ < 0) return ERROR_TOO_MANY_OPEN_FILES;
      in_place_ = true;
      return kSuccess;
    }
    if (options.mode_source == ModeSource::Existing &&
        GetFileInformationByHandleEx(existing.get(), FileBasicInfo, &basic, sizeof basic))
      attributes = basic.FileAttributes & win32::kWrittenAttributes;
  }
  RemoveLeftovers(folder.get());

  Handle file;
  std::wstring temporary;
  if (const ErrorCode code =
          win32::CreateTemporaryFile(folder.get(), FILE_WRITE_ATTRIBUTES, file, temporary);
      code != 0)
    return code;
  FILE_BASIC_INFO change{};
  change.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
  if (!SetFileInformationByHandle(file.get(), FileBasicInfo, &change, sizeof change) &&
      options.mode_failure == ModeFailure::Fails) {
    const ErrorCode error = win32::LastError();
    win32::DiscardOpen(file.get());
    return error;
  }
  fd_ = DescriptorOf(file, _O_WRONLY | _O_BINARY);
  if (fd_ < 0) {
    win32::DiscardOpen(file.get());
    return ERROR_TOO_MANY_OPEN_FILES;
  }
  temporary_ = win32::WideToUtf8(temporary);
  folder_fd_ = DescriptorOf(folder, _O_RDONLY);
  if (folder_fd_ < 0) {
    Abandon();
    return ERROR_TOO_MANY_OPEN_FILES;
  }
  return kSuccess;
}

ErrorCode AtomicFileWriter::Append(std::string_view bytes) {
  if (fd_ < 0) return ERROR_INVALID_HANDLE;
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!WriteFile(HandleOf(fd_), bytes.data(), chunk, &written, nullptr) || written == 0) {
      const ErrorCode error =
          written == 0 && GetLastError() == 0 ? kErrNoSpace : win32::LastError();
      Abandon();
      return error;
    }
    bytes.remove_prefix(written);
  }
  return kSuccess;
}

// A new name is taken without replacing anything; an old one only where a
// regular file still holds it.
ErrorCode AtomicFileWriter::TakeName() {
  std::wstring name;
  win32::Utf8ToWide(name_, name);
  bool exists = false;
  if (const ErrorCode code = ReplaceableAt(HandleOf(folder_fd_), name, exists); code != 0)
    return code;
  return win32::RenameOpen(HandleOf(fd_), HandleOf(folder_fd_), name, exists);
}

ErrorCode AtomicFileWriter::Commit() {
  if (fd_ < 0) return ERROR_INVALID_HANDLE;
  ErrorCode error = kSuccess;
  if (in_place_) {
    _close(fd_);
    fd_ = -1;
    Abandon();
    return error;
  }
  if (flush_ != FileFlush::None && !FlushFileBuffers(HandleOf(fd_))) error = win32::LastError();
  if (error == kSuccess) error = TakeName();
  if (error != kSuccess) {
    Abandon();
    return error;
  }
  temporary_.clear();
  _close(fd_);
  fd_ = -1;
  if (flush_ == FileFlush::DataAndFolder) {
    // The folder's own entries: through a handle that may write.
    Handle folder;
    if (win32::OpenRelative(
            HandleOf(folder_fd_), L"",
            {FILE_GENERIC_WRITE | FILE_LIST_DIRECTORY, FILE_OPEN, FILE_DIRECTORY_FILE},
            folder) != 0 ||
        !FlushFileBuffers(folder.get()))
      error = win32::LastError();
  }
  Abandon();
  return error;
}

void AtomicFileWriter::Abandon() {
  if (fd_ >= 0) {
    // The temporary file goes while it is still open: nothing else has it.
    if (!in_place_ && !temporary_.empty()) win32::DiscardOpen(HandleOf(fd_));
    _close(fd_);
  }
  fd_ = -1;
  temporary_.clear();
  in_place_ = false;
  if (folder_fd_ >= 0) _close(folder_fd_);
  folder_fd_ = -1;
}

ErrorCode WriteWholeFile(const std::string& path, std::string_view bytes,
                         const AtomicWriteOptions& options) {
  AtomicFileWriter writer;
  ErrorCode error = writer.Begin(path, options);
  if (error == kSuccess) error = writer.Append(bytes);
  if (error == kSuccess) error = writer.Commit();
  return error;
}

}  // namespace twinmere
