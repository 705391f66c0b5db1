// The file system's simple operations: lookups, new and removed items,
// renames, permissions and times.
#include "platform/posix/file_system_posix.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "platform/posix/file_system_posix_internal.h"
#include "platform/temporary_names.h"

namespace twinmere::posix {
namespace {

FileTime ToFileTime(const timespec& ts) {
  return FileTime{static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec};
}

timespec ToTimespec(FileTime t) {
  int64_t sec = t.ns / 1000000000;
  int64_t nsec = t.ns % 1000000000;
  if (nsec < 0) {
    nsec += 1000000000;
    --sec;
  }
  return timespec{static_cast<time_t>(sec), static_cast<long>(nsec)};
}

}  // namespace

bool FillInfo(const struct stat& st, ItemInfo& info) {
  if (S_ISREG(st.st_mode)) {
    info.kind = ItemKind::File;
  } else if (S_ISDIR(st.st_mode)) {
    info.kind = ItemKind::Folder;
  } else if (S_ISLNK(st.st_mode)) {
    info.kind = ItemKind::Link;
  } else {
    return false;
  }
  info.short_name.clear();
  info.mode = st.st_mode & 07777;
  info.size = info.kind == ItemKind::Folder ? 0 : static_cast<uint64_t>(st.st_size);
  info.access_time = ToFileTime(st.st_atim);
  info.modify_time = ToFileTime(st.st_mtim);
  info.change_time = ToFileTime(st.st_ctim);
  info.uid = st.st_uid;
  info.gid = st.st_gid;
  info.device = st.st_dev;
  info.inode = st.st_ino;
  return true;
}

ChangeScope::ChangeScope(PosixFileSystem& fs, const std::string& path) {
  if (fs.InWalkedTree(path)) return;
  counter_ = fs.changes_.get();
  counter_->fetch_add(1);
}

ErrorCode PosixFileSystem::Lookup(const std::string& path, ItemInfo& info) {
  const Call call(*this);
  CachedFolder* folder = nullptr;
  std::string name;
  if (const ErrorCode code = ResolveParent(path, folder, name, ParentUse::Lookup); code != 0)
    return code;
  struct stat st;
  if (fstatat(folder->fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  if (!FillInfo(st, info)) return kErrNotSupported;
  info.name = name;
  if (IsCaseInsensitive(*folder)) StoredName(*folder, st, info.name);
  return 0;
}

void PosixFileSystem::NoteWritten(uint64_t device, const std::string& folder) {
  for (const WrittenFileSystem& written : written_)
    if (written.device == device) return;
  written_.push_back({device, folder});
}

void PosixFileSystem::NoteWritten(CachedFolder& folder) {
  if (!folder.device_known) {
    struct stat st;
    if (fstat(folder.fd.get(), &st) != 0) return;
    folder.device = st.st_dev;
    folder.device_known = true;
  }
  NoteWritten(folder.device, folder.path);
}

ErrorCode PosixFileSystem::CreateFolder(const std::string& path) {
  return AtCall(path, [](int dir, const char* name) { return mkdirat(dir, name, 0777); });
}

ErrorCode PosixFileSystem::RemoveFolder(const std::string& path) {
  const std::string trimmed = Trimmed(path);
  const ErrorCode code =
      AtCall(path, [](int dir, const char* name) { return unlinkat(dir, name, AT_REMOVEDIR); });
  if (code == 0) ForgetFoldersBelow(trimmed);
  return code;
}

ErrorCode PosixFileSystem::DeleteFile(const std::string& path) {
  return AtCall(path, [](int dir, const char* name) { return unlinkat(dir, name, 0); });
}

ErrorCode PosixFileSystem::Rename(const std::string& from, const std::string& to, RenameMode mode) {
  const Call call(*this);
  ChangeScope change_from(*this, from);
  ChangeScope change_to(*this, to);
  CachedFolder* from_folder = nullptr;
  CachedFolder* to_folder = nullptr;
  std::string from_name, to_name;
  if (const ErrorCode code = ResolveParent(from, from_folder, from_name); code != 0) return code;
  if (const ErrorCode code = ResolveParent(to, to_folder, to_name); code != 0) return code;
  const int from_dir = from_folder->fd.get();
  const int to_dir = to_folder->fd.get();
  // Where a rename would give the item the time of the rename, its own
  // times are put back afterwards.
  struct stat before;
  const bool keep_times = !AbilitiesOf(*to_folder).rename_keeps_times &&
                          fstatat(from_dir, from_name.c_str(), &before, AT_SYMLINK_NOFOLLOW) == 0;
  ErrorCode code = RenameAt(from_dir, from_name, to_dir, to_name, mode);
  if (code == kErrAlreadyExists || (code == 0 && mode == RenameMode::Replace)) {
    // A change of letter case on a case-insensitive folder: both names find
    // the same item (FUSE may even give them two inode numbers), and
    // rename(2) would do nothing. Go through a temporary name.
    struct stat a, b;
    if (from_name != to_name && EqualIgnoringCase(from_name, to_name) &&
        fstatat(from_dir, from_name.c_str(), &a, AT_SYMLINK_NOFOLLOW) == 0 &&
        fstatat(to_dir, to_name.c_str(), &b, AT_SYMLINK_NOFOLLOW) == 0 &&
        ((a.st_dev == b.st_dev && a.st_ino == b.st_ino) || IsCaseInsensitive(*to_folder))) {
      code = RenameThroughTemporary(from_dir, from_name, to_dir, to_name);
    }
  }
  if (code == 0 && keep_times) {
    const timespec times[2] = {before.st_atim, before.st_mtim};
    utimensat(to_dir, to_name.c_str(), times, AT_SYMLINK_NOFOLLOW);
  }
  if (code == 0) NoteWritten(*to_folder);
  ForgetFolders();
  return code;
}

ErrorCode PosixFileSystem::CreateNewFile(const std::string& path) {
  return AtCall(path, [](int dir, const char* name) {
    const int fd = openat(dir, name, O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    close(fd);
    return 0;
  });
}

ErrorCode PosixFileSystem::SyncFileSystem(const std::string& path) {
  Fd fd;
  if (const ErrorCode code = OpenPath(Trimmed(path), O_RDONLY | O_DIRECTORY, false, fd); code != 0)
    return code;
  return syncfs(fd.get()) == 0 ? 0 : errno;
}

ErrorCode PosixFileSystem::SetMode(const std::string& path, uint32_t mode) {
  const Call call(*this);
  ChangeScope change(*this, path);
  CachedFolder* folder = nullptr;
  std::string name;
  if (const ErrorCode code = ResolveParent(path, folder, name); code != 0) return code;
  const int dir = folder->fd.get();
  // Look first: a link is left as it is, a device node never opened.
  struct stat st;
  if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  if (S_ISLNK(st.st_mode)) return 0;  // a link's permissions cannot be set
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return kErrNotSupported;
  const uint32_t wanted = ModeOnVolume(mode, st.st_mode, AbilitiesOf(*folder).kept_mode_bits);
  if (wanted == (st.st_mode & 07777)) return 0;
  NoteWritten(st.st_dev, Trimmed(path));
  Fd fd(openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!fd.valid()) {
    if (errno != EACCES) return errno;
    // Unreadable for us, yet perhaps ours to change: without following a link.
    return fchmodat(dir, name.c_str(), wanted, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
  }
  struct stat opened;
  if (fstat(fd.get(), &opened) != 0) return errno;
  if (opened.st_ino != st.st_ino || opened.st_dev != st.st_dev) return kErrChangedMeanwhile;
  return fchmod(fd.get(), wanted) == 0 ? 0 : errno;
}

ErrorCode PosixFileSystem::SetTimes(const std::string& path, FileTime access, FileTime modify) {
  const Call call(*this);
  ChangeScope change(*this, path);
  CachedFolder* folder = nullptr;
  std::string name;
  if (const ErrorCode code = ResolveParent(path, folder, name); code != 0) return code;
  const timespec times[2] = {ToTimespec(access), ToTimespec(modify)};
  if (utimensat(folder->fd.get(), name.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  // The times are the item's own: those of a mount point are the mounted
  // file system's.
  struct stat st;
  if (fstatat(folder->fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
    NoteWritten(st.st_dev, Trimmed(path));
  return 0;
}

ErrorCode PosixFileSystem::ReadLink(const std::string& path, std::string& text) {
  const Call call(*this);
  CachedFolder* folder = nullptr;
  std::string name;
  if (const ErrorCode code = ResolveParent(path, folder, name, ParentUse::Lookup); code != 0)
    return code;
  for (size_t size = 256; size <= (size_t{1} << 20); size *= 2) {
    text.resize(size);
    const ssize_t n = readlinkat(folder->fd.get(), name.c_str(), text.data(), size);
    if (n < 0) return errno;
    if (static_cast<size_t>(n) < size) {
      text.resize(static_cast<size_t>(n));
      return 0;
    }
  }
  return ENAMETOOLONG;
}

ErrorCode ReadRegularFileAt(int dir, const char* name, size_t limit, std::string& text) {
  text.clear();
  struct stat st;
  if (fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  if (S_ISDIR(st.st_mode)) return kErrIsAFolder;
  if (!S_ISREG(st.st_mode)) return kErrNotSupported;
  Fd file(openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!file.valid()) return errno == ELOOP ? kErrNotSupported : errno;
  struct stat opened;
  if (fstat(file.get(), &opened) != 0) return errno;
  if (opened.st_ino != st.st_ino || opened.st_dev != st.st_dev || !S_ISREG(opened.st_mode))
    return kErrChangedMeanwhile;
  char buffer[16 * 1024];
  for (;;) {
    const ssize_t n = read(file.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return 0;
    text.append(buffer, static_cast<size_t>(n));
    if (text.size() > limit) return kErrFileTooLarge;
  }
}

ErrorCode PosixFileSystem::ReadFileText(const std::string& path, size_t limit, std::string& text) {
  const Call call(*this);
  CachedFolder* folder = nullptr;
  std::string name;
  if (const ErrorCode code = ResolveParent(path, folder, name, ParentUse::Lookup); code != 0)
    return code;
  return ReadRegularFileAt(folder->fd.get(), name.c_str(), limit, text);
}

ErrorCode PosixFileSystem::RenameAt(int from_dir, const std::string& from, int to_dir,
                                    const std::string& to, RenameMode mode) {
  if (mode == RenameMode::Replace) {
    return renameat(from_dir, from.c_str(), to_dir, to.c_str()) == 0 ? 0 : errno;
  }
  if (renameat2(from_dir, from.c_str(), to_dir, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
  // The file system cannot refuse to replace: check first (not atomic).
  struct stat st;
  if (fstatat(to_dir, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return kErrAlreadyExists;
  if (errno != ENOENT) return errno;
  return renameat(from_dir, from.c_str(), to_dir, to.c_str()) == 0 ? 0 : errno;
}

// The intermediate name is not a copy's temporary name: should the process
// die between the two renames, the item stays visible to later walks.
ErrorCode PosixFileSystem::RenameThroughTemporary(int from_dir, const std::string& from, int to_dir,
                                                  const std::string& to) {
  const std::string temporary =
      ".twinmere-rename-" + NewTemporaryName().substr(kTemporaryNamePrefix.size());
  if (const ErrorCode code = RenameAt(from_dir, from, from_dir, temporary, RenameMode::NoReplace);
      code != 0)
    return code;
  const ErrorCode code = RenameAt(from_dir, temporary, to_dir, to, RenameMode::NoReplace);
  if (code != 0) RenameAt(from_dir, temporary, from_dir, from, RenameMode::NoReplace);
  return code;
}

}  // namespace twinmere::posix

namespace twinmere {

std::unique_ptr<FileSystem> CreatePlatformFileSystem() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
  return std::make_unique<posix::PosixFileSystem>(PosixFileSystemOptions{});
}

std::unique_ptr<FileSystem> CreatePosixFileSystem(const PosixFileSystemOptions& options) {
  return std::make_unique<posix::PosixFileSystem>(options);
}

}  // namespace twinmere
