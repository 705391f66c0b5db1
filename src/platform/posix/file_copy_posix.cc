// Copies of files and links: the new contents go to a file without a name or a
// temporary one, and take the target's name only when complete.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>

#include "platform/posix/file_system_posix_internal.h"

namespace twinmere::posix {
namespace {

constexpr size_t kChunkBytes = size_t{1} << 20;

// A replacement larger than this is written to the disk before it takes the
// old file's name, so that a power cut cannot leave an empty file in place of
// the old one on file systems that do not flush on rename. Smaller ones wait
// for the syncfs that ends the run: each flush costs a journal commit (about
// 5 ms here), which doubles the time of replacing files of a few MiB but is
// lost in the writing of 32 MiB.
constexpr uint64_t kFlushBeforeReplaceBytes = uint64_t{32} << 20;

// A file whose blocks hold less than its size has holes (or is compressed;
// its data ranges tell which).
bool HasHoles(const struct stat& st) {
  return static_cast<uint64_t>(st.st_blocks) * 512 < static_cast<uint64_t>(st.st_size);
}

// Gives the unnamed file `fd` the name `name`; never replaces. Through /proc
// (any user may), else with AT_EMPTY_PATH (needs CAP_DAC_READ_SEARCH).
int LinkUnnamed(int fd, int dir, const std::string& name) {
  if (linkat(AT_FDCWD, ProcPath(fd).c_str(), dir, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
  if (errno != ENOENT) return -1;
  return linkat(fd, "", dir, name.c_str(), AT_EMPTY_PATH);
}

// A Source that changed while it was copied (shrunk, grown, rewritten in
// place) gave a copy of no version it ever had: kErrChangedMeanwhile. The
// open file must still have the size and times seen before the copy, and
// the copy that size (files whose size the file system does not tell, 0,
// are copied to their end).
ErrorCode CheckUnchanged(int source, int target, const struct stat& before) {
  struct stat now, copy;
  if (fstat(source, &now) != 0 || fstat(target, &copy) != 0) return errno;
  const auto same_time = [](const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
  };
  if (now.st_size != before.st_size || !same_time(now.st_mtim, before.st_mtim) ||
      !same_time(now.st_ctim, before.st_ctim) ||
      (before.st_size != 0 && copy.st_size != before.st_size))
    return kErrChangedMeanwhile;
  return 0;
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

ErrorCode PosixFileSystem::CopyDataRanges(int source, int target, uint64_t size,
                                          const CopyOptions& options) {
  bool use_range = true;
  std::vector<char> buffer;
  off_t pos = 0;
  const off_t end = static_cast<off_t>(size);
  while (pos < end) {
    off_t data = lseek(source, pos, SEEK_DATA);
    if (data < 0) {
      if (errno == ENXIO) break;  // only a hole up to the end
      // No way to tell the holes (EINVAL): copy it all.
      if (pos == 0) return CopyContents(source, target, size, options);
      return errno;
    }
    if (data >= end) break;
    off_t hole = lseek(source, data, SEEK_HOLE);
    if (hole < 0) return errno;
    hole = std::min(hole, end);
    for (off_t in = data, out = data; in < hole;) {
      if (options.stop != nullptr && options.stop->load() != 0) return kErrCancelled;
      const size_t want = static_cast<size_t>(std::min<off_t>(hole - in, kChunkBytes));
      ssize_t n = -1;
      if (use_range) {
        n = copy_file_range(source, &in, target, &out, want, 0);
        if (n < 0 && errno == EINTR) continue;  // a stop signal: the flag is looked at
        if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP || errno == ENOSYS ||
                      errno == EBADF || errno == EPERM)) {
          use_range = false;
        } else if (n < 0) {
          return errno;
        }
      }
      if (!use_range) {
        if (buffer.empty()) buffer.resize(kChunkBytes);
        n = pread(source, buffer.data(), want, in);
        if (n < 0) {
          if (errno == EINTR) continue;
          return errno;
        }
        for (ssize_t written = 0; written < n;) {
          const ssize_t w = pwrite(target, buffer.data() + written,
                                   static_cast<size_t>(n - written), out + written);
          if (w < 0) {
            if (errno == EINTR && (options.stop == nullptr || options.stop->load() == 0)) continue;
            return errno == EINTR ? kErrCancelled : errno;
          }
          written += w;
        }
        in += n;
        out += n;
      }
      if (n == 0) break;  // the file ended early
      if (options.progress != nullptr) options.progress->SetProgress(static_cast<uint64_t>(in));
    }
    pos = hole;
  }
  // A hole at the end has no data range: the size makes it.
  if (ftruncate(target, end) != 0) return errno;
  return 0;
}

ErrorCode PosixFileSystem::CopyLink(int from_dir, const std::string& from_name,
                                    const struct stat& st, int to_dir, const std::string& to_name,
                                    const VolumeAbilities& volume, const CopyOptions& options) {
  // A file system that gives links no size gets a buffer of the longest path.
  std::string text(st.st_size > 0 ? static_cast<size_t>(st.st_size) + 1 : PATH_MAX, '\0');
  const ssize_t n = readlinkat(from_dir, from_name.c_str(), text.data(), text.size());
  if (n < 0) return errno;
  if (st.st_size > 0 ? n != st.st_size : static_cast<size_t>(n) == text.size())
    return kErrChangedMeanwhile;  // another link took its place
  text.resize(static_cast<size_t>(n));
  const std::string temporary = TemporaryName();
  if (symlinkat(text.c_str(), to_dir, temporary.c_str()) != 0) return errno;
  ErrorCode code = 0;
  if (options.carry_owner &&
      fchownat(to_dir, temporary.c_str(), st.st_uid, st.st_gid, AT_SYMLINK_NOFOLLOW) != 0)
    code = errno;
  // Where a link's own times cannot be set they are not set at all: the
  // volume would set those of what the link points to.
  const timespec times[2] = {st.st_atim, st.st_mtim};
  if (code == 0 && volume.sets_link_times &&
      utimensat(to_dir, temporary.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
    code = errno;
  if (code == 0 && renameat(to_dir, temporary.c_str(), to_dir, to_name.c_str()) != 0) code = errno;
  if (code != 0) unlinkat(to_dir, temporary.c_str(), 0);
  if (code == 0 && volume.sets_link_times && !volume.rename_keeps_times)
    utimensat(to_dir, to_name.c_str(), times, AT_SYMLINK_NOFOLLOW);
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
    return CopyLink(from_dir, from_name, st, to_dir, to_name, AbilitiesOf(*to_folder), options);
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

  const uint64_t size = static_cast<uint64_t>(st.st_size);
  if (const ErrorCode code = HasHoles(st)
                                 ? CopyDataRanges(source.get(), target.get(), size, options)
                                 : CopyContents(source.get(), target.get(), size, options);
      code != 0)
    return fail(code);
  if (const ErrorCode code = CheckUnchanged(source.get(), target.get(), st); code != 0)
    return fail(code);
  if (options.carry_owner && fchown(target.get(), st.st_uid, st.st_gid) != 0) return fail(errno);
  // After the owner, whose change drops capabilities; before the mode, which
  // may forbid writing user attributes.
  CopyExtendedAttributes(source.get(), target.get(), options);
  if (const ErrorCode code = GiveMode(target.get(), st.st_mode, *to_folder); code != 0)
    return fail(code);
  const timespec times[2] = {st.st_atim, st.st_mtim};
  if (futimens(target.get(), times) != 0) return fail(errno);
  if (options.stop != nullptr && options.stop->load() != 0) return fail(kErrCancelled);

  if (temporary.empty()) {
    // A new name takes the file directly; linkat never replaces.
    if (LinkUnnamed(target.get(), to_dir, to_name) == 0) return 0;
    if (errno != EEXIST) return fail(errno);
    if (size > kFlushBeforeReplaceBytes && fdatasync(target.get()) != 0) return fail(errno);
    temporary = TemporaryName();
    if (LinkUnnamed(target.get(), to_dir, temporary) != 0) {
      temporary.clear();
      return fail(errno);
    }
  } else if (size > kFlushBeforeReplaceBytes) {
    struct stat old;
    if (fstatat(to_dir, to_name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 &&
        fdatasync(target.get()) != 0)
      return fail(errno);
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
  // The copy is in place; should the times fail here, the next run copies again.
  if (!AbilitiesOf(*to_folder).rename_keeps_times)
    utimensat(to_dir, to_name.c_str(), times, AT_SYMLINK_NOFOLLOW);
  return 0;
}

}  // namespace twinmere::posix
