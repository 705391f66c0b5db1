// Locks on files: flock on a descriptor of the file itself, so that the lock
// goes with the process (a killed run holds none).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "platform/posix/file_system_posix_internal.h"
#include "platform/temporary_names.h"

namespace twinmere::posix {
namespace {

class HeldLock final : public FileLock {
 public:
  explicit HeldLock(Fd fd) : fd_(std::move(fd)) {}

 private:
  Fd fd_;  // closing it lets the lock go
};

ErrorCode WriteAll(int fd, std::string_view contents) {
  for (size_t done = 0; done < contents.size();) {
    const ssize_t n = write(fd, contents.data() + done, contents.size() - done);
    if (n >= 0) {
      done += static_cast<size_t>(n);
    } else if (errno != EINTR) {
      return errno;
    }
  }
  return 0;
}

}  // namespace

// The file is locked under a temporary name and renamed to its own: no one
// finds it unlocked under that name.
ErrorCode PosixFileSystem::CreateLockedFile(const std::string& path, std::string_view contents,
                                            std::unique_ptr<FileLock>& lock) {
  lock.reset();
  std::unique_ptr<FileLock> held;
  const ErrorCode code = AtCall(path, [&](int dir, const char* name) {
    const std::string temporary = NewTemporaryName();
    Fd file(
        openat(dir, temporary.c_str(), O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!file.valid()) return -1;
    const bool locked = flock(file.get(), LOCK_EX | LOCK_NB) == 0;
    ErrorCode error = WriteAll(file.get(), contents);
    if (error == 0) error = RenameAt(dir, temporary, dir, name, RenameMode::NoReplace);
    if (error != 0) {
      unlinkat(dir, temporary.c_str(), 0);
      errno = error;
      return -1;
    }
    if (locked) held = std::make_unique<HeldLock>(std::move(file));
    return 0;
  });
  if (code == 0) lock = std::move(held);
  return code;
}

ErrorCode PosixFileSystem::LockFile(const std::string& path, size_t limit, std::string& contents,
                                    std::unique_ptr<FileLock>& lock) {
  lock.reset();
  contents.clear();
  const Call call(*this);
  CachedFolder* folder = nullptr;
  std::string name;
  if (const ErrorCode code = ResolveParent(path, folder, name, ParentUse::Lookup); code != 0)
    return code;
  const int dir = folder->fd.get();
  // Look first: a device node is never opened.
  struct stat st;
  if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return kErrNotSupported;
  // Opened for writing too: where locks are byte ranges underneath (NFS),
  // only such a descriptor takes an exclusive one.
  Fd file(openat(dir, name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!file.valid()) return errno;
  struct stat opened;
  if (fstat(file.get(), &opened) != 0) return errno;
  if (opened.st_ino != st.st_ino || opened.st_dev != st.st_dev) return kErrChangedMeanwhile;
  if (flock(file.get(), LOCK_EX | LOCK_NB) != 0) return errno == EWOULDBLOCK ? kErrInUse : errno;
  contents.resize(limit);
  size_t done = 0;
  while (done < limit) {
    const ssize_t n =
        pread(file.get(), contents.data() + done, limit - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  contents.resize(done);
  lock = std::make_unique<HeldLock>(std::move(file));
  return 0;
}

}  // namespace twinmere::posix
