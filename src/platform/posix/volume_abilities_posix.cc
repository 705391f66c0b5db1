// What a volume can keep of what a copy gives it, found out by trying it once
// per volume and run, and modes given as far as a volume keeps them; and
// whether its file system is local, which decides where threads run.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include "platform/posix/file_system_posix_internal.h"
#include "platform/temporary_names.h"

namespace twinmere::posix {
namespace {

// The answer where nothing could be tried: modes count, and no link's times
// are set (they might be set through the link).
constexpr VolumeAbilities kCareful{07777, false, false};

// A time every file system can hold (1980-01-01, an even second).
constexpr time_t kProbeSeconds = 315532800;

bool RefusesModes(ErrorCode code) {
  return code == EPERM || code == ENOSYS || code == EOPNOTSUPP;
}

}  // namespace

bool IsLocalFileSystem(int fd) {
  struct statfs sfs;
  return fstatfs(fd, &sfs) == 0 && IsLocalFileSystemType(static_cast<uint64_t>(sfs.f_type));
}

VolumeAbilities PosixFileSystem::Abilities(const std::string& path) {
  const Call call(*this);
  CachedFolder* folder = nullptr;
  std::string name;
  if (ResolveParent(path, folder, name, ParentUse::Lookup) != 0) return kCareful;
  return AbilitiesOf(*folder);
}

bool PosixFileSystem::KnownAbilities(const std::string& path, VolumeAbilities& abilities) {
  const Call call(*this);
  CachedFolder* folder = nullptr;
  std::string name;
  if (ResolveParent(path, folder, name, ParentUse::Lookup) != 0) return false;
  return KnownAbilitiesOf(*folder, abilities);
}

bool PosixFileSystem::KnownAbilitiesOf(CachedFolder& folder, VolumeAbilities& abilities) {
  if (!folder.device_known) {
    struct stat st;
    if (fstat(folder.fd.get(), &st) != 0) return false;
    folder.device = st.st_dev;
    folder.device_known = true;
  }
  for (const auto& [device, known] : abilities_) {
    if (device == folder.device) {
      abilities = known;
      return true;
    }
  }
  // The local file systems of Linux keep everything: nothing to try there.
  struct statfs sfs;
  if (fstatfs(folder.fd.get(), &sfs) == 0) {
    const uint64_t type = static_cast<uint64_t>(sfs.f_type);
    if (type == kExt4Magic || type == kXfsMagic || type == kBtrfsMagic || type == kTmpfsMagic ||
        type == kF2fsMagic) {
      abilities_.emplace_back(folder.device, VolumeAbilities{});
      abilities = VolumeAbilities{};
      return true;
    }
  }
  return false;
}

VolumeAbilities PosixFileSystem::AbilitiesOf(CachedFolder& folder) {
  VolumeAbilities known;
  if (KnownAbilitiesOf(folder, known)) return known;
  if (!folder.device_known) return kCareful;
  bool tried = false;
  ChangeScope change(*this, std::string());  // the probe's items come and go
  const VolumeAbilities abilities = ProbeVolume(folder.fd.get(), tried);
  folder.listed = false;  // the probe's items came and went
  folder.names.clear();
  if (tried) abilities_.emplace_back(folder.device, abilities);
  return abilities;
}

// Tries in the folder `dir` what its volume keeps: the mode of a new file,
// then the read-only attribute alone, and its times across a rename; the
// times of a new link whose text leads nowhere (it names something inside
// the link itself), so that a file system which sets them through the link
// writes nothing. `tried` is false when the file could not be made or a
// call failed for another reason.
VolumeAbilities PosixFileSystem::ProbeVolume(int dir, bool& tried) {
  tried = false;
  const std::string file = NewTemporaryName();
  Fd fd(openat(dir, file.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd.valid()) return kCareful;
  VolumeAbilities abilities;
  struct stat st;
  if (fchmod(fd.get(), 0640) == 0) {
    tried = fstat(fd.get(), &st) == 0;
    abilities.kept_mode_bits = tried && (st.st_mode & 07777) == 0640 ? 07777 : 0;
  } else {
    tried = RefusesModes(errno);
    abilities.kept_mode_bits = 0;
  }
  if (tried && abilities.kept_mode_bits == 0 && fstat(fd.get(), &st) == 0) {
    if (fchmod(fd.get(), st.st_mode & 07777 & ~0222u) == 0) {
      if (fstat(fd.get(), &st) == 0 && (st.st_mode & 0200) == 0) abilities.kept_mode_bits = 0200;
    } else if (!RefusesModes(errno)) {
      tried = false;
    }
  }
  const timespec times[2] = {{kProbeSeconds, 0}, {kProbeSeconds, 0}};
  std::string name = file;
  if (tried && futimens(fd.get(), times) == 0) {
    fd.Reset();
    const std::string renamed = NewTemporaryName();
    if (renameat(dir, file.c_str(), dir, renamed.c_str()) == 0) {
      name = renamed;
      abilities.rename_keeps_times = fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                                     st.st_mtim.tv_sec == kProbeSeconds;
    } else {
      tried = false;
    }
  } else {
    tried = false;
  }
  DiscardTemporary(fd, dir, name);
  if (!tried) return kCareful;

  const std::string link = NewTemporaryName();
  abilities.sets_link_times = false;  // also where no link can be made at all
  if (symlinkat((link + "/none").c_str(), dir, link.c_str()) == 0) {
    struct stat ls;
    abilities.sets_link_times = utimensat(dir, link.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0 &&
                                fstatat(dir, link.c_str(), &ls, AT_SYMLINK_NOFOLLOW) == 0 &&
                                S_ISLNK(ls.st_mode) && ls.st_mtim.tv_sec == kProbeSeconds;
    unlinkat(dir, link.c_str(), 0);
  }
  return abilities;
}

// Modes are given at once; only a refusal asks what the volume keeps, so
// that a volume keeping all of them is never probed for a copy.
ErrorCode GiveMode(int fd, uint32_t mode, const std::function<VolumeAbilities()>& volume) {
  if (fchmod(fd, mode & 07777) == 0) return 0;
  const ErrorCode code = errno;
  if (!RefusesModes(code)) return code;
  const uint32_t kept = volume().kept_mode_bits;
  if (kept == 07777) return code;
  struct stat st;
  if (fstat(fd, &st) != 0) return errno;
  const uint32_t wanted = ModeOnVolume(mode, st.st_mode, kept);
  if (wanted == (st.st_mode & 07777)) return 0;
  return fchmod(fd, wanted) == 0 ? 0 : errno;
}

}  // namespace twinmere::posix
