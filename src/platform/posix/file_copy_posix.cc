// Copies of files and links: the new contents go to a file without a name or a
// temporary one, and take the target's name only when complete.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "platform/posix/file_system_posix_internal.h"
#include "platform/temporary_names.h"

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

// Every copy reaches the disk before the run ends (a flush of the file, or
// of the volume). A large one has its written part sent to the disk while
// it goes on, every kWriteBehindBytes, and waits for what it sent
// kWriteBehindLag bytes before: the disk then writes while the copy reads,
// and the final flush finds little left to do, instead of all of it. The
// wait keeps the copy from filling the memory with data not yet written.
constexpr uint64_t kWriteBehindBytes = uint64_t{8} << 20;
constexpr uint64_t kWriteBehindLag = uint64_t{32} << 20;

// A file whose blocks hold less than its size has holes (or is compressed;
// its data ranges tell which).
bool HasHoles(const struct stat& st) {
  return static_cast<uint64_t>(st.st_blocks) * 512 < static_cast<uint64_t>(st.st_size);
}

// A new file in `dir` that no name shows yet: without a name (O_TMPFILE)
// where `unnamed` asks for it and the file system allows it, `temporary`
// left empty; else under a new temporary name, given in `temporary`. -1 with
// errno when neither can be made.
int OpenNewFile(int dir, bool unnamed, mode_t mode, std::string& temporary) {
  temporary.clear();
  if (unnamed) {
    const int fd = openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (fd >= 0) return fd;
  }
  temporary = NewTemporaryName();
  return openat(dir, temporary.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, mode);
}

// A Source that changed while it was copied (shrunk, grown, rewritten in
// place) gave a copy of no version it ever had: kErrChangedMeanwhile. The
// open file must still have the size and times seen before the copy, and
// the copy (of `copied` bytes) that size (files whose size the file system
// does not tell, 0, are copied to their end).
ErrorCode CheckUnchanged(int source, uint64_t copied, const struct stat& before) {
  struct stat now;
  if (fstat(source, &now) != 0) return errno;
  const auto same_time = [](const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
  };
  if (now.st_size != before.st_size || !same_time(now.st_mtim, before.st_mtim) ||
      !same_time(now.st_ctim, before.st_ctim) ||
      (before.st_size != 0 && copied != static_cast<uint64_t>(before.st_size)))
    return kErrChangedMeanwhile;
  return 0;
}

// Moves the bytes of one file into its copy, a chunk at a time: with
// copy_file_range where the file systems allow it, else read and write.
class ChunkCopy {
 public:
  ChunkCopy(int source, int target, const CopyOptions& options)
      : source_(source), target_(target), options_(options) {}

