#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "platform/atomic_file_writer.h"
#include "platform/posix/file_system_posix_internal.h"
#include "platform/temporary_names.h"

namespace twinmere {
namespace {

using posix::Fd;

// How many taken temporary names in a row make Begin give up.
constexpr int kNameAttempts = 100;

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The regular file that this process's standard output or error writes to.
bool IsOwnOutput(const struct stat& st) {
  for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    struct stat out;
    if (::fstat(fd, &out) == 0 && S_ISREG(out.st_mode) && SameFile(out, st)) return true;
  }
  return false;
}

FileTime TimeOf(const timespec& t) {
  return FileTime{static_cast<int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec};
}

// Removes the temporary files that killed writers left in the folder and
// that no live process can own; others, and anything unreadable, stay.
void RemoveLeftovers(int folder_fd) {
  Fd dir(::openat(folder_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat folder;
  if (!dir.valid() || ::fstat(dir.get(), &folder) != 0) return;
  std::vector<std::string> names;
  posix::DirentStream stream(dir.get());
  const posix::linux_dirent64_record* entry = nullptr;
  while (stream.Next(entry) == 0) {
    if (IsTemporaryName(entry->d_name)) names.emplace_back(entry->d_name);
  }
  for (const std::string& name : names) {
    const bool remove = MayRemoveLeftover(name, [&](LeftoverTimes& times) {
      struct stat st;
      if (::fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
      times = {TimeOf(st.st_ctim), TimeOf(st.st_mtim), TimeOf(folder.st_mtim)};
      return true;
    });
    if (remove) ::unlinkat(dir.get(), name.c_str(), 0);
  }
}

// SIGPIPE held back while this thread writes into a FIFO: a reader that
// went away gives EPIPE, and the signal it raised is taken, never delivered.
class PipeSignalHeld {
 public:
  PipeSignalHeld() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    was_pending_ = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &before_);
  }
  ~PipeSignalHeld() {
    const timespec none{};
    if (!was_pending_) {
      while (sigtimedwait(&pipe_, nullptr, &none) == SIGPIPE) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &before_, nullptr);
  }
  PipeSignalHeld(const PipeSignalHeld&) = delete;
  PipeSignalHeld& operator=(const PipeSignalHeld&) = delete;

 private:
  sigset_t pipe_;
  sigset_t before_;
  bool was_pending_ = false;
};

}  // namespace

AtomicFileWriter::~AtomicFileWriter() {
  Abandon();
}

ErrorCode AtomicFileWriter::Begin(const std::string& path, const AtomicWriteOptions& options) {
  Abandon();
  if (path.empty()) return kErrNotFound;
  const size_t slash = path.rfind('/');
  name_ = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name_.empty()) return EISDIR;
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : path.substr(0, slash);
  folder_fd_ = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (folder_fd_ < 0) return errno;
  flush_ = options.flush;
  const auto failed = [this](ErrorCode error) {
    Abandon();
    return error;
  };

