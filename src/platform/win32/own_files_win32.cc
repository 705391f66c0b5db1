// The program's own files on Windows: every path through its long-path
// form and the wide calls. Files are opened sharing reading, writing and
// deleting with others, as the POSIX calls allow.
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdlib>

#include "platform/own_files.h"
#include "platform/win32/file_system_win32_internal.h"
#include "platform/win32/text_win32.h"

namespace twinmere {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE AsHandle(intptr_t value) {
  return reinterpret_cast<HANDLE>(value);
}

// "The file exists" has two numbers, as has a full disk.
ErrorCode Normalized(ErrorCode code) {
  if (code == ERROR_FILE_EXISTS) return kErrAlreadyExists;
  if (code == ERROR_HANDLE_DISK_FULL) return kErrNoSpace;
  return code;
}

ErrorCode LastError() {
  return Normalized(win32::LastError());
}

// The error of a call on `path` that just failed. Windows says "path not
// found" whether a folder of the path is missing or is a file; as on
// Linux, the first is kErrNotFound and only the second kErrPathNotFound.
ErrorCode LastErrorOn(const win32::SystemPath& path) {
  const ErrorCode code = LastError();
  if (code != ERROR_PATH_NOT_FOUND) return code;
  for (win32::SystemPath above = path.Parent(); !above.IsRoot(); above = above.Parent()) {
    const DWORD attributes = GetFileAttributesW(above.text.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
      return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? kErrNotFound : kErrPathNotFound;
  }
  return kErrNotFound;
}

// Opens `path` for `access`, folders too; a final link is itself with
// FinalLink::Itself.
ErrorCode Open(const std::string& path, DWORD access, FinalLink final_link, win32::Handle& out) {
  win32::SystemPath system;
  if (const ErrorCode code = win32::ToSystemPath(path, system); code != 0) return code;
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS |
                      (final_link == FinalLink::Itself ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  out = win32::Handle(
      CreateFileW(system.text.c_str(), access, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr));
  return out.valid() ? kSuccess : LastErrorOn(system);
}

// Whether the open item is a link (a symbolic link or a junction), not a
// file or folder that merely carries a reparse point of another kind.
bool IsLink(HANDLE item) {
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!GetFileInformationByHandleEx(item, FileAttributeTagInfo, &tag, sizeof tag)) return false;
  return (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
         (tag.ReparseTag == IO_REPARSE_TAG_SYMLINK ||
          tag.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT ||
          tag.ReparseTag == win32::kReparseTagLxSymlink);
}

}  // namespace

ErrorCode LookUpPath(const std::string& path, FinalLink final_link, PathFacts& facts) {
  win32::Handle item;
  if (const ErrorCode code = Open(path, FILE_READ_ATTRIBUTES, final_link, item); code != 0)
    return code;
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(item.get()) != FILE_TYPE_DISK) {
    facts = PathFacts{};
    return kSuccess;
  }
  if (!GetFileInformationByHandle(item.get(), &info)) return LastError();
  facts.kind = final_link == FinalLink::Itself && IsLink(item.get()) ? PathKind::Link
               : (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)  ? PathKind::Folder
                                                                     : PathKind::File;
  FILE_ID_INFO id{};
  facts.device = GetFileInformationByHandleEx(item.get(), FileIdInfo, &id, sizeof id)
                     ? id.VolumeSerialNumber
                     : info.dwVolumeSerialNumber;
  facts.inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return kSuccess;
}

// Windows has no permission bits: a new folder gets what its parent
// passes on.
ErrorCode MakeFolder(const std::string& path, uint32_t /*mode*/) {
  win32::SystemPath system;
  if (const ErrorCode code = win32::ToSystemPath(path, system); code != 0) return code;
  if (system.IsRoot()) return kErrAlreadyExists;
  return CreateDirectoryW(system.text.c_str(), nullptr) ? kSuccess : LastErrorOn(system);
}

ErrorCode RemoveFile(const std::string& path) {
  win32::SystemPath system;
  if (const ErrorCode code = win32::ToSystemPath(path, system); code != 0) return code;
  const DWORD attributes = GetFileAttributesW(system.text.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return LastErrorOn(system);
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    // A link to a folder is removed as a folder is, never what it leads to.
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return kErrIsAFolder;
    return RemoveDirectoryW(system.text.c_str()) ? kSuccess : LastError();
  }
  return DeleteFileW(system.text.c_str()) ? kSuccess : LastError();
}

// MoveFileExW without MOVEFILE_REPLACE_EXISTING refuses a taken name
// itself, on every file system.
ErrorCode RenameWithoutReplacing(const std::string& from, const std::string& to) {
  win32::SystemPath system_from;
  win32::SystemPath system_to;
  if (const ErrorCode code = win32::ToSystemPath(from, system_from); code != 0) return code;
  if (const ErrorCode code = win32::ToSystemPath(to, system_to); code != 0) return code;
  return MoveFileExW(system_from.text.c_str(), system_to.text.c_str(), 0) ? kSuccess : LastError();
}

ErrorCode ListFolderNames(const std::string& folder, std::vector<std::string>& names) {
  win32::SystemPath system;
  if (const ErrorCode code = win32::ToSystemPath(folder, system); code != 0) return code;
  std::wstring pattern = system.text;
  if (pattern.back() != L'\\') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW found;
  const HANDLE search =
      FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) {
    // An empty root lists nothing, not even "." and "..".
    return GetLastError() == ERROR_FILE_NOT_FOUND ? kSuccess : LastError();
  }
  ErrorCode error = kSuccess;
  do {
    const std::wstring_view name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(win32::WideToUtf8(name));
  } while (FindNextFileW(search, &found));
  if (GetLastError() != ERROR_NO_MORE_FILES) error = LastError();
  FindClose(search);
  return error;
}

