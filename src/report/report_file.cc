#include "report/report_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/atomic_file_writer.h"

namespace twinmere {

ReportFileWriter::~ReportFileWriter() {
  if (fd_ >= 0) ::close(fd_);
}

ErrorCode ReportFileWriter::Open(const std::string& path, OpenMode mode) {
  if (fd_ >= 0) ::close(fd_);
  // O_NONBLOCK: a FIFO without a reader fails at once (ENXIO) instead of
  // waiting for one; the type is checked before anything is truncated or
  // written. No retry after EINTR: only a stop signal interrupts a call here.
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK |
                    (mode == OpenMode::Append ? O_APPEND : 0);
  fd_ = ::open(path.c_str(), flags, 0666);
  if (fd_ < 0) return errno == ENXIO ? kErrNotSupported : errno;
  struct stat st;
  ErrorCode error = kSuccess;
  if (::fstat(fd_, &st) != 0) {
    error = errno;
  } else if (!S_ISREG(st.st_mode)) {
    error = kErrNotSupported;
  } else if (mode == OpenMode::Replace && ::ftruncate(fd_, 0) != 0) {
    error = errno;
  } else if (::fcntl(fd_, F_SETFL, flags & O_APPEND) != 0) {  // blocking writes again
    error = errno;
  }
  if (error != kSuccess) {
    ::close(fd_);
    fd_ = -1;
  }
  return error;
}

ErrorCode ReportFileWriter::Write(std::string_view text) {
  if (fd_ < 0) return EBADF;
  while (!text.empty()) {
    const ssize_t n = ::write(fd_, text.data(), text.size());
    if (n < 0) return errno;
    if (n == 0) return kErrNoSpace;
    text.remove_prefix(static_cast<size_t>(n));
  }
  return kSuccess;
}

uint64_t ReportFileWriter::Size(ErrorCode& error) const {
  struct stat st;
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
    error = fd_ < 0 ? EBADF : errno;
    return 0;
  }
  return static_cast<uint64_t>(st.st_size);
}

ErrorCode ReportFileWriter::Close() {
  if (fd_ < 0) return kSuccess;
  const int result = ::close(fd_);
  fd_ = -1;
  // After EINTR the descriptor is gone on Linux; the data may not be, so
  // only a real failure counts.
  return result != 0 && errno != EINTR ? errno : kSuccess;
}

ErrorCode CutReportFile(const std::string& report_path, uint64_t cut, std::string_view first_line,
                        uint32_t mode) {
  // Best effort for the mode: the cut report keeps its permissions where it can.
  AtomicFileWriter writer;
  ErrorCode error = writer.Begin(
      report_path,
      {.mode = mode & 07777, .mode_failure = ModeFailure::Ignored, .flush = FileFlush::None});
  if (error != kSuccess) return error;
  std::FILE* in = std::fopen(report_path.c_str(), "rbe");
  if (in == nullptr) return errno;

  // The kept lines go to the writer in pieces of this size or more.
  constexpr size_t kPiece = 64 * 1024;
  std::string piece(first_line);
  piece += '\n';
  char* line = nullptr;
  size_t capacity = 0;
  uint64_t total = 0;
  while (error == kSuccess) {
    errno = 0;
    const ssize_t n = ::getline(&line, &capacity, in);
    if (n < 0) {
      if (std::ferror(in)) error = errno ? errno : EIO;
      break;
    }
    // The running total is the offset just past the line's end.
    const size_t length = static_cast<size_t>(n);
    total += line[length - 1] == '\n' ? length : length + 1;
    if (total > cut) piece.append(line, length);
    if (piece.size() >= kPiece) {
      error = writer.Append(piece);
      piece.clear();
    }
  }
  std::free(line);
  std::fclose(in);
  if (error == kSuccess) error = writer.Append(piece);
  if (error == kSuccess) error = writer.Commit();
  return error;
}

}  // namespace twinmere