  struct stat st;
  const bool exists = ::fstatat(folder_fd_, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  if (!exists && errno != ENOENT) return failed(errno);
  if (exists && (!S_ISREG(st.st_mode) || IsOwnOutput(st))) {
    const ErrorCode error = OpenInPlace(st);
    return error == kSuccess ? kSuccess : failed(error);
  }
  RemoveLeftovers(folder_fd_);

  uint32_t mode = options.mode & 07777;
  if (options.mode_source == ModeSource::Existing && exists) mode = st.st_mode & 07777;
  // Without a name where the file system allows it: a writer killed before
  // the end leaves nothing.
  fd_ = ::openat(folder_fd_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  for (int attempt = 0; fd_ < 0 && attempt < kNameAttempts; ++attempt) {
    temporary_ = NewTemporaryName();
    fd_ = ::openat(folder_fd_, temporary_.c_str(),
                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd_ < 0 && errno != EEXIST) break;
  }
  if (fd_ < 0) {
    const ErrorCode error = errno;
    temporary_.clear();
    return failed(error);
  }
  if (::fchmod(fd_, mode) != 0 && options.mode_failure == ModeFailure::Fails) return failed(errno);
  return kSuccess;
}

ErrorCode AtomicFileWriter::OpenInPlace(const struct stat& at) {
  struct stat st = at;
  const bool link = S_ISLNK(at.st_mode);
  if (S_ISDIR(at.st_mode)) return EISDIR;
  // A link is judged by what it leads to, and opened through.
  if (link && ::fstatat(folder_fd_, name_.c_str(), &st, 0) != 0) return kErrNotSupported;
  const bool own_output = S_ISREG(st.st_mode) && IsOwnOutput(st);
  if (!S_ISFIFO(st.st_mode) && !S_ISCHR(st.st_mode) && !own_output) return kErrNotSupported;
  // O_NONBLOCK: a FIFO without a reader fails at once (ENXIO) instead of
  // waiting for one.
  const int flags = O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK | (link ? 0 : O_NOFOLLOW) |
                    (own_output ? O_APPEND : 0);
  fd_ = ::openat(folder_fd_, name_.c_str(), flags);
  if (fd_ < 0) return errno;
  struct stat opened;
  if (::fstat(fd_, &opened) != 0) return errno;
  if (!SameFile(opened, st)) return kErrChangedMeanwhile;
  if (::fcntl(fd_, F_SETFL, flags & O_APPEND) != 0) return errno;  // blocking writes again
  in_place_ = true;
  return kSuccess;
}

ErrorCode AtomicFileWriter::Append(std::string_view bytes) {
  if (fd_ < 0) return EBADF;
  std::optional<PipeSignalHeld> held;
  if (in_place_) held.emplace();
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const ErrorCode error = n < 0 ? errno : kErrNoSpace;
      Abandon();
      return error;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return kSuccess;
}

ErrorCode AtomicFileWriter::TakeName() {
  if (temporary_.empty()) {
    // A new name is taken by the link itself, which never replaces.
    if (posix::LinkUnnamed(fd_, folder_fd_, name_) == 0) return kSuccess;
    if (errno != EEXIST) return errno;
    for (int attempt = 0; temporary_.empty() && attempt < kNameAttempts; ++attempt) {
      temporary_ = NewTemporaryName();
      if (posix::LinkUnnamed(fd_, folder_fd_, temporary_) == 0) break;
      temporary_.clear();
      if (errno != EEXIST) return errno;
    }
    if (temporary_.empty()) return EEXIST;
  }
  // Begin saw a regular file or nothing here; only such is ever replaced.
  struct stat st;
  if (::fstatat(folder_fd_, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode))
    return S_ISDIR(st.st_mode) ? EISDIR : kErrNotSupported;
  if (::renameat(folder_fd_, temporary_.c_str(), folder_fd_, name_.c_str()) != 0) return errno;
  temporary_.clear();
  return kSuccess;
}

ErrorCode AtomicFileWriter::Commit() {
  if (fd_ < 0) return EBADF;
  ErrorCode error = kSuccess;
  if (in_place_) {
    // After EINTR the descriptor is gone on Linux and the data written.
    if (::close(fd_) != 0 && errno != EINTR) error = errno;
    fd_ = -1;
    Abandon();
    return error;
  }
  if (flush_ != FileFlush::None && ::fdatasync(fd_) != 0) error = errno;
  // The close comes before the name: it reports what a network file system
  // could not write. The temporary name, if any, is then held by none.
  if (error == kSuccess && !temporary_.empty()) {
    if (::close(fd_) != 0 && errno != EINTR) error = errno;
    fd_ = -1;
  }
  if (error == kSuccess) error = TakeName();
  if (error != kSuccess) {
    Abandon();
    return error;
  }
  if (fd_ >= 0 && ::close(fd_) != 0 && errno != EINTR) error = errno;
  fd_ = -1;
  if (flush_ == FileFlush::DataAndFolder) {
    const int folder = ::openat(folder_fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0 || ::fsync(folder) != 0) error = errno;
    if (folder >= 0) ::close(folder);
  }
  Abandon();
  return error;
}

void AtomicFileWriter::Abandon() {
  Fd fd(fd_);
  fd_ = -1;
  if (!in_place_) posix::DiscardTemporary(fd, folder_fd_, temporary_);
  temporary_.clear();
  in_place_ = false;
  if (folder_fd_ >= 0) ::close(folder_fd_);
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
