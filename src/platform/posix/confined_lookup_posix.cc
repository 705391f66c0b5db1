// Paths resolved beneath the confined roots without following a link, and the
// open folders kept between operations.
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>

#include <string_view>

#include "platform/posix/file_system_posix_internal.h"

namespace twinmere::posix {
namespace {

// Splits a path into its folder and final name, without copying either.
// (Single characters are views of literals: GCC 12 at -O3 warns falsely on
// single-character assignments here.)
void SplitPath(std::string_view path, std::string_view& folder, std::string_view& name) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const auto slash = path.rfind('/');
  if (slash == std::string_view::npos) {
    folder = ".";
    name = path;
  } else if (path.size() == 1) {
    folder = "/";
    name = ".";
  } else {
    folder = slash == 0 ? std::string_view("/") : path.substr(0, slash);
    name = path.substr(slash + 1);
  }
}

}  // namespace

void PosixFileSystem::SetConfinedRoots(const std::vector<std::string>& roots) {
  StopReadAhead();
  roots_.clear();
  root_fds_.clear();
  for (const std::string& root : roots) roots_.push_back(Trimmed(root));
  root_fds_.resize(roots_.size());
  abilities_.clear();
  ForgetFolders();
  {
    const std::lock_guard<std::mutex> lock(user_attributes_mutex_);
    user_attributes_refused_.clear();
  }
  written_.clear();
}

// The longest confined root that `path` lies below (or equals); null if none.
const std::string* PosixFileSystem::RootOf(const std::string& path, bool& equal) const {
  const std::string* best = nullptr;
  equal = false;
  for (const std::string& root : roots_) {
    const bool same = path == root;
    const bool below = path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                       (root == "/" || path[root.size()] == '/');
    if ((same || below) && (best == nullptr || root.size() > best->size())) {
      best = &root;
      equal = same;
    }
  }
  return best;
}

