// Where a folder lies inside its file system, told from the mount table, so
// that a bind mount of a subfolder is seen as that subfolder.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>

#include "platform/posix/file_system_posix.h"

namespace twinmere {
namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// A field of the mount table with its octal escapes ("\040" for a blank)
// decoded.
std::string Unescaped(std::string_view field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3' &&
        field[i + 2] >= '0' && field[i + 2] <= '7' && field[i + 3] >= '0' && field[i + 3] <= '7') {
      out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                               (field[i + 3] - '0'));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

// The next blank-separated field of `line` from `p`; empty at the end.
std::string_view NextField(std::string_view line, size_t& p) {
  while (p < line.size() && line[p] == ' ') ++p;
  const size_t start = p;
  while (p < line.size() && line[p] != ' ') ++p;
  return line.substr(start, p - start);
}

// A decimal number that makes up all of `text`.
bool ParseNumber(std::string_view text, uint64_t& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

// What a place that cannot be told fails with when no call failed: the
// kernel or the mount table does not say ("No data available").
constexpr ErrorCode kNotTold = ENODATA;

// Opens a file of /proc for reading; the errno of the open where it fails
// (ENOENT where /proc is not mounted).
ErrorCode OpenProcFile(const std::string& path, std::ifstream& file) {
  const Descriptor probe(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (probe.get() < 0) return errno;
  file.open(path);
  return file ? kSuccess : kNotTold;
}

// The mount id of an open descriptor.
ErrorCode MountIdOf(int fd, uint64_t& id) {
  struct statx stx {};
  if (::statx(fd, "", AT_EMPTY_PATH, STATX_MNT_ID, &stx) == 0 && (stx.stx_mask & STATX_MNT_ID)) {
    id = stx.stx_mnt_id;
    return kSuccess;
  }
  // Kernels before 5.8 tell it only here.
  std::ifstream info;
  if (const ErrorCode code = OpenProcFile("/proc/self/fdinfo/" + std::to_string(fd), info);
      code != kSuccess)
    return code;
  for (std::string line; std::getline(info, line);) {
    if (!line.starts_with("mnt_id:")) continue;
    const size_t digits = line.find_first_not_of(" \t", 7);
    return digits != std::string::npos && ParseNumber(std::string_view(line).substr(digits), id)
               ? kSuccess
               : kNotTold;
  }
  return kNotTold;
}

// "/" for the empty text, else the text without trailing "/".
std::string Normalized(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path.empty() ? "/" : path;
}

}  // namespace

ErrorCode LocateMountedFolder(const std::string& folder, FolderPlace& place) {
  const Descriptor fd(
      ::open(folder.empty() ? "." : folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0) return errno;
  uint64_t mount_id = 0;
  if (const ErrorCode code = MountIdOf(fd.get(), mount_id); code != kSuccess) return code;

  // The folder's path as this process sees it, in the same namespace and
  // below the same root as the mount points of the table.
  std::string seen(4096, '\0');
  const std::string proc = "/proc/self/fd/" + std::to_string(fd.get());
  for (;;) {
    const ssize_t n = ::readlink(proc.c_str(), seen.data(), seen.size());
    if (n < 0) return errno;
    if (static_cast<size_t>(n) < seen.size()) {
      seen.resize(static_cast<size_t>(n));
      break;
    }
    seen.resize(seen.size() * 2);
  }
  if (seen.empty() || seen.front() != '/') return kNotTold;  // outside our root

  std::ifstream table;
  if (const ErrorCode code = OpenProcFile("/proc/self/mountinfo", table); code != kSuccess)
    return code;
  // Fields: mount id, parent id, major:minor, root, mount point, ...
  for (std::string line; std::getline(table, line);) {
    size_t p = 0;
    uint64_t id = 0;
    if (!ParseNumber(NextField(line, p), id) || id != mount_id) continue;
    NextField(line, p);
    const std::string_view device = NextField(line, p);
    const std::string root = Unescaped(NextField(line, p));
    const std::string mount_point = Normalized(Unescaped(NextField(line, p)));
    const size_t colon = device.find(':');
    uint64_t major_number = 0;
    uint64_t minor_number = 0;
    if (colon == std::string_view::npos || !ParseNumber(device.substr(0, colon), major_number) ||
        !ParseNumber(device.substr(colon + 1), minor_number))
      return kNotTold;
    std::string below;  // the folder's path below the mount point: "" or "/a/b"
    if (mount_point == "/") {
      below = seen;
    } else if (seen.starts_with(mount_point) &&
               (seen.size() == mount_point.size() || seen[mount_point.size()] == '/')) {
      below = seen.substr(mount_point.size());
    } else {
      return kNotTold;  // the folder is not where its mount says
    }
    place.file_system =
        makedev(static_cast<unsigned>(major_number), static_cast<unsigned>(minor_number));
    place.path = Normalized((root == "/" ? std::string() : root) + below);
    return kSuccess;
  }
  return kNotTold;
}

}  // namespace twinmere
