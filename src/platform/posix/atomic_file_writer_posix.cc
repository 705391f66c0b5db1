#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/atomic_file_writer.h"
#include "platform/temporary_names.h"

namespace twinmere {
namespace {

// How many taken temporary names in a row make Begin give up.
constexpr int kNameAttempts = 100;

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

  uint32_t mode = options.mode & 07777;
  struct stat st;
  if (options.mode_source == ModeSource::Existing &&
      ::fstatat(folder_fd_, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
    mode = st.st_mode & 07777;

  for (int attempt = 0; fd_ < 0 && attempt < kNameAttempts; ++attempt) {
    temporary_ = NewTemporaryName();
    fd_ = ::openat(folder_fd_, temporary_.c_str(),
                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd_ < 0 && errno != EEXIST) break;
  }
  if (fd_ < 0) {
    const ErrorCode error = errno;
    temporary_.clear();
    Abandon();
    return error;
  }
  if (::fchmod(fd_, mode) != 0 && options.mode_failure == ModeFailure::Fails) {
    const ErrorCode error = errno;
    Abandon();
    return error;
  }
  return kSuccess;
}

ErrorCode AtomicFileWriter::Append(std::string_view bytes) {
  if (fd_ < 0) return EBADF;
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

ErrorCode AtomicFileWriter::Commit() {
  if (fd_ < 0) return EBADF;
  ErrorCode error = kSuccess;
  if (flush_ != FileFlush::None && ::fdatasync(fd_) != 0) error = errno;
  // After EINTR the descriptor is gone on Linux and the data written.
  if (::close(fd_) != 0 && error == kSuccess && errno != EINTR) error = errno;
  fd_ = -1;
  if (error == kSuccess &&
      ::renameat(folder_fd_, temporary_.c_str(), folder_fd_, name_.c_str()) != 0)
    error = errno;
  if (error != kSuccess) {
    Abandon();
    return error;
  }
  temporary_.clear();
  if (flush_ == FileFlush::DataAndFolder) {
    const int folder = ::openat(folder_fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0 || ::fsync(folder) != 0) error = errno;
    if (folder >= 0) ::close(folder);
  }
  Abandon();
  return error;
}

void AtomicFileWriter::Abandon() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temporary_.empty()) ::unlinkat(folder_fd_, temporary_.c_str(), 0);
  temporary_.clear();
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