  // Copies the bytes from `pos` up to `end` of the source to the same places
  // of the target (kToTheEnd: up to where the source ends), reporting the
  // place reached after each chunk. `pos` is left where the copy stopped:
  // short of `end` when the source ended early.
  static constexpr uint64_t kToTheEnd = UINT64_MAX;
  ErrorCode Copy(uint64_t& pos, uint64_t end) {
    while (pos < end) {
      if (Stopped()) return kErrCancelled;
      const size_t want = static_cast<size_t>(std::min<uint64_t>(end - pos, kChunkBytes));
      ssize_t n = -1;
      if (use_range_) {
        off64_t in = static_cast<off64_t>(pos);
        off64_t out = in;
        n = copy_file_range(source_, &in, target_, &out, want, 0);
        if (n < 0 && errno == EINTR) continue;  // a stop signal: the flag is looked at
        if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP || errno == ENOSYS ||
                      errno == EBADF || errno == EPERM)) {
          use_range_ = false;
        } else if (n < 0) {
          return errno;
        }
      }
      if (!use_range_) {
        // As large as the chunk, or the file when it is smaller: a small
        // file's copy neither allocates nor clears a whole chunk.
        if (buffer_size_ < want) {
          buffer_.reset(new char[want]);
          buffer_size_ = want;
        }
        n = pread(source_, buffer_.get(), want, static_cast<off_t>(pos));
        if (n < 0) {
          if (errno == EINTR) continue;
          return errno;
        }
        for (ssize_t written = 0; written < n;) {
          const ssize_t w =
              pwrite(target_, buffer_.get() + written, static_cast<size_t>(n - written),
                     static_cast<off_t>(pos) + written);
          if (w < 0) {
            if (errno == EINTR && !Stopped()) continue;
            return errno == EINTR ? kErrCancelled : errno;
          }
          written += w;
        }
      }
      if (n == 0) break;  // the source ended early
      pos += static_cast<uint64_t>(n);
      if (const ErrorCode code = WriteBehind(pos); code != 0) return code;
      if (options_.progress != nullptr) options_.progress->SetProgress(pos);
    }
    return 0;
  }

 private:
  bool Stopped() const { return options_.stop != nullptr && options_.stop->load() != 0; }

  // Sends what was written up to `pos` to the disk once a window is full,
  // and waits for the windows kWriteBehindLag behind. A write error found
  // here fails the copy: having been told once, the file would not tell it
  // again to the flush that ends the copy. A file system without the call
  // (or whose files it does not apply to) is left to that flush.
  ErrorCode WriteBehind(uint64_t pos) {
    if (!write_behind_ || pos < sent_ + kWriteBehindBytes) return 0;
    const auto sync = [this](uint64_t from, uint64_t to, unsigned flags) -> ErrorCode {
      if (sync_file_range(target_, static_cast<off64_t>(from), static_cast<off64_t>(to - from),
                          flags) == 0)
        return 0;
      if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || errno == ESPIPE) {
        write_behind_ = false;
        return 0;
      }
      return errno == EINTR ? 0 : errno;  // a signal: the final flush does it
    };
    if (const ErrorCode code = sync(sent_, pos, SYNC_FILE_RANGE_WRITE); code != 0) return code;
    sent_ = pos;
    if (!write_behind_ || sent_ < waited_ + kWriteBehindLag + kWriteBehindBytes) return 0;
    const uint64_t upto = sent_ - kWriteBehindLag;
    const ErrorCode code =
        sync(waited_, upto,
             SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    if (code == 0) waited_ = upto;
    return code;
  }

  int source_;
  int target_;
  const CopyOptions& options_;
  bool use_range_ = true;
  bool write_behind_ = true;
  uint64_t sent_ = 0;    // written and sent to the disk up to here
  uint64_t waited_ = 0;  // on the disk up to here
  std::unique_ptr<char[]> buffer_;
  size_t buffer_size_ = 0;
};

// The contents of the source, of `st.st_size` bytes (0: a file whose size
// the file system does not tell, copied to its end), into the empty
// target. A file with holes has only its data ranges copied and is given
// the size. `size` is the target's size afterwards.
ErrorCode CopyData(int source, int target, const struct stat& st, const CopyOptions& options,
                   uint64_t& size) {
  ChunkCopy copy(source, target, options);
  const uint64_t end = static_cast<uint64_t>(st.st_size);
  size = 0;
  if (HasHoles(st)) {
    for (uint64_t pos = 0; pos < end;) {
      const off_t data = lseek(source, static_cast<off_t>(pos), SEEK_DATA);
      if (data < 0 && errno == ENXIO) break;  // only a hole up to the end
      if (data < 0 && pos != 0) return errno;
      if (data < 0) return copy.Copy(size, end);  // no way to tell the holes: all of it
      if (static_cast<uint64_t>(data) >= end) break;
      const off_t hole = lseek(source, data, SEEK_HOLE);
      if (hole < 0) return errno;
      const uint64_t range_end = std::min(static_cast<uint64_t>(hole), end);
      uint64_t at = static_cast<uint64_t>(data);
      if (const ErrorCode code = copy.Copy(at, range_end); code != 0) return code;
      if (at < range_end) break;  // the file ended early
      pos = range_end;
    }
    // A hole at the end has no data range: the size makes it.
    if (ftruncate(target, st.st_size) != 0) return errno;
    size = end;
    return 0;
  }
  if (end > kChunkBytes) posix_fadvise(source, 0, 0, POSIX_FADV_SEQUENTIAL);
  // A small file is done with its first chunk; no call is spent on finding
  // the end. The size is that of the open file, so the copy is what fstat saw.
  return copy.Copy(size, end == 0 ? ChunkCopy::kToTheEnd : end);
}

// Ways of TakeFreeName, tried in this order.
enum NoReplaceWay : int { kRenameNoReplace = 0, kLookThenRename = 1 };

}  // namespace

// With AT_EMPTY_PATH (its opener may since Linux 6.10, before only with
// CAP_DAC_READ_SEARCH), else through /proc (any user may).
int LinkUnnamed(int fd, int dir, const std::string& name) {
  if (linkat(fd, "", dir, name.c_str(), AT_EMPTY_PATH) == 0) return 0;
  if (errno != ENOENT && errno != EPERM) return -1;
  return linkat(AT_FDCWD, ProcPath(fd).c_str(), dir, name.c_str(), AT_SYMLINK_FOLLOW);
}

