// Extended attributes that a copy carries with the contents: the user.*
// ones always, security.* (capabilities, labels) and trusted.* when the run
// handles security. The ACL attributes (system.posix_acl_*) belong to the
// security step and are left alone here.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "platform/posix/file_system_posix_internal.h"

namespace twinmere::posix {
namespace {

bool IsUserAttribute(std::string_view name) {
  return name.starts_with("user.");
}

bool IsCarried(std::string_view name, bool privileged) {
  return IsUserAttribute(name) ||
         (privileged && (name.starts_with("security.") || name.starts_with("trusted.")));
}

// The names of the attributes of `fd` (each ending in a NUL), in `small` when
// they fit, else in `large`. Empty when there are none or they cannot be read.
std::string_view ListNames(int fd, std::array<char, 512>& small, std::vector<char>& large) {
  ssize_t n = flistxattr(fd, small.data(), small.size());
  if (n >= 0) return std::string_view(small.data(), static_cast<size_t>(n));
  while (errno == ERANGE) {
    const ssize_t needed = flistxattr(fd, nullptr, 0);
    if (needed <= 0) break;
    large.resize(static_cast<size_t>(needed));
    n = flistxattr(fd, large.data(), large.size());
    if (n >= 0) return std::string_view(large.data(), static_cast<size_t>(n));
  }
  return {};
}

}  // namespace

void PosixFileSystem::CopyExtendedAttributes(int source, int target, const CopyOptions& options) {
  std::array<char, 512> small;
  std::vector<char> large;
  const std::string_view names = ListNames(source, small, large);
  if (names.empty()) return;

  // A file system that refuses user attributes refuses them for every file:
  // it is asked once per run (the confined roots are set anew for each run).
  bool users_refused = false;
  uint64_t device = 0;
  {
    std::unique_lock<std::mutex> lock(user_attributes_mutex_);
    if (!user_attributes_refused_.empty()) {
      lock.unlock();
      struct stat st;
      if (fstat(target, &st) == 0) device = st.st_dev;
      lock.lock();
      users_refused = std::find(user_attributes_refused_.begin(), user_attributes_refused_.end(),
                                device) != user_attributes_refused_.end();
    }
  }

  std::vector<char> value(256);
  for (size_t start = 0; start < names.size();) {
    const size_t end = names.find('\0', start);
    const std::string name(names.substr(start, end - start));
    start = end == std::string_view::npos ? names.size() : end + 1;
    if (!IsCarried(name, options.carry_security_attributes)) continue;
    const bool user = IsUserAttribute(name);
    if (user && users_refused) continue;
    ssize_t length = fgetxattr(source, name.c_str(), value.data(), value.size());
    if (length < 0 && errno == ERANGE) {
      const ssize_t needed = fgetxattr(source, name.c_str(), nullptr, 0);
      if (needed <= 0) continue;
      value.resize(static_cast<size_t>(needed));
      length = fgetxattr(source, name.c_str(), value.data(), value.size());
    }
    if (length < 0) continue;
    if (fsetxattr(target, name.c_str(), value.data(), static_cast<size_t>(length), 0) == 0 ||
        !user || errno != ENOTSUP)
      continue;
    users_refused = true;
    struct stat st;
    if (device == 0 && fstat(target, &st) == 0) device = st.st_dev;
    const std::lock_guard<std::mutex> lock(user_attributes_mutex_);
    user_attributes_refused_.push_back(device);
  }
}

ErrorCode PosixFileSystem::CopyFolderAttributes(const std::string& from, const std::string& to,
                                                const CopyOptions& options) {
  ChangeScope change(*this, to);
  Fd source, target;
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NONBLOCK;
  if (const ErrorCode code = OpenPath(Trimmed(from), kFlags, true, source); code != 0) return code;
  if (const ErrorCode code = OpenPath(Trimmed(to), kFlags, true, target); code != 0) return code;
  struct stat st;
  if (fstat(target.get(), &st) == 0) NoteWritten(st.st_dev, Trimmed(to));
  CopyExtendedAttributes(source.get(), target.get(), options);
  return 0;
}

}  // namespace twinmere::posix
