// Folders whose names compare ignoring letter case: finding out which are, and
// the names stored on disk for names looked up in another case.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>

#include "platform/posix/file_system_posix_internal.h"

#ifndef FS_CASEFOLD_FL
#define FS_CASEFOLD_FL 0x40000000
#endif

namespace twinmere::posix {

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool PosixFileSystem::IsCaseInsensitive(CachedFolder& folder) {
  if (folder.case_insensitive < 0) folder.case_insensitive = DetectCaseInsensitive(folder.fd.get());
  return folder.case_insensitive > 0;
}

int PosixFileSystem::DetectCaseInsensitive(int fd) {
  struct statfs sfs;
  if (fstatfs(fd, &sfs) != 0) return 0;
  const uint64_t type = static_cast<uint64_t>(sfs.f_type);
  if (type == kMsdosMagic || type == kExfatMagic || type == kNtfs3Magic || type == kCifsMagic ||
      type == kSmb2Magic || type == kFuseMagic)
    return 1;
  if (type != kExt4Magic && type != kF2fsMagic) return 0;
  Fd dir(openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.valid()) return 0;
  int flags = 0;
  if (ioctl(dir.get(), FS_IOC_GETFLAGS, &flags) != 0) return 0;
  return (flags & FS_CASEFOLD_FL) ? 1 : 0;
}

// The type of the file system tells, except for FUSE: there a name that
// holds a letter is looked up in the other case, in the folder or, where
// none of its names holds one, in the folders above it on the same file
// system. The listing is read afresh each time.
bool PosixFileSystem::NamesIgnoreCase(const std::string& folder) {
  const Call call(*this);
  std::string path = folder;
  if (path.empty() || path.back() != '/') path += '/';
  uint64_t device = 0;
  for (bool first = true;; first = false) {
    CachedFolder* cached = nullptr;
    std::string name;
    if (ResolveParent(path + ".", cached, name, ParentUse::Lookup) != 0) return false;
    struct stat st;
    if (fstat(cached->fd.get(), &st) != 0) return false;
    if (first) {
      if (!IsCaseInsensitive(*cached)) return false;
      struct statfs sfs;
      if (fstatfs(cached->fd.get(), &sfs) != 0 || static_cast<uint64_t>(sfs.f_type) != kFuseMagic)
        return true;
      device = st.st_dev;
    } else if (st.st_dev != device) {
      return false;
    }
    if (const int answer = ProbeCase(*cached); answer >= 0) return answer > 0;
    // The folder above: up to the root, never through "." or "..".
    path.pop_back();
    const size_t slash = path.rfind('/');
    const std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
    if (last.empty() || IsDots(last.c_str())) return false;
    path.resize(slash == std::string::npos ? 0 : slash + 1);
    if (path.empty()) path = "./";
  }
}

// A name of the folder that holds a letter, with every letter in the other
// case: where that finds an item while the listing holds no such name, the
// folder ignores case. Inode numbers do not tell (FUSE may give each name
// its own), nor do two listed names of one item (hard links).
int PosixFileSystem::ProbeCase(CachedFolder& folder) {
  if (!ListFolder(folder)) return -1;
  for (const auto& [inode, stored] : folder.names) {
    std::string other = stored;
    for (char& c : other) {
      if (c >= 'a' && c <= 'z') {
        c = static_cast<char>(c - 'a' + 'A');
      } else if (c >= 'A' && c <= 'Z') {
        c = static_cast<char>(c - 'A' + 'a');
      }
    }
    if (other == stored) continue;
    struct stat st;
    if (fstatat(folder.fd.get(), stored.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (fstatat(folder.fd.get(), other.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) return 0;
      continue;
    }
    for (const auto& [unused, listed] : folder.names)
      if (listed == other) return 0;
    return 1;
  }
  return -1;
}

// Replaces `name` with the name stored on disk for the item `st` of a
// case-insensitive folder. Left unchanged when the listing fails.
void PosixFileSystem::StoredName(CachedFolder& folder, const struct stat& st, std::string& name) {
  // A listing kept from an earlier lookup may miss an item made since by
  // someone else: list again once before giving up.
  const bool fresh = !folder.listed;
  if (fresh && !ListFolder(folder)) return;
  if (FindStoredName(folder, st, name) || fresh) return;
  if (ListFolder(folder)) FindStoredName(folder, st, name);
}

bool PosixFileSystem::ListFolder(CachedFolder& folder) {
  folder.names.clear();
  folder.listed = false;
  Fd dir(openat(folder.fd.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.valid()) return false;
  DirentStream stream(dir.get());
  const linux_dirent64_record* entry = nullptr;
  while (stream.Next(entry) == 0) {
    if (!IsDots(entry->d_name)) folder.names.emplace_back(entry->d_ino, entry->d_name);
  }
  folder.listed = true;
  return true;
}

bool PosixFileSystem::FindStoredName(const CachedFolder& folder, const struct stat& st,
                                     std::string& name) {
  // A name stored as it was asked for is that item's own (a FUSE folder is
  // looked up as if it ignored case, and may well not).
  for (const auto& [inode, stored] : folder.names)
    if (stored == name) return true;
  // Another name of the item is the stored spelling of this one only where
  // the item has no other: each link of a file with hard links is a name of
  // its own, never a short name or a case of another.
  const bool one_name = S_ISDIR(st.st_mode) || st.st_nlink <= 1;
  for (const auto& [inode, stored] : folder.names) {
    if (inode == st.st_ino && (one_name || EqualIgnoringCase(stored, name))) {
      name = stored;
      return true;
    }
  }
  // Some file systems (FUSE) list made-up inode numbers: the same name
  // ignoring case, else the entry that stats to the same item.
  for (const auto& [inode, stored] : folder.names) {
    if (EqualIgnoringCase(stored, name)) {
      name = stored;
      return true;
    }
  }
  if (!one_name) return false;
  for (const auto& [inode, stored] : folder.names) {
    struct stat other;
    if (fstatat(folder.fd.get(), stored.c_str(), &other, AT_SYMLINK_NOFOLLOW) == 0 &&
        other.st_ino == st.st_ino && other.st_dev == st.st_dev) {
      name = stored;
      return true;
    }
  }
  return false;
}

}  // namespace twinmere::posix