void DiscardTemporary(Fd& fd, int dir, const std::string& name) {
  if (name.empty()) return fd.Reset();
  // A link cannot be opened, nor held open.
  if (!fd.valid())
    fd.Reset(openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  const bool removed = unlinkat(dir, name.c_str(), 0) == 0;
  fd.Reset();
  if (!removed) unlinkat(dir, name.c_str(), 0);  // refused while open
}

ErrorCode TakeFreeName(int dir, const std::string& temporary, const std::string& name,
                       std::atomic<int>* way) {
  if (way == nullptr || way->load(std::memory_order_relaxed) == kRenameNoReplace) {
    if (renameat2(dir, temporary.c_str(), dir, name.c_str(), RENAME_NOREPLACE) == 0) return 0;
    const ErrorCode code = errno;
    if (code != EINVAL && code != ENOSYS && code != EOPNOTSUPP) return code;
    if (way != nullptr) way->store(kLookThenRename, std::memory_order_relaxed);
  }
  struct stat st;
  if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
  if (errno != ENOENT) return errno;
  return renameat(dir, temporary.c_str(), dir, name.c_str()) == 0 ? 0 : errno;
}

ErrorCode PosixFileSystem::CopyLink(int from_dir, const std::string& from_name,
                                    const struct stat& st, int to_dir, const std::string& to_name,
                                    const CopyPlaces& places, const CopyOptions& options) {
  const VolumeAbilities volume = places.volume();
  // A file system that gives links no size gets a buffer of the longest path.
  std::string text(st.st_size > 0 ? static_cast<size_t>(st.st_size) + 1 : PATH_MAX, '\0');
  const ssize_t n = readlinkat(from_dir, from_name.c_str(), text.data(), text.size());
  if (n < 0) return errno;
  if (st.st_size > 0 ? n != st.st_size : static_cast<size_t>(n) == text.size())
    return kErrChangedMeanwhile;  // another link took its place
  text.resize(static_cast<size_t>(n));
  const std::string temporary = NewTemporaryName();
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
  if (code == 0 && options.keep_old_as != nullptr) code = KeepOld(to_dir, to_name, options);
  if (code == 0) {
    if (options.no_replace) {
      code = TakeFreeName(to_dir, temporary, to_name, places.no_replace_way);
    } else if (renameat(to_dir, temporary.c_str(), to_dir, to_name.c_str()) != 0) {
      code = errno;
    }
  }
  if (code != 0) unlinkat(to_dir, temporary.c_str(), 0);
  if (code == 0 && volume.sets_link_times && !volume.rename_keeps_times)
    utimensat(to_dir, to_name.c_str(), times, AT_SYMLINK_NOFOLLOW);
  if (code == 0 && options.progress != nullptr) options.progress->SetProgress(text.size());
  return code;
}

ErrorCode PosixFileSystem::CopyFile(const std::string& from, const std::string& to,
                                    const CopyOptions& options) {
  const Call call(*this);
  ChangeScope change(*this, to);
  if (options.old_kept != nullptr) *options.old_kept = false;
  CachedFolder* from_folder = nullptr;
  CachedFolder* to_folder = nullptr;
  std::string from_name, to_name;
  if (const ErrorCode code = ResolveParent(from, from_folder, from_name); code != 0) return code;
  if (const ErrorCode code = ResolveParent(to, to_folder, to_name); code != 0) return code;
  to_folder->listed = false;
  to_folder->names.clear();
  NoteWritten(*to_folder);
  // Both stay open: the cache keeps the two folders used last.
  const CopyPlaces places{from_folder->fd.get(), from_name, to_folder->fd.get(), to_name,
                          [this, to_folder] { return AbilitiesOf(*to_folder); }};
  return CopyBetween(places, options);
}

ErrorCode PosixFileSystem::CopyBetween(const CopyPlaces& places, const CopyOptions& options) {
  const int from_dir = places.from_dir;
  const int to_dir = places.to_dir;
  const std::string& from_name = places.from_name;
  const std::string& to_name = places.to_name;

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
    return CopyLink(from_dir, from_name, st, to_dir, to_name, places, options);
  }
  if (fstat(source.get(), &st) != 0) return errno;
  if (S_ISDIR(st.st_mode)) return EISDIR;
  if (!S_ISREG(st.st_mode)) return kErrNotSupported;

  // The new contents go to a file without a name (O_TMPFILE) where the file
  // system allows it, else to a temporary name; the old file stays untouched
  // until the rename.
  std::string temporary;
  Fd target(OpenNewFile(to_dir, options_.use_tmpfile, 0600, temporary));
  if (!target.valid()) return errno;
  auto fail = [&](ErrorCode code) {
    DiscardTemporary(target, to_dir, temporary);
    return code;
  };

  const uint64_t size = static_cast<uint64_t>(st.st_size);
  uint64_t copied = 0;
  if (const ErrorCode code = CopyData(source.get(), target.get(), st, options, copied); code != 0)
    return fail(code);
  if (const ErrorCode code = CheckUnchanged(source.get(), copied, st); code != 0) return fail(code);
  const Security* security = options.security;
  if (options.security_given != nullptr) *options.security_given = false;
  if (security != nullptr) {
    if (fchown(target.get(), security->uid, security->gid) != 0) return fail(errno);
  } else if (options.carry_owner && fchown(target.get(), st.st_uid, st.st_gid) != 0) {
    return fail(errno);
  }
  // After the owner, whose change drops capabilities; before the mode, which
  // may forbid writing user attributes.
  CopyExtendedAttributes(source.get(), target.get(), options);
  // The ACL before the mode, as the security step and the mode after it
  // would give them; where it cannot be given, they follow as before.
  const bool given = security != nullptr && WriteAccessAcl(target.get(), *security) == 0;
  if (const ErrorCode code =
          GiveMode(target.get(), given ? options.security_mode : st.st_mode, places.volume);
      code != 0)
    return fail(code);
  if (given && options.security_given != nullptr) *options.security_given = true;
  const timespec times[2] = {st.st_atim, st.st_mtim};
  if (futimens(target.get(), times) != 0) return fail(errno);
  if (options.stop != nullptr && options.stop->load() != 0) return fail(kErrCancelled);

  if (temporary.empty()) {
    // A new name takes the file directly; linkat never replaces.
    if (LinkUnnamed(target.get(), to_dir, to_name) == 0) return 0;
    if (errno != EEXIST) return fail(errno);
    if (options.no_replace) return fail(EEXIST);
    if (size > kFlushBeforeReplaceBytes && fdatasync(target.get()) != 0) return fail(errno);
    temporary = NewTemporaryName();
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
  if (close(target.Release()) != 0) return fail(errno);
  // The old file is kept before the new one takes its name: at every moment
  // it is under its own name, or kept, or both.
  if (options.keep_old_as != nullptr) {
    if (const ErrorCode code = KeepOld(to_dir, to_name, options); code != 0) return fail(code);
  }
  if (options.no_replace) {
    if (const ErrorCode code = TakeFreeName(to_dir, temporary, to_name, places.no_replace_way);
        code != 0)
      return fail(code);
  } else if (renameat(to_dir, temporary.c_str(), to_dir, to_name.c_str()) != 0) {
    return fail(errno);
  }
  // The copy is in place; should the times fail here, the next run copies again.
  if (!places.volume().rename_keeps_times)
    utimensat(to_dir, to_name.c_str(), times, AT_SYMLINK_NOFOLLOW);
  return 0;
}

ErrorCode PosixFileSystem::KeepOld(int dir, const std::string& name, const CopyOptions& options) {
  struct stat st;
  if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    return errno == ENOENT ? 0 : errno;                        // nothing to keep
  if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) return 0;  // the rename fails on it
  const std::string keep = Trimmed(*options.keep_old_as);
  const size_t slash = keep.rfind('/');
  const std::string keep_folder = slash == std::string::npos ? "."
                                  : slash == 0               ? "/"
                                                             : keep.substr(0, slash);
  const std::string keep_name = slash == std::string::npos ? keep : keep.substr(slash + 1);
  // Its own descriptor: the copy holds the cached folders' ones.
  Fd keep_dir;
  if (const ErrorCode code = OpenPath(keep_folder, O_RDONLY | O_DIRECTORY, false, keep_dir);
      code != 0)
    return code;
  ErrorCode code = 0;
  if (linkat(dir, name.c_str(), keep_dir.get(), keep_name.c_str(), 0) != 0) {
    code = errno;
    // Another file system (or mount), or one without hard links.
    if (code == EXDEV || code == EPERM || code == EMLINK || code == EOPNOTSUPP || code == ENOSYS) {
      code = CopyToKeep(dir, name, st, keep_dir.get(), keep_name, options);
      // The copy's name, and the folders made for it, reach the disk too
      // before the old file leaves its own.
      if (code == 0 && syncfs(keep_dir.get()) != 0) {
        code = errno;
        unlinkat(keep_dir.get(), keep_name.c_str(), 0);
      }
    }
  }
  if (code != 0) return code;
  struct stat folder;
  if (fstat(keep_dir.get(), &folder) == 0) NoteWritten(folder.st_dev, keep_folder);
  if (options.old_kept != nullptr) *options.old_kept = true;
  return 0;
}

