// Writing and reading desktop entry files on this system.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <string>
#include <vector>

#include "app/desktop_entry.h"
#include "platform/temporary_names.h"

namespace twinmere {

namespace {

// Far more than any launcher holds; a larger file is not read.
constexpr size_t kMaxEntrySize = size_t{1} << 20;

ShortcutStatus SystemFailure(ErrorCode number) {
  return ShortcutStatus{number, SystemErrorText(number)};
}

ErrorCode WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return ENOSPC;
    text.remove_prefix(static_cast<size_t>(n));
  }
  return kSuccess;
}

}  // namespace

ShortcutStatus CreateShortcut(const std::string& shortcut_path, const ShortcutFields& fields) {
  if (shortcut_path.empty()) return ShortcutStatus{EINVAL, "No shortcut file was given."};
  // Menus show the file's name without ".desktop".
  const std::string name =
      WithoutDesktopEntryExtension(shortcut_path.substr(shortcut_path.rfind('/') + 1));
  std::string text;
  if (ShortcutStatus status = FormatDesktopEntry(name, fields, text); !status.ok()) return status;

  // A file that is there already keeps its permissions (a launcher the user
  // made trusted or private stays so); anything else is replaced by a new file.
  mode_t mode = 0644;
  struct stat st;
  if (::lstat(shortcut_path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) mode = st.st_mode & 07777;

  const size_t slash = shortcut_path.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : shortcut_path.substr(0, slash + 1);
  // A temporary name of the whole pattern that runs recognise: should the
  // save be killed in a synchronized tree, the leftover is never copied as an
  // item and a later run removes it.
  std::string temporary;
  int fd = -1;
  const std::string random = std::to_string(std::random_device{}() % 1000000000u);
  for (uint64_t counter = 1; fd < 0 && counter <= 100; ++counter) {
    temporary = folder + TemporaryName(::getpid(), random, counter);
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return SystemFailure(errno);

  ErrorCode error = WriteAll(fd, text);
  if (error == kSuccess && ::fchmod(fd, mode) != 0) error = errno;
  if (error == kSuccess && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == kSuccess && errno != EINTR) error = errno;
  if (error == kSuccess && ::rename(temporary.c_str(), shortcut_path.c_str()) != 0) error = errno;
  if (error != kSuccess) {
    ::unlink(temporary.c_str());
    return SystemFailure(error);
  }
  return {};
}

ShortcutStatus ReadShortcut(const std::string& shortcut_path, ShortcutFields& fields) {
  // Not blocking: a FIFO under the name must not hang the dialog.
  int fd = -1;
  do {
    fd = ::open(shortcut_path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return SystemFailure(errno);

  ShortcutStatus status;
  struct stat st;
  std::string text;
  if (::fstat(fd, &st) != 0) {
    status = SystemFailure(errno);
  } else if (S_ISDIR(st.st_mode)) {
    status = SystemFailure(EISDIR);
  } else if (!S_ISREG(st.st_mode)) {
    status = ShortcutStatus{EINVAL, "The shortcut file is not a regular file."};
  } else {
    std::vector<char> buffer(64 * 1024);
    while (status.ok()) {
      const ssize_t n = ::read(fd, buffer.data(), buffer.size());
      if (n < 0) {
        if (errno != EINTR) status = SystemFailure(errno);
        continue;
      }
      if (n == 0) break;
      text.append(buffer.data(), static_cast<size_t>(n));
      if (text.size() > kMaxEntrySize)
        status = ShortcutStatus{EFBIG,
                                "The shortcut file is larger than 1 MiB, which no "
                                "launcher is."};
    }
  }
  ::close(fd);
  if (!status.ok()) return status;
  return ParseDesktopEntry(text, fields);
}

}  // namespace twinmere