ErrorCode ReadSmallFile(const std::string& path, size_t limit, FinalLink final_link,
                        std::string& text) {
  text.clear();
  win32::Handle file;
  if (const ErrorCode code = Open(path, GENERIC_READ, final_link, file); code != 0) return code;
  if (GetFileType(file.get()) != FILE_TYPE_DISK) return kErrNotSupported;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file.get(), &info)) return LastError();
  if (final_link == FinalLink::Itself && IsLink(file.get())) return kErrLinkInPath;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return kErrIsAFolder;
  char buffer[64 * 1024];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &n, nullptr)) return LastError();
    if (n == 0) return kSuccess;
    text.append(buffer, n);
    if (text.size() > limit) return kErrFileTooLarge;
  }
}

TextFileWriter::~TextFileWriter() {
  if (fd_ >= 0) CloseHandle(AsHandle(fd_));
}

// Opened for appending, every write goes to the end, wherever another
// writer left it.
ErrorCode TextFileWriter::Open(const std::string& path, OpenMode mode) {
  if (fd_ >= 0) CloseHandle(AsHandle(fd_));
  fd_ = -1;
  win32::SystemPath system;
  if (const ErrorCode code = win32::ToSystemPath(path, system); code != 0) return code;
  const DWORD access = FILE_READ_ATTRIBUTES | SYNCHRONIZE |
                       (mode == OpenMode::Append ? FILE_APPEND_DATA : GENERIC_WRITE);
  win32::Handle file(CreateFileW(system.text.c_str(), access, kShareAll, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    const ErrorCode code = LastErrorOn(system);
    // A folder of that name cannot be opened for writing.
    const DWORD attributes = GetFileAttributesW(system.text.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
      return kErrIsAFolder;
    return code;
  }
  if (GetFileType(file.get()) != FILE_TYPE_DISK) return kErrNotSupported;
  if (mode == OpenMode::Replace && !SetEndOfFile(file.get())) return LastError();
  fd_ = reinterpret_cast<intptr_t>(file.Release());
  return kSuccess;
}

ErrorCode TextFileWriter::Write(std::string_view text) {
  if (fd_ < 0) return kErrNotOpen;
  while (!text.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size(), 1u << 30));
    DWORD n = 0;
    if (!WriteFile(AsHandle(fd_), text.data(), chunk, &n, nullptr)) return LastError();
    if (n == 0) return kErrNoSpace;
    text.remove_prefix(n);
  }
  return kSuccess;
}

uint64_t TextFileWriter::Size(ErrorCode& error) const {
  LARGE_INTEGER size{};
  if (fd_ < 0 || !GetFileSizeEx(AsHandle(fd_), &size)) {
    error = fd_ < 0 ? kErrNotOpen : LastError();
    return 0;
  }
  return static_cast<uint64_t>(size.QuadPart);
}

ErrorCode TextFileWriter::Close() {
  if (fd_ < 0) return kSuccess;
  const bool closed = CloseHandle(AsHandle(fd_));
  fd_ = -1;
  return closed ? kSuccess : LastError();
}

LineReader::~LineReader() {
  if (file_ != nullptr) std::fclose(file_);
  std::free(buffer_);
}

ErrorCode LineReader::Open(const std::string& path) {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  win32::SystemPath system;
  if (const ErrorCode code = win32::ToSystemPath(path, system); code != 0) return code;
  win32::Handle file(CreateFileW(system.text.c_str(), GENERIC_READ, kShareAll, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return LastErrorOn(system);
  // The C runtime's buffered reading over the handle, in binary mode: the
  // lines come back with their line ends as they are.
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_RDONLY | _O_BINARY);
  if (fd < 0) return kErrNoMemory;
  file.Release();
  file_ = _fdopen(fd, "rb");
  if (file_ == nullptr) {
    _close(fd);
    return kErrNoMemory;
  }
  return kSuccess;
}

ErrorCode LineReader::ReadLine(std::string& line) {
  if (file_ == nullptr) return kErrNotOpen;
  line.clear();
  for (;;) {
    const int c = std::getc(file_);
    if (c == EOF) {
      if (std::ferror(file_)) return kErrIoFailed;
      return line.empty() ? kErrNoMoreEntries : kSuccess;
    }
    line += static_cast<char>(c);
    if (c == '\n') return kSuccess;
  }
}

}  // namespace twinmere