ErrorCode PosixFileSystem::CopyToKeep(int dir, const std::string& name, const struct stat& st,
                                      int keep_dir, const std::string& keep_name,
                                      const CopyOptions& options) {
  const timespec times[2] = {st.st_atim, st.st_mtim};
  if (S_ISLNK(st.st_mode)) {
    std::string text;
    text.resize(st.st_size > 0 ? static_cast<size_t>(st.st_size) + 1 : PATH_MAX);
    const ssize_t n = readlinkat(dir, name.c_str(), text.data(), text.size());
    if (n < 0) return errno;
    text.resize(static_cast<size_t>(n));
    // A link is made whole at once, and never over another item.
    if (symlinkat(text.c_str(), keep_dir, keep_name.c_str()) != 0) return errno;
    // Its owner as far as it can be given: the link is kept either way.
    if (options.carry_owner)
      (void)!fchownat(keep_dir, keep_name.c_str(), st.st_uid, st.st_gid, AT_SYMLINK_NOFOLLOW);
    utimensat(keep_dir, keep_name.c_str(), times, AT_SYMLINK_NOFOLLOW);
    return 0;
  }
  Fd source(openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!source.valid()) return errno;
  struct stat opened;
  if (fstat(source.get(), &opened) != 0) return errno;
  if (opened.st_ino != st.st_ino || opened.st_dev != st.st_dev) return kErrChangedMeanwhile;
  std::string temporary;
  Fd target(OpenNewFile(keep_dir, options_.use_tmpfile, 0600, temporary));
  if (!target.valid()) return errno;
  auto fail = [&](ErrorCode code) {
    DiscardTemporary(target, keep_dir, temporary);
    return code;
  };
  CopyOptions quiet;  // the progress shown is the new file's
  quiet.stop = options.stop;
  quiet.carry_security_attributes = options.carry_security_attributes;
  uint64_t copied = 0;
  if (const ErrorCode code = CopyData(source.get(), target.get(), opened, quiet, copied); code != 0)
    return fail(code);
  if (const ErrorCode code = CheckUnchanged(source.get(), copied, opened); code != 0)
    return fail(code);
  // What the volume of the kept copy cannot take does not keep it from
  // holding the contents.
  if (options.carry_owner) (void)!fchown(target.get(), st.st_uid, st.st_gid);
  CopyExtendedAttributes(source.get(), target.get(), quiet);
  (void)!fchmod(target.get(), st.st_mode & 07777);
  if (futimens(target.get(), times) != 0) return fail(errno);
  // On the disk before the old file leaves its name.
  if (fdatasync(target.get()) != 0) return fail(errno);
  if (temporary.empty()) {
    if (LinkUnnamed(target.get(), keep_dir, keep_name) != 0) return fail(errno);
    return 0;
  }
  if (close(target.Release()) != 0) return fail(errno);
  if (const ErrorCode code =
          RenameAt(keep_dir, temporary, keep_dir, keep_name, RenameMode::NoReplace);
      code != 0)
    return fail(code);
  return 0;
}

ErrorCode PosixFileSystem::WriteNewFile(const std::string& path, std::string_view contents) {
  return AtCall(path, [&](int dir, const char* target) {
    const std::string name = target;
    std::string temporary;
    Fd file(OpenNewFile(dir, options_.use_tmpfile, 0666, temporary));
    if (!file.valid()) return -1;
    ErrorCode code = 0;
    for (size_t done = 0; done < contents.size() && code == 0;) {
      const ssize_t n = write(file.get(), contents.data() + done, contents.size() - done);
      if (n >= 0) {
        done += static_cast<size_t>(n);
      } else if (errno != EINTR) {
        code = errno;
      }
    }
    if (code == 0 && temporary.empty()) {
      // linkat never replaces.
      if (LinkUnnamed(file.get(), dir, name) != 0) code = errno;
    } else if (code == 0) {
      if (close(file.Release()) != 0) code = errno;
      if (code == 0) code = RenameAt(dir, temporary, dir, name, RenameMode::NoReplace);
    }
    if (code != 0) DiscardTemporary(file, dir, temporary);
    file.Reset();
    errno = code;
    return code == 0 ? 0 : -1;
  });
}

}  // namespace twinmere::posix
