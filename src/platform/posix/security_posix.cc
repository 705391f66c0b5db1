// Owners and access control lists, and which file systems keep them.
#include <acl/libacl.h>
#include <fcntl.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "platform/posix/file_system_posix_internal.h"

namespace twinmere::posix {
namespace {

ErrorCode ReadAcl(const std::string& proc, acl_type_t type, bool& present,
                  std::vector<AclEntry>& entries) {
  present = false;
  entries.clear();
  acl_t acl = acl_get_file(proc.c_str(), type);
  if (acl == nullptr) {
    if (errno == ENOTSUP || errno == ENOSYS || errno == ENODATA) return 0;
    return errno;
  }
  if (type == ACL_TYPE_ACCESS && acl_equiv_mode(acl, nullptr) == 0) {
    acl_free(acl);  // only what the permission mode says already
    return 0;
  }
  acl_entry_t entry;
  for (int id = ACL_FIRST_ENTRY; acl_get_entry(acl, id, &entry) == 1; id = ACL_NEXT_ENTRY) {
    AclEntry out;
    acl_tag_t tag = ACL_UNDEFINED_TAG;
    acl_get_tag_type(entry, &tag);
    out.tag = static_cast<uint32_t>(tag);
    if (tag == ACL_USER || tag == ACL_GROUP) {
      if (void* qualifier = acl_get_qualifier(entry)) {
        out.qualifier = *static_cast<uint32_t*>(qualifier);
        acl_free(qualifier);
      }
    }
    acl_permset_t permset;
    if (acl_get_permset(entry, &permset) == 0) {
      out.perm = (acl_get_perm(permset, ACL_READ) == 1 ? 4u : 0u) |
                 (acl_get_perm(permset, ACL_WRITE) == 1 ? 2u : 0u) |
                 (acl_get_perm(permset, ACL_EXECUTE) == 1 ? 1u : 0u);
    }
    entries.push_back(out);
  }
  acl_free(acl);
  present = !entries.empty();
  return 0;
}

ErrorCode WriteAcl(const std::string& proc, acl_type_t type, const std::vector<AclEntry>& entries) {
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
  if (code == 0 && acl_set_file(proc.c_str(), type, acl) != 0) code = errno;
  acl_free(acl);
  return code;
}

}  // namespace

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
  Fd fd;
  struct stat st;
  if (const ErrorCode code = OpenItemPath(path, fd, st); code != 0) return code;
  security = Security{};
  security.uid = st.st_uid;
  security.gid = st.st_gid;
  if (S_ISLNK(st.st_mode)) return 0;  // a link has no ACLs
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return kErrNotSupported;
  const std::string proc = ProcPath(fd.get());
  if (const ErrorCode code =
          ReadAcl(proc, ACL_TYPE_ACCESS, security.has_access_acl, security.access_acl);
      code != 0)
    return code;
  if (S_ISDIR(st.st_mode))
    return ReadAcl(proc, ACL_TYPE_DEFAULT, security.has_default_acl, security.default_acl);
  return 0;
}

ErrorCode PosixFileSystem::WriteSecurity(const std::string& path, const Security& security) {
  Fd fd;
  struct stat st;
  if (const ErrorCode code = OpenItemPath(path, fd, st); code != 0) return code;
  if ((st.st_uid != security.uid || st.st_gid != security.gid) &&
      fchownat(fd.get(), "", security.uid, security.gid, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW) != 0)
    return errno;
  if (S_ISLNK(st.st_mode)) return 0;
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return kErrNotSupported;
  const std::string proc = ProcPath(fd.get());
  if (security.has_access_acl) {
    if (const ErrorCode code = WriteAcl(proc, ACL_TYPE_ACCESS, security.access_acl); code != 0)
      return code;
  } else if (removexattr(proc.c_str(), "system.posix_acl_access") != 0 && errno != ENODATA &&
             errno != ENOTSUP) {
    return errno;
  }
  if (!S_ISDIR(st.st_mode)) return 0;
  if (security.has_default_acl) return WriteAcl(proc, ACL_TYPE_DEFAULT, security.default_acl);
  if (acl_delete_def_file(proc.c_str()) != 0 && errno != ENOTSUP && errno != ENODATA) return errno;
  return 0;
}

}  // namespace twinmere::posix
