#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/own_files.h"

namespace twinmere {

ErrorCode LookUpPath(const std::string& path, FinalLink final_link, PathFacts& facts) {
  struct stat st;
  const int result =
      final_link == FinalLink::Follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
  if (result != 0) return errno;
  facts.kind = S_ISREG(st.st_mode)   ? PathKind::File
               : S_ISDIR(st.st_mode) ? PathKind::Folder
               : S_ISLNK(st.st_mode) ? PathKind::Link
                                     : PathKind::Other;
  facts.device = static_cast<uint64_t>(st.st_dev);
  facts.inode = static_cast<uint64_t>(st.st_ino);
  return kSuccess;
}

ErrorCode MakeFolder(const std::string& path, uint32_t mode) {
  return ::mkdir(path.c_str(), static_cast<mode_t>(mode)) == 0 ? kSuccess : errno;
}

ErrorCode RemoveFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0 ? kSuccess : errno;
}

ErrorCode RenameWithoutReplacing(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
    return kSuccess;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // The file system cannot refuse to replace: look first.
  struct stat st;
  if (::lstat(to.c_str(), &st) == 0) return kErrAlreadyExists;
  return ::rename(from.c_str(), to.c_str()) == 0 ? kSuccess : errno;
}

ErrorCode ListFolderNames(const std::string& folder, std::vector<std::string>& names) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return errno;
  ErrorCode error = kSuccess;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr) {
      error = errno;
      break;
    }
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  ::closedir(dir);
  return error;
}

ErrorCode ReadSmallFile(const std::string& path, size_t limit, FinalLink final_link,
                        std::string& text) {
  text.clear();
  const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK |
                    (final_link == FinalLink::Itself ? O_NOFOLLOW : 0);
  int fd = -1;
  do {
    fd = ::open(path.c_str(), flags);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno;
  ErrorCode error = kSuccess;
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    error = errno;
  } else if (S_ISDIR(st.st_mode)) {
    error = kErrIsAFolder;
  } else if (!S_ISREG(st.st_mode)) {
    error = kErrNotSupported;
  } else {
    char buffer[64 * 1024];
    while (error == kSuccess) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0) {
        if (errno != EINTR) error = errno;
        continue;
      }
      if (n == 0) break;
      text.append(buffer, static_cast<size_t>(n));
      if (text.size() > limit) error = kErrFileTooLarge;
    }
  }
  ::close(fd);
  return error;
}

TextFileWriter::~TextFileWriter() {
  if (fd_ >= 0) ::close(fd_);
}

ErrorCode TextFileWriter::Open(const std::string& path, OpenMode mode) {
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

ErrorCode TextFileWriter::Write(std::string_view text) {
  if (fd_ < 0) return kErrNotOpen;
  while (!text.empty()) {
    const ssize_t n = ::write(fd_, text.data(), text.size());
    if (n < 0) return errno;
    if (n == 0) return kErrNoSpace;
    text.remove_prefix(static_cast<size_t>(n));
  }
  return kSuccess;
}

uint64_t TextFileWriter::Size(ErrorCode& error) const {
  struct stat st;
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
    error = fd_ < 0 ? kErrNotOpen : errno;
    return 0;
  }
  return static_cast<uint64_t>(st.st_size);
}

ErrorCode TextFileWriter::Close() {
  if (fd_ < 0) return kSuccess;
  const int result = ::close(fd_);
  fd_ = -1;
  // After EINTR the descriptor is gone on Linux; the data may not be, so
  // only a real failure counts.
  return result != 0 && errno != EINTR ? errno : kSuccess;
}

LineReader::~LineReader() {
  if (file_ != nullptr) std::fclose(file_);
  std::free(buffer_);
}

ErrorCode LineReader::Open(const std::string& path) {
  if (file_ != nullptr) std::fclose(file_);
  file_ = std::fopen(path.c_str(), "rbe");
  return file_ != nullptr ? kSuccess : errno;
}

ErrorCode LineReader::ReadLine(std::string& line) {
  if (file_ == nullptr) return kErrNotOpen;
  errno = 0;
  const ssize_t n = ::getline(&buffer_, &capacity_, file_);
  if (n < 0) return std::ferror(file_) ? (errno ? errno : kErrIoFailed) : kErrNoMoreEntries;
  line.assign(buffer_, static_cast<size_t>(n));
  return kSuccess;
}

}  // namespace twinmere
