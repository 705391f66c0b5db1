// Locks on files: an exclusive byte-range lock (LockFileEx) on a handle of
// the file itself, so that the lock goes with the process (a killed run
// holds none). Windows keeps readers out of a locked range, so the lock
// takes one byte far past any end of file: every locker asks for that
// byte, and the contents stay readable to all.
#include <utility>

#include "platform/temporary_names.h"
#include "platform/win32/file_system_win32_internal.h"
#include "platform/win32/text_win32.h"

namespace twinmere::win32 {
namespace {

constexpr uint64_t kLockedByte = 0x7FFFFFFFFFFFFFF0;

class HeldLock final : public FileLock {
 public:
  explicit HeldLock(Handle file) : file_(std::move(file)) {}

 private:
  Handle file_;  // closing it lets the lock go
};

// 0, kErrInUse while another holder has it, or the error of the call.
ErrorCode Lock(HANDLE file) {
  OVERLAPPED place{};
  place.Offset = static_cast<DWORD>(kLockedByte);
  place.OffsetHigh = static_cast<DWORD>(kLockedByte >> 32);
  if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &place))
    return 0;
  const ErrorCode code = LastError();
  return code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING ? kErrInUse : code;
}

}  // namespace

// The file is locked under a temporary name and renamed to its own: no one
// finds it unlocked under that name.
ErrorCode WinFileSystem::CreateLockedFile(const std::string& path, std::string_view contents,
                                          std::unique_ptr<FileLock>& lock) {
  const Call call(*this);
  lock.reset();
  Folder* folder = nullptr;
  std::wstring name;
  if (const ErrorCode code = ResolveParent(path, folder, name); code != 0) return code;
  if (!IsPlainName(name)) return name.empty() ? kErrAlreadyExists : ERROR_INVALID_NAME;
  Handle file;
  std::wstring temporary;
  ErrorCode code = kErrAlreadyExists;
  for (int attempt = 0; attempt < 100 && code == kErrAlreadyExists; ++attempt) {
    Utf8ToWide(NewTemporaryName(), temporary);
    // Others may open it to test the lock and read it.
    code = OpenRelative(folder->handle.get(), temporary,
                        {GENERIC_READ | GENERIC_WRITE | DELETE, FILE_CREATE,
                         FILE_NON_DIRECTORY_FILE, FILE_ATTRIBUTE_NORMAL},
                        file);
  }
  if (code != 0) return code;
  NoteWritten(*folder);
  const bool locked = Lock(file.get()) == 0;
  for (std::string_view rest = contents; !rest.empty() && code == 0;) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(rest.size(), 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file.get(), rest.data(), chunk, &written, nullptr)) code = LastError();
    rest.remove_prefix(written);
  }
  if (code == 0) code = RenameOpen(file.get(), folder->handle.get(), name, false);
  if (code != 0) {
    DeleteOpen(file.get());
    return code;
  }
  if (locked) lock = std::make_unique<HeldLock>(std::move(file));
  return 0;
}

ErrorCode WinFileSystem::LockFile(const std::string& path, size_t limit, std::string& contents,
                                  std::unique_ptr<FileLock>& lock) {
  const Call call(*this);
  lock.reset();
  contents.clear();
  Folder* folder = nullptr;
  std::wstring name;
  if (const ErrorCode code = ResolveParent(path, folder, name); code != 0) return code;
  if (!IsPlainName(name)) return ERROR_INVALID_NAME;
  Handle file;
  if (const ErrorCode code = OpenRelative(folder->handle.get(), name,
                                          {GENERIC_READ, FILE_OPEN, FILE_OPEN_REPARSE_POINT}, file);
      code != 0)
    return code;
  FILE_ATTRIBUTE_TAG_INFO kind{};
  if (!GetFileInformationByHandleEx(file.get(), FileAttributeTagInfo, &kind, sizeof kind))
    return LastError();
  if (kind.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
    return kErrNotSupported;
  if (const ErrorCode code = Lock(file.get()); code != 0) return code;
  contents.resize(limit);
  size_t done = 0;
  while (done < limit) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(limit - done, 1u << 30));
    DWORD n = 0;
    if (!ReadFile(file.get(), contents.data() + done, chunk, &n, nullptr)) return LastError();
    if (n == 0) break;
    done += n;
  }
  contents.resize(done);
  lock = std::make_unique<HeldLock>(std::move(file));
  return 0;
}

// The entries a listing never hands over here are sockets (AF_UNIX).
bool WinFileSystem::HoldsUnlistedItems(const std::string& path) {
  std::vector<char> buffer(64 * 1024);
  Handle folder;
  {
    const Call call(*this);
    Folder* parent = nullptr;
    std::wstring name;
    if (ResolveParent(path, parent, name) != 0 ||
        OpenRelative(
            parent->handle.get(), name,
            {FILE_LIST_DIRECTORY, FILE_OPEN, FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT},
            folder) != 0)
      return false;
  }
  for (bool first = true;; first = false) {
    if (!GetFileInformationByHandleEx(
            folder.get(), first ? FileIdBothDirectoryRestartInfo : FileIdBothDirectoryInfo,
            buffer.data(), static_cast<DWORD>(buffer.size())))
      return false;
    for (const char* at = buffer.data();;) {
      const auto& entry = *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
      ItemInfo info;
      const std::wstring_view name(entry.FileName, entry.FileNameLength / sizeof(WCHAR));
      if (name != L"." && name != L".." && !FillInfo(entry, 0, info)) return true;
      if (entry.NextEntryOffset == 0) break;
      at += entry.NextEntryOffset;
    }
  }
}

}  // namespace twinmere::win32