// Opens a trimmed path with `flags`. A confined root is opened as written;
// below it, no link is followed. Elsewhere the folders of the path are
// resolved as written and the final component is not followed when
// `nofollow_final`. Below a root the resolution starts from the deepest
// folder kept open on the way (ResolveParent), so that a walk going down
// opens one more component per folder, and a path of any length is
// resolved in pieces that each fit one call.
ErrorCode PosixFileSystem::OpenPath(const std::string& path, int flags, bool nofollow_final,
                                    Fd& out) {
  flags |= O_CLOEXEC;
  bool equal = false;
  const std::string* root = RootOf(path, equal);
  if (root == nullptr || equal) {
    const int fd = open(path.c_str(), flags | (nofollow_final && !equal ? O_NOFOLLOW : 0));
    if (fd < 0) return errno;
    out.Reset(fd);
    return 0;
  }
  Fd& root_fd = root_fds_[static_cast<size_t>(root - roots_.data())];
  if (!root_fd.valid()) {
    root_fd.Reset(open(root->c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!root_fd.valid()) return errno;
  }
  // Every kept folder below the root was resolved beneath it.
  int base = root_fd.get();
  size_t base_length = root->size();
  for (const CachedFolder& entry : folders_) {
    if (entry.fd.valid() && entry.path.size() > base_length && path.size() > entry.path.size() &&
        path[entry.path.size()] == '/' && path.compare(0, entry.path.size(), entry.path) == 0) {
      base = entry.fd.get();
      base_length = entry.path.size();
    }
  }
  std::string relative = path.substr(base_length);
  while (!relative.empty() && relative.front() == '/') relative.erase(0, 1);
  if (options_.use_openat2 && !openat2_missing_) {
    // Each piece holds whole components and stays below PATH_MAX.
    constexpr size_t kPieceBytes = 4000;
    Fd holder;
    int current = base;
    for (size_t start = 0;;) {
      size_t end = relative.size();
      if (end - start > kPieceBytes) {
        end = relative.rfind('/', start + kPieceBytes);
        if (end == std::string::npos || end <= start) end = relative.find('/', start + kPieceBytes);
      }
      const bool last = end >= relative.size();
      open_how how{};
      how.flags = static_cast<uint64_t>(last ? flags : O_PATH | O_DIRECTORY | O_CLOEXEC);
      how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
      const std::string piece = relative.substr(start, end - start);
      const long fd = syscall(SYS_openat2, current, piece.c_str(), &how, sizeof how);
      if (fd < 0) {
        if (errno != ENOSYS) return errno;
        openat2_missing_ = true;
        break;
      }
      holder.Reset(static_cast<int>(fd));
      current = holder.get();
      if (last) {
        out = std::move(holder);
        return 0;
      }
      start = end + 1;
    }
  }
  // One component at a time, never through a link.
  int current = base;
  Fd holder;
  std::vector<std::string> parts;
  for (size_t start = 0; start <= relative.size();) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    const std::string part = relative.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") return EXDEV;
    parts.push_back(part);
  }
  for (size_t i = 0; i < parts.size(); ++i) {
    Fd next(openat(current, parts[i].c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!next.valid()) return errno;
    struct stat st;
    if (fstat(next.get(), &st) != 0) return errno;
    if (S_ISLNK(st.st_mode)) return ELOOP;
    const bool last = i + 1 == parts.size();
    if (!last || (flags & O_DIRECTORY)) {
      if (!S_ISDIR(st.st_mode)) return ENOTDIR;
    }
    if (last && (flags & O_PATH) == 0) {
      next.Reset(openat(current, parts[i].c_str(), flags | O_NOFOLLOW));
      if (!next.valid()) return errno;
    }
    holder = std::move(next);
    current = holder.get();
  }
  if (!holder.valid()) return EINVAL;
  out = std::move(holder);
  return 0;
}

// The folder of `path` from the cache of open folders, opening it when new.
// Lookups in a folder that is missing come in a row (every item of a Source
// folder not yet in Target): the first failure answers the others until
// any other operation, which may create the folder, is asked for.
ErrorCode PosixFileSystem::ResolveParent(const std::string& path, CachedFolder*& out,
                                         std::string& name, ParentUse use) {
  std::string_view folder, final_name;
  SplitPath(path, folder, final_name);
  name.assign(final_name);
  if (use == ParentUse::Change) {
    missing_folder_.clear();
  } else if (!missing_folder_.empty() && folder == missing_folder_) {
    return missing_folder_code_;
  }
  ++clock_;
  for (CachedFolder& entry : folders_) {
    if (entry.fd.valid() && entry.path == folder) {
      entry.last_use = clock_;
      out = &entry;
      return 0;
    }
  }
  CachedFolder* victim = &folders_[0];
  for (CachedFolder& entry : folders_)
    if (entry.last_use < victim->last_use) victim = &entry;
  const std::string folder_path(folder);
  Fd fd;
  if (const ErrorCode code = OpenPath(folder_path, O_PATH | O_DIRECTORY, false, fd); code != 0) {
    if (use == ParentUse::Lookup && IsMissingError(code)) {
      missing_folder_ = folder_path;
      missing_folder_code_ = code;
    }
    return code;
  }
  *victim = CachedFolder{};
  victim->path = folder_path;
  victim->fd = std::move(fd);
  victim->last_use = clock_;
  out = victim;
  return 0;
}

void PosixFileSystem::ForgetFolders() {
  missing_folder_.clear();
  for (CachedFolder& entry : folders_) entry = CachedFolder{};
}

void PosixFileSystem::ForgetFoldersBelow(const std::string& path) {
  for (CachedFolder& entry : folders_) {
    if (entry.fd.valid() && entry.path.compare(0, path.size(), path) == 0 &&
        (entry.path.size() == path.size() || entry.path[path.size()] == '/'))
      entry = CachedFolder{};
  }
}

}  // namespace twinmere::posix
