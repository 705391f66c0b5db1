// Whole files replaced at once on Windows. The writer's descriptors are C
// runtime descriptors of the file's and the folder's handles, so that the
// class keeps one shape on every system.
#include <fcntl.h>
#include <io.h>

#include "platform/atomic_file_writer.h"
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
  flush_ = options.flush;

  DWORD attributes = win32::AttributesFromMode(options.mode);
  if (options.mode_source == ModeSource::Existing) {
    Handle existing;
    FILE_BASIC_INFO basic{};
    if (win32::OpenRelative(folder.get(), name, {FILE_READ_ATTRIBUTES}, existing) == 0 &&
        GetFileInformationByHandleEx(existing.get(), FileBasicInfo, &basic, sizeof basic) &&
        !(basic.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
      attributes = basic.FileAttributes & win32::kWrittenAttributes;
  }
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

ErrorCode AtomicFileWriter::Commit() {
  if (fd_ < 0) return ERROR_INVALID_HANDLE;
  ErrorCode error = kSuccess;
  if (flush_ != FileFlush::None && !FlushFileBuffers(HandleOf(fd_))) error = win32::LastError();
  std::wstring name;
  win32::Utf8ToWide(name_, name);
  if (error == kSuccess) error = win32::RenameOpen(HandleOf(fd_), HandleOf(folder_fd_), name, true);
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
    if (!temporary_.empty()) win32::DiscardOpen(HandleOf(fd_));
    _close(fd_);
  }
  fd_ = -1;
  temporary_.clear();
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
