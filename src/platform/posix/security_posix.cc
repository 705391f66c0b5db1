// Owners and access control lists, and which file systems keep them.
#include <acl/libacl.h>
#include <fcntl.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>

#include "platform/posix/file_system_posix_internal.h"

namespace twinmere::posix {
namespace {

// getxattrat(2) reads an attribute of a name relative to an open folder
// without following a final link: one call where the alternative opens the
// item, reads through /proc and closes it again. Linux 6.13 and later.
#ifndef SYS_getxattrat
#define SYS_getxattrat 464
#endif

struct XattrArgs {
  uint64_t value;
  uint32_t size;
  uint32_t flags;
};

// An ACL attribute as the kernel keeps it: a version word, then entries of a
// 16-bit tag, 16-bit permissions and a 32-bit id, in the kernel's order.
constexpr uint32_t kAclXattrVersion = 2;

// Decodes an ACL attribute the way libacl reads it. An access ACL that says
// no more than the permission mode (owner, group and other entries only)
// counts as none.
ErrorCode ParseAcl(const unsigned char* data, size_t size, bool access, bool& present,
                   std::vector<AclEntry>& entries) {
  present = false;
  entries.clear();
  const auto word16 = [data](size_t at) {
    return static_cast<uint32_t>(data[at] | data[at + 1] << 8);
  };
  const auto word32 = [&word16](size_t at) { return word16(at) | word16(at + 2) << 16; };
  if (size < 4 || (size - 4) % 8 != 0 || word32(0) != kAclXattrVersion) return EINVAL;
  bool beyond_mode = false;
  for (size_t at = 4; at < size; at += 8) {
    AclEntry entry;
    entry.tag = word16(at);
    entry.perm = word16(at + 2) & 7u;
    switch (entry.tag) {
      case ACL_USER_OBJ:
      case ACL_GROUP_OBJ:
      case ACL_OTHER:
        break;
      case ACL_USER:
      case ACL_GROUP:
        entry.qualifier = word32(at + 4);
        beyond_mode = true;
        break;
      case ACL_MASK:
        beyond_mode = true;
        break;
      default:
        return EINVAL;
    }
    entries.push_back(entry);
  }
  if (access && !beyond_mode) entries.clear();
  present = !entries.empty();
  return 0;
}

// Reads one ACL attribute with `read(buffer, size)`, which answers like
// getxattr. No attribute, or none supported there: no ACL.
template <typename Read>
ErrorCode ReadAclWith(Read read, bool access, bool& present, std::vector<AclEntry>& entries) {
  present = false;
  entries.clear();
  unsigned char small[132];  // up to 16 entries
  std::vector<unsigned char> large;
  unsigned char* buffer = small;
  ssize_t n = read(small, sizeof small);
  while (n < 0 && errno == ERANGE) {
    const ssize_t needed = read(nullptr, 0);
    if (needed < 0) break;
    large.resize(static_cast<size_t>(needed));
    buffer = large.data();
    n = read(buffer, large.size());
  }
  if (n < 0) {
    if (errno == ENOTSUP || errno == ENODATA) return 0;
    return errno;
  }
  if (n == 0) return 0;
  return ParseAcl(buffer, static_cast<size_t>(n), access, present, entries);
}

const char* AclName(bool access) {
  return access ? "system.posix_acl_access" : "system.posix_acl_default";
}

constexpr const char* kCapabilityName = "security.capability";

// Reads a file's capabilities with `read(buffer, size)`, which answers like
// getxattr. None set is known; a file system that keeps no such attribute
// leaves them unknown.
template <typename Read>
ErrorCode ReadCapabilityWith(Read read, Security& security) {
  security.capability_known = false;
  security.capability.clear();
  char buffer[64];  // the largest form, with a namespace's root, takes 24 bytes
  const ssize_t n = read(buffer, sizeof buffer);
  if (n < 0) {
    if (errno == ENODATA) {
      security.capability_known = true;
      return 0;
    }
    if (errno == ENOTSUP || errno == ERANGE) return 0;  // none kept, or none of ours
    return errno;
  }
  security.capability.assign(buffer, static_cast<size_t>(n));
  security.capability_known = true;
  return 0;
}

// Whether the capabilities of `item` are read with its security. The kernel
// gives them to a program only when the file is executed, which needs an
// execute bit: a file without one is spared the call (its capabilities are
// unknown, and WriteSecurity keeps its own through a change of owner).
bool ReadsCapabilities(const ItemInfo& item) {
  return item.kind == ItemKind::File && (item.mode & 0111) != 0;
}

// The access ACL, and for a folder the default ACL, of `item`, and the
// capabilities of a file that ReadsCapabilities: each attribute is read
// with `reader(attribute)(buffer, size)`, which answers like getxattr. The
// error `ignored` (0: none) counts as an attribute not kept there.
template <typename Reader>
ErrorCode ReadAclsWith(const Reader& reader, const ItemInfo& item, ErrorCode ignored,
                       Security& security) {
  for (const bool access : {true, false}) {
    if (!access && !item.IsFolder()) break;
    const auto read = reader(AclName(access));
    const ErrorCode code =
        access ? ReadAclWith(read, true, security.has_access_acl, security.access_acl)
               : ReadAclWith(read, false, security.has_default_acl, security.default_acl);
    if (code != 0 && code != ignored) return code;
  }
  if (!ReadsCapabilities(item)) return 0;
  const ErrorCode code = ReadCapabilityWith(reader(kCapabilityName), security);
  return code == ignored ? 0 : code;
}

// Those of `name` in `dir`, which is `item`. ENOSYS where the kernel has
// no getxattrat.
ErrorCode ReadAclsAt(int dir, const char* name, const ItemInfo& item, Security& security) {
  const auto reader = [dir, name](const char* attribute) {
    return [dir, name, attribute](void* buffer, size_t size) -> ssize_t {
      XattrArgs args{reinterpret_cast<uintptr_t>(buffer), static_cast<uint32_t>(size), 0};
      return syscall(SYS_getxattrat, dir, name, AT_SYMLINK_NOFOLLOW, attribute, &args, sizeof args);
    };
  };
  return ReadAclsWith(reader, item, 0, security);
}

// The same through a descriptor of the item itself, by its /proc path
// (an O_PATH descriptor takes no fgetxattr).
ErrorCode ReadAclsOf(int fd, const ItemInfo& item, Security& security) {
  const std::string proc = ProcPath(fd);
  const auto reader = [&proc](const char* attribute) {
    return [&proc, attribute](void* buffer, size_t size) -> ssize_t {
      return getxattr(proc.c_str(), attribute, buffer, size);
    };
  };
  return ReadAclsWith(reader, item, ENOSYS, security);
}

// Builds the ACL of `entries` and gives it with `set(acl)`, which answers
// like acl_set_file.
template <typename Set>
ErrorCode WriteAclWith(const std::vector<AclEntry>& entries, Set set) {
  acl_t acl = acl_init(static_cast<int>(entries.size()));
  if (acl == nullptr) return errno;
  ErrorCode code = 0;
  for (const AclEntry& in : entries) {
    acl_entry_t entry;
    acl_permset_t permset;
    if (acl_create_entry(&acl, &entry) != 0 ||
        acl_set_tag_type(entry, static_cast<acl_tag_t>(in.tag)) != 0) {
      code = errno;
      break;
    }
    if (in.tag == ACL_USER || in.tag == ACL_GROUP) {
      uint32_t qualifier = in.qualifier;
      if (acl_set_qualifier(entry, &qualifier) != 0) {
        code = errno;
        break;
      }
    }
    if (acl_get_permset(entry, &permset) != 0 || acl_clear_perms(permset) != 0) {
      code = errno;
      break;
    }
    if (in.perm & 4) acl_add_perm(permset, ACL_READ);
    if (in.perm & 2) acl_add_perm(permset, ACL_WRITE);
    if (in.perm & 1) acl_add_perm(permset, ACL_EXECUTE);
    acl_set_permset(entry, permset);
  }
  if (code == 0 && set(acl) != 0) code = errno;
  acl_free(acl);
  return code;
}

ErrorCode WriteAcl(const std::string& proc, acl_type_t type, const std::vector<AclEntry>& entries) {
  return WriteAclWith(entries, [&](acl_t acl) { return acl_set_file(proc.c_str(), type, acl); });
}

}  // namespace

ErrorCode WriteAccessAcl(int fd, const Security& security) {
  if (security.has_access_acl)
    return WriteAclWith(security.access_acl, [fd](acl_t acl) { return acl_set_fd(fd, acl); });
  if (fremovexattr(fd, "system.posix_acl_access") != 0 && errno != ENODATA && errno != ENOTSUP)
    return errno;
  return 0;
}

ErrorCode ReadSecurityAt(int dir, const std::string& name, const ItemInfo* known,
                         std::atomic<bool>& use_getxattrat, Security& security) {
  security = Security{};
  ItemInfo stated;
  if (known == nullptr && !use_getxattrat.load()) {
    // Through a descriptor of the item: its stat and its ACLs are one item's.
    Fd fd(openat(dir, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) return errno;
    struct stat st;
    if (fstat(fd.get(), &st) != 0) return errno;
    if (!FillInfo(st, stated)) return kErrNotSupported;
    security.uid = stated.uid;
    security.gid = stated.gid;
    if (stated.kind == ItemKind::Link) return 0;  // a link has no ACLs
    return ReadAclsOf(fd.get(), stated, security);
  }
  if (known == nullptr) {
    struct stat st;
    if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
    if (!FillInfo(st, stated)) return kErrNotSupported;
    known = &stated;
  }
  security.uid = known->uid;
  security.gid = known->gid;
  if (known->kind == ItemKind::Link) return 0;
  if (use_getxattrat.load()) {
    const ErrorCode code = ReadAclsAt(dir, name.c_str(), *known, security);
    if (code != ENOSYS) return code;
    use_getxattrat.store(false);  // an older kernel
  }
  Fd fd(openat(dir, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid()) return errno;
  struct stat st;
  if (fstat(fd.get(), &st) != 0) return errno;
  if (st.st_ino != known->inode || st.st_dev != known->device) return kErrChangedMeanwhile;
  return ReadAclsOf(fd.get(), *known, security);
}

bool PosixFileSystem::KeepsSecurity(const std::string& path) {
  Fd fd;
  if (OpenPath(Trimmed(path), O_PATH, false, fd) != 0) return false;
  struct statfs sfs;
  if (fstatfs(fd.get(), &sfs) != 0) return false;
  const uint64_t type = static_cast<uint64_t>(sfs.f_type);
  if (type == kMsdosMagic || type == kExfatMagic) return false;
  // ACL attributes refused: no ACLs. (ENODATA means supported, none set.)
  const std::string proc = ProcPath(fd.get());
  char value[64];
  if (getxattr(proc.c_str(), "system.posix_acl_access", value, sizeof value) < 0 &&
      (errno == ENOTSUP || errno == ENOSYS))
    return false;
  // FUSE answers the ACL question in the kernel even for file systems that
  // keep no attributes at all (fusefat): ask for an ordinary one too.
  if (type == kFuseMagic && getxattr(proc.c_str(), "user.twinmere", value, sizeof value) < 0 &&
      (errno == ENOTSUP || errno == ENOSYS))
    return false;
  return true;
}

ErrorCode PosixFileSystem::OpenItemPath(const std::string& path, Fd& fd, struct stat& st) {
  CachedFolder* folder = nullptr;
  std::string name;
  if (const ErrorCode code = ResolveParent(path, folder, name); code != 0) return code;
  fd = Fd(openat(folder->fd.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid()) return errno;
  return fstat(fd.get(), &st) == 0 ? 0 : errno;
}

ErrorCode PosixFileSystem::ReadSecurity(const std::string& path, Security& security) {
  const Call call(*this);
  CachedFolder* folder = nullptr;
  std::string name;
  if (const ErrorCode code = ResolveParent(path, folder, name, ParentUse::Lookup); code != 0)
    return code;
  return ReadSecurityAt(folder->fd.get(), name, nullptr, *use_getxattrat_, security);
}

ErrorCode PosixFileSystem::WriteSecurity(const std::string& path, const Security& security) {
  const Call call(*this);
  ChangeScope change(*this, path);
  Fd fd;
  struct stat st;
  if (const ErrorCode code = OpenItemPath(path, fd, st); code != 0) return code;
  NoteWritten(st.st_dev, Trimmed(path));
  const std::string proc = ProcPath(fd.get());
  const bool owner_changes = st.st_uid != security.uid || st.st_gid != security.gid;
  // A change of owner drops a file's capabilities: it gets those of the
  // item it takes its security from, or where they are unknown its own back.
  Security capabilities;
  if (S_ISREG(st.st_mode)) {
    if (security.capability_known) {
      capabilities.capability_known = true;
      capabilities.capability = security.capability;
    } else if (owner_changes) {
      ReadCapabilityWith(
          [&proc](void* buffer, size_t size) {
            return getxattr(proc.c_str(), kCapabilityName, buffer, size);
          },
          capabilities);
      capabilities.capability_known = !capabilities.capability.empty();
    }
  }
  if (owner_changes &&
      fchownat(fd.get(), "", security.uid, security.gid, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW) != 0)
    return errno;
  if (S_ISLNK(st.st_mode)) return 0;
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return kErrNotSupported;
  if (security.has_access_acl) {
    if (const ErrorCode code = WriteAcl(proc, ACL_TYPE_ACCESS, security.access_acl); code != 0)
      return code;
  } else if (removexattr(proc.c_str(), "system.posix_acl_access") != 0 && errno != ENODATA &&
             errno != ENOTSUP) {
    return errno;
  }
  if (capabilities.capability_known) {
    const std::string& value = capabilities.capability;
    if (!value.empty()) {
      if (setxattr(proc.c_str(), kCapabilityName, value.data(), value.size(), 0) != 0 &&
          errno != ENOTSUP)
        return errno;
    } else if (removexattr(proc.c_str(), kCapabilityName) != 0 && errno != ENODATA &&
               errno != ENOTSUP) {
      return errno;
    }
  }
  if (!S_ISDIR(st.st_mode)) return 0;
  if (security.has_default_acl) return WriteAcl(proc, ACL_TYPE_DEFAULT, security.default_acl);
  if (acl_delete_def_file(proc.c_str()) != 0 && errno != ENOTSUP && errno != ENODATA) return errno;
  return 0;
}

}  // namespace twinmere::posix
