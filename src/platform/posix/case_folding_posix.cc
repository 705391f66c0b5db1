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

// The type of the file system tells, except for FUSE: there a name of the
// folder that holds a letter is looked up in the other case.
bool PosixFileSystem::NamesIgnoreCase(const std::string& folder) {
  const Call call(*this);
  CachedFolder* cached = nullptr;
  std::string name;
  std::string inside = folder;
  if (inside.empty() || inside.back() != '/') inside += '/';
  if (ResolveParent(inside + ".", cached, name, ParentUse::Lookup) != 0) return false;
  if (!IsCaseInsensitive(*cached)) return false;
  struct statfs sfs;
  if (fstatfs(cached->fd.get(), &sfs) != 0 || static_cast<uint64_t>(sfs.f_type) != kFuseMagic)
    return true;
  if (!cached->listed && !ListFolder(*cached)) return true;
  for (const auto& [inode, stored] : cached->names) {
    std::string other = stored;
    for (char& c : other) {
      if (c >= 'a' && c <= 'z') {
        c = static_cast<char>(c - 'a' + 'A');
      } else if (c >= 'A' && c <= 'Z') {
        c = static_cast<char>(c - 'A' + 'a');
      }
    }
    if (other == stored) continue;
    struct stat a, b;
    if (fstatat(cached->fd.get(), stored.c_str(), &a, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (fstatat(cached->fd.get(), other.c_str(), &b, AT_SYMLINK_NOFOLLOW) != 0)
      return errno != ENOENT;
    return a.st_ino == b.st_ino && a.st_dev == b.st_dev;
  }
  return true;
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
