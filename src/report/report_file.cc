#include "report/report_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

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

std::string TemporaryFolderFor(const std::string& report_path) {
  const size_t slash = report_path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return report_path.substr(0, slash);
}

ErrorCode CutReportFile(const std::string& report_path, uint64_t cut, std::string_view first_line,
                        uint32_t mode) {
  std::string folder = TemporaryFolderFor(report_path);
  if (folder.back() != '/') folder += '/';
  std::string name = folder + "TwrXXXXXX";
  std::vector<char> buffer(name.begin(), name.end());
  buffer.push_back('\0');
  const int fd = ::mkstemp(buffer.data());
  if (fd < 0) return errno;
  name = buffer.data();
  ::fchmod(fd, mode & 07777);  // best effort: the cut report keeps its permissions

  ErrorCode error = kSuccess;
  std::FILE* out = ::fdopen(fd, "wb");
  if (out == nullptr) {
    error = errno;
    ::close(fd);
    ::unlink(name.c_str());
    return error;
  }
  std::FILE* in = std::fopen(report_path.c_str(), "rbe");
  if (in == nullptr) error = errno;

  if (error == kSuccess) {
    if (std::fwrite(first_line.data(), 1, first_line.size(), out) != first_line.size() ||
        std::fputc('\n', out) == EOF) {
      error = errno ? errno : EIO;
    }
  }
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
    if (total > cut && std::fwrite(line, 1, length, out) != length) error = errno ? errno : EIO;
  }
  std::free(line);
  if (in != nullptr) std::fclose(in);
  if (std::fclose(out) != 0 && error == kSuccess) error = errno ? errno : EIO;

  if (error == kSuccess && ::rename(name.c_str(), report_path.c_str()) != 0) error = errno;
  if (error != kSuccess) ::unlink(name.c_str());
  return error;
}

}  // namespace twinmere
