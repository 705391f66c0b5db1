// Writing and reading desktop entry files on this system.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "app/desktop_entry.h"
#include "platform/atomic_file_writer.h"

namespace twinmere {

namespace {

// Far more than any launcher holds; a larger file is not read.
constexpr size_t kMaxEntrySize = size_t{1} << 20;

ShortcutStatus SystemFailure(ErrorCode number) {
  return ShortcutStatus{number, SystemErrorText(number)};
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
  // Its temporary name is of the pattern that runs recognise: should the save
  // be killed in a synchronized tree, the leftover is never copied as an item
  // and a later run removes it.
  const ErrorCode error =
      WriteWholeFile(shortcut_path, text,
                     {.mode = 0644, .mode_source = ModeSource::Existing, .flush = FileFlush::Data});
  return error == kSuccess ? ShortcutStatus{} : SystemFailure(error);
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
