// Copies of files and links: the new contents go to a file without a name or a
// temporary one, and take the target's name only when complete.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "platform/posix/file_system_posix_internal.h"

namespace twinmere::posix {
namespace {

constexpr size_t kChunkBytes = size_t{1} << 20;

// Gives the unnamed file `fd` the name `name`; never replaces. Through /proc
// (any user may), else with AT_EMPTY_PATH (needs CAP_DAC_READ_SEARCH).
int LinkUnnamed(int fd, int dir, const std::string& name) {
  if (linkat(AT_FDCWD, ProcPath(fd).c_str(), dir, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
  if (errno != ENOENT) return -1;
  return linkat(fd, "", dir, name.c_str(), AT_EMPTY_PATH);
}

}  // namespace

ErrorCode PosixFileSystem::CopyContents(int source, int target, uint64_t size,
                                        const CopyOptions& options) {
  uint64_t done = 0;
  bool use_range = true;
  std::vector<char> buffer;
  if (size > kChunkBytes) posix_fadvise(source, 0, 0, POSIX_FADV_SEQUENTIAL);
  // A small file is done with its first chunk; no call is spent on finding
  // the end. The size is that of the open file, so the copy is what fstat saw.
  while (size == 0 || done < size) {
    if (options.stop != nullptr && options.stop->load() != 0) return kErrCancelled;
    ssize_t n = -1;
    if (use_range) {
      n = copy_file_range(source, nullptr, target, nullptr, kChunkBytes, 0);
      if (n < 0 && errno == EINTR) continue;  // a stop signal: the flag is looked at
      if (n < 0 &&
          (errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP || errno == ENOSYS ||
           errno == EBADF || errno == EPERM) &&
          done == 0) {
        use_range = false;
      } else if (n < 0) {
        return errno;
      }
    }
    if (!use_range) {
      if (buffer.empty()) buffer.resize(kChunkBytes);
      n = read(source, buffer.data(), buffer.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      for (ssize_t written = 0; written < n;) {
        const ssize_t w = write(target, buffer.data() + written, static_cast<size_t>(n - written));
        if (w < 0) {
          if (errno == EINTR && (options.stop == nullptr || options.stop->load() == 0)) continue;
          return errno == EINTR ? kErrCancelled : errno;
        }
        written += w;
      }
    }
    if (n == 0) break;
    done += static_cast<uint64_t>(n);
    if (options.progress != nullptr) options.progress->SetProgress(done);
  }
  return 0;
}

ErrorCode PosixFileSystem::CopyLink(int from_dir, const std::string& from_name,
                                    const struct stat& st, int to_dir, const std::string& to_name,
                                    const CopyOptions& options) {
  std::string text(static_cast<size_t>(st.st_size) + 1, '\0');
  const ssize_t n = readlinkat(from_dir, from_name.c_str(), text.data(), text.size());
  if (n < 0) return errno;
  text.resize(static_cast<size_t>(n));
  const std::string temporary = TemporaryName();
  if (symlinkat(text.c_str(), to_dir, temporary.c_str()) != 0) return errno;
  ErrorCode code = 0;
  if (options.carry_owner &&
      fchownat(to_dir, temporary.c_str(), st.st_uid, st.st_gid, AT_SYMLINK_NOFOLLOW) != 0)
    code = errno;
  const timespec times[2] = {st.st_atim, st.st_mtim};
  if (code == 0 && utimensat(to_dir, temporary.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
    code = errno;
  if (code == 0 && renameat(to_dir, temporary.c_str(), to_dir, to_name.c_str()) != 0) code = errno;
  if (code != 0) unlinkat(to_dir, temporary.c_str(), 0);
  if (code == 0 && options.progress != nullptr) options.progress->SetProgress(text.size());
  return code;
}

ErrorCode PosixFileSystem::CopyFile(const std::string& from, const std::string& to,
                                    const CopyOptions& options) {
  CachedFolder* from_folder = nullptr;
  CachedFolder* to_folder = nullptr;
  std::string from_name, to_name;
  if (const ErrorCode code = ResolveParent(from, from_folder, from_name); code != 0) return code;
  if (const ErrorCode code = ResolveParent(to, to_folder, to_name); code != 0) return code;
  to_folder->listed = false;
  to_folder->names.clear();
  // Both stay open: the cache keeps the two folders used last.
  const int from_dir = from_folder->fd.get();
  const int to_dir = to_folder->fd.get();

  // The walk saw a regular file or a link here. A link fails the open
  // (O_NOFOLLOW) and is copied as a link; O_NONBLOCK keeps a FIFO put in
  // its place meanwhile from blocking the open, and fstat refuses it.
  struct stat st;
  Fd source(openat(from_dir, from_name.c_str(),
                   O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!source.valid()) {
    const ErrorCode code = errno;
    if (code != ELOOP) return code;
    if (fstatat(from_dir, from_name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
    if (!S_ISLNK(st.st_mode)) return code;
    if (options.stop != nullptr && options.stop->load() != 0) return kErrCancelled;
    return CopyLink(from_dir, from_name, st, to_dir, to_name, options);
  }
  if (fstat(source.get(), &st) != 0) return errno;
  if (S_ISDIR(st.st_mode)) return EISDIR;
  if (!S_ISREG(st.st_mode)) return kErrNotSupported;

  // The new contents go to a file without a name (O_TMPFILE) where the file
  // system allows it, else to a temporary name; the old file stays untouched
  // until the rename.
  std::string temporary;
  Fd target;
  if (options_.use_tmpfile)
    target.Reset(openat(to_dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
  if (!target.valid()) {
    temporary = TemporaryName();
    target.Reset(openat(to_dir, temporary.c_str(),
                        O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!target.valid()) return errno;
  }
  auto fail = [&](ErrorCode code) {
    target.Reset();
    if (!temporary.empty()) unlinkat(to_dir, temporary.c_str(), 0);
    return code;
  };

  if (const ErrorCode code =
          CopyContents(source.get(), target.get(), static_cast<uint64_t>(st.st_size), options);
      code != 0)
    return fail(code);
  if (options.carry_owner && fchown(target.get(), st.st_uid, st.st_gid) != 0) return fail(errno);
  if (fchmod(target.get(), st.st_mode & 07777) != 0) return fail(errno);
  const timespec times[2] = {st.st_atim, st.st_mtim};
  if (futimens(target.get(), times) != 0) return fail(errno);
  if (options.stop != nullptr && options.stop->load() != 0) return fail(kErrCancelled);

  if (temporary.empty()) {
    // A new name takes the file directly; linkat never replaces.
    if (LinkUnnamed(target.get(), to_dir, to_name) == 0) return 0;
    if (errno != EEXIST) return fail(errno);
    temporary = TemporaryName();
    if (LinkUnnamed(target.get(), to_dir, temporary) != 0) {
      temporary.clear();
      return fail(errno);
    }
  }
  if (close(target.Release()) != 0) {
    const ErrorCode code = errno;
    unlinkat(to_dir, temporary.c_str(), 0);
    return code;
  }
  if (renameat(to_dir, temporary.c_str(), to_dir, to_name.c_str()) != 0) {
    const ErrorCode code = errno;
    unlinkat(to_dir, temporary.c_str(), 0);
    return code;
  }
  return 0;
}

}  // namespace twinmere::posix
